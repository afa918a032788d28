#include "app/controls.h"

#include "save/save.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QTabBar>
#include <QTextDocument>

TabControl::TabControl(QWidget* parent)
    : QWidget(parent), tabs_(new QTabBar(this))
{
    tabs_->setShape(QTabBar::RoundedSouth);
    tabs_->setExpanding(false);
    tabs_->setDrawBase(false);
    // Page headers are no focus stops: Tab goes from field to field.
    tabs_->setFocusPolicy(Qt::NoFocus);
    connect(tabs_, &QTabBar::currentChanged, this, &TabControl::showOnly);
}

QWidget* TabControl::addPage(const QString& title, const QString& objectName)
{
    auto* page = new QWidget(this);
    page->setObjectName(objectName);
    pages_.append(page);
    tabs_->addTab(title);
    tabs_->raise();
    showOnly(tabs_->currentIndex());
    return page;
}

int TabControl::currentIndex() const
{
    return tabs_->currentIndex();
}

void TabControl::setCurrentIndex(int index)
{
    tabs_->setCurrentIndex(index);
}

void TabControl::showOnly(int index)
{
    for (int i = 0; i < pages_.size(); ++i)
        pages_[i]->setVisible(i == index);
}

int TabControl::tabBarHeight() const
{
    return tabs_->sizeHint().height();
}

void TabControl::resizeEvent(QResizeEvent*)
{
    const int barHeight = tabBarHeight();
    tabs_->setGeometry(2, height() - barHeight, qMin(tabs_->sizeHint().width(), width() - 4), barHeight);
    for (QWidget* page : pages_)
        page->setGeometry(0, 0, width(), height() - barHeight);
}

void TabControl::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionTabWidgetFrame frame;
    frame.initFrom(this);
    frame.shape = QTabBar::RoundedSouth;
    frame.tabBarSize = tabs_->sizeHint();
    frame.rect = QRect(0, 0, width(), height() - tabBarHeight() + 1);
    painter.drawPrimitive(QStyle::PE_FrameTabWidget, frame);
}

PictureBox::PictureBox(QWidget* parent)
    : QFrame(parent)
{
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
}

void PictureBox::setPicture(std::vector<std::uint8_t> bytes)
{
    bytes_ = std::move(bytes);
    image_ = QImage();
    if (auto decoded = save::DecodeImage(bytes_)) {
        image_ = QImage(decoded->rgb.data(), decoded->width, decoded->height, 3 * decoded->width,
                        QImage::Format_RGB888)
                     .copy();
    }
    update();
}

void PictureBox::paintEvent(QPaintEvent* event)
{
    QFrame::paintEvent(event);
    if (image_.isNull())
        return;
    QPainter painter(this);
    // Nearest-neighbour stretching keeps the modules' edges sharp.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(contentsRect(), image_);
}

bool RadioBox::hitButton(const QPoint& pos) const
{
    return rect().contains(pos);
}

void RadioBox::keyPressEvent(QKeyEvent* event)
{
    int step = 0;
    switch (event->key()) {
    case Qt::Key_Right:
    case Qt::Key_Down:
        step = 1;
        break;
    case Qt::Key_Left:
    case Qt::Key_Up:
        step = -1;
        break;
    default:
        QRadioButton::keyPressEvent(event);
        return;
    }
    const QList<RadioBox*> group = parentWidget()->findChildren<RadioBox*>(Qt::FindDirectChildrenOnly);
    const auto count = group.size();
    RadioBox* next = group[(group.indexOf(this) + step + count) % count];
    next->setFocus(Qt::TabFocusReason);
    next->click();
}

QString WithCrLfLineBreaks(QString raw)
{
    raw.replace(QChar::ParagraphSeparator, QStringLiteral("\r\n"));
    raw.replace(QChar::LineSeparator, QStringLiteral("\r\n"));
    return raw;
}

std::string EditBoxText(const QWidget* box)
{
    if (const auto* line = qobject_cast<const QLineEdit*>(box))
        return line->text().toStdString();
    // Raw text, not plain text: plain text would turn non-breaking spaces
    // into spaces and so change the payload.
    if (const auto* multi = qobject_cast<const QPlainTextEdit*>(box))
        return WithCrLfLineBreaks(multi->document()->toRawText()).toStdString();
    return {};
}
