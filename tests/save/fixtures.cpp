#include "fixtures.h"

#include <jpeglib.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <utility>

namespace fixtures {
namespace {

void PutU32Big(Bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

std::uint32_t U32Big(const Bytes& bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 | bytes[at + 3];
}

void PutU32Little(Bytes& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void PutU16Little(Bytes& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

std::uint32_t ChunkCrc(const std::string& type, const Bytes& data) {
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type.data()), 4);
    if (!data.empty())  // crc32() with a null buffer restarts at the initial value
        crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
    return static_cast<std::uint32_t>(crc);
}

const Bytes kPngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

}  // namespace

Bytes PngFile(const std::vector<PngChunk>& chunks) {
    Bytes out = kPngSignature;
    for (const PngChunk& chunk : chunks) {
        PutU32Big(out, static_cast<std::uint32_t>(chunk.data.size()));
        out.insert(out.end(), chunk.type.begin(), chunk.type.end());
        out.insert(out.end(), chunk.data.begin(), chunk.data.end());
        PutU32Big(out, ChunkCrc(chunk.type, chunk.data));
    }
    return out;
}

PngChunk Ihdr(std::uint32_t width, std::uint32_t height, int bitDepth, int colourType) {
    Bytes data;
    PutU32Big(data, width);
    PutU32Big(data, height);
    data.insert(data.end(), {static_cast<std::uint8_t>(bitDepth), static_cast<std::uint8_t>(colourType), 0, 0, 0});
    return {"IHDR", data};
}

PngChunk Idat(const Bytes& rows, std::size_t rowBytes) {
    Bytes filtered;
    for (std::size_t at = 0; at < rows.size(); at += rowBytes) {
        filtered.push_back(0);
        filtered.insert(filtered.end(), rows.begin() + at, rows.begin() + at + rowBytes);
    }
    uLongf size = compressBound(filtered.size());
    Bytes deflated(size);
    compress(deflated.data(), &size, filtered.data(), filtered.size());
    deflated.resize(size);
    return {"IDAT", deflated};
}

PngChunk Iend() {
    return {"IEND", {}};
}

std::optional<std::vector<PngChunk>> ReadPngChunks(const Bytes& png) {
    if (png.size() < 8 || !std::equal(kPngSignature.begin(), kPngSignature.end(), png.begin())) return std::nullopt;
    std::vector<PngChunk> chunks;
    for (std::size_t at = 8; at < png.size();) {
        if (png.size() - at < 12) return std::nullopt;
        const std::uint32_t length = U32Big(png, at);
        if (length > png.size() - at - 12) return std::nullopt;
        PngChunk chunk{std::string(png.begin() + at + 4, png.begin() + at + 8),
                       Bytes(png.begin() + at + 8, png.begin() + at + 8 + length)};
        if (U32Big(png, at + 8 + length) != ChunkCrc(chunk.type, chunk.data)) return std::nullopt;
        chunks.push_back(std::move(chunk));
        at += 12 + length;
    }
    return chunks;
}

Bytes BmpFile(std::int32_t width, std::int32_t height, int bitsPerPixel, const Bytes& palette, const Bytes& pixels) {
    const auto offset = static_cast<std::uint32_t>(54 + palette.size());
    Bytes out = {'B', 'M'};
    PutU32Little(out, offset + static_cast<std::uint32_t>(pixels.size()));
    PutU32Little(out, 0);
    PutU32Little(out, offset);
    PutU32Little(out, 40);
    PutU32Little(out, static_cast<std::uint32_t>(width));
    PutU32Little(out, static_cast<std::uint32_t>(height));
    PutU16Little(out, 1);
    PutU16Little(out, static_cast<std::uint16_t>(bitsPerPixel));
    for (int field = 0; field < 4; ++field)  // compression, image size, resolutions
        PutU32Little(out, 0);
    PutU32Little(out, static_cast<std::uint32_t>(palette.size() / 4));  // colours used
    PutU32Little(out, 0);
    out.insert(out.end(), palette.begin(), palette.end());
    out.insert(out.end(), pixels.begin(), pixels.end());
    return out;
}

namespace {

// A JPEG of `samples` (rows of width * components bytes, top to bottom) made
// with libjpeg's defaults, then `configure`'s settings.
Bytes CompressJpeg(int width, int height, int components, J_COLOR_SPACE space, const Bytes& samples,
                   const std::function<void(jpeg_compress_struct&)>& configure) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr error{};
    cinfo.err = jpeg_std_error(&error);  // a fixture of valid pixels cannot fail
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    configure(cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    const std::size_t rowBytes = static_cast<std::size_t>(width) * components;
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<std::uint8_t*>(samples.data()) + cinfo.next_scanline * rowBytes;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    Bytes out(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    free(buffer);
    return out;
}

}  // namespace

Bytes JpegFile(int width, int height, JpegColour colour, const Bytes& samples, JpegCoding coding) {
    const int components = colour == JpegColour::Grey ? 1 : colour == JpegColour::Rgb ? 3 : 4;
    const J_COLOR_SPACE space = colour == JpegColour::Grey  ? JCS_GRAYSCALE
                                : colour == JpegColour::Rgb ? JCS_RGB
                                                            : JCS_CMYK;
    return CompressJpeg(width, height, components, space, samples, [coding](jpeg_compress_struct& cinfo) {
        jpeg_set_quality(&cinfo, 100, TRUE);
        if (coding == JpegCoding::Progressive) jpeg_simple_progression(&cinfo);
        cinfo.arith_code = coding == JpegCoding::Arithmetic;
    });
}

Bytes ScanHeavyJpeg(int scans) {
    // libjpeg's limit on the point transform of 8-bit samples.
    constexpr int kMaxPointTransform = 10;
    std::vector<jpeg_scan_info> script;
    const auto add = [&](int components, int component, int first, int last, int high, int low) {
        if (static_cast<int>(script.size()) >= scans) return;
        jpeg_scan_info scan{};
        scan.comps_in_scan = components;
        for (int i = 0; i < components; ++i)
            scan.component_index[i] = component + i;
        scan.Ss = first;
        scan.Se = last;
        scan.Ah = high;
        scan.Al = low;
        script.push_back(scan);
    };
    for (int low = kMaxPointTransform; low >= 0; --low)
        add(3, 0, 0, 0, low == kMaxPointTransform ? 0 : low + 1, low);
    for (int component = 0; component < 3; ++component)
        for (int coefficient = 1; coefficient < 64; ++coefficient)
            for (int low = kMaxPointTransform; low >= 0; --low)
                add(1, component, coefficient, coefficient, low == kMaxPointTransform ? 0 : low + 1, low);

    return CompressJpeg(16, 16, 3, JCS_RGB, Bytes(3 * 16 * 16, 0x80), [&script](jpeg_compress_struct& cinfo) {
        for (int component = 0; component < 3; ++component)
            cinfo.comp_info[component].h_samp_factor = cinfo.comp_info[component].v_samp_factor = 1;
        cinfo.arith_code = TRUE;
        cinfo.scan_info = script.data();
        cinfo.num_scans = static_cast<int>(script.size());
    });
}

Bytes JpegClaiming(Bytes jpeg, int width, int height) {
    for (std::size_t at = 0; at + 9 < jpeg.size(); ++at) {
        const std::uint8_t marker = jpeg[at + 1];
        if (jpeg[at] == 0xFF &&
            (marker == 0xC0 || marker == 0xC1 || marker == 0xC2 || marker == 0xC9 || marker == 0xCA)) {
            jpeg[at + 5] = static_cast<std::uint8_t>(height >> 8);
            jpeg[at + 6] = static_cast<std::uint8_t>(height);
            jpeg[at + 7] = static_cast<std::uint8_t>(width >> 8);
            jpeg[at + 8] = static_cast<std::uint8_t>(width);
            break;
        }
    }
    return jpeg;
}

std::optional<std::vector<JpegSegment>> ReadJpegSegments(const Bytes& jpeg) {
    std::vector<JpegSegment> segments;
    std::size_t at = 0;
    while (at + 2 <= jpeg.size()) {
        if (jpeg[at] != 0xFF) return std::nullopt;
        const std::uint8_t marker = jpeg[at + 1];
        at += 2;
        if (marker == 0xD8 || marker == 0xD9) {
            segments.push_back({marker, {}});
            continue;
        }
        if (at + 2 > jpeg.size()) return std::nullopt;
        const std::size_t length = std::size_t{jpeg[at]} << 8 | jpeg[at + 1];
        if (length < 2 || at + length > jpeg.size()) return std::nullopt;
        segments.push_back({marker, Bytes(jpeg.begin() + at + 2, jpeg.begin() + at + length)});
        at += length;
        if (marker == 0xDA) {
            // Entropy-coded data runs to the next marker that is neither a
            // stuffed 0xFF00 nor a restart marker.
            while (at + 1 < jpeg.size() &&
                   !(jpeg[at] == 0xFF && jpeg[at + 1] != 0x00 && (jpeg[at + 1] < 0xD0 || jpeg[at + 1] > 0xD7)))
                ++at;
        }
    }
    if (at != jpeg.size()) return std::nullopt;
    return segments;
}

save::Image MakeImage(int width, int height, const std::vector<std::uint32_t>& pixels) {
    save::Image image{width, height, {}};
    for (std::uint32_t pixel : pixels)
        image.rgb.insert(image.rgb.end(), {static_cast<std::uint8_t>(pixel >> 16),
                                           static_cast<std::uint8_t>(pixel >> 8), static_cast<std::uint8_t>(pixel)});
    return image;
}

save::Image QrLikeImage(int size, int moduleSize) {
    std::mt19937 random(5);
    const int modules = (size + moduleSize - 1) / moduleSize;
    std::vector<bool> dark(static_cast<std::size_t>(modules) * modules);
    for (std::size_t i = 0; i < dark.size(); ++i)
        dark[i] = random() & 1;
    save::Image image{size, size, Bytes(3 * static_cast<std::size_t>(size) * size)};
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const std::uint8_t value = dark[(y / moduleSize) * modules + x / moduleSize] ? 0 : 255;
            std::fill_n(image.rgb.begin() + 3 * (static_cast<std::size_t>(y) * size + x), 3, value);
        }
    return image;
}

StderrCapture::StderrCapture() : file_(std::tmpfile()) {
    if (!file_) {
        failure_ = std::string("stderr not captured: no temporary file: ") + std::strerror(errno);
        return;
    }
    std::fflush(stderr);
    savedFd_ = dup(2);
    if (savedFd_ < 0 || dup2(fileno(file_), 2) < 0) {
        failure_ = std::string("stderr not captured: ") + std::strerror(errno);
        if (savedFd_ >= 0) close(savedFd_);
        std::fclose(file_);
        file_ = nullptr;
    }
}

StderrCapture::~StderrCapture() {
    Finish();
}

std::string StderrCapture::Finish() {
    if (!file_) return std::exchange(failure_, {});
    std::fflush(stderr);
    dup2(savedFd_, 2);
    close(savedFd_);
    std::string text;
    std::rewind(file_);
    for (int c; (c = std::fgetc(file_)) != EOF;)
        text += static_cast<char>(c);
    std::fclose(file_);
    file_ = nullptr;
    return text;
}

}  // namespace fixtures
