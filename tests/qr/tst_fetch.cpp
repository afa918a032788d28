#include "qr/qr.h"
#include "support/fixture_server.h"

#include <QtTest>

using testsupport::Answer;
using testsupport::FixtureServer;
using testsupport::HttpAnswer;
using testsupport::HttpHead;

Q_DECLARE_METATYPE(testsupport::Answer)
Q_DECLARE_METATYPE(qr::RequestKind)
Q_DECLARE_METATYPE(qr::FetchFailure)

namespace {

QByteArray ToBytes(const qr::Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

// Small enough to overrun; the stall limit and the deadline as the row gives them.
qr::FetchLimits TestLimits(long stallTimeoutMs = qr::FetchLimits{}.stallTimeoutMs,
                           long totalTimeoutMs = qr::FetchLimits{}.totalTimeoutMs) {
    qr::FetchLimits limits;
    limits.stallTimeoutMs = stallTimeoutMs;
    limits.totalTimeoutMs = totalTimeoutMs;
    limits.maxBodyBytes = 64 * 1024;
    return limits;
}

}  // namespace

class TestFetch : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void sendsExactlyTheFixedRequest();
    void resultFollowsTheAnswer_data();
    void resultFollowsTheAnswer();
    void unreachableHostGivesNoBytes();
    void targetLengthLimit_data();
    void targetLengthLimit();
    void otherSchemesMakeNoTraffic();
    void loopbackHostsBypassTheProxy_data();
    void loopbackHostsBypassTheProxy();
    void generateFailedMessage_data();
    void generateFailedMessage();
};

// A dead proxy in the environment: every fetch below reaching the server
// shows that loopback hosts are not routed through it.
void TestFetch::initTestCase() {
    if (!qEnvironmentVariableIsSet("http_proxy")) qputenv("http_proxy", "http://127.0.0.1:9");
}

void TestFetch::sendsExactlyTheFixedRequest() {
    FixtureServer server;
    const std::string url =
        qr::RequestPrefix(qr::RequestKind::Plain, server.baseAddress()) + qr::EncodePayload("a b码");
    QCOMPARE(ToBytes(qr::FetchUrl(url).body), QByteArray::fromStdString(testsupport::SamplePng()));
    // clang-format off
    const std::vector<std::string> expected{
        "GET /api.php?el=l&m=10&w=300&text=%61%20%62%E7%A0%81 HTTP/1.0\r\n"
        "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n"
        "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n"
        "Accept: */*\r\n"
        "\r\n"};
    // clang-format on
    QCOMPARE(server.requests(), expected);
}

