// Load benchmark of qr-image-service on loopback and on its private Unix
// socket: requests per second and latency at 16 concurrent HTTP/1.0 clients
// for a 40-byte and a 600-byte text, the same against a Node.js peer on the
// npm package qrcode, the service's CPU time per request beside that of
// libqrencode + libpng alone, and how fast a request is answered while 500
// clients trickle their heads, over both transports. Every run is bounded in
// requests and in time.
#include "service/qr_service.h"
#include "support/private_service_peer.h"
#include "support/service_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kConnections = 16;
constexpr int kMaxRequests = 20000;
constexpr auto kMaxDuration = std::chrono::seconds(5);
constexpr int kWarmUpRequests = 100;
constexpr std::size_t kRawRounds = 5;
constexpr int kRawIterationsPerRound = 1000;
constexpr int kSlowClients = 500;
constexpr int kProbes = 200;
constexpr double kProbeAimMs = 50;

struct Case {
    const char* name;
    std::string payload;
};

std::string PayloadOfBytes(std::size_t bytes) {
    const std::string pattern = "QR 二维码 offline, 不经他人之手; ";
    std::string payload;
    while (payload.size() < bytes)
        payload += pattern;
    payload.resize(bytes);  // may cut a character in two; the service takes any bytes
    return payload;
}

// The desktop program's request: every byte escaped, HTTP/1.0.
std::string DesktopRequest(const std::string& payload) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string request = "GET /api.php?el=l&m=10&w=300&text=";
    for (unsigned char byte : payload) {
        request += '%';
        request += kHex[byte >> 4];
        request += kHex[byte & 15];
    }
    return request +
           " HTTP/1.0\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n"
           "Accept: */*\r\n\r\n";
}

using testsupport::Connect;
using testsupport::Endpoint;
using testsupport::Transport;

// One request on a fresh connection; true when the answer is a 200.
bool FetchOnce(const Endpoint& endpoint, const std::string& request) {
    const int fd = Connect(endpoint);
    if (fd < 0) return false;
    bool ok = send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size());
    std::string head;
    char buffer[16384];
    ssize_t got;
    while (ok && (got = recv(fd, buffer, sizeof buffer, 0)) > 0) {
        if (head.size() < 12) head.append(buffer, static_cast<std::size_t>(std::min<ssize_t>(got, 12)));
    }
    close(fd);
    return ok && head.size() >= 12 && head.compare(0, 5, "HTTP/") == 0 && head.compare(9, 3, "200") == 0;
}

