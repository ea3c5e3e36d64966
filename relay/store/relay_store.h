#pragma once

#include "relay/relay_limits.h"
#include "relay/store/relay_database.h"
#include "relay/store/relay_records.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

/// Everything the relay knows, in a database, and the rules that keep it within `RelayLimits`. Every
/// change is one transaction that writes only the rows it changes; on PostgreSQL a change to a Mac first
/// locks that Mac's row, so relays sharing the database take turns per Mac and never lose or double
/// anything. Not thread-safe; the server serialises access.
class RelayStore {
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

    /// Keeps its state in `database`, brought up to date first. Throws RelayStoreError.
    explicit RelayStore(std::unique_ptr<RelayDatabase> database, RelayLimits limits = {});

    const RelayLimits& limits() const { return limits_; }
    RelayDatabase& database() { return *database_; }
    /// Changes committed through this store, so a caller can tell whether an answer changed anything.
    std::uint64_t changes() const { return changes_; }

    /// A new Mac with a fresh id and secret; nothing when the network of `source` (an address, see
    /// `RelayNetwork::networkOf`) has signed up as many Macs as it may this hour.
    std::optional<Credentials> signUp(std::string_view name, std::string_view source, std::int64_t now);
    std::optional<RelayMac> mac(std::string_view id);
    /// Whether `secret` is the secret of Mac `id`.
    bool authenticated(std::string_view id, std::string_view secret);
    std::size_t macCount();

    /// Replaces the presence of Mac `id` (cut to the limits; duplicates dropped), notes that it came from
    /// `source` (an address), and answers each kept share's follower count, in the order reported.
    /// Throws std::out_of_range for an unknown id.
    std::vector<std::pair<std::string, std::size_t>> checkIn(std::string_view id, RelayPresence presence,
                                                             std::int64_t now, std::string_view source = {});
    FollowResult follow(std::string_view id, std::string_view token, std::string_view visitor);
    /// Keeps `notification` for the followers of its share; false (nothing kept) when it has none.
    bool notify(std::string_view id, RelayNotification notification);
    /// Keeps `item` for the phone with hash `device` and answers its reference (see RelayWaitingItem);
    /// nothing when the last presence does not list the phone.
    std::optional<std::string> send(std::string_view id, std::string_view device, RelayPendingItem item);
    /// What waits for the phone with hash `device`, newest first.
    std::vector<RelayWaitingItem> waiting(std::string_view id, std::string_view device);
    /// Removes the waiting item with reference `ref` once a phone opened it through its share `token`'s
    /// link.
    void collect(std::string_view id, std::string_view token, std::string_view ref);

    enum class SubscribeResult {
        subscribed,
        /// The phone, or the share, is not in the Mac's last presence.
        unknown,
        /// This browser does not follow the share.
        notFollowing,
    };
    /// The relay's Web Push signing key (PEM): the one kept, or `make()`'s, kept first. Relays sharing a
    /// database all answer the first one kept, since browsers subscribe to exactly one key.
    std::string pushKey(const std::function<std::string()>& make);
    /// Notifications for the phone with hash `device` go to `subscription` too; a phone keeps its newest
    /// few browsers.
    SubscribeResult subscribePhone(std::string_view id, std::string_view device,
                                   const RelaySubscription& subscription, std::int64_t now);
    /// Notifications of share `token` for its follower `visitor` go to `subscription` (only), while that
    /// visitor follows it.
    SubscribeResult subscribeFollower(std::string_view id, std::string_view token, std::string_view visitor,
                                      const RelaySubscription& subscription, std::int64_t now);
    std::vector<RelaySubscription> phoneSubscriptions(std::string_view id, std::string_view device);
    std::vector<RelaySubscription> followerSubscriptions(std::string_view id, std::string_view token);
    /// Forgets `endpoint` wherever it is subscribed: its push service said it is gone.
    void unsubscribe(std::string_view endpoint);
    /// A browser's push service replaced the subscription at `endpoint` with `renewed`: wherever the old
    /// one was, the new one is. Answers how many places that was.
    std::size_t renew(std::string_view endpoint, const RelaySubscription& renewed);

    std::size_t followerCount(std::string_view id, std::string_view token);
    /// Oldest first.
    std::vector<RelayNotification> notifications(std::string_view id);
    std::vector<RelayPendingItem> pending(std::string_view id, std::string_view device);

    /// Adds `record` as Mac `id`, as it stands, within the caller's transaction; false when `id` is
    /// taken already.
    bool restore(const std::string& id, const RelayMacRecord& record);
    /// Removes notifications and waiting items past their time, and Macs silent for too long.
    void removeExpired(std::int64_t now);

    /// Runs `work` in one transaction: all of it is kept, or none when it throws.
    template <typename Work>
    auto transaction(Work&& work, bool writing = true) -> decltype(work()) {
        database_->begin(writing);
        try {
            if constexpr (std::is_void_v<decltype(work())>) {
                work();
                database_->run("COMMIT");
            } else {
                auto result = work();
                database_->run("COMMIT");
                return result;
            }
        } catch (...) {
            rollbackQuietly();
            throw;
        }
    }

private:
    /// Locks Mac `id` for the rest of the transaction (PostgreSQL; SQLite's write lock covers it).
    /// Throws std::out_of_range when there is no such Mac.
    void lock(std::string_view id);
    /// `lock`, answering false instead of throwing for an unknown Mac.
    bool lockIfKnown(std::string_view id);
    std::string cut(std::string_view text) const;
    std::int64_t count(const std::string& sql, const std::vector<RelayDatabase::Value>& parameters);
    void rollbackQuietly();

    std::unique_ptr<RelayDatabase> database_;
    RelayLimits limits_;
    std::uint64_t changes_ = 0;
};
