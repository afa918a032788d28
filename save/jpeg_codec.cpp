// JPEG through libjpeg. Its error_exit must not return, so it longjmps back
// into the Run* function that made the call; those functions hold only plain
// data and raw pointers across setjmp, and the C++ wrappers own the buffers.
#include "save/codec.h"

#include <cstdio>
// jpeglib.h needs FILE and size_t declared first.
#include <jerror.h>
#include <jpeglib.h>

#include <csetjmp>

namespace save::codec {
namespace {

// A progressive file of a few bytes may declare thousands of scans, each a
// pass over the whole image; real encoders write about ten.
constexpr int kMaxJpegScans = 100;

// Huffman coding spends at least one bit on each 8 x 8 block of a component at
// full resolution (its DC code; a sequential scan adds one for the AC), and
// such a block becomes 192 RGB bytes: at most 1536 bytes out for a byte in.
// Real encoders stay below 770 (a flat grey picture). Arithmetic coding has
// no such floor (a flat picture shrinks 100000 to 1), so it is not bounded.
constexpr std::size_t kMaxHuffmanOutputPerByte = 1536;

// All libjpeg may allocate. A progressive picture keeps every coefficient
// until its last scan: 64 of 2 bytes a block for up to 3 full-resolution
// components, 6 bytes a pixel; 16 MiB more covers tables, row buffers and the
// padding of a frame to whole blocks. Past it libjpeg fails, having no
// backing store.
long JpegMemoryFor(long long maxPixels) {
    return static_cast<long>(6 * maxPixels + 16L * 1024 * 1024);
}

struct JpegError {
    jpeg_error_mgr manager;  // first, so the library's pointer is also ours
    std::jmp_buf jump;
    char text[JMSG_LENGTH_MAX + 8];
};

[[noreturn]] void FailJpeg(j_common_ptr cinfo) {
    auto* error = reinterpret_cast<JpegError*>(cinfo->err);
    char message[JMSG_LENGTH_MAX];
    cinfo->err->format_message(cinfo, message);
    std::snprintf(error->text, sizeof error->text, "JPEG: %s", message);
    std::longjmp(error->jump, 1);
}

// libjpeg turns a premature end of data into a warning and decodes grey for
// the rest; that is a truncated file, so it fails. Other warnings are about
// recoverable damage and stay silent, like every message.
void OnJpegMessage(j_common_ptr cinfo, int level) {
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) FailJpeg(cinfo);
}

void IgnoreJpegOutput(j_common_ptr) {}

void InstallJpegError(JpegError* error, j_common_ptr cinfo) {
    cinfo->err = jpeg_std_error(&error->manager);
    error->manager.error_exit = FailJpeg;
    error->manager.emit_message = OnJpegMessage;
    error->manager.output_message = IgnoreJpegOutput;
}

[[noreturn]] void FailJpegWith(j_common_ptr cinfo, const char* text) {
    auto* error = reinterpret_cast<JpegError*>(cinfo->err);
    std::snprintf(error->text, sizeof error->text, "JPEG: %s", text);
    std::longjmp(error->jump, 1);
}

void LimitScans(j_common_ptr cinfo) {
    auto* decompress = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (decompress->input_scan_number > kMaxJpegScans) FailJpegWith(cinfo, "too many scans");
}

struct JpegReadJob {
    JpegError error;
    jpeg_decompress_struct cinfo;
    jpeg_progress_mgr progress;
    const std::uint8_t* data;
    std::size_t size;
    long long maxPixels;
    Bytes* pixels;
    int width;
    int height;
};

bool RunJpegRead(JpegReadJob* job) {
    jpeg_decompress_struct* cinfo = &job->cinfo;
    InstallJpegError(&job->error, reinterpret_cast<j_common_ptr>(cinfo));
    if (setjmp(job->error.jump)) {
        jpeg_destroy_decompress(cinfo);
        return false;
    }
    jpeg_create_decompress(cinfo);
    cinfo->mem->max_memory_to_use = JpegMemoryFor(job->maxPixels);
    job->progress.progress_monitor = LimitScans;
    cinfo->progress = &job->progress;
    jpeg_mem_src(cinfo, job->data, static_cast<unsigned long>(job->size));
    jpeg_read_header(cinfo, TRUE);

    const std::optional<std::size_t> size =
        DecodedPixelBytes(cinfo->image_width, cinfo->image_height, 3, job->maxPixels);
    if (!size) FailJpegWith(reinterpret_cast<j_common_ptr>(cinfo), "image too large");
    // libjpeg fills missing data with grey after a mere warning, so a small
    // file claiming a huge size would decode, having cost all its memory.
    if (!cinfo->arith_code && *size / kMaxHuffmanOutputPerByte > job->size)
        FailJpegWith(reinterpret_cast<j_common_ptr>(cinfo), "the file is too small for its image size");
    if (cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK)
        FailJpegWith(reinterpret_cast<j_common_ptr>(cinfo), "CMYK images are not supported");
    cinfo->out_color_space = JCS_RGB;
    // Smoothing guesses at coefficients a progressive file left out, which a
    // QR picture's sharp edges do not want, and costs more than the decoding.
    cinfo->do_block_smoothing = FALSE;
    std::uint8_t* pixels = ResizeBuffer(job->pixels, *size);
    if (!pixels) FailJpegWith(reinterpret_cast<j_common_ptr>(cinfo), "out of memory");
    jpeg_start_decompress(cinfo);
    const std::size_t rowBytes = 3 * static_cast<std::size_t>(cinfo->output_width);
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = pixels + cinfo->output_scanline * rowBytes;
        jpeg_read_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_decompress(cinfo);
    job->width = static_cast<int>(cinfo->output_width);
    job->height = static_cast<int>(cinfo->output_height);
    jpeg_destroy_decompress(cinfo);
    return true;
}

// A destination that grows a Bytes buffer; libjpeg-turbo's own memory
// destination loses track of its buffer when an error ends the encoding.
struct JpegWriteJob {
    JpegError error;
    jpeg_compress_struct cinfo;
    jpeg_destination_mgr destination;
    const Image* image;
    Bytes* out;
    std::size_t used;
};

JpegWriteJob* WriteJobOf(j_compress_ptr cinfo) {
    return static_cast<JpegWriteJob*>(cinfo->client_data);
}

void StartDestination(j_compress_ptr cinfo) {
    JpegWriteJob* job = WriteJobOf(cinfo);
    job->destination.next_output_byte = job->out->data();
    job->destination.free_in_buffer = job->out->size();
}

boolean GrowDestination(j_compress_ptr cinfo) {
    JpegWriteJob* job = WriteJobOf(cinfo);
    // libjpeg calls this only when the buffer is full.
    const std::size_t used = job->out->size();
    std::uint8_t* data = ResizeBuffer(job->out, 2 * used);
    if (!data) FailJpegWith(reinterpret_cast<j_common_ptr>(cinfo), "out of memory");
    job->destination.next_output_byte = data + used;
    job->destination.free_in_buffer = job->out->size() - used;
    return TRUE;
}

void EndDestination(j_compress_ptr cinfo) {
    JpegWriteJob* job = WriteJobOf(cinfo);
    job->used = job->out->size() - job->destination.free_in_buffer;
}

bool RunJpegWrite(JpegWriteJob* job) {
    jpeg_compress_struct* cinfo = &job->cinfo;
    InstallJpegError(&job->error, reinterpret_cast<j_common_ptr>(cinfo));
    if (setjmp(job->error.jump)) {
        jpeg_destroy_compress(cinfo);
        return false;
    }
    jpeg_create_compress(cinfo);
    cinfo->client_data = job;
    job->destination.init_destination = StartDestination;
    job->destination.empty_output_buffer = GrowDestination;
    job->destination.term_destination = EndDestination;
    cinfo->dest = &job->destination;

    const Image& image = *job->image;
    cinfo->image_width = static_cast<JDIMENSION>(image.width);
    cinfo->image_height = static_cast<JDIMENSION>(image.height);
    cinfo->input_components = 3;
    cinfo->in_color_space = JCS_RGB;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, 100, TRUE);  // every quantisation entry 1, still baseline
    cinfo->optimize_coding = TRUE;
    cinfo->smoothing_factor = 0;
    jpeg_start_compress(cinfo, TRUE);
    const std::size_t rowBytes = 3 * static_cast<std::size_t>(image.width);
    while (cinfo->next_scanline < cinfo->image_height) {
        // libjpeg does not write through its input rows.
        JSAMPROW row = const_cast<std::uint8_t*>(image.rgb.data()) + cinfo->next_scanline * rowBytes;
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    jpeg_destroy_compress(cinfo);
    return true;
}

}  // namespace

std::optional<Image> DecodeJpeg(const Bytes& bytes, long long maxPixels, std::string& error) {
    Bytes pixels;
    JpegReadJob job{};
    job.data = bytes.data();
    job.size = bytes.size();
    job.maxPixels = maxPixels;
    job.pixels = &pixels;
    if (!RunJpegRead(&job)) {
        error = job.error.text;
        return std::nullopt;
    }
    return Image{job.width, job.height, std::move(pixels)};
}

std::optional<Bytes> EncodeJpeg(const Image& image, std::string& error) {
    return EncodeWith(RunJpegWrite, image, "JPEG: out of memory", error);
}

}  // namespace save::codec
