// The window as the user meets it: controls, layout, keys and the counter.
#include "support/fake_platform.h"
#include "window_driver.h"

#include "app/app_icon.h"
#include "app/desktop_fit.h"
#include "app/startup.h"

#include <QAccessible>
#include <QBuffer>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabBar>
#include <QtTest>

#include <algorithm>

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void controlTable_data();
    void controlTable();
    void windowFrame();
    void startUp();
    void tabControl();
    void pageChangesKeepContent();
    void multiLineBoxes();
    void lineBreaks_data();
    void lineBreaks();
    void readOnlyBoxesRefuseTyping_data();
    void readOnlyBoxesRefuseTyping();
    void passwordShownPlain();
    void focusOrder();
    void pageKeys_data();
    void pageKeys();
    void headerClickMovesFocus_data();
    void headerClickMovesFocus();
    void accessibleEditNames_data();
    void accessibleEditNames();
    void accessiblePictureAndCounter();
    void fixedSizeRefusesStates_data();
    void fixedSizeRefusesStates();
    void centredFramePosition_data();
    void centredFramePosition();
    void radioBoxes();
    void radioOverlapGoesToTopBox();
    void radioArrowKeysWrap_data();
    void radioArrowKeysWrap();
    void folderPicker_data();
    void folderPicker();
    void widthMirroredToHeight();
    void counterAtStart();
    void counterSequence_data();
    void counterSequence();
    void escapeDoesNotClose();
    void chineseFontInstalled();

private:
    FakePlatform platform_;
    MainWindow* window_ = nullptr;
};

void TestMainWindow::init() {
    platform_ = FakePlatform();
    window_ = new MainWindow(platform_);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_));
}

void TestMainWindow::cleanup() {
    delete window_;
    window_ = nullptr;
}

