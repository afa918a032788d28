#include "app/startup.h"

#include "app/app_icon.h"
#include "app/desktop_fit.h"
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
    window.move(CentredFramePosition(QGuiApplication::primaryScreen()->geometry(), window.frameGeometry().size()));
}

namespace {

// A window manager adds its frame only after the window is shown, and Qt
// sends no event of its own for it: the first event that finds frame margins
// centres the window again, once; from then on the window stays where the
// user puts it.
class CentreWhenFramed : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* window = static_cast<QWidget*>(watched);
        if (event->type() != QEvent::Destroy && window->frameGeometry().size() != window->size()) {
            window->removeEventFilter(this);
            CentreOnPrimaryScreen(*window);
            deleteLater();
        }
        return false;
    }
};

}  // namespace

void CentreOnceFramed(QWidget& window)
{
    CentreOnPrimaryScreen(window);
    window.installEventFilter(new CentreWhenFramed(&window));
}

int RunQrGenerator(int& argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("qrgen"));
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
    CentreOnceFramed(*window);
    window->activateWindow();
    return app.exec();
}
