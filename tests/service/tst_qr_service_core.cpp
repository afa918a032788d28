// The service's pure parts: decoding, query rules, the picture's geometry,
// the symbol's capacity and the command line.
#include "service/qr_service.h"
#include "service/service_options.h"

#include <arpa/inet.h>
#include <png.h>

#include <QtTest>

using namespace qrservice;

namespace {

QByteArray Bytes(const std::string& text) {
    return QByteArray(text.data(), qsizetype(text.size()));
}
std::string Text(const QByteArray& bytes) {
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

struct GreyImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
    bool dark(int x, int y) const { return pixels[std::size_t(y) * std::size_t(width) + std::size_t(x)] < 128; }
};

// The simplified libpng API reports errors by its return value: no longjmp.
std::optional<GreyImage> DecodeGrey(const std::vector<std::uint8_t>& png) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return std::nullopt;
    image.format = PNG_FORMAT_GRAY;
    GreyImage grey{int(image.width), int(image.height), std::vector<std::uint8_t>(PNG_IMAGE_SIZE(image))};
    if (!png_image_finish_read(&image, nullptr, grey.pixels.data(), 0, nullptr)) return std::nullopt;
    return grey;
}

std::vector<std::uint8_t> RenderOrFail(const QrRequest& request) {
    auto rendered = RenderQrPng(request);
    if (auto* refusal = std::get_if<Refusal>(&rendered)) {
        qWarning("refused %u: %s", refusal->status, refusal->reason.c_str());
        return {};
    }
    return std::get<std::vector<std::uint8_t>>(rendered);
}

// The service's command line as given after its name, with the built-in
// listen address 127.0.0.1:8731 and 2 threads by default.
std::variant<ServiceOptions, CommandLineExit> Parse(const QStringList& args) {
    std::vector<std::string> storage;
    for (const QString& arg : args)
        storage.push_back(arg.toStdString());
    return ParseServiceOptions({storage.begin(), storage.end()}, "127.0.0.1:8731", 2);
}

}  // namespace

class TstQrServiceCore : public QObject {
    Q_OBJECT

private slots:
    void percentDecode_data();
    void percentDecode();
    void parseQuery_data();
    void parseQuery();
    void pictureGeometry_data();
    void pictureGeometry();
    void symbolCapacity_data();
    void symbolCapacity();
    void commandLine_data();
    void commandLine();
    void badBuiltInListenAddress_data();
    void badBuiltInListenAddress();
    void privateSocketCommandLine_data();
    void privateSocketCommandLine();
    void headTimeout_data();
    void headTimeout();
    void connectionLimit_data();
    void connectionLimit();
};

void TstQrServiceCore::percentDecode_data() {
    // clang-format off
    QTest::addColumn<QByteArray>("encoded");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QByteArray>("decoded");

    QTest::newRow("every byte escaped")
        << QByteArray("%61%20%62%E7%A0%81") << true << QByteArray("a b\xE7\xA0\x81");
    QTest::newRow("lower-case hex") << QByteArray("%e7%a0%81") << true << QByteArray("\xE7\xA0\x81");
    QTest::newRow("letters then escapes") << QByteArray("smsto%3A10086") << true << QByteArray("smsto:10086");
    QTest::newRow("plus stays plus") << QByteArray("a+b") << true << QByteArray("a+b");
    QTest::newRow("NUL byte") << QByteArray("%00") << true << QByteArray(1, '\0');
    QTest::newRow("allowed punctuation")
        << QByteArray("!$'()*,;:@/?~-._") << true << QByteArray("!$'()*,;:@/?~-._");
    QTest::newRow("empty") << QByteArray("") << true << QByteArray("");
    QTest::newRow("lone percent") << QByteArray("a%") << false << QByteArray();
    QTest::newRow("one hex digit") << QByteArray("%4") << false << QByteArray();
    QTest::newRow("non-hex digit") << QByteArray("%4G") << false << QByteArray();
    QTest::newRow("escaped percent sign misread") << QByteArray("%%41") << false << QByteArray();
    QTest::newRow("unicode escape") << QByteArray("%u0041") << false << QByteArray();
    QTest::newRow("raw space") << QByteArray("a b") << false << QByteArray();
    QTest::newRow("raw hash") << QByteArray("a#b") << false << QByteArray();
    QTest::newRow("raw pipe") << QByteArray("a|b") << false << QByteArray();
    QTest::newRow("raw byte above 127") << QByteArray("\xE7\xA0\x81") << false << QByteArray();
    QTest::newRow("raw control byte") << QByteArray("a\nb") << false << QByteArray();
    // clang-format on
}

