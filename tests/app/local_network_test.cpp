// Which address links name: the default route's interface when it is a real, running one, IPv4 only.
#include "app/system/local_network.h"

#include <gtest/gtest.h>

using LocalNetwork::InterfaceAddress;

namespace {

InterfaceAddress up(std::string name, std::string address,
                    InterfaceAddress::Family family = InterfaceAddress::Family::IPv4) {
    return {std::move(name), std::move(address), true, true, false, family};
}

/// /proc/net/route with the given lines under its titles.
std::string routes(const std::string& lines) {
    return "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n" + lines;
}

} // namespace

TEST(LocalNetworkTest, ChoosesTheDefaultRoutesInterfaceElseTheFirstCandidate) {
    const std::vector<InterfaceAddress> unusable{{"lo", "127.0.0.1", true, true, true},
                                                 up("docker0", "172.17.0.1"),
                                                 up("br-1234", "172.18.0.1"),
                                                 up("virbr0", "192.168.122.1"),
                                                 up("veth9", "10.9.9.9"),
                                                 up("tun0", "10.8.0.2"),
                                                 up("wg0", "10.7.0.2"),
                                                 {"eth1", "10.0.0.9", true, false, false},
                                                 {"enp3s0", "10.0.0.8", false, true, false},
                                                 up("wlan0", "169.254.10.10"),
                                                 up("eth0", "2001:db8::5", InterfaceAddress::Family::IPv6)};
    EXPECT_FALSE(LocalNetwork::choose(unusable, std::string("eth0")));

    std::vector<InterfaceAddress> list = unusable;
    for (const auto& usable :
         {up("enp0s31f6", "10.0.0.5"), up("wlp2s0", "2001:db8::7", InterfaceAddress::Family::IPv6),
          up("wlp2s0", "192.168.1.20")}) {
        list.push_back(usable);
    }
    const std::pair<std::optional<std::string>, std::string> cases[] = {{"wlp2s0", "192.168.1.20"},
                                                                        {std::nullopt, "10.0.0.5"},
                                                                        {"docker0", "10.0.0.5"},
                                                                        {"eth1", "10.0.0.5"}};
    for (const auto& [route, chosen] : cases) {
        EXPECT_EQ(LocalNetwork::choose(list, route), chosen) << route.value_or("no default route");
    }
}

TEST(LocalNetworkTest, TheDefaultRouteWithTheLowestMetricWinsAndTheFirstOnATie) {
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {routes("docker0\t000011AC\t00000000\t0001\t0\t0\t0\t0000FFFF\t0\t0\t0\n"
                "wlp2s0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
                "enp0s31f6\t00000000\t0100000A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"),
         "enp0s31f6"},
        {routes("eth1\t00000000\t0100000A\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
                "eth0\t00000000\t0101A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"),
         "eth1"},
        {routes("wlp2s0\t0001A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"), std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, interface] : cases) {
        EXPECT_EQ(LocalNetwork::defaultRouteInterface(text), interface) << text;
    }
}
