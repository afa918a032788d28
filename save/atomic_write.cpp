// Replacing a file so that a failure never leaves a truncated one behind.
#include "save/save.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace save {
namespace {

WriteError ClassifyWriteErrno(int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT: return WriteError::DiskFull;
    default: return WriteError::WriteFailed;
    }
}

// Creating the temporary file is the first touch of the folder, so its errno
// tells what is wrong with the folder.
WriteError ClassifyCreateErrno(int error) {
    switch (error) {
    case ENOENT: return WriteError::FolderMissing;
    case ENOTDIR: return WriteError::NotAFolder;
    case EACCES:
    case EPERM:
    case EROFS: return WriteError::FolderNotWritable;
    default: return ClassifyWriteErrno(error);
    }
}

// The process umask, read without changing it (umask() can only be read by
// setting it, which would race with other threads creating files).
mode_t CurrentUmask() {
    if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[128];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status))
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(status);
        if (found)
            return static_cast<mode_t>(mask);
    }
    const mode_t mask = umask(022);
    umask(mask);
    return mask;
}

bool WriteAll(int fd, const Bytes& bytes) {
    const std::uint8_t* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

WriteResult WriteFileAtomically(const std::string& path, const Bytes& bytes) {
    // A hidden name beside the target: rename() only replaces atomically
    // within one file system, and the user should not see the half-written file.
    const std::size_t slash = path.rfind('/');
    const std::size_t nameAt = slash == std::string::npos ? 0 : slash + 1;
    std::string temporary = path.substr(0, nameAt) + "." + path.substr(nameAt) + ".XXXXXX";

    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return {ClassifyCreateErrno(errno), errno};

    // mkstemp creates the file 0600; a saved picture is an ordinary file.
    const mode_t mode = 0666 & ~CurrentUmask();
    int failure = 0;
    if (fchmod(fd, mode) != 0 || !WriteAll(fd, bytes) || fsync(fd) != 0)
        failure = errno;
    // close() may be where a network or full file system reports the loss.
    if (close(fd) != 0 && failure == 0)
        failure = errno;
    if (failure == 0 && rename(temporary.c_str(), path.c_str()) != 0)
        failure = errno;
    if (failure != 0) {
        unlink(temporary.c_str());
        return {ClassifyWriteErrno(failure), failure};
    }
    return {};
}

}  // namespace save
