#include "service/http_daemon.h"

#include "service/head_watch.h"
#include "service/qr_service.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <sys/resource.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace qrservice {

// What the request handler keeps up to date: when the latest request came
// (in steady_clock ticks, for the idle exit), and the watch that stops timing
// a connection once its head is in.
struct ServedRequests {
    ServedRequests(std::chrono::steady_clock::rep now, std::unique_ptr<HeadWatch> headWatch)
        : lastRequest(now), watch(std::move(headWatch)) {}
    std::atomic<std::chrono::steady_clock::rep> lastRequest;
    std::unique_ptr<HeadWatch> watch;
};

namespace {

// Request line, header fields and the output buffer share this pool. It holds
// a target and header fields at their limits (answered by AnswerRequest) with
// room to spare; only a client far beyond them meets libmicrohttpd's own
// refusal, a 414 or 431 with an HTML body and no Content-Type or
// Cache-Control.
constexpr std::size_t kConnectionMemoryBytes = 32 * 1024;

void LogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
void LogLine(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    // One call a line, so lines from different threads do not interleave.
    std::fprintf(stderr, "qr-image-service: %s\n", line);
}

void LogLibraryMessage(void*, const char* format, va_list args) {
    char message[400];
    vsnprintf(message, sizeof message, format, args);
    std::string_view text(message);
    while (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    LogLine("%.*s", static_cast<int>(text.size()), text.data());
}

// The raw target is only handed over here; the access handler gets it back
// through the request context and frees it when the request completes.
void* RememberTarget(void*, const char* uri, MHD_Connection*) {
    try {
        return new std::string(uri);
    } catch (...) {
        return nullptr;
    }
}

void ForgetTarget(void*, MHD_Connection*, void** context, MHD_RequestTerminationCode) {
    delete static_cast<std::string*>(*context);
    *context = nullptr;
}

void TrackConnection(void* watch, MHD_Connection* connection, void**, MHD_ConnectionNotificationCode code) {
    auto* headWatch = static_cast<HeadWatch*>(watch);
    if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
        headWatch->forget(connection);
        return;
    }
    const MHD_ConnectionInfo* socket = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (!socket) return;
    try {
        headWatch->opened(connection, socket->connect_fd);
    } catch (...) {
        // Out of memory: a connection nobody watches beats refusing it here.
    }
}

// Open files are the one bound on how many clients can wait at once, and the
// soft limit is often a tenth of what the system allows: take all of it.
// Returns the limit now in force.
rlim_t RaiseOpenFileLimit() {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0) return 0;
    if (files.rlim_cur < files.rlim_max) {
        const rlim_t before = files.rlim_cur;
        files.rlim_cur = files.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &files) != 0) files.rlim_cur = before;
    }
    return files.rlim_cur;
}

MHD_Result AddHeaderSize(void* total, MHD_ValueKind, const char* name, const char* value) {
    *static_cast<std::size_t*>(total) += std::strlen(name) + (value ? std::strlen(value) : 0) + 4;
    return MHD_YES;
}

// Client-sent text made safe for a one-line log: bytes outside printable
// ASCII become "?", and long text is cut.
std::string Printable(std::string_view text) {
    constexpr std::size_t kMaxLogged = 80;
    std::string printable(text.substr(0, kMaxLogged));
    for (char& c : printable) {
        if (c < 0x21 || c > 0x7E) c = '?';
    }
    if (text.size() > kMaxLogged) printable += "...";
    return printable;
}

std::string AddressText(const sockaddr_in& address) {
    char host[INET_ADDRSTRLEN] = "";
    inet_ntop(AF_INET, &address.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(address.sin_port));
}

std::string ClientAddress(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr) return "?";
    if (info->client_addr->sa_family == AF_UNIX) return "local";
    char text[INET6_ADDRSTRLEN] = "?";
    if (info->client_addr->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(info->client_addr)->sin_addr, text, sizeof text);
    return text;
}

MHD_Result QueueAnswer(MHD_Connection* connection, const Answer& answer) {
    MHD_Response* response = MHD_create_response_from_buffer(
        answer.body.size(), const_cast<std::uint8_t*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
    if (!response) return MHD_NO;
    const std::string contentType(answer.contentType);
    bool headersAdded =
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, contentType.c_str()) == MHD_YES &&
        MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store") == MHD_YES;
    if (answer.status == MHD_HTTP_METHOD_NOT_ALLOWED) {
        const std::string allowed(kAllowedMethods);
        headersAdded =
            headersAdded && MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, allowed.c_str()) == MHD_YES;
    }
    const MHD_Result queued = headersAdded ? MHD_queue_response(connection, answer.status, response) : MHD_NO;
    MHD_destroy_response(response);
    return queued;
}

