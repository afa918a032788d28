// QR generation: payload encoding, the request to the QR image service and
// the rules of the five generator pages. Plain C++, no GUI: the window reads
// its controls, calls these and shows the results.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qr {

using Bytes = std::vector<std::uint8_t>;

// Code pages by their Windows numbers; the conversions map them onto iconv.
inline constexpr int kCodePageGbk = 936;
inline constexpr int kCodePageGb18030 = 54936;
inline constexpr int kCodePageUtf8 = 65001;
// The code page in which this platform's controls deliver text.
inline constexpr int kSystemCodePage = kCodePageUtf8;

// ---- Payload encoding ------------------------------------------------------

// Converts `text` (in `codePage`) to UTF-16LE followed by one zero code unit.
// Invalid input sequences never fail the call: each becomes U+FFFD. A code
// page other than the three above converts nothing: only the zero unit.
Bytes AnsiToWide(std::string_view text, int codePage);

// Converts a UTF-16LE buffer as made by AnsiToWide into `codePage`, cut at the
// first zero unit. Characters the target cannot hold, and malformed units
// (a lone surrogate, a stray odd byte), become '?'. A code page other than
// the three above gives "".
std::string WideToMultiByte(const Bytes& wide, int codePage);

// `text` (in `codePage`) as UTF-8, without byte order mark.
std::string AnsiToUtf8(std::string_view text, int codePage = kSystemCodePage);

// The value of the service's `text` parameter: every UTF-8 byte of `payload`
// as "%" and two upper-case hex digits. The empty payload gives "".
std::string EncodePayload(std::string_view payload, int codePage = kSystemCodePage);

// ---- The request -----------------------------------------------------------

// Guards a synchronous fetch against a dead, stalled or endless service.
struct FetchLimits {
    std::size_t maxTargetLength = 2047;     // longer request targets are not sent
    long connectTimeoutMs = 10'000;
    long stallTimeoutMs = 20'000;           // no byte for this long ends the fetch,
                                            // counted from its start or its last byte,
                                            // checked about once a second
    std::size_t maxBodyBytes = 16u << 20;   // a longer body yields no bytes
};

// One HTTP/1.0 GET of `url` (http only). Returns the response body whatever
// the status; the bytes read so far when reading fails or stalls; no bytes
// when the host cannot be reached, the target is too long, the body exceeds
// maxBodyBytes, or nothing arrives within the time-outs. Redirects are not
// followed, no cookies are kept, and a loopback host is reached without proxy.
Bytes FetchUrl(const std::string& url, const FetchLimits& limits = {});

// The service base address this build was configured with.
std::string DefaultServiceBase();

// Where the window sends its requests; tests point it at their own server.
struct ServiceOptions {
    std::string baseAddress = DefaultServiceBase();
    FetchLimits limits;
};

enum class RequestKind { Plain, TextMessage };

// serviceBase + "/api.php?el=l&m=10&w=300&text=", with "smsto" appended
// for RequestKind::TextMessage.
std::string RequestPrefix(RequestKind kind, std::string_view serviceBase);

// ---- The generator pages ---------------------------------------------------

inline constexpr std::string_view kErrorTitle = "错误";
inline constexpr std::string_view kGenerateFailedMessage = "生成二维码失败！建议减少字数试试！";
// The picture came back but does not read as the payload that was sent.
inline constexpr std::string_view kPictureMismatchMessage = "二维码图片与输入的内容不一致，请不要使用这张图片！";

// A failed field check: shown in a message box with the stop icon.
struct Refusal {
    std::string message;
    std::string title;
    bool operator==(const Refusal&) const = default;
};

// What a page asks the service for once its checks pass.
struct QrRequest {
    RequestKind kind;
    std::string encodedPayload;
    bool operator==(const QrRequest&) const = default;
};

using PageOutcome = std::variant<Refusal, QrRequest>;

struct CardFields {
    std::string name, mobile, qq, wechat, email, jobTitle, employer, address, website;
};

// The payload texts; fields are inserted exactly as typed.
std::string BuildCardPayload(const CardFields& card);
std::string BuildSmsPayload(std::string_view number, std::string_view body);
std::string BuildWifiPayload(std::string_view networkName, std::string_view password);

// Each page's checks in their order, then its payload, encoded. Texts are in
// the system code page; multi-line texts carry CR LF.
PageOutcome PlanTextQr(std::string_view text);
PageOutcome PlanCardQr(const CardFields& card);
PageOutcome PlanUrlQr(std::string_view address);
PageOutcome PlanSmsQr(std::string_view number, std::string_view body);
PageOutcome PlanWifiQr(std::string_view networkName, std::string_view password);

// ---- Reading pictures back -------------------------------------------------

// The bytes of the one QR symbol in an 8-bit RGB picture (rows top to bottom,
// `rowBytes` apart), exactly as encoded: no character-set conversion, line
// breaks and bytes that are no UTF-8 kept. nullopt when no symbol is found.
std::optional<std::string> ReadQrPayload(const std::uint8_t* rgb, int width, int height, int rowBytes);

// The bytes a request URL asks the service to encode: its `text` value with
// the percent escapes decoded, so "smsto" stays in front of the text-message
// page's payload. "" when the URL has no `text` parameter.
std::string RequestedText(std::string_view url);

// Whether a picture that read back as `read` (nullopt: no symbol found) shows
// exactly `expected`.
bool ShowsPayload(const std::optional<std::string>& read, std::string_view expected);

}  // namespace qr
