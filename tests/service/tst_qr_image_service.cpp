// qr-image-service as a real process on 127.0.0.1: its answers, round trips
// through zbarimg, and its behaviour towards slow and hostile clients, these
// also on its Unix socket.
#include "support/qr_decode.h"
#include "support/service_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QtTest>

#include <chrono>
#include <memory>

using testsupport::Endpoint;
using testsupport::ServiceProcess;
using testsupport::Transport;

Q_DECLARE_METATYPE(Transport)

namespace {

// Well over the 256 connections that once held every slot of the service.
constexpr int kSlowClients = 500;
constexpr auto kTrickleInterval = std::chrono::milliseconds(100);

class Socket {
public:
    explicit Socket(const Endpoint& endpoint) : fd_(testsupport::Connect(endpoint)) {}
    ~Socket() {
        if (fd_ >= 0) close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    bool connected() const { return fd_ >= 0; }

    // The server may answer and close before it has read everything; the
    // rest is then simply not sent.
    void send(const QByteArray& bytes) {
        qsizetype sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.constData() + sent, std::size_t(bytes.size() - sent), MSG_NOSIGNAL);
            if (n <= 0) return;
            sent += n;
        }
    }

    bool readableWithin(std::chrono::milliseconds wait) {
        pollfd entry{fd_, POLLIN, 0};
        return poll(&entry, 1, int(wait.count())) > 0;
    }

    // Everything until the server closes, or until the hang guard.
    QByteArray receiveAll(bool* closedByServer = nullptr) {
        QByteArray received;
        char buffer[16384];
        ssize_t n;
        while ((n = recv(fd_, buffer, sizeof buffer, 0)) > 0)
            received.append(buffer, n);
        if (closedByServer) *closedByServer = n == 0 || (n < 0 && errno == ECONNRESET);
        return received;
    }

private:
    int fd_ = -1;
};

struct HttpReply {
    int status = 0;
    QMap<QByteArray, QByteArray> headers;  // names in lower case
    QByteArray body;
};

HttpReply ParseReply(const QByteArray& bytes) {
    HttpReply reply;
    const qsizetype headEnd = bytes.indexOf("\r\n\r\n");
    if (headEnd < 0) return reply;
    const QList<QByteArray> lines = bytes.left(headEnd).split('\n');
    const QList<QByteArray> statusLine = lines.first().split(' ');
    if (statusLine.size() >= 2 && statusLine[0].startsWith("HTTP/1.")) reply.status = statusLine[1].toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0) reply.headers[lines[i].left(colon).toLower()] = lines[i].mid(colon + 1).trimmed();
    }
    reply.body = bytes.mid(headEnd + 4);
    return reply;
}

HttpReply Exchange(const Endpoint& endpoint, const QByteArray& request) {
    Socket socket(endpoint);
    socket.send(request);
    return ParseReply(socket.receiveAll());
}

// The request the desktop program sends, less its two fixed header fields.
QByteArray GetRequest(const QByteArray& target, const QByteArray& method = "GET") {
    return method + " " + target +
           " HTTP/1.0\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n"
           "Accept: */*\r\n\r\n";
}

// Every byte as "%" and two upper-case hex digits, as the desktop program writes it.
QByteArray EscapeEveryByte(const QByteArray& payload) {
    QByteArray escaped;
    for (char byte : payload)
        escaped += "%" + QByteArray::number(std::uint8_t(byte), 16).rightJustified(2, '0').toUpper();
    return escaped;
}

QByteArray DesktopTarget(const QByteArray& payload) {
    return "/api.php?el=l&m=10&w=300&text=" + EscapeEveryByte(payload);
}

// The width and height in a PNG's IHDR chunk.
std::pair<int, int> PngSize(const QByteArray& png) {
    if (png.size() < 24 || !png.startsWith("\x89PNG\r\n\x1a\n")) return {0, 0};
    const auto word = [&](int at) { return qFromBigEndian<quint32>(png.constData() + at); };
    return {int(word(16)), int(word(20))};
}

