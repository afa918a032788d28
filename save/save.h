// Saving the shown QR picture: the image converter (decode PNG, JPEG or BMP;
// encode JPEG, PNG or BMP), the date-time file name and the save procedure.
// Plain C++, no GUI.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace save {

using Bytes = std::vector<std::uint8_t>;

// Larger images are refused before any pixel memory is allocated.
inline constexpr int kMaxImageDimension = 8192;

// 8-bit RGB, rows top to bottom, no padding: rgb.size() == 3 * width * height.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
};

// Decodes PNG (any depth and colour type; alpha composited on white), JPEG or
// BMP, recognised by content. Returns nothing for unknown, truncated or
// corrupt bytes and for images over kMaxImageDimension; `error`, when given,
// then receives a one-line reason.
std::optional<Image> DecodeImage(const Bytes& bytes, std::string* error = nullptr);

// ... the encoders, scaling, ParseSize, DateTimeText, SavedFilePath and the
// atomic file write are declared here as the converter grows.

// ---- The save procedure ----------------------------------------------------

// What the save button reads from the window.
struct SaveRequest {
    Bytes picture;           // the bytes the picture box holds
    std::string widthText;   // 编辑框1
    std::string heightText;  // 编辑框2
    std::string folder;      // 编辑框3, exactly as the folder picker set it
    std::string format;      // SaveFormat: "jpg", "png", "bmp" or ""
};

// The one message box a save ends with. flags: 16 stop icon, 64 information.
struct SaveMessage {
    std::string text;
    int flags = 0;
    std::string title;
    bool operator==(const SaveMessage&) const = default;
};

struct SaveOutcome {
    SaveMessage message;
    std::string savedPath;  // empty unless a file was written
};

// Runs the input checks in order, then writes the picture into `folder` in
// `format`, named by the local time `now()` returns (asked once, after the
// checks pass).
SaveOutcome SavePicture(const SaveRequest& request, const std::function<std::tm()>& now);

}  // namespace save
