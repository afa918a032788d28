// Prints how long a text-page generate takes through the private service:
// the first one with no service running (cold: started by that generate, or
// woken at program start just before it) and later ones (warm). Each cold
// run has its own runtime folder; every service started is ended.
#include "app/main_window.h"
#include "support/fake_platform.h"
#include "support/private_service_peer.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kColdRuns = 10;
constexpr int kWarmRuns = 50;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Milliseconds of one generate; negative when it showed no picture.
double timedGenerate(MainWindow& window, const FakePlatform& platform) {
    const auto before = Clock::now();
    window.GenerateTextQr();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - before).count();
    return platform.messages.empty() ? ms : -1;
}

struct Timings {
    std::vector<double> first, warm;
};

// One program life in a fresh runtime folder; `wake` as the program does at start.
bool run(bool wake, int warmRuns, Timings& timings) {
    QTemporaryDir runtime;
    const qr::ServiceOptions service{.privateService =
                                         qr::PrivateService{.runtimeDir = runtime.path().toStdString(),
                                                            .program = testsupport::ServiceProgramPath()}};
    if (wake) qr::WakeService(service);
    FakePlatform platform;
    MainWindow window(platform, service);
    window.findChild<QPlainTextEdit*>(QStringLiteral("编辑框_文本"))->setPlainText(QString(40, u'码'));
    timings.first.push_back(timedGenerate(window, platform));
    for (int i = 0; i < warmRuns; ++i)
        timings.warm.push_back(timedGenerate(window, platform));

    const auto socketPath = qr::PrivateSocketPath(*service.privateService);
    const bool ended = socketPath && testsupport::KillAndWait(testsupport::ServerPid(*socketPath), SIGTERM);
    const auto failed = [](double ms) { return ms < 0; };
    return ended && std::none_of(timings.first.begin(), timings.first.end(), failed) &&
           std::none_of(timings.warm.begin(), timings.warm.end(), failed);
}

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);

    Timings cold, woken;
    for (int i = 0; i < kColdRuns; ++i) {
        if (!run(false, i == 0 ? kWarmRuns : 0, cold) || !run(true, 0, woken)) {
            std::fprintf(stderr, "a generate through the private service failed\n");
            return 1;
        }
    }
    std::printf("text-page generate (40 Chinese) through the private socket, median of runs\n");
    std::printf("%-52s %8.2f ms\n", "first, no service running, started by the generate", median(cold.first));
    std::printf("%-52s %8.2f ms\n", "first, service woken at program start just before", median(woken.first));
    std::printf("%-52s %8.2f ms\n", "warm", median(cold.warm));
    return 0;
}
