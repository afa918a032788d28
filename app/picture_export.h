// Getting the picture of the picture box into other programs: a context menu
// that copies it to the clipboard, and dragging it out.
#pragma once

#include "save/save.h"

#include <QObject>
#include <QPoint>

#include <ctime>
#include <functional>
#include <memory>
#include <optional>

class QAction;
class QMenu;
class QMimeData;
class PictureBox;
class QTemporaryDir;

// The picture as other programs take it: PNG bytes (the saved file's
// encoding) as "image/png" and the image itself for the platform's own
// image types; with `file`, also that file's URL for file managers.
QMimeData* PictureMimeData(const save::Image& image, const save::Bytes& png, const QString& file = {});

// Watches the events of `box` (it does not change the box's focus policy, so
// the menu opens with the mouse only). `picture` gives the picture as a save
// would write it, or nothing when the box's bytes are no image; `now` the
// local time that names dragged files.
class PictureExport : public QObject {
    Q_OBJECT
public:
    PictureExport(PictureBox* box, std::function<std::optional<save::Image>()> picture, std::function<std::tm()> now);
    ~PictureExport() override;

    // The context menu and its one entry, "复制图片".
    QMenu* menu() const { return menu_; }
    QAction* copyAction() const { return copy_; }

    // What a drag out of the box carries: the picture and a PNG file named
    // like a saved one in a private folder that lives as long as this object.
    // Nothing while the box shows no picture or when the file cannot be written.
    QMimeData* dragData();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void copyToClipboard();

    PictureBox* box_;
    std::function<std::optional<save::Image>()> picture_;
    std::function<std::tm()> now_;
    QMenu* menu_;
    QAction* copy_;
    std::unique_ptr<QTemporaryDir> dragFolder_;
    std::optional<QPoint> pressedAt_;
};
