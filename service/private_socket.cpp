#include "service/private_socket.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace qrservice {
namespace {

using Clock = std::chrono::steady_clock;
// Long enough for an idle service to finish ending, short enough that a
// second service started at the same moment does not linger.
constexpr auto kLockWait = std::chrono::seconds(5);
constexpr auto kLockPoll = std::chrono::milliseconds(10);

sockaddr_un UnixAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), std::min(path.size(), sizeof address.sun_path - 1));
    return address;
}

bool Answers(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const sockaddr_un address = UnixAddress(path);
    const bool connected = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

std::string Failed(const char* what, const std::string& path) {
    return std::string("cannot ") + what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

std::variant<std::unique_ptr<PrivateSocket>, AlreadyServed, std::string> PrivateSocket::Listen(
    const std::string& path) {
    const std::string lockPath = path + ".lock";
    const int lockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd < 0) return Failed("open", lockPath);

    using Result = std::variant<std::unique_ptr<PrivateSocket>, AlreadyServed, std::string>;
    const auto giveUp = [lockFd](Result result) {
        close(lockFd);
        return result;
    };

    // A running service holds the lock for as long as it serves.
    const auto deadline = Clock::now() + kLockWait;
    while (flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) return giveUp(Failed("lock", lockPath));
        if (Answers(path)) return giveUp(AlreadyServed{});
        if (Clock::now() >= deadline) return giveUp("another service holds " + lockPath + " but does not answer");
        std::this_thread::sleep_for(kLockPoll);
    }

    // Holding the lock, nobody serves here: a file left at the path is stale.
    const int listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd < 0) return giveUp(Failed("create a socket for", path));
    const sockaddr_un address = UnixAddress(path);
    // The mask gives the socket file mode 0600 from its creation on.
    const mode_t oldMask = umask(0177);
    const bool bound = (unlink(path.c_str()) == 0 || errno == ENOENT) &&
                       bind(listenFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    umask(oldMask);
    if (!bound || listen(listenFd, SOMAXCONN) != 0) {
        const std::string error = Failed("listen on", path);
        close(listenFd);
        return giveUp(error);
    }
    return std::unique_ptr<PrivateSocket>(new PrivateSocket(path, lockFd, listenFd));
}

PrivateSocket::~PrivateSocket() {
    unlink(path_.c_str());
    close(lockFd_);
}

}  // namespace qrservice