void TestFetch::resultFollowsTheAnswer_data() {
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<QByteArray>("result");
    QTest::addColumn<qr::FetchFailure>("failure");
    // Only the stall and deadline rows wait for their limit; the others keep
    // the defaults, so a slow start on a loaded machine cannot end them early.
    QTest::addColumn<long>("stallTimeoutMs");
    QTest::addColumn<long>("totalTimeoutMs");
    using Failure = qr::FetchFailure;
    const qr::FetchLimits limits = TestLimits();
    const long normal = limits.stallTimeoutMs;
    const long shortStall = 300;
    const long deadline = limits.totalTimeoutMs;
    const long shortDeadline = 1000;
    const std::string html = "<html><body>Not Found</body></html>";
    const std::string body(60'000, 'b');
    const std::string atCap(limits.maxBodyBytes, 'c');
    const std::string overCap(limits.maxBodyBytes + 1, 'c');
    const std::string partial(300, 'p');
    const std::string redirect = "HTTP/1.0 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 5\r\n\r\nmoved";

    QTest::newRow("404 with HTML gives the HTML")
        << HttpAnswer(404, html, "text/html") << QByteArray::fromStdString(html) << Failure::None << normal << deadline;
    QTest::newRow("200 empty gives no bytes")
        << HttpAnswer(200, "") << QByteArray() << Failure::None << normal << deadline;
    QTest::newRow("no Content-Length read to the end")
        << HttpAnswer(200, body, "image/png", false) << QByteArray::fromStdString(body) << Failure::None << normal
        << deadline;
    QTest::newRow("redirect not followed")
        << Answer{redirect} << QByteArray("moved") << Failure::None << normal << deadline;
    QTest::newRow("reset mid-body keeps the bytes before")
        << Answer{HttpHead(200, "image/png", 1000) + partial, Answer::Ending::Reset}
        << QByteArray::fromStdString(partial) << Failure::Interrupted << normal << deadline;
    QTest::newRow("close before Content-Length keeps the bytes")
        << Answer{HttpHead(200, "image/png", 1000) + partial} << QByteArray::fromStdString(partial)
        << Failure::Interrupted << normal << deadline;
    QTest::newRow("stall mid-body keeps the bytes before")
        << Answer{HttpHead(200, "image/png") + partial, Answer::Ending::Stall} << QByteArray::fromStdString(partial)
        << Failure::TimedOut << shortStall << deadline;
    QTest::newRow("stall before any answer gives no bytes")
        << Answer{"", Answer::Ending::Stall} << QByteArray() << Failure::TimedOut << shortStall << deadline;
    // A byte every 100 ms never trips the stall limit; the deadline ends it.
    QTest::newRow("trickling head ends at the deadline")
        << Answer{"HTTP/1.0 200 OK\r\nX-Slow: ", Answer::Ending::Trickle} << QByteArray() << Failure::TimedOut << normal
        << shortDeadline;
    QTest::newRow("not HTTP gives no bytes")
        << Answer{"SSH-2.0-OpenSSH_9.2\r\n"} << QByteArray() << Failure::Unusable << normal << deadline;
    QTest::newRow("body at the cap") << HttpAnswer(200, atCap) << QByteArray::fromStdString(atCap) << Failure::None
                                     << normal << deadline;
    QTest::newRow("body over the cap gives no bytes")
        << HttpAnswer(200, overCap) << QByteArray() << Failure::Unusable << normal << deadline;
    QTest::newRow("over the cap without Content-Length gives no bytes")
        << HttpAnswer(200, overCap, "image/png", false) << QByteArray() << Failure::Unusable << normal << deadline;
    QTest::newRow("endless stream gives no bytes") << Answer{HttpHead(200, "image/png"), Answer::Ending::Stream}
                                                   << QByteArray() << Failure::Unusable << normal << deadline;
}

void TestFetch::resultFollowsTheAnswer() {
    QFETCH(Answer, answer);
    QFETCH(QByteArray, result);
    QFETCH(qr::FetchFailure, failure);
    QFETCH(long, stallTimeoutMs);
    QFETCH(long, totalTimeoutMs);
    FixtureServer server;
    server.enqueue(answer);
    const qr::FetchResult fetched =
        qr::FetchUrl(server.baseAddress() + "/api.php?text=%41", TestLimits(stallTimeoutMs, totalTimeoutMs));
    QCOMPARE(ToBytes(fetched.body), result);
    QCOMPARE(fetched.failure, failure);
    QCOMPARE(server.connectionCount(), 1);
}

void TestFetch::unreachableHostGivesNoBytes() {
    const testsupport::RefusingPort nobody;
    const qr::FetchResult fetched = qr::FetchUrl(nobody.baseAddress() + "/api.php?text=%41");
    QCOMPARE(ToBytes(fetched.body), QByteArray());
    QCOMPARE(fetched.failure, qr::FetchFailure::CannotConnect);
}

void TestFetch::targetLengthLimit_data() {
    QTest::addColumn<qr::RequestKind>("kind");
    QTest::addColumn<int>("payloadBytes");
    QTest::addColumn<bool>("sent");
    QTest::newRow("plain prefix, 672 bytes") << qr::RequestKind::Plain << 672 << true;
    QTest::newRow("plain prefix, 673 bytes") << qr::RequestKind::Plain << 673 << false;
    QTest::newRow("text-message prefix, 670 bytes") << qr::RequestKind::TextMessage << 670 << true;
    QTest::newRow("text-message prefix, 671 bytes") << qr::RequestKind::TextMessage << 671 << false;
}

void TestFetch::targetLengthLimit() {
    QFETCH(qr::RequestKind, kind);
    QFETCH(int, payloadBytes);
    QFETCH(bool, sent);
    FixtureServer server;
    const std::string url = qr::RequestPrefix(kind, server.baseAddress()) +
                            qr::EncodePayload(std::string(static_cast<std::size_t>(payloadBytes), 'a'));
    const qr::FetchResult fetched = qr::FetchUrl(url);
    QCOMPARE(fetched.body.empty(), !sent);
    QCOMPARE(fetched.failure, sent ? qr::FetchFailure::None : qr::FetchFailure::NotSent);
    QCOMPARE(server.connectionCount(), sent ? 1 : 0);
}

void TestFetch::otherSchemesMakeNoTraffic() {
    FixtureServer server;
    const std::string https = "https" + server.baseAddress().substr(4) + "/api.php?text=%41";
    const qr::FetchResult fetched = qr::FetchUrl(https);
    QCOMPARE(ToBytes(fetched.body), QByteArray());
    QCOMPARE(fetched.failure, qr::FetchFailure::NotSent);
    QCOMPARE(server.connectionCount(), 0);
}

void TestFetch::loopbackHostsBypassTheProxy_data() {
    QTest::addColumn<QString>("host");
    QTest::newRow("127.0.0.1") << "127.0.0.1";
    QTest::newRow("localhost") << "localhost";
    QTest::newRow("upper-case LOCALHOST") << "LOCALHOST";
}

void TestFetch::loopbackHostsBypassTheProxy() {
    QFETCH(QString, host);
    FixtureServer server;
    const std::string url = "http://" + host.toStdString() + ":" + std::to_string(server.port()) + "/";
    QCOMPARE(ToBytes(qr::FetchUrl(url).body), QByteArray::fromStdString(testsupport::SamplePng()));
}

// The first line stays as it is; a second one names the service when it is
// to blame, never when the text was too long to send.
void TestFetch::generateFailedMessage_data() {
    QTest::addColumn<qr::FetchFailure>("failure");
    QTest::addColumn<QString>("message");
    using Failure = qr::FetchFailure;
    const QString first = "生成二维码失败！建议减少字数试试！";
    QTest::newRow("not sent") << Failure::NotSent << first;
    QTest::newRow("answer is no picture") << Failure::None << first + "\n二维码图片服务返回的不是图片。";
    QTest::newRow("unusable answer") << Failure::Unusable << first + "\n二维码图片服务返回的不是图片。";
    QTest::newRow("cannot connect") << Failure::CannotConnect << first + "\n无法连接二维码图片服务，请稍后再试。";
    QTest::newRow("timed out") << Failure::TimedOut << first + "\n二维码图片服务没有响应，请稍后再试。";
    QTest::newRow("interrupted") << Failure::Interrupted << first + "\n与二维码图片服务的连接中断了，请稍后再试。";
}

void TestFetch::generateFailedMessage() {
    QFETCH(qr::FetchFailure, failure);
    QFETCH(QString, message);
    QCOMPARE(QString::fromStdString(qr::GenerateFailedMessage(failure)), message);
}

QTEST_APPLESS_MAIN(TestFetch)
#include "tst_fetch.moc"
