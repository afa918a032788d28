// Proving pictures: the smallest size that still reads, and the note a save
// adds when its file does not read back.
#include "app/picture_check.h"
#include "support/service_answer.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

save::Bytes ServicePng(const std::string& text) {
    const std::string png = testsupport::ServiceQrPng(text);
    return save::Bytes(png.begin(), png.end());
}

std::string Written(const QTemporaryDir& folder, const save::Image& image) {
    const std::string path = folder.filePath(QStringLiteral("saved.png")).toStdString();
    if (!save::WriteFileAtomically(path, *save::EncodeImage(image, save::ImageFormat::Png)).ok())
        qFatal("cannot write %s", path.c_str());
    return path;
}

}  // namespace

class TestPictureCheck : public QObject {
    Q_OBJECT

private slots:
    void smallestReadableSize_data();
    void smallestReadableSize();
    void saveNote();
};

void TestPictureCheck::smallestReadableSize_data() {
    // clang-format off
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("version 1") << QByteArray("a b码");
    QTest::newRow("672 bytes") << QString(224, u'码').toUtf8();
    // clang-format on
}

void TestPictureCheck::smallestReadableSize() {
    QFETCH(QByteArray, payload);
    const auto shown = *save::DecodeImage(ServicePng(payload.toStdString()));
    const std::optional<int> smallest = SmallestReadableSize(shown, payload.toStdString());
    QVERIFY(smallest);
    QVERIFY(ShowsPayload(save::ScaleNearest(shown, *smallest, *smallest), payload.toStdString()));
    for (int side = 21; side < *smallest; ++side)
        QVERIFY2(!ShowsPayload(save::ScaleNearest(shown, side, side), payload.toStdString()),
                 qPrintable(QString::number(side)));
    QCOMPARE(SmallestReadableSize(shown, "other"), std::nullopt);
}

void TestPictureCheck::saveNote() {
    const std::string payload = "保存 note 码";
    const save::Bytes picture = ServicePng(payload);
    const auto shown = *save::DecodeImage(picture);
    const int smallest = *SmallestReadableSize(shown, payload);
    QTemporaryDir folder;

    QCOMPARE(UnreadableSaveNote(Written(folder, shown), payload, picture), "");
    const std::string note = "\n注意：二维码图片在这个大小下可能无法扫描，能扫描的最小图片大小是 " +
                             std::to_string(smallest) + "×" + std::to_string(smallest) + "。";
    QCOMPARE(UnreadableSaveNote(Written(folder, save::ScaleNearest(shown, 12, 12)), payload, picture), note);
    QCOMPARE(UnreadableSaveNote(folder.filePath(QStringLiteral("missing.png")).toStdString(), payload, picture), note);
    // A picture that never showed the payload has been warned about already.
    QCOMPARE(UnreadableSaveNote(Written(folder, save::ScaleNearest(shown, 12, 12)), "other", picture), "");
}

QTEST_MAIN(TestPictureCheck)
#include "tst_picture_check.moc"
