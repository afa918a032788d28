#include "app/desktop_platform.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

void DesktopPlatform::messageBox(const std::string& text, int flags, const std::string& title) {
    const auto icon = flags == msgbox::kInformationIcon ? QMessageBox::Information : QMessageBox::Critical;
    // Owned by no window and application-modal: every window of the program
    // waits until the box is closed.
    QMessageBox box(icon, QString::fromStdString(title), QString::fromStdString(text), QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

std::string DesktopPlatform::pickFolder(const std::string& title) {
    const QUrl url = QFileDialog::getExistingDirectoryUrl(QApplication::activeWindow(), QString::fromStdString(title),
                                                          QUrl(), QFileDialog::ShowDirsOnly, {QStringLiteral("file")});
    // A remote or virtual location has no path the save can write to.
    if (!url.isLocalFile()) return {};
    // Back to the file system's bytes. Qt's own dialog lists no folder whose
    // name is not UTF-8, so such a folder cannot be picked here at all.
    return QFile::encodeName(QDir::cleanPath(url.toLocalFile())).toStdString();
}

std::tm DesktopPlatform::now() {
    const std::time_t seconds = std::time(nullptr);
    std::tm local{};
    localtime_r(&seconds, &local);
    return local;
}