void TestMainWindow::controlTable_data() {
    // clang-format off
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");

    struct Row {
        const char *name, *container, *kind;
        int x, y, w, h;
        const char* text;
    };
    // Page controls are placed relative to the tab control 选择夹1.
    const Row rows[] = {
        {"分组框1", "", "QGroupBox", 0, 0, 216, 224, "生成的二维码"},
        {"选择夹1", "", "TabControl", 216, 7, 384, 216, ""},
        {"分组框2", "", "QGroupBox", 0, 224, 304, 100, "保存设置"},
        {"分组框3", "", "QGroupBox", 304, 224, 296, 100, "这里随便加点什么"},
        {"图片框1", "分组框1", "PictureBox", 8, 16, 200, 200, ""},
        {"标签17", "分组框2", "QLabel", 8, 16, 80, 24, "图片宽："},
        {"编辑框1", "分组框2", "QLineEdit", 56, 16, 96, 24, "300"},
        {"标签18", "分组框2", "QLabel", 152, 16, 80, 24, "图片高："},
        {"编辑框2", "分组框2", "QLineEdit/ro", 200, 16, 96, 24, "300"},
        {"标签19", "分组框2", "QLabel", 8, 40, 80, 24, "格式："},
        {"单选框1", "分组框2", "RadioBox", 40, 40, 80, 24, "jpg"},
        {"单选框2", "分组框2", "RadioBox", 88, 40, 80, 24, "png"},
        {"单选框3", "分组框2", "RadioBox", 136, 40, 80, 24, "bmp"},
        {"标签20", "分组框2", "QLabel", 8, 64, 80, 24, "保存目录："},
        {"编辑框3", "分组框2", "QLineEdit/ro", 64, 64, 120, 24, ""},
        {"按钮6", "分组框2", "QPushButton", 184, 64, 48, 24, "选择"},
        {"按钮7", "分组框2", "QPushButton", 240, 64, 48, 24, "保存"},
        {"编辑框_文本", "选择夹1", "QPlainTextEdit", 8, 9, 368, 144,
         "文本长度限制600，建议在300以内，这样低配机也能扫描！"},
        {"标签1", "选择夹1", "QLabel", 9, 153, 344, 24, "文本长度：52/600"},
        {"按钮1", "选择夹1", "QPushButton", 304, 157, 72, 32, "生成二维码"},
        {"标签2", "选择夹1", "QLabel", 16, 9, 80, 24, "姓名："},
        {"编辑框_姓名", "选择夹1", "QLineEdit", 48, 9, 128, 24, ""},
        {"标签3", "选择夹1", "QLabel", 16, 33, 80, 24, "手机："},
        {"编辑框_手机", "选择夹1", "QLineEdit", 48, 33, 128, 24, ""},
        {"标签4", "选择夹1", "QLabel", 28, 57, 80, 24, "QQ："},
        {"编辑框_QQ", "选择夹1", "QLineEdit", 48, 57, 128, 24, ""},
        {"标签5", "选择夹1", "QLabel", 16, 81, 80, 24, "微信："},
        {"编辑框_微信", "选择夹1", "QLineEdit", 48, 80, 128, 24, ""},
        {"标签6", "选择夹1", "QLabel", 16, 105, 80, 24, "邮箱："},
        {"编辑框_邮箱", "选择夹1", "QLineEdit", 48, 105, 128, 24, ""},
        {"标签7", "选择夹1", "QLabel", 16, 129, 80, 24, "职位："},
        {"编辑框_职位", "选择夹1", "QLineEdit", 48, 128, 128, 24, ""},
        {"标签8", "选择夹1", "QLabel", 16, 153, 80, 24, "单位："},
        {"编辑框_单位", "选择夹1", "QLineEdit", 48, 153, 128, 24, ""},
        {"标签9", "选择夹1", "QLabel", 176, 9, 80, 24, "联系地址："},
        {"编辑框_联系地址", "选择夹1", "QLineEdit", 232, 9, 144, 24, ""},
        {"标签10", "选择夹1", "QLabel", 200, 33, 80, 24, "网址："},
        {"编辑框_网址", "选择夹1", "QLineEdit", 232, 32, 144, 24, ""},
        {"标签11", "选择夹1", "QLabel", 176, 153, 200, 24, "如果没有的话请填“无”"},
        {"按钮2", "选择夹1", "QPushButton", 312, 153, 64, 32, "生成二维码"},
        {"标签12", "选择夹1", "QLabel", 8, 9, 80, 24, "请输入网址："},
        {"编辑框_网址_", "选择夹1", "QLineEdit", 80, 9, 296, 24, "https://www.example.com/"},
        {"按钮3", "选择夹1", "QPushButton", 296, 157, 80, 32, "生成二维码"},
        {"标签13", "选择夹1", "QLabel", 8, 1, 88, 24, "请输入短信内容："},
        {"编辑框_短信内容", "选择夹1", "QPlainTextEdit", 8, 25, 368, 128, ""},
        {"标签14", "选择夹1", "QLabel", 8, 153, 96, 24, "电话号码： +86"},
        {"编辑框_电话号码", "选择夹1", "QLineEdit", 96, 153, 144, 24, ""},
        {"按钮4", "选择夹1", "QPushButton", 296, 153, 80, 32, "生成二维码"},
        {"标签15", "选择夹1", "QLabel", 8, 9, 80, 24, "网络名称："},
        {"编辑框_网络名称", "选择夹1", "QLineEdit", 64, 9, 312, 24, ""},
        {"标签16", "选择夹1", "QLabel", 32, 33, 80, 24, "密码："},
        {"编辑框_密码", "选择夹1", "QLineEdit", 64, 33, 312, 24, "如果没有密码请输入“无”"},
        {"按钮5", "选择夹1", "QPushButton", 304, 157, 72, 32, "生成二维码"},
    };
    for (const Row& row : rows)
        QTest::newRow(row.name) << QString::fromUtf8(row.container) << QString::fromUtf8(row.kind)
                                << QRect(row.x, row.y, row.w, row.h) << QString::fromUtf8(row.text);
    // clang-format on
}

// The shown text of a control, whatever its kind.
static QString shownText(QWidget* widget) {
    if (auto* box = qobject_cast<QGroupBox*>(widget)) return box->title();
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
    if (auto* line = qobject_cast<QLineEdit*>(widget)) return line->text();
    if (auto* multi = qobject_cast<QPlainTextEdit*>(widget)) return multi->toPlainText();
    return {};
}

void TestMainWindow::controlTable() {
    QFETCH(QString, container);
    QFETCH(QString, kind);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);

    auto* widget = Find(*window_, QTest::currentDataTag());
    QWidget* reference = container.isEmpty() ? window_ : Find(*window_, container.toUtf8().constData());
    QVERIFY(reference->isAncestorOf(widget));
    if (container != QStringLiteral("选择夹1")) QCOMPARE(widget->parentWidget(), reference);
    QCOMPARE(QRect(widget->mapTo(reference, QPoint(0, 0)), widget->size()), geometry);

    const QStringList kindAndFlag = kind.split(u'/');
    QVERIFY2(widget->inherits(kindAndFlag[0].toLatin1().constData()), widget->metaObject()->className());
    if (auto* line = qobject_cast<QLineEdit*>(widget)) {
        QCOMPARE(line->isReadOnly(), kindAndFlag.size() > 1);
        QCOMPARE(line->echoMode(), QLineEdit::Normal);
    }
    QCOMPARE(shownText(widget), text);

    if (qobject_cast<QLabel*>(widget)) {
        QVERIFY(widget->autoFillBackground());
        QCOMPARE(widget->palette().color(QPalette::Window), window_->palette().color(QPalette::Button));
        const QColor expected = widget->objectName() == QStringLiteral("标签11") ? QColor(255, 0, 0) : QColor(0, 0, 0);
        QCOMPARE(widget->palette().color(QPalette::WindowText), expected);
        QCOMPARE(widget->focusPolicy(), Qt::NoFocus);
    }
}

