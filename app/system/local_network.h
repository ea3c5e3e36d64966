#pragma once

#include <optional>
#include <string>
#include <vector>

/// The computer's numeric IPv4 address on the local network, the start of every link phones get.
namespace LocalNetwork {

/// One address of one interface, as the system lists them.
struct InterfaceAddress {
    enum class Family { IPv4, IPv6 };

    std::string interface;
    /// Numeric text: dotted decimal for IPv4.
    std::string address;
    bool up = false;
    bool running = false;
    bool loopback = false;
    Family family = Family::IPv4;
};

/// Picks the address phones can reach: an IPv4 address of an up, running, non-loopback Ethernet or Wi-Fi
/// interface ("en*", "eth*", "wl*"), never a self-assigned 169.254.x.x; the interface carrying the
/// default route first, else the first in list order.
std::optional<std::string> choose(const std::vector<InterfaceAddress>& addresses,
                                  const std::optional<std::string>& defaultRouteInterface);

/// The interface of the default IPv4 route with the lowest metric (the first of equals), read from
/// /proc/net/route text.
std::optional<std::string> defaultRouteInterface(const std::string& procNetRoute);

/// The address to use now, or nothing when the computer is on no network. Reads the network namespace
/// of the calling thread.
std::optional<std::string> address();

} // namespace LocalNetwork