void TstQrServiceCore::percentDecode() {
    QFETCH(QByteArray, encoded);
    QFETCH(bool, valid);
    QFETCH(QByteArray, decoded);

    const std::optional<std::string> result = PercentDecode(Text(encoded));
    QCOMPARE(result.has_value(), valid);
    if (valid) QCOMPARE(Bytes(*result), decoded);
}

void TstQrServiceCore::parseQuery_data() {
    // clang-format off
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<unsigned>("refusal");  // 0: accepted
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("margin");
    QTest::addColumn<int>("width");

    const int low = int(ErrorCorrection::Low);
    const int high = int(ErrorCorrection::High);
    QTest::newRow("desktop request") << QByteArray("el=l&m=10&w=300&text=%61%E7%A0%81") << 0u
                                     << QByteArray("a\xE7\xA0\x81") << low << 10 << 300;
    QTest::newRow("defaults") << QByteArray("text=a") << 0u << QByteArray("a") << low << 10 << 300;
    QTest::newRow("any order and case")
        << QByteArray("w=500&text=a&m=0&el=H") << 0u << QByteArray("a") << high << 0 << 500;
    QTest::newRow("unknown keys ignored")
        << QByteArray("x=1&text=a&flag") << 0u << QByteArray("a") << low << 10 << 300;
    QTest::newRow("bad escapes in unknown keys and values ignored")
        << QByteArray("text=%61&x=%ZZ&y=%4&%zz=1&w%=5") << 0u << QByteArray("a") << low << 10 << 300;
    QTest::newRow("bytes to be escaped in unknown keys and values ignored")
        << QByteArray("x=a b<\"\x80&text=a&{}=1") << 0u << QByteArray("a") << low << 10 << 300;
    QTest::newRow("keys compared once decoded")
        << QByteArray("%74ext=a&%77=500") << 0u << QByteArray("a") << low << 10 << 500;
    QTest::newRow("empty pairs skipped")
        << QByteArray("&&text=a&") << 0u << QByteArray("a") << low << 10 << 300;
    QTest::newRow("widest range") << QByteArray("text=a&w=4096&m=2048") << 0u << QByteArray("a") << low
                                  << 2048 << 4096;
    QTest::newRow("narrowest width") << QByteArray("text=a&w=21&m=0") << 0u << QByteArray("a") << low << 0
                                     << 21;
    QTest::newRow("leading zeros") << QByteArray("text=a&w=0300") << 0u << QByteArray("a") << low << 10
                                   << 300;

    const auto refused = [](const char* name, const char* query) {
        QTest::newRow(name) << QByteArray(query) << 400u << QByteArray() << 0 << 0 << 0;
    };
    refused("no query", "");
    refused("text missing", "el=l&m=10&w=300");
    refused("text empty", "text=");
    refused("text without value", "text");
    refused("text twice", "text=a&text=b");
    refused("bad escape in text", "text=%zz");
    refused("bad escape in a known value", "text=a&el=%4");
    refused("byte to be escaped in a known value", "text=a b");
    refused("unknown level", "text=a&el=x");
    refused("empty level", "text=a&el=");
    refused("width too small", "text=a&w=20");
    refused("width too large", "text=a&w=4097");
    refused("width with sign", "text=a&w=+300");
    refused("negative margin", "text=a&m=-1");
    refused("margin too large", "text=a&m=2049");
    refused("width not decimal", "text=a&w=3e2");
    refused("width overflowing", "text=a&w=99999999999999999999");
    refused("width escaped oddly", "text=a&w=%33%30%30%20");
    // clang-format on
}

void TstQrServiceCore::parseQuery() {
    QFETCH(QByteArray, query);
    QFETCH(unsigned, refusal);

    const auto parsed = ParseQrQuery(Text(query));
    if (refusal != 0) {
        QVERIFY(std::holds_alternative<Refusal>(parsed));
        QCOMPARE(std::get<Refusal>(parsed).status, refusal);
        return;
    }
    QVERIFY2(std::holds_alternative<QrRequest>(parsed),
             std::holds_alternative<Refusal>(parsed) ? std::get<Refusal>(parsed).reason.c_str() : "");
    const QrRequest& request = std::get<QrRequest>(parsed);
    QTEST(Bytes(request.text), "text");
    QTEST(int(request.level), "level");
    QTEST(request.marginPx, "margin");
    QTEST(request.widthPx, "width");
}

