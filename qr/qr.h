// QR generation: payload encoding, the request to the QR image service and
// the way to it, and the rules of the five generator pages. Plain C++, no
// GUI: the window reads its controls, calls these and shows the results.
#pragma once

#include "msgbox/msgbox.h"

#include <sys/types.h>

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
    std::size_t maxTargetLength = 2047;  // longer request targets are not sent
    long connectTimeoutMs = 10'000;
    long stallTimeoutMs = 20'000;          // no byte for this long ends the fetch,
                                           // counted from its start or its last byte,
                                           // checked about once a second
    long totalTimeoutMs = 30'000;          // the whole fetch ends by then, whatever
                                           // the server does (a byte every few seconds)
    std::size_t maxBodyBytes = 16u << 20;  // a longer body yields no bytes
};

// Why a fetch gave no complete answer.
enum class FetchFailure {
    None,           // the server answered and closed (whatever the status)
    NotSent,        // nothing went out: the target is too long, the scheme is
                    // not http, or the URL or the HTTP client is unusable
    CannotConnect,  // the host is unknown or refused the connection
    TimedOut,       // the connection, a stall or the whole fetch took too long
    Interrupted,    // the connection broke before the answer was complete
    Unusable,       // the answer was no HTTP, or its body exceeded maxBodyBytes
};

struct FetchResult {
    Bytes body;
    FetchFailure failure = FetchFailure::None;
};

// One HTTP/1.0 GET of `url` (http only). The body is the response body
// whatever the status; the bytes read so far when the connection breaks or
// times out; no bytes when nothing was sent, the host could not be reached or
// the answer was Unusable. `failure` tells which. Redirects are not followed,
// no cookies are kept, and a loopback host is reached without proxy. A
// non-empty unixSocketPath carries the same request over that Unix socket
// instead of to the URL's host and port.
FetchResult FetchUrl(const std::string& url, const FetchLimits& limits = {}, const std::string& unixSocketPath = {});

// The service base address this build was configured with.
std::string DefaultServiceBase();

// ---- The way to the service ------------------------------------------------

// The user's own service, reached over a Unix socket in a folder only the
// user can enter, and started when it does not answer.
struct PrivateService {
    std::string runtimeDir;  // $XDG_RUNTIME_DIR; "" or unusable: a folder in fallbackRoot
    std::string fallbackRoot = "/tmp";
    std::string program;             // the service program to start
    unsigned idleExitSeconds = 300;  // the started service ends after this long without a request
};

// Where the window sends its requests; tests point it at their own server.
// With a private service the request still names baseAddress (its Host
// line) but goes over the service's socket.
struct ServiceOptions {
    std::string baseAddress = DefaultServiceBase();
    FetchLimits limits;
    std::optional<PrivateService> privateService;
};

// The way this build's program reaches its service: its private service,
// the program found from the running executable (installed or build tree),
// or TCP to DefaultServiceBase() when built without it.
ServiceOptions DesktopServiceOptions();

// Where the service program may be for a program running at `executable`:
// the installed libexec folder first, then the build tree.
std::vector<std::string> ServiceProgramCandidates(const std::string& executable);

// Starts the private service in the background when it does not answer, so
// that the first request finds it ready; returns at once. Nothing for TCP.
void WakeService(const ServiceOptions& service);

// One GET of `url` (a RequestPrefix plus payload) as FetchUrl does it. For a
// private service it makes and checks the socket's folder, starts the service
// when it does not answer and waits a few seconds for it, and checks that the
// one answering runs as this user; CannotConnect when any of that fails. A
// request refused unsent is tried once more.
FetchResult FetchFromService(const ServiceOptions& service, const std::string& url);

enum class FolderCheck { Private, Missing, NotAFolder, Link, NotOwned, OpenToOthers };

// Whether `path` is a folder (not a link to one) owned by `owner` that no
// one else may enter, read or write.
FolderCheck CheckPrivateFolder(const std::string& path, uid_t owner);

// The socket path of this user's private service, its folder made and
// checked: "qrgen" in runtimeDir when that is a private folder, else
// "qrgen-<uid>" in fallbackRoot. Nothing when that folder is not private.
std::optional<std::string> PrivateSocketPath(const PrivateService& service);

enum class RequestKind { Plain, TextMessage };

// serviceBase + "/api.php?el=l&m=10&w=300&text=", with "smsto" appended
// for RequestKind::TextMessage.
std::string RequestPrefix(RequestKind kind, std::string_view serviceBase);

// ---- The generator pages ---------------------------------------------------

inline constexpr std::string_view kGenerateFailedMessage = "生成二维码失败！建议减少字数试试！";
// The picture came back but does not read as the payload that was sent.
inline constexpr std::string_view kPictureMismatchMessage = "二维码图片与输入的内容不一致，请不要使用这张图片！";

// The message shown when a fetch gave no picture: kGenerateFailedMessage,
// and, when the service is to blame, a second line that says so. `failure`
// is None when the service answered with something that is no picture.
std::string GenerateFailedMessage(FetchFailure failure);

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
