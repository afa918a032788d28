// The save button's procedure against a real file system: its checks, the
// saved file, and every way the write can fail without harming what is there.
#include "app/startup.h"
#include "fixtures.h"
#include "save/save.h"

#include <QtTest>

#include <linux/capability.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <optional>

using fixtures::Bytes;
using fixtures::JpegClaiming;

Q_DECLARE_METATYPE(Bytes)

namespace {

std::tm SaveTime() {
    std::tm time{};
    time.tm_year = 2016 - 1900;
    time.tm_mon = 11;
    time.tm_mday = 30;
    time.tm_hour = 21;
    time.tm_min = 5;
    time.tm_sec = 2;
    return time;
}

const QString kSavedName = "2016年12月30日21时5分2秒二维码文件.";

// A picture as the service delivers it: a small PNG of modules.
Bytes Picture(int size = 60) {
    return *save::EncodeImage(fixtures::QrLikeImage(size, 4), save::ImageFormat::Png);
}

save::SaveRequest Request(const QString& folder, const QString& format, const QString& width = "300") {
    return {Picture(), width.toStdString(), width.toStdString(), folder.toStdString(), format.toStdString()};
}

// The clock the procedure reads, counting how often it is asked.
struct Clock {
    int calls = 0;
    std::tm time = SaveTime();
    std::function<std::tm()> now() {
        return [this] {
            ++calls;
            return time;
        };
    }
};

save::SaveMessage Error(const QString& text) {
    return {text.toStdString(), msgbox::kStopIcon, std::string(msgbox::kErrorTitle)};
}

const save::SaveMessage kSaved{std::string(save::kSavedText), msgbox::kInformationIcon,
                               std::string(save::kNoticeTitle)};

QString Describe(const save::SaveMessage& message) {
    return QString("%1 [%2] %3")
        .arg(QString::fromStdString(message.text))
        .arg(message.flags)
        .arg(QString::fromStdString(message.title));
}

// Everything in a folder, hidden entries included.
QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray Contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteText(const QString& path, const QByteArray& contents) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(contents), contents.size());
}

QSize DecodedSize(const QString& path) {
    const QByteArray contents = Contents(path);
    const std::optional<save::Image> image = save::DecodeImage(Bytes(contents.begin(), contents.end()));
    return image ? QSize(image->width, image->height) : QSize();
}

Bytes Prefix(const Bytes& bytes, std::size_t length) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
}

// What `body` returns when run in a child process, for changes this process
// must not keep (a umask, a seccomp filter, dropped capabilities). A text
// starting "skip: " says the child could not set up what the row needs.
QString OutputOfChild(const std::function<QString()>& body) {
    int channel[2];
    if (pipe(channel) != 0) return "skip: no pipe";
    const pid_t child = fork();
    if (child < 0) return "skip: no fork";
    if (child == 0) {
        close(channel[0]);
        const QByteArray output = body().toUtf8();
        for (qsizetype at = 0; at < output.size();) {
            const ssize_t written = write(channel[1], output.constData() + at, output.size() - at);
            if (written <= 0) _exit(1);
            at += written;
        }
        _exit(0);  // past QtTest's own exit handling
    }
    close(channel[1]);
    QByteArray output;
    char buffer[256];
    for (ssize_t got; (got = read(channel[0], buffer, sizeof buffer)) != 0;)
        if (got > 0)
            output.append(buffer, got);
        else if (errno != EINTR)
            break;
    close(channel[0]);
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "the child failed: " + QString::fromUtf8(output);
    return QString::fromUtf8(output);
}

// Makes every chmod call of this process fail with EPERM, as vfat, exfat and
// many CIFS and FUSE mounts do. The calls made here are native, so the
// filter need not check the architecture.
bool RefuseChmod() {
    std::vector<sock_filter> filter = {BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
    const auto refuse = [&](unsigned call) {
        filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, call, 0, 1));
        filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM));
    };
    refuse(__NR_fchmod);
    refuse(__NR_fchmodat);