// The process's user + system CPU time, all threads, from /proc.
std::optional<double> ProcessCpuSeconds(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::size_t afterName = stat.rfind(')');
    if (afterName == std::string::npos) return std::nullopt;
    std::istringstream fields(stat.substr(afterName + 2));
    std::string field;
    // Fields 3.. follow the name; utime and stime are fields 14 and 15.
    for (int index = 3; index < 14 && fields >> field; ++index) {}
    unsigned long long user = 0, system = 0;
    if (!(fields >> user >> system)) return std::nullopt;
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct LoadResult {
    int completed = 0;
    int failed = 0;
    double seconds = 0;
    double p50Ms = 0;
    double p99Ms = 0;
    std::optional<double> cpuMsPerRequest;
};

LoadResult RunLoad(const Endpoint& endpoint, pid_t server, const std::string& request) {
    for (int i = 0; i < kWarmUpRequests; ++i)
        FetchOnce(endpoint, request);

    std::atomic<int> issued{0};
    std::atomic<int> failed{0};
    std::vector<std::vector<double>> latencies(kConnections);
    const std::optional<double> cpuBefore = ProcessCpuSeconds(server);
    const auto started = Clock::now();
    const auto deadline = started + kMaxDuration;
    std::vector<std::thread> clients;
    for (int c = 0; c < kConnections; ++c) {
        clients.emplace_back([&, c] {
            while (issued.fetch_add(1) < kMaxRequests && Clock::now() < deadline) {
                const auto sent = Clock::now();
                if (!FetchOnce(endpoint, request)) {
                    ++failed;
                    continue;
                }
                latencies[c].push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
            }
        });
    }
    for (std::thread& client : clients)
        client.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    const std::optional<double> cpuAfter = ProcessCpuSeconds(server);

    std::vector<double> all;
    for (const auto& each : latencies)
        all.insert(all.end(), each.begin(), each.end());
    std::sort(all.begin(), all.end());
    LoadResult result;
    result.completed = static_cast<int>(all.size());
    result.failed = failed;
    result.seconds = seconds;
    if (!all.empty()) {
        result.p50Ms = all[all.size() / 2];
        result.p99Ms = all[std::min(all.size() - 1, all.size() * 99 / 100)];
        if (cpuBefore && cpuAfter) result.cpuMsPerRequest = (*cpuAfter - *cpuBefore) * 1000.0 / result.completed;
    }
    return result;
}

struct ProbeResult {
    int slowClients = 0;  // connected
    int answered = 0;
    int failed = 0;
    double p50Ms = 0;
    double p99Ms = 0;
    double maxMs = 0;
};

// Requests one after another while kSlowClients connections each hold part
// of a request line and send one more byte between probes, so that none of
// them ever goes idle.
ProbeResult ProbeBesideSlowClients(const Endpoint& endpoint, const std::string& request) {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    ProbeResult result;
    std::vector<int> slow;
    for (int i = 0; i < kSlowClients; ++i) {
        const int fd = Connect(endpoint);
        if (fd < 0) break;
        send(fd, "GET /api.php?te", 15, MSG_NOSIGNAL);
        slow.push_back(fd);
    }
    result.slowClients = static_cast<int>(slow.size());
    std::vector<double> latencies;
    const auto deadline = Clock::now() + kMaxDuration;
    for (int i = 0; i < kProbes && Clock::now() < deadline; ++i) {
        const auto sent = Clock::now();
        if (FetchOnce(endpoint, request))
            latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
        else
            ++result.failed;
        for (int fd : slow)
            send(fd, "x", 1, MSG_NOSIGNAL);
    }
    for (int fd : slow)
        close(fd);
    std::sort(latencies.begin(), latencies.end());
    result.answered = static_cast<int>(latencies.size());
    if (!latencies.empty()) {
        result.p50Ms = latencies[latencies.size() / 2];
        result.p99Ms = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
        result.maxMs = latencies.back();
    }
    return result;
}

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// libqrencode + libpng alone: CPU milliseconds per picture, the median of a
// few rounds so that one disturbed round does not decide it.
double RawRenderMs(const std::string& payload) {
    const qrservice::QrRequest request{payload, qrservice::ErrorCorrection::Low, 10, 300};
    std::vector<double> rounds;
    const auto deadline = Clock::now() + kMaxDuration;
    while (rounds.size() < kRawRounds && Clock::now() < deadline) {
        const double before = ThreadCpuSeconds();
        for (int i = 0; i < kRawIterationsPerRound; ++i) {
            if (!std::holds_alternative<std::vector<std::uint8_t>>(qrservice::RenderQrPng(request))) return -1;
        }
        rounds.push_back((ThreadCpuSeconds() - before) * 1000.0 / kRawIterationsPerRound);
    }
    std::sort(rounds.begin(), rounds.end());
    return rounds[rounds.size() / 2];
}

void PrintRow(const char* server, const Case& testCase, const LoadResult& result) {
    std::printf("%-18s %5zu B %9d %7d %9.1f %8.2f %8.2f", server, testCase.payload.size(), result.completed,
                result.failed, result.completed / result.seconds, result.p50Ms, result.p99Ms);
    if (result.cpuMsPerRequest)
        std::printf(" %10.3f\n", *result.cpuMsPerRequest);
    else
        std::printf(" %10s\n", "n/a");
}

// The service on its private socket as the desktop program starts it, log
// to /dev/null, but as a child here so that it can be measured and stopped.
class SocketService {
public:
    SocketService() {
        char folder[] = "/tmp/qr-bench-socket-XXXXXX";
        if (!mkdtemp(folder)) return;
        folder_ = folder;
        const std::string program = testsupport::ServiceProgramPath();
        const std::string path = socketPath();
        pid_ = fork();
        if (pid_ == 0) {
            const int devNull = open("/dev/null", O_RDWR);
            for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
                dup2(devNull, fd);
            execl(program.c_str(), program.c_str(), "--socket", path.c_str(), nullptr);
            _exit(127);
        }
        const auto deadline = Clock::now() + kMaxDuration;
        while (pid_ > 0 && testsupport::ServerPid(path) != pid_ && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~SocketService() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        unlink((socketPath() + ".lock").c_str());
        rmdir(folder_.c_str());
    }
    SocketService(const SocketService&) = delete;
    SocketService& operator=(const SocketService&) = delete;

    std::string socketPath() const { return folder_ + "/qr-image-service.sock"; }
    pid_t pid() const { return pid_; }
    bool ready() const { return pid_ > 0 && testsupport::ServerPid(socketPath()) == pid_; }

private:
    std::string folder_;
    pid_t pid_ = -1;
};

bool InstallPeer() {
    const std::string command =
        std::string("cd '") + QRGEN_BENCH_PEER_DIR + "' && npm install --no-audit --no-fund --loglevel=error >&2";
    return std::system(command.c_str()) == 0;
}

}  // namespace

int main() {
    const std::vector<Case> cases = {{"40 B", PayloadOfBytes(40)}, {"600 B", PayloadOfBytes(600)}};
    std::vector<LoadResult> service, socketService, peer;
    std::vector<double> raw;
    const std::pair<const char*, Transport> transports[] = {{"TCP", Transport::Tcp},
                                                            {"Unix socket", Transport::UnixSocket}};
    std::vector<ProbeResult> probes;

    std::printf(
        "qr-image-service load benchmark: %d concurrent HTTP/1.0 clients on 127.0.0.1 (log to a file)\n"
        "and on the private Unix socket (log to /dev/null, as the program starts it), w=300 m=10 el=l,\n"
        "at most %d requests or %lld s a row, one connection a request.\n\n",
        kConnections, kMaxRequests, static_cast<long long>(kMaxDuration.count()));
    // First, before the load runs leave thousands of ports in TIME_WAIT.
    // The head time-out is set past the run, so every probe meets all the slow clients.
    for (const auto& [name, transport] : transports) {
        testsupport::ServiceProcess process(transport, {"--head-timeout", "600"});
        probes.push_back(ProbeBesideSlowClients(process.endpoint(), DesktopRequest(cases.front().payload)));
    }
    {
        testsupport::ServiceProcess process;
        for (const Case& c : cases)
            service.push_back(RunLoad({.port = process.port()}, process.pid(), DesktopRequest(c.payload)));
    }
    {
        const SocketService process;
        if (!process.ready()) {
            std::fprintf(stderr, "the service on a Unix socket did not start\n");
            return 1;
        }
        for (const Case& c : cases)
            socketService.push_back(
                RunLoad({.socketPath = process.socketPath()}, process.pid(), DesktopRequest(c.payload)));
    }
    for (const Case& c : cases)
        raw.push_back(RawRenderMs(c.payload));

    const bool peerReady = InstallPeer();
    if (peerReady) {
        testsupport::ServiceProcess process("node", {std::string(QRGEN_BENCH_PEER_DIR) + "/peer_server.js"});
        for (const Case& c : cases)
            peer.push_back(RunLoad({.port = process.port()}, process.pid(), DesktopRequest(c.payload)));
    }

    std::printf("%-18s %7s %9s %7s %9s %8s %8s %10s\n", "server", "text", "requests", "failed", "req/s", "p50 ms",
                "p99 ms", "CPU ms/req");
    for (std::size_t i = 0; i < cases.size(); ++i)
        PrintRow("qr-image-service", cases[i], service[i]);
    for (std::size_t i = 0; i < cases.size(); ++i)
        PrintRow("  on Unix socket", cases[i], socketService[i]);
    for (std::size_t i = 0; i < peer.size(); ++i)
        PrintRow("node qrcode peer", cases[i], peer[i]);
    if (!peerReady) std::printf("node qrcode peer: npm install failed, not measured\n");

    std::printf("\nlibqrencode + libpng alone, one thread:");
    for (std::size_t i = 0; i < cases.size(); ++i)
        std::printf("  %s %.3f ms", cases[i].name, raw[i]);
    std::printf("\n\n");
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const double rate = service[i].completed / service[i].seconds;
        if (i < peer.size()) {
            const double ratio = rate / (peer[i].completed / peer[i].seconds);
            std::printf("%-5s req/s vs peer: %6.1fx (aim >= 10x: %s)\n", cases[i].name, ratio,
                        ratio >= 10 ? "met" : "MISSED");
        }
        for (const auto& [transport, results] : {std::pair{"TCP", &service}, std::pair{"socket", &socketService}}) {
            const LoadResult& result = (*results)[i];
            if (!result.cpuMsPerRequest || raw[i] <= 0) continue;
            const double ratio = *result.cpuMsPerRequest / raw[i];
            std::printf("%-5s server CPU per request vs raw loop, %-6s: %5.2fx, %+.3f ms (aim <= 1.5x: %s)\n",
                        cases[i].name, transport, ratio, *result.cpuMsPerRequest - raw[i],
                        ratio <= 1.5 ? "met" : "MISSED");
        }
    }
    std::printf(
        "\nOne request at a time beside %d slow clients, each sending a byte of its request line\n"
        "between requests:\n",
        kSlowClients);
    for (std::size_t i = 0; i < probes.size(); ++i) {
        const ProbeResult& result = probes[i];
        std::printf(
            "%-11s %d connected, %d answered, %d failed, p50 %.2f ms, p99 %.2f ms, slowest %.2f ms\n"
            "            (aim < %.0f ms: %s)\n",
            transports[i].first, result.slowClients, result.answered, result.failed, result.p50Ms, result.p99Ms,
            result.maxMs, kProbeAimMs,
            result.failed == 0 && result.answered > 0 && result.maxMs < kProbeAimMs ? "met" : "MISSED");
    }
    return 0;
}
