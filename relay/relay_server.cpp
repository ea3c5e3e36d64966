#include "relay/relay_server.h"

#include "relay/relay_network.h"

#include <asio/post.hpp>

#include <chrono>
#include <iostream>
#include <optional>
#include <system_error>

namespace {

ServiceLimits serviceLimits(const RelayConnectionLimits& limits) {
    return {
        {limits.headDeadline, limits.bodyDeadline, limits.bodyDeadline, limits.writeDeadline, limits.linger},
        limits.maxConnections,
        false};
}

std::int64_t unixNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

RelayServer::RelayServer(RelayStore& store, RelayConnectionLimits limits,
                         std::vector<std::string> trustedProxies, RelayPushOptions push)
    : limits_(limits)
    , trustedProxies_(std::move(trustedProxies))
    , store_(store)
    , service_(serviceLimits(limits), 1,
               [this](HttpConnection& connection, const HTTPRequest& request, std::string body) {
                   serve(connection, request, std::move(body));
               })
    , sweeper_([this](std::stop_token stop) { sweep(stop); }) {
    std::lock_guard guard(storeLock_);
    removeExpired();
    if (!push.contact.empty()) {
        auto key = VapidKey::fromPem(store_.pushKey([] { return VapidKey::generate().pem(); }));
        delivery_ = std::make_unique<PushDelivery>(std::move(key), push.contact, push.sender,
                                                   [this](const std::string& endpoint) { forget(endpoint); });
    }
}

RelayServer::~RelayServer() {
    sweeper_.request_stop();
    sweeper_.join();
    // No request is handled after this, so none reaches the pushes; then the pushes stop, while the
    // connections' executor they post answers to is still there.
    service_.shutdown();
    delivery_.reset();
}

void RelayServer::removeExpired() {
    try {
        store_.removeExpired(unixNow());
    } catch (const std::exception& error) {
        std::cerr << "tesk-relay: could not remove what has expired: " << error.what() << std::endl;
    }
}

void RelayServer::sweep(std::stop_token stop) {
    std::unique_lock guard(storeLock_);
    // The constructor swept once already, before anything else could use the store.
    while (!sweepWake_.wait_for(guard, stop, sweepEvery, [] { return false; }) && !stop.stop_requested()) {
        removeExpired();
    }
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
            handle(request, *whole, self->peer(), [self](const RelayResponse& response) {
                asio::post(self->executor(), [self, response] { self->respond(response); });
            });
        });
}

void RelayServer::forget(const std::string& endpoint) {
    std::lock_guard guard(storeLock_);
    try {
        store_.unsubscribe(endpoint);
    } catch (const std::exception& error) {
        // Kept for now: the next push to it is refused again and tries again.
        std::cerr << "tesk-relay: could not forget a subscription: " << error.what() << std::endl;
    }
}

void RelayServer::handle(const HTTPRequest& request, std::string_view body, std::string_view peer,
                         const std::function<void(const RelayResponse&)>& respond) {
    const RelayRoutes::Client client{RelayNetwork::clientAddress(peer, request, trustedProxies_), unixNow(),
                                     delivery_ ? delivery_->publicKey() : std::string()};
    std::optional<RelayRoutes::Answer> answered;
    {
        std::lock_guard guard(storeLock_);
        try {
            answered.emplace(RelayRoutes::answer(store_, request, body, client));
        } catch (const std::exception& error) {
            // Rolled back: the client must not believe the change is kept. Besides the store failing, a Mac
            // removed by another relay between two steps of this request ends here; asking again answers.
            std::cerr << "tesk-relay: " << error.what() << std::endl;
            respond(HTTPResponse::json(503, R"({"error":"storage"})"));
            return;
        }
    }
    // Out of the store's lock: a subscription found unusable at once is forgotten under it.
    if (!answered->push || !delivery_) {
        respond(answered->response);
        return;
    }
    auto& push = *answered->push;
    if (!push.reportSent) {
        respond(answered->response);
        delivery_->deliver(std::move(push.to), std::move(push.message), [](std::size_t) {});
        return;
    }
    delivery_->deliver(std::move(push.to), std::move(push.message), [respond](std::size_t accepted) {
        respond(HTTPResponse::json(200, R"({"sent":)" + std::to_string(accepted) + "}"));
    });
}
