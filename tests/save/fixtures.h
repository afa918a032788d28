// Source images built byte by byte, readers for the chunks and markers of
// saved files, and a capture of what a call prints on stderr.
#pragma once

#include "save/save.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace fixtures {

using save::Bytes;

struct PngChunk {
    std::string type;
    Bytes data;
};

// The PNG signature followed by `chunks`, each with its length and CRC.
Bytes PngFile(const std::vector<PngChunk>& chunks);
PngChunk Ihdr(std::uint32_t width, std::uint32_t height, int bitDepth, int colourType);
// Rows of `rowBytes` packed sample bytes, each given filter 0, deflated.
PngChunk Idat(const Bytes& rows, std::size_t rowBytes);
PngChunk Iend();
// The chunks of a PNG file; nothing when the signature, a length or a CRC is wrong.
std::optional<std::vector<PngChunk>> ReadPngChunks(const Bytes& png);

// A BMP with a 40-byte info header; `palette` holds 4 bytes (B, G, R, 0) an
// entry and `pixels` the rows as stored, padding included.
Bytes BmpFile(std::int32_t width, std::int32_t height, int bitsPerPixel, const Bytes& palette, const Bytes& pixels);

enum class JpegColour { Grey, Rgb, Cmyk };
enum class JpegCoding { Baseline, Progressive, Arithmetic };
// A JPEG of `samples` (1, 3 or 4 bytes a pixel) made with libjpeg.
Bytes JpegFile(int width, int height, JpegColour colour, const Bytes& samples,
               JpegCoding coding = JpegCoding::Baseline);

// A flat grey 16 x 16 arithmetic-coded progressive JPEG with three colour
// components at full resolution and `scans` scans: the DC scans, then single-
// coefficient AC scans with successive approximation. Every scan of the
// decoder is a pass over all of a component's coefficients, so this is the
// costliest file of its size once its frame claims a larger image.
Bytes ScanHeavyJpeg(int scans);

// `jpeg` with its frame header (any of SOF0-SOF2, SOF9, SOF10) claiming
// width x height. The entropy-coded data stays as it is: the decoder takes
// what is missing as zeros.
Bytes JpegClaiming(Bytes jpeg, int width, int height);

struct JpegSegment {
    std::uint8_t marker;  // the byte after 0xFF
    Bytes data;           // after the length field; empty for SOI and EOI
};
// The marker segments up to SOS and those after the entropy-coded data;
// nothing when the stream is malformed.
std::optional<std::vector<JpegSegment>> ReadJpegSegments(const Bytes& jpeg);

// An image of width x height from 0xRRGGBB values, row by row.
save::Image MakeImage(int width, int height, const std::vector<std::uint32_t>& pixels);
// Black square modules of `moduleSize` pixels in a fixed random pattern.
save::Image QrLikeImage(int size, int moduleSize);

// Redirects file descriptor 2 into a temporary file until Finish(), which
// returns what was printed. When the redirection cannot be set up, Finish()
// returns a line saying why, so a check for silence fails instead of passing
// unseen.
class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    std::string Finish();

private:
    int savedFd_ = -1;
    std::FILE* file_ = nullptr;
    std::string failure_;
};

}  // namespace fixtures
