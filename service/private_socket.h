// The Unix socket of a user's private service: one service a socket, kept so
// by a lock file next to it.
#pragma once

#include <memory>
#include <string>
#include <variant>

namespace qrservice {

// Another service already answers on the socket: this one is not needed.
struct AlreadyServed {};

class PrivateSocket {
public:
    // Takes the lock "<path>.lock" (waiting a few seconds for a service that
    // is ending), replaces whatever socket file is left at `path` and listens
    // there with mode 0600. Gives AlreadyServed when another service holds
    // the lock and answers, an error text when it cannot listen.
    static std::variant<std::unique_ptr<PrivateSocket>, AlreadyServed, std::string> Listen(const std::string& path);

    // Removes the socket file, then releases the lock.
    ~PrivateSocket();
    PrivateSocket(const PrivateSocket&) = delete;
    PrivateSocket& operator=(const PrivateSocket&) = delete;

    // The listening socket; whoever serves it closes it.
    int fd() const { return listenFd_; }

private:
    PrivateSocket(std::string path, int lockFd, int listenFd)
        : path_(std::move(path)), lockFd_(lockFd), listenFd_(listenFd) {}
    std::string path_;
    int lockFd_;
    int listenFd_;
};

}  // namespace qrservice
