#pragma once

#include "core/http.h"
#include "relay/relay_state.h"

#include <cstdint>
#include <string>
#include <string_view>

/// One complete answer of the relay.
using RelayResponse = HTTPResponse;

/// Which route answers which request. A pure function of the state, the request and its body (besides
/// the fresh random ids it hands out), so every route is testable without sockets.
namespace RelayRoutes {

/// The visitor cookie that counts one follower per browser.
inline constexpr std::string_view visitorCookie = "tesk_visitor";

/// Answers `request`, whose whole body is `body`, changing `state` where the route says so. `now` is
/// the time in Unix seconds.
RelayResponse answer(RelayState& state, const HTTPRequest& request, std::string_view body, std::int64_t now);

} // namespace RelayRoutes
