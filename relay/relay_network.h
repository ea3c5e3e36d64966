#pragma once

#include "core/http.h"
#include "relay/store/relay_records.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

/// Where a request comes from, and whether a phone is on the network its Mac checks in from. The relay
/// decides this itself: a page served over HTTPS may not ask the Mac's plain-HTTP address.
namespace RelayNetwork {

/// A Mac that has not checked in for longer is taken to be asleep or gone, wherever it was.
inline constexpr std::chrono::minutes awakeWithin{5};
/// A Mac reaching the relay over both IPv4 and IPv6 shows both networks only while its check-ins over
/// each are this close to its last one; an older one may be a network it has left.
inline constexpr std::chrono::minutes sightingsApart{10};

/// The address `peer` (the connection's) speaks for: itself, or when it is one of `trustedProxies`,
/// the last address in X-Forwarded-For that is not one of them. An IPv4-mapped IPv6 address is
/// written as IPv4; anything not an address is "".
std::string clientAddress(std::string_view peer, const HTTPRequest& request,
                          const std::vector<std::string>& trustedProxies);

/// The network `address` places its client on: an IPv4 address as it is (one household or office
/// behind one public address), an IPv6 address's /64 as "<prefix>::/64"; "" for anything else.
std::string networkOf(std::string_view address);

/// Whether a client at `address` is on the network `mac` checks in from, at `now`.
bool sameNetwork(const RelayMac& mac, std::string_view address, std::int64_t now);

} // namespace RelayNetwork
