// The window reaching its own private service, with no service running at
// first: started on demand, shared, restarted, and closed to other accounts.
// Each test has its own runtime folder and ends every service it caused.
#include "support/fake_platform.h"
#include "support/private_service_peer.h"
#include "support/qr_decode.h"
#include "window_driver.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <memory>

namespace {

constexpr uid_t kNobody = 65534;
constexpr int kWaitLimitMs = 10'000;

mode_t ModeOf(const QString& path) {
    struct stat status {};
    return lstat(path.toLocal8Bit().constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// What the picture box holds after one press of the text page's button;
// nullopt when it holds nothing.
std::optional<std::string> GenerateText(MainWindow& window, const QString& text) {
    Fill(window, {"编辑框_文本=" + text});
    QTest::mouseClick(Find(window, "按钮1"), Qt::LeftButton);
    const auto& picture = Find<PictureBox>(window, "图片框1")->picture();
    if (picture.empty()) return std::nullopt;
    return testsupport::DecodeQrImage(picture);
}

// Connects to `socketPath` as the account `uid` in a forked child; 0 when
// refused for lack of permission, 1 when connected.
int ConnectAs(uid_t uid, const std::string& socketPath) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    const pid_t child = fork();
    if (child == 0) {
        // Only async-signal-safe calls: the test has threads.
        if (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0) _exit(3);
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) _exit(1);
        _exit(errno == EACCES ? 0 : 2);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace

class TestPrivateService : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void generateStartsOneSharedService();
    void serviceIsStartedAgain_data();
    void serviceIsStartedAgain();
    void unsafeFolderFailsWithoutService_data();
    void unsafeFolderFailsWithoutService();
    void otherAccountCannotConnect_data();
    void otherAccountCannotConnect();
    void twoServicesStartedAtOnceLeaveOne();
    void idleServiceEnds();

private:
    QString folder() const { return runtime_->filePath(QStringLiteral("qrgen")); }
    std::string socketPath() const { return (folder() + QStringLiteral("/qr-image-service.sock")).toStdString(); }
    // The service itself, as the program would start it.
    std::unique_ptr<QProcess> startService(const QStringList& extraArgs);

    std::unique_ptr<QTemporaryDir> runtime_;
    qr::ServiceOptions service_;
    FakePlatform platform_;
    std::unique_ptr<MainWindow> window_;
};

void TestPrivateService::init() {
    runtime_ = std::make_unique<QTemporaryDir>();
    QVERIFY(runtime_->isValid());
    qputenv("XDG_RUNTIME_DIR", runtime_->path().toLocal8Bit());
    service_ = qr::ServiceOptions{.privateService = qr::PrivateService{.runtimeDir = runtime_->path().toStdString(),
                                                                       .program = testsupport::ServiceProgramPath()}};
    platform_ = FakePlatform();
    window_ = std::make_unique<MainWindow>(platform_, service_);
}

void TestPrivateService::cleanup() {
    window_.reset();
    for (pid_t pid = testsupport::ServerPid(socketPath()); pid > 0; pid = testsupport::ServerPid(socketPath()))
        QVERIFY(testsupport::KillAndWait(pid, SIGKILL));
    runtime_.reset();
}

std::unique_ptr<QProcess> TestPrivateService::startService(const QStringList& extraArgs) {
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(QString::fromStdString(testsupport::ServiceProgramPath()),
                   QStringList{"--socket", QString::fromStdString(socketPath())} + extraArgs);
    return process;
}

void TestPrivateService::generateStartsOneSharedService() {
    QCOMPARE(GenerateText(*window_, "私有服务 first"), std::optional<std::string>("私有服务 first"));
    QCOMPARE(platform_.messages, std::vector<ShownMessage>{});
    QCOMPARE(ModeOf(folder()), mode_t(0700));
    QCOMPARE(ModeOf(QString::fromStdString(socketPath())), mode_t(0600));
    const pid_t pid = testsupport::ServerPid(socketPath());
    QVERIFY(pid > 0);

    QCOMPARE(GenerateText(*window_, "second"), std::optional<std::string>("second"));
    QCOMPARE(testsupport::ServerPid(socketPath()), pid);
    FakePlatform otherPlatform;
    MainWindow otherWindow(otherPlatform, service_);
    QCOMPARE(GenerateText(otherWindow, "another window"), std::optional<std::string>("another window"));
    QCOMPARE(testsupport::ServerPid(socketPath()), pid);
}

void TestPrivateService::serviceIsStartedAgain_data() {
    // clang-format off
    QTest::addColumn<bool>("killed");
    QTest::newRow("service killed while the window is open") << true;
    QTest::newRow("stale socket file") << false;
    // clang-format on
}

void TestPrivateService::serviceIsStartedAgain() {
    QFETCH(bool, killed);
    pid_t before = -1;
    if (killed) {
        QCOMPARE(GenerateText(*window_, "before"), std::optional<std::string>("before"));
        before = testsupport::ServerPid(socketPath());
        QVERIFY(testsupport::KillAndWait(before, SIGKILL));
    } else {
        QVERIFY(QDir().mkdir(folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(testsupport::MakeStaleSocket(socketPath()));
    }
    QVERIFY(QFileInfo::exists(QString::fromStdString(socketPath())));
    QCOMPARE(testsupport::ServerPid(socketPath()), -1);

    QCOMPARE(GenerateText(*window_, "after"), std::optional<std::string>("after"));
    QCOMPARE(platform_.messages, std::vector<ShownMessage>{});
    const pid_t after = testsupport::ServerPid(socketPath());
    QVERIFY(after > 0 && after != before);
}

void TestPrivateService::unsafeFolderFailsWithoutService_data() {
    // clang-format off
    QTest::addColumn<QString>("kind");
    QTest::newRow("link to a private folder") << "link";
    QTest::newRow("open to others") << "open";
    QTest::newRow("a file") << "file";
    // clang-format on
}

void TestPrivateService::unsafeFolderFailsWithoutService() {
    QFETCH(QString, kind);
    QTemporaryDir elsewhere;
    if (kind == "link")
        QVERIFY(QFile::link(elsewhere.path(), folder()));
    else if (kind == "open")
        QVERIFY(QDir().mkdir(folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeOther));
    else
        QVERIFY(QFile(folder()).open(QIODevice::WriteOnly));

    QCOMPARE(GenerateText(*window_, "secret"), std::nullopt);
    QCOMPARE(platform_.messages, (std::vector<ShownMessage>{{qr::GenerateFailedMessage(qr::FetchFailure::CannotConnect),
                                                             msgbox::kStopIcon, std::string(msgbox::kErrorTitle)}}));
    QVERIFY(QDir(elsewhere.path()).isEmpty());
    if (kind == "open") QVERIFY(QDir(folder()).isEmpty());
}

void TestPrivateService::otherAccountCannotConnect_data() {
    // clang-format off
    QTest::addColumn<bool>("foldersOpened");
    QTest::newRow("private folder") << false;
    // The socket's own mode must hold even where its folder would not.
    QTest::newRow("folders opened to others") << true;
    // clang-format on
}

void TestPrivateService::otherAccountCannotConnect() {
    if (geteuid() != 0) QSKIP("changing to another account needs root");
    QFETCH(bool, foldersOpened);
    QCOMPARE(GenerateText(*window_, "mine"), std::optional<std::string>("mine"));
    if (foldersOpened) {
        for (const QString& path : {runtime_->path(), folder()})
            QVERIFY(chmod(path.toLocal8Bit().constData(), 0711) == 0);
    }
    QCOMPARE(ConnectAs(kNobody, socketPath()), 0);
    QCOMPARE(ConnectAs(geteuid(), socketPath()), 1);
}

void TestPrivateService::twoServicesStartedAtOnceLeaveOne() {
    QVERIFY(QDir().mkdir(folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const auto first = startService({});
    const auto second = startService({});
    QTRY_VERIFY_WITH_TIMEOUT(first->state() == QProcess::NotRunning || second->state() == QProcess::NotRunning,
                             kWaitLimitMs);
    QProcess& ended = first->state() == QProcess::NotRunning ? *first : *second;
    QProcess& serving = &ended == first.get() ? *second : *first;
    QCOMPARE(ended.exitStatus(), QProcess::NormalExit);
    QCOMPARE(ended.exitCode(), 0);
    QCOMPARE(testsupport::ServerPid(socketPath()), pid_t(serving.processId()));

    serving.terminate();
    QVERIFY(serving.waitForFinished(kWaitLimitMs));
    QCOMPARE(serving.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(QString::fromStdString(socketPath())));
}

void TestPrivateService::idleServiceEnds() {
    QVERIFY(QDir().mkdir(folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const auto process = startService({"--idle-exit", "1"});
    QTRY_COMPARE_WITH_TIMEOUT(testsupport::ServerPid(socketPath()), pid_t(process->processId()), kWaitLimitMs);
    QCOMPARE(GenerateText(*window_, "last"), std::optional<std::string>("last"));

    QVERIFY(process->waitForFinished(kWaitLimitMs));
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), 0);
    QVERIFY(!QFileInfo::exists(QString::fromStdString(socketPath())));
}

QTEST_MAIN(TestPrivateService)
#include "tst_private_service.moc"
