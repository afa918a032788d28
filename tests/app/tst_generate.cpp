// The generate buttons against a real HTTP server on 127.0.0.1: what each
// page checks, what it requests and what the picture box then holds.
#include "save/fixtures.h"
#include "support/fake_platform.h"
#include "support/fixture_server.h"
#include "support/service_answer.h"
#include "window_driver.h"

#include <QtTest>

#include <memory>

using testsupport::Answer;
Q_DECLARE_METATYPE(testsupport::Answer)
using testsupport::FixtureServer;
using testsupport::HttpAnswer;

namespace {

const std::string kFailed = "生成二维码失败！建议减少字数试试！";
const std::string kNoPicture = kFailed + "\n二维码图片服务返回的不是图片。";
const std::string kMismatch = "二维码图片与输入的内容不一致，请不要使用这张图片！";
const QString kCardMessage = QStringLiteral("请把个人资料填写完整，如果没有请填“无”。");
const QStringList kCardFields{"编辑框_QQ",   "编辑框_姓名", "编辑框_手机",     "编辑框_微信", "编辑框_邮箱",
                              "编辑框_职位", "编辑框_单位", "编辑框_联系地址", "编辑框_网址"};

QStringList allCardFields(const QString& value) {
    QStringList fields;
    for (const QString& name : kCardFields)
        fields << name + u'=' + value;
    return fields;
}

std::string requestTarget(const std::string& rawRequest) {
    const auto lineEnd = rawRequest.find("\r\n");
    return rawRequest.substr(0, lineEnd);
}

}  // namespace

class TestGenerate : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void pages_data();
    void pages();
    void failedCheckKeepsPicture();
    void textPageShowsFetchedPng();
    void pictureOfOtherText_data();
    void pictureOfOtherText();
    void inputDuringFetchDropped();
    void failedFetches_data();
    void failedFetches();
    void unreachableHostEmptiesPicture();
    void stalledServiceNamed();
    void lengthLimit_data();
    void lengthLimit();

private:
    void showSamplePicture();

    FakePlatform platform_;
    std::unique_ptr<FixtureServer> server_;
    std::unique_ptr<MainWindow> window_;
};

void TestGenerate::init() {
    platform_ = FakePlatform();
    server_ = std::make_unique<FixtureServer>();
    // Unless a test queues its own answer, the service's picture of the text.
    server_->answerUnqueued(testsupport::ServiceAnswer);
    window_ = std::make_unique<MainWindow>(platform_, qr::ServiceOptions{.baseAddress = server_->baseAddress()});
}

void TestGenerate::cleanup() {
    window_.reset();
    server_.reset();
}

void TestGenerate::showSamplePicture() {
    server_->enqueue(HttpAnswer(200, testsupport::SamplePng()));
    window_->ShowQrImage(server_->baseAddress() + "/sample?", "");
    QVERIFY(!Find<PictureBox>(*window_, "图片框1")->shownImage().isNull());
    platform_.messages.clear();
}

