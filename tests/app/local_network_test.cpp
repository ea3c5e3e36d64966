#include "app/system/local_network.h"

#include <gtest/gtest.h>

using LocalNetwork::InterfaceAddress;

namespace {

InterfaceAddress up(std::string name, std::string address) {
    return {std::move(name), std::move(address), true, true, false};
}

InterfaceAddress upIPv6(std::string name, std::string address) {
    return {std::move(name), std::move(address), true, true, false, InterfaceAddress::Family::IPv6};
}

const std::string routeTitles =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

} // namespace

TEST(LocalNetworkTest, SkipsLoopbackVirtualDownAndSelfAssignedInterfaces) {
    const std::vector<InterfaceAddress> list{
        {"lo", "127.0.0.1", true, true, true},
        up("docker0", "172.17.0.1"),
        up("br-1234", "172.18.0.1"),
        up("virbr0", "192.168.122.1"),
        up("veth9", "10.9.9.9"),
        up("tun0", "10.8.0.2"),
        up("wg0", "10.7.0.2"),
        {"eth1", "10.0.0.9", true, false, false},   // not running
        {"enp3s0", "10.0.0.8", false, true, false}, // down
        up("wlan0", "169.254.10.10"),
    };
    EXPECT_FALSE(LocalNetwork::choose(list, std::nullopt));
}

TEST(LocalNetworkTest, PrefersTheDefaultRouteInterfaceElseTheFirstCandidate) {
    const std::vector<InterfaceAddress> list{up("docker0", "172.17.0.1"), up("enp0s31f6", "10.0.0.5"),
                                             up("wlp2s0", "192.168.1.20"), up("eth0", "10.1.1.1")};
    EXPECT_EQ(LocalNetwork::choose(list, std::string("wlp2s0")), "192.168.1.20");
    EXPECT_EQ(LocalNetwork::choose(list, std::nullopt), "10.0.0.5");
    // A default route through a virtual interface does not make it a candidate.
    EXPECT_EQ(LocalNetwork::choose(list, std::string("docker0")), "10.0.0.5");
    // Nor does one through an interface that is not up and running.
    const std::vector<InterfaceAddress> wifiNotRunning{up("enp0s31f6", "10.0.0.5"),
                                                       {"wlp2s0", "192.168.1.20", true, false, false}};
    EXPECT_EQ(LocalNetwork::choose(wifiNotRunning, std::string("wlp2s0")), "10.0.0.5");
}

TEST(LocalNetworkTest, OnlyIPv4AddressesAreChosen) {
    // A network that hands out only IPv6 addresses gives no link a phone could type.
    const std::vector<InterfaceAddress> ipv6Only{upIPv6("wlp2s0", "fe80::1c2b:3aff:fe4d:5e6f"),
                                                 upIPv6("eth0", "2001:db8::5")};
    EXPECT_FALSE(LocalNetwork::choose(ipv6Only, std::string("wlp2s0")));
    // An IPv6 address listed first on the default route's interface does not hide its IPv4 one.
    const std::vector<InterfaceAddress> mixed{up("eth0", "10.1.1.1"), upIPv6("wlp2s0", "2001:db8::7"),
                                              up("wlp2s0", "192.168.1.20")};
    EXPECT_EQ(LocalNetwork::choose(mixed, std::string("wlp2s0")), "192.168.1.20");
}

TEST(LocalNetworkTest, ReadsTheDefaultRouteInterface) {
    const std::string routes = routeTitles +
                               "docker0\t000011AC\t00000000\t0001\t0\t0\t0\t0000FFFF\t0\t0\t0\n"
                               "wlp2s0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
                               "wlp2s0\t0001A8C0\t00000000\t0001\t0\t0\t600\t00FFFFFF\t0\t0\t0\n";
    EXPECT_EQ(LocalNetwork::defaultRouteInterface(routes), "wlp2s0");
    EXPECT_FALSE(LocalNetwork::defaultRouteInterface("Iface\tDestination\n"));
    EXPECT_FALSE(LocalNetwork::defaultRouteInterface(""));
}

TEST(LocalNetworkTest, WithSeveralDefaultRoutesTheLowestMetricWins) {
    // Ethernet (100) and Wi-Fi (600) both connected, as NetworkManager sets them up.
    const std::string both = routeTitles +
                             "wlp2s0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
                             "enp0s31f6\t00000000\t0100000A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
                             "wlp2s0\t0001A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n";
    EXPECT_EQ(LocalNetwork::defaultRouteInterface(both), "enp0s31f6");
    // Equal metrics: the first listed, as the kernel keeps it first.
    const std::string equal = routeTitles + "eth1\t00000000\t0100000A\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
                                            "eth0\t00000000\t0101A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";
    EXPECT_EQ(LocalNetwork::defaultRouteInterface(equal), "eth1");
}
