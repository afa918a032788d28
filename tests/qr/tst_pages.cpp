#include "qr/qr.h"
#include "support/fixture_server.h"

#include <QtTest>

Q_DECLARE_METATYPE(qr::RequestKind)

namespace {

enum class Page { Text, Card, Url, Sms, Wifi };

// Fields in the order of the page's function arguments; the card's in the
// order of CardFields.
qr::PageOutcome PlanPage(Page page, const QStringList& fields) {
    std::vector<std::string> f;
    for (const QString& field : fields)
        f.push_back(field.toStdString());
    switch (page) {
    case Page::Text: return qr::PlanTextQr(f.at(0));
    case Page::Card:
        return qr::PlanCardQr({f.at(0), f.at(1), f.at(2), f.at(3), f.at(4), f.at(5), f.at(6), f.at(7), f.at(8)});
    case Page::Url: return qr::PlanUrlQr(f.at(0));
    case Page::Sms: return qr::PlanSmsQr(f.at(0), f.at(1));
    case Page::Wifi: return qr::PlanWifiQr(f.at(0), f.at(1));
    }
    return {};
}

const QStringList kFullCard{"张三",   "13800000000", "10000", "zhangsan",           "z@example.com",
                            "工程师", "某公司",      "北京",  "http://example.com/"};

QStringList CardWith(int index, const QString& value) {
    QStringList card = kFullCard;
    card[index] = value;
    return card;
}

std::size_t Cp936Length(const std::string& utf8) {
    return qr::WideToMultiByte(qr::AnsiToWide(utf8, qr::kCodePageUtf8), qr::kCodePageGbk).size();
}

const std::string kEmptyCard =
    "这是来自的名片！\r\n手机：\r\nQQ：\r\n微信：\r\n邮箱：\r\n职位：\r\n单位：\r\n联系地址：\r\n网址：";
const char* const kCardIncomplete = "请把个人资料填写完整，如果没有请填“无”。";

}  // namespace

Q_DECLARE_METATYPE(Page)

class TestPages : public QObject {
    Q_OBJECT

private slots:
    void cardFixedText();
    void cardLinesHoldTheFieldsAsTyped();
    void wifiAndSmsPayloads();
    void webAddressIsSentAsTyped();
    void checksAndOutcomes_data();
    void checksAndOutcomes();
    void textMessageRequestUrl();
    void lengthLimitsAtTheServer_data();
    void lengthLimitsAtTheServer();
};

void TestPages::cardFixedText() {
    QCOMPARE(qr::BuildCardPayload({}), kEmptyCard);
    QCOMPARE(kEmptyCard.size(), std::size_t(114));
    QCOMPARE(Cp936Length(kEmptyCard), std::size_t(82));
}

void TestPages::cardLinesHoldTheFieldsAsTyped() {
    const qr::CardFields card{"张三", " ", "10000", "wx", "e@x", "职", "单", "地址", "http://a/"};
    const std::string payload = qr::BuildCardPayload(card);
    QCOMPARE(payload, std::string("这是来自张三的名片！\r\n手机： \r\nQQ：10000\r\n微信：wx\r\n邮箱：e@x\r\n"
                                  "职位：职\r\n单位：单\r\n联系地址：地址\r\n网址：http://a/"));
    const QStringList lines = QString::fromStdString(payload).split("\r\n");
    QCOMPARE(lines.size(), 9);
    for (const QString& line : lines)
        QVERIFY(!line.contains('\r') && !line.contains('\n'));

    const auto outcome = qr::PlanCardQr(card);
    QVERIFY(std::holds_alternative<qr::QrRequest>(outcome));
    QVERIFY(std::get<qr::QrRequest>(outcome).encodedPayload.starts_with("%E8%BF%99%E6%98%AF%E6%9D%A5%E8%87%AA"));
}

void TestPages::wifiAndSmsPayloads() {
    const std::string emptyWifi = qr::BuildWifiPayload("", "");
    QCOMPARE(emptyWifi, std::string("网络名称：，密码："));
    QCOMPARE(emptyWifi.size(), std::size_t(27));
    QCOMPARE(Cp936Length(emptyWifi), std::size_t(18));
    QCOMPARE(qr::BuildWifiPayload("家 ", "无"), std::string("网络名称：家 ，密码：无"));

    QCOMPARE(qr::BuildSmsPayload("10086", "hi"), std::string(":10086:hi"));
    const auto multiLine = qr::PlanSmsQr("1", "a\r\nb");
    QCOMPARE(multiLine, qr::PageOutcome(qr::QrRequest{qr::RequestKind::TextMessage, "%3A%31%3A%61%0D%0A%62"}));
}

void TestPages::webAddressIsSentAsTyped() {
    QCOMPARE(qr::PlanUrlQr("a.cn"), qr::PageOutcome(qr::QrRequest{qr::RequestKind::Plain, "%61%2E%63%6E"}));
    const auto withScheme = std::get<qr::QrRequest>(qr::PlanUrlQr("http://a.cn/"));
    QCOMPARE(withScheme.encodedPayload, std::string("%68%74%74%70%3A%2F%2F%61%2E%63%6E%2F"));
}

