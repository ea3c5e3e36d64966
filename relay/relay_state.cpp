#include "relay/relay_state.h"

#include "core/names.h"
#include "core/text.h"
#include "relay/secret_hash.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <numeric>

using json = nlohmann::json;

namespace {

/// The layout `json` writes; a file of any other version is refused rather than guessed at.
constexpr int stateVersion = 1;

/// Drops later duplicates of the same key, keeping the first position.
template <typename T, typename Key>
void keepFirstOfEach(std::vector<T>& values, Key key) {
    std::set<std::string> seen;
    std::erase_if(values, [&](const T& value) { return !seen.insert(key(value)).second; });
}

std::string text(const json& object, const char* name) {
    return object.at(name).get<std::string>();
}

json shareJSON(const RelayShare& share) {
    return {{"token", share.token}, {"title", share.title}};
}

json macJSON(const RelayMac& mac) {
    json shares = json::array();
    for (const auto& share : mac.presence.shares) {
        shares.push_back(shareJSON(share));
    }
    json followers = json::object();
    for (const auto& [token, visitors] : mac.followers) {
        followers[token] = visitors;
    }
    json notifications = json::array();
    for (const auto& note : mac.notifications) {
        notifications.push_back(
            {{"token", note.token}, {"title", note.title}, {"body", note.body}, {"at", note.at}});
    }
    json pending = json::object();
    for (const auto& [device, items] : mac.pending) {
        json list = json::array();
        for (const auto& item : items) {
            list.push_back({{"token", item.token}, {"title", item.title}, {"at", item.at}});
        }
        pending[device] = std::move(list);
    }
    return {{"secretSHA256", mac.secretHash},    {"created", mac.createdAt},
            {"lastCheckIn", mac.lastCheckIn},    {"name", mac.presence.name},
            {"lan", mac.presence.lan},           {"ssid", mac.presence.ssid},
            {"shares", std::move(shares)},       {"devices", mac.presence.devices},
            {"followers", std::move(followers)}, {"notifications", std::move(notifications)},
            {"pending", std::move(pending)}};
}

/// Throws nlohmann's exceptions (or RelayStateError) on anything that is not what macJSON writes.
RelayMac macFromJSON(const json& object) {
    RelayMac mac;
    mac.secretHash = text(object, "secretSHA256");
    if (!SecretHash::isDigest(mac.secretHash)) {
        throw RelayStateError("a secret's digest is not 64 hex digits");
    }
    mac.createdAt = object.at("created").get<std::int64_t>();
    mac.lastCheckIn = object.at("lastCheckIn").get<std::int64_t>();
    mac.presence.name = text(object, "name");
    mac.presence.lan = object.at("lan").get<std::vector<std::string>>();
    mac.presence.ssid = text(object, "ssid");
    for (const auto& share : object.at("shares")) {
        mac.presence.shares.push_back({text(share, "token"), text(share, "title")});
    }
    mac.presence.devices = object.at("devices").get<std::vector<std::string>>();
    for (const auto& [token, visitors] : object.at("followers").items()) {
        mac.followers[token] = visitors.get<std::set<std::string>>();
    }
    for (const auto& note : object.at("notifications")) {
        mac.notifications.push_back({text(note, "token"), text(note, "title"), text(note, "body"),
                                     note.at("at").get<std::int64_t>()});
    }
    for (const auto& [device, items] : object.at("pending").items()) {
        auto& queue = mac.pending[device];
        for (const auto& item : items) {
            queue.push_back({text(item, "token"), text(item, "title"), item.at("at").get<std::int64_t>()});
        }
    }
    return mac;
}

} // namespace

const RelayShare* RelayMac::share(std::string_view token) const {
    const auto found = std::find_if(presence.shares.begin(), presence.shares.end(),
                                    [&](const RelayShare& share) { return share.token == token; });
    return found == presence.shares.end() ? nullptr : &*found;
}

bool RelayMac::knowsDevice(std::string_view hash) const {
    return std::find(presence.devices.begin(), presence.devices.end(), hash) != presence.devices.end();
}

std::size_t RelayMac::followerCount(std::string_view token) const {
    const auto found = followers.find(token);
    return found == followers.end() ? 0 : found->second.size();
}

RelayState RelayState::fromJSON(std::string_view text, RelayLimits limits) {
    RelayState state(limits);
    try {
        const json document = json::parse(text);
        if (!document.is_object() || document.at("version").get<int>() != stateVersion) {
            throw RelayStateError("not a tesk-relay state of version " + std::to_string(stateVersion));
        }
        for (const auto& [id, mac] : document.at("macs").items()) {
            state.macs_.emplace(id, macFromJSON(mac));
        }
    } catch (const json::exception& error) {
        throw RelayStateError(error.what());
    }
    return state;
}

