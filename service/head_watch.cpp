#include "service/head_watch.h"

#include <sys/socket.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace qrservice {

HeadWatch::HeadWatch(Clock::duration limit, std::function<void(std::size_t)> dropped)
    : limit_(limit), dropped_(std::move(dropped)), thread_([this] { watch(); }) {}

HeadWatch::~HeadWatch() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

void HeadWatch::opened(const void* key, int fd) {
    std::lock_guard lock(mutex_);
    const Clock::time_point deadline = Clock::now() + limit_;
    awaited_.insert_or_assign(key, Awaited{fd, deadline});
    // Later deadlines than the one the thread sleeps for need no wake-up.
    if (deadline < nextDeadline_) {
        nextDeadline_ = deadline;
        wake_.notify_one();
    }
}

void HeadWatch::forget(const void* key) {
    std::lock_guard lock(mutex_);
    awaited_.erase(key);
}

// The lock is held while shutting sockets down: forget() waits for it, so a
// socket known here is still open and still the connection's own. The report
// comes first, so that whoever sees a socket end can already read why.
void HeadWatch::watch() {
    std::unique_lock lock(mutex_);
    std::vector<int> overdue;
    while (!stopping_) {
        const Clock::time_point now = Clock::now();
        Clock::time_point next = Clock::time_point::max();
        overdue.clear();
        for (auto each = awaited_.begin(); each != awaited_.end();) {
            if (each->second.deadline <= now) {
                overdue.push_back(each->second.fd);
                each = awaited_.erase(each);
            } else {
                next = std::min(next, each->second.deadline);
                ++each;
            }
        }
        nextDeadline_ = next;
        if (!overdue.empty()) {
            dropped_(overdue.size());
            for (int fd : overdue)
                shutdown(fd, SHUT_RDWR);
        }
        if (next == Clock::time_point::max()) {
            wake_.wait(lock);
        } else {
            wake_.wait_until(lock, next);
        }
    }
}

}  // namespace qrservice
