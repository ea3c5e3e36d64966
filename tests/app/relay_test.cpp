#include "app/system/relay_client.h"
#include "fake_relay.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

using Json = nlohmann::json;

namespace {

constexpr char tokenA[] = "a2b3c4d5e6";

class RelayTest : public testing::Test {
protected:
    std::unique_ptr<RelayClient> makeRelay(std::vector<QUrl> hosts) {
        RelayClient::Timing timing;
        timing.healthTimeout = std::chrono::milliseconds(300);
        timing.requestIdle = std::chrono::milliseconds(2000);
        timing.pingDelay = std::chrono::milliseconds(150);
        auto relay = std::make_unique<RelayClient>(dir.path(), std::move(hosts), timing);
        relay->setSsidProvider([] { return std::string(); });
        relay->setCheckInProvider([] {
            RelayClient::CheckIn report;
            report.name = "Studio <Mac>";
            report.lan = {"http://192.168.1.20:47470", "http://studio.local:47470"};
            report.shares = {{tokenA, "Holiday"}, {"zz9yy8xx7w", "notes.txt"}};
            report.deviceTokens = {"phonetoken1", "phonetoken2"};
            return report;
        });
        return relay;
    }
    std::unique_ptr<RelayClient> makeRelay() {
        return makeRelay({QUrl(QString::fromStdString(fake.base()))});
    }

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

    std::string identityText() const {
        std::ifstream file(dir.path() / "relay.json");
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    TempDir dir;
    FakeRelay fake;
};

/// A port that refuses connections: bound to nothing after the probe closes.
std::string closedPortBase() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const auto port = probe.serverPort();
    probe.close();
    return "http://127.0.0.1:" + std::to_string(port);
}

} // namespace

TEST_F(RelayTest, SignsUpChecksInAndReportsExactlyWhatTheRelayNeeds) {
    auto relay = makeRelay();
    checkIn(*relay);

    const auto signUps = fake.requestsTo("/api/macs");
    ASSERT_EQ(signUps.size(), 1u);
    EXPECT_EQ(signUps[0].method, "POST");
    EXPECT_EQ(signUps[0].json(), (Json{{"name", "Studio <Mac>"}}));
    EXPECT_FALSE(signUps[0].headers.contains("authorization"));

    const auto presences = fake.requestsTo("/presence");
    ASSERT_EQ(presences.size(), 1u);
    EXPECT_EQ(presences[0].target, "/api/macs/mac1/presence");
    EXPECT_EQ(presences[0].headers.at("authorization"), "Bearer s3cret");
    EXPECT_EQ(presences[0].headers.at("content-type"), "application/json");
    const Json expected{
        {"name", "Studio <Mac>"},
        {"lan", {"http://192.168.1.20:47470", "http://studio.local:47470"}},
        {"shares",
         {{{"token", tokenA}, {"title", "Holiday"}}, {{"token", "zz9yy8xx7w"}, {"title", "notes.txt"}}}},
        // No Wi-Fi: the key is still there.
        {"ssid", ""},
        // The tokens themselves never leave the computer.
        {"devices", {RelayClient::sha256("phonetoken1"), RelayClient::sha256("phonetoken2")}}};
    EXPECT_EQ(presences[0].json(), expected);
    // The body is compact: no pretty-printing on the wire.
    EXPECT_EQ(presences[0].body.find('\n'), std::string::npos);

    EXPECT_EQ(relay->base(), fake.base());
    EXPECT_EQ(relay->followBase(), fake.base() + "/k/mac1");
    EXPECT_EQ(relay->deviceBase(), fake.base() + "/d/mac1");
    EXPECT_EQ(relay->link(tokenA), fake.base() + "/k/mac1/" + tokenA);
}

