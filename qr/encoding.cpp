#include "qr/qr.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

namespace qr {
namespace {

const char* IconvName(int codePage) {
    switch (codePage) {
    case kCodePageGbk: return "CP936";
    case kCodePageGb18030: return "GB18030";
    case kCodePageUtf8: return "UTF-8";
    default: return nullptr;
    }
}

// Explicit byte order, so iconv neither writes nor expects a byte order mark.
constexpr const char* kWideName = "UTF-16LE";

class Converter {
public:
    Converter(const char* to, const char* from) : handle_(to && from ? iconv_open(to, from) : kInvalid) {}
    ~Converter() {
        if (handle_ != kInvalid) iconv_close(handle_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool usable() const { return handle_ != kInvalid; }

    // Converts the whole input. A sequence the source encoding forbids, or
    // the target cannot hold, becomes `replacement` (already in the target
    // encoding) and `invalidLength(rest)` input bytes are skipped; a sequence
    // cut off by the end of the input becomes one `replacement`.
    std::string convert(std::string_view input, std::string_view replacement,
                        std::size_t (*invalidLength)(std::string_view rest)) const {
        std::string output;
        char chunk[4096];
        char* in = const_cast<char*>(input.data());  // iconv's signature; it does not write
        std::size_t inLeft = input.size();
        while (inLeft > 0) {
            char* out = chunk;
            std::size_t outLeft = sizeof chunk;
            const std::size_t result = iconv(handle_, &in, &inLeft, &out, &outLeft);
            output.append(chunk, static_cast<std::size_t>(out - chunk));
            if (result != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
            output += replacement;
            if (errno != EILSEQ) break;  // EINVAL: incomplete at the end
            const std::size_t skip = std::clamp<std::size_t>(invalidLength({in, inLeft}), 1, inLeft);
            in += skip;
            inLeft -= skip;
        }
        for (;;) {  // a shift state, if the target has one, is closed here
            char* out = chunk;
            std::size_t outLeft = sizeof chunk;
            const std::size_t result = iconv(handle_, nullptr, nullptr, &out, &outLeft);
            output.append(chunk, static_cast<std::size_t>(out - chunk));
            if (result != static_cast<std::size_t>(-1) || errno != E2BIG) return output;
        }
    }

private:
    static inline const iconv_t kInvalid = reinterpret_cast<iconv_t>(-1);
    iconv_t handle_;
};

std::size_t OneByte(std::string_view) {
    return 1;
}

std::uint16_t UnitAt(std::string_view wide, std::size_t index) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(wide[2 * index]) |
                                      static_cast<unsigned char>(wide[2 * index + 1]) << 8);
}

// A surrogate pair the target cannot hold is skipped as one character.
std::size_t OneWideCharacter(std::string_view rest) {
    const bool pair = rest.size() >= 4 && (UnitAt(rest, 0) & 0xFC00) == 0xD800 && (UnitAt(rest, 1) & 0xFC00) == 0xDC00;
    return pair ? 4 : 2;
}

}  // namespace

Bytes AnsiToWide(std::string_view text, int codePage) {
    static constexpr char kReplacementCharacter[] = {'\xFD', '\xFF'};  // U+FFFD, little-endian
    const Converter converter(kWideName, IconvName(codePage));
    std::string wide;
    if (converter.usable()) wide = converter.convert(text, {kReplacementCharacter, 2}, OneByte);
    wide.append(2, '\0');
    return Bytes(wide.begin(), wide.end());
}

std::string WideToMultiByte(const Bytes& wide, int codePage) {
    std::size_t length = 0;
    while (length + 1 < wide.size() && (wide[length] != 0 || wide[length + 1] != 0))
        length += 2;
    if (length + 1 == wide.size()) ++length;  // a stray odd byte: converted, it becomes '?'
    const Converter converter(IconvName(codePage), kWideName);
    if (!converter.usable()) return {};
    return converter.convert({reinterpret_cast<const char*>(wide.data()), length}, "?", OneWideCharacter);
}

std::string AnsiToUtf8(std::string_view text, int codePage) {
    return WideToMultiByte(AnsiToWide(text, codePage), kCodePageUtf8);
}

std::string EncodePayload(std::string_view payload, int codePage) {
    if (payload.empty()) return {};
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    const std::string utf8 = AnsiToUtf8(payload, codePage);
    std::string encoded;
    encoded.reserve(3 * utf8.size());
    for (const unsigned char byte : utf8) {
        encoded += '%';
        encoded += kHexDigits[byte >> 4];
        encoded += kHexDigits[byte & 0x0F];
    }
    return encoded;
}

}  // namespace qr
