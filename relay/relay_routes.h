#pragma once

#include "core/http.h"
#include "relay/store/relay_store.h"

#include <cstdint>
#include <string>
#include <string_view>

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
};

/// Answers `request`, whose whole body is `body`, changing `store` where the route says so. Throws
/// RelayStoreError when the store fails.
RelayResponse answer(RelayStore& store, const HTTPRequest& request, std::string_view body,
                     const Client& client);

} // namespace RelayRoutes
