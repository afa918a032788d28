#include "app/main_window.h"

#include "app/control_table.h"
#include "app/controls.h"
#include "app/desktop_fit.h"
#include "app/length_counter.h"
#include "app/picture_check.h"
#include "app/picture_export.h"
#include "save/save.h"

#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

#include <variant>

namespace {

// The colours of the classic desktop the window was drawn for.
const QColor kWindowBackground(192, 192, 192);
const QColor kRed(255, 0, 0);

// While a fetch blocks the window: the wait cursor, and afterwards the clicks
// and keys given meanwhile are dropped, so an impatient user's repeated
// clicks on a stalled service do not each start another fetch.
class BusyWhileFetching : public QObject {
public:
    BusyWhileFetching() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~BusyWhileFetching() override {
        QCoreApplication::instance()->installEventFilter(this);
        QCoreApplication::processEvents();
        QCoreApplication::instance()->removeEventFilter(this);
        QGuiApplication::restoreOverrideCursor();
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Wheel:
        case QEvent::InputMethod:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd: return true;
        default: return false;
        }
    }
};

void fillWith(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void setTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

// Black on white, read-only boxes included.
void makeEditColours(QWidget* edit) {
    QPalette palette = edit->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Base, Qt::white);
        palette.setColor(group, QPalette::Text, Qt::black);
    }
    edit->setPalette(palette);
}

QWidget* createControl(const ControlRow& row, QWidget* parent, const QColor& buttonFace) {
    const QString text = QString::fromUtf8(row.text);
    switch (row.kind) {
    case ControlKind::GroupBox: {
        auto* box = new QGroupBox(text, parent);
        fillWith(box, buttonFace);
        return box;
    }
    case ControlKind::TabControl: {
        auto* tabs = new TabControl(parent);
        fillWith(tabs, buttonFace);
        return tabs;
    }
    case ControlKind::TabPage: return static_cast<TabControl*>(parent)->addPage(text, QString::fromUtf8(row.name));
    case ControlKind::PictureBox: return new PictureBox(parent);
    case ControlKind::Label:
    case ControlKind::RedLabel: {
        auto* label = new QLabel(text, parent);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(false);
        fillWith(label, buttonFace);
        setTextColour(label, row.kind == ControlKind::RedLabel ? kRed : QColor(Qt::black));
        return label;
    }
    case ControlKind::LineEdit:
    case ControlKind::ReadOnlyLineEdit: {
        auto* edit = new QLineEdit(text, parent);
        edit->setReadOnly(row.kind == ControlKind::ReadOnlyLineEdit);
        makeEditColours(edit);
        return edit;
    }
    case ControlKind::MultiLineEdit: {
        auto* edit = new QPlainTextEdit(text, parent);
        edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        // Tab moves between fields, as everywhere else in the window.
        edit->setTabChangesFocus(true);
        makeEditColours(edit);
        return edit;
    }
    case ControlKind::PushButton: {
        auto* button = new QPushButton(text, parent);
        // No default button: Enter clicks nothing.
        button->setAutoDefault(false);
        button->setDefault(false);
        return button;
    }
    case ControlKind::RadioBox: {
        auto* radio = new RadioBox(text, parent);
        fillWith(radio, buttonFace);
        return radio;
    }
    }
    return nullptr;
}

}  // namespace

