// BMP by hand: the format is a pair of little-endian headers and raw rows.
#include "save/codec.h"

#include <climits>

namespace save::codec {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::uint32_t kUncompressed = 0;

std::uint32_t ReadU32(const Bytes& bytes, std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

std::uint16_t ReadU16(const Bytes& bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

void PutU32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void PutU16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

// Bytes of one stored row: bitsPerPixel * width bits rounded up to 4 bytes.
std::size_t RowSize(std::size_t width, unsigned bitsPerPixel) {
    return (width * bitsPerPixel + 31) / 32 * 4;
}

}  // namespace

std::optional<Image> DecodeBmp(const Bytes& bytes, long long maxPixels, std::string& error) {
    if (bytes.size() < kFileHeaderSize + kInfoHeaderSize) {
        error = "BMP: the file is truncated";
        return std::nullopt;
    }
    const std::uint32_t pixelOffset = ReadU32(bytes, 10);
    const std::uint32_t infoSize = ReadU32(bytes, 14);
    const auto width = static_cast<std::int32_t>(ReadU32(bytes, 18));
    const auto storedHeight = static_cast<std::int32_t>(ReadU32(bytes, 22));
    const unsigned planes = ReadU16(bytes, 26);
    const unsigned bitsPerPixel = ReadU16(bytes, 28);
    const std::uint32_t compression = ReadU32(bytes, 30);
    const std::uint32_t coloursUsed = ReadU32(bytes, 46);

    // Later header versions (V4, V5) extend the 40-byte one and keep its fields.
    if (infoSize < kInfoHeaderSize || infoSize > bytes.size() - kFileHeaderSize || planes != 1) {
        error = "BMP: unsupported or corrupt header";
        return std::nullopt;
    }
    const bool paletted = bitsPerPixel == 1 || bitsPerPixel == 4 || bitsPerPixel == 8;
    if (compression != kUncompressed || !(paletted || bitsPerPixel == 24 || bitsPerPixel == 32)) {
        error = "BMP: only uncompressed 1-, 4-, 8-, 24- and 32-bit images are supported";
        return std::nullopt;
    }
    // A negative height stores the rows top-down.
    const bool topDown = storedHeight < 0;
    const long long height = topDown ? -static_cast<long long>(storedHeight) : storedHeight;
    const std::optional<std::size_t> size = DecodedPixelBytes(width, height, 3, maxPixels);
    if (!size) {
        error = "BMP: image size out of range";
        return std::nullopt;
    }

    const std::size_t paletteAt = kFileHeaderSize + infoSize;
    const std::size_t paletteEntries = !paletted ? 0 : coloursUsed ? coloursUsed : std::size_t{1} << bitsPerPixel;
    const std::size_t rowSize = RowSize(static_cast<std::size_t>(width), bitsPerPixel);
    if (paletteEntries > (std::size_t{1} << bitsPerPixel) || paletteAt + 4 * paletteEntries > bytes.size() ||
        pixelOffset < paletteAt + 4 * paletteEntries || pixelOffset > bytes.size() ||
        rowSize * static_cast<std::size_t>(height) > bytes.size() - pixelOffset) {
        error = "BMP: the file is truncated or its offsets are corrupt";
        return std::nullopt;
    }

    Image image{width, static_cast<int>(height), std::vector<std::uint8_t>(*size)};
    std::uint8_t* out = image.rgb.data();
    const unsigned indexMask = paletted ? (1u << bitsPerPixel) - 1 : 0;
    for (long long y = 0; y < height; ++y) {
        const long long storedRow = topDown ? y : height - 1 - y;
        const std::uint8_t* row = bytes.data() + pixelOffset + storedRow * rowSize;
        for (std::int32_t x = 0; x < width; ++x) {
            const std::uint8_t* bgr;
            if (paletted) {
                const std::size_t bit = static_cast<std::size_t>(x) * bitsPerPixel;
                const unsigned index = (row[bit / 8] >> (8 - bitsPerPixel - bit % 8)) & indexMask;
                if (index >= paletteEntries) {
                    error = "BMP: pixel refers to a colour beyond the palette";
                    return std::nullopt;
                }
                bgr = bytes.data() + paletteAt + 4 * index;
            } else {
                bgr = row + static_cast<std::size_t>(x) * (bitsPerPixel / 8);
            }
            *out++ = bgr[2];
            *out++ = bgr[1];
            *out++ = bgr[0];
        }
    }
    return image;
}

Bytes EncodeBmp(const Image& image) {
    const std::size_t width = static_cast<std::size_t>(image.width);
    const std::size_t rowSize = RowSize(width, 24);
    const std::size_t fileSize = kFileHeaderSize + kInfoHeaderSize + rowSize * image.height;
    Bytes out(fileSize);  // zero: reserved words, unused fields and row padding
    std::uint8_t* header = out.data();
    header[0] = 'B';
    header[1] = 'M';
    PutU32(header + 2, static_cast<std::uint32_t>(fileSize));
    PutU32(header + 10, kFileHeaderSize + kInfoHeaderSize);
    PutU32(header + 14, kInfoHeaderSize);
    PutU32(header + 18, static_cast<std::uint32_t>(image.width));
    PutU32(header + 22, static_cast<std::uint32_t>(image.height));
    PutU16(header + 26, 1);   // planes
    PutU16(header + 28, 24);  // bits per pixel
    // Compression, image size, resolutions and colour counts stay 0.

    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* in = image.rgb.data() + 3 * width * y;
        std::uint8_t* row = out.data() + kFileHeaderSize + kInfoHeaderSize + rowSize * (image.height - 1 - y);
        for (std::size_t x = 0; x < width; ++x, in += 3, row += 3) {
            row[0] = in[2];
            row[1] = in[1];
            row[2] = in[0];
        }
    }
    return out;
}

}  // namespace save::codec
