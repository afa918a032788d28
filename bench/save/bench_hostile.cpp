// Peak memory and time of decoding hostile pictures: files of a few hundred
// bytes that claim a large image, the way a broken or malicious service could
// answer. Each decode, and each save of the picture as BMP at its own size
// (size text "0"), runs in a child process of its own, whose peak resident
// memory the kernel reports; the first row is a child that decodes nothing.
//
//   bench_hostile
#include "fixtures.h"
#include "save/save.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using save::Bytes;

struct Hostile {
    std::string name;
    Bytes bytes;
};

std::vector<Hostile> HostileFiles() {
    using fixtures::JpegClaiming;
    using fixtures::JpegCoding;
    using fixtures::JpegColour;
    const Bytes grey(16 * 16, 0x80);
    const Bytes rgb(3 * 16 * 16, 0x80);
    const Bytes arithmeticGrey = fixtures::JpegFile(16, 16, JpegColour::Grey, grey, JpegCoding::Arithmetic);
    const Bytes arithmeticRgb = fixtures::JpegFile(16, 16, JpegColour::Rgb, rgb, JpegCoding::Arithmetic);
    const Bytes progressiveRgb = fixtures::JpegFile(16, 16, JpegColour::Rgb, rgb, JpegCoding::Progressive);
    std::vector<Hostile> files = {
        {"nothing decoded", {}},
        {"JPEG arithmetic grey 8192 x 8192", JpegClaiming(arithmeticGrey, 8192, 8192)},
        {"JPEG arithmetic RGB 8192 x 8192", JpegClaiming(arithmeticRgb, 8192, 8192)},
        {"JPEG progressive RGB 8192 x 8192", JpegClaiming(progressiveRgb, 8192, 8192)},
        {"JPEG arith. progressive 10 scans 8192 x 8192", JpegClaiming(fixtures::ScanHeavyJpeg(10), 8192, 8192)},
        {"JPEG arithmetic RGB 1024 x 1024", JpegClaiming(arithmeticRgb, 1024, 1024)},
        {"JPEG arithmetic RGB 1025 x 1024", JpegClaiming(arithmeticRgb, 1025, 1024)},
    };
    for (int scans : {10, 30, 100, 101})
        files.push_back({"JPEG arith. progressive " + std::to_string(scans) + " scans 1024 x 1024",
                         JpegClaiming(fixtures::ScanHeavyJpeg(scans), 1024, 1024)});
    files.push_back({"PNG RGBA zeros 1024 x 1024",
                     fixtures::PngFile({fixtures::Ihdr(1024, 1024, 8, 6),
                                        fixtures::Idat(Bytes(4 * 1024 * 1024, 0), 4 * 1024), fixtures::Iend()})});
    return files;
}

struct Run {
    double milliseconds = 0;
    long peakKiB = 0;
    std::string outcome;
};

// Runs `work` in a child; its result line comes back through a pipe.
Run InChild(const std::function<std::string()>& work) {
    int channel[2];
    if (pipe(channel) != 0) return {0, 0, "no pipe"};
    const pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        const std::string line = "- " + work();
        const ssize_t written = write(channel[1], line.data(), line.size());
        _exit(written == static_cast<ssize_t>(line.size()) ? 0 : 1);
    }
    close(channel[1]);
    std::string line;
    char buffer[256];
    for (ssize_t got; (got = read(channel[0], buffer, sizeof buffer)) > 0;)
        line.append(buffer, static_cast<std::size_t>(got));
    close(channel[0]);
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child) return {0, 0, "no child"};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {0, usage.ru_maxrss, "the child died"};
    // Processor time, which other load on the machine does not inflate.
    const double ms =
        (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    return {ms, usage.ru_maxrss, line.substr(line.find(' ') + 1)};
}

}  // namespace

int main() {
    const std::vector<Hostile> files = HostileFiles();
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("bench_hostile." + std::to_string(getpid()));
    std::filesystem::create_directory(folder);
    std::printf("%-46s %7s | %9s %9s  %-28s | %9s %9s  %s\n", "file", "bytes", "cpu ms", "peak MiB", "decoded",
                "cpu ms", "peak MiB", "saved");
    for (const Hostile& file : files) {
        const Run decode = InChild([&] {
            if (file.bytes.empty()) return std::string("-");
            std::string error;
            const auto image = save::DecodeImage(file.bytes, &error);
            return image ? std::to_string(image->width) + " x " + std::to_string(image->height) : "refused: " + error;
        });
        const Run saved = InChild([&] {
            if (file.bytes.empty()) return std::string("-");
            const save::SaveOutcome outcome =
                save::SavePicture({file.bytes, "0", "0", folder.string(), "bmp"}, [] { return std::tm{}; });
            if (outcome.savedPath.empty()) return outcome.message.text;
            return std::to_string(std::filesystem::file_size(outcome.savedPath) / 1024) + " KiB written";
        });
        std::printf("%-46s %7zu | %9.1f %9.1f  %-28s | %9.1f %9.1f  %s\n", file.name.c_str(), file.bytes.size(),
                    decode.milliseconds, decode.peakKiB / 1024.0, decode.outcome.c_str(), saved.milliseconds,
                    saved.peakKiB / 1024.0, saved.outcome.c_str());
    }
    std::filesystem::remove_all(folder);
    return 0;
}