MainWindow::MainWindow(Platform& platform, qr::ServiceOptions service)
    : platform_(platform),
      service_(std::move(service)),
      onWayland_(QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
    setObjectName(QStringLiteral("主窗口"));
    setWindowTitle(QStringLiteral("二维码生成器ByVelkrand"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kClientWidth, kClientHeight);
    // A Wayland compositor may impose its maximized size, which Qt 6.4 must
    // then take or die of a protocol error: there the window only has a
    // minimum size and goes back to its own after the state is undone.
    if (onWayland_) setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    // The colours and pixel positions were drawn for a light desktop and a
    // 12-pixel font: a dark theme's colours or a larger desktop font would
    // leave black captions on dark faces and cut captions.
    setPalette(ClassicPalette());
    setFont(LayoutFont(QApplication::font()));
    fillWith(this, kWindowBackground);

    buildControls();
    QStyle* style = CreatePaletteStyle();
    style->setParent(this);
    setStyle(style);
    for (QWidget* child : findChildren<QWidget*>())
        child->setStyle(style);
    wireEvents();
    // Page keys work from every control, also those that take Ctrl+Tab
    // themselves, so they are seen before any control gets them.
    qApp->installEventFilter(this);
    // The window's created event: the caption only, the colour stays black.
    UpdateLengthCounter();
}

void MainWindow::buildControls() {
    const QColor buttonFace = palette().color(QPalette::Button);
    const ControlRow* previous = nullptr;
    QString pageTitle;
    for (const ControlRow& row : ControlTable()) {
        const QString container = QString::fromUtf8(row.container);
        QWidget* parent = container.isEmpty() ? this : controls_.value(container);
        Q_ASSERT(parent);
        QWidget* widget = createControl(row, parent, buttonFace);
        widget->setObjectName(QString::fromUtf8(row.name));
        if (row.kind != ControlKind::TabPage) widget->setGeometry(row.x, row.y, row.width, row.height);
        controls_.insert(widget->objectName(), widget);

        // Screen readers name each box as a sighted user reads it: by the
        // label in front of it, a multi-line box by what its page is for.
        if (row.kind == ControlKind::TabPage)
            pageTitle = QString::fromUtf8(row.text);
        else if (row.kind == ControlKind::MultiLineEdit)
            widget->setAccessibleName(pageTitle + QStringLiteral("内容"));
        else if ((row.kind == ControlKind::LineEdit || row.kind == ControlKind::ReadOnlyLineEdit) && previous &&
                 previous->kind == ControlKind::Label)
            widget->setAccessibleName(AccessibleNameFromCaption(QString::fromUtf8(previous->text)));
        else if (row.kind == ControlKind::PictureBox)
            widget->setAccessibleName(static_cast<QGroupBox*>(parent)->title());
        previous = &row;
    }
    control<TabControl>("选择夹1")->setCurrentIndex(0);
    picture_ = control<PictureBox>("图片框1");
    counter_ = control<QLabel>("标签1");
}

void MainWindow::wireEvents() {
    connect(control<QPlainTextEdit>("编辑框_文本"), &QPlainTextEdit::textChanged, this, &MainWindow::onTextEdited);
    connect(control<QPushButton>("按钮1"), &QPushButton::clicked, this, &MainWindow::GenerateTextQr);
    connect(control<QPushButton>("按钮2"), &QPushButton::clicked, this, &MainWindow::GenerateCardQr);
    connect(control<QPushButton>("按钮3"), &QPushButton::clicked, this, &MainWindow::GenerateUrlQr);
    connect(control<QPushButton>("按钮4"), &QPushButton::clicked, this, &MainWindow::GenerateSmsQr);
    connect(control<QPushButton>("按钮5"), &QPushButton::clicked, this, &MainWindow::GenerateWifiQr);
    for (const auto& [name, format] : {std::pair{"单选框1", "jpg"}, {"单选框2", "png"}, {"单选框3", "bmp"}}) {
        auto* radio = control<RadioBox>(name);
        connect(radio, &QAbstractButton::clicked, this,
                [this, radio, format = std::string(format)] { SelectSaveFormat(*radio, format); });
    }
    connect(control<QPushButton>("按钮6"), &QPushButton::clicked, this, &MainWindow::ChooseSaveFolder);
    connect(control<QLineEdit>("编辑框1"), &QLineEdit::textChanged, this, &MainWindow::MirrorPictureSize);
    connect(control<QPushButton>("按钮7"), &QPushButton::clicked, this, &MainWindow::SaveQrImage);
    // Copy and drag out the picture as a save at the size boxes' size would write it.
    new PictureExport(
        picture_, [this] { return save::PictureToSave(picture_->picture(), text("编辑框1"), text("编辑框2")); },
        [this] { return platform_.now(); });
}

// Qt strips Tab focus from all but one radio box of a group; here every
// radio box is a focus stop of its own, like every edit box and button.
bool MainWindow::focusNextPrevChild(bool next) {
    QWidget* start = focusWidget() ? focusWidget() : this;
    for (QWidget* w = start;;) {
        w = next ? w->nextInFocusChain() : w->previousInFocusChain();
        if (w == start) return false;
        if (w != this && isAncestorOf(w) && IsFocusStop(*w) && w->isVisibleTo(this)) {
            w->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType() ||
        static_cast<QWidget*>(watched)->window() != this)
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    const int step = PageStepForKey(key->key(), key->modifiers());
    if (step == 0) return false;
    auto* tabs = control<TabControl>("选择夹1");
    tabs->setCurrentIndex(WrappedPage(tabs->currentIndex(), step, tabs->count()));
    if (QWidget* first = FirstFocusStop(*tabs->page(tabs->currentIndex()))) first->setFocus(Qt::TabFocusReason);
    return true;
}

// The layout is fixed: a maximize or fullscreen request from the window
// manager, its title bar or its keys is undone, only minimizing is kept.
void MainWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && !onWayland_) leaveRefusedState();
}

// Under Wayland the window first takes the compositor's maximized size:
// answering that configure with another size is a protocol error.
void MainWindow::resizeEvent(QResizeEvent*) {
    if (onWayland_) QTimer::singleShot(0, this, &MainWindow::leaveRefusedState);
}

void MainWindow::leaveRefusedState() {
    if (!(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))) return;
    setWindowState(windowState() & Qt::WindowMinimized);
    // A compositor confirms the normal state a round trip later; only then
    // may the window take its own size again.
    QTimer::singleShot(onWayland_ ? 300 : 0, this, [this] { resize(kClientWidth, kClientHeight); });
}

