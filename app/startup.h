// Start-up and shut-down of the desktop program.
#pragma once

class QApplication;
class QWidget;

// Qt's own dialog texts ("确定", the folder picker) in Chinese, whatever the
// user's locale: the whole interface is Chinese.
void InstallChineseTranslations(QApplication& app);

// Places the window, frame included, at the centre of the whole primary
// screen. Call it once the window is shown, when its frame is known.
void CentreOnPrimaryScreen(QWidget& window);

// Centres the shown window now and once more when the window manager's frame
// first becomes known, so the frame, not the client area, ends up centred.
void CentreOnceFramed(QWidget& window);

// Makes a write past the file-size limit (ulimit -f) fail with EFBIG, which
// the save reports, instead of SIGXFSZ killing the program mid-save.
void IgnoreFileSizeLimitSignal();

// The program: builds the window, shows it, runs until it is closed.
int RunQrGenerator(int& argc, char** argv);
