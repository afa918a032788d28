// The HTTP side of qr-image-service: libmicrohttpd serving AnswerRequest.
#pragma once

#include "service/service_options.h"

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

struct MHD_Daemon;

namespace qrservice {

class HeadWatch;

class HttpDaemon {
public:
    // Binds and starts serving at once on options.threads worker threads;
    // the error text says why when it cannot. Raises the soft open-file
    // limit to the hard one and serves as many connections as it allows, up
    // to options.maxConnections; a connection whose request head is not
    // complete within options.headTimeoutSeconds is closed.
    static std::variant<std::unique_ptr<HttpDaemon>, std::string> Start(const ServiceOptions& options);

    // Stops accepting, closes every connection and joins the worker threads.
    ~HttpDaemon();
    HttpDaemon(const HttpDaemon&) = delete;
    HttpDaemon& operator=(const HttpDaemon&) = delete;

    // The address actually bound, "ADDR:PORT"; the port is the one the system
    // picked when port 0 was asked for.
    std::string boundAddress() const;

private:
    HttpDaemon(MHD_Daemon* daemon, sockaddr_in bound, std::unique_ptr<HeadWatch> watch);
    MHD_Daemon* daemon_;
    sockaddr_in bound_;
    std::unique_ptr<HeadWatch> watch_;  // outlives the daemon, whose callbacks use it
};

}  // namespace qrservice