void TestMainWindow::windowFrame() {
    QCOMPARE(window_->windowTitle(), QStringLiteral("二维码生成器ByVelkrand"));
    QCOMPARE(window_->size(), QSize(600, 324));
    QCOMPARE(window_->minimumSize(), QSize(600, 324));
    QCOMPARE(window_->maximumSize(), QSize(600, 324));
    const Qt::WindowFlags flags = window_->windowFlags();
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(window_->autoFillBackground());
    QCOMPARE(window_->palette().color(QPalette::Window), QColor(192, 192, 192));
    // The picture box holds nothing and shows its group's colour through.
    auto* picture = Find<PictureBox>(*window_, "图片框1");
    QVERIFY(picture->picture().empty());
    QVERIFY(!picture->autoFillBackground());
    QCOMPARE(picture->frameWidth(), 1);
    QCOMPARE(picture->focusPolicy(), Qt::NoFocus);
}

// What qrgen does around the window: Chinese dialog buttons, its own icon,
// the window centred on the whole primary screen.
void TestMainWindow::startUp() {
    InstallChineseTranslations(*qApp);
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "OK"), QStringLiteral("确定"));
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));

    // Drawn at every size installed for the desktop, none scaled from another.
    const QIcon icon = AppIcon();
    QList<QSize> drawn;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        drawn.append(QSize(size, size));
    QList<QSize> available = icon.availableSizes();
    std::sort(available.begin(), available.end(), [](QSize a, QSize b) { return a.width() < b.width(); });
    QCOMPARE(available, drawn);
    for (int size : {16, 32, 48})
        QCOMPARE(icon.pixmap(size).size(), QSize(size, size));

    // The frame is part of what is centred.
    CentreOnPrimaryScreen(*window_);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QRect outer = window_->frameGeometry();
    QVERIFY(outer.width() >= 600 && outer.height() >= 324);
    QCOMPARE(outer.topLeft(), QPoint((screen.width() - outer.width()) / 2, (screen.height() - outer.height()) / 2));
}

void TestMainWindow::tabControl() {
    auto* tabs = Find<TabControl>(*window_, "选择夹1");
    QTabBar* bar = tabs->tabBar();
    QCOMPARE(bar->count(), 5);
    const QStringList titles{"文本", "名片", "网址", "短信", "wifi"};
    for (int i = 0; i < titles.size(); ++i)
        QCOMPARE(bar->tabText(i), titles[i]);
    QCOMPARE(tabs->currentIndex(), 0);
    QCOMPARE(bar->shape(), QTabBar::RoundedSouth);
    // Headers along the bottom edge, below the lowest page control.
    QCOMPARE(bar->geometry().bottom(), tabs->height() - 1);
    QVERIFY(bar->geometry().top() >= 189);
    QCOMPARE(bar->focusPolicy(), Qt::NoFocus);
    QVERIFY(Find(*window_, "编辑框_文本")->isVisible());
    QVERIFY(!Find(*window_, "编辑框_姓名")->isVisible());

    // A click on a header shows that page's controls only.
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
    QCOMPARE(tabs->currentIndex(), 1);
    QVERIFY(Find(*window_, "编辑框_姓名")->isVisible());
    QVERIFY(!Find(*window_, "编辑框_文本")->isVisible());
}

void TestMainWindow::pageChangesKeepContent() {
    auto* tabs = Find<TabControl>(*window_, "选择夹1");
    tabs->setCurrentIndex(1);
    auto* name = Find<QLineEdit>(*window_, "编辑框_姓名");
    TypeText(name, QStringLiteral("张三 abc"));
    tabs->setCurrentIndex(0);
    tabs->setCurrentIndex(1);
    QCOMPARE(name->text(), QStringLiteral("张三 abc"));
    QVERIFY(Find(*window_, "编辑框_文本")->findChild<QWidget*>() != nullptr);
    QCOMPARE(Find<QPlainTextEdit>(*window_, "编辑框_文本")->toPlainText(),
             QStringLiteral("文本长度限制600，建议在300以内，这样低配机也能扫描！"));
}

