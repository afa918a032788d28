#include "qr/qr.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <memory>
#include <optional>

namespace qr {
namespace {

using Clock = std::chrono::steady_clock;

bool CurlReady() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

struct UrlHandleDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct EasyHandleDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct CurlStringDeleter {
    void operator()(char* text) const { curl_free(text); }
};
using CurlString = std::unique_ptr<char, CurlStringDeleter>;

std::optional<std::string> UrlPart(CURLU* url, CURLUPart part) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, 0) != CURLUE_OK) return std::nullopt;
    const CurlString owned(text);
    return std::string(owned.get());
}

struct UrlParts {
    std::string host;
    std::size_t targetLength = 0;  // path and query as they go on the request line
};

std::optional<UrlParts> SplitUrl(const std::string& text) {
    const std::unique_ptr<CURLU, UrlHandleDeleter> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, text.c_str(), CURLU_PATH_AS_IS) != CURLUE_OK) {
        return std::nullopt;
    }
    // Checked here, as libcurl reports another scheme just as an answer that
    // is no HTTP.
    const auto scheme = UrlPart(url.get(), CURLUPART_SCHEME);
    const auto host = UrlPart(url.get(), CURLUPART_HOST);
    const auto path = UrlPart(url.get(), CURLUPART_PATH);
    if (scheme != "http" || !host || !path) return std::nullopt;
    const auto query = UrlPart(url.get(), CURLUPART_QUERY);
    return UrlParts{*host, path->size() + (query ? 1 + query->size() : 0)};
}

bool IsLoopbackHost(std::string host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    std::transform(host.begin(), host.end(), host.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (host == "localhost") return true;
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    return inet_pton(AF_INET6, host.c_str(), &v6) == 1 && IN6_IS_ADDR_LOOPBACK(&v6);
}

struct Transfer {
    Bytes body;
    std::size_t maxBodyBytes;
    std::chrono::milliseconds stallTimeout;
    Clock::time_point lastByte = Clock::now();
    bool overCap = false;
};

// Refusing to take bytes makes libcurl end the transfer with a write error.
std::size_t TakeBody(char* data, std::size_t size, std::size_t count, void* context) {
    auto& transfer = *static_cast<Transfer*>(context);
    const std::size_t length = size * count;
    if (length > transfer.maxBodyBytes - transfer.body.size()) {
        transfer.overCap = true;
        return 0;
    }
    transfer.body.insert(transfer.body.end(), data, data + length);
    if (length > 0) transfer.lastByte = Clock::now();
    return length;
}

// libcurl's own low-speed limit counts whole seconds; this checks in ms,
// whenever libcurl wakes (at least about once a second).
int AbortWhenStalled(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto& transfer = *static_cast<const Transfer*>(context);
    return Clock::now() - transfer.lastByte > transfer.stallTimeout ? 1 : 0;
}

FetchFailure FailureOf(CURLcode code, const Transfer& transfer) {
    switch (code) {
    case CURLE_OK: return FetchFailure::None;
    case CURLE_URL_MALFORMAT: return FetchFailure::NotSent;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT: return FetchFailure::CannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_ABORTED_BY_CALLBACK: return FetchFailure::TimedOut;  // the stall check
    case CURLE_UNSUPPORTED_PROTOCOL:                                // an answer without an HTTP status line
    case CURLE_WEIRD_SERVER_REPLY: return FetchFailure::Unusable;
    case CURLE_WRITE_ERROR:
        if (transfer.overCap) return FetchFailure::Unusable;
        break;
    default: break;
    }
    return FetchFailure::Interrupted;
}

class Options {
public:
    explicit Options(CURL* easy) : easy_(easy) {}
    template <typename Value>
    Options& set(CURLoption option, Value value) {
        ok_ = ok_ && curl_easy_setopt(easy_, option, value) == CURLE_OK;
        return *this;
    }
    bool ok() const { return ok_; }

private:
    CURL* easy_;
    bool ok_ = true;
};

constexpr const char* kUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

}  // namespace

