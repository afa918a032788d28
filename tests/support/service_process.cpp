#include "support/service_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace testsupport {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kStartLimit = std::chrono::seconds(10);
constexpr auto kStopLimit = std::chrono::seconds(5);
constexpr auto kPollInterval = std::chrono::milliseconds(10);
constexpr time_t kReceiveGuardSeconds = 10;
constexpr std::string_view kListeningMarker = "listening on 127.0.0.1:";

std::string MakePrivateFolder() {
    char folder[] = "/tmp/qr-image-service-XXXXXX";
    if (!mkdtemp(folder)) throw std::runtime_error("cannot create a folder for the service's socket");
    return folder;
}

int StatusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return -1;
}

// Waits for the child up to `limit`; true once it has been reaped.
bool ReapWithin(pid_t pid, Clock::duration limit, int& exitStatus) {
    const auto deadline = Clock::now() + limit;
    while (true) {
        int waitStatus = 0;
        const pid_t reaped = waitpid(pid, &waitStatus, WNOHANG);
        if (reaped == pid) {
            exitStatus = StatusOf(waitStatus);
            return true;
        }
        if (reaped < 0 || Clock::now() >= deadline) return reaped < 0;
        std::this_thread::sleep_for(kPollInterval);
    }
}

}  // namespace

int Connect(const Endpoint& endpoint) {
    const bool local = !endpoint.socketPath.empty();
    const int fd = socket(local ? AF_UNIX : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    timeval guard{kReceiveGuardSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof guard);
    sockaddr_in inetAddress{};
    inetAddress.sin_family = AF_INET;
    inetAddress.sin_port = htons(static_cast<std::uint16_t>(endpoint.port));
    inetAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_un unixAddress{};
    unixAddress.sun_family = AF_UNIX;
    std::strncpy(unixAddress.sun_path, endpoint.socketPath.c_str(), sizeof unixAddress.sun_path - 1);
    const sockaddr* address =
        local ? reinterpret_cast<const sockaddr*>(&unixAddress) : reinterpret_cast<const sockaddr*>(&inetAddress);
    const socklen_t length = local ? sizeof unixAddress : sizeof inetAddress;
    if (connect(fd, address, length) == 0) return fd;
    close(fd);
    return -1;
}

ServiceProcess::ServiceProcess(std::vector<std::string> extraArgs)
    : ServiceProcess(Transport::Tcp, std::move(extraArgs)) {}

ServiceProcess::ServiceProcess(Transport transport, std::vector<std::string> extraArgs)
    : ServiceProcess(
          QR_IMAGE_SERVICE_PATH,
          [&] {
              std::vector<std::string> args;
              if (transport == Transport::Tcp) args = {"--listen", "127.0.0.1:0"};
              args.insert(args.end(), extraArgs.begin(), extraArgs.end());
              return args;
          }(),
          transport == Transport::UnixSocket ? MakePrivateFolder() : std::string()) {}

ServiceProcess::ServiceProcess(const std::string& program, std::vector<std::string> args)
    : ServiceProcess(program, std::move(args), std::string()) {}

ServiceProcess::ServiceProcess(const std::string& program, std::vector<std::string> args, std::string folder)
    : folder_(std::move(folder)) {
    if (!folder_.empty()) {
        socketPath_ = folder_ + "/qr-image-service.sock";
        args.insert(args.begin(), {"--socket", socketPath_});
    }
    const auto giveUp = [&](const std::string& why) {
        stop();
        unlink(logPath_.c_str());
        if (!folder_.empty()) std::filesystem::remove_all(folder_);
        throw std::runtime_error(why);
    };
    char logTemplate[] = "/tmp/qr-image-service-log-XXXXXX";
    const int logFd = mkostemp(logTemplate, O_CLOEXEC);
    if (logFd < 0) giveUp("cannot create the service's log file");
    logPath_ = logTemplate;

    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    const pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        // Only async-signal-safe calls from here to exec. The service dies
        // with the test, even when the test crashes.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        const int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, STDIN_FILENO);
        dup2(devNull, STDOUT_FILENO);
        dup2(logFd, STDERR_FILENO);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(logFd);
    if (pid_ < 0) giveUp("cannot fork the service");

    const auto deadline = Clock::now() + kStartLimit;
    while (!accepts()) {
        const bool exited = ReapWithin(pid_, Clock::duration::zero(), exitStatus_);
        if (exited) pid_ = -1;
        if (exited || Clock::now() >= deadline) giveUp(program + " did not start; its log:\n" + log());
        std::this_thread::sleep_for(kPollInterval);
    }
}

ServiceProcess::~ServiceProcess() {
    stop();
    unlink(logPath_.c_str());
    if (!folder_.empty()) std::filesystem::remove_all(folder_);
}

// Over TCP the port is known once the log names it.
bool ServiceProcess::accepts() {
    if (socketPath_.empty() && port_ == 0) {
        const std::string text = log();
        const std::size_t marker = text.find(kListeningMarker);
        if (marker == std::string::npos || text.find('\n', marker) == std::string::npos) return false;
        port_ = std::atoi(text.c_str() + marker + kListeningMarker.size());
    }
    const int fd = Connect(endpoint());
    if (fd < 0) return false;
    close(fd);
    return true;
}

std::string ServiceProcess::baseAddress() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::string ServiceProcess::log() const {
    std::ifstream file(logPath_, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

int ServiceProcess::stop() {
    if (pid_ <= 0) return exitStatus_;
    kill(pid_, SIGTERM);
    if (!ReapWithin(pid_, kStopLimit, exitStatus_)) {
        kill(pid_, SIGKILL);
        int waitStatus = 0;
        if (waitpid(pid_, &waitStatus, 0) == pid_) exitStatus_ = StatusOf(waitStatus);
    }
    pid_ = -1;
    return exitStatus_;
}

}  // namespace testsupport