TEST_F(RelayTest, Sha256IsLowerCaseHexOfTheUtf8Bytes) {
    EXPECT_EQ(RelayClient::sha256("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(RelayClient::sha256(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST_F(RelayTest, IdentityIsStoredPrivatelyAndReadAtTheNextStart) {
    {
        auto relay = makeRelay();
        checkIn(*relay);
    }
    struct stat info {};
    ASSERT_EQ(stat((dir.path() / "relay.json").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(Json::parse(identityText()), (Json{{"macId", "mac1"}, {"secret", "s3cret"}}));

    auto again = makeRelay();
    ASSERT_TRUE(again->identity());
    EXPECT_EQ(again->identity()->secret, "s3cret");
    checkIn(*again);
    EXPECT_EQ(fake.requestsTo("/api/macs").size(), 1u) << "a stored identity needs no new sign-up";
}

TEST_F(RelayTest, MalformedIdentityFileMeansSigningUpAgain) {
    for (const std::string text : {"not json", R"({"macId":"m"})", R"({"macId":1,"secret":"s"})", "[]"}) {
        SCOPED_TRACE(text);
        std::ofstream(dir.path() / "relay.json") << text;
        auto relay = makeRelay();
        EXPECT_FALSE(relay->identity());
    }
}

TEST_F(RelayTest, OnlyACreatedReplyWithBothTextsMakesAnAccount) {
    const std::vector<FakeRelay::Reply> refusals{{200, R"({"macId":"m","secret":"s"})"},
                                                 {201, R"({"macId":"m"})"},
                                                 {201, R"({"macId":"m","secret":7})"},
                                                 {201, "not json"},
                                                 {201, R"(["m","s"])"},
                                                 {500, "{}"}};
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.body);
        fake.setHandler([&](const FakeRelay::Request& request) {
            return request.target == "/api/macs" ? refusal : FakeRelay::healthy(request);
        });
        auto relay = makeRelay();
        checkIn(*relay);
        EXPECT_FALSE(relay->identity());
        EXPECT_FALSE(relay->base());
        EXPECT_FALSE(std::filesystem::exists(dir.path() / "relay.json"));
        EXPECT_TRUE(fake.requestsTo("/presence").empty());
    }
}

TEST_F(RelayTest, ConcurrentCheckInsMakeOneAccount) {
    auto relay = makeRelay();
    int done = 0;
    relay->checkIn([&] { ++done; });
    relay->checkIn([&] { ++done; });
    ASSERT_TRUE(spinUntil([&] { return done == 2; }));
    EXPECT_EQ(fake.requestsTo("/api/macs").size(), 1u);
    EXPECT_EQ(fake.requestsTo("/presence").size(), 2u);
}

TEST_F(RelayTest, FollowersAreReadOnlyWhenEveryCountIsAnInteger) {
    std::string presenceReply = R"({"followers":{"a2b3c4d5e6":3,"zz9yy8xx7w":0}})";
    fake.setHandler([&](const FakeRelay::Request& request) {
        return request.target.ends_with("/presence") ? FakeRelay::Reply{200, presenceReply}
                                                     : FakeRelay::healthy(request);
    });
    auto relay = makeRelay();
    int changes = 0;
    QObject::connect(relay.get(), &RelayClient::changed, [&] { ++changes; });
    checkIn(*relay);
    EXPECT_EQ(relay->followers(), (std::map<std::string, int>{{tokenA, 3}, {"zz9yy8xx7w", 0}}));
    EXPECT_GE(changes, 1);

    for (const std::string reply :
         {R"({})", R"({"followers":{"a2b3c4d5e6":"3"}})", R"({"followers":{"a2b3c4d5e6":1.5}})",
          R"({"followers":{"a2b3c4d5e6":4,"zz9yy8xx7w":null}})", R"({"followers":[1]})", "oops"}) {
        SCOPED_TRACE(reply);
        presenceReply = R"({"followers":{"a2b3c4d5e6":3}})";
        checkIn(*relay);
        ASSERT_FALSE(relay->followers().empty());
        presenceReply = reply;
        checkIn(*relay);
        EXPECT_TRUE(relay->followers().empty());
        EXPECT_EQ(relay->base(), fake.base()) << "a 200 keeps the relay even when its counts are unusable";
    }
}

TEST_F(RelayTest, RejectedAccountIsForgottenAndTheNextCheckInSignsUpAgain) {
    auto relay = makeRelay();
    checkIn(*relay);
    ASSERT_TRUE(relay->base());

    fake.setHandler([](const FakeRelay::Request& request) {
        return request.target.ends_with("/presence") ? FakeRelay::Reply{401, "{}"}
                                                     : FakeRelay::healthy(request);
    });
    checkIn(*relay);
    EXPECT_FALSE(relay->identity());
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "relay.json"));
    EXPECT_EQ(relay->base(), fake.base()) << "the base stays until a check-in fails to reach the relay";
    EXPECT_FALSE(relay->followBase()) << "derived addresses need the account too";
    EXPECT_FALSE(relay->link(tokenA));

    fake.setHandler(&FakeRelay::healthy);
    checkIn(*relay);
    EXPECT_EQ(fake.requestsTo("/api/macs").size(), 2u);
    EXPECT_TRUE(relay->followBase());
}

