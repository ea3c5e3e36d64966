// The relay's state: the limits that bound it, how it counts followers and keeps items, its file
// format, and the digests it keeps instead of secrets.
#include "relay/relay_state.h"

#include "relay/relay_state_file.h"
#include "relay/secret_hash.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <tuple>

namespace {

using Follow = RelayState::FollowResult;

const auto digestOf = SecretHash::sha256Hex;

RelayPresence presenceWith(std::vector<RelayShare> shares, std::vector<std::string> devices = {}) {
    return {"Studio", {"http://192.168.1.20:47470"}, std::move(shares), "Home", std::move(devices)};
}

} // namespace

TEST(RelayStateTest, SignUpKeepsOnlyTheSecretsDigest) {
    RelayState state;
    const auto [id, secret] = state.signUp("Studio", 100).value();
    EXPECT_NE(state.authenticated(id, secret), nullptr);
    // The same length, wrong only in its last character; then one character short.
    for (const std::string& wrong : {secret.substr(0, secret.size() - 1) + "?", secret.substr(1)}) {
        EXPECT_EQ(state.authenticated(id, wrong), nullptr) << wrong;
    }
    EXPECT_EQ(state.authenticated("someone-else", secret), nullptr);
    EXPECT_EQ(state.toJSON().find(secret), std::string::npos);
    // FIPS 180-2, appendix B.1: SHA-256 in lower-case hex, as the Mac computes it too.
    EXPECT_EQ(digestOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(RelayStateTest, CheckInKeepsWithinLimitsAndDropsDuplicates) {
    RelayState state(
        RelayLimits{.maxSharesPerMac = 2, .maxDevicesPerMac = 1, .maxAddressesPerMac = 1, .maxTextBytes = 3});
    const auto id = state.signUp("Mac", 1)->macId;
    RelayPresence presence = presenceWith({{"one", "First"}, {"one", "again"}, {"two", "2"}, {"three", "3"}},
                                          {digestOf("p1"), digestOf("p2")});
    presence.lan = {"http://a", "http://b"};
    EXPECT_EQ(state.checkIn(id, presence, 50).size(), 2u);
    EXPECT_EQ(state.mac(id)->presence,
              (RelayPresence{"Stu", {"http://a"}, {{"one", "Fir"}, {"two", "2"}}, "Hom", {digestOf("p1")}}));
}

TEST(RelayStateTest, FollowersNotificationsAndItemsStayWithinTheirBoundsAndGoWithTheirTargets) {
    RelayState state(RelayLimits{.maxFollowersPerShare = 2,
                                 .maxFollowersPerMac = 3,
                                 .maxNotificationsPerShare = 2,
                                 .maxNotificationsPerMac = 3,
                                 .maxPendingPerDevice = 2,
                                 .maxPendingPerMac = 3,
                                 .maxBodyTextBytes = 4});
    const auto id = state.signUp("Mac", 1)->macId;
    const std::string one = digestOf("phone one"), two = digestOf("phone two");
    state.checkIn(id, presenceWith({{"a", "A"}, {"b", "B"}, {"quiet", "Q"}}, {one, two}), 2);
    // Once per visitor; "v3" finds share "a" full, "v2" then the Mac.
    for (const auto& [share, visitor, result] :
         std::vector<std::tuple<std::string, std::string, Follow>>{{"a", "v1", Follow::followed},
                                                                   {"a", "v1", Follow::alreadyFollowing},
                                                                   {"a", "v2", Follow::followed},
                                                                   {"a", "v3", Follow::full},
                                                                   {"b", "v1", Follow::followed},
                                                                   {"b", "v2", Follow::full},
                                                                   {"gone", "v1", Follow::unknownShare}}) {
        EXPECT_EQ(state.follow(id, share, visitor), result) << share << " " << visitor;
    }
    EXPECT_FALSE(state.notify(id, {"quiet", "t", "nobody follows", 3}));
    EXPECT_FALSE(state.send(id, digestOf("stranger"), {"s", "x", 3}));
    // Share "a" and phone one get three each, share "b" and phone two two each: the first of the three
    // falls to the per-target bound, the second to the per-Mac bound.
    std::int64_t now = 3;
    for (const std::string body : {"a1", "a2", "a3 long", "b1", "b2"}) {
        EXPECT_TRUE(state.notify(id, {body.substr(0, 1), "t", body, ++now}));
        EXPECT_TRUE(state.send(id, body.starts_with("a") ? one : two, {body, "x", now}));
    }
    const RelayMac& mac = *state.mac(id);
    EXPECT_EQ(mac.notifications, (std::deque<RelayNotification>{
                                     {"a", "t", "a3 l", 6}, {"b", "t", "b1", 7}, {"b", "t", "b2", 8}}))
        << "the body cut to 4 bytes";
    EXPECT_EQ(mac.pending.at(one), (std::deque<RelayPendingItem>{{"a3 long", "x", 6}}));
    EXPECT_EQ(mac.pending.at(two).size(), 2u);
    // Once "a" ends its followers make room (while it was reported they were kept), its notifications
    // lead nowhere, and a removed phone collects nothing.
    EXPECT_EQ(state.checkIn(id, presenceWith({{"b", "B"}}, {two}), 9),
              (std::vector<std::pair<std::string, std::size_t>>{{"b", 1}}));
    EXPECT_EQ(mac.followerCount("a"), 2u);
    EXPECT_EQ(state.follow(id, "b", "v2"), Follow::followed);
    EXPECT_EQ(mac.followerCount("a"), 0u);
    EXPECT_EQ(mac.notifications.size(), 2u);
    EXPECT_FALSE(state.send(id, one, {"s4", "x", 9}));
    EXPECT_FALSE(mac.pending.contains(one));
}

TEST(RelayStateTest, FileKeepsEverythingReadableOnlyByItsOwnerAndRefusesWhatItDidNotWrite) {
    RelayState state;
    const std::string id = state.signUp("Mac \"quoted\" é", 10)->macId, phone = digestOf("phone");
    state.checkIn(id, presenceWith({{"abc", "Photos"}, {"def", "Docs"}}, {phone}), 20);
    state.follow(id, "abc", "visitor");
    state.notify(id, {"abc", "New photo", "IMG_1.jpg", 30});
    state.send(id, phone, {"def", "Docs", 40});

    // Every member is set above, so a member the writer drops comes back different.
    const auto fields = [](const RelayMac& mac) {
        return std::tie(mac.secretHash, mac.createdAt, mac.lastCheckIn, mac.presence, mac.followers,
                        mac.notifications, mac.pending);
    };
    TempDir dir;
    const auto file = dir.path() / "relay.json";
    RelayStateFile::save(file, state);
    EXPECT_EQ(std::filesystem::status(file).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const RelayState loaded = RelayStateFile::load(file);
    ASSERT_NE(loaded.mac(id), nullptr);
    EXPECT_TRUE(fields(*loaded.mac(id)) == fields(*state.mac(id)));

    const auto valid = nlohmann::json::parse(state.toJSON());
    auto noMember = valid, badDigest = valid;
    noMember["macs"][id].erase("shares");
    badDigest["macs"][id]["secretSHA256"] = "not a digest";
    for (const std::string& text :
         {std::string(), state.toJSON().substr(0, 20), std::string(R"({"version":1})"), noMember.dump(),
          badDigest.dump(), std::string(R"({"version":2,"macs":{}})")}) {
        EXPECT_THROW(RelayState::fromJSON(text), RelayStateError) << text;
    }
}
