#include "service/service_options.h"

#include "service/qr_service.h"

#include <arpa/inet.h>
#include <sys/un.h>

#include <algorithm>
#include <charconv>
#include <optional>

namespace qrservice {
namespace {

std::optional<unsigned> ParseCount(std::string_view digits, unsigned min, unsigned max) {
    unsigned value = 0;
    const char* end = digits.data() + digits.size();
    auto [stop, error] = std::from_chars(digits.data(), end, value);
    if (digits.empty() || error != std::errc() || stop != end || value < min || value > max) {
        return std::nullopt;
    }
    return value;
}

std::optional<sockaddr_in> ParseListenAddress(std::string_view text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const std::optional<unsigned> port = ParseCount(text.substr(colon + 1), 0, 65535);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    const std::string host(text.substr(0, colon));
    if (!port || inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) return std::nullopt;
    address.sin_port = htons(static_cast<std::uint16_t>(*port));
    return address;
}

CommandLineExit BadCommandLine(const std::string& why) {
    return CommandLineExit{2, "qr-image-service: " + why + "\nTry 'qr-image-service --help'.\n"};
}

}  // namespace

std::string UsageText(std::string_view defaultListen, unsigned defaultThreads) {
    const auto number = [](auto value) { return std::to_string(value); };
    return "Usage: qr-image-service [OPTION]...\n"
           "Answers GET or HEAD /api.php?text=...&el=...&m=...&w=... with a QR code picture,\n"
           "a 1-bit grey PNG of w x w pixels.\n"
           "  text  the payload, percent-encoded bytes (\"+\" is a plus sign); required\n"
           "  el    error correction l, m, q or h (default l)\n"
           "  m     least white margin in pixels, 0.." +
           number(kMaxMarginPx) + " (default " + number(kDefaultMarginPx) +
           ")\n"
           "  w     width and height in pixels, " +
           number(kMinWidthPx) + ".." + number(kMaxWidthPx) + " (default " + number(kDefaultWidthPx) +
           ")\n\n"
           "  --listen ADDR:PORT     IPv4 address and port (default " +
           std::string(defaultListen) +
           "; port 0 picks a free one)\n"
           "  --threads N            worker threads, 1.." +
           number(kMaxThreads) + " (default " + number(defaultThreads) +
           ")\n"
           "  --max-connections N    open connections at most, 1.." +
           number(kMaxMaxConnections) + " (default " + number(kDefaultMaxConnections) +
           "; fewer if the open-file limit is lower)\n"
           "  --timeout SECONDS      close a connection idle this long, 1.." +
           number(kMaxTimeoutSeconds) + " (default " + number(kDefaultTimeoutSeconds) +
           ")\n"
           "  --head-timeout SECONDS close a connection whose request head takes longer, 1.." +
           number(kMaxHeadTimeoutSeconds) + " (default " + number(kDefaultHeadTimeoutSeconds) +
           ")\n"
           "  --socket PATH          serve the Unix socket PATH (absolute; mode 0600) instead of\n"
           "                         --listen; one service a socket, a stale socket file is replaced\n"
           "  --idle-exit SECONDS    end after this long without a request, 1.." +
           number(kMaxIdleExitSeconds) +
           " (default: never)\n"
           "  --help                 show this text\n"
           "  --version              show the version\n\n"
           "Logs one line a request to stderr, without the query; stops on SIGINT or SIGTERM.\n";
}

std::variant<ServiceOptions, CommandLineExit> ParseServiceOptions(const std::vector<std::string_view>& args,
                                                                  std::string_view defaultListen,
                                                                  unsigned defaultThreads) {
    struct CountOption {
        std::string_view name;
        unsigned min, max;
        unsigned ServiceOptions::*field;
    };
    static constexpr CountOption kCountOptions[] = {
        {"--threads", 1, kMaxThreads, &ServiceOptions::threads},
        {"--max-connections", 1, kMaxMaxConnections, &ServiceOptions::maxConnections},
        {"--timeout", 1, kMaxTimeoutSeconds, &ServiceOptions::timeoutSeconds},
        {"--head-timeout", 1, kMaxHeadTimeoutSeconds, &ServiceOptions::headTimeoutSeconds},
        {"--idle-exit", 1, kMaxIdleExitSeconds, &ServiceOptions::idleExitSeconds},
    };

    // A build configured with a bad default would otherwise have no address
    // to fall back on; say so rather than guess one.
    const std::optional<sockaddr_in> defaultAddress = ParseListenAddress(defaultListen);
    if (!defaultAddress) {
        return CommandLineExit{2, "qr-image-service: the built-in default listen address \"" +
                                      std::string(defaultListen) +
                                      "\" is not IPV4ADDRESS:PORT; fix the build's QRGEN_SERVICE_BASE\n"};
    }
    ServiceOptions options;
    options.listen = *defaultAddress;
    options.threads = defaultThreads;
    bool listenGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string name(args[i]);
        if (name == "--help") return CommandLineExit{0, UsageText(defaultListen, defaultThreads)};
        if (name == "--version") return CommandLineExit{0, "qr-image-service " QRGEN_VERSION "\n"};
        const CountOption* countOption = nullptr;
        for (const CountOption& option : kCountOptions) {
            if (option.name == name) countOption = &option;
        }
        if (name != "--listen" && name != "--socket" && !countOption) return BadCommandLine("unknown argument " + name);
        if (i + 1 == args.size()) return BadCommandLine(name + " needs a value");
        const std::string_view value = args[++i];

        if (countOption) {
            const std::optional<unsigned> count = ParseCount(value, countOption->min, countOption->max);
            if (!count) {
                return BadCommandLine(name + " wants a number from " + std::to_string(countOption->min) + " to " +
                                      std::to_string(countOption->max));
            }
            options.*(countOption->field) = *count;
        } else if (name == "--socket") {
            if (value.empty() || value.front() != '/' || value.size() >= sizeof(sockaddr_un::sun_path)) {
                return BadCommandLine("--socket wants an absolute path shorter than " +
                                      std::to_string(sizeof(sockaddr_un::sun_path)) + " bytes");
            }
            options.socketPath = value;
        } else {
            const std::optional<sockaddr_in> address = ParseListenAddress(value);
            if (!address) return BadCommandLine("--listen wants IPV4ADDRESS:PORT, not " + std::string(value));
            options.listen = *address;
            listenGiven = true;
        }
    }
    if (listenGiven && !options.socketPath.empty()) return BadCommandLine("--listen and --socket exclude each other");
    return options;
}

unsigned FitConnectionLimit(unsigned requested, unsigned threads, unsigned openFiles) {
    constexpr unsigned kOwnFiles = 16;
    const unsigned reserved = kOwnFiles + 2 * threads;
    return std::clamp(openFiles > reserved ? openFiles - reserved : 0u, 1u, std::max(requested, 1u));
}

}  // namespace qrservice
