#include "app/startup.h"

#include "app/app_icon.h"
#include "app/desktop_platform.h"
#include "app/main_window.h"
#include "qr/qr.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QScreen>
#include <QTranslator>

#include <csignal>
#include <exception>
#include <memory>

void InstallChineseTranslations(QApplication& app)
{
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    QLocale::setDefault(chinese);
    auto* translator = new QTranslator(&app);
    if (translator->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(translator);
}

void CentreOnPrimaryScreen(QWidget& window)
{
    // The full screen, not its work area; the frame counts, which the window
    // system only knows once the window is shown.
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QSize outer = window.frameGeometry().size();
    window.move(screen.x() + (screen.width() - outer.width()) / 2,
                screen.y() + (screen.height() - outer.height()) / 2);
}

void IgnoreFileSizeLimitSignal()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

int RunQrGenerator(int& argc, char** argv)
{
    IgnoreFileSizeLimitSignal();
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
    CentreOnPrimaryScreen(*window);
    window->activateWindow();
    return app.exec();
}
