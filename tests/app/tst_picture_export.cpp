// Copying and dragging the picture out of 图片框1: what other programs get.
#include "app/picture_export.h"
#include "qr/qr.h"
#include "support/fake_platform.h"
#include "support/service_answer.h"
#include "window_driver.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMimeData>
#include <QtTest>

#include <memory>

namespace {

const std::string kPayload = "复制 copy 码\r\n";

std::optional<std::string> ReadPng(const QByteArray& png, int side) {
    const auto image = save::DecodeImage(save::Bytes(png.begin(), png.end()));
    if (!image || image->width != side || image->height != side) return std::nullopt;
    return qr::ReadQrPayload(image->rgb.data(), image->width, image->height, 3 * image->width);
}

}  // namespace

class TestPictureExport : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void copyGreyedWithoutPicture_data();
    void copyGreyedWithoutPicture();
    void copyPutsScaledPng();
    void dragCarriesImageAndFile();

private:
    PictureExport* exporter() const { return picture_->findChild<PictureExport*>(); }
    void openMenu();

    FakePlatform platform_;
    std::unique_ptr<MainWindow> window_;
    PictureBox* picture_ = nullptr;
};

void TestPictureExport::init() {
    platform_ = FakePlatform();
    window_ = std::make_unique<MainWindow>(platform_);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    picture_ = Find<PictureBox>(*window_, "图片框1");
    QGuiApplication::clipboard()->clear();
}

void TestPictureExport::cleanup() {
    window_.reset();
}

void TestPictureExport::openMenu() {
    const QPoint centre = picture_->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, centre, picture_->mapToGlobal(centre));
    QCoreApplication::sendEvent(picture_, &event);
    QVERIFY(exporter()->menu()->isVisible());
    QCOMPARE(exporter()->copyAction()->text(), QStringLiteral("复制图片"));
}

void TestPictureExport::copyGreyedWithoutPicture_data() {
    // clang-format off
    QTest::addColumn<QByteArray>("picture");
    QTest::newRow("nothing generated") << QByteArray();
    QTest::newRow("an error page") << QByteArray("<html>404</html>");
    // clang-format on
}

void TestPictureExport::copyGreyedWithoutPicture() {
    QFETCH(QByteArray, picture);
    picture_->setPicture(std::vector<std::uint8_t>(picture.begin(), picture.end()));
    openMenu();
    QVERIFY(!exporter()->copyAction()->isEnabled());
    QCOMPARE(exporter()->dragData(), nullptr);
    exporter()->menu()->close();
}

// Scaled to the size boxes as a save would, PNG and image data both.
void TestPictureExport::copyPutsScaledPng() {
    const std::string png = testsupport::ServiceQrPng(kPayload);
    picture_->setPicture(std::vector<std::uint8_t>(png.begin(), png.end()));
    SetContent(Find(*window_, "编辑框1"), QStringLiteral("600"));
    openMenu();
    QVERIFY(exporter()->copyAction()->isEnabled());
    exporter()->copyAction()->trigger();
    exporter()->menu()->close();

    const QMimeData* copied = QGuiApplication::clipboard()->mimeData();
    QVERIFY(copied);
    QCOMPARE(ReadPng(copied->data(QStringLiteral("image/png")), 600), kPayload);
    QCOMPARE(qvariant_cast<QImage>(copied->imageData()).size(), QSize(600, 600));
    QVERIFY(!copied->hasUrls());
}

void TestPictureExport::dragCarriesImageAndFile() {
    const std::string png = testsupport::ServiceQrPng(kPayload);
    picture_->setPicture(std::vector<std::uint8_t>(png.begin(), png.end()));
    const std::unique_ptr<QMimeData> data(exporter()->dragData());
    QVERIFY(data);
    QVERIFY(data->hasImage());
    QVERIFY(data->hasFormat(QStringLiteral("text/uri-list")));
    QCOMPARE(ReadPng(data->data(QStringLiteral("image/png")), 300), kPayload);

    QCOMPARE(data->urls().size(), 1);
    const QString path = data->urls()[0].toLocalFile();
    QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("2016年12月30日21时5分2秒二维码文件.png"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(ReadPng(file.readAll(), 300), kPayload);
    file.close();

    // The private folder goes with the window.
    const QString folder = QFileInfo(path).absolutePath();
    window_.reset();
    QVERIFY(!QFileInfo::exists(folder));
}

QTEST_MAIN(TestPictureExport)
#include "tst_picture_export.moc"
