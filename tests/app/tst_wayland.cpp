// The window on a Wayland compositor: a headless weston of the test's own,
// in a private runtime folder. Maximize and fullscreen requests, as Qt's own
// title bar sends them, neither end the program nor change the window's
// size. Skips when weston or Qt's Wayland plugin is missing.
#include "support/fake_platform.h"

#include "app/desktop_fit.h"
#include "app/main_window.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWindow>
#include <QtTest>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <string_view>
#include <vector>

namespace {

constexpr const char* kSocket = "wayland-qrgen-test";

// weston --backend=headless-backend.so in its own process group, stopped
// with everything it started when this goes.
class HeadlessWeston {
public:
    HeadlessWeston() {
        if (!runtime_.isValid() || QStandardPaths::findExecutable(QStringLiteral("weston")).isEmpty()) return;
        QFile::setPermissions(runtime_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime_.path());
        QList<QByteArray> variables;
        for (const QString& variable : environment.toStringList())
            variables.append(variable.toLocal8Bit());
        std::vector<char*> envp;
        for (QByteArray& variable : variables)
            envp.push_back(variable.data());
        envp.push_back(nullptr);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
        const std::string socket = std::string("--socket=") + kSocket;
        char* arguments[] = {const_cast<char*>("weston"), const_cast<char*>("--backend=headless-backend.so"),
                             const_cast<char*>(socket.c_str()), const_cast<char*>("--idle-time=0"), nullptr};
        const int failed = posix_spawnp(&pid_, "weston", nullptr, &attributes, arguments, envp.data());
        posix_spawnattr_destroy(&attributes);
        if (failed != 0) {
            pid_ = 0;
            return;
        }
        // The socket appears once weston serves clients; at most ten seconds.
        const QString socketPath = QDir(runtime_.path()).filePath(QString::fromLatin1(kSocket));
        for (int i = 0; i < 100 && !QFile::exists(socketPath); ++i)
            ::usleep(100'000);
        running_ = QFile::exists(socketPath);
    }
    ~HeadlessWeston() {
        if (pid_ <= 0) return;
        ::kill(-pid_, SIGTERM);
        for (int i = 0; i < 30; ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
            ::usleep(100'000);
        }
        ::kill(-pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    bool running() const { return running_; }
    QString runtimeFolder() const { return runtime_.path(); }

private:
    QTemporaryDir runtime_;
    pid_t pid_ = 0;
    bool running_ = false;
};

}  // namespace

// Child mode: shows the window on the Wayland display of the environment,
// asks for `state` as Qt's title bar does, and ends 0 when the window is
// back to its own state and size; a protocol error ends it before that.
int ShowAndRequest(int argc, char** argv, Qt::WindowState state) {
    QApplication app(argc, argv);
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) return 2;
    FakePlatform platform;
    MainWindow window(platform);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) return 3;
    // A moment after the window appeared, as a user's click comes: Qt 6.4
    // still fails a maximize that arrives while the first configure is on
    // its way.
    QTest::qWait(1000);
    window.windowHandle()->setWindowStates(state);
    // Let the compositor answer and the window answer it back.
    QTest::qWait(1500);
    return window.windowState() == Qt::WindowNoState && window.size() == QSize(600, 324) ? 0 : 1;
}

class TestWayland : public QObject {
    Q_OBJECT

private slots:
    void preferredPlatform_data();
    void preferredPlatform();
    void refusedStatesKeepTheProgram_data();
    void refusedStatesKeepTheProgram();
};

void TestWayland::preferredPlatform_data() {
    // clang-format off
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QString>("platform");
    QTest::newRow("wayland with xwayland") << QStringList{"WAYLAND_DISPLAY=wayland-0", "DISPLAY=:0"} << "xcb";
    QTest::newRow("wayland session type") << QStringList{"XDG_SESSION_TYPE=wayland", "DISPLAY=:1"} << "xcb";
    QTest::newRow("wayland only") << QStringList{"WAYLAND_DISPLAY=wayland-0"} << "";
    QTest::newRow("user's choice") << QStringList{"WAYLAND_DISPLAY=wayland-0", "DISPLAY=:0", "QT_QPA_PLATFORM=wayland"}
                                   << "";
    QTest::newRow("x11 session") << QStringList{"XDG_SESSION_TYPE=x11", "DISPLAY=:0"} << "";
    QTest::newRow("empty display") << QStringList{"WAYLAND_DISPLAY=wayland-0", "DISPLAY="} << "";
    // clang-format on
}

void TestWayland::preferredPlatform() {
    QFETCH(QStringList, environment);
    QFETCH(QString, platform);
    QProcessEnvironment session;
    for (const QString& variable : environment)
        session.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
    QCOMPARE(PreferredPlatform(session), platform);
}

void TestWayland::refusedStatesKeepTheProgram_data() {
    // clang-format off
    QTest::addColumn<QString>("state");
    QTest::newRow("maximized") << "maximized";
    QTest::newRow("fullscreen") << "fullscreen";
    // clang-format on
}

// The window runs in a child process: a protocol error ends the child, not
// this test.
void TestWayland::refusedStatesKeepTheProgram() {
    QFETCH(QString, state);
    const HeadlessWeston weston;
    if (!weston.running()) QSKIP("needs weston");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), weston.runtimeFolder());
    environment.insert(QStringLiteral("WAYLAND_DISPLAY"), QString::fromLatin1(kSocket));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("wayland"));
    environment.remove(QStringLiteral("DISPLAY"));
    QProcess child;
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--request"), state});
    if (!child.waitForFinished(30000)) {
        child.kill();
        child.waitForFinished(3000);
        QFAIL("the window did not answer within 30 seconds");
    }
    const QByteArray errors = child.readAllStandardError();
    if (child.exitCode() == 2) QSKIP("needs Qt's Wayland plugin (qt6-wayland)");
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, errors.constData());
}

int main(int argc, char** argv) {
    if (argc == 3 && std::string_view(argv[1]) == "--request")
        return ShowAndRequest(argc, argv,
                              std::string_view(argv[2]) == "fullscreen" ? Qt::WindowFullScreen : Qt::WindowMaximized);
    QCoreApplication app(argc, argv);
    TestWayland test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_wayland.moc"
