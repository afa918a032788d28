// PNG through libpng. libpng reports errors by longjmp, so every call into it
// happens in the Run* functions below, which hold only plain data and raw
// pointers across setjmp; the C++ wrappers own the buffers.
#include "save/codec.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace save::codec {
namespace {

// Shared by the read and the write job: where libpng's error text goes.
struct PngErrorText {
    char text[160];
};

void OnPngError(png_structp png, png_const_charp message) {
    auto* error = static_cast<PngErrorText*>(png_get_error_ptr(png));
    std::snprintf(error->text, sizeof error->text, "PNG: %s", message);
    png_longjmp(png, 1);
}

// Warnings (a bad ancillary chunk, say) leave the image readable; the window
// tests fetched bytes with the decoder, which must stay silent.
void IgnorePngWarning(png_structp, png_const_charp) {}

// Deflate turns one byte into at most about 1032 (a 258-byte match in two
// bits). Rows beyond that many times the file's size cannot be in it; the
// slack covers the rounding of interlaced rows.
constexpr std::size_t kMaxInflateRatio = 1032;
constexpr std::size_t kInflateSlack = 1024;

struct PngReadJob {
    PngErrorText error;
    const std::uint8_t* data;
    std::size_t size;
    std::size_t offset;
    long long maxPixels;
    Bytes* pixels;  // receives rows of `channels` bytes a pixel
    int width;
    int height;
    int channels;                                     // 1 for a palette image: its indices
    int paletteEntries;                               // 0 unless the image has a palette
    std::uint8_t palette[PNG_MAX_PALETTE_LENGTH][4];  // RGBA, tRNS applied
};

// libpng paints an index beyond the palette black; the palette is applied
// here instead, so that such a pixel is refused, as the BMP decoder does.
void TakePalette(png_structp png, png_infop info, PngReadJob* job) {
    png_colorp colours = nullptr;
    png_get_PLTE(png, info, &colours, &job->paletteEntries);
    png_bytep alpha = nullptr;
    int alphaEntries = 0;
    png_get_tRNS(png, info, &alpha, &alphaEntries, nullptr);
    for (int i = 0; i < job->paletteEntries; ++i) {
        job->palette[i][0] = colours[i].red;
        job->palette[i][1] = colours[i].green;
        job->palette[i][2] = colours[i].blue;
        job->palette[i][3] = i < alphaEntries ? alpha[i] : 255;
    }
}

void ReadPngBytes(png_structp png, png_bytep out, png_size_t length) {
    auto* job = static_cast<PngReadJob*>(png_get_io_ptr(png));
    if (length > job->size - job->offset) png_error(png, "the file is truncated");
    std::memcpy(out, job->data + job->offset, length);
    job->offset += length;
}

bool RunPngRead(PngReadJob* job) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &job->error, OnPngError, IgnorePngWarning);
    if (!png) {
        std::snprintf(job->error.text, sizeof job->error.text, "PNG: out of memory");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        std::snprintf(job->error.text, sizeof job->error.text, "PNG: out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, job, ReadPngBytes);
    // libpng itself then refuses a larger IHDR, before it allocates rows.
    png_set_user_limits(png, kMaxImageDimension, kMaxImageDimension);
    png_read_info(png, info);
    // Refused before the pixels are allocated: a file of a hundred bytes may
    // claim the largest size. The row bytes are still those of the file.
    if (std::size_t{png_get_image_height(png, info)} * png_get_rowbytes(png, info) >
        job->size * kMaxInflateRatio + kInflateSlack)
        png_error(png, "the file is too small for its image size");

    if (png_get_color_type(png, info) == PNG_COLOR_TYPE_PALETTE) {
        TakePalette(png, info, job);
        png_set_packing(png);  // one index byte a pixel
    } else {
        // Not for a palette: png_set_gray_to_rgb would expand it as well.
        png_set_expand(png);  // grey below 8 bits to 8, tRNS to alpha
        png_set_scale_16(png);
        png_set_gray_to_rgb(png);
    }
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);

    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    const int channels = png_get_channels(png, info);
    const std::optional<std::size_t> size = DecodedPixelBytes(width, height, channels, job->maxPixels);
    const bool layoutKnown = job->paletteEntries > 0 ? channels == 1 : channels == 3 || channels == 4;
    if (!size || !layoutKnown || png_get_rowbytes(png, info) != width * channels)
        png_error(png, "unsupported image size or layout");
    std::uint8_t* pixels = ResizeBuffer(job->pixels, *size);
    if (!pixels) png_error(png, "out of memory");
    const std::size_t rowBytes = static_cast<std::size_t>(width) * channels;
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y)
            png_read_row(png, pixels + y * rowBytes, nullptr);
    png_read_end(png, nullptr);  // a file cut off after its pixels is still truncated

    job->width = static_cast<int>(width);
    job->height = static_cast<int>(height);
    job->channels = channels;
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

