// Saving the shown QR picture: the image converter (decode PNG, JPEG or BMP;
// encode JPEG, PNG or BMP), the date-time file name, the atomic file write and
// the save procedure. Plain C++, no GUI.
#pragma once

#include "msgbox/msgbox.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace save {

using Bytes = std::vector<std::uint8_t>;

// ---- Images ----------------------------------------------------------------

// Larger images are refused before any pixel memory is allocated.
inline constexpr int kMaxImageDimension = 8192;

// The most pixels a decoded picture may have. The window asks the service
// for 300 x 300; the largest QR symbol (version 40: 177 modules and a quiet
// zone of 4 on each side) takes 185 x 185 at one pixel a module, and this
// leaves room for 5 pixels a module, or a service answering three times
// larger than asked. A file of a few hundred bytes can claim any size (an
// arithmetic-coded JPEG decodes missing data as zeros), so this bound is what
// keeps such a file at about 30 MiB and a few tenths of a second at most.
inline constexpr long long kMaxDecodedPixels = 1024 * 1024;

// 8-bit RGB, rows top to bottom, no padding: rgb.size() == 3 * width * height.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
};

// Decodes PNG (any depth and colour type; alpha composited on white), JPEG
// (grey or colour; CMYK is refused) or BMP (1-, 4- and 8-bit palette, 24- and
// 32-bit, uncompressed, either row order), recognised by content. Returns
// nothing for unknown, truncated or corrupt bytes, for images over
// kMaxImageDimension on a side or of more than `maxPixels` pixels and, before
// allocating their pixels, for PNG and Huffman-coded JPEG files too small to
// hold the size they claim; `error`, when given, then receives a one-line
// reason. Prints nothing, so it may be used to test whether bytes are an
// image. Only a file this program wrote itself may raise `maxPixels`.
std::optional<Image> DecodeImage(const Bytes& bytes, std::string* error = nullptr,
                                 long long maxPixels = kMaxDecodedPixels);

enum class ImageFormat { Jpeg, Png, Bmp };

// The format a SaveFormat text names: "jpg", "png" or "bmp", compared byte for
// byte. Nothing for any other text, the empty one included.
std::optional<ImageFormat> ParseImageFormat(std::string_view saveFormat);

// The file-name extension of a format: "jpg", "png" or "bmp".
std::string_view Extension(ImageFormat format);

// Encodes `image` as a complete file of `format`:
//   Jpeg: baseline JFIF, 3 components, quality 100 (every quantisation entry
//         1), Huffman tables optimised for the image, no smoothing;
//   Png:  8-bit RGB (colour type 2), Adam7 interlace, chunks IHDR, IDAT, IEND;
//   Bmp:  14- and 40-byte headers, 24-bit BGR rows bottom-up, padded to 4.
// Returns nothing (and a reason in `error`) when the image is not well formed
// (sides 1..kMaxImageDimension, rgb of 3 * width * height bytes) or the
// library fails.
std::optional<Bytes> EncodeImage(const Image& image, ImageFormat format, std::string* error = nullptr);

// `image` resampled to width x height by nearest neighbour, so the edges of QR
// modules stay sharp. Both sides must be in 1..kMaxImageDimension and `image`
// well formed; otherwise the result is an empty Image (width 0).
Image ScaleNearest(const Image& image, int width, int height);

// ---- Names and sizes -------------------------------------------------------

// The local date and time as the saved file's name begins: "2016年12月30日"
// then "21时5分2秒", or "21时5分" when the second is 0, or "21时" when minute
// and second are 0, or nothing at midnight. Numbers without leading zeros.
std::string DateTimeText(const std::tm& time);

// folder + "/" + DateTimeText(time) + "二维码文件." + Extension(format); the
// folder is used exactly as given, so "/" gives "//…".
std::string SavedFilePath(std::string_view folder, const std::tm& time, ImageFormat format);

// The integer value of a size box's text, read like C atoi: leading white
// space skipped, an optional sign, then decimal digits up to the first other
// character; no digits give 0. Full-width digits (U+FF10..U+FF19), signs
// (U+FF0B, U+FF0D) and the ideographic space (U+3000) count as their ASCII
// forms. Values beyond the range of int saturate.
int ParseSize(std::string_view text);

// The largest width or height a saved picture is scaled to.
inline constexpr int kMaxPictureSize = 4096;

