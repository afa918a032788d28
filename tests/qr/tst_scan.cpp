// Reading QR pictures back: raw bytes whatever they are, and the text value
// a request carries.
#include "qr/qr.h"
#include "save/save.h"
#include "support/service_answer.h"

#include <QtTest>

namespace {

save::Image ServicePicture(const std::string& text) {
    const std::string png = testsupport::ServiceQrPng(text);
    return *save::DecodeImage(save::Bytes(png.begin(), png.end()));
}

std::string AllBytes() {
    std::string bytes;
    for (int byte = 0; byte < 256; ++byte)
        bytes += static_cast<char>(byte);
    return bytes;
}

}  // namespace

class TestScan : public QObject {
    Q_OBJECT

private slots:
    void readsRawBytes_data();
    void readsRawBytes();
    void paddedRows();
    void noSymbol();
    void requestedText_data();
    void requestedText();
    void showsPayload();
};

void TestScan::readsRawBytes_data() {
    // clang-format off
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("ascii") << QByteArray("https://www.example.com/");
    QTest::newRow("chinese utf-8") << QByteArray("网络名称：家里的网，密码：12345678");
    QTest::newRow("CR LF kept") << QByteArray("第一行\r\n第二行\r\n");
    QTest::newRow("GBK bytes, no UTF-8") << QByteArray("\xC2\xEB\xCE\xC4");
    QTest::newRow("every byte") << QByteArray::fromStdString(AllBytes());
    QTest::newRow("672 bytes") << QString(224, u'码').toUtf8();
    // clang-format on
}

void TestScan::readsRawBytes() {
    QFETCH(QByteArray, payload);
    const save::Image image = ServicePicture(payload.toStdString());
    QCOMPARE(qr::ReadQrPayload(image.rgb.data(), image.width, image.height, 3 * image.width),
             std::optional<std::string>(payload.toStdString()));
}

// Rows further apart than the pixels, as QImage keeps them.
void TestScan::paddedRows() {
    const save::Image image = ServicePicture("a b码");
    const int rowBytes = 3 * image.width + 5;
    std::vector<std::uint8_t> padded(static_cast<std::size_t>(rowBytes) * image.height, 0);
    for (int y = 0; y < image.height; ++y)
        std::copy_n(image.rgb.begin() + 3 * y * image.width, 3 * image.width, padded.begin() + y * rowBytes);
    QCOMPARE(qr::ReadQrPayload(padded.data(), image.width, image.height, rowBytes),
             std::optional<std::string>("a b码"));
}

void TestScan::noSymbol() {
    const std::vector<std::uint8_t> white(3 * 50 * 50, 255);
    QCOMPARE(qr::ReadQrPayload(white.data(), 50, 50, 150), std::nullopt);
    // Too small to hold its modules.
    const save::Image tiny = save::ScaleNearest(ServicePicture("a b码"), 12, 12);
    QCOMPARE(qr::ReadQrPayload(tiny.rgb.data(), 12, 12, 36), std::nullopt);
    QCOMPARE(qr::ReadQrPayload(white.data(), 50, 50, 149), std::nullopt);
}

void TestScan::requestedText_data() {
    // clang-format off
    QTest::addColumn<QString>("url");
    QTest::addColumn<QByteArray>("text");
    const QString base = QStringLiteral("http://127.0.0.1:8731/api.php?el=l&m=10&w=300&text=");
    QTest::newRow("a b码") << base + "%61%20%62%E7%A0%81" << QByteArray("a b\xE7\xA0\x81");
    QTest::newRow("smsto stays") << base + "smsto%3A%31" << QByteArray("smsto:1");
    QTest::newRow("CR LF and zero byte") << base + "%0D%0A%00" << QByteArray("\r\n\0", 3);
    QTest::newRow("lower-case escape") << base + "%e7%a0%81" << QByteArray("\xE7\xA0\x81");
    QTest::newRow("empty") << base << QByteArray();
    QTest::newRow("text not last") << "http://h/api.php?text=%41&w=1" << QByteArray("A");
    QTest::newRow("no text") << "http://h/api.php?context=%41" << QByteArray();
    QTest::newRow("no query") << "http://h/api.php" << QByteArray();
    // clang-format on
}

void TestScan::requestedText() {
    QFETCH(QString, url);
    QFETCH(QByteArray, text);
    QCOMPARE(qr::RequestedText(url.toStdString()), text.toStdString());
}

void TestScan::showsPayload() {
    QVERIFY(qr::ShowsPayload(std::string("a"), "a"));
    QVERIFY(!qr::ShowsPayload(std::string("a"), "a\r\n"));
    QVERIFY(!qr::ShowsPayload(std::nullopt, ""));
}

QTEST_MAIN(TestScan)
#include "tst_scan.moc"