#ifdef __NR_chmod
    refuse(__NR_chmod);
#endif
#ifdef __NR_fchmodat2
    refuse(__NR_fchmodat2);
#endif
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    const sock_fprog program{static_cast<unsigned short>(filter.size()), filter.data()};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Drops every capability of this process, so that root too is held to the
// mode bits of its own files.
bool DropCapabilities() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    return syscall(SYS_capset, &header, data) == 0;
}

}  // namespace

class TestSavePicture : public QObject {
    Q_OBJECT

private slots:
    // A fresh folder for every row.
    void init() {
        folder_.emplace();
        QVERIFY(folder_->isValid());
    }

    void cleanup() {
        // Read-only rows leave a folder the temporary directory cannot remove.
        for (const QString& entry : Entries(folder_->path()))
            chmod(QFile::encodeName(folder_->filePath(entry)).constData(), 0755);
        folder_.reset();
    }

    // Only the first failing check speaks, and nothing is created or asked.
    void checkOrder_data() {
        // clang-format off
        QTest::addColumn<bool>("hasPicture");
        QTest::addColumn<QString>("width");
        QTest::addColumn<bool>("hasFolder");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("message");
        const QString noPicture = QString::fromUtf8(save::kNoPictureText);
        const QString noSize = QString::fromUtf8(save::kNoSizeText);
        const QString noFolder = QString::fromUtf8(save::kNoFolderText);
        const QString noFormat = QString::fromUtf8(save::kNoFormatText);
        QTest::newRow("nothing set") << false << "" << false << "" << noPicture;
        QTest::newRow("no picture, the rest set") << false << "300" << true << "png" << noPicture;
        QTest::newRow("no width") << true << "" << false << "" << noSize;
        QTest::newRow("blank width passes") << true << "   " << false << "" << noFolder;
        QTest::newRow("no folder") << true << "300" << false << "png" << noFolder;
        QTest::newRow("no format") << true << "300" << true << "" << noFormat;
        QTest::newRow("format compared byte for byte") << true << "300" << true << "PNG" << noFormat;
        // clang-format on
    }
    void checkOrder() {
        QFETCH(bool, hasPicture);
        QFETCH(QString, width);
        QFETCH(bool, hasFolder);
        QFETCH(QString, format);
        QFETCH(QString, message);
        save::SaveRequest request = Request(hasFolder ? folder_->path() : QString(), format, width);
        if (!hasPicture) request.picture.clear();
        Clock clock;
        const save::SaveOutcome outcome = save::SavePicture(request, clock.now());
        QCOMPARE(Describe(outcome.message), Describe(Error(message)));
        QVERIFY(outcome.savedPath.empty());
        QCOMPARE(clock.calls, 0);
        QCOMPARE(Entries(folder_->path()), QStringList());
    }

    // The file lands under its date-time name and nothing else is left in
    // the folder: no "temp" folder, no temporary file.
    void savesEachFormat_data() {
        // clang-format off
        QTest::addColumn<QString>("format");
        QTest::addColumn<QByteArray>("signature");
        QTest::newRow("jpg") << "jpg" << QByteArray("\xFF\xD8\xFF");
        QTest::newRow("png") << "png" << QByteArray("\x89PNG\r\n\x1A\n");
        QTest::newRow("bmp") << "bmp" << QByteArray("BM");
        // clang-format on
    }
    void savesEachFormat() {
        QFETCH(QString, format);
        QFETCH(QByteArray, signature);
        Clock clock;
        const save::SaveOutcome outcome = save::SavePicture(Request(folder_->path(), format), clock.now());
        QCOMPARE(Describe(outcome.message), Describe(kSaved));
        const QString path = folder_->filePath(kSavedName + format);
        QCOMPARE(QString::fromStdString(outcome.savedPath), path);
        QCOMPARE(clock.calls, 1);
        QCOMPARE(Entries(folder_->path()), QStringList{kSavedName + format});
        QVERIFY(Contents(path).startsWith(signature));
        QCOMPARE(DecodedSize(path), QSize(300, 300));  // the 60 x 60 picture scaled to the width box
    }

