#include "app/startup.h"

#include "app/app_icon.h"
#include "app/desktop_platform.h"
#include "app/main_window.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QScreen>
#include <QTranslator>

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

int RunQrGenerator(int& argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qrgen"));
    // Lets Wayland and the desktop match the window to its entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(QRGEN_APP_ID));
    QApplication::setWindowIcon(AppIcon());
    InstallChineseTranslations(app);

    DesktopPlatform platform;
    std::unique_ptr<MainWindow> window;
    try {
        window = std::make_unique<MainWindow>(platform);
    } catch (const std::exception&) {
        platform.messageBox("主窗口创建失败，程序无法启动。", kStopIcon, "错误");
        return 1;
    }
    window->show();
    CentreOnPrimaryScreen(*window);
    window->activateWindow();
    return app.exec();
}
