#include "relay/store/relay_store.h"

#include "core/names.h"
#include "core/text.h"
#include "relay/relay_network.h"
#include "relay/secret_hash.h"
#include "relay/store/relay_schema.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <set>
#include <stdexcept>

namespace {

using Value = RelayDatabase::Value;

/// Drops later duplicates of the same key, keeping the first position.
template <typename T, typename Key>
void keepFirstOfEach(std::vector<T>& values, Key key) {
    std::set<std::string> seen;
    std::erase_if(values, [&](const T& value) { return !seen.insert(key(value)).second; });
}

template <typename T>
void keepAtMost(std::vector<T>& values, std::size_t limit) {
    if (values.size() > limit) {
        values.resize(limit);
    }
}

Value text(std::string_view value) {
    return std::string(value);
}

Value integer(std::int64_t value) {
    return value;
}

/// LAN addresses hold no white space (the routes accept printable ASCII only), so one line each.
std::string joinedLines(const std::vector<std::string>& lines) {
    std::string joined;
    for (const auto& line : lines) {
        joined += (joined.empty() ? "" : "\n") + line;
    }
    return joined;
}

std::vector<std::string> splitLines(const std::string& joined) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < joined.size();) {
        const auto end = std::min(joined.find('\n', start), joined.size());
        lines.push_back(joined.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::int64_t seconds(std::chrono::seconds duration) {
    return duration.count();
}

} // namespace

RelayStore::RelayStore(std::unique_ptr<RelayDatabase> database, RelayLimits limits)
    : database_(std::move(database))
    , limits_(limits) {
    RelaySchema::migrate(*database_);
}

void RelayStore::rollbackQuietly() {
    try {
        database_->run("ROLLBACK");
    } catch (const RelayStoreError&) {
        // The connection is gone, and the transaction with it.
    }
}

bool RelayStore::lockIfKnown(std::string_view id) {
    const bool postgresql = database_->engine() == RelayDatabase::Engine::postgresql;
    return !database_
                ->run(postgresql ? "SELECT 1 FROM macs WHERE id = $1 FOR UPDATE"
                                 : "SELECT 1 FROM macs WHERE id = $1",
                      {text(id)})
                .empty();
}

void RelayStore::lock(std::string_view id) {
    if (!lockIfKnown(id)) {
        throw std::out_of_range("unknown Mac");
    }
}

std::string RelayStore::cut(std::string_view text) const {
    return Text::prefixWithinBytes(text, limits_.maxTextBytes);
}

std::int64_t RelayStore::count(const std::string& sql, const std::vector<Value>& parameters) {
    const auto rows = database_->run(sql, parameters);
    return rows.empty() ? 0 : integerOf(rows.front().front());
}

std::optional<RelayStore::Credentials> RelayStore::signUp(std::string_view name, std::string_view source,
                                                          std::int64_t now) {
    /// Rolls back the count of a refused sign-up.
    struct UsedUp {};
    try {
        auto credentials = transaction([&] {
            if (limits_.signUpsPerHour > 0) {
                // Counted and checked in one statement, so relays sharing the database cannot both let the
                // last one through; a refusal rolls its count back.
                const auto used = count("INSERT INTO signups (source, hour, count) VALUES ($1, $2, 1)"
                                        " ON CONFLICT (source, hour) DO UPDATE SET count = signups.count + 1"
                                        " RETURNING count",
                                        {text(RelayNetwork::networkOf(source)), integer(now / 3600)});
                if (used > static_cast<std::int64_t>(limits_.signUpsPerHour)) {
                    throw UsedUp();
                }
            }
            Credentials made{Names::newID(), Names::token(40)};
            database_->run(
                "INSERT INTO macs (id, secret_hash, created_at, name) VALUES ($1, $2, $3, $4)",
                {text(made.macId), text(SecretHash::sha256Hex(made.secret)), integer(now), text(cut(name))});
            return made;
        });
        ++changes_;
        return credentials;
    } catch (const UsedUp&) {
        return std::nullopt;
    }
}

std::optional<RelayMac> RelayStore::mac(std::string_view id) {
    return transaction(
        [&]() -> std::optional<RelayMac> {
            const auto rows = database_->run("SELECT secret_hash, created_at, last_check_in, name, ssid, "
                                             "lan, seen_ipv4, seen_ipv4_at, seen_ipv6,"
                                             " seen_ipv6_at FROM macs WHERE id = $1",
                                             {text(id)});
            if (rows.empty()) {
                return std::nullopt;
            }
            const auto& row = rows.front();
            RelayMac mac{textOf(row[0]), integerOf(row[1]), integerOf(row[2]), {}, {}, {}};
            mac.presence.name = textOf(row[3]);
            mac.presence.ssid = textOf(row[4]);
            mac.presence.lan = splitLines(textOf(row[5]));
            mac.seenIPv4 = {textOf(row[6]), integerOf(row[7])};
            mac.seenIPv6 = {textOf(row[8]), integerOf(row[9])};
            for (const auto& share : database_->run(
                     "SELECT token, title FROM shares WHERE mac_id = $1 ORDER BY position", {text(id)})) {
                mac.presence.shares.push_back({textOf(share[0]), textOf(share[1])});
            }
            for (const auto& device :
                 database_->run("SELECT hash FROM devices WHERE mac_id = $1 ORDER BY position", {text(id)})) {
                mac.presence.devices.push_back(textOf(device[0]));
            }
            return mac;
        },
        false);
}

bool RelayStore::authenticated(std::string_view id, std::string_view secret) {
    const auto rows = database_->run("SELECT secret_hash FROM macs WHERE id = $1", {text(id)});
    const std::string digest = SecretHash::sha256Hex(secret);
    return !rows.empty() && SecretHash::equalInConstantTime(digest, textOf(rows.front().front()));
}

std::size_t RelayStore::macCount() {
    return static_cast<std::size_t>(count("SELECT count(*) FROM macs", {}));
}

std::vector<std::pair<std::string, std::size_t>>
RelayStore::checkIn(std::string_view id, RelayPresence presence, std::int64_t now, std::string_view source) {
    keepFirstOfEach(presence.shares, [](const RelayShare& share) { return share.token; });
    keepFirstOfEach(presence.devices, [](const std::string& device) { return device; });
    keepFirstOfEach(presence.lan, [](const std::string& address) { return address; });
    keepAtMost(presence.shares, limits_.maxSharesPerMac);
    keepAtMost(presence.devices, limits_.maxDevicesPerMac);
    keepAtMost(presence.lan, limits_.maxAddressesPerMac);
    presence.name = cut(presence.name);
    presence.ssid = cut(presence.ssid);
    for (auto& share : presence.shares) {
        share.title = cut(share.title);
    }
    auto counts = transaction([&] {
        lock(id);
        const Value mac = text(id);
        const std::string network = RelayNetwork::networkOf(source);
        // Only the family this check-in came over: the other's sighting stays as it was.
        const std::string seen = network.empty()            ? ""
                                 : network.ends_with("/64") ? ", seen_ipv6 = $6, seen_ipv6_at = $5"
                                                            : ", seen_ipv4 = $6, seen_ipv4_at = $5";
        std::vector<Value> values{mac, text(presence.name), text(presence.ssid),
                                  text(joinedLines(presence.lan)), integer(now)};
        if (!network.empty()) {
            values.push_back(text(network));
        }
        database_->run("UPDATE macs SET name = $2, ssid = $3, lan = $4, last_check_in = $5" + seen +
                           " WHERE id = $1",
                       values);
        // A Mac reports the same shares and phones minute after minute: rewrite them only when they changed.
        std::vector<RelayShare> shares;
        for (const auto& row :
             database_->run("SELECT token, title FROM shares WHERE mac_id = $1 ORDER BY position", {mac})) {
            shares.push_back({textOf(row[0]), textOf(row[1])});
        }
        if (shares != presence.shares) {
            database_->run("DELETE FROM shares WHERE mac_id = $1", {mac});
            for (std::size_t position = 0; position < presence.shares.size(); ++position) {
                const auto& share = presence.shares[position];
                database_->run("INSERT INTO shares (mac_id, position, token, title) VALUES ($1, $2, $3, $4)",
                               {mac, integer(static_cast<std::int64_t>(position)), text(share.token),
                                text(share.title)});
            }
        }
        std::vector<std::string> devices;
        for (const auto& row :
             database_->run("SELECT hash FROM devices WHERE mac_id = $1 ORDER BY position", {mac})) {
            devices.push_back(textOf(row[0]));
        }
        if (devices != presence.devices) {
            database_->run("DELETE FROM devices WHERE mac_id = $1", {mac});
            for (std::size_t position = 0; position < presence.devices.size(); ++position) {
                database_->run(
                    "INSERT INTO devices (mac_id, position, hash) VALUES ($1, $2, $3)",
                    {mac, integer(static_cast<std::int64_t>(position)), text(presence.devices[position])});
            }
            // A removed phone takes no more notifications.
            database_->run("DELETE FROM subscriptions WHERE mac_id = $1 AND device <> '' AND device NOT IN"
                           " (SELECT hash FROM devices WHERE mac_id = $1)",
                           {mac});
        }
        // A phone the Mac no longer lists was removed: nobody will collect what waits for it. Notifications
        // of ended shares lead nowhere either.
        const std::set<std::string> known(presence.devices.begin(), presence.devices.end());
        for (const auto& row :
             database_->run("SELECT DISTINCT device FROM pending WHERE mac_id = $1", {mac})) {
            if (!known.contains(textOf(row[0]))) {
                database_->run("DELETE FROM pending WHERE mac_id = $1 AND device = $2", {mac, row[0]});
            }
        }
        std::set<std::string> reported;
        for (const auto& share : presence.shares) {
            reported.insert(share.token);
        }
        for (const auto& row :
             database_->run("SELECT DISTINCT token FROM notifications WHERE mac_id = $1", {mac})) {
            if (!reported.contains(textOf(row[0]))) {
                database_->run("DELETE FROM notifications WHERE mac_id = $1 AND token = $2", {mac, row[0]});
            }
        }
        std::map<std::string, std::size_t> followers;
        for (const auto& row : database_->run(
                 "SELECT token, count(*) FROM followers WHERE mac_id = $1 GROUP BY token", {mac})) {
            followers[textOf(row[0])] = static_cast<std::size_t>(integerOf(row[1]));
        }
        std::vector<std::pair<std::string, std::size_t>> answer;
        answer.reserve(presence.shares.size());
        for (const auto& share : presence.shares) {
            const auto found = followers.find(share.token);
            answer.emplace_back(share.token, found == followers.end() ? 0 : found->second);
        }
        return answer;
    });
    ++changes_;
    return counts;
}

RelayStore::FollowResult RelayStore::follow(std::string_view id, std::string_view token,
                                            std::string_view visitor) {
    const auto result = transaction([&] {
        lock(id);
        const Value mac = text(id), share = text(token);
        if (database_->run("SELECT 1 FROM shares WHERE mac_id = $1 AND token = $2", {mac, share}).empty()) {
            return FollowResult::unknownShare;
        }
        if (!database_
                 ->run("SELECT 1 FROM followers WHERE mac_id = $1 AND token = $2 AND visitor = $3",
                       {mac, share, text(visitor)})
                 .empty()) {
            return FollowResult::alreadyFollowing;
        }
        const std::string total = "SELECT count(*) FROM followers WHERE mac_id = $1";
        if (count(total, {mac}) >= static_cast<std::int64_t>(limits_.maxFollowersPerMac)) {
            // Make room from shares the Mac no longer reports before turning anyone away.
            database_->run("DELETE FROM followers WHERE mac_id = $1 AND token NOT IN"
                           " (SELECT token FROM shares WHERE mac_id = $1)",
                           {mac});
            database_->run("DELETE FROM subscriptions WHERE mac_id = $1 AND share <> '' AND share NOT IN"
                           " (SELECT token FROM shares WHERE mac_id = $1)",
                           {mac});
            if (count(total, {mac}) >= static_cast<std::int64_t>(limits_.maxFollowersPerMac)) {
                return FollowResult::full;
            }
        }
        if (count("SELECT count(*) FROM followers WHERE mac_id = $1 AND token = $2", {mac, share}) >=
            static_cast<std::int64_t>(limits_.maxFollowersPerShare)) {
            return FollowResult::full;
        }
        database_->run("INSERT INTO followers (mac_id, token, visitor) VALUES ($1, $2, $3)",
                       {mac, share, text(visitor)});
        return FollowResult::followed;
    });
    if (result == FollowResult::followed) {
        ++changes_;
    }
    return result;
}

bool RelayStore::notify(std::string_view id, RelayNotification notification) {
    const bool kept = transaction([&] {
        lock(id);
        const Value mac = text(id), share = text(notification.token);
        if (count("SELECT count(*) FROM followers WHERE mac_id = $1 AND token = $2", {mac, share}) == 0) {
            return false;
        }
        if (count("SELECT count(*) FROM notifications WHERE mac_id = $1 AND token = $2", {mac, share}) >=
            static_cast<std::int64_t>(limits_.maxNotificationsPerShare)) {
            database_->run("DELETE FROM notifications WHERE id ="
                           " (SELECT min(id) FROM notifications WHERE mac_id = $1 AND token = $2)",
                           {mac, share});
        }
        database_->run(
            "INSERT INTO notifications (mac_id, token, title, body, at) VALUES ($1, $2, $3, $4, $5)",
            {mac, share, text(cut(notification.title)),
             text(Text::prefixWithinBytes(notification.body, limits_.maxBodyTextBytes)),
             integer(notification.at)});
        const auto excess = count("SELECT count(*) FROM notifications WHERE mac_id = $1", {mac}) -
                            static_cast<std::int64_t>(limits_.maxNotificationsPerMac);
        if (excess > 0) {
            database_->run("DELETE FROM notifications WHERE id IN"
                           " (SELECT id FROM notifications WHERE mac_id = $1 ORDER BY id LIMIT $2)",
                           {mac, integer(excess)});
        }
        return true;
    });
    changes_ += kept ? 1 : 0;
    return kept;
}

std::optional<std::string> RelayStore::send(std::string_view id, std::string_view device,
                                            RelayPendingItem item) {
    const auto kept = transaction([&]() -> std::optional<std::string> {
        lock(id);
        const Value mac = text(id), phone = text(device);
        if (database_->run("SELECT 1 FROM devices WHERE mac_id = $1 AND hash = $2", {mac, phone}).empty()) {
            return std::nullopt;
        }
        std::string ref = Names::token(16);
        database_->run(
            "INSERT INTO pending (mac_id, device, token, title, at, ref) VALUES ($1, $2, $3, $4, $5, $6)",
            {mac, phone, text(item.token), text(cut(item.title)), integer(item.at), text(ref)});
        // The oldest go first: this phone's beyond its own bound, then any phone's beyond the Mac's.
        const auto forPhone =
            count("SELECT count(*) FROM pending WHERE mac_id = $1 AND device = $2", {mac, phone}) -
            static_cast<std::int64_t>(limits_.maxPendingPerDevice);
        if (forPhone > 0) {
            database_->run(
                "DELETE FROM pending WHERE id IN (SELECT id FROM pending WHERE mac_id = $1 AND device = $2"
                " ORDER BY id LIMIT $3)",
                {mac, phone, integer(forPhone)});
        }
        const auto forMac = count("SELECT count(*) FROM pending WHERE mac_id = $1", {mac}) -
                            static_cast<std::int64_t>(limits_.maxPendingPerMac);
        if (forMac > 0) {
            database_->run("DELETE FROM pending WHERE id IN (SELECT id FROM pending WHERE mac_id = $1 ORDER "
                           "BY at, id LIMIT $2)",
                           {mac, integer(forMac)});
        }
        return ref;
    });
    changes_ += kept ? 1 : 0;
    return kept;
}

std::vector<RelayWaitingItem> RelayStore::waiting(std::string_view id, std::string_view device) {
    std::vector<RelayWaitingItem> items;
    for (const auto& row : database_->run(
             "SELECT ref, token, title, at FROM pending WHERE mac_id = $1 AND device = $2 ORDER BY id DESC",
             {text(id), text(device)})) {
        items.push_back({textOf(row[0]), textOf(row[1]), textOf(row[2]), integerOf(row[3])});
    }
    return items;
}

void RelayStore::collect(std::string_view id, std::string_view token, std::string_view ref) {
    if (ref.empty()) {
        return; // items kept before references were given out cannot be named
    }
    transaction([&] {
        database_->run("DELETE FROM pending WHERE mac_id = $1 AND token = $2 AND ref = $3",
                       {text(id), text(token), text(ref)});
    });
    ++changes_;
}

std::string RelayStore::pushKey(const std::function<std::string()>& make) {
    const auto kept = [this] {
        const auto rows = database_->run("SELECT private_key FROM push_key WHERE id = 1");
        return rows.empty() ? std::optional<std::string>() : textOf(rows.front().front());
    };
    return transaction([&] {
        if (auto key = kept()) {
            return *key;
        }
        // Another relay starting at the same moment may keep its key first; then that one holds.
        database_->run("INSERT INTO push_key (id, private_key) VALUES (1, $1) ON CONFLICT (id) DO NOTHING",
                       {text(make())});
        return kept().value();
    });
}

RelayStore::SubscribeResult RelayStore::subscribePhone(std::string_view id, std::string_view device,
                                                       const RelaySubscription& subscription,
                                                       std::int64_t now) {
    const auto result = transaction([&] {
        if (!lockIfKnown(id)) {
            return SubscribeResult::unknown;
        }
        const Value mac = text(id), phone = text(device), endpoint = text(subscription.endpoint);
        if (database_->run("SELECT 1 FROM devices WHERE mac_id = $1 AND hash = $2", {mac, phone}).empty()) {
            return SubscribeResult::unknown;
        }
        // A browser subscribing again may come with new keys.
        database_->run("DELETE FROM subscriptions WHERE mac_id = $1 AND device = $2 AND endpoint = $3",
                       {mac, phone, endpoint});
        database_->run(
            "INSERT INTO subscriptions (mac_id, device, endpoint, p256dh, auth, at)"
            " VALUES ($1, $2, $3, $4, $5, $6)",
            {mac, phone, endpoint, text(subscription.p256dh), text(subscription.auth), integer(now)});
        const auto excess =
            count("SELECT count(*) FROM subscriptions WHERE mac_id = $1 AND device = $2", {mac, phone}) -
            static_cast<std::int64_t>(limits_.maxSubscriptionsPerDevice);
        if (excess > 0) {
            database_->run("DELETE FROM subscriptions WHERE id IN (SELECT id FROM subscriptions"
                           " WHERE mac_id = $1 AND device = $2 ORDER BY id LIMIT $3)",
                           {mac, phone, integer(excess)});
        }
        return SubscribeResult::subscribed;
    });
    changes_ += result == SubscribeResult::subscribed ? 1 : 0;
    return result;
}

RelayStore::SubscribeResult RelayStore::subscribeFollower(std::string_view id, std::string_view token,
                                                          std::string_view visitor,
                                                          const RelaySubscription& subscription,
                                                          std::int64_t now) {
    const auto result = transaction([&] {
        if (!lockIfKnown(id)) {
            return SubscribeResult::unknown;
        }
        const Value mac = text(id), share = text(token), who = text(visitor);
        if (database_->run("SELECT 1 FROM shares WHERE mac_id = $1 AND token = $2", {mac, share}).empty()) {
            return SubscribeResult::unknown;
        }
        if (database_
                ->run("SELECT 1 FROM followers WHERE mac_id = $1 AND token = $2 AND visitor = $3",
                      {mac, share, who})
                .empty()) {
            return SubscribeResult::notFollowing;
        }
        database_->run("DELETE FROM subscriptions WHERE mac_id = $1 AND share = $2 AND visitor = $3",
                       {mac, share, who});
        database_->run("INSERT INTO subscriptions (mac_id, share, visitor, endpoint, p256dh, auth, at)"
                       " VALUES ($1, $2, $3, $4, $5, $6, $7)",
                       {mac, share, who, text(subscription.endpoint), text(subscription.p256dh),
                        text(subscription.auth), integer(now)});
        return SubscribeResult::subscribed;
    });
    changes_ += result == SubscribeResult::subscribed ? 1 : 0;
    return result;
}

namespace {

std::vector<RelaySubscription> subscriptionsOf(const std::vector<RelayDatabase::Row>& rows) {
    std::vector<RelaySubscription> subscriptions;
    for (const auto& row : rows) {
        subscriptions.push_back({textOf(row[0]), textOf(row[1]), textOf(row[2])});
    }
    return subscriptions;
}

} // namespace

std::vector<RelaySubscription> RelayStore::phoneSubscriptions(std::string_view id, std::string_view device) {
    return subscriptionsOf(database_->run("SELECT endpoint, p256dh, auth FROM subscriptions"
                                          " WHERE mac_id = $1 AND device = $2 ORDER BY id",
                                          {text(id), text(device)}));
}

std::vector<RelaySubscription> RelayStore::followerSubscriptions(std::string_view id,
                                                                 std::string_view token) {
    // One browser that followed twice (its cookie cleared in between) is notified once.
    return subscriptionsOf(database_->run("SELECT DISTINCT endpoint, p256dh, auth FROM subscriptions"
                                          " WHERE mac_id = $1 AND share = $2 AND device = ''",
                                          {text(id), text(token)}));
}

std::size_t RelayStore::renew(std::string_view endpoint, const RelaySubscription& renewed) {
    const auto places = transaction([&] {
        return database_
            ->run("UPDATE subscriptions SET endpoint = $2, p256dh = $3, auth = $4 WHERE endpoint = $1 "
                  "RETURNING 1",
                  {text(endpoint), text(renewed.endpoint), text(renewed.p256dh), text(renewed.auth)})
            .size();
    });
    changes_ += places > 0 ? 1 : 0;
    return places;
}

void RelayStore::unsubscribe(std::string_view endpoint) {
    transaction([&] { database_->run("DELETE FROM subscriptions WHERE endpoint = $1", {text(endpoint)}); });
    ++changes_;
}

std::size_t RelayStore::followerCount(std::string_view id, std::string_view token) {
    return static_cast<std::size_t>(
        count("SELECT count(*) FROM followers WHERE mac_id = $1 AND token = $2", {text(id), text(token)}));
}

std::vector<RelayNotification> RelayStore::notifications(std::string_view id) {
    std::vector<RelayNotification> notes;
    for (const auto& row : database_->run(
             "SELECT token, title, body, at FROM notifications WHERE mac_id = $1 ORDER BY id", {text(id)})) {
        notes.push_back({textOf(row[0]), textOf(row[1]), textOf(row[2]), integerOf(row[3])});
    }
    return notes;
}

std::vector<RelayPendingItem> RelayStore::pending(std::string_view id, std::string_view device) {
    std::vector<RelayPendingItem> items;
    for (const auto& row :
         database_->run("SELECT token, title, at FROM pending WHERE mac_id = $1 AND device = $2 ORDER BY id",
                        {text(id), text(device)})) {
        items.push_back({textOf(row[0]), textOf(row[1]), integerOf(row[2])});
    }
    return items;
}

bool RelayStore::restore(const std::string& id, const RelayMacRecord& record) {
    const Value mac = text(id);
    if (!database_->run("SELECT 1 FROM macs WHERE id = $1", {mac}).empty()) {
        return false;
    }
    const auto& presence = record.mac.presence;
    database_->run("INSERT INTO macs (id, secret_hash, created_at, last_check_in, name, ssid, lan)"
                   " VALUES ($1, $2, $3, $4, $5, $6, $7)",
                   {mac, text(record.mac.secretHash), integer(record.mac.createdAt),
                    integer(record.mac.lastCheckIn), text(presence.name), text(presence.ssid),
                    text(joinedLines(presence.lan))});
    for (std::size_t position = 0; position < presence.shares.size(); ++position) {
        database_->run("INSERT INTO shares (mac_id, position, token, title) VALUES ($1, $2, $3, $4)",
                       {mac, integer(static_cast<std::int64_t>(position)),
                        text(presence.shares[position].token), text(presence.shares[position].title)});
    }
    for (std::size_t position = 0; position < presence.devices.size(); ++position) {
        database_->run("INSERT INTO devices (mac_id, position, hash) VALUES ($1, $2, $3)",
                       {mac, integer(static_cast<std::int64_t>(position)), text(presence.devices[position])});
    }
    for (const auto& [token, visitors] : record.followers) {
        for (const auto& visitor : visitors) {
            database_->run("INSERT INTO followers (mac_id, token, visitor) VALUES ($1, $2, $3)",
                           {mac, text(token), text(visitor)});
        }
    }
    for (const auto& note : record.notifications) {
        database_->run(
            "INSERT INTO notifications (mac_id, token, title, body, at) VALUES ($1, $2, $3, $4, $5)",
            {mac, text(note.token), text(note.title), text(note.body), integer(note.at)});
    }
    for (const auto& [device, items] : record.pending) {
        for (const auto& item : items) {
            database_->run(
                "INSERT INTO pending (mac_id, device, token, title, at) VALUES ($1, $2, $3, $4, $5)",
                {mac, text(device), text(item.token), text(item.title), integer(item.at)});
        }
    }
    ++changes_;
    return true;
}

void RelayStore::removeExpired(std::int64_t now) {
    transaction([&] {
        database_->run("DELETE FROM notifications WHERE at < $1",
                       {integer(now - seconds(limits_.keepNotifications))});
        database_->run("DELETE FROM pending WHERE at < $1", {integer(now - seconds(limits_.keepPending))});
        const auto silentSince = integer(now - seconds(limits_.forgetMacAfter));
        // A Mac that never checked in counts from its sign-up.
        database_->run("DELETE FROM macs WHERE last_check_in < $1 AND created_at < $1", {silentSince});
        database_->run("DELETE FROM signups WHERE hour < $1", {integer(now / 3600)});
    });
}