void TestMainWindow::multiLineBoxes() {
    for (const char* name : {"编辑框_文本", "编辑框_短信内容"}) {
        auto* box = Find<QPlainTextEdit>(*window_, name);
        QCOMPARE(box->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QCOMPARE(box->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(box->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    }
    // Enter inserts a line break, which the handlers read as CR LF.
    auto* text = Find<QPlainTextEdit>(*window_, "编辑框_文本");
    text->clear();
    TypeText(text, QStringLiteral("a"));
    QTest::keyClick(text, Qt::Key_Return);
    TypeText(text, QStringLiteral("码"));
    QCOMPARE(EditBoxText(text), std::string("a\r\n码"));
}

void TestMainWindow::lineBreaks_data() {
    // clang-format off
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("delivered");
    QTest::newRow("paragraphs") << QStringLiteral("a\u2029b\u2029") << QStringLiteral("a\r\nb\r\n");
    QTest::newRow("shift+enter") << QStringLiteral("a\u2028b") << QStringLiteral("a\r\nb");
    QTest::newRow("no-break space kept") << QStringLiteral("a\u00A0b") << QStringLiteral("a\u00A0b");
    QTest::newRow("empty") << QString() << QString();
    // clang-format on
}

void TestMainWindow::lineBreaks() {
    QFETCH(QString, raw);
    QFETCH(QString, delivered);
    QCOMPARE(WithCrLfLineBreaks(raw), delivered);
}

void TestMainWindow::readOnlyBoxesRefuseTyping_data() {
    // clang-format off
    QTest::addColumn<QString>("name");
    QTest::newRow("height") << QStringLiteral("编辑框2");
    QTest::newRow("folder") << QStringLiteral("编辑框3");
    // clang-format on
}

void TestMainWindow::readOnlyBoxesRefuseTyping() {
    QFETCH(QString, name);
    auto* box = Find<QLineEdit>(*window_, name.toUtf8().constData());
    const QString before = box->text();
    box->setFocus();
    TypeText(box, QStringLiteral("9码"));
    QTest::keyClick(box, Qt::Key_Backspace);
    QCOMPARE(box->text(), before);
    // Still a focus stop whose text can be selected and copied.
    QVERIFY(box->focusPolicy() & Qt::TabFocus);
    QCOMPARE(box->palette().color(QPalette::Base), QColor(Qt::white));
}

void TestMainWindow::passwordShownPlain() {
    Find<TabControl>(*window_, "选择夹1")->setCurrentIndex(4);
    auto* password = Find<QLineEdit>(*window_, "编辑框_密码");
    password->clear();
    TypeText(password, QStringLiteral("secret密码"));
    QCOMPARE(password->displayText(), QStringLiteral("secret密码"));
}

void TestMainWindow::focusOrder() {
    const QStringList saveGroup{"编辑框1", "编辑框2", "单选框1", "单选框2", "单选框3", "编辑框3", "按钮6", "按钮7"};
    const QList<QStringList> pages{
        {"编辑框_文本", "按钮1"},
        {"编辑框_姓名", "编辑框_手机", "编辑框_QQ", "编辑框_微信", "编辑框_邮箱", "编辑框_职位", "编辑框_单位",
         "编辑框_联系地址", "编辑框_网址", "按钮2"},
        {"编辑框_网址_", "按钮3"},
        {"编辑框_短信内容", "编辑框_电话号码", "按钮4"},
        {"编辑框_网络名称", "编辑框_密码", "按钮5"},
    };
    auto* tabs = Find<TabControl>(*window_, "选择夹1");
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_));
    for (int page = 0; page < pages.size(); ++page) {
        tabs->setCurrentIndex(page);
        const QStringList order = pages[page] + saveGroup;
        Find(*window_, order[0].toUtf8().constData())->setFocus(Qt::TabFocusReason);
        for (int step = 1; step <= order.size(); ++step) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), order[step % order.size()]);
        }
        for (int step = order.size() - 1; step >= 0; --step) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
            QCOMPARE(QApplication::focusWidget()->objectName(), order[step]);
        }
    }
}

