#include "qr/qr.h"

#include <QtTest>

namespace {

QByteArray ToBytes(const qr::Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
}

qr::Bytes FromBytes(const QByteArray& bytes) {
    return qr::Bytes(bytes.begin(), bytes.end());
}

std::string_view View(const QByteArray& bytes) {
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

// GB18030 bytes of UTF-8 text, the way the window's length counter counts.
std::size_t Gb18030Length(const QByteArray& utf8) {
    return qr::WideToMultiByte(qr::AnsiToWide(View(utf8), qr::kSystemCodePage), qr::kCodePageGb18030).size();
}

}  // namespace

class TestEncoding : public QObject {
    Q_OBJECT

private slots:
    void encodesEveryUtf8Byte_data();
    void encodesEveryUtf8Byte();
    void encodedLengthIsThreeTimesUtf8Length_data();
    void encodedLengthIsThreeTimesUtf8Length();
    void workedExampleStageByStage();
    void invalidInputIsReplacedNotFatal_data();
    void invalidInputIsReplacedNotFatal();
    void unrepresentableCharactersBecomeQuestionMarks_data();
    void unrepresentableCharactersBecomeQuestionMarks();
    void countsGb18030Bytes_data();
    void countsGb18030Bytes();
    void unknownCodePageConvertsNothing();
};

void TestEncoding::encodesEveryUtf8Byte_data() {
    // clang-format off
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QByteArray>("encoded");
    QTest::newRow("CR LF gets leading zeros") << QByteArray("\r\n") << qr::kCodePageUtf8 << QByteArray("%0D%0A");
    QTest::newRow("letters, digits, hyphen") << QByteArray("A-1") << qr::kCodePageUtf8 << QByteArray("%41%2D%31");
    QTest::newRow("full stop and slash") << QByteArray("./") << qr::kCodePageUtf8 << QByteArray("%2E%2F");
    QTest::newRow("space is %20, plus escaped") << QByteArray(" +") << qr::kCodePageUtf8 << QByteArray("%20%2B");
    QTest::newRow("码 from UTF-8") << QByteArray("码") << qr::kCodePageUtf8 << QByteArray("%E7%A0%81");
    QTest::newRow("码 from CP936") << QByteArray("\xC2\xEB") << qr::kCodePageGbk << QByteArray("%E7%A0%81");
    QTest::newRow("a b码 from UTF-8") << QByteArray("a b码") << qr::kCodePageUtf8
                                      << QByteArray("%61%20%62%E7%A0%81");
    QTest::newRow("a b码 from CP936") << QByteArray("a b\xC2\xEB") << qr::kCodePageGbk
                                      << QByteArray("%61%20%62%E7%A0%81");
    QTest::newRow("high byte upper-case") << QByteArray("\xC3\xBF") << qr::kCodePageUtf8 << QByteArray("%C3%BF");
    QTest::newRow("empty from UTF-8") << QByteArray() << qr::kCodePageUtf8 << QByteArray();
    QTest::newRow("empty from CP936") << QByteArray() << qr::kCodePageGbk << QByteArray();
    // clang-format on
}

void TestEncoding::encodesEveryUtf8Byte() {
    QFETCH(QByteArray, payload);
    QFETCH(int, codePage);
    QFETCH(QByteArray, encoded);
    QCOMPARE(QByteArray::fromStdString(qr::EncodePayload(View(payload), codePage)), encoded);
}

void TestEncoding::encodedLengthIsThreeTimesUtf8Length_data() {
    // clang-format off
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("utf8Length");
    QTest::newRow("one ASCII byte") << QByteArray("x") << 1;
    QTest::newRow("1000 Chinese characters") << QString(1000, QChar(0x7801)).toUtf8() << 3000;
    QTest::newRow("mixed 3000 bytes") << QByteArray("a码\r\n").repeated(500) << 3000;
    // clang-format on
}

void TestEncoding::encodedLengthIsThreeTimesUtf8Length() {
    QFETCH(QByteArray, payload);
    QFETCH(int, utf8Length);
    const std::string encoded = qr::EncodePayload(View(payload));
    QCOMPARE(encoded.size(), std::size_t(3 * utf8Length));
    QCOMPARE(QByteArray::fromPercentEncoding(QByteArray::fromStdString(encoded)), payload);
}

void TestEncoding::workedExampleStageByStage() {
    const QByteArray cp936("\x61\x20\x62\xC2\xEB", 5);
    const qr::Bytes wide = qr::AnsiToWide(View(cp936), qr::kCodePageGbk);
    QCOMPARE(ToBytes(wide), QByteArray("\x61\x00\x20\x00\x62\x00\x01\x78\x00\x00", 10));

    const std::string utf8 = qr::WideToMultiByte(wide, qr::kCodePageUtf8);
    QCOMPARE(QByteArray::fromStdString(utf8), QByteArray("\x61\x20\x62\xE7\xA0\x81"));
    QCOMPARE(qr::AnsiToUtf8(View(cp936), qr::kCodePageGbk), utf8);
    QCOMPARE(qr::EncodePayload(View(cp936), qr::kCodePageGbk), std::string("%61%20%62%E7%A0%81"));

    // The window delivers UTF-8: the same stages, the same result.
    const QByteArray windowText("a b码");
    QCOMPARE(ToBytes(qr::AnsiToWide(View(windowText), qr::kCodePageUtf8)), ToBytes(wide));
    QCOMPARE(qr::AnsiToUtf8(View(windowText)), utf8);
}

void TestEncoding::invalidInputIsReplacedNotFatal_data() {
    // clang-format off
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QByteArray>("utf8");
    const QByteArray replacement("\xEF\xBF\xBD");
    QTest::newRow("CP936 lone lead byte at the end") << QByteArray("a\xC2") << qr::kCodePageGbk
                                                     << "a" + replacement;
    QTest::newRow("CP936 lead byte before ASCII") << QByteArray("\x81 b") << qr::kCodePageGbk
                                                  << replacement + " b";
    QTest::newRow("UTF-8 stray byte") << QByteArray("a\xFF" "b") << qr::kCodePageUtf8
                                      << "a" + replacement + "b";
    QTest::newRow("UTF-8 cut-off sequence") << QByteArray("a\xE7\xA0") << qr::kCodePageUtf8
                                            << "a" + replacement;
    QTest::newRow("UTF-8 encoded surrogate") << QByteArray("\xED\xA0\x80" "z") << qr::kCodePageUtf8
                                             << replacement.repeated(3) + "z";
    // clang-format on
}

void TestEncoding::invalidInputIsReplacedNotFatal() {
    QFETCH(QByteArray, input);
    QFETCH(int, codePage);
    QFETCH(QByteArray, utf8);
    QCOMPARE(QByteArray::fromStdString(qr::AnsiToUtf8(View(input), codePage)), utf8);
    QCOMPARE(qr::EncodePayload(View(input), codePage).size(), std::size_t(3 * utf8.size()));
}

void TestEncoding::unrepresentableCharactersBecomeQuestionMarks_data() {
    // clang-format off
    QTest::addColumn<QByteArray>("wide");
    QTest::addColumn<int>("codePage");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("emoji has no CP936 form") << ToBytes(qr::AnsiToWide("a😀b", qr::kCodePageUtf8))
                                             << qr::kCodePageGbk << QByteArray("a?b");
    QTest::newRow("lone high surrogate") << QByteArray("a\x00\x00\xD8" "b\x00", 6) << qr::kCodePageUtf8
                                         << QByteArray("a?b");
    QTest::newRow("stray odd byte") << QByteArray("a\x00" "b", 3) << qr::kCodePageUtf8 << QByteArray("a?");
    QTest::newRow("cut at the first zero unit") << QByteArray("a\x00\x00\x00" "b\x00", 6) << qr::kCodePageUtf8
                                                << QByteArray("a");
    QTest::newRow("no zero unit at all") << QByteArray("a\x00" "b\x00", 4) << qr::kCodePageUtf8
                                         << QByteArray("ab");
    // clang-format on
}

void TestEncoding::unrepresentableCharactersBecomeQuestionMarks() {
    QFETCH(QByteArray, wide);
    QFETCH(int, codePage);
    QFETCH(QByteArray, text);
    QCOMPARE(QByteArray::fromStdString(qr::WideToMultiByte(FromBytes(wide), codePage)), text);
}

void TestEncoding::countsGb18030Bytes_data() {
    // clang-format off
    QTest::addColumn<QByteArray>("utf8");
    QTest::addColumn<int>("length");
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("ASCII counts 1") << QByteArray("a") << 1;
    QTest::newRow("Chinese counts 2") << QByteArray("码") << 2;
    QTest::newRow("full-width colon counts 2") << QByteArray("：") << 2;
    QTest::newRow("CR LF counts 2") << QByteArray("\r\n") << 2;
    QTest::newRow("mixed") << QByteArray("生成 QR\r\n码") << 11;
    QTest::newRow("300 Chinese characters") << QString(300, QChar(0x7801)).toUtf8() << 600;
    // clang-format on
}

void TestEncoding::countsGb18030Bytes() {
    QFETCH(QByteArray, utf8);
    QFETCH(int, length);
    QCOMPARE(Gb18030Length(utf8), std::size_t(length));
}

void TestEncoding::unknownCodePageConvertsNothing() {
    QCOMPARE(ToBytes(qr::AnsiToWide("abc", 12345)), QByteArray("\x00\x00", 2));
    QCOMPARE(qr::WideToMultiByte(qr::AnsiToWide("abc", qr::kCodePageUtf8), 12345), std::string());
}

QTEST_APPLESS_MAIN(TestEncoding)
#include "tst_encoding.moc"
