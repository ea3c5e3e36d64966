#pragma once

#include "core/http.h"
#include "relay/push/push_message.h"
#include "relay/store/relay_store.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

/// One complete answer of the relay.
using RelayResponse = HTTPResponse;

/// Which route answers which request. A function of the store, the request and its body (besides the
/// fresh random ids it hands out), so every route is testable without sockets.
namespace RelayRoutes {

/// The visitor cookie that counts one follower per browser.
inline constexpr std::string_view visitorCookie = "tesk_visitor";

/// Who asks, and when.
struct Client {
    /// The address the request came from: IPv4 dotted, or an IPv6 literal.
    std::string address;
    /// Unix seconds.
    std::int64_t now = 0;
    /// The key browsers subscribe to notifications with (base64url); empty when the relay pushes none.
    std::string pushKey = {};
};

/// Notifications an answer asks for once its change is kept.
struct Push {
    std::vector<RelaySubscription> to;
    PushMessage message;
    /// The answer waits for the push services' first answers and reports how many took the message,
    /// as {"sent": N}.
    bool reportSent = false;
};

struct Answer {
    Answer(RelayResponse response, std::optional<Push> push = std::nullopt)
        : response(std::move(response))
        , push(std::move(push)) {}

    RelayResponse response;
    std::optional<Push> push;
};

/// Answers `request`, whose whole body is `body`, changing `store` where the route says so. Throws
/// RelayStoreError when the store fails.
Answer answer(RelayStore& store, const HTTPRequest& request, std::string_view body, const Client& client);

} // namespace RelayRoutes