void AddTransportColumn() {
    QTest::addColumn<Transport>("transport");
    QTest::newRow("TCP") << Transport::Tcp;
    QTest::newRow("Unix socket") << Transport::UnixSocket;
}

}  // namespace

class TstQrImageService : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void answers_data();
    void answers();
    void roundTrip_data();
    void roundTrip();
    void logsOneLineWithoutPayload();
    void slowClientsDoNotBlockOthers_data() { AddTransportColumn(); }
    void slowClientsDoNotBlockOthers();
    void tricklingHeadIsClosed_data() { AddTransportColumn(); }
    void tricklingHeadIsClosed();
    void idleConnectionsTimeOut();
    void connectionLimitQueuesNewClients();
    void stopsCleanly_data();
    void stopsCleanly();

private:
    std::unique_ptr<ServiceProcess> service_;
};

void TstQrImageService::initTestCase() {
    // The slow clients need a file each.
    rlimit files{};
    QVERIFY(getrlimit(RLIMIT_NOFILE, &files) == 0);
    files.rlim_cur = files.rlim_max;
    QVERIFY(setrlimit(RLIMIT_NOFILE, &files) == 0);
    QVERIFY2(files.rlim_cur > kSlowClients + 64, "the hard open-file limit is too low for this test");
    service_ = std::make_unique<ServiceProcess>();
}

// A clean exit also means no sanitizer finding in a sanitized build.
void TstQrImageService::cleanupTestCase() {
    QCOMPARE(service_->stop(), 0);
    service_.reset();
}

void TstQrImageService::answers_data() {
    // clang-format off
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("contentType");  // empty: libmicrohttpd answers on its own
    QTest::addColumn<QByteArray>("bodyStart");

    const QByteArray png = "image/png";
    const QByteArray text = "text/plain; charset=utf-8";
    QTest::newRow("desktop request") << GetRequest(DesktopTarget("a b码")) << 200 << png
                                     << QByteArray("\x89PNG");
    QTest::newRow("HEAD") << GetRequest(DesktopTarget("a"), "HEAD") << 200 << png << QByteArray();
    QTest::newRow("HTTP/1.1 with Host")
        << QByteArray("GET /api.php?text=a HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n") << 200 << png
        << QByteArray("\x89PNG");
    QTest::newRow("text missing") << GetRequest("/api.php?el=l&m=10&w=300") << 400 << text
                                  << QByteArray("text is missing or empty\n");
    QTest::newRow("text empty") << GetRequest("/api.php?el=l&m=10&w=300&text=") << 400 << text
                                << QByteArray("text is missing or empty\n");
    QTest::newRow("bad escape") << GetRequest("/api.php?text=%E7%A0%8") << 400 << text
                                << QByteArray("malformed query");
    QTest::newRow("beyond capacity") << GetRequest("/api.php?el=h&text=" + QByteArray(1300, 'a')) << 413
                                     << text << QByteArray("text of 1300 bytes is beyond");
    QTest::newRow("width out of range")
        << GetRequest("/api.php?text=a&w=5000") << 400 << text << QByteArray("w must be");
    QTest::newRow("margin out of range")
        << GetRequest("/api.php?text=a&m=-3") << 400 << text << QByteArray("m must be");
    QTest::newRow("symbol does not fit")
        << GetRequest("/api.php?text=a&w=30&m=5") << 400 << text << QByteArray("a symbol of 21 modules");
    QTest::newRow("other path") << GetRequest("/index.html?text=a") << 404 << text << QByteArray("not found");
    QTest::newRow("POST") << QByteArray("POST /api.php?text=a HTTP/1.0\r\nContent-Length: 3\r\n\r\nabc")
                          << 405 << text << QByteArray("method not allowed");
    QTest::newRow("DELETE") << GetRequest("/api.php?text=a", "DELETE") << 405 << text
                            << QByteArray("method not allowed");
    QTest::newRow("target too long") << GetRequest("/api.php?text=" + QByteArray(5000, 'a')) << 414 << text
                                     << QByteArray("request target longer than 4096 bytes\n");
    QTest::newRow("header fields too long")
        << QByteArray("GET /api.php?text=a HTTP/1.0\r\nX-Filler: " + QByteArray(9000, 'x') + "\r\n\r\n")
        << 431 << text << QByteArray("header fields longer than 8192 bytes\n");
    QTest::newRow("target beyond connection memory")
        << GetRequest("/api.php?text=" + QByteArray(40000, 'a')) << 414 << QByteArray() << QByteArray();
    QTest::newRow("header fields beyond connection memory")
        << QByteArray("GET /api.php?text=a HTTP/1.0\r\nX-Filler: " + QByteArray(40000, 'x') + "\r\n\r\n")
        << 431 << QByteArray() << QByteArray();
    // clang-format on
}

