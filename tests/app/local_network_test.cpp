// Which address links name: the default route's interface when it is a real, running one, IPv4 only.
#include "app/system/local_network.h"

#include <gtest/gtest.h>

using LocalNetwork::InterfaceAddress;
using Family = InterfaceAddress::Family;

TEST(LocalNetworkTest, ChoosesTheDefaultRoutesInterfaceElseTheFirstCandidateAndTheLowestMetricRouteWins) {
    const auto up = [](std::string name, std::string address, Family family = Family::IPv4) {
        return InterfaceAddress{std::move(name), std::move(address), true, true, false, family};
    };
    std::vector<InterfaceAddress> list{{"lo", "127.0.0.1", true, true, true},
                                       {"eth1", "10.0.0.9", true, false},
                                       {"enp3s0", "10.0.0.8", false, true},
                                       up("wlan0", "169.254.10.10")};
    for (const char* virtualLink : {"docker0", "br-1234", "virbr0", "veth9", "tun0", "wg0"}) {
        list.push_back(up(virtualLink, "172.17.0.1"));
    }
    EXPECT_FALSE(LocalNetwork::choose(list, std::string("eth1")));
    list.insert(list.end(), {up("enp0s31f6", "10.0.0.5"), up("wlp2s0", "2001:db8::7", Family::IPv6),
                             up("wlp2s0", "192.168.1.20")});
    EXPECT_EQ(LocalNetwork::choose(list, std::string("wlp2s0")), "192.168.1.20");
    // No default route, or one through an interface links cannot use: the first candidate.
    for (const auto& route : {std::optional<std::string>(), std::optional<std::string>("docker0"),
                              std::optional<std::string>("eth1")}) {
        EXPECT_EQ(LocalNetwork::choose(list, route), "10.0.0.5") << route.value_or("no default route");
    }
    // /proc/net/route, cut after the mask: the columns read.
    const std::string titles = "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\n";
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"wlp2s0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\n"
         "enp0s31f6\t00000000\t0100000A\t0003\t0\t0\t100\t00000000\n",
         "enp0s31f6"},
        {"eth1\t00000000\t0100000A\t0003\t0\t0\t0\t00000000\n"
         "eth0\t00000000\t0101A8C0\t0003\t0\t0\t0\t00000000\n",
         "eth1"},
        {"wlp2s0\t0001A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\n", std::nullopt},
    };
    for (const auto& [lines, interface] : cases) {
        EXPECT_EQ(LocalNetwork::defaultRouteInterface(titles + lines), interface) << lines;
    }
}
