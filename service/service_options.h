// The command line of qr-image-service.
#pragma once

#include <netinet/in.h>

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qrservice {

inline constexpr unsigned kMaxThreads = 64;
// Hundreds of clients that never finish their request must leave room for
// the real ones; the open-file limit may cut this down at start.
inline constexpr unsigned kDefaultMaxConnections = 4096;
inline constexpr unsigned kMaxMaxConnections = 65536;
inline constexpr unsigned kDefaultTimeoutSeconds = 10;
inline constexpr unsigned kMaxTimeoutSeconds = 3600;
// A request head comes in one write from a real client on this machine.
inline constexpr unsigned kDefaultHeadTimeoutSeconds = 3;
inline constexpr unsigned kMaxHeadTimeoutSeconds = 600;
inline constexpr unsigned kMaxIdleExitSeconds = 86400;

struct ServiceOptions {
    sockaddr_in listen{};          // IPv4 address and port; port 0 lets the system pick one
    std::string socketPath;        // set: serves this user's Unix socket there instead of listen
    unsigned idleExitSeconds = 0;  // 0: runs until stopped; else ends after this long without a request
    unsigned threads = 1;
    unsigned maxConnections = kDefaultMaxConnections;
    unsigned timeoutSeconds = kDefaultTimeoutSeconds;
    unsigned headTimeoutSeconds = kDefaultHeadTimeoutSeconds;
};

// The program ends without serving: after --help or --version (status 0,
// message for stdout) or on a bad command line (status 2, message for stderr).
struct CommandLineExit {
    int status;
    std::string message;
};

// The usage text --help prints, naming the given defaults.
std::string UsageText(std::string_view defaultListen, unsigned defaultThreads);

// Reads the arguments after the program name: --listen ADDR:PORT (dotted
// IPv4 address), --threads N (1..kMaxThreads), --max-connections N
// (1..kMaxMaxConnections), --timeout SECONDS (1..kMaxTimeoutSeconds),
// --head-timeout SECONDS (1..kMaxHeadTimeoutSeconds), --socket PATH
// (absolute, short enough for a Unix socket address; not with --listen),
// --idle-exit SECONDS (1..kMaxIdleExitSeconds), --help and --version.
// Omitted options take the defaults. A defaultListen that is not itself a
// valid ADDR:PORT ends it with status 2 and a message naming it.
std::variant<ServiceOptions, CommandLineExit> ParseServiceOptions(const std::vector<std::string_view>& args,
                                                                  std::string_view defaultListen,
                                                                  unsigned defaultThreads);

// How many connections fit beside the service's own files (standard streams,
// listening socket, two per worker thread) under an open-file limit of
// openFiles: requested, or fewer when the limit is lower, but at least 1.
unsigned FitConnectionLimit(unsigned requested, unsigned threads, unsigned openFiles);

}  // namespace qrservice
