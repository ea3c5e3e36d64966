// The relay client against a scripted relay: what it sends, and how it takes failures, bad answers and
// relays that never answer.
#include "app/system/relay_client.h"
#include "fake_relay.h"
#include "support/file_contents.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

using Json = nlohmann::json;
using namespace std::chrono_literals;
using Result = RelayClient::SendResult;

constexpr char tokenA[] = "a2b3c4d5e6";

class RelayTest : public testing::Test {
protected:
    /// A client of `hosts`, or of `fake` when none are given.
    std::unique_ptr<RelayClient> makeRelay(std::vector<QUrl> hosts = {}) {
        auto relay = std::make_unique<RelayClient>(
            dir.path(), hosts.empty() ? std::vector{fake.url()} : std::move(hosts),
            RelayClient::Timing{.healthTimeout = 300ms, .requestIdle = 500ms});
        relay->setSsidProvider([] { return std::string(); });
        relay->setCheckInProvider([] {
            return RelayClient::CheckIn{
                "Studio <Mac>", {"http://192.168.1.20:47470"}, {{tokenA, "Holiday"}}, {"phonetoken1"}};
        });
        return relay;
    }
    /// Runs one check-in to its end, the relay answering it with `presence` when given.
    void checkIn(RelayClient& relay, const std::optional<FakeRelay::Reply>& presence = std::nullopt) {
        if (presence) {
            answer("/presence", *presence);
        }
        bool done = false;
        relay.checkIn([&] { done = true; });
        ASSERT_TRUE(spinUntil([&] { return done; }));
    }
    static Result send(RelayClient& relay) {
        std::optional<Result> result;
        relay.send("phonetoken1", tokenA, "Holiday", [&](Result r) { result = r; });
        EXPECT_TRUE(spinUntil([&] { return result.has_value(); }));
        return result.value_or(Result::failed);
    }
    std::size_t count(const std::string& suffix) const { return fake.requestsTo(suffix).size(); }
    void answer(const std::string& to, FakeRelay::Reply reply) { fake.setHandler(FakeRelay::on(to, reply)); }

    TempDir dir;
    FakeRelay fake;
};

TEST_F(RelayTest, SignsUpOnlyWhenCreatedOnceEvenForConcurrentCheckInsSendsHashedPhonesAndKeepsItPrivate) {
    // Only a 201 with both texts makes an account.
    for (const auto& [status, body] : {std::pair{200, R"({"macId":"m","secret":"s"})"},
                                       {201, R"({"macId":"m"})"},
                                       {201, R"({"macId":"m","secret":7})"},
                                       {201, "not json"},
                                       {201, R"(["m","s"])"},
                                       {500, "{}"}}) {
        answer("/api/macs", {status, body});
        auto relay = makeRelay();
        checkIn(*relay);
        EXPECT_FALSE(relay->identity() || relay->base()) << body;
        EXPECT_FALSE(std::filesystem::exists(dir.path() / "relay.json") || count("/presence") > 0);
    }
    fake.setHandler(&FakeRelay::healthy);
    const auto refused = count("/api/macs");
    auto relay = makeRelay();
    relay->checkIn([] {});
    checkIn(*relay); // while the first is under way
    EXPECT_EQ(fake.requestsTo("/api/macs").at(0).json(), (Json{{"name", "Studio <Mac>"}}));
    const auto presence = fake.requestsTo("/presence").at(0);
    EXPECT_EQ(presence.target, "/api/macs/mac1/presence");
    EXPECT_EQ(presence.headers.at("authorization"), "Bearer s3cret");
    // No Wi-Fi still sends the key; the phones' tokens never leave the computer, only their hashes.
    EXPECT_EQ(presence.json(), (Json{{"name", "Studio <Mac>"},
                                     {"lan", {"http://192.168.1.20:47470"}},
                                     {"shares", {{{"token", tokenA}, {"title", "Holiday"}}}},
                                     {"ssid", ""},
                                     {"devices", {RelayClient::sha256("phonetoken1")}}}));

    EXPECT_EQ(std::filesystem::status(dir.path() / "relay.json").permissions(), std::filesystem::perms(0600));
    auto again = makeRelay();
    checkIn(*again);
    EXPECT_EQ(count("/api/macs"), refused + 1)
        << "neither a concurrent check-in nor a stored identity signs up";
    for (const std::string text : {"not json", R"({"macId":"m"})", R"({"macId":1,"secret":"s"})", "[]"}) {
        std::ofstream(dir.path() / "relay.json") << text;
        EXPECT_FALSE(makeRelay()->identity()) << text;
    }
}