// The pixels a saved file may have: reading one back takes this bound, a file
// this program wrote at a size the user chose.
inline constexpr long long kMaxSavedPixels = static_cast<long long>(kMaxPictureSize) * kMaxPictureSize;

struct PictureSize {
    int width = 0;
    int height = 0;
    bool operator==(const PictureSize&) const = default;
};

// The size the saved picture is scaled to: both texts' ParseSize values when
// both are in 1..kMaxPictureSize; nothing otherwise (the picture then keeps
// its decoded size).
std::optional<PictureSize> RequestedPictureSize(std::string_view widthText, std::string_view heightText);

// The picture a save writes: `picture` decoded and, when RequestedPictureSize
// gives a size other than its own, scaled to it by ScaleNearest. Nothing when
// the bytes are no image DecodeImage reads.
std::optional<Image> PictureToSave(const Bytes& picture, std::string_view widthText, std::string_view heightText);

// ---- Writing files ---------------------------------------------------------

enum class WriteError {
    None,
    FolderMissing,      // the folder (or a folder above it) does not exist
    NotAFolder,         // the folder path names something that is no folder
    FolderNotWritable,  // no permission, or a read-only file system
    DiskFull,           // no space or quota left
    WriteFailed,        // any other failure to create, write or rename
};

struct WriteResult {
    WriteError error = WriteError::None;
    bool ok() const { return error == WriteError::None; }
};

// Replaces (or creates) the file `path` with `bytes` so that `path` only ever
// holds its earlier content or the complete new one: writes a hidden unique
// temporary file in the same folder, flushes it to disk and renames it over
// `path`. On failure the temporary file is removed and an earlier file at
// `path` is untouched. An earlier file we may not write (write-protected by
// its user) is kept: WriteFailed. A new file gets mode 0666 less the umask (or what a
// default ACL of the folder gives); no chmod is made, so file systems that
// refuse one still get the file.
WriteResult WriteFileAtomically(const std::string& path, const Bytes& bytes);

// ---- The save procedure ----------------------------------------------------

// What the save button reads from the window.
struct SaveRequest {
    Bytes picture;           // the bytes the picture box holds
    std::string widthText;   // 编辑框1
    std::string heightText;  // 编辑框2
    std::string folder;      // 编辑框3, exactly as the folder picker set it
    std::string format;      // SaveFormat: "jpg", "png", "bmp" or ""
};

// The one message box a save ends with.
struct SaveMessage {
    std::string text;
    int flags = 0;
    std::string title;
    bool operator==(const SaveMessage&) const = default;
};

inline constexpr std::string_view kNoticeTitle = "温馨提示";

// The input checks, in the order they run.
inline constexpr std::string_view kNoPictureText = "还没有生成二维码！请先生成，再保存！";
inline constexpr std::string_view kNoSizeText = "请设置图片大小！";
inline constexpr std::string_view kNoFolderText = "请设置保存目录！";
inline constexpr std::string_view kNoFormatText = "请设置格式！";

inline constexpr std::string_view kSavedText = "保存完成！请查看";

// Why a save that passed the checks wrote no file. The folder texts are
// followed by the folder, the file texts by the path of the file.
inline constexpr std::string_view kFolderMissingText = "保存失败！保存目录不存在：";
inline constexpr std::string_view kNotAFolderText = "保存失败！保存目录不是文件夹：";
inline constexpr std::string_view kFolderNotWritableText = "保存失败！保存目录不可写入：";
inline constexpr std::string_view kNotAnImageText = "保存失败！二维码图片无法识别，请重新生成！";
inline constexpr std::string_view kDiskFullText = "保存失败！磁盘空间不足，文件未能写入：";
inline constexpr std::string_view kWriteFailedText = "保存失败！文件未能写入：";

struct SaveOutcome {
    SaveMessage message;
    std::string savedPath;  // empty unless a file was written
};

// Runs the input checks in order (picture, width text, folder, format; a
// format other than "jpg", "png" or "bmp" counts as none), then decodes the
// picture, scales it to RequestedPictureSize when that gives a size, encodes
// it and writes it atomically to SavedFilePath(folder, now(), format). `now`
// is called once, after the checks pass. Nothing but that file is created,
// and it only when the outcome reports kSavedText; any failure is reported
// with msgbox::kStopIcon and title msgbox::kErrorTitle.
SaveOutcome SavePicture(const SaveRequest& request, const std::function<std::tm()>& now);

}  // namespace save
