// Format recognition by signature, the encoder choice and scaling.
#include "save/codec.h"

#include <algorithm>
#include <cstring>

namespace save {
namespace codec {

std::optional<std::size_t> PixelBytes(long long width, long long height, int channels) {
    if (width < 1 || height < 1 || width > kMaxImageDimension || height > kMaxImageDimension) return std::nullopt;
    // At most 8192 * 8192 * 4: no overflow in std::size_t.
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * static_cast<std::size_t>(channels);
}

std::optional<std::size_t> DecodedPixelBytes(long long width, long long height, int channels, long long maxPixels) {
    const std::optional<std::size_t> size = PixelBytes(width, height, channels);
    if (!size || width * height > maxPixels) return std::nullopt;
    return size;
}

std::uint8_t* ResizeBuffer(Bytes* buffer, std::size_t size) noexcept {
    try {
        buffer->resize(size);
        return buffer->data();
    } catch (...) {  // std::bad_alloc or std::length_error
        return nullptr;
    }
}

}  // namespace codec

namespace {

bool StartsWith(const Bytes& bytes, std::initializer_list<std::uint8_t> signature) {
    return bytes.size() >= signature.size() && std::equal(signature.begin(), signature.end(), bytes.begin());
}

bool IsWellFormed(const Image& image) {
    const auto size = codec::PixelBytes(image.width, image.height, 3);
    return size && image.rgb.size() == *size;
}

}  // namespace

std::optional<Image> DecodeImage(const Bytes& bytes, std::string* error, long long maxPixels) {
    std::string reason;
    std::optional<Image> image;
    if (StartsWith(bytes, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}))
        image = codec::DecodePng(bytes, maxPixels, reason);
    else if (StartsWith(bytes, {0xFF, 0xD8, 0xFF}))
        image = codec::DecodeJpeg(bytes, maxPixels, reason);
    else if (StartsWith(bytes, {'B', 'M'}))
        image = codec::DecodeBmp(bytes, maxPixels, reason);
    else
        reason = "not a PNG, JPEG or BMP image";
    if (!image && error) *error = reason.empty() ? "unreadable image" : reason;
    return image;
}

std::optional<ImageFormat> ParseImageFormat(std::string_view saveFormat) {
    for (ImageFormat format : {ImageFormat::Jpeg, ImageFormat::Png, ImageFormat::Bmp})
        if (saveFormat == Extension(format)) return format;
    return std::nullopt;
}

std::string_view Extension(ImageFormat format) {
    switch (format) {
    case ImageFormat::Jpeg: return "jpg";
    case ImageFormat::Png: return "png";
    case ImageFormat::Bmp: return "bmp";
    }
    return {};
}

std::optional<Bytes> EncodeImage(const Image& image, ImageFormat format, std::string* error) {
    std::string reason;
    std::optional<Bytes> bytes;
    if (!IsWellFormed(image)) {
        reason = "the image is empty, too large or its pixel buffer has the wrong size";
    } else {
        switch (format) {
        case ImageFormat::Jpeg: bytes = codec::EncodeJpeg(image, reason); break;
        case ImageFormat::Png: bytes = codec::EncodePng(image, reason); break;
        case ImageFormat::Bmp: bytes = codec::EncodeBmp(image); break;
        }
    }
    if (!bytes && error) *error = reason;
    return bytes;
}

Image ScaleNearest(const Image& image, int width, int height) {
    const auto size = codec::PixelBytes(width, height, 3);
    if (!size || !IsWellFormed(image)) return {};
    // Sample at the centre of each target pixel, so a shrink drops rows and
    // columns evenly instead of always the last ones.
    std::vector<std::size_t> sourceColumn(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x)
        sourceColumn[x] = 3 * static_cast<std::size_t>((2LL * x + 1) * image.width / (2LL * width));
    Image scaled{width, height, std::vector<std::uint8_t>(*size)};
    const std::size_t rowBytes = 3 * static_cast<std::size_t>(width);
    long long previousY = -1;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* out = scaled.rgb.data() + rowBytes * y;
        const long long sourceY = (2LL * y + 1) * image.height / (2LL * height);
        if (sourceY == previousY) {  // enlarging repeats rows: copy the one just made
            std::memcpy(out, out - rowBytes, rowBytes);
            continue;
        }
        previousY = sourceY;
        const std::uint8_t* row = image.rgb.data() + 3 * static_cast<std::size_t>(image.width) * sourceY;
        for (std::size_t column : sourceColumn) {
            *out++ = row[column];
            *out++ = row[column + 1];
            *out++ = row[column + 2];
        }
    }
    return scaled;
}

}  // namespace save
