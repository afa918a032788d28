// The few widgets whose behaviour Qt's stock ones do not give.
#pragma once

#include <QFrame>
#include <QImage>
#include <QList>
#include <QRadioButton>
#include <QWidget>

#include <cstdint>
#include <string>
#include <vector>

class QTabBar;

// A tab control whose page headers run along the bottom and whose pages
// cover it from its top-left corner, so page controls sit at positions
// relative to the tab control itself.
class TabControl : public QWidget {
    Q_OBJECT
public:
    explicit TabControl(QWidget* parent = nullptr);

    // Appends a page; the returned widget is the parent for its controls.
    QWidget* addPage(const QString& title, const QString& objectName);

    QTabBar* tabBar() const { return tabs_; }
    // The selected page, 0 for the first; selecting one shows its controls
    // only, and every control keeps its content. When the focus was on the
    // page hidden, it moves to the first focus stop of the page shown.
    int currentIndex() const;
    void setCurrentIndex(int index);
    // The number of pages.
    int count() const { return pages_.size(); }
    // The widget holding the controls of page `index`.
    QWidget* page(int index) const { return pages_.value(index); }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void showOnly(int index);
    int tabBarHeight() const;

    QTabBar* tabs_;
    QList<QWidget*> pages_;
};

// Holds encoded image bytes exactly as given and shows them stretched to the
// area inside its one-pixel border; bytes that do not decode show nothing.
class PictureBox : public QFrame {
    Q_OBJECT
public:
    explicit PictureBox(QWidget* parent = nullptr);

    // Stores exactly `bytes`, replacing the earlier picture, and shows them
    // when they decode as an image; empty bytes leave the box empty.
    void setPicture(std::vector<std::uint8_t> bytes);
    // The stored bytes, unchanged, whatever the box's size.
    const std::vector<std::uint8_t>& picture() const { return bytes_; }
    // The decoded picture; null when the bytes are no readable image.
    const QImage& shownImage() const { return image_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<std::uint8_t> bytes_;
    QImage image_;
};

// A radio box that takes clicks on its whole rectangle, so where boxes
// overlap the one lying on top wins, and whose arrow keys step through the
// boxes of its container in creation order, wrapping at either end.
class RadioBox : public QRadioButton {
    Q_OBJECT
public:
    using QRadioButton::QRadioButton;

protected:
    bool hitButton(const QPoint& pos) const override;
    void keyPressEvent(QKeyEvent* event) override;
};

// Whether Tab may stop on `widget`: edit boxes, push buttons and every radio
// box (Qt itself lets only one radio box of a group take Tab focus).
bool IsFocusStop(const QWidget& widget);

// The first focus stop inside `container` in focus order; nullptr if none.
QWidget* FirstFocusStop(QWidget& container);

// A multi-line box's raw text with its paragraph and line separators as
// CR LF, the line break the handlers expect; everything else unchanged.
QString WithCrLfLineBreaks(QString raw);

// The content of a single- or multi-line edit box as UTF-8, line breaks of a
// multi-line box as CR LF; "" for any other widget.
std::string EditBoxText(const QWidget* box);
