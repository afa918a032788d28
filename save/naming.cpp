// The saved file's name and the size boxes' numbers.
#include "save/save.h"

#include <algorithm>
#include <climits>

namespace save {

std::string DateTimeText(const std::tm& time) {
    using std::to_string;
    std::string text =
        to_string(time.tm_year + 1900) + "年" + to_string(time.tm_mon + 1) + "月" + to_string(time.tm_mday) + "日";
    if (time.tm_sec != 0)
        text += to_string(time.tm_hour) + "时" + to_string(time.tm_min) + "分" + to_string(time.tm_sec) + "秒";
    else if (time.tm_min != 0)
        text += to_string(time.tm_hour) + "时" + to_string(time.tm_min) + "分";
    else if (time.tm_hour != 0)
        text += to_string(time.tm_hour) + "时";
    return text;
}

std::string SavedFilePath(std::string_view folder, const std::tm& time, ImageFormat format) {
    std::string path(folder);
    path += "/";
    path += DateTimeText(time);
    path += "二维码文件.";
    path += Extension(format);
    return path;
}

namespace {

// One character of a size text with the full-width forms folded to ASCII;
// `length` is the number of bytes it takes. Other bytes come back as they are
// and are neither digits, signs nor blanks.
struct SizeChar {
    char ascii;
    std::size_t length;
};

SizeChar ReadSizeChar(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    if (text.size() - at >= 3) {
        if (byte(0) == 0xE3 && byte(1) == 0x80 && byte(2) == 0x80) return {' ', 3};  // U+3000 ideographic space
        if (byte(0) == 0xEF && byte(1) == 0xBC) {
            if (byte(2) >= 0x90 && byte(2) <= 0x99)
                return {static_cast<char>('0' + byte(2) - 0x90), 3};  // U+FF10..U+FF19
            if (byte(2) == 0x8B) return {'+', 3};                     // U+FF0B
            if (byte(2) == 0x8D) return {'-', 3};                     // U+FF0D
        }
    }
    return {text[at], 1};
}

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

int ParseSize(std::string_view text) {
    std::size_t at = 0;
    const auto peek = [&] { return at < text.size() ? ReadSizeChar(text, at) : SizeChar{'\0', 0}; };
    while (IsCSpace(peek().ascii))
        at += peek().length;
    bool negative = false;
    if (const SizeChar sign = peek(); sign.ascii == '+' || sign.ascii == '-') {
        negative = sign.ascii == '-';
        at += sign.length;
    }
    // Magnitude capped just past INT_MAX, so INT_MIN is still reachable.
    constexpr long long kCap = static_cast<long long>(INT_MAX) + 1;
    long long magnitude = 0;
    for (SizeChar digit = peek(); digit.ascii >= '0' && digit.ascii <= '9'; digit = peek()) {
        magnitude = std::min(kCap, magnitude * 10 + (digit.ascii - '0'));
        at += digit.length;
    }
    const long long value = negative ? -magnitude : magnitude;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

std::optional<PictureSize> RequestedPictureSize(std::string_view widthText, std::string_view heightText) {
    const PictureSize size{ParseSize(widthText), ParseSize(heightText)};
    const auto inRange = [](int side) { return side >= 1 && side <= kMaxPictureSize; };
    if (inRange(size.width) && inRange(size.height)) return size;
    return std::nullopt;
}

}  // namespace save
