// The private service as its clients see it: a server behind a Unix socket
// that none of them started as a child.
#pragma once

#include <sys/types.h>

#include <string>

namespace testsupport {

// The built qr-image-service.
std::string ServiceProgramPath();

// The process id of the server listening on the Unix socket `socketPath`
// (from the kernel's peer credentials), or -1 when none answers.
pid_t ServerPid(const std::string& socketPath);

// Sends `signal` to `pid`, which need not be a child, and waits up to a few
// seconds until it has ended. True once it has.
bool KillAndWait(pid_t pid, int signal);

// A stale socket file at `socketPath`: bound once, nobody listening.
bool MakeStaleSocket(const std::string& socketPath);

}  // namespace testsupport