TEST_F(RelayTest, OtherFailuresChangeNothing) {
    fake.setHandler([](const FakeRelay::Request& request) {
        return request.target.ends_with("/presence")
                   ? FakeRelay::Reply{200, R"({"followers":{"a2b3c4d5e6":2}})"}
                   : FakeRelay::healthy(request);
    });
    auto relay = makeRelay();
    checkIn(*relay);
    for (const int status : {500, 404, 403}) {
        fake.setHandler([status](const FakeRelay::Request& request) {
            return request.target.ends_with("/presence") ? FakeRelay::Reply{status, "{}"}
                                                         : FakeRelay::healthy(request);
        });
        checkIn(*relay);
        EXPECT_EQ(relay->base(), fake.base());
        EXPECT_EQ(relay->followers().at(tokenA), 2);
        EXPECT_TRUE(relay->identity());
    }
}

TEST_F(RelayTest, HealthCheckTriesHostsInOrderAndClearsTheBaseWhenNoneAnswers) {
    FakeRelay sick;
    sick.setHandler([](const FakeRelay::Request&) { return FakeRelay::Reply{503, "{}"}; });
    FakeRelay silent;
    silent.setHandler([](const FakeRelay::Request&) { return FakeRelay::Reply{200, "", true}; });

    auto relay = makeRelay(
        {QUrl(QString::fromStdString(closedPortBase())), QUrl(QString::fromStdString(sick.base())),
         QUrl(QString::fromStdString(silent.base())), QUrl(QString::fromStdString(fake.base() + "/"))});
    checkIn(*relay);
    EXPECT_EQ(relay->base(), fake.base()) << "the first host answering 200, without its trailing slash";
    EXPECT_EQ(sick.requests().size(), 1u);
    EXPECT_TRUE(sick.requests()[0].target == "/healthz");

    // Only three unusable relays: the base goes, and with it every relay address.
    auto alone =
        makeRelay({QUrl(QString::fromStdString(closedPortBase())), QUrl(QString::fromStdString(sick.base())),
                   QUrl(QString::fromStdString(silent.base()))});
    QElapsedTimer clock;
    clock.start();
    checkIn(*alone);
    EXPECT_LT(clock.elapsed(), 2000) << "the silent relay is given up after the health time-out";
    EXPECT_FALSE(alone->base());
    EXPECT_FALSE(alone->followBase());
    EXPECT_FALSE(alone->deviceBase());
}

TEST_F(RelayTest, CheckInSoonRunsOnceAfterTheLastCallOfABurst) {
    auto relay = makeRelay();
    checkIn(*relay);
    const auto before = fake.requestsTo("/presence").size();

    QElapsedTimer clock;
    clock.start();
    relay->checkInSoon(0.3);
    spinFor(100);
    relay->checkInSoon(0.3);
    spinFor(100);
    const qint64 lastCall = clock.elapsed();
    relay->checkInSoon(0.3);
    ASSERT_TRUE(spinUntil([&] { return fake.requestsTo("/presence").size() > before; }));
    EXPECT_GE(clock.elapsed() - lastCall, 280);
    spinFor(450);
    EXPECT_EQ(fake.requestsTo("/presence").size(), before + 1);

    // A zero delay runs at once and replaces a delayed one.
    relay->checkInSoon(5);
    relay->checkInSoon(0);
    ASSERT_TRUE(spinUntil([&] { return fake.requestsTo("/presence").size() == before + 2; }, 1000));
    spinFor(300);
    EXPECT_EQ(fake.requestsTo("/presence").size(), before + 2);
}

