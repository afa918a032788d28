// qr-image-service: renders QR code pictures for the desktop program over
// HTTP on loopback, so no payload has to leave the machine.
#include "service/http_daemon.h"
#include "service/service_options.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <thread>

int main(int argc, char** argv) {
    using namespace qrservice;
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

    std::variant<std::unique_ptr<HttpDaemon>, std::string> started =
        HttpDaemon::Start(std::get<ServiceOptions>(parsed));
    if (const auto* error = std::get_if<std::string>(&started)) {
        std::fprintf(stderr, "qr-image-service: %s\n", error->c_str());
        return 1;
    }
    const auto& daemon = std::get<std::unique_ptr<HttpDaemon>>(started);
    std::fprintf(stderr, "qr-image-service: listening on %s\n", daemon->boundAddress().c_str());

    int received = 0;
    sigwait(&stopSignals, &received);
    std::fprintf(stderr, "qr-image-service: stopping on signal %d\n", received);
    return 0;
}
