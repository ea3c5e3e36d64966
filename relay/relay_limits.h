#pragma once

#include <chrono>
#include <cstddef>

/// How much the relay keeps, so that no client, signed up or not, can grow its state without limit.
/// Sign-up is open, so every per-Mac bound multiplies by `maxMacs`: at the defaults one Mac holds at
/// most about 250 kB (shares ~60 kB, followers ~60 kB, notifications ~80 kB, waiting items ~40 kB), the
/// whole state at most about 250 MB. A self-hosted relay serves a handful of Macs and stays tiny.
struct RelayLimits {
    /// Signed-up Macs; a sign-up beyond it is refused.
    std::size_t maxMacs = 1000;
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
