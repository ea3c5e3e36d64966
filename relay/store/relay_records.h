#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

/// One share a Mac reports: its token and the title its followers see.
struct RelayShare {
    std::string token;
    std::string title;

    friend bool operator==(const RelayShare&, const RelayShare&) = default;
};

/// What a Mac says when it checks in: its name, where phones on its Wi-Fi reach it, its shares, and the
/// SHA-256 (hex) of every paired phone's device token.
struct RelayPresence {
    std::string name;
    /// Base addresses such as "http://192.168.1.20:47470", most preferred first, without a final "/".
    std::vector<std::string> lan;
    std::vector<RelayShare> shares;
    std::string ssid;
    std::vector<std::string> devices;

    friend bool operator==(const RelayPresence&, const RelayPresence&) = default;
};

/// Something new in a share, kept for its followers.
struct RelayNotification {
    std::string token;
    std::string title;
    std::string body;
    std::int64_t at = 0;

    friend bool operator==(const RelayNotification&, const RelayNotification&) = default;
};

/// A share sent to one phone, waiting until the phone collects it.
struct RelayPendingItem {
    std::string token;
    std::string title;
    std::int64_t at = 0;

    friend bool operator==(const RelayPendingItem&, const RelayPendingItem&) = default;
};

/// A share waiting for one phone, as its launcher lists it.
struct RelayWaitingItem {
    /// A random reference that opening the item names, so that whoever has the share's link cannot
    /// guess and clear what waits for a phone.
    std::string ref;
    std::string token;
    std::string title;
    std::int64_t at = 0;

    friend bool operator==(const RelayWaitingItem&, const RelayWaitingItem&) = default;
};

/// A browser's Web Push subscription: where its push service takes messages for it, and the keys its
/// messages are encrypted to (base64url, as the browser gives them).
struct RelaySubscription {
    std::string endpoint;
    std::string p256dh;
    std::string auth;

    friend bool operator==(const RelaySubscription&, const RelaySubscription&) = default;
};

/// The network a Mac checked in from (an IPv4 address, or an IPv6 /64) and when.
struct RelaySighting {
    std::string network;
    /// Unix seconds; 0 before such a check-in.
    std::int64_t at = 0;

    friend bool operator==(const RelaySighting&, const RelaySighting&) = default;
};

/// One signed-up Mac as requests see it: its credential, its last presence and where it checked in from.
struct RelayMac {
    /// SHA-256 (hex) of the secret; the secret itself is never stored.
    std::string secretHash;
    /// Unix seconds.
    std::int64_t createdAt = 0;
    /// Unix seconds of the last check-in; 0 before the first.
    std::int64_t lastCheckIn = 0;
    RelayPresence presence;
    /// Its last check-ins over IPv4 and over IPv6.
    RelaySighting seenIPv4;
    RelaySighting seenIPv6;

    /// The share with `token` in the last presence.
    const RelayShare* share(std::string_view token) const {
        const auto found = std::find_if(presence.shares.begin(), presence.shares.end(),
                                        [&](const RelayShare& share) { return share.token == token; });
        return found == presence.shares.end() ? nullptr : &*found;
    }
    /// Whether `hash` is among the phones of the last presence.
    bool knowsDevice(std::string_view hash) const {
        return std::find(presence.devices.begin(), presence.devices.end(), hash) != presence.devices.end();
    }

    friend bool operator==(const RelayMac&, const RelayMac&) = default;
};

/// A Mac with everything the relay holds for it, as a state file of the earlier layout kept it.
struct RelayMacRecord {
    RelayMac mac;
    /// Visitor ids by share token.
    std::map<std::string, std::set<std::string>> followers;
    /// Oldest first.
    std::vector<RelayNotification> notifications;
    /// By device hash, oldest first.
    std::map<std::string, std::vector<RelayPendingItem>> pending;
};
