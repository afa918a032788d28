// Finding the window's controls by name and typing into them as a user does.
#pragma once

#include "app/controls.h"
#include "app/main_window.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

template <class T = QWidget>
T* Find(const MainWindow& window, const char* name) {
    auto* widget = window.findChild<T*>(QString::fromUtf8(name));
    if (!widget) qFatal("no control %s", name);
    return widget;
}

// Key events carrying the text: QTest::keyClicks cannot send Chinese.
inline void TypeText(QWidget* widget, const QString& text) {
    for (const QChar ch : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(ch), Qt::NoModifier);
}

// Replaces the whole content the way a paste over a selection does: one change.
inline void SetContent(QWidget* box, const QString& text) {
    if (auto* line = qobject_cast<QLineEdit*>(box))
        line->setText(text);
    else
        qobject_cast<QPlainTextEdit*>(box)->setPlainText(text);
}

// Fills boxes from "name=value" pairs; each value replaces the box's content.
inline void Fill(const MainWindow& window, const QStringList& fields) {
    for (const QString& field : fields) {
        const auto split = field.indexOf(u'=');
        SetContent(Find(window, field.left(split).toUtf8().constData()), field.mid(split + 1));
    }
}
