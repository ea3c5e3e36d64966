#include "relay/relay_network.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>

namespace {

/// `address` in its canonical spelling, an IPv4-mapped IPv6 address as IPv4; "" for anything else.
std::string canonical(std::string_view address) {
    const std::string text(address);
    in_addr v4{};
    in6_addr v6{};
    char written[INET6_ADDRSTRLEN] = {};
    if (inet_pton(AF_INET, text.c_str(), &v4) == 1) {
        return inet_ntop(AF_INET, &v4, written, sizeof written);
    }
    if (inet_pton(AF_INET6, text.c_str(), &v6) != 1) {
        return {};
    }
    if (IN6_IS_ADDR_V4MAPPED(&v6)) {
        return inet_ntop(AF_INET, &v6.s6_addr[12], written, sizeof written);
    }
    return inet_ntop(AF_INET6, &v6, written, sizeof written);
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

} // namespace

namespace RelayNetwork {

std::string clientAddress(std::string_view peer, const HTTPRequest& request,
                          const std::vector<std::string>& trustedProxies) {
    std::string client = canonical(peer);
    const auto trusted = [&](const std::string& address) {
        return std::any_of(trustedProxies.begin(), trustedProxies.end(),
                           [&](const std::string& proxy) { return canonical(proxy) == address; });
    };
    const auto forwarded = request.headers.find("x-forwarded-for");
    if (forwarded == request.headers.end()) {
        return client;
    }
    // Each proxy appends the address it heard from: read from the right, through the trusted ones.
    std::string_view rest = forwarded->second;
    while (!client.empty() && trusted(client) && !rest.empty()) {
        const auto comma = rest.rfind(',');
        client = canonical(trimmed(rest.substr(comma == std::string_view::npos ? 0 : comma + 1)));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(0, comma);
    }
    return client;
}

std::string networkOf(std::string_view address) {
    const std::string written = canonical(address);
    in6_addr v6{};
    if (written.find(':') == std::string::npos || inet_pton(AF_INET6, written.c_str(), &v6) != 1) {
        return written;
    }
    std::memset(&v6.s6_addr[8], 0, 8);
    char prefix[INET6_ADDRSTRLEN] = {};
    return std::string(inet_ntop(AF_INET6, &v6, prefix, sizeof prefix)) + "/64";
}

bool sameNetwork(const RelayMac& mac, std::string_view address, std::int64_t now) {
    const std::string network = networkOf(address);
    const std::int64_t last = mac.lastCheckIn;
    if (network.empty() || last < now - std::chrono::seconds(awakeWithin).count()) {
        return false;
    }
    const RelaySighting& seen = network.ends_with("/64") ? mac.seenIPv6 : mac.seenIPv4;
    return seen.network == network && seen.at >= last - std::chrono::seconds(sightingsApart).count();
}

} // namespace RelayNetwork
