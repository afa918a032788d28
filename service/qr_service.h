// The QR image service's request handling, free of any HTTP library: a
// method and a raw request target in, a status and a body out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qrservice {

inline constexpr std::string_view kImagePath = "/api.php";
inline constexpr std::string_view kAllowedMethods = "GET, HEAD";

// The desktop program's targets stay below 2048 characters; twice that leaves
// room for hand-written requests while bounding the work per request.
inline constexpr std::size_t kMaxTargetLength = 4096;
// The desktop program sends two short header fields; this is generous.
inline constexpr std::size_t kMaxHeaderBytes = 8192;

inline constexpr int kMinWidthPx = 21;  // a version 1 symbol, one pixel a module, no margin
inline constexpr int kMaxWidthPx = 4096;
inline constexpr int kMaxMarginPx = 2048;
inline constexpr int kDefaultWidthPx = 300;
inline constexpr int kDefaultMarginPx = 10;

enum class ErrorCorrection { Low, Medium, Quartile, High };

// What a well-formed query asks for.
struct QrRequest {
    std::string text;  // the decoded bytes, UTF-8 or not
    ErrorCorrection level = ErrorCorrection::Low;
    int marginPx = kDefaultMarginPx;
    int widthPx = kDefaultWidthPx;
};

// A request the service turns down: an error status and a one-line reason.
struct Refusal {
    unsigned status;
    std::string reason;
};

// One complete answer: status, media type and body. Every refusal is plain
// text ending in a newline; every success is image/png.
struct Answer {
    unsigned status;
    std::string_view contentType;
    std::vector<std::uint8_t> body;
};

// Decodes percent escapes. Every "%" must be followed by two hex digits (either
// case); every other byte must be one that may stand unescaped in a URI query
// (RFC 3986), and is kept as it is, "+" included. nullopt when either rule is
// broken.
std::optional<std::string> PercentDecode(std::string_view encoded);

// Reads the query string (the part after "?", without it): keys text, el
// (l, m, q or h, either case), m and w (decimal digits) in any order, each
// compared after decoding; any other key is ignored with its value, however
// either is written. One of these keys given twice, a bad escape in its
// value, an empty or missing text and a value out of range are refused with
// 400.
std::variant<QrRequest, Refusal> ParseQrQuery(std::string_view query);

// Renders the request as a widthPx x widthPx 1-bit grey PNG: 8-bit byte mode,
// the smallest symbol version that holds the text, modules of equal whole
// pixels, the symbol centred with at least marginPx of white on every side.
// Refuses with 413 a text beyond the largest symbol at that level, with 400
// a symbol that cannot fit the picture at one pixel a module, and with 500
// when the libraries fail for want of memory.
std::variant<std::vector<std::uint8_t>, Refusal> RenderQrPng(const QrRequest& request);

// The whole request, given its method, its raw target (path and query, not
// unescaped) and the total size of its header fields: GET or HEAD of
// kImagePath with a query gives the PNG; anything else the matching refusal as
// a text/plain answer (414, 431, 405, 404 and the refusals above). HEAD gets
// the same answer; the transport drops the body.
Answer AnswerRequest(std::string_view method, std::string_view target, std::size_t headerBytes);

}  // namespace qrservice
