#include "relay/relay_server.h"

#include "relay/relay_state_file.h"

#include <chrono>
#include <iostream>
#include <system_error>

namespace {

ServiceLimits serviceLimits(const RelayConnectionLimits& limits) {
    return {
        {limits.headDeadline, limits.bodyDeadline, limits.bodyDeadline, limits.writeDeadline, limits.linger},
        limits.maxConnections,
        false};
}

} // namespace

RelayServer::RelayServer(RelayState state, std::filesystem::path stateFile, RelayConnectionLimits limits)
    : limits_(limits)
    , stateFile_(std::move(stateFile))
    , state_(std::move(state))
    , service_(serviceLimits(limits), 1,
               [this](HttpConnection& connection, const HTTPRequest& request, std::string body) {
                   serve(connection, request, std::move(body));
               }) {}

RelayServer::~RelayServer() {
    service_.shutdown();
}

std::uint16_t RelayServer::start(std::uint16_t port) {
    std::error_code error;
    if (const auto bound = service_.listen(port, error)) {
        return *bound;
    }
    throw std::system_error(error, "listen on port " + std::to_string(port));
}

void RelayServer::serve(HttpConnection& connection, const HTTPRequest& request, std::string body) {
    const auto length = request.contentLength();
    // Every relay request is small and sent whole; chunked bodies are not worth their parser here.
    if (request.headers.contains("transfer-encoding")) {
        connection.respond(HTTPResponse::text(411, "Length required"));
        return;
    }
    if (request.headers.contains("content-length") && (!length || *length < 0)) {
        connection.respond(HTTPResponse::text(400, "Bad request"));
        return;
    }
    const auto announced = static_cast<std::uint64_t>(length.value_or(0));
    if (announced > limits_.maxBodyBytes) {
        connection.respond(HTTPResponse::text(413, "Too large"));
        return;
    }
    connection.readBody(
        static_cast<std::size_t>(announced), std::move(body),
        [this, self = connection.shared_from_this(), request](std::optional<std::string> whole) {
            if (!whole) {
                self->close(); // cut short: nothing to answer
                return;
            }
            self->respond(handle(request, *whole));
        });
}

RelayResponse RelayServer::handle(const HTTPRequest& request, std::string_view body) {
    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    std::lock_guard guard(stateLock_);
    const std::uint64_t before = state_.revision();
    RelayResponse response = RelayRoutes::answer(state_, request, body, now);
    if (state_.revision() != before) {
        try {
            RelayStateFile::save(stateFile_, state_);
        } catch (const std::exception& error) {
            // The change stays in memory and goes out with the next save that works; the client must
            // not believe it is safe on disk now.
            std::cerr << "tesk-relay: could not save " << stateFile_.string() << ": " << error.what()
                      << std::endl;
            return HTTPResponse::json(503, R"({"error":"storage"})");
        }
    }
    return response;
}
