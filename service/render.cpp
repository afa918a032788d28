#include "service/qr_service.h"

#include <png.h>
#include <qrencode.h>
#include <zlib.h>

#include <cerrno>
#include <csetjmp>
#include <memory>

namespace qrservice {
namespace {

QRecLevel ToQrencodeLevel(ErrorCorrection level) {
    switch (level) {
    case ErrorCorrection::Low: return QR_ECLEVEL_L;
    case ErrorCorrection::Medium: return QR_ECLEVEL_M;
    case ErrorCorrection::Quartile: return QR_ECLEVEL_Q;
    case ErrorCorrection::High: return QR_ECLEVEL_H;
    }
    return QR_ECLEVEL_L;
}

char LevelLetter(ErrorCorrection level) {
    return "lmqh"[static_cast<int>(level)];
}

struct QrcodeDeleter {
    void operator()(QRcode* code) const { QRcode_free(code); }
};

struct PngSink {
    std::vector<std::uint8_t>* bytes;
};

void AppendToSink(png_structp png, png_bytep data, png_size_t length) {
    auto* sink = static_cast<PngSink*>(png_get_io_ptr(png));
    bool stored = true;
    try {
        sink->bytes->insert(sink->bytes->end(), data, data + length);
    } catch (...) {
        stored = false;
    }
    // Outside the catch block: png_error leaves by longjmp.
    if (!stored) png_error(png, "out of memory");
}

void IgnoreFlush(png_structp) {}

[[noreturn]] void QuietError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
void QuietWarning(png_structp, png_const_charp) {}

// libpng leaves this function by longjmp on any error, so no object with a
// destructor may live in its frame.
bool WriteOneBitGreyPng(png_bytepp rows, png_uint_32 size, PngSink* sink) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, QuietError, QuietWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, sink, AppendToSink, IgnoreFlush);
    png_set_IHDR(png, info, size, size, 1, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    // A module is several pixel rows tall, so most rows repeat the one above:
    // the Up filter turns them into zeros, which run-length deflate packs at
    // a fraction of the time full LZ77 matching takes on these pictures.
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    png_set_compression_strategy(png, Z_RLE);
    png_write_info(png, info);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

void ClearPixels(std::uint8_t* row, int first, int count) {
    for (int x = first; x < first + count; ++x) {
        row[x / 8] &= static_cast<std::uint8_t>(~(0x80u >> (x % 8)));
    }
}

}  // namespace

std::variant<std::vector<std::uint8_t>, Refusal> RenderQrPng(const QrRequest& request) {
    errno = 0;
    std::unique_ptr<QRcode, QrcodeDeleter> code(QRcode_encodeData(
        static_cast<int>(request.text.size()), reinterpret_cast<const unsigned char*>(request.text.data()), 0,
        ToQrencodeLevel(request.level)));
    if (!code) {
        if (errno == ERANGE) {
            return Refusal{413, "text of " + std::to_string(request.text.size()) +
                                    " bytes is beyond the largest QR symbol at level " + LevelLetter(request.level)};
        }
        return Refusal{500, "the QR symbol could not be built"};
    }

    const int modules = code->width;
    const int width = request.widthPx;
    const int modulePx = (width - 2 * request.marginPx) / modules;
    if (modulePx < 1) {
        return Refusal{400, "a symbol of " + std::to_string(modules) + " modules and a margin of " +
                                std::to_string(request.marginPx) + " px do not fit in w=" + std::to_string(width)};
    }
    const int symbolPx = modules * modulePx;
    const int offset = (width - symbolPx) / 2;

    // One packed row per module row, white = 1; picture rows point into these.
    const std::size_t rowBytes = (static_cast<std::size_t>(width) + 7) / 8;
    std::vector<std::uint8_t> whiteRow(rowBytes, 0xFF);
    std::vector<std::uint8_t> moduleRows(rowBytes * modules, 0xFF);
    for (int y = 0; y < modules; ++y) {
        std::uint8_t* row = moduleRows.data() + rowBytes * y;
        for (int x = 0; x < modules; ++x) {
            if (code->data[y * modules + x] & 1) ClearPixels(row, offset + x * modulePx, modulePx);
        }
    }
    std::vector<png_bytep> rows(width, whiteRow.data());
    for (int y = 0; y < symbolPx; ++y) {
        rows[offset + y] = moduleRows.data() + rowBytes * (y / modulePx);
    }

    std::vector<std::uint8_t> png;
    PngSink sink{&png};
    if (!WriteOneBitGreyPng(rows.data(), static_cast<png_uint_32>(width), &sink)) {
        return Refusal{500, "the PNG picture could not be written"};
    }
    return png;
}

}  // namespace qrservice
