#include "support/private_service_peer.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kEndLimit = std::chrono::seconds(5);
constexpr auto kPollInterval = std::chrono::milliseconds(10);

sockaddr_un UnixAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    return address;
}

// Ended: no such process, or a zombie that its new parent has not reaped yet
// and whose last thread is gone. A killed leader turns zombie while its other
// threads still hold the process's files, its listening socket among them.
bool Ended(pid_t pid) {
    if (kill(pid, 0) != 0) return errno == ESRCH;
    const std::string proc = "/proc/" + std::to_string(pid);
    std::ifstream stat(proc + "/stat");
    std::string pidField, command, state;
    stat >> pidField >> command >> state;
    if (stat && state != "Z") return false;
    std::error_code error;
    const auto threads = std::distance(std::filesystem::directory_iterator(proc + "/task", error),
                                       std::filesystem::directory_iterator());
    return error || threads <= 1;
}

}  // namespace

std::string ServiceProgramPath() {
    return QR_IMAGE_SERVICE_PATH;
}

pid_t ServerPid(const std::string& socketPath) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const sockaddr_un address = UnixAddress(socketPath);
    ucred peer{};
    socklen_t size = sizeof peer;
    const bool known = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                       getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0;
    close(fd);
    return known ? peer.pid : -1;
}

bool KillAndWait(pid_t pid, int signal) {
    if (pid <= 0) return false;
    kill(pid, signal);
    const auto deadline = Clock::now() + kEndLimit;
    while (!Ended(pid)) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

bool MakeStaleSocket(const std::string& socketPath) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const sockaddr_un address = UnixAddress(socketPath);
    const bool bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return bound;
}

}  // namespace testsupport
