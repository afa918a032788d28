// qrgen under real window managers on a private Xvfb: the frame, not only
// the client area, is centred on the screen. Skips when Xvfb, the window
// manager or the X utilities are missing.
#include "support/private_service_peer.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>
#include <csignal>

namespace {

constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 800;

// qrgen starts its service detached, outside every process group here: it is
// ended with the test instead of lingering until its idle exit.
struct EndServiceOn {
    std::string socketPath;
    ~EndServiceOn() {
        if (const pid_t service = testsupport::ServerPid(socketPath); service > 0)
            testsupport::KillAndWait(service, SIGTERM);
    }
};

// A process in a process group of its own, so that stopping it also stops
// what it started (a window manager's private D-Bus, for one).
class GroupProcess {
public:
    GroupProcess(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment) {
        process_.setProcessEnvironment(environment);
        process_.setChildProcessModifier([] { ::setsid(); });
        process_.start(program, arguments);
    }
    ~GroupProcess() {
        if (process_.state() == QProcess::NotRunning) return;
        ::kill(-static_cast<pid_t>(process_.processId()), SIGTERM);
        if (!process_.waitForFinished(3000)) {
            ::kill(-static_cast<pid_t>(process_.processId()), SIGKILL);
            process_.waitForFinished(3000);
        }
    }
    QProcess& process() { return process_; }

private:
    QProcess process_;
};

// Runs a short X utility to its end; its output, or "" when it failed.
QString Query(const QStringList& command, const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(command.first(), command.mid(1));
    if (!process.waitForFinished(2000) || process.exitCode() != 0) return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

int Number(const QString& text, const QString& pattern) {
    const QRegularExpressionMatch match = QRegularExpression(pattern).match(text);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

}  // namespace

class TestWindowManager : public QObject {
    Q_OBJECT

private slots:
    void frameCentred_data();
    void frameCentred();
};

void TestWindowManager::frameCentred_data() {
    // clang-format off
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QStringList>("manager");
    QTest::newRow("openbox") << "openbox" << QStringList{"openbox"};
    // xfwm4 reads its settings over D-Bus; it gets a bus of its own.
    QTest::newRow("xfwm4") << "xfwm4" << QStringList{"dbus-run-session", "--", "xfwm4", "--compositor=off"};
    // clang-format on
}

void TestWindowManager::frameCentred() {
    QFETCH(QString, executable);
    QFETCH(QStringList, manager);
    for (const QString& tool :
         {QStringLiteral("Xvfb"), QStringLiteral("xwininfo"), QStringLiteral("xprop"), executable, manager.first()}) {
        if (QStandardPaths::findExecutable(tool).isEmpty())
            QSKIP(qPrintable(tool + QStringLiteral(" is not installed")));
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("GTK_A11Y"), QStringLiteral("none"));
    environment.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
    // Xvfb picks a free display number and writes it to its standard output.
    GroupProcess server(QStringLiteral("Xvfb"),
                        {"-displayfd", "1", "-screen", "0",
                         QStringLiteral("%1x%2x24").arg(kScreenWidth).arg(kScreenHeight), "-nolisten", "tcp"},
                        environment);
    QVERIFY(server.process().waitForReadyRead(10000));
    const QString display = QString::fromLatin1(server.process().readLine()).trimmed();
    QVERIFY(!display.isEmpty());
    environment.insert(QStringLiteral("DISPLAY"), u':' + display);

    QTemporaryDir runtime;
    QVERIFY(runtime.isValid());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    GroupProcess windowManager(manager.first(), manager.mid(1), environment);
    // The window manager owns the screen once it has set its check window.
    const auto managed = [&] {
        return Query({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}, environment).contains("window id");
    };
    for (int i = 0; i < 200 && !managed(); ++i)
        QTest::qWait(100);
    QVERIFY2(managed(), windowManager.process().readAllStandardError().constData());
    const EndServiceOn service{(runtime.path() + QStringLiteral("/qrgen/qr-image-service.sock")).toStdString()};
    GroupProcess qrgen(QStringLiteral(QRGEN_PATH), {}, environment);

    // Poll until the frame is known and centred, at most ten seconds.
    QPoint frame;
    QSize frameSize;
    for (int i = 0; i < 100; ++i) {
        QTest::qWait(100);
        const QString window = Query({"xwininfo", "-name", "二维码生成器ByVelkrand"}, environment);
        const QString id = QRegularExpression(QStringLiteral("Window id: (0x[0-9a-f]+)")).match(window).captured(1);
        if (id.isEmpty()) continue;
        const QString extents = Query({"xprop", "-id", id, "_NET_FRAME_EXTENTS"}, environment);
        const QRegularExpressionMatch margins =
            QRegularExpression(QStringLiteral("= (\\d+), (\\d+), (\\d+), (\\d+)")).match(extents);
        if (!margins.hasMatch()) continue;
        const int left = margins.captured(1).toInt(), right = margins.captured(2).toInt();
        const int top = margins.captured(3).toInt(), bottom = margins.captured(4).toInt();
        frame = QPoint(Number(window, QStringLiteral("Absolute upper-left X:\\s+(-?\\d+)")) - left,
                       Number(window, QStringLiteral("Absolute upper-left Y:\\s+(-?\\d+)")) - top);
        frameSize = QSize(Number(window, QStringLiteral("Width: (\\d+)")) + left + right,
                          Number(window, QStringLiteral("Height: (\\d+)")) + top + bottom);
        if (frame == QPoint((kScreenWidth - frameSize.width()) / 2, (kScreenHeight - frameSize.height()) / 2)) break;
    }
    QVERIFY2(frameSize.isValid(), "no framed window appeared");
    QVERIFY(frameSize.height() > 324);
    QCOMPARE(frame, QPoint((kScreenWidth - frameSize.width()) / 2, (kScreenHeight - frameSize.height()) / 2));
}

QTEST_MAIN(TestWindowManager)
#include "tst_window_manager.moc"