    void sizeRule_data() {
        // clang-format off
        QTest::addColumn<QString>("width");
        QTest::addColumn<QSize>("saved");
        QTest::newRow("500") << "500" << QSize(500, 500);
        QTest::newRow("full-width") << "６００" << QSize(600, 600);
        QTest::newRow("not a number keeps the picture's size") << "abc" << QSize(60, 60);
        QTest::newRow("above 4096 keeps the picture's size") << "4097" << QSize(60, 60);
        // clang-format on
    }
    void sizeRule() {
        QFETCH(QString, width);
        QFETCH(QSize, saved);
        Clock clock;
        const save::SaveOutcome outcome = save::SavePicture(Request(folder_->path(), "bmp", width), clock.now());
        QCOMPARE(Describe(outcome.message), Describe(kSaved));
        QCOMPARE(DecodedSize(QString::fromStdString(outcome.savedPath)), saved);
    }

    void sameSecondReplacesOnlyTheSameFormat() {
        Clock clock;
        QCOMPARE(Describe(save::SavePicture(Request(folder_->path(), "png", "100"), clock.now()).message),
                 Describe(kSaved));
        QCOMPARE(Describe(save::SavePicture(Request(folder_->path(), "png", "200"), clock.now()).message),
                 Describe(kSaved));
        QCOMPARE(Describe(save::SavePicture(Request(folder_->path(), "bmp", "100"), clock.now()).message),
                 Describe(kSaved));
        QCOMPARE(Entries(folder_->path()), QStringList({kSavedName + "bmp", kSavedName + "png"}));
        QCOMPARE(DecodedSize(folder_->filePath(kSavedName + "png")), QSize(200, 200));
    }

