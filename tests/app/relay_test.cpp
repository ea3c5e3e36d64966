// The relay client against a scripted relay: what it sends, and how it takes failures, bad answers and
// relays that never answer.
#include "app/system/relay_client.h"
#include "fake_relay.h"
#include "support/file_contents.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <cstdlib>
#include <fstream>
#include <sys/stat.h>

using Json = nlohmann::json;

namespace {

constexpr char tokenA[] = "a2b3c4d5e6";

QUrl url(const std::string& text) {
    return QUrl(QString::fromStdString(text));
}

/// A port that refuses connections: bound to nothing after the probe closes.
std::string closedPortBase() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const auto port = probe.serverPort();
    probe.close();
    return "http://127.0.0.1:" + std::to_string(port);
}

/// Answers `status` and `body` on routes ending with `suffix`, like a healthy relay elsewhere.
FakeRelay::Handler on(const std::string& suffix, FakeRelay::Reply reply) {
    return [suffix, reply](const FakeRelay::Request& request) {
        return request.target.ends_with(suffix) ? reply : FakeRelay::healthy(request);
    };
}

class RelayTest : public testing::Test {
protected:
    std::unique_ptr<RelayClient> makeRelay(std::vector<QUrl> hosts) {
        RelayClient::Timing timing;
        timing.healthTimeout = std::chrono::milliseconds(300);
        timing.requestIdle = std::chrono::milliseconds(500);
        auto relay = std::make_unique<RelayClient>(dir.path(), std::move(hosts), timing);
        relay->setSsidProvider([] { return std::string(); });
        relay->setCheckInProvider([] {
            return RelayClient::CheckIn{.name = "Studio <Mac>",
                                  .lan = {"http://192.168.1.20:47470", "http://studio.local:47470"},
                                  .shares = {{tokenA, "Holiday"}, {"zz9yy8xx7w", "notes.txt"}},
                                  .deviceTokens = {"phonetoken1", "phonetoken2"}};
        });
        return relay;
    }
    std::unique_ptr<RelayClient> makeRelay() { return makeRelay({url(fake.base())}); }

    /// Runs one check-in to its end.
    static void checkIn(RelayClient& relay) {
        bool done = false;
        relay.checkIn([&] { done = true; });
        ASSERT_TRUE(spinUntil([&] { return done; }));
    }
    static RelayClient::SendResult send(RelayClient& relay) {
        std::optional<RelayClient::SendResult> result;
        relay.send("phonetoken1", tokenA, "Holiday", [&](RelayClient::SendResult r) { result = r; });
        EXPECT_TRUE(spinUntil([&] { return result.has_value(); }));
        return result.value_or(RelayClient::SendResult::failed);
    }
    std::size_t count(const std::string& suffix) const { return fake.requestsTo(suffix).size(); }

    TempDir dir;
    FakeRelay fake;
};

} // namespace

TEST_F(RelayTest, SignsUpChecksInAndReportsExactlyWhatTheRelayNeeds) {
    auto relay = makeRelay();
    checkIn(*relay);
    const auto signUp = fake.requestsTo("/api/macs").at(0);
    EXPECT_EQ(signUp.method, "POST");
    EXPECT_EQ(signUp.json(), (Json{{"name", "Studio <Mac>"}}));
    EXPECT_FALSE(signUp.headers.contains("authorization"));

    ASSERT_EQ(count("/presence"), 1u);
    const auto presence = fake.requestsTo("/presence")[0];
    EXPECT_EQ(presence.target, "/api/macs/mac1/presence");
    EXPECT_EQ(presence.headers.at("authorization"), "Bearer s3cret");
    // No Wi-Fi still sends the key; the phones' tokens never leave the computer, only their hashes.
    EXPECT_EQ(presence.json(),
              (Json{{"name", "Studio <Mac>"},
                    {"lan", {"http://192.168.1.20:47470", "http://studio.local:47470"}},
                    {"shares",
                     {{{"token", tokenA}, {"title", "Holiday"}},
                      {{"token", "zz9yy8xx7w"}, {"title", "notes.txt"}}}},
                    {"ssid", ""},
                    {"devices", {RelayClient::sha256("phonetoken1"), RelayClient::sha256("phonetoken2")}}}));
    EXPECT_EQ(presence.body.find('\n'), std::string::npos) << "compact on the wire";

    EXPECT_EQ(relay->deviceBase(), fake.base() + "/d/mac1");
    EXPECT_EQ(relay->link(tokenA), fake.base() + "/k/mac1/" + tokenA);
}

