// The saved file's name and the size boxes' numbers.
#include "save/save.h"

#include <QtTest>

namespace {

std::tm LocalTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm time{};
    time.tm_year = year - 1900;
    time.tm_mon = month - 1;
    time.tm_mday = day;
    time.tm_hour = hour;
    time.tm_min = minute;
    time.tm_sec = second;
    return time;
}

}  // namespace

class TestSaveNaming : public QObject {
    Q_OBJECT

private slots:
    void dateTimeText_data() {
        // clang-format off
        QTest::addColumn<QDateTime>("time");
        QTest::addColumn<QString>("text");
        QTest::newRow("all parts") << QDateTime({2016, 12, 30}, {21, 5, 2}) << "2016年12月30日21时5分2秒";
        QTest::newRow("minute 0 still written") << QDateTime({2016, 12, 30}, {21, 0, 7}) << "2016年12月30日21时0分7秒";
        QTest::newRow("second 0") << QDateTime({2016, 12, 30}, {21, 5, 0}) << "2016年12月30日21时5分";
        QTest::newRow("on the hour") << QDateTime({2016, 12, 30}, {21, 0, 0}) << "2016年12月30日21时";
        QTest::newRow("hour 0") << QDateTime({2017, 1, 5}, {0, 5, 0}) << "2017年1月5日0时5分";
        QTest::newRow("midnight") << QDateTime({2016, 12, 31}, {0, 0, 0}) << "2016年12月31日";
        // clang-format on
    }
    void dateTimeText() {
        QFETCH(QDateTime, time);
        QFETCH(QString, text);
        const std::tm tm = LocalTime(time.date().year(), time.date().month(), time.date().day(), time.time().hour(),
                                     time.time().minute(), time.time().second());
        QCOMPARE(QString::fromStdString(save::DateTimeText(tm)), text);
    }

    void savedFilePath_data() {
        // clang-format off
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("path");
        QTest::newRow("png") << "/home/u/QR" << "png" << "/home/u/QR/2016年12月30日21时5分2秒二维码文件.png";
        QTest::newRow("jpg") << "/home/u/QR" << "jpg" << "/home/u/QR/2016年12月30日21时5分2秒二维码文件.jpg";
        QTest::newRow("bmp") << "/home/u/QR" << "bmp" << "/home/u/QR/2016年12月30日21时5分2秒二维码文件.bmp";
        QTest::newRow("root doubles the slash") << "/" << "png" << "//2016年12月30日21时5分2秒二维码文件.png";
        QTest::newRow("trailing slash kept") << "/tmp/" << "bmp" << "/tmp//2016年12月30日21时5分2秒二维码文件.bmp";
        // clang-format on
    }
    void savedFilePath() {
        QFETCH(QString, folder);
        QFETCH(QString, format);
        QFETCH(QString, path);
        const std::optional<save::ImageFormat> parsed = save::ParseImageFormat(format.toStdString());
        QVERIFY(parsed);
        QCOMPARE(QString::fromStdString(
                     save::SavedFilePath(folder.toStdString(), LocalTime(2016, 12, 30, 21, 5, 2), *parsed)),
                 path);
    }

    void parseImageFormat_data() {
        // clang-format off
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("known");
        QTest::newRow("jpg") << "jpg" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("upper case") << "PNG" << false;
        QTest::newRow("with dot") << ".bmp" << false;
        QTest::newRow("jpeg") << "jpeg" << false;
        // clang-format on
    }
    void parseImageFormat() {
        QFETCH(QString, text);
        QFETCH(bool, known);
        const std::optional<save::ImageFormat> format = save::ParseImageFormat(text.toStdString());
        QCOMPARE(format.has_value(), known);
        if (format) QCOMPARE(QString::fromUtf8(save::Extension(*format)), text);
    }

    // The height box mirrors the width box, so most rows give both the same text.
    void sizeRule_data() {
        // clang-format off
        QTest::addColumn<QString>("width");
        QTest::addColumn<QString>("height");
        QTest::addColumn<int>("value");       // ParseSize(width)
        QTest::addColumn<QSize>("scaledTo");  // invalid: keeps the decoded size
        QTest::newRow("300") << "300" << "300" << 300 << QSize(300, 300);
        QTest::newRow("500") << "500" << "500" << 500 << QSize(500, 500);
        QTest::newRow("digits then letters") << "12a" << "12a" << 12 << QSize(12, 12);
        QTest::newRow("no digits") << "abc" << "abc" << 0 << QSize();
        QTest::newRow("negative") << "-5" << "-5" << -5 << QSize();
        QTest::newRow("leading blank") << " 600" << " 600" << 600 << QSize(600, 600);
        QTest::newRow("full-width digits") << "６００" << "６００" << 600 << QSize(600, 600);
        QTest::newRow("full-width sign and blank") << "　＋４０" << "　＋４０" << 40 << QSize(40, 40);
        QTest::newRow("full-width minus") << "－７" << "－７" << -7 << QSize();
        QTest::newRow("zero") << "0" << "0" << 0 << QSize();
        QTest::newRow("smallest") << "1" << "1" << 1 << QSize(1, 1);
        QTest::newRow("largest") << "4096" << "4096" << 4096 << QSize(4096, 4096);
        QTest::newRow("too large") << "4097" << "4097" << 4097 << QSize();
        QTest::newRow("saturates") << "99999999999" << "99999999999" << INT_MAX << QSize();
        QTest::newRow("tab and plus") << "\t+8" << "\t+8" << 8 << QSize(8, 8);
        QTest::newRow("blank between sign and digits") << "- 5" << "- 5" << 0 << QSize();
        QTest::newRow("blanks only") << "   " << "   " << 0 << QSize();
        QTest::newRow("empty") << "" << "" << 0 << QSize();
        QTest::newRow("sizes differ") << "300" << "200" << 300 << QSize(300, 200);
        QTest::newRow("one side out of range") << "300" << "0" << 300 << QSize();
        // clang-format on
    }
    void sizeRule() {
        QFETCH(QString, width);
        QFETCH(QString, height);
        QFETCH(int, value);
        QFETCH(QSize, scaledTo);
        QCOMPARE(save::ParseSize(width.toStdString()), value);
        const std::optional<save::PictureSize> size =
            save::RequestedPictureSize(width.toStdString(), height.toStdString());
        QCOMPARE(size.has_value(), scaledTo.isValid());
        if (size) QCOMPARE(QSize(size->width, size->height), scaledTo);
    }
};

QTEST_APPLESS_MAIN(TestSaveNaming)
#include "tst_save_naming.moc"
