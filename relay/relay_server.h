#pragma once

#include "relay/relay_limits.h"
#include "relay/relay_routes.h"
#include "relay/relay_state.h"
#include "server/http_service.h"

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string_view>

/// The relay's HTTP/1.1 server: one request per connection, every answer closes it. One thread runs
/// every connection; TLS belongs to a reverse proxy in front.
class RelayServer {
public:
    /// Serves `state`, writing it to `stateFile` after every change; not listening yet.
    RelayServer(RelayState state, std::filesystem::path stateFile, RelayConnectionLimits limits = {});
    /// Stops listening, ends every connection and joins the thread.
    ~RelayServer();
    RelayServer(const RelayServer&) = delete;
    RelayServer& operator=(const RelayServer&) = delete;

    /// Listens on `port` (0: any free port) on every address, IPv6 and IPv4 where the machine has both;
    /// the port bound. Throws std::system_error when it cannot listen.
    std::uint16_t start(std::uint16_t port);

    const RelayConnectionLimits& limits() const { return limits_; }

    /// Answers one complete request under the state's lock, saving the state when the answer changed
    /// it. Safe from any thread.
    RelayResponse handle(const HTTPRequest& request, std::string_view body);

    /// Connections not yet finished.
    std::size_t connectionCount() const { return service_.connectionCount(); }

private:
    /// Refuses what no relay request needs before reading a byte of the body, then reads it and answers.
    void serve(HttpConnection& connection, const HTTPRequest& request, std::string body);

    const RelayConnectionLimits limits_;
    const std::filesystem::path stateFile_;
    std::mutex stateLock_;
    RelayState state_;
    HttpService service_;
};