// Ctrl+Tab and its kin switch pages from any control, wrapping, and put the
// focus on the first focus stop of the page selected.
void TestMainWindow::pageKeys_data() {
    // clang-format off
    QTest::addColumn<int>("startPage");
    QTest::addColumn<QString>("from");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("focus");
    const int ctrl = Qt::ControlModifier;
    const int ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
    QTest::newRow("ctrl+tab in the text box") << 0 << "编辑框_文本" << int(Qt::Key_Tab) << ctrl << 1 << "编辑框_姓名";
    QTest::newRow("ctrl+pagedown") << 0 << "编辑框_文本" << int(Qt::Key_PageDown) << ctrl << 1 << "编辑框_姓名";
    QTest::newRow("ctrl+shift+tab wraps") << 0 << "编辑框_文本" << int(Qt::Key_Backtab) << ctrlShift << 4
                                          << "编辑框_网络名称";
    QTest::newRow("ctrl+shift+tab as tab") << 2 << "编辑框_网址_" << int(Qt::Key_Tab) << ctrlShift << 1
                                           << "编辑框_姓名";
    QTest::newRow("ctrl+pageup wraps") << 0 << "按钮1" << int(Qt::Key_PageUp) << ctrl << 4 << "编辑框_网络名称";
    QTest::newRow("keypad ctrl+pagedown") << 3 << "编辑框_电话号码" << int(Qt::Key_PageDown)
                                          << int(ctrl | Qt::KeypadModifier) << 4 << "编辑框_网络名称";
    QTest::newRow("ctrl+tab wraps") << 4 << "编辑框_密码" << int(Qt::Key_Tab) << ctrl << 0 << "编辑框_文本";
    QTest::newRow("from the SMS body") << 3 << "编辑框_短信内容" << int(Qt::Key_Tab) << ctrl << 4
                                       << "编辑框_网络名称";
    QTest::newRow("from a radio box") << 0 << "单选框2" << int(Qt::Key_Tab) << ctrl << 1 << "编辑框_姓名";
    QTest::newRow("from the width box") << 1 << "编辑框1" << int(Qt::Key_PageUp) << ctrl << 0 << "编辑框_文本";
    QTest::newRow("from a save button") << 2 << "按钮7" << int(Qt::Key_PageDown) << ctrl << 3
                                        << "编辑框_短信内容";
    // clang-format on
}

void TestMainWindow::pageKeys() {
    QFETCH(int, startPage);
    QFETCH(QString, from);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, page);
    QFETCH(QString, focus);
    auto* tabs = Find<TabControl>(*window_, "选择夹1");
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_));
    tabs->setCurrentIndex(startPage);
    QWidget* start = Find(*window_, from.toUtf8().constData());
    start->setFocus(Qt::TabFocusReason);
    const QString before = EditBoxText(start).c_str();

    QTest::keyClick(start, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(tabs->currentIndex(), page);
    QCOMPARE(QApplication::focusWidget()->objectName(), focus);
    // The key only switches pages: no tab character lands in a box.
    QCOMPARE(QString(EditBoxText(start).c_str()), before);
    QCOMPARE(window_->SaveFormat(), std::string());
}

// A click on a page header with the focus on the page being hidden hands the
// focus to the page shown, so typing goes where the user looks.
void TestMainWindow::headerClickMovesFocus_data() {
    // clang-format off
    QTest::addColumn<int>("startPage");
    QTest::addColumn<QString>("from");
    QTest::addColumn<int>("header");
    QTest::addColumn<QString>("focus");
    QTest::newRow("text box to card") << 0 << "编辑框_文本" << 1 << "编辑框_姓名";
    QTest::newRow("generate button to wifi") << 0 << "按钮1" << 4 << "编辑框_网络名称";
    QTest::newRow("wifi to text") << 4 << "编辑框_密码" << 0 << "编辑框_文本";
    QTest::newRow("SMS to URL") << 3 << "按钮4" << 2 << "编辑框_网址_";
    QTest::newRow("save group keeps the focus") << 0 << "编辑框1" << 2 << "编辑框1";
    // clang-format on
}

void TestMainWindow::headerClickMovesFocus() {
    QFETCH(int, startPage);
    QFETCH(QString, from);
    QFETCH(int, header);
    QFETCH(QString, focus);
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_));
    Find<TabControl>(*window_, "选择夹1")->setCurrentIndex(startPage);
    Find(*window_, from.toUtf8().constData())->setFocus(Qt::MouseFocusReason);
    QTabBar* bar = Find<TabControl>(*window_, "选择夹1")->tabBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(header).center());
    QCOMPARE(QApplication::focusWidget()->objectName(), focus);

    TypeText(QApplication::focusWidget(), QStringLiteral("Zhang San"));
    QCOMPARE(Find<QLineEdit>(*window_, "编辑框2")->text(), focus == QStringLiteral("编辑框1") ? "300Zhang San" : "300");
}

