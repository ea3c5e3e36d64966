#pragma once

#include <optional>
#include <string>
#include <vector>

/// The computer's numeric IPv4 address on the local network, the start of every link phones get.
namespace LocalNetwork {

/// One IPv4 address of one interface, as the system lists them.
struct InterfaceAddress {
    std::string interface;
    /// Dotted decimal.
    std::string address;
    bool up = false;
    bool running = false;
    bool loopback = false;
};

/// Picks the address phones can reach: an up, running, non-loopback Ethernet or Wi-Fi interface
/// ("en*", "eth*", "wl*"), never a self-assigned 169.254.x.x; the interface carrying the default route
/// first, else the first in list order.
std::optional<std::string> choose(const std::vector<InterfaceAddress>& addresses,
                                  const std::optional<std::string>& defaultRouteInterface);

/// The interface of the default IPv4 route, read from /proc/net/route text.
std::optional<std::string> defaultRouteInterface(const std::string& procNetRoute);

/// The address to use now, or nothing when the computer is on no network.
std::optional<std::string> address();

} // namespace LocalNetwork
