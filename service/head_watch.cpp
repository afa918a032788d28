#include "service/head_watch.h"

#include <sys/socket.h>

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

void HeadWatch::awaitHead(Connection& connection) {
    connection.awaitingHead = true;
    connection.deadline = Clock::now() + limit_;
    if (connection.deadline < nextDeadline_) {
        nextDeadline_ = connection.deadline;
        wake_.notify_one();
    }
}

void HeadWatch::opened(const void* key, int fd) {
    std::lock_guard lock(mutex_);
    awaitHead(connections_.insert_or_assign(key, Connection{fd, true, {}}).first->second);
}

void HeadWatch::headComplete(const void* key) {
    std::lock_guard lock(mutex_);
    const auto found = connections_.find(key);
    if (found != connections_.end()) found->second.awaitingHead = false;
}

void HeadWatch::requestEnded(const void* key) {
    std::lock_guard lock(mutex_);
    const auto found = connections_.find(key);
    if (found != connections_.end()) awaitHead(found->second);
}

void HeadWatch::closed(const void* key) {
    std::lock_guard lock(mutex_);
    connections_.erase(key);
}

// The lock is held while shutting sockets down: closed() waits for it, so a
// socket known here is still open and still the connection's own.
void HeadWatch::watch() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        const Clock::time_point now = Clock::now();
        Clock::time_point next = Clock::time_point::max();
        std::size_t shutDown = 0;
        for (auto& [key, connection] : connections_) {
            if (!connection.awaitingHead) continue;
            if (connection.deadline <= now) {
                connection.awaitingHead = false;
                if (shutdown(connection.fd, SHUT_RDWR) == 0) ++shutDown;
            } else if (connection.deadline < next) {
                next = connection.deadline;
            }
        }
        nextDeadline_ = next;
        if (shutDown > 0) {
            lock.unlock();
            dropped_(shutDown);
            lock.lock();
        } else if (next == Clock::time_point::max()) {
            wake_.wait(lock);
        } else {
            wake_.wait_until(lock, next);
        }
    }
}

}  // namespace qrservice