void TstQrServiceCore::pictureGeometry_data() {
    // clang-format off
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("margin");
    QTest::addColumn<int>("level");

    QByteArray longest;
    while (longest.size() < 672) longest += "码a";
    longest.truncate(672);
    QTest::newRow("desktop size, short text") << QByteArray("a") << 300 << 10 << int(ErrorCorrection::Low);
    QTest::newRow("desktop size, 672 bytes") << longest << 300 << 10 << int(ErrorCorrection::Low);
    QTest::newRow("one pixel a module") << QByteArray("a") << 21 << 0 << int(ErrorCorrection::Low);
    QTest::newRow("odd leftover") << QByteArray("hello") << 301 << 0 << int(ErrorCorrection::Quartile);
    QTest::newRow("wide margin") << QByteArray("hello") << 400 << 150 << int(ErrorCorrection::High);
    QTest::newRow("largest picture") << QByteArray("hello") << 4096 << 7 << int(ErrorCorrection::Medium);
    // clang-format on
}

// The symbol's bounding box, its module size (from the 7-module finder
// square in its top-left corner) and every module's pixels are checked.
void TstQrServiceCore::pictureGeometry() {
    QFETCH(QByteArray, text);
    QFETCH(int, width);
    QFETCH(int, margin);
    QFETCH(int, level);

    const std::vector<std::uint8_t> png = RenderOrFail({Text(text), ErrorCorrection(level), margin, width});
    QVERIFY(png.size() > 33);
    QCOMPARE(int(png[24]), 1);  // IHDR bit depth
    QCOMPARE(int(png[25]), 0);  // IHDR colour type: grey
    const std::optional<GreyImage> image = DecodeGrey(png);
    QVERIFY(image);
    QCOMPARE(image->width, width);
    QCOMPARE(image->height, width);
    for (std::uint8_t pixel : image->pixels)
        QVERIFY(pixel == 0 || pixel == 255);

    int left = width, top = width, right = -1, bottom = -1;
    for (int y = 0; y < width; ++y) {
        for (int x = 0; x < width; ++x) {
            if (!image->dark(x, y)) continue;
            left = std::min(left, x), right = std::max(right, x);
            top = std::min(top, y), bottom = std::max(bottom, y);
        }
    }
    const int side = right - left + 1;
    QCOMPARE(bottom - top + 1, side);
    QVERIFY(left >= margin && top >= margin);
    QVERIFY(width - 1 - right >= margin && width - 1 - bottom >= margin);
    QVERIFY(std::abs(left - (width - 1 - right)) <= 1);
    QVERIFY(std::abs(top - (width - 1 - bottom)) <= 1);

    int finderRun = 0;
    while (image->dark(left + finderRun, top))
        ++finderRun;
    QCOMPARE(finderRun % 7, 0);
    const int modulePx = finderRun / 7;
    QCOMPARE(side % modulePx, 0);
    const int modules = side / modulePx;
    QCOMPARE(modules % 4, 1);                            // 21, 25, ... 177
    QCOMPARE(modulePx, (width - 2 * margin) / modules);  // the largest that fits
    for (int y = top; y <= bottom; ++y) {
        for (int x = left; x <= right; ++x) {
            const int cornerX = left + (x - left) / modulePx * modulePx;
            const int cornerY = top + (y - top) / modulePx * modulePx;
            if (image->dark(x, y) != image->dark(cornerX, cornerY)) {
                QFAIL(qPrintable(QString("module edge not sharp at %1,%2").arg(x).arg(y)));
            }
        }
    }
}

void TstQrServiceCore::symbolCapacity_data() {
    // clang-format off
    QTest::addColumn<int>("bytes");
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("margin");
    QTest::addColumn<unsigned>("refusal");

    // Version 40 holds 2953 bytes at level L and 1273 at level H; 177
    // modules need 300 - 2 * 61 pixels or more.
    QTest::newRow("largest at L") << 2953 << int(ErrorCorrection::Low) << 61 << 0u;
    QTest::newRow("beyond L") << 2954 << int(ErrorCorrection::Low) << 10 << 413u;
    QTest::newRow("largest at H") << 1273 << int(ErrorCorrection::High) << 10 << 0u;
    QTest::newRow("beyond H") << 1274 << int(ErrorCorrection::High) << 10 << 413u;
    QTest::newRow("does not fit the picture") << 2953 << int(ErrorCorrection::Low) << 62 << 400u;
    // clang-format on
}

