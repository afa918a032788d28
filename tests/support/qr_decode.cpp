#include "support/qr_decode.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace testsupport {
namespace {

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

std::optional<std::string> DecodeQrFile(const std::string& path) {
    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0) return std::nullopt;
    const char* argv[] = {"zbarimg", "--raw", "-q", "--nodbus", "-Sbinary", path.c_str(), nullptr};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(output[1], STDOUT_FILENO);
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, STDIN_FILENO);
        execvp(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    close(output[1]);
    if (pid < 0) {
        close(output[0]);
        return std::nullopt;
    }

    std::string payload;
    char buffer[4096];
    ssize_t got;
    while ((got = read(output[0], buffer, sizeof buffer)) != 0) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) break;
        payload.append(buffer, static_cast<std::size_t>(got));
    }
    close(output[0]);
    int waitStatus = 0;
    while (waitpid(pid, &waitStatus, 0) < 0 && errno == EINTR) {}
    // In binary mode zbarimg writes the payload alone, with no line break of
    // its own after it.
    if (!WIFEXITED(waitStatus) || WEXITSTATUS(waitStatus) != 0) return std::nullopt;
    return payload;
}

std::optional<std::string> DecodeQrImage(const std::vector<std::uint8_t>& imageBytes) {
    char pathTemplate[] = "/tmp/qr-decode-XXXXXX";
    const int fd = mkostemp(pathTemplate, O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    const bool written = WriteAll(fd, imageBytes.data(), imageBytes.size());
    close(fd);
    std::optional<std::string> payload = written ? DecodeQrFile(pathTemplate) : std::nullopt;
    unlink(pathTemplate);
    return payload;
}

}  // namespace testsupport
