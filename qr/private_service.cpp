#include "qr/qr.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

namespace qr {
namespace {

using Clock = std::chrono::steady_clock;
// A cold start takes some milliseconds; beyond this the service is broken.
constexpr auto kStartWait = std::chrono::seconds(5);
constexpr auto kStartPoll = std::chrono::milliseconds(2);
constexpr const char* kSocketName = "qr-image-service.sock";

enum class Answer { None, Ours, Foreign };

// Connects once; a server running as another account is never used.
Answer Probe(const std::string& socketPath) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return Answer::None;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size());
    ucred peer{};
    socklen_t peerSize = sizeof peer;
    Answer answer = Answer::None;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        const bool known = getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &peerSize) == 0;
        answer = known && peer.uid == geteuid() ? Answer::Ours : Answer::Foreign;
    }
    close(fd);
    return answer;
}

// Services started and not yet seen answering, by socket path: a generate
// right after the start-up wake waits for that one instead of starting a
// second, which would only step aside again.
std::mutex startsGuard;
std::map<std::string, Clock::time_point> pendingStarts;

bool StartPending(const std::string& socketPath) {
    const std::lock_guard lock(startsGuard);
    const auto pending = pendingStarts.find(socketPath);
    return pending != pendingStarts.end() && Clock::now() - pending->second < kStartWait;
}

void SetPending(const std::string& socketPath, bool pending) {
    const std::lock_guard lock(startsGuard);
    if (pending)
        pendingStarts[socketPath] = Clock::now();
    else
        pendingStarts.erase(socketPath);
}

// Detached: its own session, no terminal, adopted by init through a second
// fork so that no zombie is left behind. False when no process could be made.
bool Start(const PrivateService& service, const std::string& socketPath) {
    const std::string idleExit = std::to_string(service.idleExitSeconds);
    const char* argv[] = {service.program.c_str(), "--socket",       socketPath.c_str(),
                          "--idle-exit",           idleExit.c_str(), nullptr};
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        // The caller may have threads: only async-signal-safe calls until exec.
        setsid();
        if (fork() != 0) _exit(0);
        const int devNull = open("/dev/null", O_RDWR);
        if (devNull < 0 || dup2(devNull, STDIN_FILENO) < 0 || dup2(devNull, STDOUT_FILENO) < 0 ||
            dup2(devNull, STDERR_FILENO) < 0) {
            _exit(127);
        }
        close_range(3, UINT_MAX, 0);
        // No folder of the user's stays busy for the service's lifetime.
        if (chdir("/") != 0) _exit(127);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execv(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {}
    SetPending(socketPath, true);
    return true;
}

bool MakePrivateFolder(const std::string& path, uid_t owner) {
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    return CheckPrivateFolder(path, owner) == FolderCheck::Private;
}

// True once the user's own service answers, starting it when none does.
bool Reach(const PrivateService& service, const std::string& socketPath) {
    Answer answer = Probe(socketPath);
    if (answer == Answer::None) {
        if (!StartPending(socketPath) && !Start(service, socketPath)) return false;
        const auto deadline = Clock::now() + kStartWait;
        while (answer == Answer::None && Clock::now() < deadline) {
            std::this_thread::sleep_for(kStartPoll);
            answer = Probe(socketPath);
        }
    }
    if (answer != Answer::None) SetPending(socketPath, false);
    return answer == Answer::Ours;
}

}  // namespace

FolderCheck CheckPrivateFolder(const std::string& path, uid_t owner) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) return FolderCheck::Missing;
    if (S_ISLNK(status.st_mode)) return FolderCheck::Link;
    if (!S_ISDIR(status.st_mode)) return FolderCheck::NotAFolder;
    if (status.st_uid != owner) return FolderCheck::NotOwned;
    if ((status.st_mode & 077) != 0) return FolderCheck::OpenToOthers;
    return FolderCheck::Private;
}

std::optional<std::string> PrivateSocketPath(const PrivateService& service) {
    const uid_t uid = geteuid();
    const bool runtimeUsable = !service.runtimeDir.empty() && service.runtimeDir.front() == '/' &&
                               CheckPrivateFolder(service.runtimeDir, uid) == FolderCheck::Private;
    const std::string folder =
        runtimeUsable ? service.runtimeDir + "/qrgen" : service.fallbackRoot + "/qrgen-" + std::to_string(uid);
    const std::string path = folder + "/" + kSocketName;
    if (path.size() >= sizeof(sockaddr_un::sun_path) || !MakePrivateFolder(folder, uid)) return std::nullopt;
    return path;
}

std::vector<std::string> ServiceProgramCandidates(const std::string& executable) {
    const std::string folder = executable.substr(0, executable.rfind('/') + 1);
    return {folder + QRGEN_LIBEXEC_FROM_BIN "/qr-image-service", folder + "../service/qr-image-service"};
}

ServiceOptions DesktopServiceOptions() {
#if QRGEN_PRIVATE_SERVICE
    char executable[PATH_MAX] = "";
    const ssize_t length = readlink("/proc/self/exe", executable, sizeof executable - 1);
    const std::vector<std::string> candidates =
        ServiceProgramCandidates(std::string(executable, length > 0 ? std::size_t(length) : 0));
    std::string program = candidates.front();
    for (const std::string& candidate : candidates) {
        if (access(candidate.c_str(), X_OK) == 0) {
            program = candidate;
            break;
        }
    }
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    return {.privateService = PrivateService{.runtimeDir = runtimeDir ? runtimeDir : "", .program = program}};
#else
    return {};
#endif
}

void WakeService(const ServiceOptions& service) {
    if (!service.privateService) return;
    const auto socketPath = PrivateSocketPath(*service.privateService);
    if (socketPath && Probe(*socketPath) == Answer::None) Start(*service.privateService, *socketPath);
}

FetchResult FetchFromService(const ServiceOptions& service, const std::string& url) {
    if (!service.privateService) return FetchUrl(url, service.limits);
    FetchResult result{{}, FetchFailure::CannotConnect};
    const auto socketPath = PrivateSocketPath(*service.privateService);
    if (!socketPath) return result;
    // A service that ended for idleness between Reach and the request's own
    // connect refused it unsent: reaching it again starts a new one.
    for (int attempt = 0; attempt < 2 && result.failure == FetchFailure::CannotConnect; ++attempt) {
        if (!Reach(*service.privateService, *socketPath)) break;
        result = FetchUrl(url, service.limits, *socketPath);
    }
    return result;
}

}  // namespace qr