TEST_F(RelayTest, StartChecksInAtOnceAndThenOnTheTimer) {
    RelayClient::Timing timing;
    timing.checkInInterval = std::chrono::milliseconds(250);
    RelayClient relay(dir.path(), {QUrl(QString::fromStdString(fake.base()))}, timing);
    relay.setSsidProvider([] { return std::string("Home"); });
    relay.start();
    ASSERT_TRUE(spinUntil([&] { return fake.requestsTo("/presence").size() == 1; }, 200));
    EXPECT_EQ(fake.requestsTo("/presence")[0].json()["ssid"], "Home");
    EXPECT_EQ(fake.requestsTo("/presence")[0].json()["name"], "this computer") << "the default report";
    EXPECT_TRUE(spinUntil([&] { return fake.requestsTo("/presence").size() >= 3; }, 1500));
}

TEST_F(RelayTest, PingsForOneShareWithinTheDelayBecomeOneNotification) {
    auto relay = makeRelay();
    checkIn(*relay);
    const auto presencesBefore = fake.requestsTo("/presence").size();

    relay->ping(tokenA, "Holiday", "beach.jpg");
    spinFor(50);
    relay->ping(tokenA, "Renamed", "dunes.jpg");
    relay->ping("zz9yy8xx7w", "notes.txt", "one.txt");
    ASSERT_TRUE(spinUntil([&] { return fake.requestsTo("/notify").size() == 2; }));
    spinFor(300);
    const auto notifies = fake.requestsTo("/notify");
    ASSERT_EQ(notifies.size(), 2u);
    EXPECT_EQ(notifies[0].target, "/api/macs/mac1/notify");
    EXPECT_EQ(notifies[0].headers.at("authorization"), "Bearer s3cret");
    EXPECT_EQ(notifies[0].json(),
              (Json{{"token", tokenA}, {"title", "New in Holiday"}, {"body", "beach.jpg and 1 more"}}));
    EXPECT_EQ(notifies[1].json(),
              (Json{{"token", "zz9yy8xx7w"}, {"title", "New in notes.txt"}, {"body", "one.txt"}}));

    // The relay heard about the current shares first.
    EXPECT_EQ(fake.requestsTo("/presence").size(), presencesBefore + 1);
    std::size_t presenceIndex = 0;
    std::size_t notifyIndex = 0;
    for (std::size_t i = 0; i < fake.requests().size(); ++i) {
        if (fake.requests()[i].target.ends_with("/presence")) {
            presenceIndex = i;
        }
        if (fake.requests()[i].target.ends_with("/notify") && notifyIndex == 0) {
            notifyIndex = i;
        }
    }
    EXPECT_LT(presenceIndex, notifyIndex);
}

TEST_F(RelayTest, PingsWithoutARelayAreDropped) {
    auto relay = makeRelay();
    relay->ping(tokenA, "Holiday", "beach.jpg");
    spinFor(400);
    EXPECT_TRUE(fake.requests().empty()) << "no base yet: nothing is sent, not even a check-in";

    checkIn(*relay);
    relay->ping(tokenA, "Holiday", "later.jpg");
    ASSERT_TRUE(spinUntil([&] { return fake.requestsTo("/notify").size() == 1; }));
    EXPECT_EQ(fake.requestsTo("/notify")[0].json()["body"], "later.jpg")
        << "the dropped ping does not come back";
}

TEST_F(RelayTest, SendReportsDeliveryWaitingOrFailure) {
    struct Case {
        FakeRelay::Reply reply;
        RelayClient::SendResult expected;
    };
    const std::vector<Case> cases{{{200, R"({"sent":2})"}, RelayClient::SendResult::sent},
                                  {{200, R"({"sent":0})"}, RelayClient::SendResult::waiting},
                                  {{200, R"({})"}, RelayClient::SendResult::waiting},
                                  {{200, R"({"sent":"2"})"}, RelayClient::SendResult::waiting},
                                  {{200, "garbage"}, RelayClient::SendResult::waiting},
                                  {{500, R"({"sent":1})"}, RelayClient::SendResult::failed},
                                  {{401, "{}"}, RelayClient::SendResult::failed}};
    auto relay = makeRelay();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply.body + " " + std::to_string(c.reply.status));
        fake.setHandler([&](const FakeRelay::Request& request) {
            return request.target.ends_with("/send") ? c.reply : FakeRelay::healthy(request);
        });
        EXPECT_EQ(send(*relay), c.expected);
    }
    const auto sends = fake.requestsTo("/send");
    ASSERT_FALSE(sends.empty());
    EXPECT_EQ(sends[0].target, "/api/macs/mac1/send");
    EXPECT_EQ(sends[0].headers.at("authorization"), "Bearer s3cret");
    EXPECT_EQ(
        sends[0].json(),
        (Json{{"device", RelayClient::sha256("phonetoken1")}, {"token", tokenA}, {"title", "Holiday"}}));
}

