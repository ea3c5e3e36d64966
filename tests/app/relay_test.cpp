// The relay client against a scripted relay: what it sends, and how it takes failures, bad answers and
// relays that never answer.
#include "app/system/relay_client.h"
#include "fake_relay.h"
#include "support/file_contents.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <fstream>
#include <sys/stat.h>

using Json = nlohmann::json;
using Result = RelayClient::SendResult;

namespace {

constexpr char tokenA[] = "a2b3c4d5e6";

class RelayTest : public testing::Test {
protected:
    /// A client of `hosts`, or of `fake` when none are given.
    std::unique_ptr<RelayClient> makeRelay(std::vector<QUrl> hosts = {}) {
        auto relay = std::make_unique<RelayClient>(
            dir.path(), hosts.empty() ? std::vector{fake.url()} : std::move(hosts),
            RelayClient::Timing{.healthTimeout = std::chrono::milliseconds(300),
                                .requestIdle = std::chrono::milliseconds(500)});
        relay->setSsidProvider([] { return std::string(); });
        relay->setCheckInProvider([] {
            return RelayClient::CheckIn{.name = "Studio <Mac>",
                                        .lan = {"http://192.168.1.20:47470"},
                                        .shares = {{tokenA, "Holiday"}},
                                        .deviceTokens = {"phonetoken1"}};
        });
        return relay;
    }
    /// Runs one check-in to its end.
    static void checkIn(RelayClient& relay) {
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

    TempDir dir;
    FakeRelay fake;
};

} // namespace

TEST_F(RelayTest, SignsUpOnceEvenForConcurrentCheckInsSendsHashedPhonesAndKeepsItsIdentityPrivate) {
    auto relay = makeRelay();
    int done = 0;
    relay->checkIn([&] { ++done; });
    relay->checkIn([&] { ++done; });
    ASSERT_TRUE(spinUntil([&] { return done == 2; }));
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

    struct stat info {};
    ASSERT_EQ(stat((dir.path() / "relay.json").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    auto again = makeRelay();
    checkIn(*again);
    EXPECT_EQ(count("/api/macs"), 1u) << "neither a concurrent check-in nor a stored identity signs up";
    EXPECT_EQ(again->deviceBase(), fake.base() + "/d/mac1");
    EXPECT_EQ(again->link(tokenA), fake.base() + "/k/mac1/" + tokenA);
    for (const std::string text : {"not json", R"({"macId":"m"})", R"({"macId":1,"secret":"s"})", "[]"}) {
        std::ofstream(dir.path() / "relay.json") << text;
        EXPECT_FALSE(makeRelay()->identity()) << text;
    }
}

TEST_F(RelayTest, OnlyACreatedReplyWithBothTextsMakesAnAccount) {
    const FakeRelay::Reply refusals[] = {{200, R"({"macId":"m","secret":"s"})"},
                                         {201, R"({"macId":"m"})"},
                                         {201, R"({"macId":"m","secret":7})"},
                                         {201, "not json"},
                                         {201, R"(["m","s"])"},
                                         {500, "{}"}};
    for (const FakeRelay::Reply& refusal : refusals) {
        fake.setHandler(FakeRelay::on("/api/macs", refusal));
        auto relay = makeRelay();
        checkIn(*relay);
        EXPECT_FALSE(relay->identity() || relay->base()) << refusal.body;
        EXPECT_FALSE(std::filesystem::exists(dir.path() / "relay.json"));
        EXPECT_EQ(count("/presence"), 0u);
    }
}

TEST_F(RelayTest, FollowersAreReadOnlyWhenEveryCountIsAnIntegerAndOnlyA401ForgetsTheAccount) {
    auto relay = makeRelay();
    for (const std::string reply :
         {R"({})", R"({"followers":{"a2b3c4d5e6":"3"}})", R"({"followers":{"a2b3c4d5e6":1.5}})",
          R"({"followers":{"a2b3c4d5e6":4,"zz9yy8xx7w":null}})", R"({"followers":[1]})", "oops"}) {
        fake.setHandler(
            FakeRelay::on("/presence", {200, R"({"followers":{"a2b3c4d5e6":3,"zz9yy8xx7w":0}})"}));
        checkIn(*relay);
        EXPECT_EQ(relay->followers(), (std::map<std::string, int>{{tokenA, 3}, {"zz9yy8xx7w", 0}}));
        fake.setHandler(FakeRelay::on("/presence", {200, reply}));
        checkIn(*relay);
        EXPECT_TRUE(relay->followers().empty()) << reply;
        EXPECT_EQ(relay->base(), fake.base()) << "a 200 keeps the relay even when its counts are unusable";
    }
    fake.setHandler(FakeRelay::on("/presence", {200, R"({"followers":{"a2b3c4d5e6":2}})"}));
    checkIn(*relay);
    for (const int status : {500, 404, 403}) {
        fake.setHandler(FakeRelay::on("/presence", {status, "{}"}));
        checkIn(*relay);
        EXPECT_TRUE(relay->base() && relay->identity()) << status;
        EXPECT_EQ(relay->followers().at(tokenA), 2) << status;
    }
    fake.setHandler(FakeRelay::on("/presence", {401, "{}"}));
    checkIn(*relay);
    EXPECT_FALSE(relay->identity() || std::filesystem::exists(dir.path() / "relay.json"));
    EXPECT_EQ(relay->base(), fake.base()) << "the base stays until a check-in fails to reach the relay";
    EXPECT_FALSE(relay->link(tokenA)) << "derived addresses need the account too";
    fake.setHandler(&FakeRelay::healthy);
    checkIn(*relay);
    EXPECT_EQ(count("/api/macs"), 2u);
}

TEST_F(RelayTest, HealthCheckTriesHostsInOrderAndClearsTheBaseWhenNoneAnswers) {
    const QUrl closed = FakeRelay().url(); // nothing listens there any more
    FakeRelay sick;
    sick.setHandler(FakeRelay::on("", {503, "{}"}));
    FakeRelay silent;
    silent.setHandler(FakeRelay::on("", {200, "", true}));
    const std::vector<QUrl> unusable{closed, sick.url(), silent.url()};
    auto relay = makeRelay({unusable[0], unusable[1], unusable[2], fake.url("/")});
    checkIn(*relay);
    EXPECT_EQ(relay->base(), fake.base()) << "the first host answering 200, without its trailing slash";
    EXPECT_EQ(sick.requestsTo("/healthz").size(), 1u);

    auto alone = makeRelay(unusable);
    QElapsedTimer clock;
    clock.start();
    checkIn(*alone);
    EXPECT_LT(clock.elapsed(), 2000) << "the silent relay is given up after the health time-out";
    EXPECT_FALSE(alone->base() || alone->followBase());
}

TEST_F(RelayTest, SendReportsDeliveryWaitingOrFailureAndANotFoundChecksInAndRetriesOnce) {
    const std::pair<FakeRelay::Reply, Result> cases[] = {
        {{200, R"({"sent":2})"}, Result::sent}, {{200, R"({"sent":0})"}, Result::waiting},
        {{200, R"({})"}, Result::waiting},      {{200, R"({"sent":"2"})"}, Result::waiting},
        {{200, "garbage"}, Result::waiting},    {{500, R"({"sent":1})"}, Result::failed},
        {{401, "{}"}, Result::failed},          {{200, "", true}, Result::failed}};
    auto relay = makeRelay();
    for (const auto& [reply, expected] : cases) {
        fake.setHandler(FakeRelay::on("/send", reply));
        EXPECT_EQ(send(*relay), expected) << reply.status << " " << reply.body;
    }
    const auto sent = fake.requestsTo("/send").at(0);
    EXPECT_EQ(sent.target, "/api/macs/mac1/send");
    EXPECT_EQ(
        sent.json(),
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
