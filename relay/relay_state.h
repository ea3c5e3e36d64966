#pragma once

#include "relay/relay_limits.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
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

/// One signed-up Mac: its credential, its last presence and what the relay holds for it.
struct RelayMac {
    /// SHA-256 (hex) of the secret; the secret itself is never stored.
    std::string secretHash;
    /// Unix seconds.
    std::int64_t createdAt = 0;
    /// Unix seconds of the last check-in; 0 before the first.
    std::int64_t lastCheckIn = 0;
    RelayPresence presence;
    /// Visitor ids by share token. Kept when a share drops out of a presence (it may come back) until
    /// room is needed.
    std::map<std::string, std::set<std::string>, std::less<>> followers;
    /// Oldest first.
    std::deque<RelayNotification> notifications;
    /// By device hash, oldest first.
    std::map<std::string, std::deque<RelayPendingItem>, std::less<>> pending;

    /// The share with `token` in the last presence.
    const RelayShare* share(std::string_view token) const;
    /// Whether `hash` is among the phones of the last presence.
    bool knowsDevice(std::string_view hash) const;
    std::size_t followerCount(std::string_view token) const;
};

/// A state file that cannot be read or decoded.
class RelayStateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Everything the relay knows, in memory: pure data and the rules that keep it within `RelayLimits`.
/// Not thread-safe; the server serialises access. Every change advances `revision`, so the caller knows
/// when to save.
class RelayState {
public:
    /// What a new Mac gets once, at sign-up.
    struct Credentials {
        std::string macId;
        std::string secret;
    };

    enum class FollowResult {
        followed,
        alreadyFollowing,
        /// The share is not in the Mac's last presence.
        unknownShare,
        /// The share or the Mac has as many followers as it may keep.
        full,
    };

    explicit RelayState(RelayLimits limits = {})
        : limits_(limits) {}

    /// Decodes what `toJSON` wrote. Throws RelayStateError when `text` is not such a document.
    static RelayState fromJSON(std::string_view text, RelayLimits limits = {});
    /// The whole state as compact JSON.
    std::string toJSON() const;

    std::uint64_t revision() const { return revision_; }
    const RelayLimits& limits() const { return limits_; }
    std::size_t macCount() const { return macs_.size(); }

    /// A new Mac with a fresh id and secret; nothing when `maxMacs` are signed up.
    std::optional<Credentials> signUp(std::string_view name, std::int64_t now);
    const RelayMac* mac(std::string_view id) const;
    /// The Mac `id` when `secret` is its secret.
    const RelayMac* authenticated(std::string_view id, std::string_view secret) const;

    /// Replaces the presence of Mac `id` (cut to the limits; duplicates dropped) and answers each kept
    /// share's follower count, in the order reported. Throws std::out_of_range for an unknown id.
    std::vector<std::pair<std::string, std::size_t>> checkIn(std::string_view id, RelayPresence presence,
                                                             std::int64_t now);
    FollowResult follow(std::string_view id, std::string_view token, std::string_view visitor);
    /// Keeps `notification` for the followers of its share; false (nothing kept) when it has none.
    bool notify(std::string_view id, RelayNotification notification);
    /// Keeps `item` for the phone with hash `device`; false when the last presence does not list it.
    bool send(std::string_view id, std::string_view device, RelayPendingItem item);

private:
    RelayMac& existing(std::string_view id);
    std::string cut(std::string_view text) const;

    RelayLimits limits_;
    std::map<std::string, RelayMac, std::less<>> macs_;
    std::uint64_t revision_ = 0;
};
