// Replacing a file so that a failure never leaves a truncated one behind.
#include "save/save.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

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

// A clash of 64 random bits means something else is wrong; stop after a few.
constexpr int kTemporaryNameAttempts = 8;

// A hidden name beside `path`: rename() only replaces atomically within one
// file system, and the user should not see the half-written file. Empty, with
// errno set, when no random bits could be had.
std::string TemporaryPathFor(const std::string& path) {
    std::uint64_t random = 0;
    if (getrandom(&random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return {};
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%016llx", static_cast<unsigned long long>(random));
    const std::size_t nameAt = path.rfind('/') + 1;  // npos + 1 is 0: no folder part
    return path.substr(0, nameAt) + "." + path.substr(nameAt) + suffix;
}

// Creates a new temporary file for `path` and names it in `temporary`. Mode
// 0666 leaves the umask (or a default ACL) to decide, as for any new file;
// a later chmod is what vfat, exfat, CIFS or FUSE mounts may refuse.
// Returns the descriptor, or -1 with errno set.
int CreateTemporaryFile(const std::string& path, std::string& temporary) {
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        temporary = TemporaryPathFor(path);
        if (temporary.empty()) return -1;
        const int fd = open(temporary.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// rename() needs only the folder's permission, so it would replace a file the
// user write-protected. Only EACCES on a file that is there counts: a missing
// file is simply new, and a read-only file system or folder is what creating
// the temporary file reports. (Root may write any file, so it passes.)
bool IsWriteProtected(const std::string& path) {
    return access(path.c_str(), W_OK) != 0 && errno == EACCES && access(path.c_str(), F_OK) == 0;
}

bool WriteAll(int fd, const Bytes& bytes) {
    const std::uint8_t* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t written = write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

WriteResult WriteFileAtomically(const std::string& path, const Bytes& bytes) {
    std::string temporary;
    const int fd = CreateTemporaryFile(path, temporary);
    if (fd < 0) return {ClassifyCreateErrno(errno)};

    // Checked after the folder has shown itself usable, so that its fault is
    // the one reported.
    if (IsWriteProtected(path)) {
        close(fd);
        unlink(temporary.c_str());
        return {WriteError::WriteFailed};
    }
    int failure = 0;
    if (!WriteAll(fd, bytes) || fsync(fd) != 0) failure = errno;
    // close() may be where a network or full file system reports the loss.
    if (close(fd) != 0 && failure == 0) failure = errno;
    if (failure == 0 && rename(temporary.c_str(), path.c_str()) != 0) failure = errno;
    if (failure != 0) {
        unlink(temporary.c_str());
        return {ClassifyWriteErrno(failure)};
    }
    return {};
}

}  // namespace save