// Answers on the first call, before any request body is read: no method
// this service accepts carries one.
MHD_Result HandleRequest(void* state, MHD_Connection* connection, const char*, const char* method, const char*,
                         const char*, std::size_t*, void** context) {
    auto& served = *static_cast<ServedRequests*>(state);
    served.lastRequest.store(std::chrono::steady_clock::now().time_since_epoch().count());
    // The head is in, and answering this early makes libmicrohttpd close
    // the connection after the answer: no second head to watch for.
    served.watch->forget(connection);
    try {
        const auto* target = static_cast<const std::string*>(*context);
        if (!target) return MHD_NO;
        std::size_t headerBytes = 0;
        MHD_get_connection_values(connection, MHD_HEADER_KIND, AddHeaderSize, &headerBytes);
        const Answer answer = AnswerRequest(method, *target, headerBytes);
        // The query is left out of the log: it carries the user's payload.
        const std::string_view path = std::string_view(*target).substr(0, target->find('?'));
        LogLine("%s %s %s %u %zu", ClientAddress(connection).c_str(), Printable(method).c_str(),
                Printable(path).c_str(), answer.status, answer.body.size());
        return QueueAnswer(connection, answer);
    } catch (...) {
        // Out of memory: closing the connection is all that is left.
        return MHD_NO;
    }
}

}  // namespace

std::variant<std::unique_ptr<HttpDaemon>, std::string> HttpDaemon::Start(const ServiceOptions& options, int listenFd) {
    sockaddr_in address = options.listen;
    const unsigned fileLimit = static_cast<unsigned>(std::min<rlim_t>(RaiseOpenFileLimit(), UINT_MAX));
    const unsigned connectionLimit = FitConnectionLimit(options.maxConnections, options.threads, fileLimit);
    if (connectionLimit < options.maxConnections) {
        LogLine("at most %u connections: the open-file limit is %u", connectionLimit, fileLimit);
    }
    std::unique_ptr<HeadWatch> watch;
    try {
        const unsigned seconds = options.headTimeoutSeconds;
        watch = std::make_unique<HeadWatch>(std::chrono::seconds(seconds), [seconds](std::size_t count) {
            LogLine("closing %zu connection(s) without a complete request head after %u s", count, seconds);
        });
    } catch (...) {
        return std::string("cannot start the thread that closes slow connections");
    }
    std::vector<MHD_OptionItem> settings = {
        // Callbacks go in the value, their closure in the pointer; the logger
        // comes first, so that it sees every message.
        {MHD_OPTION_EXTERNAL_LOGGER, reinterpret_cast<intptr_t>(LogLibraryMessage), nullptr},
        listenFd >= 0 ? MHD_OptionItem{MHD_OPTION_LISTEN_SOCKET, listenFd, nullptr}
                      : MHD_OptionItem{MHD_OPTION_SOCK_ADDR, 0, &address},
        {MHD_OPTION_CONNECTION_LIMIT, connectionLimit, nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, options.timeoutSeconds, nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemoryBytes, nullptr},
        {MHD_OPTION_URI_LOG_CALLBACK, reinterpret_cast<intptr_t>(RememberTarget), nullptr},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(ForgetTarget), nullptr},
        {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(TrackConnection), watch.get()},
    };
    // One thread is the polling thread itself; MHD warns about a pool of one.
    if (options.threads > 1) settings.push_back({MHD_OPTION_THREAD_POOL_SIZE, options.threads, nullptr});
    settings.push_back({MHD_OPTION_END, 0, nullptr});

    auto served = std::make_unique<ServedRequests>(Clock::now().time_since_epoch().count(), std::move(watch));
    MHD_Daemon* daemon =
        MHD_start_daemon(MHD_USE_AUTO_INTERNAL_THREAD | MHD_USE_ERROR_LOG, ntohs(address.sin_port), nullptr, nullptr,
                         HandleRequest, served.get(), MHD_OPTION_ARRAY, settings.data(), MHD_OPTION_END);
    if (listenFd >= 0) {
        if (!daemon) return "cannot serve " + options.socketPath;
        return std::unique_ptr<HttpDaemon>(new HttpDaemon(daemon, options.socketPath, std::move(served)));
    }
    if (!daemon) return "cannot listen on " + AddressText(address);
    const MHD_DaemonInfo* port = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
    if (port) address.sin_port = htons(port->port);
    return std::unique_ptr<HttpDaemon>(new HttpDaemon(daemon, AddressText(address), std::move(served)));
}

HttpDaemon::HttpDaemon(MHD_Daemon* daemon, std::string bound, std::unique_ptr<ServedRequests> served)
    : daemon_(daemon), bound_(std::move(bound)), served_(std::move(served)) {}

HttpDaemon::~HttpDaemon() {
    MHD_stop_daemon(daemon_);
}

bool HttpDaemon::idleFor(std::chrono::seconds quiet) const {
    const MHD_DaemonInfo* open = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_CURRENT_CONNECTIONS);
    const Clock::time_point last{Clock::duration(served_->lastRequest.load())};
    return open && open->num_connections == 0 && Clock::now() - last >= quiet;
}

}  // namespace qrservice
