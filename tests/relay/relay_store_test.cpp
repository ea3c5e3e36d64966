// The relay's store, the same cases on both engines: the limits that bound it, how it counts followers
// and keeps items, what expires, the import of an earlier state file, and relays sharing one database.
#include "relay/store/relay_store.h"

#include "relay/secret_hash.h"
#include "relay/store/relay_state_import.h"
#include "scratch_store.h"
#include "support/file_contents.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>
#include <tuple>

namespace {

using Engine = RelayDatabase::Engine;
using Follow = RelayStore::FollowResult;
using namespace std::chrono_literals;

const auto digestOf = SecretHash::sha256Hex;

RelayPresence presenceWith(std::vector<RelayShare> shares, std::vector<std::string> devices = {}) {
    return {"Studio", {"http://192.168.1.20:47470"}, std::move(shares), "Home", std::move(devices)};
}

class RelayStoreTest : public ::testing::TestWithParam<Engine> {
protected:
    ScratchStore scratch{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(Engines, RelayStoreTest, ::testing::Values(Engine::sqlite, Engine::postgresql),
                         [](const auto& info) {
                             return info.param == Engine::sqlite ? "sqlite" : "postgresql";
                         });

} // namespace

TEST_P(RelayStoreTest, SignUpKeepsOnlyTheSecretsDigestAndBoundsSignUpsPerNetworkAndHour) {
    RelayStore store = scratch.open({.signUpsPerHour = 2});
    const auto [id, secret] = store.signUp("Studio", "192.0.2.1", 3600).value();
    EXPECT_TRUE(store.authenticated(id, secret));
    // The same length, wrong only in its last character; then one character short.
    for (const std::string& wrong : {secret.substr(0, secret.size() - 1) + "?", secret.substr(1)}) {
        EXPECT_FALSE(store.authenticated(id, wrong)) << wrong;
    }
    EXPECT_FALSE(store.authenticated("someone-else", secret));
    EXPECT_EQ(store.mac(id)->secretHash, digestOf(secret));
    // FIPS 180-2, appendix B.1: SHA-256 in lower-case hex, as the Mac computes it too.
    EXPECT_EQ(digestOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    // Two an hour from an IPv4 address (also when seen as IPv4-mapped IPv6) and from an IPv6 /64.
    for (const auto& [source, now, allowed] : std::vector<std::tuple<std::string, std::int64_t, bool>>{
             {"192.0.2.1", 3601, true},
             {"::ffff:192.0.2.1", 7199, false},
             {"192.0.2.2", 7199, true},
             {"2001:db8:1:2::1", 3600, true},
             {"2001:db8:1:2:ffff::9", 3600, true},
             {"2001:db8:1:2::3", 3600, false},
             {"2001:db8:1:3::1", 3600, true},
             {"192.0.2.1", 7200, true},
         }) {
        EXPECT_EQ(store.signUp("Mac", source, now).has_value(), allowed) << source << " at " << now;
    }
    EXPECT_EQ(store.macCount(), 7u) << "a refused sign-up keeps nothing";
}

TEST_P(RelayStoreTest, CheckInKeepsWithinLimitsAndDropsDuplicates) {
    RelayStore store = scratch.open(
        {.maxSharesPerMac = 2, .maxDevicesPerMac = 1, .maxAddressesPerMac = 1, .maxTextBytes = 3});
    const auto id = store.signUp("Mac", "192.0.2.1", 1)->macId;
    RelayPresence presence = presenceWith({{"one", "First"}, {"one", "again"}, {"two", "2"}, {"three", "3"}},
                                          {digestOf("p1"), digestOf("p2")});
    presence.lan = {"http://a", "http://b"};
    EXPECT_EQ(store.checkIn(id, presence, 50).size(), 2u);
    EXPECT_EQ(store.mac(id)->presence,
              (RelayPresence{"Stu", {"http://a"}, {{"one", "Fir"}, {"two", "2"}}, "Hom", {digestOf("p1")}}));
    // The same shares in another order: the order is the Mac's preference.
    presence.shares = {{"two", "2"}, {"one", "Fir"}};
    store.checkIn(id, presence, 60);
    EXPECT_EQ(store.mac(id)->presence.shares, (std::vector<RelayShare>{{"two", "2"}, {"one", "Fir"}}));
    EXPECT_EQ(store.mac(id)->lastCheckIn, 60);
    EXPECT_THROW(store.checkIn("nobody", presence, 70), std::out_of_range);
}

TEST_P(RelayStoreTest, FollowersNotificationsAndItemsStayWithinTheirBoundsAndGoWithTheirTargets) {
    RelayStore store = scratch.open({.maxFollowersPerShare = 2,
                                     .maxFollowersPerMac = 3,
                                     .maxNotificationsPerShare = 2,
                                     .maxNotificationsPerMac = 3,
                                     .maxPendingPerDevice = 2,
                                     .maxPendingPerMac = 3,
                                     .maxBodyTextBytes = 4});
    const auto id = store.signUp("Mac", "192.0.2.1", 1)->macId;
    const std::string one = digestOf("phone one"), two = digestOf("phone two");
    store.checkIn(id, presenceWith({{"a", "A"}, {"b", "B"}, {"quiet", "Q"}}, {one, two}), 2);
    // Once per visitor; "v3" finds share "a" full, "v2" then the Mac.
    for (const auto& [share, visitor, result] :
         std::vector<std::tuple<std::string, std::string, Follow>>{{"a", "v1", Follow::followed},
                                                                   {"a", "v1", Follow::alreadyFollowing},
                                                                   {"a", "v2", Follow::followed},
                                                                   {"a", "v3", Follow::full},
                                                                   {"b", "v1", Follow::followed},
                                                                   {"b", "v2", Follow::full},
                                                                   {"gone", "v1", Follow::unknownShare}}) {
        EXPECT_EQ(store.follow(id, share, visitor), result) << share << " " << visitor;
    }
    EXPECT_FALSE(store.notify(id, {"quiet", "t", "nobody follows", 3}));
    EXPECT_FALSE(store.send(id, digestOf("stranger"), {"s", "x", 3}));
    // Share "a" and phone one get three each, share "b" and phone two two each: the first of the three
    // falls to the per-target bound, the second to the per-Mac bound.
    std::int64_t now = 3;
    for (const std::string body : {"a1", "a2", "a3 long", "b1", "b2"}) {
        EXPECT_TRUE(store.notify(id, {body.substr(0, 1), "t", body, ++now}));
        EXPECT_TRUE(store.send(id, body.starts_with("a") ? one : two, {body, "x", now}));
    }
    EXPECT_EQ(store.notifications(id), (std::vector<RelayNotification>{
                                           {"a", "t", "a3 l", 6}, {"b", "t", "b1", 7}, {"b", "t", "b2", 8}}))
        << "the body cut to 4 bytes";
    EXPECT_EQ(store.pending(id, one), (std::vector<RelayPendingItem>{{"a3 long", "x", 6}}));
    EXPECT_EQ(store.pending(id, two).size(), 2u);
    // Once "a" ends its followers make room (while it was reported they were kept), its notifications
    // lead nowhere, and a removed phone collects nothing.
    EXPECT_EQ(store.checkIn(id, presenceWith({{"b", "B"}}, {two}), 9),
              (std::vector<std::pair<std::string, std::size_t>>{{"b", 1}}));
    EXPECT_EQ(store.followerCount(id, "a"), 2u);
    EXPECT_EQ(store.follow(id, "b", "v2"), Follow::followed);
    EXPECT_EQ(store.followerCount(id, "a"), 0u);
    EXPECT_EQ(store.notifications(id).size(), 2u);
    EXPECT_FALSE(store.send(id, one, {"s4", "x", 9}));
    EXPECT_TRUE(store.pending(id, one).empty());
}

TEST_P(RelayStoreTest, SubscriptionsBelongToAPhoneOrAFollowerAndGoWithThemOrWithTheirEndpoint) {
    RelayStore store = scratch.open({.maxSubscriptionsPerDevice = 2});
    int made = 0;
    const auto make = [&] { return "key " + std::to_string(++made); };
    EXPECT_EQ(store.pushKey(make), "key 1");
    EXPECT_EQ(store.pushKey(make), "key 1") << "made once, then kept";
    EXPECT_EQ(made, 1);

    using Subscribe = RelayStore::SubscribeResult;
    const auto id = store.signUp("Mac", "192.0.2.1", 1)->macId;
    const std::string phone = digestOf("phone");
    store.checkIn(id, presenceWith({{"a", "A"}, {"b", "B"}}, {phone}), 2);
    const auto at = [](const std::string& name) {
        return RelaySubscription{"https://push.example/" + name, "key of " + name, "secret"};
    };
    EXPECT_EQ(store.subscribePhone(id, digestOf("stranger"), at("x"), 3), Subscribe::unknown);
    // A browser subscribing again replaces its keys; the phone keeps its two newest browsers.
    for (const auto& name : {"one", "two", "one", "three"}) {
        EXPECT_EQ(store.subscribePhone(id, phone, at(name), 3), Subscribe::subscribed);
    }
    EXPECT_EQ(store.phoneSubscriptions(id, phone), (std::vector<RelaySubscription>{at("one"), at("three")}));

    store.follow(id, "a", "v1");
    store.follow(id, "a", "v2");
    EXPECT_EQ(store.subscribeFollower(id, "gone", "v1", at("f"), 4), Subscribe::unknown);
    EXPECT_EQ(store.subscribeFollower(id, "b", "v1", at("f"), 4), Subscribe::notFollowing);
    // v1 moves to another browser; v2 is that browser again, its cookie cleared: notified once.
    for (const auto& [visitor, name] : {std::pair{"v1", "old"}, {"v1", "f"}, {"v2", "f"}}) {
        EXPECT_EQ(store.subscribeFollower(id, "a", visitor, at(name), 4), Subscribe::subscribed);
    }
    EXPECT_EQ(store.followerSubscriptions(id, "a"), (std::vector<RelaySubscription>{at("f")}));
    EXPECT_TRUE(store.followerSubscriptions(id, "b").empty());

    // A browser's push service renews a subscription: both follows of that browser move.
    EXPECT_EQ(store.renew(at("f").endpoint, at("g")), 2u);
    EXPECT_EQ(store.renew(at("f").endpoint, at("h")), 0u);
    EXPECT_EQ(store.followerSubscriptions(id, "a"), (std::vector<RelaySubscription>{at("g")}));

    store.unsubscribe(at("one").endpoint);
    store.unsubscribe(at("g").endpoint);
    EXPECT_EQ(store.phoneSubscriptions(id, phone), (std::vector<RelaySubscription>{at("three")}));
    EXPECT_TRUE(store.followerSubscriptions(id, "a").empty());
    store.checkIn(id, presenceWith({{"a", "A"}}, {}), 5);
    EXPECT_TRUE(store.phoneSubscriptions(id, phone).empty()) << "the phone was removed";

    // What waits for a phone, newest first, until opened through its own share's link.
    store.checkIn(id, presenceWith({{"a", "A"}}, {phone}), 6);
    const auto first = store.send(id, phone, {"a", "First", 6}).value();
    const auto second = store.send(id, phone, {"b", "Second", 7}).value();
    EXPECT_EQ(store.waiting(id, phone),
              (std::vector<RelayWaitingItem>{{second, "b", "Second", 7}, {first, "a", "First", 6}}));
    store.collect(id, "a", second);
    store.collect(id, "b", second);
    EXPECT_EQ(store.waiting(id, phone), (std::vector<RelayWaitingItem>{{first, "a", "First", 6}}));
}

TEST_P(RelayStoreTest, RemovesWhatHasExpiredAndMacsSilentForNinetyDays) {
    constexpr std::int64_t day = 86400, now = 1000 * day;
    RelayStore store = scratch.open();
    const std::string phone = digestOf("phone");
    const auto signedUp = [&](std::int64_t at, std::optional<std::int64_t> checkIn) {
        const std::string id = store.signUp("Mac", "192.0.2.1", at)->macId;
        if (checkIn) {
            store.checkIn(id, presenceWith({{"a", "A"}}, {phone}), *checkIn);
            store.follow(id, "a", "visitor");
        }
        return id;
    };
    const std::string neverCheckedIn = signedUp(now - 91 * day, std::nullopt),
                      recent = signedUp(now - 91 * day, now - 89 * day),
                      silent = signedUp(now - 100 * day, now - 91 * day),
                      fresh = signedUp(now - day, std::nullopt);
    for (const std::int64_t age : {8 * day, 6 * day}) {
        store.notify(recent, {"a", "New in A", std::to_string(age), now - age});
        store.send(recent, phone, {"a", std::to_string(age), now - age});
        store.notify(silent, {"a", "New in A", "x", now});
    }
    store.removeExpired(now);
    EXPECT_TRUE(store.mac(recent) && store.mac(fresh));
    EXPECT_FALSE(store.mac(neverCheckedIn) || store.mac(silent));
    EXPECT_EQ(store.notifications(recent),
              (std::vector<RelayNotification>{{"a", "New in A", "518400", now - 6 * day}}));
    EXPECT_EQ(store.pending(recent, phone), (std::vector<RelayPendingItem>{{"a", "518400", now - 6 * day}}));
    // Nothing of a removed Mac stays behind.
    const auto left =
        store.database().run("SELECT (SELECT count(*) FROM shares WHERE mac_id = $1) + (SELECT count(*)"
                             " FROM followers WHERE mac_id = $1) + (SELECT count(*) FROM notifications"
                             " WHERE mac_id = $1)",
                             {silent});
    EXPECT_EQ(integerOf(left.at(0).at(0)), 0);
}

TEST_P(RelayStoreTest, ImportsAnEarlierStateFileOnceKeepsItAsItWasMigratesAndRefusesANewerSchema) {
    const std::string phone(64, 'b'), secretDigest = digestOf("the secret");
    const std::string shares =
        R"("shares":[{"token":"abc","title":"Photos"},{"token":"def","title":"Docs"}],)";
    const std::string document =
        R"({"version":1,"macs":{"mac-1":{"secretSHA256":")" + secretDigest +
        R"(","created":10,"lastCheckIn":20,"name":"Mac \"quoted\" é","ssid":"Home",)"
        R"("lan":["http://192.168.1.20:47470","http://studio.local:47470"],)" +
        shares + R"("devices":[")" + phone +
        R"("],"followers":{"abc":["v1","v2"]},"notifications":[{"token":"abc","title":"New","body":"IMG_1.jpg",)"
        R"("at":30}],"pending":{")" +
        phone + R"(":[{"token":"def","title":"Docs","at":40}]}}}})";
    const TempDir dir;
    const auto file = dir.path() / "relay.json";
    std::ofstream(file) << document;
    auto store = std::make_unique<RelayStore>(scratch.open());
    const auto kept = RelayStateImport::importFile(*store, file, 1234);
    ASSERT_EQ(kept, dir.path() / "relay.json.imported-1234");
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(readFile(*kept), document) << "kept as it was";
    EXPECT_EQ(store->mac("mac-1"), (RelayMac{secretDigest,
                                             10,
                                             20,
                                             {"Mac \"quoted\" é",
                                              {"http://192.168.1.20:47470", "http://studio.local:47470"},
                                              {{"abc", "Photos"}, {"def", "Docs"}},
                                              "Home",
                                              {phone}},
                                             {},
                                             {}}));
    store = std::make_unique<RelayStore>(scratch.open()); // what was imported is kept
    EXPECT_TRUE(store->authenticated("mac-1", "the secret"));
    EXPECT_EQ(store->followerCount("mac-1", "abc"), 2u);
    EXPECT_EQ(store->notifications("mac-1"),
              (std::vector<RelayNotification>{{"abc", "New", "IMG_1.jpg", 30}}));
    EXPECT_EQ(store->pending("mac-1", phone), (std::vector<RelayPendingItem>{{"def", "Docs", 40}}));
    // Killed after the import but before the rename: the next start adds nothing twice.
    std::filesystem::copy_file(*kept, file);
    RelayStateImport::importFile(*store, file, 1235);
    EXPECT_EQ(store->notifications("mac-1").size(), 1u);
    EXPECT_EQ(RelayStateImport::importFile(*store, file, 1236), std::nullopt) << "no file, nothing to import";

    std::string noMember = document, badDigest = document;
    noMember.erase(noMember.find(shares), shares.size());
    badDigest.replace(badDigest.find(secretDigest), secretDigest.size(), "not a digest");
    for (const std::string& text : {std::string(), document.substr(0, 20), std::string(R"({"version":1})"),
                                    noMember, badDigest, std::string(R"({"version":2,"macs":{}})")}) {
        std::ofstream(file, std::ios::trunc) << text;
        EXPECT_THROW(RelayStateImport::importFile(*store, file, 1237), RelayStateError) << text;
        EXPECT_EQ(readFile(file), text) << "left as it is";
    }
    // A database of the first version gains where Macs check in from (and what push notifications need),
    // keeping what it held.
    for (const std::string column : {"seen_ipv4", "seen_ipv4_at", "seen_ipv6", "seen_ipv6_at"}) {
        store->database().run("ALTER TABLE macs DROP COLUMN " + column);
    }
    store->database().run("ALTER TABLE pending DROP COLUMN ref");
    store->database().run("DROP TABLE subscriptions");
    store->database().run("DROP TABLE push_key");
    store->database().run("UPDATE relay_schema SET version = 1");
    store = std::make_unique<RelayStore>(scratch.open());
    store->checkIn("mac-1", {}, 50, "2001:db8::1");
    store->checkIn("mac-1", {}, 60, "192.0.2.1");
    EXPECT_EQ(store->mac("mac-1")->seenIPv6, (RelaySighting{"2001:db8::/64", 50}))
        << "kept over the IPv4 check-in";
    EXPECT_EQ(store->mac("mac-1")->seenIPv4, (RelaySighting{"192.0.2.1", 60}));
    store->database().run("UPDATE relay_schema SET version = 99");
    EXPECT_THROW(scratch.open(), RelayStoreError) << "a database of a newer tesk-relay";
}