std::string RelayState::toJSON() const {
    json macs = json::object();
    for (const auto& [id, mac] : macs_) {
        macs[id] = macJSON(mac);
    }
    const json document = {{"version", stateVersion}, {"macs", std::move(macs)}};
    return document.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::optional<RelayState::Credentials> RelayState::signUp(std::string_view name, std::int64_t now) {
    if (macs_.size() >= limits_.maxMacs) {
        return std::nullopt;
    }
    Credentials credentials{Names::newID(), Names::token(40)};
    RelayMac mac;
    mac.secretHash = SecretHash::sha256Hex(credentials.secret);
    mac.createdAt = now;
    mac.presence.name = cut(name);
    macs_.emplace(credentials.macId, std::move(mac));
    ++revision_;
    return credentials;
}

const RelayMac* RelayState::mac(std::string_view id) const {
    const auto found = macs_.find(id);
    return found == macs_.end() ? nullptr : &found->second;
}

const RelayMac* RelayState::authenticated(std::string_view id, std::string_view secret) const {
    const RelayMac* found = mac(id);
    const std::string digest = SecretHash::sha256Hex(secret);
    if (!found || !SecretHash::equalInConstantTime(digest, found->secretHash)) {
        return nullptr;
    }
    return found;
}

std::vector<std::pair<std::string, std::size_t>>
RelayState::checkIn(std::string_view id, RelayPresence presence, std::int64_t now) {
    RelayMac& mac = existing(id);
    keepFirstOfEach(presence.shares, [](const RelayShare& share) { return share.token; });
    keepFirstOfEach(presence.devices, [](const std::string& device) { return device; });
    keepFirstOfEach(presence.lan, [](const std::string& address) { return address; });
    if (presence.shares.size() > limits_.maxSharesPerMac) {
        presence.shares.resize(limits_.maxSharesPerMac);
    }
    if (presence.devices.size() > limits_.maxDevicesPerMac) {
        presence.devices.resize(limits_.maxDevicesPerMac);
    }
    if (presence.lan.size() > limits_.maxAddressesPerMac) {
        presence.lan.resize(limits_.maxAddressesPerMac);
    }
    presence.name = cut(presence.name);
    presence.ssid = cut(presence.ssid);
    for (auto& share : presence.shares) {
        share.title = cut(share.title);
    }
    mac.presence = std::move(presence);
    mac.lastCheckIn = now;
    // A phone the Mac no longer lists was removed: nobody will collect what waits for it. Notifications
    // of ended shares lead nowhere either.
    std::erase_if(mac.pending, [&](const auto& entry) { return !mac.knowsDevice(entry.first); });
    std::erase_if(mac.notifications, [&](const RelayNotification& note) { return !mac.share(note.token); });
    ++revision_;

    std::vector<std::pair<std::string, std::size_t>> counts;
    counts.reserve(mac.presence.shares.size());
    for (const auto& share : mac.presence.shares) {
        counts.emplace_back(share.token, mac.followerCount(share.token));
    }
    return counts;
}

RelayState::FollowResult RelayState::follow(std::string_view id, std::string_view token,
                                            std::string_view visitor) {
    RelayMac& mac = existing(id);
    if (!mac.share(token)) {
        return FollowResult::unknownShare;
    }
    if (const auto found = mac.followers.find(token);
        found != mac.followers.end() && found->second.contains(std::string(visitor))) {
        return FollowResult::alreadyFollowing;
    }
    const auto total = [&] {
        return std::accumulate(mac.followers.begin(), mac.followers.end(), std::size_t{0},
                               [](std::size_t sum, const auto& entry) { return sum + entry.second.size(); });
    };
    if (total() >= limits_.maxFollowersPerMac) {
        // Make room from shares the Mac no longer reports before turning anyone away.
        std::erase_if(mac.followers, [&](const auto& entry) { return !mac.share(entry.first); });
        if (total() >= limits_.maxFollowersPerMac) {
            return FollowResult::full;
        }
    }
    if (mac.followerCount(token) >= limits_.maxFollowersPerShare) {
        return FollowResult::full;
    }
    mac.followers[std::string(token)].insert(std::string(visitor));
    ++revision_;
    return FollowResult::followed;
}

bool RelayState::notify(std::string_view id, RelayNotification notification) {
    RelayMac& mac = existing(id);
    if (mac.followerCount(notification.token) == 0) {
        return false;
    }
    const auto sameShare = [&](const RelayNotification& note) { return note.token == notification.token; };
    if (static_cast<std::size_t>(std::count_if(mac.notifications.begin(), mac.notifications.end(),
                                               sameShare)) >= limits_.maxNotificationsPerShare) {
        mac.notifications.erase(std::find_if(mac.notifications.begin(), mac.notifications.end(), sameShare));
    }
    notification.title = cut(notification.title);
    notification.body = Text::prefixWithinBytes(notification.body, limits_.maxBodyTextBytes);
    mac.notifications.push_back(std::move(notification));
    while (mac.notifications.size() > limits_.maxNotificationsPerMac) {
        mac.notifications.pop_front();
    }
    ++revision_;
    return true;
}

bool RelayState::send(std::string_view id, std::string_view device, RelayPendingItem item) {
    RelayMac& mac = existing(id);
    if (!mac.knowsDevice(device)) {
        return false;
    }
    item.title = cut(item.title);
    auto& queue = mac.pending[std::string(device)];
    queue.push_back(std::move(item));
    if (queue.size() > limits_.maxPendingPerDevice) {
        queue.pop_front();
    }
    const auto total = [&] {
        return std::accumulate(mac.pending.begin(), mac.pending.end(), std::size_t{0},
                               [](std::size_t sum, const auto& entry) { return sum + entry.second.size(); });
    };
    while (total() > limits_.maxPendingPerMac) {
        // The oldest waiting item of any phone goes first.
        auto oldest = mac.pending.end();
        for (auto it = mac.pending.begin(); it != mac.pending.end(); ++it) {
            if (!it->second.empty() &&
                (oldest == mac.pending.end() || it->second.front().at < oldest->second.front().at)) {
                oldest = it;
            }
        }
        oldest->second.pop_front();
        if (oldest->second.empty()) {
            mac.pending.erase(oldest);
        }
    }
    ++revision_;
    return true;
}

RelayMac& RelayState::existing(std::string_view id) {
    const auto found = macs_.find(id);
    if (found == macs_.end()) {
        throw std::out_of_range("unknown Mac");
    }
    return found->second;
}

std::string RelayState::cut(std::string_view text) const {
    return Text::prefixWithinBytes(text, limits_.maxTextBytes);
}
