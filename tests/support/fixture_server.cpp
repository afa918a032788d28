#include "support/fixture_server.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace testsupport {
namespace {

[[noreturn]] void Fail(const char* what) {
    throw std::runtime_error(std::string("fixture server: ") + what + ": " + std::strerror(errno));
}

int BoundLoopbackSocket(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) Fail("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        Fail("bind");
    }
    port = ntohs(address.sin_port);
    return fd;
}

const char* ReasonPhrase(int status) {
    switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

void AppendBigEndian32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void AppendPngChunk(std::string& png, const char* type, const std::string& data) {
    AppendBigEndian32(png, static_cast<std::uint32_t>(data.size()));
    const std::string typed = type + data;
    png += typed;
    AppendBigEndian32(
        png, static_cast<std::uint32_t>(::crc32(0, reinterpret_cast<const Bytef*>(typed.data()), typed.size())));
}

}  // namespace

std::string HttpHead(int status, std::string_view contentType, std::optional<std::size_t> contentLength) {
    std::string head = "HTTP/1.0 " + std::to_string(status) + " " + ReasonPhrase(status) + "\r\n";
    head += "Content-Type: " + std::string(contentType) + "\r\n";
    if (contentLength) head += "Content-Length: " + std::to_string(*contentLength) + "\r\n";
    return head + "\r\n";
}

Answer HttpAnswer(int status, std::string body, std::string_view contentType, bool withContentLength) {
    const auto length = withContentLength ? std::optional<std::size_t>(body.size()) : std::nullopt;
    return {HttpHead(status, contentType, length) + body, Answer::Ending::Close};
}

bool SamplePngIsBlack(int x, int y) {
    if (x < 0 || y < 0 || x >= kSamplePngSize || y >= kSamplePngSize) return false;
    constexpr int kFinder = 7;
    const int corner = kSamplePngSize - kFinder;
    const int dx = x < kFinder ? x : x - corner;
    const int dy = y < kFinder ? y : y - corner;
    const bool inFinder = (x < kFinder || x >= corner) && (y < kFinder || y >= corner) && !(x >= corner && y >= corner);
    if (!inFinder) return false;
    const bool outerRing = dx == 0 || dx == kFinder - 1 || dy == 0 || dy == kFinder - 1;
    const bool innerRing = dx == 1 || dx == kFinder - 2 || dy == 1 || dy == kFinder - 2;
    return outerRing || !innerRing;
}

std::string SamplePng() {
    std::string scanlines;
    for (int y = 0; y < kSamplePngSize; ++y) {
        scanlines.push_back(0);  // filter type None
        for (int x = 0; x < kSamplePngSize; ++x)
            scanlines.push_back(SamplePngIsBlack(x, y) ? 0 : '\xFF');
    }
    std::string compressed(::compressBound(scanlines.size()), '\0');
    uLongf compressedSize = compressed.size();
    if (::compress(reinterpret_cast<Bytef*>(compressed.data()), &compressedSize,
                   reinterpret_cast<const Bytef*>(scanlines.data()), scanlines.size()) != Z_OK) {
        throw std::runtime_error("fixture server: compress failed");
    }
    compressed.resize(compressedSize);

    std::string header;
    AppendBigEndian32(header, kSamplePngSize);
    AppendBigEndian32(header, kSamplePngSize);
    header += std::string("\x08\x00\x00\x00\x00", 5);  // 8-bit grey, deflate, no filter set, no interlace

    std::string png("\x89PNG\r\n\x1A\n", 8);
    AppendPngChunk(png, "IHDR", header);
    AppendPngChunk(png, "IDAT", compressed);
    AppendPngChunk(png, "IEND", "");
    return png;
}

FixtureServer::FixtureServer() {
    listener_ = BoundLoopbackSocket(port_);
    if (::listen(listener_, 64) != 0) {
        ::close(listener_);
        Fail("listen");
    }
    stopEvent_ = ::eventfd(0, EFD_CLOEXEC);
    if (stopEvent_ < 0) {
        ::close(listener_);
        Fail("eventfd");
    }
    acceptor_ = std::thread([this] { acceptLoop(); });
}

FixtureServer::~FixtureServer() {
    // The event stays readable, so every wait in every thread sees it.
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(stopEvent_, &one, sizeof one);
    acceptor_.join();
    for (auto& worker : workers_)
        worker.join();
    ::close(listener_);
    ::close(stopEvent_);
}

std::string FixtureServer::baseAddress() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

void FixtureServer::enqueue(Answer answer) {
    std::lock_guard lock(mutex_);
    answers_.push_back(std::move(answer));
}