void TestGenerate::pages_data() {
    // clang-format off
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QString>("message");  // empty: the request goes out
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("target");

    const QString prefix = QStringLiteral("/api.php?el=l&m=10&w=300&text=");
    QTest::newRow("text a b码") << "按钮1" << QStringList{"编辑框_文本=a b码"} << "" << ""
                               << prefix + "%61%20%62%E7%A0%81";
    QTest::newRow("text empty") << "按钮1" << QStringList{"编辑框_文本="} << "生成失败！请输入文本内容！"
                                << "错误！" << "";
    QTest::newRow("text of spaces") << "按钮1" << QStringList{"编辑框_文本=   "} << "" << ""
                                    << prefix + "%20%20%20";
    QTest::newRow("text CR LF") << "按钮1" << QStringList{"编辑框_文本=a\nb"} << "" << ""
                                << prefix + "%61%0D%0A%62";

    for (int empty = 0; empty < kCardFields.size(); ++empty) {
        QStringList fields = allCardFields(QStringLiteral("无"));
        fields[empty] = kCardFields[empty] + u'=';
        QTest::newRow(qPrintable("card without " + kCardFields[empty])) << "按钮2" << fields << kCardMessage
                                                                         << "错误" << "";
    }
    // QQ is checked first although it is the third line.
    QStringList onlyName{"编辑框_姓名=张三"};
    QTest::newRow("card with only a name") << "按钮2" << onlyName << kCardMessage << "错误" << "";
    QTest::newRow("card of blanks") << "按钮2" << allCardFields(" ") << "" << ""
                                    << prefix + "%E8%BF%99%E6%98%AF%E6%9D%A5%E8%87%AA%20%E7%9A%84";

    QTest::newRow("url default") << "按钮3" << QStringList{} << "" << ""
                                 << prefix + "%68%74%74%70%73%3A%2F%2F%77%77%77%2E%65%78%61%6D%70%6C%65%2E%63%6F%6D%2F";
    QTest::newRow("url without scheme") << "按钮3" << QStringList{"编辑框_网址_=a.cn"} << "" << ""
                                        << prefix + "%61%2E%63%6E";
    QTest::newRow("url empty") << "按钮3" << QStringList{"编辑框_网址_="} << "请输入网址！" << "错误" << "";

    QTest::newRow("sms 10086 hi") << "按钮4" << QStringList{"编辑框_电话号码=10086", "编辑框_短信内容=hi"} << ""
                                  << "" << prefix + "smsto%3A%31%30%30%38%36%3A%68%69";
    QTest::newRow("sms two lines") << "按钮4" << QStringList{"编辑框_电话号码=1", "编辑框_短信内容=a\nb"} << ""
                                   << "" << prefix + "smsto%3A%31%3A%61%0D%0A%62";
    QTest::newRow("sms both empty") << "按钮4" << QStringList{} << "请输入短信内容！" << "错误" << "";
    QTest::newRow("sms without number") << "按钮4" << QStringList{"编辑框_短信内容=hi"} << "请输入电话号码！"
                                        << "错误" << "";

    // Wi-Fi checks its own fields; the web-address page's box plays no part.
    QTest::newRow("wifi with hint password") << "按钮5" << QStringList{"编辑框_网络名称=a", "编辑框_网址_="} << ""
                                             << "" << prefix + "%E7%BD%91%E7%BB%9C%E5%90%8D%E7%A7%B0%EF%BC%9A%61%EF%BC%8C";
    QTest::newRow("wifi without name") << "按钮5" << QStringList{} << "请输入网络名称！" << "错误" << "";
    QTest::newRow("wifi without password") << "按钮5" << QStringList{"编辑框_网络名称=a", "编辑框_密码="}
                                           << "请输入密码！如果没有密码请输入“无”" << "错误" << "";
    // clang-format on
}

void TestGenerate::pages() {
    QFETCH(QString, button);
    QFETCH(QStringList, fields);
    QFETCH(QString, message);
    QFETCH(QString, title);
    QFETCH(QString, target);

    Fill(*window_, fields);
    QTest::mouseClick(Find(*window_, button.toUtf8().constData()), Qt::LeftButton);

    if (!message.isEmpty()) {
        QCOMPARE(platform_.messages,
                 (std::vector<ShownMessage>{{message.toStdString(), msgbox::kStopIcon, title.toStdString()}}));
        QCOMPARE(server_->connectionCount(), 0);
        return;
    }
    QVERIFY(platform_.messages.empty());
    const auto requests = server_->requests();
    QCOMPARE(requests.size(), size_t(1));
    const std::string line = requestTarget(requests[0]);
    QVERIFY2(line.starts_with("GET " + target.toStdString()), line.c_str());
    QVERIFY2(line.ends_with(" HTTP/1.0"), line.c_str());
}

void TestGenerate::failedCheckKeepsPicture() {
    showSamplePicture();
    const auto before = Find<PictureBox>(*window_, "图片框1")->picture();
    const int connections = server_->connectionCount();
    Fill(*window_, {"编辑框_文本="});
    QTest::mouseClick(Find(*window_, "按钮1"), Qt::LeftButton);
    QCOMPARE(platform_.messages.size(), size_t(1));
    QCOMPARE(server_->connectionCount(), connections);
    QCOMPARE(Find<PictureBox>(*window_, "图片框1")->picture(), before);
}

