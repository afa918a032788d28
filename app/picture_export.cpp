#include "app/picture_export.h"

#include "app/controls.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDrag>
#include <QImage>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QUrl>

namespace {

QImage toQImage(const save::Image& image) {
    return QImage(image.rgb.data(), image.width, image.height, 3 * image.width, QImage::Format_RGB888).copy();
}

}  // namespace

QMimeData* PictureMimeData(const save::Image& image, const save::Bytes& png, const QString& file) {
    auto* data = new QMimeData;
    data->setImageData(toQImage(image));
    data->setData(QStringLiteral("image/png"),
                  QByteArray(reinterpret_cast<const char*>(png.data()), static_cast<qsizetype>(png.size())));
    if (!file.isEmpty()) data->setUrls({QUrl::fromLocalFile(file)});
    return data;
}

PictureExport::PictureExport(PictureBox* box, std::function<std::optional<save::Image>()> picture,
                             std::function<std::tm()> now)
    : QObject(box),
      box_(box),
      picture_(std::move(picture)),
      now_(std::move(now)),
      menu_(new QMenu(box)),
      copy_(menu_->addAction(QStringLiteral("复制图片"))) {
    connect(copy_, &QAction::triggered, this, &PictureExport::copyToClipboard);
    box->installEventFilter(this);
}

PictureExport::~PictureExport() = default;

void PictureExport::copyToClipboard() {
    const std::optional<save::Image> image = picture_();
    if (!image) return;
    const std::optional<save::Bytes> png = save::EncodeImage(*image, save::ImageFormat::Png);
    if (png) QApplication::clipboard()->setMimeData(PictureMimeData(*image, *png));
}

QMimeData* PictureExport::dragData() {
    const std::optional<save::Image> image = picture_();
    if (!image) return nullptr;
    const std::optional<save::Bytes> png = save::EncodeImage(*image, save::ImageFormat::Png);
    if (!png) return nullptr;
    if (!dragFolder_) dragFolder_ = std::make_unique<QTemporaryDir>();
    if (!dragFolder_->isValid()) return nullptr;
    const std::string path = save::SavedFilePath(dragFolder_->path().toStdString(), now_(), save::ImageFormat::Png);
    if (!save::WriteFileAtomically(path, *png).ok()) return nullptr;
    return PictureMimeData(*image, *png, QString::fromStdString(path));
}

bool PictureExport::eventFilter(QObject* watched, QEvent* event) {
    if (watched != box_) return false;
    switch (event->type()) {
    case QEvent::ContextMenu:
        // What the box shows decides, without decoding and scaling the picture
        // for a menu that may well be closed again.
        copy_->setEnabled(!box_->shownImage().isNull());
        menu_->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    case QEvent::MouseButtonPress: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton) pressedAt_ = mouse->position().toPoint();
        return false;
    }
    case QEvent::MouseButtonRelease: pressedAt_.reset(); return false;
    case QEvent::MouseMove: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (!pressedAt_ || !(mouse->buttons() & Qt::LeftButton) ||
            (mouse->position().toPoint() - *pressedAt_).manhattanLength() < QApplication::startDragDistance())
            return false;
        pressedAt_.reset();
        if (QMimeData* data = dragData()) {
            auto* drag = new QDrag(box_);
            drag->setMimeData(data);
            drag->setPixmap(QPixmap::fromImage(qvariant_cast<QImage>(data->imageData()))
                                .scaled(64, 64, Qt::KeepAspectRatio, Qt::FastTransformation));
            drag->exec(Qt::CopyAction);
        }
        return true;
    }
    default: return false;
    }
}
