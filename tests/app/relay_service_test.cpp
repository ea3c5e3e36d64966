// The relay client against the real tesk-relay on loopback: what the client sends is what the service
// understands, and what the service answers is what the client expects.
#include "relay_service.h"

#include "app/system/relay_client.h"
#include "fake_relay.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QProcess>

namespace {

constexpr char shareToken[] = "a2b3c4d5e6";
constexpr char phoneToken[] = "phonetoken23456789abcdef";

/// A browser visiting relay pages: keeps cookies, does not follow redirects.
struct Visitor {
    QNetworkAccessManager network;
    Visitor() { network.setCookieJar(new QNetworkCookieJar(&network)); }

    /// The status of GET `url`.
    int get(const std::string& url) {
        QNetworkRequest request{QUrl(QString::fromStdString(url))};
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
        QNetworkReply* reply = network.get(request);
        spinUntil([&] { return reply->isFinished(); });
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        location = reply->header(QNetworkRequest::LocationHeader).toUrl().toString().toStdString();
        reply->deleteLater();
        return status;
    }
    std::string location;
};

class RelayServiceTest : public testing::Test {
protected:
    RelayServiceTest()
        : service(dir.path() / "relay-state.json") {}

    std::unique_ptr<RelayClient> makeRelay() {
        auto relay = std::make_unique<RelayClient>(dir.path(),
                                                   std::vector{QUrl(QString::fromStdString(service.base()))});
        relay->setSsidProvider([] { return std::string("Home"); });
        relay->setCheckInProvider([this] {
            RelayClient::CheckIn report;
            report.name = "Studio";
            report.lan = {"http://192.168.1.20:47470", "http://studio.local:47470"};
            report.shares = shares;
            report.deviceTokens = {phoneToken};
            return report;
        });
        return relay;
    }
    static void checkIn(RelayClient& relay) {
        bool done = false;
        relay.checkIn([&] { done = true; });
        ASSERT_TRUE(spinUntil([&] { return done; }));
    }
    static RelayClient::SendResult send(RelayClient& relay, const std::string& device) {
        std::optional<RelayClient::SendResult> result;
        relay.send(device, shareToken, "Holiday", [&](RelayClient::SendResult r) { result = r; });
        EXPECT_TRUE(spinUntil([&] { return result.has_value(); }));
        return result.value_or(RelayClient::SendResult::failed);
    }

    TempDir dir;
    RelayService service;
    std::vector<RelayClient::SharedLink> shares{{shareToken, "Holiday"}};
};

} // namespace

TEST_F(RelayServiceTest, ChecksInAndEveryRelayAddressLeadsWhereItShould) {
    ASSERT_FALSE(service.base().empty()) << "tesk-relay did not report its port";
    auto relay = makeRelay();
    checkIn(*relay);
    ASSERT_EQ(relay->base(), service.base());
    ASSERT_TRUE(relay->identity());
    EXPECT_EQ(relay->followers(), (std::map<std::string, int>{{shareToken, 0}}));

    Visitor browser;
    // The share link goes to the computer's first LAN address while the share is reported.
    EXPECT_EQ(browser.get(*relay->link(shareToken)), 302);
    EXPECT_EQ(browser.location, std::string("http://192.168.1.20:47470/s/") + shareToken + "/");
    // The phone's launcher and the pairing page's lookup know the phone the check-in reported.
    EXPECT_EQ(browser.get(*relay->deviceBase() + "/" + phoneToken + "/"), 200);
    const std::string where = service.base() + "/api/macs/" + relay->identity()->macId + "/where?device=";
    EXPECT_EQ(browser.get(where + phoneToken), 200);
    EXPECT_EQ(browser.get(where + "someoneelse"), 404);

    // Two visitors follow; one of them twice.
    Visitor other;
    const std::string follow = *relay->followBase() + "/" + shareToken + "/follow";
    EXPECT_EQ(browser.get(follow), 200);
    EXPECT_EQ(browser.get(follow), 200);
    EXPECT_EQ(other.get(follow), 200);
    checkIn(*relay);
    EXPECT_EQ(relay->followers().at(shareToken), 2);

    // A stopped share's link leads nowhere after the next check-in.
    shares.clear();
    checkIn(*relay);
    EXPECT_EQ(browser.get(*relay->link(shareToken)), 404);
}

TEST_F(RelayServiceTest, SendWaitsForAKnownPhoneAndFailsForAnUnknownOne) {
    auto relay = makeRelay();
    // Never checked in: the relay learns of the phone from the check-in that follows the first 404.
    EXPECT_EQ(send(*relay, phoneToken), RelayClient::SendResult::waiting);
    EXPECT_EQ(send(*relay, "notpairedtoken"), RelayClient::SendResult::failed);
}

TEST_F(RelayServiceTest, AForgottenAccountSignsUpAgain) {
    auto relay = makeRelay();
    checkIn(*relay);
    const auto first = *relay->identity();

    // Another relay that never heard of this computer: the check-in is refused, the account dropped.
    TempDir otherData;
    RelayService fresh(otherData.path() / "state.json");
    auto moved =
        std::make_unique<RelayClient>(dir.path(), std::vector{QUrl(QString::fromStdString(fresh.base()))});
    moved->setSsidProvider([] { return std::string(); });
    checkIn(*moved);
    EXPECT_FALSE(moved->identity());
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "relay.json"));
    checkIn(*moved);
    ASSERT_TRUE(moved->identity());
    EXPECT_NE(moved->identity()->macId, first.macId);
    EXPECT_EQ(moved->base(), fresh.base());
}