void TestGenerate::textPageShowsFetchedPng() {
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    server_->enqueue(HttpAnswer(200, testsupport::SamplePng()));
    QTest::mouseClick(Find(*window_, "按钮1"), Qt::LeftButton);

    auto* picture = Find<PictureBox>(*window_, "图片框1");
    const std::string png = testsupport::SamplePng();
    QCOMPARE(picture->picture(), std::vector<std::uint8_t>(png.begin(), png.end()));
    // Finder squares alone are no QR code of the text.
    QCOMPARE(platform_.messages, (std::vector<ShownMessage>{{kMismatch, msgbox::kStopIcon, "错误"}}));
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);

    // Stretched over the whole 198 x 198 inside of the border.
    const QImage shown = picture->grab().toImage();
    const int inside = picture->width() - 2;
    for (int y = 0; y < testsupport::kSamplePngSize; ++y) {
        for (int x = 0; x < testsupport::kSamplePngSize; ++x) {
            const QPoint centre(1 + (2 * x + 1) * inside / (2 * testsupport::kSamplePngSize),
                                1 + (2 * y + 1) * inside / (2 * testsupport::kSamplePngSize));
            const bool black = qGray(shown.pixel(centre)) < 128;
            QCOMPARE(black, testsupport::SamplePngIsBlack(x, y));
        }
    }
}

void TestGenerate::pictureOfOtherText_data() {
    // clang-format off
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QString>("otherText");

    QTest::newRow("text") << "按钮1" << QStringList{"编辑框_文本=a b码"} << QString("a b");
    QTest::newRow("card") << "按钮2" << allCardFields(QStringLiteral("无")) << QString("这是来自无的名片！");
    QTest::newRow("url") << "按钮3" << QStringList{"编辑框_网址_=a.cn"} << QString("b.cn");
    // The payload without the prefix the text-message page adds.
    QTest::newRow("sms without smsto") << "按钮4" << QStringList{"编辑框_电话号码=10086", "编辑框_短信内容=hi"}
                                       << QString(":10086:hi");
    QTest::newRow("wifi") << "按钮5" << QStringList{"编辑框_网络名称=a", "编辑框_密码=1"}
                          << QString("网络名称：a，密码：2");
    // clang-format on
}

// A picture that reads as another text is stored and shown, and the user is
// told not to use it.
void TestGenerate::pictureOfOtherText() {
    QFETCH(QString, button);
    QFETCH(QStringList, fields);
    QFETCH(QString, otherText);

    const std::string png = testsupport::ServiceQrPng(otherText.toStdString());
    server_->enqueue(HttpAnswer(200, png));
    Fill(*window_, fields);
    QTest::mouseClick(Find(*window_, button.toUtf8().constData()), Qt::LeftButton);

    auto* picture = Find<PictureBox>(*window_, "图片框1");
    QCOMPARE(picture->picture(), std::vector<std::uint8_t>(png.begin(), png.end()));
    QVERIFY(!picture->shownImage().isNull());
    QCOMPARE(platform_.messages, (std::vector<ShownMessage>{{kMismatch, msgbox::kStopIcon, "错误"}}));
}

