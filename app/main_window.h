// The one window: its controls, the wiring of their events and the handlers.
#pragma once

#include "app/platform.h"
#include "qr/qr.h"

#include <QHash>
#include <QWidget>

#include <cstddef>
#include <string>

class QAbstractButton;
class QLabel;
class PictureBox;

inline constexpr int kClientWidth = 600;
inline constexpr int kClientHeight = 324;

class MainWindow : public QWidget {
    Q_OBJECT
public:
    // `service` names the QR image service; tests point it at their own.
    explicit MainWindow(Platform& platform, qr::ServiceOptions service = {});

    // The chosen save format: "jpg", "png", "bmp", or "" before any choice.
    const std::string& SaveFormat() const { return saveFormat_; }

    // Writes the byte count of the text page into its counter and returns it.
    std::size_t UpdateLengthCounter();

    // The generate buttons: run the page's field checks in order (the first
    // empty field shows its message, and nothing else happens), then ask the
    // service for the picture of the page's payload through ShowQrImage.
    void GenerateTextQr();
    void GenerateCardQr();
    void GenerateUrlQr();
    void GenerateSmsQr();
    void GenerateWifiQr();

    // Fetches prefix + encodedPayload and stores the bytes as the picture,
    // replacing the earlier one; tells the user when they are no picture.
    void ShowQrImage(const std::string& prefix, const std::string& encodedPayload);

    // A format radio box was clicked: `format` becomes SaveFormat() when the
    // box is checked.
    void SelectSaveFormat(const QAbstractButton& clicked, const std::string& format);
    // Takes the picked folder, or "" when none was picked, as the save folder
    // and shows it in 编辑框3.
    void ChooseSaveFolder();
    // Copies the width box's text to the height box unchanged.
    void MirrorPictureSize();
    // Saves the picture in the chosen folder and format; ends with exactly
    // one message box, which says why when nothing was saved.
    void SaveQrImage();

protected:
    bool focusNextPrevChild(bool next) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildControls();
    void wireEvents();
    void onTextEdited();
    void leaveRefusedState();
    void run(const qr::PageOutcome& outcome);
    std::string text(const char* name) const;
    template <class T>
    T* control(const char* name) const;

    Platform& platform_;
    qr::ServiceOptions service_;
    bool onWayland_;
    std::string saveFormat_;
    // The folder's bytes as the picker gave them: 编辑框3 shows a readable
    // form, which loses a name that is not UTF-8 (GBK from another system).
    std::string saveFolder_;
    std::string shownPayload_;  // what the last fetch asked the picture to encode
    QHash<QString, QWidget*> controls_;
    PictureBox* picture_ = nullptr;
    QLabel* counter_ = nullptr;
};