FetchResult FetchUrl(const std::string& url, const FetchLimits& limits, const std::string& unixSocketPath) {
    const FetchResult notSent{{}, FetchFailure::NotSent};
    const auto parts = SplitUrl(url);
    if (!parts || parts->targetLength > limits.maxTargetLength || !CurlReady()) return notSent;

    const std::unique_ptr<CURL, EasyHandleDeleter> easy(curl_easy_init());
    // libcurl sends "Accept: */*" by default; naming it keeps the request
    // fixed whatever a future default becomes.
    const std::unique_ptr<curl_slist, HeaderListDeleter> headers(curl_slist_append(nullptr, "Accept: */*"));
    if (!easy || !headers) return notSent;

    Transfer transfer{{}, limits.maxBodyBytes, std::chrono::milliseconds(limits.stallTimeoutMs)};
    // No cache headers are sent: libcurl keeps no cache, so every call is
    // answered by the server, and the request stays the minimal one the
    // service expects. Without the cookie engine switched on, no cookie is
    // stored or sent; without FOLLOWLOCATION a redirect's body is the result.
    Options options(easy.get());
    options.set(CURLOPT_URL, url.c_str())
        .set(CURLOPT_PROTOCOLS_STR, "http")
        .set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0))
        .set(CURLOPT_HTTPGET, 1L)
        .set(CURLOPT_PATH_AS_IS, 1L)
        .set(CURLOPT_USERAGENT, kUserAgent)
        .set(CURLOPT_HTTPHEADER, headers.get())
        .set(CURLOPT_FOLLOWLOCATION, 0L)
        .set(CURLOPT_NOSIGNAL, 1L)
        .set(CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs)
        .set(CURLOPT_TIMEOUT_MS, limits.totalTimeoutMs)
        .set(CURLOPT_WRITEFUNCTION, &TakeBody)
        .set(CURLOPT_WRITEDATA, &transfer)
        .set(CURLOPT_NOPROGRESS, 0L)
        .set(CURLOPT_XFERINFOFUNCTION, &AbortWhenStalled)
        .set(CURLOPT_XFERINFODATA, &transfer);
    // A proxy from the environment must not stand between the program and a
    // service on this machine; other hosts follow the user's proxy settings.
    if (IsLoopbackHost(parts->host)) options.set(CURLOPT_NOPROXY, "*");
    if (!unixSocketPath.empty()) options.set(CURLOPT_UNIX_SOCKET_PATH, unixSocketPath.c_str());
    if (!options.ok()) return notSent;

    // Whatever ended the transfer, the bytes that arrived are the body: a
    // reset or a time-out mid-body keeps them, an unreachable host gave none.
    const FetchFailure failure = FailureOf(curl_easy_perform(easy.get()), transfer);
    if (failure == FetchFailure::Unusable) return {{}, failure};
    return {std::move(transfer.body), failure};
}

std::string GenerateFailedMessage(FetchFailure failure) {
    std::string_view cause;
    switch (failure) {
    case FetchFailure::None:
    case FetchFailure::Unusable: cause = "二维码图片服务返回的不是图片。"; break;
    case FetchFailure::CannotConnect: cause = "无法连接二维码图片服务，请稍后再试。"; break;
    case FetchFailure::TimedOut: cause = "二维码图片服务没有响应，请稍后再试。"; break;
    case FetchFailure::Interrupted: cause = "与二维码图片服务的连接中断了，请稍后再试。"; break;
    case FetchFailure::NotSent: break;  // a text too long for the request: the first line says it
    }
    std::string message(kGenerateFailedMessage);
    if (!cause.empty()) message.append("\n").append(cause);
    return message;
}

std::string DefaultServiceBase() {
    return QRGEN_SERVICE_BASE;
}

std::string RequestPrefix(RequestKind kind, std::string_view serviceBase) {
    std::string prefix(serviceBase);
    prefix += "/api.php?el=l&m=10&w=300&text=";
    if (kind == RequestKind::TextMessage) prefix += "smsto";
    return prefix;
}

}  // namespace qr
