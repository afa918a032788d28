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
    // head must be complete within `limit` of the connection's opening; one
    // head is all a connection carries, as every answer closes it. Else the
    // watch shuts its socket down, so that the server reads end of file and
    // closes it. Before it does, it tells `dropped` how many it is about to
    // shut down at once; `dropped` runs under the watch's lock and must not
    // call back into the watch.
    HeadWatch(Clock::duration limit, std::function<void(std::size_t)> dropped);
    // Stops and joins the thread; sockets still known are left alone.
    ~HeadWatch();
    HeadWatch(const HeadWatch&) = delete;
    HeadWatch& operator=(const HeadWatch&) = delete;

    // The connection `key` on socket `fd` was accepted: its head is awaited.
    void opened(const void* key, int fd);
    // Its request head is complete, or it is closed: the watch forgets it and
    // never touches its socket again. The caller closes the socket only after
    // this returns.
    void forget(const void* key);

private:
    struct Awaited {
        int fd;
        Clock::time_point deadline;
    };

    void watch();

    const Clock::duration limit_;
    const std::function<void(std::size_t)> dropped_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::unordered_map<const void*, Awaited> awaited_;
    Clock::time_point nextDeadline_ = Clock::time_point::max();
    bool stopping_ = false;
    std::thread thread_;  // last, so that it starts after everything it uses
};

}  // namespace qrservice