// Clicks and keys queued while the window was blocked are not replayed.
void TestGenerate::inputDuringFetchDropped() {
    auto* button = Find(*window_, "按钮1");
    auto* text = Find<QPlainTextEdit>(*window_, "编辑框_文本");
    const QString before = text->toPlainText();
    const QPointF centre = QRectF(button->rect()).center();
    for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
        QCoreApplication::postEvent(button, new QMouseEvent(type, centre, button->mapToGlobal(centre), Qt::LeftButton,
                                                            Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(text, new QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a")));

    window_->GenerateTextQr();
    QCoreApplication::processEvents();
    QCOMPARE(server_->connectionCount(), 1);
    QCOMPARE(text->toPlainText(), before);
    QVERIFY(platform_.messages.empty());
}

void TestGenerate::failedFetches_data() {
    // clang-format off
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<std::string>("message");

    const std::string html = "<html><body>404 Not Found</body></html>";
    QTest::newRow("404 with HTML") << HttpAnswer(404, html, "text/html") << QByteArray::fromStdString(html)
                                   << kNoPicture;
    QTest::newRow("200 empty") << HttpAnswer(200, "") << QByteArray() << kNoPicture;
    QTest::newRow("truncated PNG") << HttpAnswer(200, testsupport::SamplePng().substr(0, 40))
                                   << QByteArray::fromStdString(testsupport::SamplePng().substr(0, 40)) << kNoPicture;
    // Two hundred bytes that would decode to 192 MiB: refused, not shown.
    const save::Bytes flat(3 * 16 * 16, 0x80);
    const save::Bytes bomb = fixtures::JpegClaiming(
        fixtures::JpegFile(16, 16, fixtures::JpegColour::Rgb, flat, fixtures::JpegCoding::Arithmetic), 8192, 8192);
    QTest::newRow("JPEG bomb 8192 x 8192") << HttpAnswer(200, std::string(bomb.begin(), bomb.end()), "image/jpeg")
                                           << QByteArray(reinterpret_cast<const char*>(bomb.data()), bomb.size())
                                           << kNoPicture;
    QTest::newRow("connection reset") << Answer{"HTTP/1.0 200 OK\r\n", Answer::Ending::Reset} << QByteArray()
                                      << kFailed + "\n与二维码图片服务的连接中断了，请稍后再试。";
    // clang-format on
}

// Whatever came back is stored; when it is not a picture the user is told.
void TestGenerate::failedFetches() {
    QFETCH(Answer, answer);
    QFETCH(QByteArray, stored);
    QFETCH(std::string, message);
    showSamplePicture();
    server_->enqueue(answer);
    QTest::mouseClick(Find(*window_, "按钮1"), Qt::LeftButton);

    auto* picture = Find<PictureBox>(*window_, "图片框1");
    QCOMPARE(picture->picture(), std::vector<std::uint8_t>(stored.begin(), stored.end()));
    QVERIFY(picture->shownImage().isNull());
    QCOMPARE(platform_.messages, (std::vector<ShownMessage>{{message, msgbox::kStopIcon, "错误"}}));
}

void TestGenerate::unreachableHostEmptiesPicture() {
    showSamplePicture();
    testsupport::RefusingPort nobody;
    MainWindow window(platform_, qr::ServiceOptions{.baseAddress = nobody.baseAddress()});
    Find<PictureBox>(window, "图片框1")->setPicture(Find<PictureBox>(*window_, "图片框1")->picture());
    QTest::mouseClick(Find(window, "按钮1"), Qt::LeftButton);
    QVERIFY(Find<PictureBox>(window, "图片框1")->picture().empty());
    const std::string message = kFailed + "\n无法连接二维码图片服务，请稍后再试。";
    QCOMPARE(platform_.messages, (std::vector<ShownMessage>{{message, msgbox::kStopIcon, "错误"}}));
}

void TestGenerate::stalledServiceNamed() {
    qr::ServiceOptions service{.baseAddress = server_->baseAddress()};
    service.limits.stallTimeoutMs = 300;
    MainWindow window(platform_, service);
    server_->enqueue(Answer{"", Answer::Ending::Stall});
    QTest::mouseClick(Find(window, "按钮1"), Qt::LeftButton);
    QVERIFY(Find<PictureBox>(window, "图片框1")->picture().empty());
    const std::string message = kFailed + "\n二维码图片服务没有响应，请稍后再试。";
    QCOMPARE(platform_.messages, (std::vector<ShownMessage>{{message, msgbox::kStopIcon, "错误"}}));
}

void TestGenerate::lengthLimit_data() {
    // clang-format off
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<bool>("sent");

    // 224 Chinese characters are 672 UTF-8 bytes.
    const QString chinese224 = QString(224, u'码');
    QTest::newRow("text 672 bytes") << "按钮1" << QStringList{"编辑框_文本=" + chinese224} << true;
    QTest::newRow("text 673 bytes") << "按钮1" << QStringList{"编辑框_文本=" + chinese224 + "a"} << false;
    // The fixed text takes 114 bytes; nine fields may add 558 more.
    QStringList card558 = allCardFields(QString(62, u'a'));
    QTest::newRow("card 558 field bytes") << "按钮2" << card558 << true;
    card558[0] += u'a';
    QTest::newRow("card 559 field bytes") << "按钮2" << card558 << false;
    QTest::newRow("sms 668 bytes") << "按钮4" << QStringList{"编辑框_电话号码=1", "编辑框_短信内容=" + QString(667, u'b')}
                                   << true;
    QTest::newRow("sms 669 bytes") << "按钮4" << QStringList{"编辑框_电话号码=12", "编辑框_短信内容=" + QString(667, u'b')}
                                   << false;
    // clang-format on
}

void TestGenerate::lengthLimit() {
    QFETCH(QString, button);
    QFETCH(QStringList, fields);
    QFETCH(bool, sent);
    Fill(*window_, fields);
    QTest::mouseClick(Find(*window_, button.toUtf8().constData()), Qt::LeftButton);
    QCOMPARE(server_->connectionCount(), sent ? 1 : 0);
    if (sent)
        QVERIFY(platform_.messages.empty());
    else
        QCOMPARE(platform_.messages, (std::vector<ShownMessage>{{kFailed, msgbox::kStopIcon, "错误"}}));
}

QTEST_MAIN(TestGenerate)
#include "tst_generate.moc"
