// The cost of proving a picture: reading the shown 300 x 300 picture back and
// reading a saved 1200 x 1200 file back, as the window does, for payloads
// that trip decoders (bytes that are no UTF-8, Chinese, CR LF, the longest
// request). Beside it the two QR readers Debian offers, on the same pixels:
// zxing-cpp (what the window uses) and zbar in its binary mode.
//
//   bench_scan [runs]
//
// runs: how many times each figure is measured, the median is printed
// (default 21).
#include "app/picture_check.h"
#include "qr/qr.h"
#include "save/save.h"
#include "service/qr_service.h"

#include <QImage>
#include <QTemporaryDir>

#include <zbar.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace {

using namespace zbar;

double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// CPU time of this thread: the machine is shared, and wall time would count
// the other programs' turns as well.
template <class F>
double MedianMs(int runs, F&& work) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const double start = ThreadCpuMs();
        work();
        ms.push_back(ThreadCpuMs() - start);
    }
    std::nth_element(ms.begin(), ms.begin() + runs / 2, ms.end());
    return ms[runs / 2];
}

save::Image ServicePicture(const std::string& text) {
    const auto png = qrservice::RenderQrPng({.text = text});
    if (!std::holds_alternative<std::vector<std::uint8_t>>(png)) {
        std::fprintf(stderr, "the service refused: %s\n", std::get<qrservice::Refusal>(png).reason.c_str());
        std::exit(1);
    }
    return *save::DecodeImage(std::get<std::vector<std::uint8_t>>(png));
}

std::optional<std::string> ZbarRead(const save::Image& image) {
    std::vector<std::uint8_t> grey(static_cast<std::size_t>(image.width) * image.height);
    for (std::size_t i = 0; i < grey.size(); ++i)
        grey[i] = static_cast<std::uint8_t>((image.rgb[3 * i] + image.rgb[3 * i + 1] + image.rgb[3 * i + 2]) / 3);
    zbar_image_scanner_t* scanner = zbar_image_scanner_create();
    zbar_image_scanner_set_config(scanner, ZBAR_NONE, ZBAR_CFG_ENABLE, 0);
    zbar_image_scanner_set_config(scanner, ZBAR_QRCODE, ZBAR_CFG_ENABLE, 1);
    zbar_image_scanner_set_config(scanner, ZBAR_QRCODE, ZBAR_CFG_BINARY, 1);
    zbar_image_t* zimage = zbar_image_create();
    zbar_image_set_format(zimage, zbar_fourcc('Y', '8', '0', '0'));
    zbar_image_set_size(zimage, image.width, image.height);
    zbar_image_set_data(zimage, grey.data(), grey.size(), nullptr);
    std::optional<std::string> read;
    if (zbar_scan_image(scanner, zimage) > 0) {
        const zbar_symbol_t* symbol = zbar_image_first_symbol(zimage);
        read = std::string(zbar_symbol_get_data(symbol), zbar_symbol_get_data_length(symbol));
    }
    zbar_image_destroy(zimage);
    zbar_image_scanner_destroy(scanner);
    return read;
}

std::optional<std::string> ZxingRead(const save::Image& image) {
    return qr::ReadQrPayload(image.rgb.data(), image.width, image.height, 3 * image.width);
}

const char* Verdict(const std::optional<std::string>& read, const std::string& payload) {
    return !read ? "none" : *read == payload ? "ok" : "WRONG";
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
    QTemporaryDir folder;
    if (!folder.isValid()) return 1;

    std::string binary;
    for (int byte = 1; byte < 256; ++byte)
        binary += static_cast<char>(byte);
    std::string chinese672;
    for (int i = 0; i < 224; ++i)
        chinese672 += "码";
    const struct {
        const char* name;
        std::string payload;
    } cases[] = {
        {"a b码", "a b码"},       {"CR LF lines", "第一行\r\n第二行\r\n"}, {"smsto", "smsto:10086:你好\r\n再见"},
        {"bytes 1..255", binary}, {"672 bytes Chinese", chinese672},
    };

    std::printf("median of %d runs, milliseconds of CPU time; read: ok, WRONG (other bytes) or none\n\n", runs);
    std::printf("%-18s %5s | %-22s | %-22s | %-22s | %-16s | %-16s | %s\n", "payload", "bytes", "window check 300",
                "zxing 300 / read", "zbar 300 / read", "saved 1200 png", "saved 1200 jpg", "of it: png decode");
    for (const auto& c : cases) {
        const save::Image shown = ServicePicture(c.payload);
        const QImage qimage =
            QImage(shown.rgb.data(), shown.width, shown.height, 3 * shown.width, QImage::Format_RGB888).copy();
        bool windowOk = true;
        const double windowMs = MedianMs(runs, [&] { windowOk = ShowsPayload(qimage, c.payload); });
        std::optional<std::string> zxing, zbar;
        const double zxingMs = MedianMs(runs, [&] { zxing = ZxingRead(shown); });
        const double zbarMs = MedianMs(runs, [&] { zbar = ZbarRead(shown); });

        const save::Image large = save::ScaleNearest(shown, 1200, 1200);
        double savedMs[2];
        std::string savedNote[2];
        for (const auto format : {save::ImageFormat::Png, save::ImageFormat::Jpeg}) {
            const int i = format == save::ImageFormat::Png ? 0 : 1;
            const std::string path =
                folder.filePath(QString::fromUtf8(c.name)).toStdString() + "." + std::string(save::Extension(format));
            save::WriteFileAtomically(path, *save::EncodeImage(large, format));
            savedMs[i] = MedianMs(runs, [&] { savedNote[i] = UnreadableSaveNote(path, c.payload, {}); });
        }
        const save::Bytes png = *save::EncodeImage(large, save::ImageFormat::Png);
        const double decodeMs = MedianMs(runs, [&] { save::DecodeImage(png); });
        std::printf("%-18s %5zu | %8.2f %-13s | %8.2f %-13s | %8.2f %-13s | %6.2f %-9s | %6.2f %-9s | %6.2f\n", c.name,
                    c.payload.size(), windowMs, windowOk ? "ok" : "MISMATCH", zxingMs, Verdict(zxing, c.payload),
                    zbarMs, Verdict(zbar, c.payload), savedMs[0], savedNote[0].empty() ? "ok" : "NOTE", savedMs[1],
                    savedNote[1].empty() ? "ok" : "NOTE", decodeMs);
    }

    std::printf("\nsmallest readable side of the 300 x 300 picture, and the sides up to 300 that do not read\n");
    for (const auto& c : cases) {
        const save::Image shown = ServicePicture(c.payload);
        const std::optional<int> smallest = SmallestReadableSize(shown, c.payload);
        std::string unread;
        for (int side = smallest.value_or(300); side <= 300; ++side)
            if (!ShowsPayload(save::ScaleNearest(shown, side, side), c.payload)) unread += " " + std::to_string(side);
        std::printf("%-18s %5d |%s\n", c.name, smallest.value_or(-1), unread.empty() ? " (none)" : unread.c_str());
    }
    return 0;
}
