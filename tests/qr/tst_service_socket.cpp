// Where the private service's socket lives, the checks that keep its folder
// the user's own, and the request that goes over it.
#include "qr/qr.h"

#include <QTemporaryDir>
#include <QtTest>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <thread>

class TestServiceSocket : public QObject {
    Q_OBJECT

private slots:
    void sendsTheSameRequestOverTheSocket();
    void folderCheck_data();
    void folderCheck();
    void socketPath_data();
    void socketPath();
    void programCandidates();
};

namespace {

bool MakeFolder(const QString& path, mode_t mode) {
    const QByteArray name = path.toLocal8Bit();
    return mkdir(name.constData(), 0700) == 0 && chmod(name.constData(), mode) == 0;
}

// Takes one connection on `listener` and answers "ok"; returns the request
// as it arrived, up to its blank line.
std::string AnswerOnce(int listener) {
    constexpr int kWaitMs = 10'000;
    pollfd waiting{listener, POLLIN, 0};
    if (poll(&waiting, 1, kWaitMs) != 1) return {};
    const int connection = accept(listener, nullptr, nullptr);
    std::string request;
    char chunk[512];
    pollfd reading{connection, POLLIN, 0};
    while (request.find("\r\n\r\n") == std::string::npos && poll(&reading, 1, kWaitMs) == 1) {
        const ssize_t got = read(connection, chunk, sizeof chunk);
        if (got <= 0) break;
        request.append(chunk, std::size_t(got));
    }
    const std::string_view answer = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok";
    if (write(connection, answer.data(), answer.size()) != ssize_t(answer.size())) request += "(answer not sent)";
    close(connection);
    return request;
}

}  // namespace

void TestServiceSocket::sendsTheSameRequestOverTheSocket() {
    QTemporaryDir dir;
    const std::string path = dir.filePath("qr.sock").toStdString();
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    QVERIFY(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0);
    QVERIFY(listen(listener, 1) == 0);

    std::string request;
    std::thread server([&] { request = AnswerOnce(listener); });
    const qr::Bytes body =
        qr::FetchUrl(qr::RequestPrefix(qr::RequestKind::Plain, "http://127.0.0.1:8731") + qr::EncodePayload("a b码"),
                     {}, path)
            .body;
    server.join();
    close(listener);

    QCOMPARE(std::string(body.begin(), body.end()), std::string("ok"));
    QCOMPARE(request, std::string("GET /api.php?el=l&m=10&w=300&text=%61%20%62%E7%A0%81 HTTP/1.0\r\n"
                                  "Host: 127.0.0.1:8731\r\n"
                                  "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n"
                                  "Accept: */*\r\n"
                                  "\r\n"));
}

void TestServiceSocket::folderCheck_data() {
    // clang-format off
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("ownerOffset");  // added to our uid to give the owner asked for
    QTest::addColumn<int>("check");

    QTest::newRow("private") << "0700" << 0 << int(qr::FolderCheck::Private);
    QTest::newRow("missing") << "missing" << 0 << int(qr::FolderCheck::Missing);
    QTest::newRow("a file") << "file" << 0 << int(qr::FolderCheck::NotAFolder);
    QTest::newRow("link to a private folder") << "link" << 0 << int(qr::FolderCheck::Link);
    QTest::newRow("not ours") << "0700" << 1 << int(qr::FolderCheck::NotOwned);
    QTest::newRow("group may read") << "0740" << 0 << int(qr::FolderCheck::OpenToOthers);
    QTest::newRow("others may enter") << "0701" << 0 << int(qr::FolderCheck::OpenToOthers);
    QTest::newRow("sticky and open") << "1777" << 0 << int(qr::FolderCheck::OpenToOthers);
    // clang-format on
}

void TestServiceSocket::folderCheck() {
    QFETCH(QString, kind);
    QFETCH(int, ownerOffset);
    QTemporaryDir dir;
    const QString path = dir.filePath("qrgen");
    if (kind == "file")
        QVERIFY(QFile(path).open(QIODevice::WriteOnly));
    else if (kind == "link")
        QVERIFY(QFile::link(dir.path(), path));
    else if (kind != "missing")
        QVERIFY(MakeFolder(path, mode_t(kind.toUInt(nullptr, 8))));

    QTEST(int(qr::CheckPrivateFolder(path.toStdString(), geteuid() + uid_t(ownerOffset))), "check");
}

void TestServiceSocket::socketPath_data() {
    // clang-format off
    QTest::addColumn<QString>("runtimeDir");  // "" unset; relative to the test's folder
    QTest::addColumn<QString>("prepare");     // what is found in the runtime dir's place
    QTest::addColumn<QString>("expected");    // relative to the test's folder; "" none

    const QString uid = QString::number(geteuid());
    const QString fallback = "fallback/qrgen-" + uid + "/qr-image-service.sock";
    QTest::newRow("runtime dir") << "run" << "0700" << "run/qrgen/qr-image-service.sock";
    QTest::newRow("runtime dir unset") << "" << "" << fallback;
    QTest::newRow("runtime dir missing") << "run" << "" << fallback;
    QTest::newRow("runtime dir open to others") << "run" << "0755" << fallback;
    QTest::newRow("qrgen a link") << "run" << "link" << "";
    QTest::newRow("qrgen open to others") << "run" << "open" << "";
    QTest::newRow("fallback taken by a file") << "" << "fallback file" << "";
    // clang-format on
}

void TestServiceSocket::socketPath() {
    QFETCH(QString, runtimeDir);
    QFETCH(QString, prepare);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString run = dir.filePath("run");
    QVERIFY(QDir().mkdir(dir.filePath("fallback")));
    if (prepare == "0700" || prepare == "0755") QVERIFY(MakeFolder(run, mode_t(prepare.toUInt(nullptr, 8))));
    if (prepare == "link" || prepare == "open") QVERIFY(MakeFolder(run, 0700));
    if (prepare == "link") QVERIFY(QFile::link(dir.path(), run + "/qrgen"));
    if (prepare == "open") QVERIFY(MakeFolder(run + "/qrgen", 0750));
    if (prepare == "fallback file")
        QVERIFY(QFile(dir.filePath("fallback/qrgen-" + QString::number(geteuid()))).open(QIODevice::WriteOnly));

    const auto path = qr::PrivateSocketPath({
        .runtimeDir = runtimeDir.isEmpty() ? "" : dir.filePath(runtimeDir).toStdString(),
        .fallbackRoot = dir.filePath("fallback").toStdString(),
    });
    if (expected.isEmpty()) {
        QCOMPARE(path, std::nullopt);
        return;
    }
    QCOMPARE(path, std::optional<std::string>(dir.filePath(expected).toStdString()));
    const QString folder = QFileInfo(QString::fromStdString(*path)).path();
    QCOMPARE(int(qr::CheckPrivateFolder(folder.toStdString(), geteuid())), int(qr::FolderCheck::Private));
}

void TestServiceSocket::programCandidates() {
    QCOMPARE(qr::ServiceProgramCandidates("/opt/qrgen/bin/qrgen"),
             (std::vector<std::string>{"/opt/qrgen/bin/../libexec/qrgen/qr-image-service",
                                       "/opt/qrgen/bin/../service/qr-image-service"}));
}

QTEST_GUILESS_MAIN(TestServiceSocket)
#include "tst_service_socket.moc"
