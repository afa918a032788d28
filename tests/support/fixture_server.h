// A scripted HTTP server on 127.0.0.1 for tests: it records every request it
// is sent and answers connections in the order they arrive from a queue of
// scripted answers. Plain C++ on POSIX sockets, one thread per connection.
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace testsupport {

// What the server does with one connection once it has read the request
// (up to the blank line after the headers).
struct Answer {
    enum class Ending {
        Close,    // write `bytes`, then close normally
        Reset,    // write `bytes`, wait until the client has them, then reset (RST)
        Stall,    // write `bytes`, then send nothing more until the server is destroyed
                  // (or the client leaves)
        Stream,   // write `bytes`, then filler bytes without end until the client leaves
        Trickle,  // write `bytes`, then one filler byte every kTrickleIntervalMs, never
                  // stalling for long, until the client leaves; closes after 10 s
    };
    static constexpr int kTrickleIntervalMs = 100;
    std::string bytes;
    Ending ending = Ending::Close;
};

// "HTTP/1.0 <status> <reason>", Content-Type, Content-Length when given, and
// the blank line: the head of a response, to be followed by its body.
std::string HttpHead(int status, std::string_view contentType, std::optional<std::size_t> contentLength = std::nullopt);

// A whole response that ends with a normal close. Without Content-Length the
// close is what ends the body.
Answer HttpAnswer(int status, std::string body, std::string_view contentType = "image/png",
                  bool withContentLength = true);

// A valid PNG of kSamplePngSize x kSamplePngSize pixels, 8-bit grey, black
// or white as SamplePngIsBlack tells.
inline constexpr int kSamplePngSize = 21;
std::string SamplePng();
// Three 7 x 7 finder squares (black ring, white ring, black 3 x 3 core) in
// the top-left, top-right and bottom-left corners; every other pixel white.
bool SamplePngIsBlack(int x, int y);

class FixtureServer {
public:
    // Listens on 127.0.0.1 at a free port right away.
    FixtureServer();
    // Ends every connection, stalled and streaming ones included; never hangs.
    ~FixtureServer();
    FixtureServer(const FixtureServer&) = delete;
    FixtureServer& operator=(const FixtureServer&) = delete;

    // "http://127.0.0.1:PORT", no trailing slash.
    std::string baseAddress() const;
    int port() const { return port_; }

    // Queues the answer for the next connection that has none yet. With the
    // queue empty a connection is answered HttpAnswer(200, SamplePng()), or
    // what the function set by answerUnqueued makes of its raw request.
    void enqueue(Answer answer);
    void answerUnqueued(std::function<Answer(const std::string& request)> answer);

    // Every request received so far, raw as it arrived: request line and
    // headers with their CR LF, up to and including the blank line.
    std::vector<std::string> requests() const;

    // Connections accepted so far, whether or not a request followed.
    int connectionCount() const { return connections_.load(); }

private:
    void acceptLoop();
    void serve(int connection, std::optional<Answer> answer, const std::function<Answer(const std::string&)>& unqueued);
    bool waitReadable(int fd) const;                  // false once the server is stopping
    bool restUnlessStopping(int milliseconds) const;  // false once the server is stopping
    bool waitWritable(int fd) const;
    bool sendAll(int fd, std::string_view bytes) const;
    std::optional<std::string> readRequest(int fd) const;
    void stream(int fd) const;
    void trickle(int fd) const;
    bool waitUntilDelivered(int fd) const;

    int listener_ = -1;
    int stopEvent_ = -1;  // eventfd, readable once destruction begins
    int port_ = 0;
    std::atomic<int> connections_{0};
    mutable std::mutex mutex_;
    std::deque<Answer> answers_;
    std::function<Answer(const std::string&)> unqueued_;
    std::vector<std::string> requests_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

// A loopback port on which nothing listens, held for the object's lifetime so
// no one else takes it: every connection to it is refused.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    // "http://127.0.0.1:PORT".
    std::string baseAddress() const;

private:
    int socket_ = -1;
    int port_ = 0;
};

}  // namespace testsupport
