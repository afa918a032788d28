// Prints how long the program takes from process start to the window shown,
// how long one text-page generate takes against the bundled service on
// loopback, and the peak memory. Runs itself as a child so the start-up time
// includes exec and loading the libraries.
#include "app/app_icon.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "support/fake_platform.h"
#include "support/service_process.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QTest>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kStartRuns = 5;
constexpr int kGenerateRuns = 50;

long long monotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1'000'000'000LL + now.tv_nsec;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// One start, the way qrgen starts: prints "<ms to window shown> <ms per
// generate> <peak KiB>".
int child(int argc, char** argv, long long startedNs, const std::string& serviceBase) {
    QApplication app(argc, argv);
    QApplication::setWindowIcon(AppIcon());
    InstallChineseTranslations(app);
    FakePlatform platform;
    MainWindow window(platform, qr::ServiceOptions{.baseAddress = serviceBase});
    window.show();
    CentreOnPrimaryScreen(window);
    if (!QTest::qWaitForWindowExposed(&window)) return 1;
    const double shownMs = double(monotonicNs() - startedNs) / 1e6;

    auto* text = window.findChild<QPlainTextEdit*>(QStringLiteral("编辑框_文本"));
    text->setPlainText(QString(40, u'码'));
    std::vector<double> generateMs;
    for (int i = 0; i < kGenerateRuns; ++i) {
        const long long before = monotonicNs();
        window.GenerateTextQr();
        generateMs.push_back(double(monotonicNs() - before) / 1e6);
    }
    if (!platform.messages.empty()) return 1;

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%.1f %.2f %ld\n", shownMs, median(generateMs), usage.ru_maxrss);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--child") return child(argc, argv, std::atoll(argv[2]), argv[3]);

    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 0);
    testsupport::ServiceProcess service;
    const std::string serviceBase = service.baseAddress();

    std::printf("%-34s %10s\n", "measure (median of runs)", "value");
    std::vector<double> shown, generate, peak;
    for (int run = 0; run < kStartRuns; ++run) {
        int out[2];
        if (pipe(out) != 0) return 1;
        const std::string started = std::to_string(monotonicNs());
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(out[1], STDOUT_FILENO);
            execl("/proc/self/exe", argv[0], "--child", started.c_str(), serviceBase.c_str(), nullptr);
            _exit(127);
        }
        close(out[1]);
        char line[128] = {};
        const ssize_t got = read(out[0], line, sizeof line - 1);
        close(out[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        double shownMs = 0, generateMs = 0, peakKiB = 0;
        if (got <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
            std::sscanf(line, "%lf %lf %lf", &shownMs, &generateMs, &peakKiB) != 3) {
            std::fprintf(stderr, "run %d failed\n", run);
            return 1;
        }
        shown.push_back(shownMs);
        generate.push_back(generateMs);
        peak.push_back(peakKiB);
    }
    std::printf("%-34s %8.1f ms\n", "process start to window shown", median(shown));
    std::printf("%-34s %8.2f ms\n", "text-page generate (40 Chinese)", median(generate));
    std::printf("%-34s %8.1f MiB\n", "peak resident memory", median(peak) / 1024);
    return 0;
}
