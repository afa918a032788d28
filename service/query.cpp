#include "service/qr_service.h"

#include <array>
#include <charconv>

namespace qrservice {
namespace {

// Bytes RFC 3986 lets stand unescaped in a query: unreserved, sub-delims,
// ":", "@", "/" and "?".
constexpr std::array<bool, 256> MakeQueryByteTable() {
    std::array<bool, 256> allowed{};
    for (int c = 'a'; c <= 'z'; ++c)
        allowed[c] = true;
    for (int c = 'A'; c <= 'Z'; ++c)
        allowed[c] = true;
    for (int c = '0'; c <= '9'; ++c)
        allowed[c] = true;
    for (unsigned char c : std::string_view("-._~!$&'()*+,;=:@/?"))
        allowed[c] = true;
    return allowed;
}
constexpr std::array<bool, 256> kQueryByteAllowed = MakeQueryByteTable();

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

Refusal BadRequest(std::string reason) {
    return Refusal{400, std::move(reason)};
}

// A whole number within [min, max] written in decimal digits only.
std::optional<int> ParseBoundedNumber(std::string_view digits, int min, int max) {
    int value = 0;
    const char* end = digits.data() + digits.size();
    auto [stop, error] = std::from_chars(digits.data(), end, value);
    if (digits.empty() || digits.front() == '-' || error != std::errc() || stop != end) {
        return std::nullopt;
    }
    if (value < min || value > max) return std::nullopt;
    return value;
}

std::optional<ErrorCorrection> ParseLevel(std::string_view name) {
    if (name.size() != 1) return std::nullopt;
    switch (name.front()) {
    case 'l':
    case 'L': return ErrorCorrection::Low;
    case 'm':
    case 'M': return ErrorCorrection::Medium;
    case 'q':
    case 'Q': return ErrorCorrection::Quartile;
    case 'h':
    case 'H': return ErrorCorrection::High;
    default: return std::nullopt;
    }
}

enum class QueryKey { Text, Level, Margin, Width };

std::optional<QueryKey> KnownKey(std::string_view name) {
    if (name == "text") return QueryKey::Text;
    if (name == "el") return QueryKey::Level;
    if (name == "m") return QueryKey::Margin;
    if (name == "w") return QueryKey::Width;
    return std::nullopt;
}

std::string RangeReason(std::string_view key, int min, int max) {
    return std::string(key) + " must be a whole number of pixels from " + std::to_string(min) + " to " +
           std::to_string(max);
}

}  // namespace

std::optional<std::string> PercentDecode(std::string_view encoded) {
    std::string decoded;
    decoded.reserve(encoded.size());
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c == '%') {
            if (i + 2 >= encoded.size()) return std::nullopt;
            const int high = HexDigitValue(encoded[i + 1]);
            const int low = HexDigitValue(encoded[i + 2]);
            if (high < 0 || low < 0) return std::nullopt;
            decoded.push_back(static_cast<char>(high * 16 + low));
            i += 2;
        } else if (kQueryByteAllowed[static_cast<unsigned char>(c)]) {
            decoded.push_back(c);
        } else {
            return std::nullopt;
        }
    }
    return decoded;
}

std::variant<QrRequest, Refusal> ParseQrQuery(std::string_view query) {
    QrRequest request;
    std::array<bool, 4> seenKeys{};
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (pair.empty()) continue;

        const std::size_t eq = pair.find('=');
        const std::optional<std::string> key = PercentDecode(pair.substr(0, eq));
        const std::optional<QueryKey> known = key ? KnownKey(*key) : std::nullopt;
        // Other programs may add keys of their own, written by their own rules.
        if (!known) continue;
        std::optional<std::string> value =
            PercentDecode(eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1));
        if (!value) {
            return BadRequest("malformed query: a bad percent escape or a character that must be escaped");
        }

        bool& seen = seenKeys[static_cast<std::size_t>(*known)];
        if (seen) return BadRequest("key " + *key + " is given more than once");
        seen = true;

        switch (*known) {
        case QueryKey::Text: request.text = std::move(*value); break;
        case QueryKey::Level: {
            const std::optional<ErrorCorrection> level = ParseLevel(*value);
            if (!level) return BadRequest("el must be l, m, q or h");
            request.level = *level;
            break;
        }
        case QueryKey::Margin: {
            const std::optional<int> margin = ParseBoundedNumber(*value, 0, kMaxMarginPx);
            if (!margin) return BadRequest(RangeReason("m", 0, kMaxMarginPx));
            request.marginPx = *margin;
            break;
        }
        case QueryKey::Width: {
            const std::optional<int> width = ParseBoundedNumber(*value, kMinWidthPx, kMaxWidthPx);
            if (!width) return BadRequest(RangeReason("w", kMinWidthPx, kMaxWidthPx));
            request.widthPx = *width;
            break;
        }
        }
    }
    if (request.text.empty()) return BadRequest("text is missing or empty");
    return request;
}

}  // namespace qrservice
