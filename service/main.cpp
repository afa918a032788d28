// qr-image-service: renders QR code pictures for the desktop program over
// HTTP on the user's private socket or on loopback, so no payload has to
// leave the machine.
#include "service/http_daemon.h"
#include "service/private_socket.h"
#include "service/service_options.h"

#include <malloc.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <thread>

int main(int argc, char** argv) {
    using namespace qrservice;
    // Each picture takes and frees a few hundred KiB of compressor state.
    // Kept in the worker threads' heaps rather than handed back to the system
    // after every request, it costs no page faults and no TLB flushes across
    // CPUs: that was more than half of the service's own CPU time a request.
    mallopt(M_MMAP_THRESHOLD, 2 << 20);
    mallopt(M_TRIM_THRESHOLD, 8 << 20);
    const unsigned defaultThreads = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxThreads);
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    std::variant<ServiceOptions, CommandLineExit> parsed =
        ParseServiceOptions(args, QRGEN_SERVICE_LISTEN, defaultThreads);
    if (const auto* exit = std::get_if<CommandLineExit>(&parsed)) {
        std::fputs(exit->message.c_str(), exit->status == 0 ? stdout : stderr);
        return exit->status;
    }

    // Blocked before the worker threads start, so they inherit the mask and
    // the signals wait for sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    const ServiceOptions& options = std::get<ServiceOptions>(parsed);
    std::unique_ptr<PrivateSocket> privateSocket;
    if (!options.socketPath.empty()) {
        auto listening = PrivateSocket::Listen(options.socketPath);
        if (std::holds_alternative<AlreadyServed>(listening)) {
            std::fprintf(stderr, "qr-image-service: another service already serves %s\n", options.socketPath.c_str());
            return 0;
        }
        if (const auto* error = std::get_if<std::string>(&listening)) {
            std::fprintf(stderr, "qr-image-service: %s\n", error->c_str());
            return 1;
        }
        privateSocket = std::move(std::get<std::unique_ptr<PrivateSocket>>(listening));
    }

    std::variant<std::unique_ptr<HttpDaemon>, std::string> started =
        HttpDaemon::Start(options, privateSocket ? privateSocket->fd() : -1);
    if (const auto* error = std::get_if<std::string>(&started)) {
        std::fprintf(stderr, "qr-image-service: %s\n", error->c_str());
        return 1;
    }
    const auto& daemon = std::get<std::unique_ptr<HttpDaemon>>(started);
    std::fprintf(stderr, "qr-image-service: listening on %s\n", daemon->boundAddress().c_str());

    // The idle time is checked once a second.
    const timespec tick{1, 0};
    while (true) {
        const int received = sigtimedwait(&stopSignals, nullptr, &tick);
        if (received > 0) {
            std::fprintf(stderr, "qr-image-service: stopping on signal %d\n", received);
            break;
        }
        if (options.idleExitSeconds > 0 && daemon->idleFor(std::chrono::seconds(options.idleExitSeconds))) {
            std::fprintf(stderr, "qr-image-service: stopping after %u s without a request\n", options.idleExitSeconds);
            break;
        }
    }
    // Serving stops before the socket file goes and the lock is released
    // (declared in that order), so a service started meanwhile waits for
    // the lock and then replaces the file.
    return 0;
}