void TestPages::checksAndOutcomes_data() {
    // clang-format off
    QTest::addColumn<Page>("page");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QString>("message");  // empty: the page makes its request
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("payload");

    QTest::newRow("text empty") << Page::Text << QStringList{""} << "生成失败！请输入文本内容！" << "错误！" << "";
    QTest::newRow("text of spaces is sent") << Page::Text << QStringList{"  "} << "" << "" << "  ";

    const char* cardFields[] = {"name", "mobile", "qq", "wechat", "email", "job title", "employer", "address", "website"};
    for (int i = 0; i < 9; ++i) {
        QTest::addRow("card without %s", cardFields[i]) << Page::Card << CardWith(i, "") << kCardIncomplete << "错误" << "";
    }
    QTest::newRow("card all empty") << Page::Card << QStringList(9, "") << kCardIncomplete << "错误" << "";
    QTest::newRow("card with a blank field is sent")
        << Page::Card << CardWith(0, " ") << "" << ""
        << "这是来自 的名片！\r\n手机：13800000000\r\nQQ：10000\r\n微信：zhangsan\r\n邮箱：z@example.com\r\n"
           "职位：工程师\r\n单位：某公司\r\n联系地址：北京\r\n网址：http://example.com/";

    QTest::newRow("url empty") << Page::Url << QStringList{""} << "请输入网址！" << "错误" << "";
    QTest::newRow("url blank is sent") << Page::Url << QStringList{" "} << "" << "" << " ";

    QTest::newRow("sms both empty: body first") << Page::Sms << QStringList{"", ""} << "请输入短信内容！" << "错误" << "";
    QTest::newRow("sms without body") << Page::Sms << QStringList{"10086", ""} << "请输入短信内容！" << "错误" << "";
    QTest::newRow("sms without number") << Page::Sms << QStringList{"", "hi"} << "请输入电话号码！" << "错误" << "";
    QTest::newRow("sms filled") << Page::Sms << QStringList{"10086", "hi"} << "" << "" << ":10086:hi";

    QTest::newRow("wifi both empty: name first") << Page::Wifi << QStringList{"", ""} << "请输入网络名称！" << "错误" << "";
    QTest::newRow("wifi without name") << Page::Wifi << QStringList{"", "pw"} << "请输入网络名称！" << "错误" << "";
    QTest::newRow("wifi without password") << Page::Wifi << QStringList{"home", ""}
                                           << "请输入密码！如果没有密码请输入“无”" << "错误" << "";
    QTest::newRow("wifi filled") << Page::Wifi << QStringList{"home", "无"} << "" << "" << "网络名称：home，密码：无";
    // clang-format on
}

void TestPages::checksAndOutcomes() {
    QFETCH(Page, page);
    QFETCH(QStringList, fields);
    QFETCH(QString, message);
    QFETCH(QString, title);
    QFETCH(QString, payload);
    const qr::PageOutcome outcome = PlanPage(page, fields);
    if (message.isEmpty()) {
        const auto kind = page == Page::Sms ? qr::RequestKind::TextMessage : qr::RequestKind::Plain;
        QCOMPARE(outcome, qr::PageOutcome(qr::QrRequest{kind, qr::EncodePayload(payload.toStdString())}));
    } else {
        QCOMPARE(outcome, qr::PageOutcome(qr::Refusal{message.toStdString(), title.toStdString()}));
    }
}

void TestPages::textMessageRequestUrl() {
    testsupport::FixtureServer server;
    const auto request = std::get<qr::QrRequest>(qr::PlanSmsQr("10086", "hi"));
    const std::string url = qr::RequestPrefix(request.kind, server.baseAddress()) + request.encodedPayload;
    QVERIFY(url.ends_with("/api.php?el=l&m=10&w=300&text=smsto%3A%31%30%30%38%36%3A%68%69"));
    QVERIFY(!qr::FetchUrl(url).body.empty());
    QCOMPARE(server.requests().size(), std::size_t(1));
    QVERIFY(server.requests()[0].starts_with(
        "GET /api.php?el=l&m=10&w=300&text=smsto%3A%31%30%30%38%36%3A%68%69 HTTP/1.0\r\n"));
}

void TestPages::lengthLimitsAtTheServer_data() {
    // clang-format off
    QTest::addColumn<Page>("page");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<bool>("sent");
    // Card: 300 bytes of name, seven one-byte fields, the address makes up the rest.
    const auto card = [](int fieldBytes) {
        QStringList fields(9, "x");
        fields[0] = QString(100, QChar(0x7801));
        fields[7] = QString(fieldBytes - 300 - 7, 'a');
        return fields;
    };
    QTest::newRow("card fields of 558 bytes") << Page::Card << card(558) << true;
    QTest::newRow("card fields of 559 bytes") << Page::Card << card(559) << false;
    // SMS: a five-digit number and a Chinese body, 663 bytes, plus ASCII.
    const QString body(221, QChar(0x4FE1));
    QTest::newRow("sms number and body of 668 bytes") << Page::Sms << QStringList{"10086", body} << true;
    QTest::newRow("sms number and body of 669 bytes") << Page::Sms << QStringList{"10086", body + "!"} << false;
    // clang-format on
}

void TestPages::lengthLimitsAtTheServer() {
    QFETCH(Page, page);
    QFETCH(QStringList, fields);
    QFETCH(bool, sent);
    testsupport::FixtureServer server;
    const auto request = std::get<qr::QrRequest>(PlanPage(page, fields));
    const std::string url = qr::RequestPrefix(request.kind, server.baseAddress()) + request.encodedPayload;
    QCOMPARE(qr::FetchUrl(url).body.empty(), !sent);
    QCOMPARE(server.connectionCount(), sent ? 1 : 0);
}

QTEST_APPLESS_MAIN(TestPages)
#include "tst_pages.moc"