template <class T>
T* MainWindow::control(const char* name) const {
    auto* widget = qobject_cast<T*>(controls_.value(QString::fromUtf8(name)));
    Q_ASSERT(widget);
    return widget;
}

std::string MainWindow::text(const char* name) const {
    return EditBoxText(controls_.value(QString::fromUtf8(name)));
}

std::size_t MainWindow::UpdateLengthCounter() {
    const std::size_t bytes = CountCodePageBytes(text("编辑框_文本"));
    counter_->setText(QString::fromStdString(LengthCounterCaption(bytes)));
    // Screen readers announce the count with the box it counts.
    controls_.value(QStringLiteral("编辑框_文本"))->setAccessibleDescription(counter_->text());
    return bytes;
}

void MainWindow::onTextEdited() {
    switch (CounterColourFor(UpdateLengthCounter())) {
    case CounterColour::Red: setTextColour(counter_, kRed); break;
    case CounterColour::Black: setTextColour(counter_, Qt::black); break;
    case CounterColour::Unchanged: break;
    }
}

void MainWindow::run(const qr::PageOutcome& outcome) {
    if (const auto* refusal = std::get_if<qr::Refusal>(&outcome)) {
        platform_.messageBox(refusal->message, msgbox::kStopIcon, refusal->title);
        return;
    }
    const auto& request = std::get<qr::QrRequest>(outcome);
    ShowQrImage(qr::RequestPrefix(request.kind, service_.baseAddress), request.encodedPayload);
}

void MainWindow::GenerateTextQr() {
    run(qr::PlanTextQr(text("编辑框_文本")));
}

void MainWindow::GenerateCardQr() {
    run(qr::PlanCardQr({
        .name = text("编辑框_姓名"),
        .mobile = text("编辑框_手机"),
        .qq = text("编辑框_QQ"),
        .wechat = text("编辑框_微信"),
        .email = text("编辑框_邮箱"),
        .jobTitle = text("编辑框_职位"),
        .employer = text("编辑框_单位"),
        .address = text("编辑框_联系地址"),
        .website = text("编辑框_网址"),
    }));
}

void MainWindow::GenerateUrlQr() {
    run(qr::PlanUrlQr(text("编辑框_网址_")));
}

void MainWindow::GenerateSmsQr() {
    run(qr::PlanSmsQr(text("编辑框_电话号码"), text("编辑框_短信内容")));
}

void MainWindow::GenerateWifiQr() {
    run(qr::PlanWifiQr(text("编辑框_网络名称"), text("编辑框_密码")));
}

void MainWindow::ShowQrImage(const std::string& prefix, const std::string& encodedPayload) {
    qr::FetchResult fetched;
    {
        // The fetch runs on this thread: the window takes no input meanwhile.
        const BusyWhileFetching busy;
        fetched = qr::FetchFromService(service_, prefix + encodedPayload);
    }
    picture_->setPicture(std::move(fetched.body));
    shownPayload_ = qr::RequestedText(prefix + encodedPayload);
    // An error page stays stored as the picture but shows nothing, so the
    // user hears of it just as of an empty answer.
    if (picture_->shownImage().isNull())
        platform_.messageBox(qr::GenerateFailedMessage(fetched.failure), msgbox::kStopIcon,
                             std::string(msgbox::kErrorTitle));
    // The service is trusted no further than its picture reads back.
    else if (!ShowsPayload(picture_->shownImage(), shownPayload_))
        platform_.messageBox(std::string(qr::kPictureMismatchMessage), msgbox::kStopIcon,
                             std::string(msgbox::kErrorTitle));
}

void MainWindow::SelectSaveFormat(const QAbstractButton& clicked, const std::string& format) {
    if (clicked.isChecked()) saveFormat_ = format;
}

void MainWindow::ChooseSaveFolder() {
    saveFolder_ = platform_.pickFolder("选择文件夹：");
    control<QLineEdit>("编辑框3")->setText(QFile::decodeName(QByteArray::fromStdString(saveFolder_)));
}

void MainWindow::MirrorPictureSize() {
    control<QLineEdit>("编辑框2")->setText(control<QLineEdit>("编辑框1")->text());
}

void MainWindow::SaveQrImage() {
    const save::SaveRequest request{
        .picture = picture_->picture(),
        .widthText = text("编辑框1"),
        .heightText = text("编辑框2"),
        .folder = saveFolder_,
        .format = saveFormat_,
    };
    const save::SaveOutcome outcome = save::SavePicture(request, [this] { return platform_.now(); });
    std::string message = outcome.message.text;
    if (!outcome.savedPath.empty()) message += UnreadableSaveNote(outcome.savedPath, shownPayload_, request.picture);
    platform_.messageBox(message, outcome.message.flags, outcome.message.title);
}