    // Bytes that are no readable image are refused quietly, whatever they claim.
    void unreadablePicture_data() {
        // clang-format off
        using fixtures::Idat;
        using fixtures::Iend;
        using fixtures::Ihdr;
        using fixtures::PngFile;
        QTest::addColumn<Bytes>("picture");
        const Bytes png = Picture();
        const Bytes jpeg = *save::EncodeImage(fixtures::QrLikeImage(60, 4), save::ImageFormat::Jpeg);
        const Bytes bmp = *save::EncodeImage(fixtures::QrLikeImage(60, 4), save::ImageFormat::Bmp);
        const Bytes smallJpeg = *save::EncodeImage(fixtures::QrLikeImage(16, 4), save::ImageFormat::Jpeg);
        const Bytes smallProgressiveJpeg =
            fixtures::JpegFile(16, 16, fixtures::JpegColour::Grey, Bytes(256, 0x80), fixtures::JpegCoding::Progressive);
        // The largest size allowed, claimed by a file of about a hundred bytes
        // that could never hold its pixels.
        fixtures::PngChunk interlacedIhdr = Ihdr(8192, 8192, 8, 6);
        interlacedIhdr.data[12] = 1;  // Adam7

        QTest::newRow("text") << Bytes{'<', 'h', 't', 'm', 'l', '>'};
        QTest::newRow("PNG signature only") << Prefix(png, 8);
        QTest::newRow("PNG cut in half") << Prefix(png, png.size() / 2);
        QTest::newRow("PNG without IEND") << Prefix(png, png.size() - 12);
        Bytes badCrc = png;
        badCrc[8 + 25 + 10] ^= 0x01;  // inside the first IDAT
        QTest::newRow("PNG IDAT with bad CRC") << badCrc;
        fixtures::PngChunk badDeflate = Idat(Bytes(4 * 3, 9), 3);
        badDeflate.data[2] ^= 0xFF;
        QTest::newRow("PNG corrupt deflate") << PngFile({Ihdr(3, 4, 8, 0), badDeflate, Iend()});
        QTest::newRow("PNG too little image data") << PngFile({Ihdr(3, 4, 8, 0), Idat(Bytes(3, 9), 3), Iend()});
        QTest::newRow("PNG bomb 100000 x 100000") << PngFile({Ihdr(100000, 100000, 8, 2), Idat(Bytes(300, 0), 300), Iend()});
        QTest::newRow("PNG bomb 8192 x 8192 RGBA") << PngFile({Ihdr(8192, 8192, 8, 6), Idat(Bytes(4, 0), 4), Iend()});
        QTest::newRow("PNG bomb 8192 x 8192 RGBA interlaced") << PngFile({interlacedIhdr, Idat(Bytes(4, 0), 4), Iend()});
        QTest::newRow("PNG 8193 wide") << PngFile({Ihdr(8193, 1, 8, 0), Idat(Bytes(8193, 0), 8193), Iend()});
        QTest::newRow("PNG index beyond palette")
            << PngFile({Ihdr(2, 1, 8, 3), {"PLTE", {255, 0, 0}}, Idat({0, 1}, 2), Iend()});
        QTest::newRow("PNG index beyond palette")
            << PngFile({Ihdr(2, 1, 8, 3), {"PLTE", {255, 0, 0}}, Idat({0, 1}, 2), Iend()});
        QTest::newRow("PNG 2-bit index beyond palette")
            << PngFile({Ihdr(2, 1, 2, 3), {"PLTE", {255, 0, 0}}, Idat({0x10}, 1), Iend()});
        QTest::newRow("PNG palette without PLTE") << PngFile({Ihdr(1, 1, 8, 3), Idat({0}, 1), Iend()});
        QTest::newRow("JPEG cut in half") << Prefix(jpeg, jpeg.size() / 2);
        QTest::newRow("JPEG marker soup") << Bytes{0xFF, 0xD8, 0xFF, 0x12, 0x34, 0x56, 0x78, 0x9A};
        QTest::newRow("JPEG bomb 60000 x 60000") << JpegClaiming(smallJpeg, 60000, 60000);
        QTest::newRow("JPEG bomb 8192 x 8192") << JpegClaiming(smallJpeg, 8192, 8192);
        QTest::newRow("JPEG progressive bomb 8192 x 8192") << JpegClaiming(smallProgressiveJpeg, 8192, 8192);
        QTest::newRow("JPEG 8193 wide") << JpegClaiming(smallJpeg, 8193, 16);
        // A few hundred bytes that would decode to hundreds of MiB: arithmetic
        // coding takes the missing data as zeros, at no cost in the file.
        const Bytes arithmeticJpeg =
            fixtures::JpegFile(16, 16, fixtures::JpegColour::Rgb, Bytes(3 * 256, 0x80), fixtures::JpegCoding::Arithmetic);
        QTest::newRow("JPEG arithmetic bomb 8192 x 8192") << JpegClaiming(arithmeticJpeg, 8192, 8192);
        QTest::newRow("JPEG arithmetic 1025 x 1024") << JpegClaiming(arithmeticJpeg, 1025, 1024);
        QTest::newRow("JPEG arithmetic progressive bomb 8192 x 8192")
            << JpegClaiming(fixtures::ScanHeavyJpeg(10), 8192, 8192);
        QTest::newRow("JPEG arithmetic 101 scans") << JpegClaiming(fixtures::ScanHeavyJpeg(101), 64, 64);
        QTest::newRow("JPEG CMYK") << fixtures::JpegFile(8, 8, fixtures::JpegColour::Cmyk, Bytes(4 * 64, 0x40));
        QTest::newRow("BMP headers only") << Prefix(bmp, 54);
        QTest::newRow("BMP cut in the pixels") << Prefix(bmp, bmp.size() - 1);
        QTest::newRow("BMP bomb 100000 x 100000") << fixtures::BmpFile(100000, 100000, 24, {}, Bytes(12, 0));
        QTest::newRow("BMP height INT_MIN") << fixtures::BmpFile(1, INT_MIN, 24, {}, Bytes(4, 0));
        QTest::newRow("BMP zero width") << fixtures::BmpFile(0, 1, 24, {}, Bytes(4, 0));
        QTest::newRow("BMP 16-bit") << fixtures::BmpFile(1, 1, 16, {}, Bytes(4, 0));
        QTest::newRow("BMP index beyond palette") << fixtures::BmpFile(1, 1, 8, {0, 0, 0, 0}, {1, 0, 0, 0});
        // clang-format on
    }
    void unreadablePicture() {
        QFETCH(Bytes, picture);
        fixtures::StderrCapture stderrCapture;
        std::string error;
        const bool decoded = save::DecodeImage(picture, &error).has_value();
        save::SaveRequest request = Request(folder_->path(), "png");
        request.picture = picture;
        Clock clock;
        const save::SaveOutcome outcome = save::SavePicture(request, clock.now());
        QCOMPARE(QString::fromStdString(stderrCapture.Finish()), QString());
        QVERIFY(!decoded);
        QVERIFY(!error.empty());
        QCOMPARE(Describe(outcome.message), Describe(Error(QString::fromUtf8(save::kNotAnImageText))));
        QVERIFY(outcome.savedPath.empty());
        QCOMPARE(Entries(folder_->path()), QStringList());
    }