void TestMainWindow::accessibleEditNames_data() {
    // clang-format off
    QTest::addColumn<QString>("name");
    const std::pair<const char*, const char*> boxes[] = {
        {"编辑框_文本", "文本内容"}, {"编辑框_姓名", "姓名"}, {"编辑框_手机", "手机"},
        {"编辑框_QQ", "QQ"}, {"编辑框_微信", "微信"}, {"编辑框_邮箱", "邮箱"},
        {"编辑框_职位", "职位"}, {"编辑框_单位", "单位"}, {"编辑框_联系地址", "联系地址"},
        {"编辑框_网址", "网址"}, {"编辑框_网址_", "请输入网址"}, {"编辑框_短信内容", "短信内容"},
        {"编辑框_电话号码", "电话号码 +86"}, {"编辑框_网络名称", "网络名称"}, {"编辑框_密码", "密码"},
        {"编辑框1", "图片宽"}, {"编辑框2", "图片高"}, {"编辑框3", "保存目录"},
        {"单选框1", "jpg"}, {"单选框2", "png"}, {"单选框3", "bmp"},
    };
    for (const auto& [box, name] : boxes)
        QTest::newRow(box) << QString::fromUtf8(name);
    // clang-format on
}

// What a screen reader says when the focus reaches the control.
void TestMainWindow::accessibleEditNames() {
    QFETCH(QString, name);
    QWidget* control = Find(*window_, QTest::currentDataTag());
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
    QVERIFY(accessible);
    QCOMPARE(accessible->text(QAccessible::Name), name);
    const auto role = qobject_cast<QRadioButton*>(control) ? QAccessible::RadioButton : QAccessible::EditableText;
    QCOMPARE(accessible->role(), role);
}

void TestMainWindow::accessiblePictureAndCounter() {
    auto* picture = Find<PictureBox>(*window_, "图片框1");
    QAccessibleInterface* image = QAccessible::queryAccessibleInterface(picture);
    QVERIFY(image);
    QCOMPARE(image->role(), QAccessible::Graphic);
    QCOMPARE(image->text(QAccessible::Name), QStringLiteral("生成的二维码"));
    QCOMPARE(image->text(QAccessible::Description), QStringLiteral("没有图片"));

    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImage(21, 21, QImage::Format_RGB888).save(&buffer, "PNG");
    picture->setPicture({png.cbegin(), png.cend()});
    QCOMPARE(image->text(QAccessible::Description), QStringLiteral("显示二维码图片"));
    picture->setPicture({'<', 'h', 't', 'm', 'l', '>'});
    QCOMPARE(image->text(QAccessible::Description), QStringLiteral("没有图片"));

    // The counter is read with the text box, and follows its content.
    auto* text = Find<QPlainTextEdit>(*window_, "编辑框_文本");
    QAccessibleInterface* box = QAccessible::queryAccessibleInterface(text);
    QCOMPARE(box->text(QAccessible::Description), QStringLiteral("文本长度：52/600"));
    text->moveCursor(QTextCursor::End);
    TypeText(text, QStringLiteral("码"));
    QCOMPARE(box->text(QAccessible::Description), QStringLiteral("文本长度：54/600"));
}

// Maximize and fullscreen requests, whoever sends them, leave the fixed
// window as it was; minimizing stays possible.
void TestMainWindow::fixedSizeRefusesStates_data() {
    // clang-format off
    QTest::addColumn<int>("requested");
    QTest::addColumn<int>("kept");
    QTest::newRow("maximized") << int(Qt::WindowMaximized) << int(Qt::WindowNoState);
    QTest::newRow("fullscreen") << int(Qt::WindowFullScreen) << int(Qt::WindowNoState);
    QTest::newRow("minimized and maximized") << int(Qt::WindowMinimized | Qt::WindowMaximized)
                                             << int(Qt::WindowMinimized);
    QTest::newRow("minimized") << int(Qt::WindowMinimized) << int(Qt::WindowMinimized);
    // clang-format on
}

void TestMainWindow::fixedSizeRefusesStates() {
    QFETCH(int, requested);
    QFETCH(int, kept);
    window_->setWindowState(Qt::WindowStates(requested));
    QTRY_COMPARE(int(window_->windowState()), kept);
    QCOMPARE(window_->size(), QSize(600, 324));
}