void TstQrImageService::answers() {
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, bodyStart);

    const HttpReply reply = Exchange(service_->endpoint(), request);
    QCOMPARE(reply.status, status);
    QVERIFY(reply.headers.contains("content-length"));
    if (contentType.isEmpty()) return;

    QCOMPARE(reply.headers.value("content-type"), contentType);
    QCOMPARE(reply.headers.value("cache-control"), QByteArray("no-store"));
    QVERIFY(reply.body.startsWith(bodyStart));
    if (request.startsWith("HEAD")) {
        QVERIFY(reply.body.isEmpty());
        QVERIFY(reply.headers.value("content-length").toInt() > 0);
    } else {
        QCOMPARE(reply.headers.value("content-length").toInt(), reply.body.size());
    }
    if (status == 405) QCOMPARE(reply.headers.value("allow"), QByteArray("GET, HEAD"));
    if (contentType.startsWith("text/")) {
        QVERIFY(reply.body.endsWith('\n'));
        QCOMPARE(reply.body.count('\n'), 1);
    }
}

void TstQrImageService::roundTrip_data() {
    // clang-format off
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("width");

    const QByteArray chinese = QStringLiteral("二维码生成器：离线也能用，不把文字交给别人。").toUtf8();
    QByteArray longest;
    while (longest.size() < 672) longest += QStringLiteral("码").toUtf8() + "a\r\n";
    longest.truncate(672);
    QByteArray everyByte;
    for (int byte = 0x01; byte <= 0xFF; ++byte) everyByte += char(byte);
    const QByteArray sms = "smsto:10086:" + QStringLiteral("你好").toUtf8();

    QTest::newRow("a b码") << DesktopTarget("a b码") << QByteArray("a b码") << 300;
    QTest::newRow("UTF-8 Chinese") << DesktopTarget(chinese) << chinese << 300;
    QTest::newRow("CR LF") << DesktopTarget("line 1\r\nline 2\r\n") << QByteArray("line 1\r\nline 2\r\n")
                           << 300;
    QTest::newRow("ends in LF") << DesktopTarget("abc\n") << QByteArray("abc\n") << 300;
    QTest::newRow("672 bytes") << DesktopTarget(longest) << longest << 300;
    QTest::newRow("every byte 0x01-0xFF") << DesktopTarget(everyByte) << everyByte << 300;
    QTest::newRow("text message form")
        << "/api.php?el=l&m=10&w=300&text=smsto" + EscapeEveryByte(sms.mid(5)) << sms << 300;
    QTest::newRow("other width and level")
        << "/api.php?text=" + EscapeEveryByte(chinese) + "&w=517&el=h&m=0" << chinese << 517;
    // clang-format on
}

void TstQrImageService::roundTrip() {
    QFETCH(QByteArray, target);
    QFETCH(QByteArray, payload);
    QFETCH(int, width);

    const HttpReply reply = Exchange(service_->endpoint(), GetRequest(target));
    QCOMPARE(reply.status, 200);
    QCOMPARE(PngSize(reply.body), std::make_pair(width, width));
    const std::optional<std::string> decoded =
        testsupport::DecodeQrImage(std::vector<std::uint8_t>(reply.body.begin(), reply.body.end()));
    QVERIFY(decoded);
    QCOMPARE(QByteArray::fromStdString(*decoded), payload);
}