    // Each reason names the folder; nothing is created anywhere.
    void unusableFolder_data() {
        // clang-format off
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("missing") << "missing" << QString::fromUtf8(save::kFolderMissingText);
        QTest::newRow("missing parent") << "missing/parent" << QString::fromUtf8(save::kFolderMissingText);
        QTest::newRow("a file") << "file" << QString::fromUtf8(save::kNotAFolderText);
        QTest::newRow("mode 0555") << "read-only" << QString::fromUtf8(save::kFolderNotWritableText);
        QTest::newRow("/sys, read-only even for root") << "/sys" << QString::fromUtf8(save::kFolderNotWritableText);
        // clang-format on
    }
    void unusableFolder() {
        QFETCH(QString, kind);
        QFETCH(QString, prefix);
        const QString folder = kind.startsWith('/') ? kind : folder_->filePath(kind);
        if (kind == "file") {
            WriteText(folder, "not a folder");
        } else if (kind == "read-only") {
            if (geteuid() == 0) QSKIP("root ignores mode bits; the /sys row covers a folder root cannot write");
            QVERIFY(QDir().mkdir(folder));
            QCOMPARE(chmod(QFile::encodeName(folder).constData(), 0555), 0);
        } else if (kind == "/sys") {
            if (!QFileInfo(folder).isDir()) QSKIP("no /sys on this system");
        }
        const QStringList before = Entries(folder_->path());
        const QStringList beforeInFolder = Entries(folder);
        Clock clock;
        const save::SaveOutcome outcome = save::SavePicture(Request(folder, "png"), clock.now());
        QCOMPARE(Describe(outcome.message), Describe(Error(prefix + folder)));
        QVERIFY(outcome.savedPath.empty());
        QCOMPARE(Entries(folder_->path()), before);
        QCOMPARE(Entries(folder), beforeInFolder);
    }

    // A folder named in GBK ("二维"), not UTF-8: its bytes are used as given.
    void folderNamedInGbk() {
        const std::string folder = QFile::encodeName(folder_->path()).toStdString() + "/\xB6\xFE\xCE\xAC";
        QCOMPARE(mkdir(folder.c_str(), 0700), 0);
        save::SaveRequest request = Request(folder_->path(), "png");
        request.folder = folder;
        Clock clock;
        const save::SaveOutcome outcome = save::SavePicture(request, clock.now());
        QCOMPARE(Describe(outcome.message), Describe(kSaved));
        const std::string saved = folder + "/" + kSavedName.toStdString() + "png";
        QCOMPARE(outcome.savedPath, saved);
        struct stat status {};
        QCOMPARE(stat(saved.c_str(), &status), 0);
    }

