// The relay's state: the limits that bound it, how it counts followers and keeps items, its file
// format, and the digests it keeps instead of secrets.
#include "relay/relay_state.h"

#include "relay/relay_state_file.h"
#include "relay/secret_hash.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

namespace {

using Follow = RelayState::FollowResult;

std::string digestOf(std::string_view deviceToken) {
    return SecretHash::sha256Hex(deviceToken);
}

RelayPresence presenceWith(std::vector<RelayShare> shares, std::vector<std::string> devices = {}) {
    return {"Studio", {"http://192.168.1.20:47470"}, std::move(shares), "Home", std::move(devices)};
}

} // namespace

TEST(RelayStateTest, SignUpKeepsOnlyTheSecretsDigestUpToTheMacLimit) {
    RelayState state(RelayLimits{.maxMacs = 1});
    const auto credentials = state.signUp("Studio", 100);
    ASSERT_TRUE(credentials);
    EXPECT_NE(state.authenticated(credentials->macId, credentials->secret), nullptr);
    std::string wrong = credentials->secret;
    wrong.back() ^= 1;
    for (const std::string& secret : {wrong, credentials->secret.substr(1)}) {
        EXPECT_EQ(state.authenticated(credentials->macId, secret), nullptr) << secret;
    }
    EXPECT_EQ(state.authenticated("someone-else", credentials->secret), nullptr);
    EXPECT_EQ(state.toJSON().find(credentials->secret), std::string::npos);
    // FIPS 180-2, appendix B.1: SHA-256 in lower-case hex, as the Mac computes it too.
    EXPECT_EQ(SecretHash::sha256Hex("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_FALSE(state.signUp("second", 1));
}

TEST(RelayStateTest, CheckInKeepsWithinLimitsAndDropsDuplicates) {
    RelayState state(
        RelayLimits{.maxSharesPerMac = 2, .maxDevicesPerMac = 1, .maxAddressesPerMac = 1, .maxTextBytes = 3});
    const auto id = state.signUp("Mac", 1)->macId;
    RelayPresence presence = presenceWith({{"one", "First"}, {"one", "again"}, {"two", "2"}, {"three", "3"}},
                                          {digestOf("p1"), digestOf("p2")});
    presence.lan.push_back("http://b");
    EXPECT_EQ(state.checkIn(id, presence, 50).size(), 2u);
    EXPECT_EQ(
        state.mac(id)->presence,
        (RelayPresence{
            "Stu", {"http://192.168.1.20:47470"}, {{"one", "Fir"}, {"two", "2"}}, "Hom", {digestOf("p1")}}));
}

TEST(RelayStateTest, FollowersCountOncePerVisitorWithinLimitsThatEndedSharesMakeRoomIn) {
    RelayState state(RelayLimits{.maxFollowersPerShare = 2, .maxFollowersPerMac = 3});
    const auto id = state.signUp("Mac", 1)->macId;
    state.checkIn(id, presenceWith({{"old", "Old"}, {"new", "New"}}), 2);
    EXPECT_EQ(state.follow(id, "old", "v1"), Follow::followed);
    EXPECT_EQ(state.follow(id, "old", "v1"), Follow::alreadyFollowing);
    EXPECT_EQ(state.follow(id, "old", "v2"), Follow::followed);
    EXPECT_EQ(state.follow(id, "old", "v3"), Follow::full) << "per share";
    EXPECT_EQ(state.follow(id, "new", "v1"), Follow::followed);
    EXPECT_EQ(state.follow(id, "new", "v2"), Follow::full) << "per Mac";
    EXPECT_EQ(state.follow(id, "gone", "v1"), Follow::unknownShare);
    // Once "old" ends, its followers make room; while it was reported they were kept.
    EXPECT_EQ(state.checkIn(id, presenceWith({{"new", "New"}}), 3),
              (std::vector<std::pair<std::string, std::size_t>>{{"new", 1}}));
    EXPECT_EQ(state.mac(id)->followerCount("old"), 2u);
    EXPECT_EQ(state.follow(id, "new", "v2"), Follow::followed);
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
    for (const std::string body : {"a1", "a2", "a3 long", "b1", "b2"}) {
        EXPECT_TRUE(state.notify(id, {body.substr(0, 1), "t", body, 4}));
    }
    // "a1" fell to the per-share bound, "a2" to the per-Mac bound; "a3 long" was cut to 4 bytes.
    const auto& kept = state.mac(id)->notifications;
    EXPECT_EQ(kept, (std::deque<RelayNotification>{
                        {"a", "t", "a3 l", 4}, {"b", "t", "b1", 4}, {"b", "t", "b2", 4}}));
    state.checkIn(id, presenceWith({{"b", "B"}}), 9);
    EXPECT_EQ(kept.size(), 2u) << "an ended share's notifications lead nowhere";
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
    EXPECT_EQ(state.mac(id)->pending.at(one), (std::deque<RelayPendingItem>{{"s3", "x", 6}}));
    EXPECT_EQ(state.mac(id)->pending.at(two).size(), 2u);
    state.checkIn(id, presenceWith({}, {two}), 8);
    EXPECT_FALSE(state.send(id, one, {"s4", "x", 9})) << "a removed phone collects nothing";
    EXPECT_FALSE(state.mac(id)->pending.contains(one));
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
    auto noMember = valid, badDigest = valid, otherVersion = valid;
    noMember["macs"][id].erase("shares");
    badDigest["macs"][id]["secretSHA256"] = "not a digest";
    otherVersion["version"] = 2;
    for (const std::string& text :
         {std::string(), state.toJSON().substr(0, 20), std::string(R"({"version":1})"), noMember.dump(),
          badDigest.dump(), otherVersion.dump()}) {
        EXPECT_THROW(RelayState::fromJSON(text), RelayStateError) << text;
    }
}

TEST(RelayStateTest, FileIsSavedReadableOnlyByItsOwner) {
    TempDir dir;
    const std::filesystem::path path = dir.path() / "relay.json";
    RelayState state;
    state.signUp("Mac", 1);
    RelayStateFile::save(path, state);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(RelayStateFile::load(path).macCount(), 1u);
}
