#pragma once

#include <chrono>
#include <cstddef>

/// How much the relay keeps, so that no client, signed up or not, can grow its state without limit.
/// Sign-up is open: what bounds the number of Macs is what a sign-up costs (a source address gets
/// `signUpsPerHour` of them) and that a Mac silent for `forgetMacAfter` is removed. At the per-Mac
/// defaults one Mac holds at most about 250 kB (shares ~60 kB, followers ~60 kB, notifications ~80 kB,
/// waiting items ~40 kB); a typical one, with a few shares and a phone, under 2 kB.
struct RelayLimits {
    /// Sign-ups from one IPv4 address, or one IPv6 /64, per clock hour; 0 for no bound (a load test, or
    /// a private relay behind a proxy where every sign-up seems to come from one address).
    std::size_t signUpsPerHour = 20;
    /// Notifications and waiting items older than these are removed, read or not.
    std::chrono::seconds keepNotifications{std::chrono::days(7)};
    std::chrono::seconds keepPending{std::chrono::days(7)};
    /// A Mac that has not checked in for this long is removed with everything held for it; its
    /// computer signs up again at its next check-in.
    std::chrono::seconds forgetMacAfter{std::chrono::days(90)};
    /// Shares, phones and LAN addresses one presence may report; the rest are ignored.
    std::size_t maxSharesPerMac = 200;
    std::size_t maxDevicesPerMac = 50;
    std::size_t maxAddressesPerMac = 8;
    /// Followers of one share, and of all shares of one Mac together.
    std::size_t maxFollowersPerShare = 1000;
    std::size_t maxFollowersPerMac = 2000;
    /// Notifications kept per share and per Mac; the oldest go first.
    std::size_t maxNotificationsPerShare = 50;
    std::size_t maxNotificationsPerMac = 100;
    /// Items waiting for one phone, and for all phones of one Mac together; the oldest go first.
    std::size_t maxPendingPerDevice = 20;
    std::size_t maxPendingPerMac = 100;
    /// Browsers one phone takes notifications in; the oldest go first. A follower has one.
    std::size_t maxSubscriptionsPerDevice = 5;
    /// Names, titles and network names are cut to this many bytes; a notification's text to the next.
    std::size_t maxTextBytes = 200;
    std::size_t maxBodyTextBytes = 500;
    /// Longer share tokens and LAN addresses make a presence malformed.
    std::size_t maxTokenBytes = 64;
    std::size_t maxAddressBytes = 200;
};

/// Bounds on connections, so idle or slow clients cannot tie the relay up.
struct RelayConnectionLimits {
    /// A connection must deliver its head by then, and its body within `bodyDeadline` after that.
    std::chrono::milliseconds headDeadline{std::chrono::seconds(10)};
    std::chrono::milliseconds bodyDeadline{std::chrono::seconds(20)};
    /// Writing the answer.
    std::chrono::milliseconds writeDeadline{std::chrono::seconds(20)};
    /// After the answer, how long request bytes still arriving are read and dropped, so the client sees
    /// the answer instead of a reset.
    std::chrono::milliseconds linger{std::chrono::seconds(2)};
    /// Every relay request is small; a larger Content-Length is refused with 413 unread.
    std::size_t maxBodyBytes = 1 << 20;
    /// Open connections at most; a newcomer beyond it is closed at once.
    std::size_t maxConnections = 256;
};
