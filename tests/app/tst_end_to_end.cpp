// The whole product: the window generating through the bundled QR image
// service on loopback, and saving what it shows; every picture is read back
// with a QR decoder.
#include "save/save.h"
#include "support/fake_platform.h"
#include "support/qr_decode.h"
#include "support/service_process.h"
#include "window_driver.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include <filesystem>
#include <memory>

class TestEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void pagesRoundTrip_data();
    void pagesRoundTrip();
    void savedFilesRoundTrip_data();
    void savedFilesRoundTrip();
    void savesIntoFolderNamedInGbk();

private:
    std::unique_ptr<testsupport::ServiceProcess> service_;
    FakePlatform platform_;
    std::unique_ptr<MainWindow> window_;
};

void TestEndToEnd::initTestCase() {
    service_ = std::make_unique<testsupport::ServiceProcess>();
}

void TestEndToEnd::init() {
    platform_ = FakePlatform();
    window_ = std::make_unique<MainWindow>(platform_, qr::ServiceOptions{.baseAddress = service_->baseAddress()});
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
}

void TestEndToEnd::cleanupTestCase() {
    window_.reset();
    service_.reset();
}

void TestEndToEnd::pagesRoundTrip_data() {
    // clang-format off
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QString>("payload");

    QTest::newRow("text a b码") << "按钮1" << QStringList{"编辑框_文本=a b码"} << "a b码";
    // 200 Chinese characters: 600 UTF-8 bytes.
    const QString chinese200 = QString(200, u'码');
    QTest::newRow("text 600 bytes") << "按钮1" << QStringList{"编辑框_文本=" + chinese200} << chinese200;
    QTest::newRow("text CR LF") << "按钮1" << QStringList{"编辑框_文本=第一行\n第二行\n"} << "第一行\r\n第二行\r\n";
    QTest::newRow("card") << "按钮2"
                          << QStringList{"编辑框_姓名=张三", "编辑框_手机=13800138000", "编辑框_QQ=10001",
                                         "编辑框_微信=zhang_san", "编辑框_邮箱=zs@example.com", "编辑框_职位=工程师",
                                         "编辑框_单位=无", "编辑框_联系地址=北京市", "编辑框_网址=无"}
                          << "这是来自张三的名片！\r\n手机：13800138000\r\nQQ：10001\r\n微信：zhang_san\r\n"
                             "邮箱：zs@example.com\r\n职位：工程师\r\n单位：无\r\n联系地址：北京市\r\n网址：无";
    QTest::newRow("url default") << "按钮3" << QStringList{} << "https://www.example.com/";
    QTest::newRow("sms") << "按钮4" << QStringList{"编辑框_电话号码=10086", "编辑框_短信内容=你好\n再见"}
                         << "smsto:10086:你好\r\n再见";
    QTest::newRow("wifi") << "按钮5" << QStringList{"编辑框_网络名称=家里的网", "编辑框_密码=12345678"}
                          << "网络名称：家里的网，密码：12345678";
    // clang-format on
}

void TestEndToEnd::pagesRoundTrip() {
    QFETCH(QString, button);
    QFETCH(QStringList, fields);
    QFETCH(QString, payload);

    Fill(*window_, fields);
    QTest::mouseClick(Find(*window_, button.toUtf8().constData()), Qt::LeftButton);
    QVERIFY(platform_.messages.empty());

    auto* picture = Find<PictureBox>(*window_, "图片框1");
    QCOMPARE(picture->shownImage().size(), QSize(300, 300));
    QCOMPARE(testsupport::DecodeQrImage(picture->picture()), std::optional<std::string>(payload.toStdString()));
}

void TestEndToEnd::savedFilesRoundTrip_data() {
    // clang-format off
    QTest::addColumn<QString>("radio");
    QTest::addColumn<QString>("width");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("unreadable");

    QTest::newRow("jpg") << "单选框1" << "300" << "jpg" << 300 << false;
    QTest::newRow("png 500") << "单选框2" << "500" << "png" << 500 << false;
    QTest::newRow("png 1200") << "单选框2" << "1200" << "png" << 1200 << false;
    QTest::newRow("bmp 12a") << "单选框3" << "12a" << "bmp" << 12 << true;
    QTest::newRow("png abc keeps the fetched size") << "单选框2" << "abc" << "png" << 300 << false;
    // clang-format on
}