void TestMainWindow::centredFramePosition_data() {
    // clang-format off
    QTest::addColumn<QRect>("screen");
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<QPoint>("position");
    QTest::newRow("classic frame") << QRect(0, 0, 1024, 768) << QSize(607, 355) << QPoint(208, 206);
    QTest::newRow("odd remainders dropped") << QRect(0, 0, 1366, 768) << QSize(610, 358) << QPoint(378, 205);
    QTest::newRow("openbox frame") << QRect(0, 0, 1280, 800) << QSize(602, 345) << QPoint(339, 227);
    QTest::newRow("primary screen right of another") << QRect(1920, 0, 1920, 1080) << QSize(607, 355)
                                                     << QPoint(2576, 362);
    QTest::newRow("screen smaller than the frame") << QRect(0, 0, 600, 300) << QSize(607, 355) << QPoint(-3, -27);
    // clang-format on
}

void TestMainWindow::centredFramePosition() {
    QFETCH(QRect, screen);
    QFETCH(QSize, frame);
    QFETCH(QPoint, position);
    QCOMPARE(CentredFramePosition(screen, frame), position);
}

void TestMainWindow::radioBoxes() {
    auto* jpg = Find<QRadioButton>(*window_, "单选框1");
    auto* png = Find<QRadioButton>(*window_, "单选框2");
    auto* bmp = Find<QRadioButton>(*window_, "单选框3");
    QVERIFY(!jpg->isChecked() && !png->isChecked() && !bmp->isChecked());
    QCOMPARE(window_->SaveFormat(), std::string());

    QTest::mouseClick(png, Qt::LeftButton, {}, QPoint(8, 12));
    QCOMPARE(window_->SaveFormat(), std::string("png"));
    QTest::mouseClick(jpg, Qt::LeftButton, {}, QPoint(8, 12));
    QVERIFY(jpg->isChecked() && !png->isChecked() && !bmp->isChecked());
    QCOMPARE(window_->SaveFormat(), std::string("jpg"));
    // A second click keeps the box checked and the format.
    QTest::mouseClick(jpg, Qt::LeftButton, {}, QPoint(8, 12));
    QVERIFY(jpg->isChecked());
    QCOMPARE(window_->SaveFormat(), std::string("jpg"));
    // Space on the focused box clicks it.
    bmp->setFocus();
    QTest::keyClick(bmp, Qt::Key_Space);
    QVERIFY(bmp->isChecked());
    QCOMPARE(window_->SaveFormat(), std::string("bmp"));
}

void TestMainWindow::radioOverlapGoesToTopBox() {
    auto* group = Find(*window_, "分组框2");
    // x 140 lies in 单选框2 (88..167) and in 单选框3 (136..215), which is on top;
    // x 100 lies in 单选框1 (40..119) and in 单选框2, which is on top.
    const QList<std::pair<QPoint, std::string>> clicks{{{140, 52}, "bmp"}, {{100, 52}, "png"}, {{60, 52}, "jpg"}};
    for (const auto& [point, format] : clicks) {
        QWidget* hit = group->childAt(point);
        QVERIFY(hit);
        QTest::mouseClick(hit, Qt::LeftButton, {}, hit->mapFrom(group, point));
        QCOMPARE(window_->SaveFormat(), format);
    }
}

void TestMainWindow::radioArrowKeysWrap_data() {
    // clang-format off
    QTest::addColumn<QString>("from");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("format");
    QTest::newRow("right") << "单选框1" << int(Qt::Key_Right) << "单选框2" << "png";
    QTest::newRow("down") << "单选框2" << int(Qt::Key_Down) << "单选框3" << "bmp";
    QTest::newRow("right wraps") << "单选框3" << int(Qt::Key_Right) << "单选框1" << "jpg";
    QTest::newRow("left wraps") << "单选框1" << int(Qt::Key_Left) << "单选框3" << "bmp";
    QTest::newRow("up") << "单选框3" << int(Qt::Key_Up) << "单选框2" << "png";
    // clang-format on
}

void TestMainWindow::radioArrowKeysWrap() {
    QFETCH(QString, from);
    QFETCH(int, key);
    QFETCH(QString, to);
    QFETCH(QString, format);
    auto* start = Find<QRadioButton>(*window_, from.toUtf8().constData());
    start->setFocus();
    QTest::keyClick(start, Qt::Key(key));
    auto* reached = Find<QRadioButton>(*window_, to.toUtf8().constData());
    QVERIFY(reached->hasFocus() || !window_->isActiveWindow());
    QVERIFY(reached->isChecked());
    QVERIFY(!start->isChecked());
    QCOMPARE(window_->SaveFormat(), format.toStdString());
}

