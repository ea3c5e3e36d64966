#include "app/system/local_network.h"

#include <arpa/inet.h>
#include <fstream>
#include <ifaddrs.h>
#include <memory>
#include <net/if.h>
#include <netdb.h>
#include <sstream>

namespace LocalNetwork {
namespace {

bool isCandidateName(const std::string& name) {
    // Physical Ethernet and Wi-Fi only: bridges, containers, VPN tunnels and virtual machines' networks
    // are unreachable from a phone on the Wi-Fi.
    return name.starts_with("en") || name.starts_with("eth") || name.starts_with("wl");
}

} // namespace

std::optional<std::string> choose(const std::vector<InterfaceAddress>& addresses,
                                  const std::optional<std::string>& defaultRouteInterface) {
    const InterfaceAddress* first = nullptr;
    for (const auto& entry : addresses) {
        if (entry.family != InterfaceAddress::Family::IPv4 || !entry.up || !entry.running || entry.loopback ||
            !isCandidateName(entry.interface) || entry.address.empty() ||
            entry.address.starts_with("169.254.")) {
            continue;
        }
        if (defaultRouteInterface && entry.interface == *defaultRouteInterface) {
            return entry.address;
        }
        if (!first) {
            first = &entry;
        }
    }
    return first ? std::optional(first->address) : std::nullopt;
}

std::optional<std::string> defaultRouteInterface(const std::string& procNetRoute) {
    std::istringstream lines(procNetRoute);
    std::string line;
    std::getline(lines, line); // column titles
    std::optional<std::string> best;
    unsigned long bestMetric = 0;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string name;
        std::string destination;
        std::string gateway;
        std::string flags;
        std::string refCount;
        std::string use;
        unsigned long metric = 0;
        std::string mask;
        if (!(fields >> name >> destination >> gateway >> flags >> refCount >> use >> metric >> mask)) {
            continue;
        }
        // With Wi-Fi and Ethernet both connected there is one default route each; the kernel sends
        // through the one with the lowest metric, so phones should get that interface's address.
        if (destination == "00000000" && mask == "00000000" && (!best || metric < bestMetric)) {
            best = name;
            bestMetric = metric;
        }
    }
    return best;
}

std::optional<std::string> address() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0 || !list) {
        return std::nullopt;
    }
    const std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> owned(list, &freeifaddrs);
    std::vector<InterfaceAddress> addresses;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr ||
            (entry->ifa_addr->sa_family != AF_INET && entry->ifa_addr->sa_family != AF_INET6)) {
            continue;
        }
        const bool ipv4 = entry->ifa_addr->sa_family == AF_INET;
        char host[NI_MAXHOST];
        if (getnameinfo(entry->ifa_addr, ipv4 ? sizeof(sockaddr_in) : sizeof(sockaddr_in6), host, sizeof host,
                        nullptr, 0, NI_NUMERICHOST) != 0) {
            continue;
        }
        addresses.push_back({entry->ifa_name, host, (entry->ifa_flags & IFF_UP) != 0,
                             (entry->ifa_flags & IFF_RUNNING) != 0, (entry->ifa_flags & IFF_LOOPBACK) != 0,
                             ipv4 ? InterfaceAddress::Family::IPv4 : InterfaceAddress::Family::IPv6});
    }
    // /proc/net follows the process's first thread; thread-self matches getifaddrs, which asks the
    // namespace of the calling thread.
    std::ifstream routes("/proc/thread-self/net/route");
    if (!routes) {
        routes.open("/proc/net/route");
    }
    std::stringstream text;
    text << routes.rdbuf();
    return choose(addresses, defaultRouteInterface(text.str()));
}

} // namespace LocalNetwork