void TestEndToEnd::savedFilesRoundTrip() {
    QFETCH(QString, radio);
    QFETCH(QString, width);
    QFETCH(QString, extension);
    QFETCH(int, size);
    QFETCH(bool, unreadable);

    const QString payload = QStringLiteral("保存测试 save 码");
    Fill(*window_, {"编辑框_文本=" + payload});
    QTest::mouseClick(Find(*window_, "按钮1"), Qt::LeftButton);

    QTemporaryDir folder;
    platform_.folderToPick = folder.path().toStdString();
    platform_.clock = std::tm{.tm_sec = 2, .tm_min = 5, .tm_hour = 21, .tm_mday = 30, .tm_mon = 11, .tm_year = 116};
    QTest::mouseClick(Find(*window_, "按钮6"), Qt::LeftButton);
    QTest::mouseClick(Find(*window_, radio.toUtf8().constData()), Qt::LeftButton, {}, QPoint(8, 12));
    SetContent(Find(*window_, "编辑框1"), width);
    QTest::mouseClick(Find(*window_, "按钮7"), Qt::LeftButton);

    QCOMPARE(platform_.messages.size(), size_t(1));
    const ShownMessage done = platform_.messages[0];
    QCOMPARE(done.flags, msgbox::kInformationIcon);
    QCOMPARE(done.title, "温馨提示");
    if (!unreadable) QCOMPARE(done.text, "保存完成！请查看");
    const QString saved = folder.filePath(QStringLiteral("2016年12月30日21时5分2秒二维码文件.") + extension);
    QFile file(saved);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(saved));
    const QByteArray bytes = file.readAll();
    const auto image = save::DecodeImage(save::Bytes(bytes.begin(), bytes.end()), nullptr, save::kMaxSavedPixels);
    QVERIFY(image);
    QCOMPARE(image->width, size);
    QCOMPARE(image->height, size);
    QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size(), 1);
    if (!unreadable) {
        QCOMPARE(testsupport::DecodeQrFile(saved.toStdString()), std::optional<std::string>(payload.toStdString()));
        return;
    }
    // Too small to hold the modules, the 12-pixel picture cannot decode; the
    // box names the smallest size that does, and a save at it says no more.
    QCOMPARE(testsupport::DecodeQrFile(saved.toStdString()), std::nullopt);
    const QRegularExpressionMatch note =
        QRegularExpression(QStringLiteral("^保存完成！请查看\\n注意：二维码图片在这个大小下可能无法扫描，"
                                          "能扫描的最小图片大小是 (\\d+)×\\1。$"))
            .match(QString::fromStdString(done.text));
    QVERIFY2(note.hasMatch(), done.text.c_str());
    platform_.messages.clear();
    SetContent(Find(*window_, "编辑框1"), note.captured(1));
    QTest::mouseClick(Find(*window_, "按钮7"), Qt::LeftButton);
    QCOMPARE(platform_.messages,
             (std::vector<ShownMessage>{{"保存完成！请查看", msgbox::kInformationIcon, "温馨提示"}}));
    // The same second: the same name, replaced.
    QCOMPARE(testsupport::DecodeQrFile(saved.toStdString()), std::optional<std::string>(payload.toStdString()));
}

// "二维" in GBK, as a disk written by another system names it: not UTF-8, so
// Qt shows it with replacement characters, and only the picker's bytes lead
// to it.
void TestEndToEnd::savesIntoFolderNamedInGbk() {
    Fill(*window_, {QStringLiteral("编辑框_文本=GBK")});
    QTest::mouseClick(Find(*window_, "按钮1"), Qt::LeftButton);
    QTemporaryDir parent;
    const std::string folder = QFile::encodeName(parent.path()).toStdString() + "/\xB6\xFE\xCE\xAC";
    QCOMPARE(mkdir(folder.c_str(), 0700), 0);

    platform_.folderToPick = folder;
    QTest::mouseClick(Find(*window_, "按钮6"), Qt::LeftButton);
    QCOMPARE(Find<QLineEdit>(*window_, "编辑框3")->text(), QFile::decodeName(QByteArray::fromStdString(folder)));
    QTest::mouseClick(Find(*window_, "单选框2"), Qt::LeftButton, {}, QPoint(8, 12));
    QTest::mouseClick(Find(*window_, "按钮7"), Qt::LeftButton);

    QCOMPARE(platform_.messages,
             (std::vector<ShownMessage>{{"保存完成！请查看", msgbox::kInformationIcon, "温馨提示"}}));
    const std::filesystem::path saved = folder + "/2016年12月30日21时5分2秒二维码文件.png";
    QVERIFY2(std::filesystem::is_regular_file(saved), saved.c_str());
    QCOMPARE(testsupport::DecodeQrFile(saved.string()), std::optional<std::string>("GBK"));
}

QTEST_MAIN(TestEndToEnd)
#include "tst_end_to_end.moc"
