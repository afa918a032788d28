#include "app/startup.h"

#include "app/app_icon.h"
#include "app/desktop_fit.h"
#include "app/desktop_platform.h"
#include "app/main_window.h"
#include "qr/qr.h"

#include <QApplication>
#include <QBasicTimer>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QScreen>
#include <QTranslator>
#include <QWindow>

#include <csignal>
#include <exception>
#include <memory>

void InstallChineseTranslations(QApplication& app) {
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    QLocale::setDefault(chinese);
    auto* translator = new QTranslator(&app);
    if (translator->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(translator);
}

void CentreOnPrimaryScreen(QWidget& window) {
    // The full screen, not its work area; the frame counts, which the window
    // system only knows once the window is shown.
    const QPoint position =
        CentredFramePosition(QGuiApplication::primaryScreen()->geometry(), window.frameGeometry().size());
    window.move(position);
    // Qt skips a move to where it believes the window is, and that belief
    // can be stale while the window manager is still framing the window.
    if (QWindow* handle = window.windowHandle()) handle->setFramePosition(position);
}

namespace {

// A window manager adds its frame only after the window is shown, and Qt
// sends no event when the frame's extents arrive: the window looks for them
// for a few seconds and centres itself again, once, when they are known.
// Later moves are the user's.
class CentreWhenFramed : public QObject {
public:
    explicit CentreWhenFramed(QWidget& window) : QObject(&window), window_(window) { timer_.start(20, this); }

protected:
    void timerEvent(QTimerEvent*) override {
        constexpr int kLooks = 150;
        const bool framed = window_.frameGeometry().size() != window_.size();
        if (framed) CentreOnPrimaryScreen(window_);
        if (framed || ++looks_ == kLooks) deleteLater();
    }

private:
    QWidget& window_;
    QBasicTimer timer_;
    int looks_ = 0;
};

}  // namespace

void CentreOnceFramed(QWidget& window) {
    CentreOnPrimaryScreen(window);
    new CentreWhenFramed(window);
}

void IgnoreFileSizeLimitSignal() {
    std::signal(SIGXFSZ, SIG_IGN);
}

int RunQrGenerator(int& argc, char** argv) {
    IgnoreFileSizeLimitSignal();
    // Qt's own Wayland title bar offers maximize, and the compositor's
    // maximized state then ends a fixed-size window with a protocol error
    // (Qt 6.4). Through XWayland the window manager keeps the size fixed.
    const QString qtPlatform = PreferredPlatform(QProcessEnvironment::systemEnvironment());
    if (!qtPlatform.isEmpty()) qputenv("QT_QPA_PLATFORM", qtPlatform.toLatin1());
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qrgen"));
    // Lets Wayland and the desktop match the window to its entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(QRGEN_APP_ID));
    QApplication::setWindowIcon(AppIcon());
    InstallChineseTranslations(app);

    // Started while the window is built, the service is ready for the first
    // generate.
    const qr::ServiceOptions service = qr::DesktopServiceOptions();
    qr::WakeService(service);

    DesktopPlatform platform;
    std::unique_ptr<MainWindow> window;
    try {
        window = std::make_unique<MainWindow>(platform, service);
    } catch (const std::exception&) {
        platform.messageBox("主窗口创建失败，程序无法启动。", msgbox::kStopIcon, std::string(msgbox::kErrorTitle));
        return 1;
    }
    window->show();
    CentreOnceFramed(*window);
    window->activateWindow();
    return app.exec();
}
