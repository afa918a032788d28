#include "app/picture_check.h"

#include "qr/qr.h"

#include <cmath>
#include <fstream>
#include <iterator>

namespace {

// Pixels darker than this count as black modules, as the decoder sees them.
constexpr int kDarkBelow = 128;

bool isDark(const save::Image& image, int x, int y) {
    const std::uint8_t* p = &image.rgb[3 * (static_cast<std::size_t>(y) * image.width + x)];
    return (p[0] + p[1] + p[2]) / 3 < kDarkBelow;
}

// Modules across the whole picture, quiet zone included: the top edge of the
// top-left finder pattern is the first dark run and 7 modules wide.
std::optional<int> modulesAcross(const save::Image& image) {
    for (int y = 0; y < image.height; ++y) {
        int x = 0;
        while (x < image.width && !isDark(image, x, y))
            ++x;
        if (x == image.width) continue;
        const int start = x;
        while (x < image.width && isDark(image, x, y))
            ++x;
        return static_cast<int>(std::lround(7.0 * image.width / (x - start)));
    }
    return std::nullopt;
}

}  // namespace

bool ShowsPayload(const QImage& image, std::string_view payload) {
    if (image.isNull()) return false;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    return qr::ShowsPayload(qr::ReadQrPayload(rgb.constBits(), rgb.width(), rgb.height(), rgb.bytesPerLine()), payload);
}

bool ShowsPayload(const save::Image& image, std::string_view payload) {
    return qr::ShowsPayload(qr::ReadQrPayload(image.rgb.data(), image.width, image.height, 3 * image.width), payload);
}

std::optional<int> SmallestReadableSize(const save::Image& shown, std::string_view payload) {
    const std::optional<int> modules = modulesAcross(shown);
    if (!modules) return std::nullopt;
    for (int side = std::max(*modules, 1); side <= shown.width; ++side) {
        if (ShowsPayload(save::ScaleNearest(shown, side, side), payload)) return side;
    }
    return std::nullopt;
}

std::string UnreadableSaveNote(const std::string& savedPath, std::string_view payload, const save::Bytes& picture) {
    // The path is the file system's bytes, which need not be UTF-8.
    std::ifstream file(savedPath, std::ios::binary);
    const save::Bytes bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const auto saved = save::DecodeImage(bytes, nullptr, save::kMaxSavedPixels);
    if (saved && ShowsPayload(*saved, payload)) return "";
    const auto shown = save::DecodeImage(picture);
    const std::optional<int> smallest = shown ? SmallestReadableSize(*shown, payload) : std::nullopt;
    if (!smallest) return "";
    return "\n注意：二维码图片在这个大小下可能无法扫描，能扫描的最小图片大小是 " + std::to_string(*smallest) + "×" +
           std::to_string(*smallest) + "。";
}