TEST_F(RelayTest, SendAfterNotFoundChecksInOnceAndRetriesOnce) {
    int sendCount = 0;
    bool secondSucceeds = true;
    fake.setHandler([&](const FakeRelay::Request& request) {
        if (request.target.ends_with("/send")) {
            ++sendCount;
            return sendCount == 2 && secondSucceeds ? FakeRelay::Reply{200, R"({"sent":1})"}
                                                    : FakeRelay::Reply{404, "{}"};
        }
        return FakeRelay::healthy(request);
    });
    auto relay = makeRelay();
    EXPECT_EQ(send(*relay), RelayClient::SendResult::sent);
    EXPECT_EQ(sendCount, 2);
    EXPECT_EQ(fake.requestsTo("/presence").size(), 1u) << "one check-in between the two sends";

    sendCount = 0;
    secondSucceeds = false;
    EXPECT_EQ(send(*relay), RelayClient::SendResult::failed);
    EXPECT_EQ(sendCount, 2) << "a second 404 is the answer: no third try";
    EXPECT_EQ(fake.requestsTo("/presence").size(), 2u);
}

TEST_F(RelayTest, SendFailsWithoutAReachableRelayOrAccount) {
    auto unreachable = makeRelay({QUrl(QString::fromStdString(closedPortBase()))});
    EXPECT_EQ(send(*unreachable), RelayClient::SendResult::failed);

    fake.setHandler([](const FakeRelay::Request& request) {
        return request.target == "/api/macs" ? FakeRelay::Reply{403, "{}"} : FakeRelay::healthy(request);
    });
    auto refused = makeRelay();
    EXPECT_EQ(send(*refused), RelayClient::SendResult::failed);
    EXPECT_TRUE(fake.requestsTo("/send").empty());
}

TEST_F(RelayTest, WithoutHostsNothingIsEverRequested) {
    ::unsetenv("TESK_RELAY_HOSTS");
    const auto hosts = RelayClient::hostsFromEnvironment();
    EXPECT_TRUE(hosts.empty());
    auto relay = makeRelay(hosts);
    relay->start();
    checkIn(*relay);
    EXPECT_EQ(send(*relay), RelayClient::SendResult::failed);
    relay->ping(tokenA, "Holiday", "x.jpg");
    spinFor(300);
    EXPECT_FALSE(relay->base());
    EXPECT_FALSE(relay->identity());
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "relay.json")) << "no sign-up was attempted";
    EXPECT_TRUE(fake.requests().empty());
}

TEST_F(RelayTest, HostsComeFromTheEnvironmentInOrder) {
    ::setenv("TESK_RELAY_HOSTS",
             (" https://relay.invalid/x ,," + fake.base() + "/tesk/, ftp://x, nonsense").c_str(), 1);
    const auto hosts = RelayClient::hostsFromEnvironment();
    ::unsetenv("TESK_RELAY_HOSTS");
    ASSERT_EQ(hosts.size(), 2u);
    EXPECT_EQ(hosts[0].toString().toStdString(), "https://relay.invalid/x");

    // A relay under a path prefix gets every request under it.
    fake.setHandler([](const FakeRelay::Request& request) {
        if (!request.target.starts_with("/tesk/")) {
            return FakeRelay::Reply{404, "{}"};
        }
        FakeRelay::Request unprefixed = request;
        unprefixed.target = request.target.substr(5);
        return FakeRelay::healthy(unprefixed);
    });
    auto relay = makeRelay({hosts[1]});
    checkIn(*relay);
    EXPECT_EQ(relay->base(), fake.base() + "/tesk");
    EXPECT_EQ(relay->link(tokenA), fake.base() + "/tesk/k/mac1/" + tokenA);
    EXPECT_EQ(fake.requestsTo("/presence").at(0).target, "/tesk/api/macs/mac1/presence");
}