void TstQrServiceCore::symbolCapacity() {
    QFETCH(int, bytes);
    QFETCH(int, level);
    QFETCH(int, margin);
    QFETCH(unsigned, refusal);

    const auto rendered = RenderQrPng({std::string(std::size_t(bytes), '\xFF'), ErrorCorrection(level), margin, 300});
    const unsigned status = std::holds_alternative<Refusal>(rendered) ? std::get<Refusal>(rendered).status : 0u;
    QCOMPARE(status, refusal);
}

void TstQrServiceCore::commandLine_data() {
    // clang-format off
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitStatus");  // -1: the service runs
    QTest::addColumn<QString>("listen");
    QTest::addColumn<unsigned>("threads");
    QTest::addColumn<unsigned>("maxConnections");
    QTest::addColumn<unsigned>("timeout");

    QTest::newRow("defaults") << QStringList() << -1 << "127.0.0.1:8731" << 2u << kDefaultMaxConnections
                              << kDefaultTimeoutSeconds;
    QTest::newRow("every option") << QStringList{"--listen",          "127.0.0.1:0", "--threads", "3",
                                                 "--max-connections", "10",          "--timeout", "2"}
                                  << -1 << "127.0.0.1:0" << 3u << 10u << 2u;
    QTest::newRow("any address") << QStringList{"--listen", "0.0.0.0:80"} << -1 << "0.0.0.0:80" << 2u
                                 << kDefaultMaxConnections << kDefaultTimeoutSeconds;
    QTest::newRow("help") << QStringList{"--help", "--bogus"} << 0 << "" << 0u << 0u << 0u;
    const auto bad = [](const char* name, QStringList args) {
        QTest::newRow(name) << args << 2 << "" << 0u << 0u << 0u;
    };
    bad("host name", {"--listen", "localhost:80"});
    bad("no port", {"--listen", "127.0.0.1"});
    bad("port too large", {"--listen", "127.0.0.1:65536"});
    bad("no threads", {"--threads", "0"});
    bad("too many threads", {"--threads", "65"});
    bad("missing value", {"--timeout"});
    bad("unknown option", {"--bogus", "1"});
    bad("stray argument", {"127.0.0.1:80"});
    // clang-format on
}

void TstQrServiceCore::commandLine() {
    QFETCH(QStringList, args);
    QFETCH(int, exitStatus);

    const auto parsed = Parse(args);

    if (exitStatus >= 0) {
        QVERIFY(std::holds_alternative<CommandLineExit>(parsed));
        QCOMPARE(std::get<CommandLineExit>(parsed).status, exitStatus);
        QVERIFY(!std::get<CommandLineExit>(parsed).message.empty());
        return;
    }
    QVERIFY(std::holds_alternative<ServiceOptions>(parsed));
    const ServiceOptions& options = std::get<ServiceOptions>(parsed);
    char host[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &options.listen.sin_addr, host, sizeof host);
    QTEST(QString("%1:%2").arg(host).arg(ntohs(options.listen.sin_port)), "listen");
    QTEST(options.threads, "threads");
    QTEST(options.maxConnections, "maxConnections");
    QTEST(options.timeoutSeconds, "timeout");
}

// The default comes from the build configuration, so it can be anything.
void TstQrServiceCore::badBuiltInListenAddress_data() {
    // clang-format off
    QTest::addColumn<QString>("defaultListen");
    QTest::newRow("host name") << "localhost:8731";
    QTest::newRow("trailing slash") << "127.0.0.1:8731/";
    QTest::newRow("no port") << "127.0.0.1";
    QTest::newRow("empty") << "";
    // clang-format on
}

void TstQrServiceCore::badBuiltInListenAddress() {
    QFETCH(QString, defaultListen);
    const std::string listen = defaultListen.toStdString();
    const auto parsed = ParseServiceOptions({}, listen, 2);
    QVERIFY(std::holds_alternative<CommandLineExit>(parsed));
    const CommandLineExit& exit = std::get<CommandLineExit>(parsed);
    QCOMPARE(exit.status, 2);
    QVERIFY2(exit.message.find("\"" + listen + "\"") != std::string::npos, exit.message.c_str());
}