    // "/" is used as given: the name follows a doubled slash and lands in the root.
    void rootFolder() {
        if (access("/", W_OK) != 0) QSKIP("needs write access to / (CI runs as root)");
        Clock clock;
        clock.time.tm_year = 1999 - 1900;  // a name no one else has in /
        const QString name = "1999年12月30日21时5分2秒二维码文件.bmp";
        if (QFileInfo::exists("/" + name)) QSKIP("a file of the test's name is already in /");
        const save::SaveOutcome outcome = save::SavePicture(Request("/", "bmp", "10"), clock.now());
        const bool saved = QFile::remove("/" + name);
        QCOMPARE(Describe(outcome.message), Describe(kSaved));
        QCOMPARE(QString::fromStdString(outcome.savedPath), "//" + name);
        QVERIFY(saved);
        QCOMPARE(QDir("/").entryList({"." + name + "*"}, QDir::AllEntries | QDir::Hidden), QStringList());
    }

    // A failed write neither leaves a piece of the new file nor touches the
    // file it would have replaced; a later good write replaces it whole.
    void failedWriteKeepsEarlierFile_data() {
        // clang-format off
        QTest::addColumn<QString>("limit");
        QTest::addColumn<QString>("prefix");
        QTest::newRow("full device") << "tmpfs" << QString::fromUtf8(save::kDiskFullText);
        QTest::newRow("file size limit") << "rlimit" << QString::fromUtf8(save::kWriteFailedText);
        // clang-format on
    }
    void failedWriteKeepsEarlierFile() {
        QFETCH(QString, limit);
        QFETCH(QString, prefix);
        const QString folder = folder_->filePath("target");
        QVERIFY(QDir().mkdir(folder));
        const QByteArray mountPoint = QFile::encodeName(folder);
        if (limit == "tmpfs") {
            if (geteuid() != 0) QSKIP("mounting a 64 KiB tmpfs needs root; the file size limit row runs instead");
            if (mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=64k") != 0)
                QSKIP(qPrintable(QString("cannot mount a tmpfs: %1").arg(strerror(errno))));
        }
        const auto unmount = qScopeGuard([&] {
            if (limit == "tmpfs") umount2(mountPoint.constData(), MNT_DETACH);
        });
        const QString target = folder + "/" + kSavedName + "bmp";
        WriteText(target, "the earlier file");

        Clock clock;
        const auto saveTooLarge = [&] {
            return Describe(save::SavePicture(Request(folder, "bmp", "1200"), clock.now()).message);
        };
        // The limit applies in a child that sets up signals as the program
        // does; SIGXFSZ would kill it there, and the save must report instead.
        const QString failed = limit == "rlimit" ? OutputOfChild([&]() -> QString {
            IgnoreFileSizeLimitSignal();
            rlimit small{};
            getrlimit(RLIMIT_FSIZE, &small);
            small.rlim_cur = 64 * 1024;
            if (setrlimit(RLIMIT_FSIZE, &small) != 0)
                return QString("cannot set the file size limit: %1").arg(strerror(errno));
            return saveTooLarge();
        })
                                                 : saveTooLarge();

        QCOMPARE(failed, Describe(Error(prefix + target)));
        QCOMPARE(Entries(folder), QStringList{kSavedName + "bmp"});
        QCOMPARE(Contents(target), QByteArray("the earlier file"));

        const save::SaveOutcome replaced = save::SavePicture(Request(folder, "bmp", "100"), clock.now());
        QCOMPARE(Describe(replaced.message), Describe(kSaved));
        QCOMPARE(Entries(folder), QStringList{kSavedName + "bmp"});
        QCOMPARE(DecodedSize(target), QSize(100, 100));
    }

    // A file the user write-protected is kept, though the folder would let
    // rename() replace it. The save runs without capabilities, so the 0444
    // row also means something under root, which may write any file.
    void writeProtectedFileIsKept_data() {
        // clang-format off
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("0644 replaced") << 0644 << true;
        QTest::newRow("0444 kept") << 0444 << false;
        // clang-format on
    }
    void writeProtectedFileIsKept() {
        QFETCH(int, mode);
        QFETCH(bool, replaced);
        const QString folder = folder_->path();
        const QString target = folder_->filePath(kSavedName + "bmp");
        WriteText(target, "the earlier file");
        QCOMPARE(chmod(QFile::encodeName(target).constData(), static_cast<mode_t>(mode)), 0);
        const QString outcome = OutputOfChild([&]() -> QString {
            if (!DropCapabilities()) return QString("skip: cannot drop capabilities: %1").arg(strerror(errno));
            Clock clock;
            return Describe(save::SavePicture(Request(folder, "bmp", "10"), clock.now()).message);
        });
        if (outcome.startsWith("skip: ")) QSKIP(qPrintable(outcome));
        QCOMPARE(outcome, Describe(replaced ? kSaved : Error(QString::fromUtf8(save::kWriteFailedText) + target)));
        QCOMPARE(Entries(folder), QStringList{kSavedName + "bmp"});
        if (replaced) {
            QCOMPARE(DecodedSize(target), QSize(10, 10));
        } else {
            QCOMPARE(Contents(target), QByteArray("the earlier file"));
            QCOMPARE(QFileInfo(target).permissions() & QFile::WriteOwner, QFile::Permissions());
        }
    }

    // The fixed temporary of old is no longer used: a user's file of that
    // name stays as it is.
    void leavesTempFolderAlone() {
        QVERIFY(QDir(folder_->path()).mkdir("temp"));
        WriteText(folder_->filePath("temp/temp.png"), "the user's own file");
        Clock clock;
        const save::SaveOutcome outcome = save::SavePicture(Request(folder_->path(), "png"), clock.now());
        QCOMPARE(Describe(outcome.message), Describe(kSaved));
        QCOMPARE(Entries(folder_->path()), QStringList({kSavedName + "png", "temp"}));
        QCOMPARE(Entries(folder_->filePath("temp")), QStringList{"temp.png"});
        QCOMPARE(Contents(folder_->filePath("temp/temp.png")), QByteArray("the user's own file"));
    }

    // The umask decides the mode by itself; a file system that refuses
    // chmod still gets the file.
    void fileModeFollowsUmask_data() {
        // clang-format off
        QTest::addColumn<int>("mask");
        QTest::addColumn<bool>("chmodRefused");
        QTest::addColumn<int>("mode");
        QTest::newRow("022") << 022 << false << 0644;
        QTest::newRow("027") << 027 << false << 0640;
        QTest::newRow("0") << 0 << false << 0666;
        QTest::newRow("022, chmod refused") << 022 << true << 0644;
        // clang-format on
    }
    void fileModeFollowsUmask() {
        QFETCH(int, mask);
        QFETCH(bool, chmodRefused);
        QFETCH(int, mode);
        const QString folder = folder_->path();
        const QString saved = OutputOfChild([&]() -> QString {
            umask(static_cast<mode_t>(mask));
            if (chmodRefused && !RefuseChmod())
                return QString("skip: cannot install a seccomp filter: %1").arg(strerror(errno));
            Clock clock;
            return Describe(save::SavePicture(Request(folder, "bmp", "10"), clock.now()).message);
        });
        if (saved.startsWith("skip: ")) QSKIP(qPrintable(saved));
        QCOMPARE(saved, Describe(kSaved));
        struct stat status {};
        QCOMPARE(stat(QFile::encodeName(folder_->filePath(kSavedName + "bmp")).constData(), &status), 0);
        QCOMPARE(int(status.st_mode & 0777), mode);
    }

private:
    std::optional<QTemporaryDir> folder_;
};

QTEST_APPLESS_MAIN(TestSavePicture)
#include "tst_save_picture.moc"