void TstQrImageService::logsOneLineWithoutPayload() {
    ServiceProcess service;
    const QByteArray secret = "wifi-password-Zq7";
    QCOMPARE(Exchange(service.endpoint(), GetRequest("/api.php?text=" + secret)).status, 200);
    QCOMPARE(Exchange(service.endpoint(), GetRequest("/api.php?w=1&text=" + secret)).status, 400);

    const QByteArray log = QByteArray::fromStdString(service.log());
    QVERIFY2(!log.contains(secret), log.constData());
    QCOMPARE(log.count("GET /api.php 200"), 1);
    QCOMPARE(log.count("GET /api.php 400"), 1);
}

// Part of a request line on each, then a byte every round: each byte keeps
// the connection from going idle. The service must answer someone else at
// once, not after they give up, which here is never.
void TstQrImageService::slowClientsDoNotBlockOthers() {
    QFETCH(Transport, transport);
    ServiceProcess service(transport, {"--timeout", "600", "--head-timeout", "600"});
    std::vector<std::unique_ptr<Socket>> slowClients;
    for (int i = 0; i < kSlowClients; ++i) {
        slowClients.push_back(std::make_unique<Socket>(service.endpoint()));
        QVERIFY(slowClients.back()->connected());
        slowClients.back()->send("GET /api.php?te");
    }
    Socket probe(service.endpoint());
    probe.send(GetRequest(DesktopTarget("still served")));
    bool answered = false;
    for (int round = 0; round < 20 && !answered; ++round) {
        answered = probe.readableWithin(kTrickleInterval);
        for (const auto& slow : slowClients)
            slow->send("x");
    }
    QVERIFY(answered);
    QCOMPARE(ParseReply(probe.receiveAll()).status, 200);
}

// A client that trickles its head is never idle; the head time-out still
// ends it.
void TstQrImageService::tricklingHeadIsClosed() {
    QFETCH(Transport, transport);
    ServiceProcess service(transport, {"--timeout", "600", "--head-timeout", "1"});
    Socket slow(service.endpoint());
    slow.send("GET /api.php?te");
    bool ended = false;
    for (int round = 0; round < 50 && !ended; ++round) {
        ended = slow.readableWithin(kTrickleInterval);
        slow.send("x");
    }
    QVERIFY(ended);
    bool closedByServer = false;
    QCOMPARE(slow.receiveAll(&closedByServer), QByteArray());
    QVERIFY(closedByServer);
    const QByteArray log = QByteArray::fromStdString(service.log());
    QVERIFY2(log.contains("closing 1 connection(s) without a complete request head after 1 s"), log.constData());
}

void TstQrImageService::idleConnectionsTimeOut() {
    ServiceProcess service({"--timeout", "1"});
    Socket idle(service.endpoint());
    idle.send("GET /api.php?te");
    bool closedByServer = false;
    idle.receiveAll(&closedByServer);
    QVERIFY(closedByServer);
}

// With every slot held by silent clients a new client waits in the listen
// queue; closing one of them lets it in.
void TstQrImageService::connectionLimitQueuesNewClients() {
    ServiceProcess service({"--max-connections", "4", "--threads", "1"});
    std::vector<std::unique_ptr<Socket>> silent;
    for (int i = 0; i < 4; ++i)
        silent.push_back(std::make_unique<Socket>(service.endpoint()));
    Socket waiting(service.endpoint());
    waiting.send(GetRequest(DesktopTarget("after the wait")));
    QVERIFY(!waiting.readableWithin(std::chrono::milliseconds(500)));

    silent.pop_back();
    QCOMPARE(ParseReply(waiting.receiveAll()).status, 200);
}

void TstQrImageService::stopsCleanly_data() {
    // clang-format off
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    // clang-format on
}

void TstQrImageService::stopsCleanly() {
    QFETCH(int, signal);
    ServiceProcess service;
    Socket idle(service.endpoint());
    QVERIFY(kill(service.pid(), signal) == 0);
    QCOMPARE(service.stop(), 0);
    QVERIFY(QByteArray::fromStdString(service.log()).contains("stopping"));
}

QTEST_GUILESS_MAIN(TstQrImageService)
#include "tst_qr_image_service.moc"