void TestMainWindow::folderPicker_data() {
    // clang-format off
    QTest::addColumn<QString>("picked");
    QTest::newRow("folder") << "/home/用户/二维码";
    QTest::newRow("root") << "/";
    QTest::newRow("cancelled") << "";
    // clang-format on
}

void TestMainWindow::folderPicker() {
    QFETCH(QString, picked);
    auto* folder = Find<QLineEdit>(*window_, "编辑框3");
    folder->setText(QStringLiteral("/earlier"));
    platform_.folderToPick = picked.toStdString();
    QTest::mouseClick(Find(*window_, "按钮6"), Qt::LeftButton);
    QCOMPARE(platform_.pickerTitles, std::vector<std::string>{"选择文件夹："});
    QCOMPARE(folder->text(), picked);
}

void TestMainWindow::widthMirroredToHeight() {
    auto* width = Find<QLineEdit>(*window_, "编辑框1");
    auto* height = Find<QLineEdit>(*window_, "编辑框2");
    width->selectAll();
    TypeText(width, QStringLiteral("12a"));
    QCOMPARE(height->text(), QStringLiteral("12a"));
    TypeText(width, QStringLiteral("６"));
    QCOMPARE(height->text(), QStringLiteral("12a６"));
    width->selectAll();
    QTest::keyClick(width, Qt::Key_Delete);
    QCOMPARE(height->text(), QString());
}

void TestMainWindow::counterAtStart() {
    auto* counter = Find<QLabel>(*window_, "标签1");
    QCOMPARE(counter->text(), QStringLiteral("文本长度：52/600"));
    QCOMPARE(counter->palette().color(QPalette::WindowText), QColor(Qt::black));
}

// Each step replaces the content (a paste) or types/deletes at its end.
void TestMainWindow::counterSequence_data() {
    // clang-format off
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QList<int>>("counts");
    QTest::addColumn<QStringList>("colours");

    const QString ascii599 = QString(599, u'a');
    const QString chinese300 = QString(300, u'码');
    QTest::newRow("cleared") << QStringList{"=" } << QList<int>{0} << QStringList{"black"};
    QTest::newRow("past 600 and back") << QStringList{"=" + ascii599, "+b", "+c", "-", "-"}
                                       << QList<int>{599, 600, 601, 600, 599}
                                       << QStringList{"black", "black", "red", "red", "black"};
    QTest::newRow("300 Chinese characters") << QStringList{"=" + chinese300, "+码", "-"}
                                            << QList<int>{600, 602, 600}
                                            << QStringList{"black", "red", "red"};
    QTest::newRow("line breaks count 2") << QStringList{"=a\nb\nc"} << QList<int>{7} << QStringList{"black"};
    QTest::newRow("paste over the limit") << QStringList{"=" + QString(700, u'x')} << QList<int>{700}
                                          << QStringList{"red"};
    // clang-format on
}

void TestMainWindow::counterSequence() {
    QFETCH(QStringList, steps);
    QFETCH(QList<int>, counts);
    QFETCH(QStringList, colours);

    auto* text = Find<QPlainTextEdit>(*window_, "编辑框_文本");
    auto* counter = Find<QLabel>(*window_, "标签1");
    for (int i = 0; i < steps.size(); ++i) {
        const QString& step = steps[i];
        if (step.startsWith(u'=')) {
            text->setPlainText(step.mid(1));
        } else {
            text->moveCursor(QTextCursor::End);
            if (step.startsWith(u'+'))
                TypeText(text, step.mid(1));
            else
                QTest::keyClick(text, Qt::Key_Backspace);
        }
        QCOMPARE(counter->text(), QStringLiteral("文本长度：%1/600").arg(counts[i]));
        const QColor expected = colours[i] == QStringLiteral("red") ? QColor(255, 0, 0) : QColor(0, 0, 0);
        QCOMPARE(counter->palette().color(QPalette::WindowText), expected);
    }
}

void TestMainWindow::escapeDoesNotClose() {
    QTest::keyClick(Find(*window_, "编辑框_文本"), Qt::Key_Escape);
    QTest::keyClick(window_, Qt::Key_Escape);
    QVERIFY(window_->isVisible());
    // Enter on a focused button clicks nothing: no default button.
    auto* button = Find<QPushButton>(*window_, "按钮1");
    QVERIFY(!button->isDefault() && !button->autoDefault());
}

// Without a Simplified-Chinese font every caption renders as boxes.
void TestMainWindow::chineseFontInstalled() {
    QVERIFY2(!QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty(),
             "install a CJK font such as fonts-wqy-microhei");
}

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