void FixtureServer::answerUnqueued(std::function<Answer(const std::string& request)> answer) {
    std::lock_guard lock(mutex_);
    unqueued_ = std::move(answer);
}

std::vector<std::string> FixtureServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void FixtureServer::acceptLoop() {
    while (waitReadable(listener_)) {
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            // Errors such as EMFILE leave the connection queued and the
            // listener readable: rest instead of spinning on it.
            if (!restUnlessStopping(10)) return;
            continue;
        }
        ++connections_;
        std::optional<Answer> answer;
        std::function<Answer(const std::string&)> unqueued;
        {
            std::lock_guard lock(mutex_);
            if (!answers_.empty()) {
                answer = std::move(answers_.front());
                answers_.pop_front();
            } else if (unqueued_) {
                unqueued = unqueued_;
            } else {
                answer = HttpAnswer(200, SamplePng());
            }
        }
        workers_.emplace_back([this, connection, answer = std::move(answer), unqueued = std::move(unqueued)] {
            serve(connection, answer, unqueued);
        });
    }
}

bool FixtureServer::waitReadable(int fd) const {
    pollfd fds[] = {{fd, POLLIN, 0}, {stopEvent_, POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0) {
        if (errno != EINTR) return false;
    }
    return fds[1].revents == 0;
}

bool FixtureServer::restUnlessStopping(int milliseconds) const {
    pollfd stop{stopEvent_, POLLIN, 0};
    return ::poll(&stop, 1, milliseconds) <= 0;
}

bool FixtureServer::waitWritable(int fd) const {
    pollfd fds[] = {{fd, POLLOUT, 0}, {stopEvent_, POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0) {
        if (errno != EINTR) return false;
    }
    return fds[1].revents == 0 && (fds[0].revents & (POLLERR | POLLHUP)) == 0;
}

bool FixtureServer::sendAll(int fd, std::string_view bytes) const {
    while (!bytes.empty()) {
        if (!waitWritable(fd)) return false;
        const auto sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

std::optional<std::string> FixtureServer::readRequest(int fd) const {
    constexpr std::size_t kMaxRequest = 1 << 20;
    std::string received;
    char buffer[4096];
    while (received.find("\r\n\r\n") == std::string::npos && received.size() < kMaxRequest) {
        if (!waitReadable(fd)) return std::nullopt;
        const auto count = ::recv(fd, buffer, sizeof buffer, 0);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        received.append(buffer, static_cast<std::size_t>(count));
    }
    const auto end = received.find("\r\n\r\n");
    if (end == std::string::npos) return std::nullopt;
    return received.substr(0, end + 4);
}

void FixtureServer::stream(int fd) const {
    const std::string filler(64 * 1024, 'x');
    while (sendAll(fd, filler)) {}
}

void FixtureServer::trickle(int fd) const {
    constexpr int kBytes = 10'000 / Answer::kTrickleIntervalMs;
    for (int sent = 0; sent < kBytes && restUnlessStopping(Answer::kTrickleIntervalMs) && sendAll(fd, "x"); ++sent) {}
}

// Resetting while our bytes still sit in the send queue would discard them;
// once the peer has acknowledged them they survive the reset on its side.
bool FixtureServer::waitUntilDelivered(int fd) const {
    for (;;) {
        int unacknowledged = 0;
        if (::ioctl(fd, SIOCOUTQ, &unacknowledged) != 0 || unacknowledged == 0) return true;
        if (!restUnlessStopping(1)) return false;
    }
}

void FixtureServer::serve(int connection, std::optional<Answer> queued,
                          const std::function<Answer(const std::string&)>& unqueued) {
    if (auto request = readRequest(connection)) {
        const Answer answer = queued ? std::move(*queued) : unqueued(*request);
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(std::move(*request));
        }
        if (sendAll(connection, answer.bytes)) {
            switch (answer.ending) {
            case Answer::Ending::Close: ::shutdown(connection, SHUT_WR); break;
            case Answer::Ending::Reset:
                if (waitUntilDelivered(connection)) {
                    const linger abortive{1, 0};
                    ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
                }
                break;
            case Answer::Ending::Stall: {
                char sink[4096];
                while (waitReadable(connection) && ::recv(connection, sink, sizeof sink, 0) > 0) {}
                break;
            }
            case Answer::Ending::Stream: stream(connection); break;
            case Answer::Ending::Trickle: trickle(connection); break;
            }
        }
    }
    ::close(connection);
}

RefusingPort::RefusingPort() {
    socket_ = BoundLoopbackSocket(port_);
}

RefusingPort::~RefusingPort() {
    ::close(socket_);
}

std::string RefusingPort::baseAddress() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

}  // namespace testsupport
