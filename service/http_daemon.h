// The HTTP side of qr-image-service: libmicrohttpd serving AnswerRequest.
#pragma once

#include "service/service_options.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <variant>

struct MHD_Daemon;

namespace qrservice {

struct ServedRequests;

class HttpDaemon {
public:
    // Binds options.listen, or takes listenFd when it is an already listening
    // socket (closed when serving stops), and starts serving at once on
    // options.threads worker threads; the error text says why when it cannot.
    // Raises the soft open-file limit to the hard one and serves as many
    // connections as it allows, up to options.maxConnections; a connection
    // whose request head is not complete within options.headTimeoutSeconds
    // is closed.
    static std::variant<std::unique_ptr<HttpDaemon>, std::string> Start(const ServiceOptions& options,
                                                                        int listenFd = -1);

    // Stops accepting, closes every connection and joins the worker threads.
    ~HttpDaemon();
    HttpDaemon(const HttpDaemon&) = delete;
    HttpDaemon& operator=(const HttpDaemon&) = delete;

    // The address actually bound, "ADDR:PORT"; the port is the one the system
    // picked when port 0 was asked for. options.socketPath for a given socket.
    std::string boundAddress() const { return bound_; }

    // True when no connection is open and no request came for `quiet`.
    bool idleFor(std::chrono::seconds quiet) const;

private:
    using Clock = std::chrono::steady_clock;
    HttpDaemon(MHD_Daemon* daemon, std::string bound, std::unique_ptr<ServedRequests> served);
    MHD_Daemon* daemon_;
    std::string bound_;
    std::unique_ptr<ServedRequests> served_;  // outlives the daemon, whose callbacks use it
};

}  // namespace qrservice
