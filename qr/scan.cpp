// Reading a shown or saved picture back, to prove it holds what was asked for.
#include "qr/qr.h"

#include <ZXing/ReadBarcode.h>

namespace qr {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::optional<std::string> ReadQrPayload(const std::uint8_t* rgb, int width, int height, int rowBytes) {
    if (!rgb || width < 1 || height < 1 || rowBytes < 3 * width) return std::nullopt;
    // The service draws black modules on white, upright and unblurred; a
    // fixed threshold reads those (JPEG files included) at a fraction of the
    // cost of the adaptive default. Rotation is not tried: nothing turns them.
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    hints.setBinarizer(ZXing::Binarizer::FixedThreshold);
    hints.setTryRotate(false);
    hints.setMaxNumberOfSymbols(1);
    const ZXing::ImageView view(rgb, width, height, ZXing::ImageFormat::RGB, rowBytes);
    const ZXing::Result result = ZXing::ReadBarcode(view, hints);
    if (!result.isValid()) return std::nullopt;
    const ZXing::ByteArray& bytes = result.bytes();
    return std::string(bytes.begin(), bytes.end());
}

std::string RequestedText(std::string_view url) {
    std::string_view value;
    for (std::size_t start = url.find('?'); start != std::string_view::npos; start = url.find('&', start + 1)) {
        const std::string_view pair = url.substr(start + 1, url.find('&', start + 1) - start - 1);
        if (pair.starts_with("text=")) {
            value = pair.substr(5);
            break;
        }
    }
    std::string text;
    text.reserve(value.size() / 3);
    for (std::size_t i = 0; i < value.size(); ++i) {
        const int high = value[i] == '%' && i + 2 < value.size() ? HexValue(value[i + 1]) : -1;
        const int low = high >= 0 ? HexValue(value[i + 2]) : -1;
        if (low >= 0) {
            text += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            text += value[i];
        }
    }
    return text;
}

bool ShowsPayload(const std::optional<std::string>& read, std::string_view expected) {
    return read && *read == expected;
}

}  // namespace qr
