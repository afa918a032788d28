// Closes connections whose request head does not arrive in time. libmicrohttpd's
// idle time-out starts over with every byte, so alone it lets a client that
// trickles its head hold a connection for ever.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace qrservice {

class HeadWatch {
public:
    using Clock = std::chrono::steady_clock;

    // Starts the watching thread (std::system_error when it cannot). A request
    // head must be complete within `limit` of the connection's opening or of
    // the end of its previous request; else the watch shuts its socket down,
    // so that the server reads end of file and closes it, and reports how
    // many it shut down at once through `dropped`, outside its lock.
    HeadWatch(Clock::duration limit, std::function<void(std::size_t)> dropped);
    // Stops and joins the thread; sockets still known are left alone.
    ~HeadWatch();
    HeadWatch(const HeadWatch&) = delete;
    HeadWatch& operator=(const HeadWatch&) = delete;

    // The connection `key` on socket `fd` was accepted: its head is awaited.
    void opened(const void* key, int fd);
    // Its request head is complete: no deadline until the request ends.
    void headComplete(const void* key);
    // Its request is over: on a kept-alive connection the next head is awaited.
    void requestEnded(const void* key);
    // It is closed: the watch forgets it and never touches its socket again.
    // The caller closes the socket only after this returns.
    void closed(const void* key);

private:
    struct Connection {
        int fd;
        bool awaitingHead;
        Clock::time_point deadline;
    };

    // Arms the deadline of a connection under the lock, waking the thread
    // when it is now the earliest.
    void awaitHead(Connection& connection);
    void watch();

    const Clock::duration limit_;
    const std::function<void(std::size_t)> dropped_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::unordered_map<const void*, Connection> connections_;
    Clock::time_point nextDeadline_ = Clock::time_point::max();
    bool stopping_ = false;
    std::thread thread_;  // last, so that it starts after everything it uses
};

}  // namespace qrservice