struct PngWriteJob {
    PngErrorText error;
    const Image* image;
    Bytes* out;
    std::size_t used;
};

void WritePngBytes(png_structp png, png_bytep data, png_size_t length) {
    auto* job = static_cast<PngWriteJob*>(png_get_io_ptr(png));
    if (job->out->size() - job->used < length) {
        const std::size_t grown = std::max(2 * job->out->size(), job->used + length);
        if (!ResizeBuffer(job->out, grown)) png_error(png, "out of memory");
    }
    std::memcpy(job->out->data() + job->used, data, length);
    job->used += length;
}

// Without it libpng would fflush() the io pointer, which is no FILE.
void FlushNothing(png_structp) {}

bool RunPngWrite(PngWriteJob* job) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &job->error, OnPngError, IgnorePngWarning);
    if (!png) {
        std::snprintf(job->error.text, sizeof job->error.text, "PNG: out of memory");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        std::snprintf(job->error.text, sizeof job->error.text, "PNG: out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    const Image& image = *job->image;
    png_set_write_fn(png, job, WritePngBytes, FlushNothing);
    png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_ADAM7,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const int passes = png_set_interlace_handling(png);
    const std::size_t rowBytes = 3 * static_cast<std::size_t>(image.width);
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < image.height; ++y)
            png_write_row(png, image.rgb.data() + y * rowBytes);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

// Alpha over a white background, rounded to nearest.
void CompositeOnWhite(Bytes& rgba, std::size_t pixelCount) {
    std::uint8_t* out = rgba.data();
    const std::uint8_t* in = rgba.data();
    for (std::size_t i = 0; i < pixelCount; ++i, in += 4) {
        const unsigned alpha = in[3];
        for (int c = 0; c < 3; ++c)
            *out++ = static_cast<std::uint8_t>((in[c] * alpha + 255 * (255 - alpha) + 127) / 255);
    }
    rgba.resize(3 * pixelCount);
}

// Puts the RGBA pixels of palette indices into `rgba`. Returns nullptr, or
// why it could not.
const char* ApplyPalette(const PngReadJob& job, const Bytes& indices, Bytes& rgba) {
    if (!ResizeBuffer(&rgba, 4 * indices.size())) return "PNG: out of memory";
    std::uint8_t* out = rgba.data();
    for (const std::uint8_t index : indices) {
        if (index >= job.paletteEntries) return "PNG: pixel refers to a colour beyond the palette";
        out = std::copy_n(job.palette[index], 4, out);
    }
    return nullptr;
}

}  // namespace

std::optional<Image> DecodePng(const Bytes& bytes, long long maxPixels, std::string& error) {
    Bytes pixels;
    PngReadJob job{};
    job.data = bytes.data();
    job.size = bytes.size();
    job.maxPixels = maxPixels;
    job.pixels = &pixels;
    if (!RunPngRead(&job)) {
        error = job.error.text;
        return std::nullopt;
    }
    if (job.paletteEntries > 0) {
        Bytes rgba;
        if (const char* failure = ApplyPalette(job, pixels, rgba)) {
            error = failure;
            return std::nullopt;
        }
        pixels = std::move(rgba);
    }
    if (job.paletteEntries > 0 || job.channels == 4)
        CompositeOnWhite(pixels, static_cast<std::size_t>(job.width) * job.height);
    return Image{job.width, job.height, std::move(pixels)};
}

std::optional<Bytes> EncodePng(const Image& image, std::string& error) {
    return EncodeWith(RunPngWrite, image, "PNG: out of memory", error);
}

}  // namespace save::codec
