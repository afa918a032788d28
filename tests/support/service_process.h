// The built qr-image-service as a child process on an ephemeral loopback
// port or on a Unix socket in a private folder, for tests and benchmarks
// that need the real service.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testsupport {

// Where a server is reached: a port on 127.0.0.1, or a Unix socket.
struct Endpoint {
    int port = 0;
    std::string socketPath;  // set: this instead of the port
};

// A stream socket connected to `endpoint` whose receives give up after 10 s,
// so that a hung server cannot hang its client; -1 when it cannot connect.
int Connect(const Endpoint& endpoint);

enum class Transport { Tcp, UnixSocket };

class ServiceProcess {
public:
    // Starts the service with --listen 127.0.0.1:0 followed by extraArgs, reads
    // the port it picked from its log and returns once it accepts connections.
    // Throws std::runtime_error (with the service's log) when it does not come
    // up within a few seconds.
    explicit ServiceProcess(std::vector<std::string> extraArgs = {});
    // The same on `transport`: for Transport::UnixSocket with --socket PATH
    // in a folder of its own, which goes with the service.
    ServiceProcess(Transport transport, std::vector<std::string> extraArgs);
    // Any other program (found on PATH) that, like the service, writes
    // "listening on 127.0.0.1:PORT" as a line on stderr once it serves.
    ServiceProcess(const std::string& program, std::vector<std::string> args);
    // Stops the service unless stop() already did.
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // "http://127.0.0.1:PORT", no trailing slash.
    std::string baseAddress() const;
    int port() const { return port_; }
    Endpoint endpoint() const { return {port_, socketPath_}; }
    // The child's process id, -1 once it has been stopped.
    pid_t pid() const { return pid_; }

    // Everything the service has written to stderr so far.
    std::string log() const;

    // Sends SIGTERM and waits; kills it after a few seconds if it is still
    // there. Returns its exit status, or 128 + the signal that ended it.
    // Later calls return the same status.
    int stop();

private:
    // `folder` set: serve the socket in it.
    ServiceProcess(const std::string& program, std::vector<std::string> args, std::string folder);
    bool accepts();

    pid_t pid_ = -1;
    int port_ = 0;
    std::string folder_;
    std::string socketPath_;
    int exitStatus_ = -1;
    std::string logPath_;
};

}  // namespace testsupport
