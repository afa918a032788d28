// The cost of one save, beside libpng and libjpeg encoding the same pixels
// with the same settings and nothing else.
//
//   bench_save [folder] [runs]
//
// folder: where the files are written (default: a new folder under /tmp,
// removed at the end); runs: how many times each figure is measured, the
// median is printed (default 21).
#include "save/save.h"

#include <jpeglib.h>
#include <png.h>
#include <unistd.h>
#include <cstdio>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>

namespace {

using save::Bytes;
using save::Image;

// Dark and light modules of 8 pixels in a fixed random pattern.
Image QrLikePicture(int size) {
    constexpr int kModule = 8;
    const int modules = (size + kModule - 1) / kModule;
    std::mt19937 random(7);
    std::vector<std::uint8_t> dark(static_cast<std::size_t>(modules) * modules);
    for (auto& module : dark)
        module = random() & 1;
    Image image{size, size, Bytes(3 * static_cast<std::size_t>(size) * size)};
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            std::fill_n(image.rgb.begin() + 3 * (static_cast<std::size_t>(y) * size + x), 3,
                        dark[(y / kModule) * modules + x / kModule] ? 0 : 255);
    return image;
}

// libpng alone: RGB, 8 bits, Adam7, default compression and filters, to memory.
// The default error handling ends the process, which a benchmark may do.
void AppendPng(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}
void NoFlush(png_structp) {}

Bytes RawPng(const Image& image) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, AppendPng, NoFlush);
    png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_ADAM7,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<png_bytep> rows(image.height);
    for (int y = 0; y < image.height; ++y)
        rows[y] = const_cast<png_bytep>(image.rgb.data()) + 3 * static_cast<std::size_t>(image.width) * y;
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// libjpeg alone: quality 100, optimised Huffman tables, no smoothing, to memory.
Bytes RawJpeg(const Image& image) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr error{};
    cinfo.err = jpeg_std_error(&error);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = image.width;
    cinfo.image_height = image.height;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 100, TRUE);
    cinfo.optimize_coding = TRUE;
    cinfo.smoothing_factor = 0;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row =
            const_cast<JSAMPROW>(image.rgb.data()) + 3 * static_cast<std::size_t>(image.width) * cinfo.next_scanline;
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    Bytes out(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return out;
}

// Median wall time of `runs` calls, in milliseconds.
double MedianMs(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::nth_element(times.begin(), times.begin() + runs / 2, times.end());
    return times[runs / 2];
}

void Require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "bench_save: %s failed\n", what);
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder = argc > 1 ? argv[1] : "";
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 21;
    const bool ownFolder = folder.empty();
    if (ownFolder) {
        char name[] = "/tmp/bench_save.XXXXXX";
        Require(mkdtemp(name) != nullptr, "mkdtemp");
        folder = name;
    }

    const Image picture = QrLikePicture(300);
    const std::optional<Bytes> fetched = save::EncodeImage(picture, save::ImageFormat::Png);
    Require(fetched.has_value(), "encoding the source picture");
    std::tm time{};
    time.tm_year = 2016 - 1900;
    time.tm_mon = 11;
    time.tm_mday = 30;
    time.tm_hour = 21;

    std::printf("folder %s, median of %d runs, times in ms\n", folder.c_str(), runs);
    std::printf("%-6s %-11s %9s %9s %9s %9s %9s %9s\n", "format", "size", "raw", "encode", "save", "save/raw", "full",
                "bytes");
    for (save::ImageFormat format : {save::ImageFormat::Jpeg, save::ImageFormat::Png, save::ImageFormat::Bmp}) {
        for (int size : {300, 1200}) {
            const Image image = size == picture.width ? picture : save::ScaleNearest(picture, size, size);
            const std::string path = save::SavedFilePath(folder, time, format);
            std::size_t fileBytes = 0;

            double raw = 0;
            if (format == save::ImageFormat::Jpeg)
                raw = MedianMs(runs, [&] { Require(!RawJpeg(image).empty(), "raw JPEG"); });
            else if (format == save::ImageFormat::Png)
                raw = MedianMs(runs, [&] { Require(!RawPng(image).empty(), "raw PNG"); });
            const double encode =
                MedianMs(runs, [&] { Require(save::EncodeImage(image, format).has_value(), "EncodeImage"); });
            // One save as the button does it once the picture is decoded.
            const double saveMs = MedianMs(runs, [&] {
                const std::optional<Bytes> bytes = save::EncodeImage(image, format);
                Require(bytes && save::WriteFileAtomically(path, *bytes).ok(), "encode and write");
                fileBytes = bytes->size();
            });
            // The whole procedure: decode the fetched PNG, scale, encode, write.
            const std::string sizeText = std::to_string(size);
            const save::SaveRequest request{*fetched, sizeText, sizeText, folder, std::string(save::Extension(format))};
            const double full = MedianMs(runs, [&] {
                Require(!save::SavePicture(request, [&] { return time; }).savedPath.empty(), "SavePicture");
            });
            std::remove(path.c_str());

            char sizeLabel[32];
            std::snprintf(sizeLabel, sizeof sizeLabel, "%dx%d", size, size);
            if (raw > 0)
                std::printf("%-6s %-11s %9.3f %9.3f %9.3f %9.2f %9.3f %9zu\n", save::Extension(format).data(),
                            sizeLabel, raw, encode, saveMs, saveMs / raw, full, fileBytes);
            else
                std::printf("%-6s %-11s %9s %9.3f %9.3f %9s %9.3f %9zu\n", save::Extension(format).data(), sizeLabel,
                            "-", encode, saveMs, "-", full, fileBytes);
        }
    }
    if (ownFolder) std::filesystem::remove(folder);
    return 0;
}
