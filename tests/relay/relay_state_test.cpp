// The relay's state: the limits that bound it, how it counts followers and keeps items, its file
// format, and the digests it keeps instead of secrets.
#include "relay/relay_state.h"

#include "relay/relay_state_file.h"
#include "relay/secret_hash.h"
#include "support/file_contents.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <functional>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

using Counts = std::vector<std::pair<std::string, std::size_t>>;

std::string digestOf(std::string_view deviceToken) {
    return SecretHash::sha256Hex(deviceToken);
}

RelayPresence presenceWith(std::vector<RelayShare> shares, std::vector<std::string> devices = {}) {
    return {"Studio", {"http://192.168.1.20:47470"}, std::move(shares), "Home", std::move(devices)};
}

} // namespace

TEST(RelayStateTest, SignUpHandsOutASecretItKeepsOnlyAsADigestUpToTheMacLimit) {
    RelayState state(RelayLimits{.maxMacs = 2});
    const auto credentials = state.signUp("Studio", 100);
    ASSERT_TRUE(credentials);
    EXPECT_GE(credentials->secret.size(), 32u);
    EXPECT_NE(state.authenticated(credentials->macId, credentials->secret), nullptr);
    std::string wrong = credentials->secret;
    wrong.back() ^= 1;
    for (const std::string& secret : {wrong, credentials->secret + "x", credentials->secret.substr(1)}) {
        EXPECT_EQ(state.authenticated(credentials->macId, secret), nullptr) << secret;
    }
    EXPECT_EQ(state.authenticated("someone-else", credentials->secret), nullptr);
    const std::string saved = state.toJSON();
    EXPECT_EQ(saved.find(credentials->secret), std::string::npos);
    EXPECT_NE(saved.find(SecretHash::sha256Hex(credentials->secret)), std::string::npos);
    // FIPS 180-2, appendix B.1: the digest is SHA-256 in lower-case hex, as the Mac computes it too.
    EXPECT_EQ(SecretHash::sha256Hex("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    const auto another = state.signUp("Laptop", 100);
    ASSERT_TRUE(another);
    EXPECT_NE(another->macId, credentials->macId);
    EXPECT_NE(another->secret, credentials->secret);
    const auto revision = state.revision();
    EXPECT_FALSE(state.signUp("third", 1));
    EXPECT_EQ(state.macCount(), 2u);
    EXPECT_EQ(state.revision(), revision);
}

TEST(RelayStateTest, CheckInKeepsWithinLimitsAndDropsDuplicates) {
    RelayState state(
        RelayLimits{.maxSharesPerMac = 2, .maxDevicesPerMac = 1, .maxAddressesPerMac = 1, .maxTextBytes = 5});
    const auto id = state.signUp("Mac", 1)->macId;
    RelayPresence presence{"Studio Mac",
                           {"http://a", "http://b"},
                           {{"one", "First share"}, {"one", "again"}, {"two", "2"}, {"three", "3"}},
                           "Home network",
                           {digestOf("p1"), digestOf("p2")}};
    EXPECT_EQ(state.checkIn(id, presence, 50), (Counts{{"one", 0}, {"two", 0}}));
    const RelayMac& mac = *state.mac(id);
    EXPECT_EQ(mac.presence.name, "Studi");
    EXPECT_EQ(mac.presence.ssid, "Home ");
    EXPECT_EQ(mac.presence.lan, std::vector<std::string>{"http://a"});
    EXPECT_EQ(mac.presence.shares, (std::vector<RelayShare>{{"one", "First"}, {"two", "2"}}));
    EXPECT_EQ(mac.presence.devices, std::vector<std::string>{digestOf("p1")});
    EXPECT_EQ(mac.lastCheckIn, 50);
}

TEST(RelayStateTest, FollowersCountOncePerVisitorAndOnlyForReportedShares) {
    RelayState state;
    const auto id = state.signUp("Mac", 1)->macId;
    state.checkIn(id, presenceWith({{"abc", "Photos"}}), 2);
    EXPECT_EQ(state.follow(id, "abc", "visitor1"), RelayState::FollowResult::followed);
    const auto revision = state.revision();
    EXPECT_EQ(state.follow(id, "abc", "visitor1"), RelayState::FollowResult::alreadyFollowing);
    EXPECT_EQ(state.revision(), revision) << "nothing changed, nothing to save";
    EXPECT_EQ(state.follow(id, "abc", "visitor2"), RelayState::FollowResult::followed);
    EXPECT_EQ(state.follow(id, "gone", "visitor1"), RelayState::FollowResult::unknownShare);
    EXPECT_EQ(state.checkIn(id, presenceWith({{"abc", "Photos"}}), 3), (Counts{{"abc", 2}}));
}

TEST(RelayStateTest, FollowerLimitsMakeRoomFromEndedSharesFirst) {
    RelayState state(RelayLimits{.maxFollowersPerShare = 2, .maxFollowersPerMac = 3});
    const auto id = state.signUp("Mac", 1)->macId;
    state.checkIn(id, presenceWith({{"old", "Old"}, {"new", "New"}}), 2);
    EXPECT_EQ(state.follow(id, "old", "v1"), RelayState::FollowResult::followed);
    EXPECT_EQ(state.follow(id, "old", "v2"), RelayState::FollowResult::followed);
    EXPECT_EQ(state.follow(id, "old", "v3"), RelayState::FollowResult::full) << "per share";
    EXPECT_EQ(state.follow(id, "new", "v1"), RelayState::FollowResult::followed);
    EXPECT_EQ(state.follow(id, "new", "v2"), RelayState::FollowResult::full) << "per Mac";

    // Once "old" ends, its followers make room; while it was reported they were kept.
    state.checkIn(id, presenceWith({{"new", "New"}}), 3);
    EXPECT_EQ(state.mac(id)->followerCount("old"), 2u);
    EXPECT_EQ(state.follow(id, "new", "v2"), RelayState::FollowResult::followed);
    EXPECT_EQ(state.mac(id)->followerCount("old"), 0u);
}

TEST(RelayStateTest, NotificationsAreKeptOnlyForFollowedSharesAndOldestGoFirst) {
    RelayState state(
        RelayLimits{.maxNotificationsPerShare = 2, .maxNotificationsPerMac = 3, .maxBodyTextBytes = 4});
    const auto id = state.signUp("Mac", 1)->macId;
    state.checkIn(id, presenceWith({{"a", "A"}, {"b", "B"}, {"quiet", "Q"}}), 2);
    state.follow(id, "a", "v");
    state.follow(id, "b", "v");
    EXPECT_FALSE(state.notify(id, {"quiet", "t", "nobody follows", 3}));
    std::int64_t now = 3;
    for (const std::string body : {"a1", "a2", "a3 long", "b1", "b2"}) {
        EXPECT_TRUE(state.notify(id, {body.substr(0, 1), "t", body, ++now}));
    }
    std::vector<std::string> bodies;
    for (const auto& note : state.mac(id)->notifications) {
        bodies.push_back(note.body);
    }
    // "a1" fell to the per-share bound, "a2" to the per-Mac bound; "a3 long" was cut to 4 bytes.
    EXPECT_EQ(bodies, (std::vector<std::string>{"a3 l", "b1", "b2"}));
    state.checkIn(id, presenceWith({{"b", "B"}}), 9);
    EXPECT_EQ(state.mac(id)->notifications.size(), 2u) << "an ended share's notifications lead nowhere";
}

TEST(RelayStateTest, ItemsWaitOnlyForListedPhonesWithinBounds) {
    RelayState state(RelayLimits{.maxPendingPerDevice = 2, .maxPendingPerMac = 3});
    const auto id = state.signUp("Mac", 1)->macId;
    const std::string one = digestOf("phone one");
    const std::string two = digestOf("phone two");
    state.checkIn(id, presenceWith({}, {one, two}), 2);
    EXPECT_FALSE(state.send(id, digestOf("stranger"), {"s", "x", 3}));
    std::int64_t now = 3;
    for (const auto& [phone, token] : std::vector<std::pair<std::string, std::string>>{
             {one, "s1"}, {one, "s2"}, {one, "s3"}, {two, "t1"}, {two, "t2"}}) {
        EXPECT_TRUE(state.send(id, phone, {token, "x", ++now}));
    }
    // s1 fell to the per-phone bound, s2 to the per-Mac bound.
    const auto& pending = state.mac(id)->pending;
    ASSERT_EQ(pending.at(one).size(), 1u);
    EXPECT_EQ(pending.at(one).front().token, "s3");
    EXPECT_EQ(pending.at(two).size(), 2u);

    state.checkIn(id, presenceWith({}, {two}), 8);
    EXPECT_FALSE(state.mac(id)->pending.contains(one)) << "a removed phone collects nothing";
    EXPECT_FALSE(state.send(id, one, {"s4", "x", 9}));
}

TEST(RelayStateTest, JSONKeepsEverythingAndRefusesWhatItDidNotWrite) {
    RelayState state;
    const auto credentials = *state.signUp("Mac \"quoted\" é", 10);
    const std::string id = credentials.macId;
    const std::string phone = digestOf("phone");
    state.checkIn(id, presenceWith({{"abc", "Photos"}, {"def", "Docs"}}, {phone}), 20);
    state.follow(id, "abc", "visitor");
    state.notify(id, {"abc", "New photo", "IMG_1.jpg", 30});
    state.send(id, phone, {"def", "Docs", 40});

    const RelayState loaded = RelayState::fromJSON(state.toJSON());
    const RelayMac* mac = loaded.mac(id);
    ASSERT_NE(mac, nullptr);
    EXPECT_NE(loaded.authenticated(id, credentials.secret), nullptr);
    EXPECT_EQ(mac->createdAt, 10);
    EXPECT_EQ(mac->lastCheckIn, 20);
    EXPECT_EQ(mac->presence, presenceWith({{"abc", "Photos"}, {"def", "Docs"}}, {phone}));
    EXPECT_EQ(mac->followerCount("abc"), 1u);
    EXPECT_EQ(mac->notifications, (std::deque<RelayNotification>{{"abc", "New photo", "IMG_1.jpg", 30}}));
    EXPECT_EQ(mac->pending.at(phone), (std::deque<RelayPendingItem>{{"def", "Docs", 40}}));

    const auto valid = nlohmann::json::parse(state.toJSON());
    const auto changed = [&](const std::function<void(nlohmann::json&)>& change) {
        auto copy = valid;
        change(copy);
        return copy.dump();
    };
    const std::vector<std::pair<std::string, std::string>> refused{
        {"empty", ""},
        {"truncated", state.toJSON().substr(0, 20)},
        {"no macs", R"({"version":1})"},
        {"missing member", changed([&](auto& j) { j["macs"][id].erase("shares"); })},
        {"bad digest", changed([&](auto& j) { j["macs"][id]["secretSHA256"] = "not a digest"; })},
        {"other version", changed([](auto& j) { j["version"] = 2; })},
        {"wrong type", changed([&](auto& j) { j["macs"][id]["created"] = "yesterday"; })},
    };
    for (const auto& [name, text] : refused) {
        SCOPED_TRACE(name);
        EXPECT_THROW(RelayState::fromJSON(text), RelayStateError);
    }
}

TEST(RelayStateTest, FileIsEmptyWhenMissingPrivateWhenSavedAndUntouchedWhenUndecodable) {
    TempDir dir;
    const fs::path path = dir.path() / "relay.json";
    EXPECT_EQ(RelayStateFile::load(path).macCount(), 0u);

    RelayState state;
    state.signUp("Mac", 1);
    RelayStateFile::save(path, state);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(RelayStateFile::load(path).macCount(), 1u);

    const std::string broken = R"({"version":1,"macs":{"x":)";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << broken;
    EXPECT_THROW(RelayStateFile::load(path), RelayStateError);
    EXPECT_EQ(readFile(path), broken);
    EXPECT_THROW(RelayStateFile::load(dir.path()), RelayStateError) << "a directory is no state file";
}