TEST_F(RelayTest, IdentityIsStoredPrivatelyReadAtTheNextStartAndAMalformedOneMeansSigningUpAgain) {
    checkIn(*makeRelay());
    struct stat info {};
    ASSERT_EQ(stat((dir.path() / "relay.json").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(Json::parse(readFile(dir.path() / "relay.json")),
              (Json{{"macId", "mac1"}, {"secret", "s3cret"}}));
    auto again = makeRelay();
    EXPECT_EQ(again->identity().value().secret, "s3cret");
    checkIn(*again);
    EXPECT_EQ(count("/api/macs"), 1u) << "a stored identity needs no new sign-up";

    for (const std::string text : {"not json", R"({"macId":"m"})", R"({"macId":1,"secret":"s"})", "[]"}) {
        std::ofstream(dir.path() / "relay.json") << text;
        EXPECT_FALSE(makeRelay()->identity()) << text;
    }
}

TEST_F(RelayTest, OnlyACreatedReplyWithBothTextsMakesAnAccount) {
    for (const FakeRelay::Reply& refusal :
         std::vector<FakeRelay::Reply>{{200, R"({"macId":"m","secret":"s"})"},
                                       {201, R"({"macId":"m"})"},
                                       {201, R"({"macId":"m","secret":7})"},
                                       {201, "not json"},
                                       {201, R"(["m","s"])"},
                                       {500, "{}"}}) {
        SCOPED_TRACE(refusal.body);
        fake.setHandler(on("/api/macs", refusal));
        auto relay = makeRelay();
        checkIn(*relay);
        EXPECT_FALSE(relay->identity());
        EXPECT_FALSE(relay->base());
        EXPECT_FALSE(std::filesystem::exists(dir.path() / "relay.json"));
        EXPECT_EQ(count("/presence"), 0u);
    }
}

TEST_F(RelayTest, ConcurrentCheckInsMakeOneAccount) {
    auto relay = makeRelay();
    int done = 0;
    relay->checkIn([&] { ++done; });
    relay->checkIn([&] { ++done; });
    ASSERT_TRUE(spinUntil([&] { return done == 2; }));
    EXPECT_EQ(count("/api/macs"), 1u);
    EXPECT_EQ(count("/presence"), 2u);
}

TEST_F(RelayTest, FollowersAreReadOnlyWhenEveryCountIsAnInteger) {
    auto relay = makeRelay();
    int changes = 0;
    QObject::connect(relay.get(), &RelayClient::changed, [&] { ++changes; });
    for (const std::string reply :
         {R"({})", R"({"followers":{"a2b3c4d5e6":"3"}})", R"({"followers":{"a2b3c4d5e6":1.5}})",
          R"({"followers":{"a2b3c4d5e6":4,"zz9yy8xx7w":null}})", R"({"followers":[1]})", "oops"}) {
        SCOPED_TRACE(reply);
        fake.setHandler(on("/presence", {200, R"({"followers":{"a2b3c4d5e6":3,"zz9yy8xx7w":0}})"}));
        checkIn(*relay);
        EXPECT_EQ(relay->followers(), (std::map<std::string, int>{{tokenA, 3}, {"zz9yy8xx7w", 0}}));
        fake.setHandler(on("/presence", {200, reply}));
        checkIn(*relay);
        EXPECT_TRUE(relay->followers().empty());
        EXPECT_EQ(relay->base(), fake.base()) << "a 200 keeps the relay even when its counts are unusable";
    }
    EXPECT_GE(changes, 1);
}

TEST_F(RelayTest, ARejectedAccountIsForgottenAndOtherFailuresChangeNothing) {
    fake.setHandler(on("/presence", {200, R"({"followers":{"a2b3c4d5e6":2}})"}));
    auto relay = makeRelay();
    checkIn(*relay);
    for (const int status : {500, 404, 403}) {
        fake.setHandler(on("/presence", {status, "{}"}));
        checkIn(*relay);
        EXPECT_EQ(relay->base(), fake.base()) << status;
        EXPECT_EQ(relay->followers().at(tokenA), 2) << status;
        EXPECT_TRUE(relay->identity()) << status;
    }

    fake.setHandler(on("/presence", {401, "{}"}));
    checkIn(*relay);
    EXPECT_FALSE(relay->identity());
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "relay.json"));
    EXPECT_EQ(relay->base(), fake.base()) << "the base stays until a check-in fails to reach the relay";
    EXPECT_FALSE(relay->link(tokenA)) << "derived addresses need the account too";
    fake.setHandler(&FakeRelay::healthy);
    checkIn(*relay);
    EXPECT_EQ(count("/api/macs"), 2u);
    EXPECT_TRUE(relay->followBase());
}

