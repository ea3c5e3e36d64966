#pragma once

#include "relay/push/push_delivery.h"
#include "relay/relay_limits.h"
#include "relay/relay_routes.h"
#include "relay/store/relay_store.h"
#include "server/http_service.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

/// How the relay pushes notifications to browsers.
struct RelayPushOptions {
    /// The "sub" every push is signed with ("mailto:…" or "https://…"); empty: browsers are not offered
    /// notifications.
    std::string contact;
    PushSender::Options sender;
};

/// The relay's HTTP/1.1 server: one request per connection, every answer closes it. One thread runs
/// every connection, another removes what has expired every `sweepEvery`; TLS belongs to a reverse
/// proxy in front.
class RelayServer {
public:
    static constexpr std::chrono::minutes sweepEvery{10};

    /// Serves what `store` holds, which must outlive it; not listening yet. Sweeps once at once. A request
    /// from one of `trustedProxies` comes from the address its X-Forwarded-For names. With a contact it
    /// pushes, signing with the key the store keeps (made now when it has none). Throws RelayStoreError,
    /// or WebPushError when the kept key is unusable.
    explicit RelayServer(RelayStore& store, RelayConnectionLimits limits = {},
                         std::vector<std::string> trustedProxies = {}, RelayPushOptions push = {});
    /// Stops listening, ends every connection and joins the thread.
    ~RelayServer();
    RelayServer(const RelayServer&) = delete;
    RelayServer& operator=(const RelayServer&) = delete;

    /// Listens on `port` (0: any free port) on every address, IPv6 and IPv4 where the machine has both;
    /// the port bound. Throws std::system_error when it cannot listen.
    std::uint16_t start(std::uint16_t port);

    const RelayConnectionLimits& limits() const { return limits_; }

    /// Answers one complete request from the connection's `peer` under the store's lock; 503 when the
    /// store fails, with nothing of the request kept. Then pushes what the answer asks for. `respond` gets
    /// the answer: at once, or for a send to a phone once each of its browsers' push services answered
    /// (on the push thread). Safe from any thread.
    void handle(const HTTPRequest& request, std::string_view body, std::string_view peer,
                const std::function<void(const RelayResponse&)>& respond);

    /// Connections not yet finished.
    std::size_t connectionCount() const { return service_.connectionCount(); }

private:
    /// Refuses what no relay request needs before reading a byte of the body, then reads it and answers.
    void serve(HttpConnection& connection, const HTTPRequest& request, std::string body);

    /// Under the store's lock.
    void removeExpired();
    /// Takes the store's lock: a push service said `endpoint` is gone.
    void forget(const std::string& endpoint);
    void sweep(std::stop_token stop);

    const RelayConnectionLimits limits_;
    const std::vector<std::string> trustedProxies_;
    std::mutex storeLock_;
    RelayStore& store_;
    /// Null when the relay does not push.
    std::unique_ptr<PushDelivery> delivery_;
    std::condition_variable_any sweepWake_;
    HttpService service_;
    std::jthread sweeper_;
};