void TstQrServiceCore::privateSocketCommandLine_data() {
    // clang-format off
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitStatus");  // -1: the service runs
    QTest::addColumn<QString>("output");  // the socket path, or the message for an exit status 0
    QTest::addColumn<unsigned>("idleExit");

    const QString socket = "/run/user/1000/qrgen/qr-image-service.sock";
    QTest::newRow("socket and idle exit") << QStringList{"--socket", socket, "--idle-exit", "300"} << -1 << socket
                                          << 300u;
    QTest::newRow("no idle exit") << QStringList{"--socket", socket} << -1 << socket << 0u;
    QTest::newRow("version") << QStringList{"--version", "--bogus"} << 0 << "qr-image-service " QRGEN_VERSION "\n"
                             << 0u;
    const auto bad = [](const char* name, QStringList args) { QTest::newRow(name) << args << 2 << "" << 0u; };
    bad("relative socket", {"--socket", "qr.sock"});
    bad("socket path too long", {"--socket", "/" + QString(107, 'a')});
    bad("socket and listen", {"--listen", "127.0.0.1:0", "--socket", socket});
    bad("idle exit 0", {"--idle-exit", "0"});
    bad("idle exit over a day", {"--idle-exit", "86401"});
    // clang-format on
}

void TstQrServiceCore::privateSocketCommandLine() {
    QFETCH(QStringList, args);
    QFETCH(int, exitStatus);

    const auto parsed = Parse(args);

    if (exitStatus >= 0) {
        QVERIFY(std::holds_alternative<CommandLineExit>(parsed));
        QCOMPARE(std::get<CommandLineExit>(parsed).status, exitStatus);
        if (exitStatus == 0) QTEST(QString::fromStdString(std::get<CommandLineExit>(parsed).message), "output");
        return;
    }
    QVERIFY(std::holds_alternative<ServiceOptions>(parsed));
    QTEST(QString::fromStdString(std::get<ServiceOptions>(parsed).socketPath), "output");
    QTEST(std::get<ServiceOptions>(parsed).idleExitSeconds, "idleExit");
}

void TstQrServiceCore::headTimeout_data() {
    // clang-format off
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<unsigned>("seconds");  // 0: a bad command line
    QTest::newRow("default") << QStringList() << kDefaultHeadTimeoutSeconds;
    QTest::newRow("given") << QStringList{"--head-timeout", "7"} << 7u;
    QTest::newRow("longest") << QStringList{"--head-timeout", "600"} << 600u;
    QTest::newRow("zero") << QStringList{"--head-timeout", "0"} << 0u;
    QTest::newRow("too long") << QStringList{"--head-timeout", "601"} << 0u;
    QTest::newRow("missing value") << QStringList{"--head-timeout"} << 0u;
    // clang-format on
}

void TstQrServiceCore::headTimeout() {
    QFETCH(QStringList, args);
    QFETCH(unsigned, seconds);
    const auto parsed = Parse(args);
    if (seconds == 0) {
        QVERIFY(std::holds_alternative<CommandLineExit>(parsed));
        QCOMPARE(std::get<CommandLineExit>(parsed).status, 2);
        return;
    }
    QVERIFY(std::holds_alternative<ServiceOptions>(parsed));
    QCOMPARE(std::get<ServiceOptions>(parsed).headTimeoutSeconds, seconds);
}

void TstQrServiceCore::connectionLimit_data() {
    // clang-format off
    QTest::addColumn<unsigned>("requested");
    QTest::addColumn<unsigned>("threads");
    QTest::addColumn<unsigned>("openFiles");
    QTest::addColumn<unsigned>("limit");
    QTest::newRow("files to spare") << 4096u << 2u << 1048576u << 4096u;
    QTest::newRow("usual soft limit") << 4096u << 2u << 1024u << 1004u;
    QTest::newRow("every thread takes two") << 4096u << 64u << 1024u << 880u;
    QTest::newRow("just enough") << 10u << 1u << 28u << 10u;
    QTest::newRow("one short") << 10u << 1u << 27u << 9u;
    QTest::newRow("no room at all") << 10u << 1u << 5u << 1u;
    // clang-format on
}

void TstQrServiceCore::connectionLimit() {
    QFETCH(unsigned, requested);
    QFETCH(unsigned, threads);
    QFETCH(unsigned, openFiles);
    QTEST(FitConnectionLimit(requested, threads, openFiles), "limit");
}

QTEST_GUILESS_MAIN(TstQrServiceCore)
#include "tst_qr_service_core.moc"
