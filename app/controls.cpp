#include "app/controls.h"

#include "save/save.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QTabBar>
#include <QTextDocument>

#include <algorithm>

TabControl::TabControl(QWidget* parent) : QWidget(parent), tabs_(new QTabBar(this)) {
    tabs_->setShape(QTabBar::RoundedSouth);
    tabs_->setExpanding(false);
    tabs_->setDrawBase(false);
    // Page headers are no focus stops: Tab goes from field to field.
    tabs_->setFocusPolicy(Qt::NoFocus);
    connect(tabs_, &QTabBar::currentChanged, this, &TabControl::showOnly);
}

QWidget* TabControl::addPage(const QString& title, const QString& objectName) {
    auto* page = new QWidget(this);
    page->setObjectName(objectName);
    pages_.append(page);
    tabs_->addTab(title);
    tabs_->raise();
    showOnly(tabs_->currentIndex());
    return page;
}

int TabControl::currentIndex() const {
    return tabs_->currentIndex();
}

void TabControl::setCurrentIndex(int index) {
    tabs_->setCurrentIndex(index);
}

void TabControl::showOnly(int index) {
    // Qt would hand the focus of a hidden page on down the focus chain, into
    // the save group, where the user's next keys would change the picture size.
    QWidget* focus = QApplication::focusWidget();
    const bool focusOnHiddenPage = focus && std::any_of(pages_.cbegin(), pages_.cend(), [&](QWidget* page) {
                                       return page != pages_.value(index) && page->isAncestorOf(focus);
                                   });
    if (QWidget* shown = pages_.value(index)) shown->setVisible(true);
    for (int i = 0; i < pages_.size(); ++i) {
        if (i != index) pages_[i]->setVisible(false);
    }
    if (focusOnHiddenPage) {
        if (QWidget* first = FirstFocusStop(*pages_[index])) first->setFocus(Qt::TabFocusReason);
    }
}

int TabControl::tabBarHeight() const {
    return tabs_->sizeHint().height();
}

void TabControl::resizeEvent(QResizeEvent*) {
    const int barHeight = tabBarHeight();
    tabs_->setGeometry(2, height() - barHeight, qMin(tabs_->sizeHint().width(), width() - 4), barHeight);
    for (QWidget* page : pages_)
        page->setGeometry(0, 0, width(), height() - barHeight);
}

void TabControl::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionTabWidgetFrame frame;
    frame.initFrom(this);
    frame.shape = QTabBar::RoundedSouth;
    frame.tabBarSize = tabs_->sizeHint();
    frame.rect = QRect(0, 0, width(), height() - tabBarHeight() + 1);
    painter.drawPrimitive(QStyle::PE_FrameTabWidget, frame);
}

namespace {

// Screen readers hear the picture box as an image and learn from its
// description whether a QR code is shown; its name is its accessibleName.
class AccessiblePictureBox : public QAccessibleWidget {
public:
    explicit AccessiblePictureBox(PictureBox* box) : QAccessibleWidget(box, QAccessible::Graphic) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Description) {
            return static_cast<const PictureBox*>(widget())->shownImage().isNull() ? QStringLiteral("没有图片")
                                                                                   : QStringLiteral("显示二维码图片");
        }
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* AccessibleFor(const QString& className, QObject* object) {
    if (className == QLatin1String("PictureBox")) return new AccessiblePictureBox(static_cast<PictureBox*>(object));
    return nullptr;
}

}  // namespace

PictureBox::PictureBox(QWidget* parent) : QFrame(parent) {
    static const bool factoryInstalled = (QAccessible::installFactory(AccessibleFor), true);
    Q_UNUSED(factoryInstalled);
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
}

void PictureBox::setPicture(std::vector<std::uint8_t> bytes) {
    bytes_ = std::move(bytes);
    image_ = QImage();
    if (auto decoded = save::DecodeImage(bytes_)) {
        image_ = QImage(decoded->rgb.data(), decoded->width, decoded->height, 3 * decoded->width, QImage::Format_RGB888)
                     .copy();
    }
    update();
    QAccessibleEvent changed(this, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&changed);
}

void PictureBox::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    if (image_.isNull()) return;
    QPainter painter(this);
    // Nearest-neighbour stretching keeps the modules' edges sharp.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(contentsRect(), image_);
}

bool RadioBox::hitButton(const QPoint& pos) const {
    return rect().contains(pos);
}

void RadioBox::keyPressEvent(QKeyEvent* event) {
    int step = 0;
    switch (event->key()) {
    case Qt::Key_Right:
    case Qt::Key_Down: step = 1; break;
    case Qt::Key_Left:
    case Qt::Key_Up: step = -1; break;
    default: QRadioButton::keyPressEvent(event); return;
    }
    const QList<RadioBox*> group = parentWidget()->findChildren<RadioBox*>(Qt::FindDirectChildrenOnly);
    const auto count = group.size();
    RadioBox* next = group[(group.indexOf(this) + step + count) % count];
    next->setFocus(Qt::TabFocusReason);
    next->click();
}

bool IsFocusStop(const QWidget& widget) {
    return ((widget.focusPolicy() & Qt::TabFocus) || qobject_cast<const RadioBox*>(&widget)) && widget.isEnabled() &&
           !widget.focusProxy();
}

QWidget* FirstFocusStop(QWidget& container) {
    for (QWidget* w = container.nextInFocusChain(); w != &container; w = w->nextInFocusChain()) {
        if (container.isAncestorOf(w) && IsFocusStop(*w) && w->isVisibleTo(&container)) return w;
    }
    return nullptr;
}

QString WithCrLfLineBreaks(QString raw) {
    raw.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
    raw.replace(QChar::LineSeparator, QStringLiteral("\r\n"));
    return raw;
}

std::string EditBoxText(const QWidget* box) {
    if (const auto* line = qobject_cast<const QLineEdit*>(box)) return line->text().toStdString();
    // Raw text, not plain text: plain text would turn non-breaking spaces
    // into spaces and so change the payload.
    if (const auto* multi = qobject_cast<const QPlainTextEdit*>(box))
        return WithCrLfLineBreaks(multi->document()->toRawText()).toStdString();
    return {};
}
