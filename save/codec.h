// Inside the converter: one decoder and one encoder per format, and the
// limits they share. The decoders take bytes whose signature matched.
#pragma once

#include "save/save.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace save::codec {

// The pixel bytes of a width x height image with `channels` bytes a pixel, or
// nothing when a side is outside 1..kMaxImageDimension. Checked before any
// pixel memory is allocated.
std::optional<std::size_t> PixelBytes(long long width, long long height, int channels);

// As PixelBytes, and nothing too for more than maxPixels pixels: the
// decoders' bound.
std::optional<std::size_t> DecodedPixelBytes(long long width, long long height, int channels, long long maxPixels);

// The output room an encoder starts with, doubled whenever it is full. A
// saved QR picture takes a few tens of KiB; room for the worst case would
// cost more to clear than the encoding itself.
inline constexpr std::size_t kInitialOutputBytes = 64 * 1024;

// Resizes `buffer` to `size` bytes; nullptr when memory runs out. Called from
// the C-style library functions, which must not see an exception.
std::uint8_t* ResizeBuffer(Bytes* buffer, std::size_t size) noexcept;

// The frame both encoders run their library in: room of kInitialOutputBytes,
// then `run(&job)`, which writes out[0, used) or leaves a reason in
// error.text. `Job` holds the members image, out, used and error.text.
template <typename Job>
std::optional<Bytes> EncodeWith(bool (*run)(Job*), const Image& image, const char* outOfMemory, std::string& error) {
    Bytes out;
    Job job{};
    job.image = &image;
    job.out = &out;
    if (!ResizeBuffer(&out, kInitialOutputBytes)) {
        error = outOfMemory;
        return std::nullopt;
    }
    if (!run(&job)) {
        error = job.error.text;
        return std::nullopt;
    }
    out.resize(job.used);
    return out;
}

// Each refuses a picture of more than maxPixels pixels before decoding it.
std::optional<Image> DecodePng(const Bytes& bytes, long long maxPixels, std::string& error);
std::optional<Image> DecodeJpeg(const Bytes& bytes, long long maxPixels, std::string& error);
std::optional<Image> DecodeBmp(const Bytes& bytes, long long maxPixels, std::string& error);

// The encoders take a well-formed image.
std::optional<Bytes> EncodePng(const Image& image, std::string& error);
std::optional<Bytes> EncodeJpeg(const Image& image, std::string& error);
Bytes EncodeBmp(const Image& image);

}  // namespace save::codec