TEST_F(RelayTest, HealthCheckTriesHostsInOrderAndClearsTheBaseWhenNoneAnswers) {
    FakeRelay sick;
    sick.setHandler([](const FakeRelay::Request&) { return FakeRelay::Reply{503, "{}"}; });
    FakeRelay silent;
    silent.setHandler([](const FakeRelay::Request&) { return FakeRelay::Reply{200, "", true}; });
    const std::vector<QUrl> unusable{url(closedPortBase()), url(sick.base()), url(silent.base())};
    auto relay = makeRelay({unusable[0], unusable[1], unusable[2], url(fake.base() + "/")});
    checkIn(*relay);
    EXPECT_EQ(relay->base(), fake.base()) << "the first host answering 200, without its trailing slash";
    EXPECT_EQ(sick.requests().at(0).target, "/healthz");

    auto alone = makeRelay(unusable);
    QElapsedTimer clock;
    clock.start();
    checkIn(*alone);
    EXPECT_LT(clock.elapsed(), 2000) << "the silent relay is given up after the health time-out";
    EXPECT_FALSE(alone->base());
    EXPECT_FALSE(alone->followBase());
}

TEST_F(RelayTest, SendReportsDeliveryWaitingOrFailure) {
    const std::vector<std::pair<FakeRelay::Reply, RelayClient::SendResult>> cases{
        {{200, R"({"sent":2})"}, RelayClient::SendResult::sent},
        {{200, R"({"sent":0})"}, RelayClient::SendResult::waiting},
        {{200, R"({})"}, RelayClient::SendResult::waiting},
        {{200, R"({"sent":"2"})"}, RelayClient::SendResult::waiting},
        {{200, "garbage"}, RelayClient::SendResult::waiting},
        {{500, R"({"sent":1})"}, RelayClient::SendResult::failed},
        {{401, "{}"}, RelayClient::SendResult::failed},
        {{200, "", true}, RelayClient::SendResult::failed}};
    auto relay = makeRelay();
    for (const auto& [reply, expected] : cases) {
        fake.setHandler(on("/send", reply));
        EXPECT_EQ(send(*relay), expected) << reply.status << " " << reply.body;
    }
    const auto sent = fake.requestsTo("/send").at(0);
    EXPECT_EQ(sent.target, "/api/macs/mac1/send");
    EXPECT_EQ(sent.headers.at("authorization"), "Bearer s3cret");
    EXPECT_EQ(sent.json(),
              (Json{{"device", RelayClient::sha256("phonetoken1")}, {"token", tokenA}, {"title", "Holiday"}}));
}

TEST_F(RelayTest, SendAfterNotFoundChecksInOnceAndRetriesOnce) {
    int sends = 0;
    bool secondSucceeds = true;
    fake.setHandler([&](const FakeRelay::Request& request) {
        if (!request.target.ends_with("/send")) {
            return FakeRelay::healthy(request);
        }
        return ++sends == 2 && secondSucceeds ? FakeRelay::Reply{200, R"({"sent":1})"}
                                              : FakeRelay::Reply{404, "{}"};
    });
    auto relay = makeRelay();
    EXPECT_EQ(send(*relay), RelayClient::SendResult::sent);
    EXPECT_EQ(count("/presence"), 1u) << "one check-in between the two sends";
    sends = 0;
    secondSucceeds = false;
    EXPECT_EQ(send(*relay), RelayClient::SendResult::failed);
    EXPECT_EQ(sends, 2) << "a second 404 is the answer: no third try";
}
