#include "app/local_network.h"

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
        if (!entry.up || !entry.running || entry.loopback || !isCandidateName(entry.interface) ||
            entry.address.empty() || entry.address.starts_with("169.254.")) {
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
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string name;
        std::string destination;
        std::string gateway;
        std::string flags;
        std::string refCount;
        std::string use;
        std::string metric;
        std::string mask;
        if (!(fields >> name >> destination >> gateway >> flags >> refCount >> use >> metric >> mask)) {
            continue;
        }
        if (destination == "00000000" && mask == "00000000") {
            return name;
        }
    }
    return std::nullopt;
}

std::optional<std::string> address() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0 || !list) {
        return std::nullopt;
    }
    const std::unique_ptr<ifaddrs, decltype(&freeifaddrs)> owned(list, &freeifaddrs);
    std::vector<InterfaceAddress> addresses;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        char host[NI_MAXHOST];
        if (getnameinfo(entry->ifa_addr, sizeof(sockaddr_in), host, sizeof host, nullptr, 0,
                        NI_NUMERICHOST) != 0) {
            continue;
        }
        addresses.push_back({entry->ifa_name, host, (entry->ifa_flags & IFF_UP) != 0,
                             (entry->ifa_flags & IFF_RUNNING) != 0, (entry->ifa_flags & IFF_LOOPBACK) != 0});
    }
    std::ifstream routes("/proc/net/route");
    std::stringstream text;
    text << routes.rdbuf();
    return choose(addresses, defaultRouteInterface(text.str()));
}

} // namespace LocalNetwork