// Two relays on one database, as behind a load balancer: the same browsers follow through both at once
// and both keep items for one phone. Each follower counts once, the bound holds exactly, nothing is lost.
TEST_P(RelayStoreTest, RelaysSharingADatabaseCountEachFollowerOnceAndLoseNoItem) {
    constexpr int visitors = 40, items = 30;
    constexpr std::size_t bound = 25;
    const std::string phone = digestOf("phone");
    std::string id;
    {
        RelayStore store = scratch.open();
        id = store.signUp("Mac", "192.0.2.1", 1)->macId;
        store.checkIn(id, presenceWith({{"a", "A"}}, {phone}), 2);
    }
    std::atomic<int> followed = 0;
    const auto relay = [&](int which) {
        RelayStore store = scratch.open(
            {.maxFollowersPerShare = bound, .maxPendingPerDevice = 100, .maxPendingPerMac = 100});
        for (int index = 0; index < std::max(visitors, items); ++index) {
            if (index < visitors) {
                followed += store.follow(id, "a", "v" + std::to_string(index)) == Follow::followed;
            }
            if (index < items) {
                store.send(id, phone, {std::to_string(which) + "-" + std::to_string(index), "x", 3});
            }
        }
    };
    std::thread first(relay, 1), second(relay, 2);
    first.join();
    second.join();
    RelayStore store = scratch.open();
    EXPECT_EQ(followed, static_cast<int>(bound));
    EXPECT_EQ(store.followerCount(id, "a"), bound);
    EXPECT_EQ(store.pending(id, phone).size(), 2u * items);
}