TEST_F(RelayTest, FollowersAreReadOnlyWhenEveryCountIsAnIntegerAndOnlyA401ForgetsTheAccount) {
    auto relay = makeRelay();
    for (const std::string reply :
         {R"({})", R"({"followers":{"a2b3c4d5e6":"3"}})", R"({"followers":{"a2b3c4d5e6":1.5}})",
          R"({"followers":{"a2b3c4d5e6":4,"zz9yy8xx7w":null}})", R"({"followers":[1]})", "oops"}) {
        checkIn(*relay, FakeRelay::Reply{200, R"({"followers":{"a2b3c4d5e6":3,"zz9yy8xx7w":0}})"});
        EXPECT_EQ(relay->followers(), (std::map<std::string, int>{{tokenA, 3}, {"zz9yy8xx7w", 0}}));
        checkIn(*relay, FakeRelay::Reply{200, reply});
        EXPECT_TRUE(relay->followers().empty() && relay->base()) << reply << ": a 200 keeps the relay";
    }
    checkIn(*relay, FakeRelay::Reply{200, R"({"followers":{"a2b3c4d5e6":2}})"});
    for (const int status : {500, 404, 403}) {
        checkIn(*relay, FakeRelay::Reply{status, "{}"});
        EXPECT_TRUE(relay->base() && relay->identity() && relay->followers().at(tokenA) == 2) << status;
    }
    checkIn(*relay, FakeRelay::Reply{401, "{}"});
    EXPECT_FALSE(relay->identity() || relay->link(tokenA) ||
                 std::filesystem::exists(dir.path() / "relay.json"))
        << "derived addresses need the account too";
    EXPECT_EQ(relay->base(), fake.base()) << "the base stays until a check-in fails to reach the relay";
    checkIn(*relay, FakeRelay::Reply{});
    EXPECT_EQ(count("/api/macs"), 2u);
}

TEST_F(RelayTest, HealthCheckTriesHostsInOrderAndClearsTheBaseWhenNoneAnswers) {
    FakeRelay sick, silent;
    sick.setHandler(FakeRelay::on("", {503, "{}"}));
    silent.setHandler(FakeRelay::on("", {200, "", true}));
    // First a port nothing listens on any more.
    std::vector<QUrl> hosts{FakeRelay().url(), sick.url(), silent.url()};
    auto alone = makeRelay(hosts);
    const auto start = std::chrono::steady_clock::now();
    checkIn(*alone);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s) << "the silent relay is given up";
    EXPECT_FALSE(alone->base() || alone->followBase());
    EXPECT_FALSE(sick.requestsTo("/healthz").empty());
    hosts.push_back(fake.url("/"));
    auto relay = makeRelay(hosts);
    checkIn(*relay);
    EXPECT_EQ(relay->base(), fake.base()) << "the first host answering 200, without its trailing slash";
}

TEST_F(RelayTest, SendReportsDeliveryWaitingOrFailureAndANotFoundChecksInAndRetriesOnce) {
    const std::pair<FakeRelay::Reply, Result> cases[] = {
        {{200, R"({"sent":2})"}, Result::sent}, {{200, R"({"sent":0})"}, Result::waiting},
        {{200, R"({})"}, Result::waiting},      {{200, R"({"sent":"2"})"}, Result::waiting},
        {{200, "garbage"}, Result::waiting},    {{500, R"({"sent":1})"}, Result::failed},
        {{401, "{}"}, Result::failed},          {{200, "", true}, Result::failed}};
    auto relay = makeRelay();
    for (const auto& [reply, expected] : cases) {
        answer("/send", reply);
        EXPECT_EQ(send(*relay), expected) << reply.status << " " << reply.body;
    }
    EXPECT_EQ(
        fake.requestsTo("/send").at(0).json(),
        (Json{{"device", RelayClient::sha256("phonetoken1")}, {"token", tokenA}, {"title", "Holiday"}}));

    for (const bool secondSucceeds : {true, false}) {
        int sends = 0;
        fake.setHandler([&](const FakeRelay::Request& request) {
            return !request.target.ends_with("/send") ? FakeRelay::healthy(request)
                   : ++sends == 2 && secondSucceeds   ? FakeRelay::Reply{200, R"({"sent":1})"}
                                                      : FakeRelay::Reply{404, "{}"};
        });
        const auto presences = count("/presence");
        EXPECT_EQ(send(*relay), secondSucceeds ? Result::sent : Result::failed);
        EXPECT_EQ(count("/presence"), presences + 1) << "one check-in between the two sends";
        EXPECT_EQ(sends, 2) << "a second 404 is the answer: no third try";
    }
}
