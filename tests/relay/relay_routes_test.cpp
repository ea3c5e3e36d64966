// The relay's routes as a pure function of state, request and body, without sockets: each rule as
// request in, status, header and body out. Then the server around them: what it refuses over a real
// socket before reading a body, and a change it cannot save.
#include "relay/relay_routes.h"

#include "relay/relay_network.h"
#include "relay/relay_server.h"
#include "relay/secret_hash.h"
#include "scratch_store.h"
#include "support/http_reply.h"
#include "support/raw_client.h"

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

/// A request parsed with the relay's own codec; `headers` are whole lines.
HTTPRequest parsed(const std::string& method, const std::string& target, const std::string& headers = "") {
    const auto result = HTTP::parse(method + " " + target + " HTTP/1.1\r\n" + headers + "\r\n");
    EXPECT_TRUE(result.request()) << "not a request head: " << target << headers;
    return result.request() ? result.request()->request : HTTPRequest{};
}

class RelayRoutesTest : public ::testing::Test {
protected:
    HttpReply call(const std::string& method, const std::string& target, std::string_view body = "",
                   const std::string& headers = "", const RelayRoutes::Client& client = {"192.0.2.1", 1}) {
        return parseHttpReply(
            RelayRoutes::answer(store, parsed(method, target, headers), body, client).response.serialized());
    }

    void asMac(const std::string& action, std::string_view body) {
        call("POST", "/api/macs/" + id + "/" + action, body, "Authorization: " + bearer + "\r\n");
    }

    // This Mac and the five sign-ups below from one address; two followers fill a share.
    const ScratchStore scratch{RelayDatabase::Engine::sqlite};
    RelayStore store = scratch.open({.signUpsPerHour = 6, .maxFollowersPerShare = 2});
    const RelayStore::Credentials credentials = store.signUp("Mac", "192.0.2.1", 1).value();
    const std::string id = credentials.macId, secret = credentials.secret, bearer = "Bearer " + secret;
};

} // namespace

TEST_F(RelayRoutesTest, AnswersEachPathByItsRule) {
    // Addresses are kept as bases, whatever their spelling; digests compare in lower case.
    std::string digest = SecretHash::sha256Hex("tok");
    std::transform(digest.begin(), digest.end(), digest.begin(), ::toupper);
    asMac("presence", R"({"name":"Ann's \"Mac\" <b>","lan":["10.0.0.2:47470/","http://[fe80::1]:47470"],)"
                      R"("shares":[{"token":"abc"}],"devices":[")" +
                          digest + R"("]})");
    store.follow(id, "abc", "visitor");
    const std::string mac = "/api/macs/" + id + "/",
                      where = mac + "where?device=", launcher = "/d/" + id + "/tok/";
    struct Case {
        std::string method, target;
        int status;
        // A header the answer must carry and its value, then text its body must hold.
        std::string header = {}, value = {}, inBody = {}, body = {}, authorization = {};
    };
    std::vector<Case> cases{
        {"GET", "/healthz", 200, "content-type", "text/plain; charset=utf-8", "ok"},
        {"HEAD", "/healthz", 200, "content-length", "2"},
        {"GET", "/icon.png", 200, "content-type", "image/png"},
        {"GET", "/", 404},
        {"GET", mac + "other", 404},
        {"POST", "/healthz", 405, "allow", "GET, HEAD"},
        {"GET", "/api/macs", 405, "allow", "POST"},
        // The pairing page asks from the computer's own origin whether the relay knows the phone.
        {"GET", where + "tok", 200, "access-control-allow-origin", "*"},
        {"GET", where + "other", 404, "access-control-allow-origin", "*"},
        {"GET", "/k/" + id + "/abc", 302, "location", "http://10.0.0.2:47470/s/abc/"},
        {"GET", "/k/" + id + "/other/follow", 404},
        {"GET", "/k/nobody/abc", 404},
        // The page's own addresses are relative to its directory.
        {"GET", "/d/" + id + "/tok", 301, "location", launcher},
        // On the computer's network (the address it checked in from) the phone goes straight on.
        {"GET", launcher, 302, "location", "http://10.0.0.2:47470/d/tok/?from=app"},
        {"GET", launcher + "?new=1", 200, "cache-control", "no-store",
         "<h1>Ann&#39;s &quot;Mac&quot; &lt;b&gt;</h1>"},
        {"GET", launcher + "manifest.json", 200, "content-type", "application/manifest+json",
         "\"start_url\":\"" + launcher + "\""},
        {"GET", "/d/" + id + "/other/", 404},
        {"POST", mac + "notify", 200, "", "", "{}", R"({"token":"abc","title":"t","body":"b"})", bearer},
        {"POST", mac + "send", 404, "", "", "",
         R"({"token":"abc","title":"x","device":")" + std::string(64, 'b') + "\"}", bearer},
        {"POST", mac + "send", 200, "", "", R"({"sent":0})",
         R"({"token":"abc","title":"x","device":")" + digest + "\"}", bearer},
    };
    // Sign-up takes any body; the last is refused, the address having used its sign-ups this hour.
    for (const std::string body : {"", "not json", R"({"name":7})", "[]", R"({"name":"Studio"})"}) {
        cases.push_back({"POST", "/api/macs", 201, "", "", "\"macId\"", body});
    }
    cases.push_back({"POST", "/api/macs", 429, "retry-after", "3599", R"({"error":"too many sign-ups"})"});
    // A Mac's own routes need its secret as a bearer token, and refuse a malformed body.
    for (const std::string& authorization : {std::string(), "Bearer wrong"s, "Bearer"s, "Basic " + secret}) {
        cases.push_back({"POST", mac + "send", 401, "www-authenticate", "Bearer", "", "{}", authorization});
    }
    // Each row is the action, then its body. An address that is a domain would make the relay an open
    // redirect: share links redirect there.
    for (const std::string row :
         {"presence {", "presence []", R"(presence {"name":1})", R"(presence {"lan":"http://a"})",
          R"(presence {"lan":["http://a\r\nX: y"]})", R"(presence {"lan":["ftp://a"]})",
          R"(presence {"lan":["http://mac.local:1","https://evil.example"]})",
          R"(presence {"shares":[{"title":"x"}]})", R"(presence {"shares":[{"token":"a/b"}]})",
          R"(presence {"devices":["abc"]})", R"(notify {"title":"no token"})",
          R"(notify {"token":"abc","body":3})", R"(send {"token":"abc"})"}) {
        const auto space = row.find(' ');
        cases.push_back({"POST", mac + row.substr(0, space), 400, "", "", R"({"error":"malformed"})",
                         row.substr(space + 1), bearer});
    }
    // Last: it replaces the presence the rows above rely on.
    cases.push_back(
        {"POST", mac + "presence", 200, "", "", "{", R"({"shares":[{"token":"abc"}]})", "bearer " + secret});
    for (const auto& c : cases) {
        const auto changes = store.changes();
        const auto reply = call(c.method, c.target, c.body,
                                c.authorization.empty() ? "" : "Authorization: " + c.authorization + "\r\n");
        EXPECT_EQ(reply.status, c.status) << c.method << " " << c.target << " " << c.body;
        EXPECT_EQ(reply.header(c.header), c.value) << c.target;
        EXPECT_NE(reply.body.find(c.inBody), std::string::npos)
            << c.target << ": " << reply.body.substr(0, 200);
        EXPECT_TRUE(c.method != "HEAD" || reply.body.empty()) << "HEAD sent a body";
        EXPECT_TRUE(c.status < 400 || store.changes() == changes) << "a refusal changed the state";
    }
    EXPECT_EQ(store.notifications(id).size(), 1u);
    // A Mac signed up without a usable name is "this computer".
    // This Mac reported no name at its last check-in.
    const auto names = store.database().run("SELECT name, count(*) FROM macs GROUP BY name ORDER BY name");
    EXPECT_EQ(names, (std::vector<RelayDatabase::Row>{{"", 1}, {"Studio", 1}, {"this computer", 4}}));
}

TEST_F(RelayRoutesTest, FollowCountsEachBrowserOnceThroughItsCookie) {
    asMac("presence", R"({"shares":[{"token":"abc","title":"<Photos>"}]})");
    const std::string follow = "/k/" + id + "/abc/follow";
    EXPECT_EQ(call("GET", "/k/" + id + "/abc").status, 404) << "no address to send followers on to";

    const auto first = call("GET", follow);
    ASSERT_EQ(first.status, 200);
    const std::string cookie = first.header("set-cookie"), visitor = cookie.substr(0, cookie.find(';'));
    EXPECT_TRUE(visitor.starts_with("tesk_visitor=")) << cookie;
    // Without Secure: over plain HTTP a Secure cookie never comes back.
    EXPECT_EQ(cookie.substr(visitor.size()), "; Max-Age=34560000; Path=/; HttpOnly; SameSite=Lax");
    EXPECT_NE(first.body.find("&lt;Photos&gt;"), std::string::npos);
    EXPECT_EQ(call("GET", follow, "", "Cookie: theme=dark; " + visitor + "\r\n").header("set-cookie"), "");
    const auto forged = call("GET", follow, "", "Cookie: tesk_visitor=short\r\nX-Forwarded-Proto: https\r\n");
    EXPECT_TRUE(forged.header("set-cookie").ends_with("; Secure"));
    EXPECT_EQ(call("HEAD", follow).status, 200);
    EXPECT_EQ(store.followerCount(id, "abc"), 2u) << "once per cookie, a forged id replaced, no preview";
    EXPECT_EQ(call("GET", follow).status, 503) << "a third browser, the share full";
}

TEST_F(RelayRoutesTest, TheLauncherSendsAPhoneOnItsComputersNetworkOnAndTellsOneElsewhereWhereItIs) {
    asMac("presence", R"({"name":"Studio","ssid":"Home","lan":["http://10.0.0.2:47470"],"devices":[")" +
                          SecretHash::sha256Hex("tok") + R"("]})");
    const std::string launcher = "/d/" + id + "/tok/";
    const auto from = [&](const std::string& address, std::int64_t now) {
        return call("GET", launcher, "", "", {address, now});
    };
    EXPECT_EQ(from("::ffff:192.0.2.1", 300).status, 302)
        << "the same IPv4 address, as a dual-stack socket sees it";
    const auto elsewhere = from("198.51.100.9", 300), asleep = from("192.0.2.1", 302);
    for (const std::string text :
         {"On the \u201cHome\u201d Wi-Fi", "href=\"http://10.0.0.2:47470/d/tok/?from=app\""}) {
        EXPECT_NE(elsewhere.body.find(text), std::string::npos) << text;
    }
    EXPECT_EQ(elsewhere.body.find("fetch(\"http"), std::string::npos)
        << "the page itself asks no other address";
    EXPECT_NE(asleep.body.find("Not in touch for a few minutes"), std::string::npos)
        << "last seen over 5 minutes ago";
}

TEST_F(RelayRoutesTest, SendsAndNotificationsAskForPushesToTheBrowsersSubscribedForThem) {
    asMac("presence", R"({"name":"Studio","lan":["http://10.0.0.2:47470"],"shares":[{"token":"abc",)"
                      R"("title":"Holiday"}],"devices":[")" +
                          SecretHash::sha256Hex("tok") + R"("]})");
    const RelayRoutes::Client pushing{"192.0.2.1", 10, "the relay's key"};
    // RFC 8291's example keys: a P-256 point and a 16-byte secret.
    const std::string
        point = "BCVxsr7N_eNgVRqvHtD0zTZsEc6-VV-JvLexhqUzORcxaOzi6-AYWXvTBHm4bjyPjs7Vd8pZGH6SRpkNtoIAiw4",
        secret16 = "BTBZMqHH6r4Tts7J_aSIgg";
    const auto subscription = [](const std::string& endpoint, const std::string& p256dh,
                                 const std::string& auth) {
        return R"({"endpoint":")" + endpoint + R"(","expirationTime":null,"keys":{"p256dh":")" + p256dh +
               R"(","auth":")" + auth + R"("}})";
    };
    const std::string phone = "https://push.example/phone", follower = "https://push.example/follower";
    const std::string cookie = call("GET", "/k/" + id + "/abc/follow").header("set-cookie");
    const std::string visitor = "Cookie: " + cookie.substr(0, cookie.find(';')) + "\r\n";
    const std::string mine = "/d/" + id + "/tok/subscription", share = "/k/" + id + "/abc/subscription";
    struct Case {
        std::string target, body, headers;
        int status;
        bool offered = true;
    };
    for (const auto& c : std::vector<Case>{
             {mine, subscription(phone, point, secret16), "", 404, false},
             {mine, subscription("http://push.example/x", point, secret16), "", 400},
             {mine, subscription(phone, point.substr(0, 80), secret16), "", 400},
             {mine, subscription(phone, "A" + point.substr(1), secret16), "", 400},
             {mine, subscription(phone, point, secret16.substr(0, 20)), "", 400},
             {mine, subscription("https://push.example/a\tb", point, secret16), "", 400},
             {mine, "{}", "", 400},
             {"/d/" + id + "/other/subscription", subscription(phone, point, secret16), "", 404},
             {"/d/nobody/tok/subscription", subscription(phone, point, secret16), "", 404},
             {share, subscription(follower, point, secret16), "", 403},
             {"/k/" + id + "/gone/subscription", subscription(follower, point, secret16), visitor, 404},
             {mine, subscription(phone, point, secret16), "", 201},
             {share, subscription(follower, point, secret16), visitor, 201},
         }) {
        EXPECT_EQ(
            call("POST", c.target, c.body, c.headers, c.offered ? pushing : RelayRoutes::Client{}).status,
            c.status)
            << c.target << " " << c.body;
    }
    const auto asked = [&](const std::string& action, const std::string& body,
                           const RelayRoutes::Client& client) {
        return RelayRoutes::answer(
            store, parsed("POST", "/api/macs/" + id + "/" + action, "Authorization: " + bearer + "\r\n"),
            body, client);
    };
    const std::string send =
        R"({"token":"abc","title":"Beach","device":")" + SecretHash::sha256Hex("tok") + "\"}";
    EXPECT_FALSE(asked("send", send, {"192.0.2.1", 10}).push) << "a relay without a key pushes nothing";
    const auto sent = asked("send", send, pushing);
    ASSERT_TRUE(sent.push);
    const auto items = store.waiting(id, SecretHash::sha256Hex("tok"));
    ASSERT_EQ(items.size(), 2u);
    const std::string opening = "/k/" + id + "/abc?item=" + items.front().ref;
    EXPECT_TRUE(sent.push->reportSent);
    EXPECT_EQ(sent.push->to, (std::vector<RelaySubscription>{{phone, point, secret16}}));
    EXPECT_EQ(sent.push->message.title, "Beach");
    EXPECT_EQ(sent.push->message.body, "Sent from Studio");
    EXPECT_EQ(sent.push->message.url, opening);
    EXPECT_EQ(sent.push->message.ttl, std::chrono::days(7));
    EXPECT_TRUE(sent.push->message.urgent);
    const auto notified =
        asked("notify", R"({"token":"abc","title":"New in Holiday","body":"a.jpg"})", pushing);
    ASSERT_TRUE(notified.push);
    EXPECT_FALSE(notified.push->reportSent);
    EXPECT_EQ(notified.push->to, (std::vector<RelaySubscription>{{follower, point, secret16}}));
    EXPECT_EQ(notified.push->message.title, "New in Holiday");
    EXPECT_EQ(notified.push->message.url, "/k/" + id + "/abc");
    EXPECT_EQ(notified.response.status, 200) << "answered at once";

    // On the computer's network a phone with something waiting sees it, until it opens it; then the
    // launcher goes straight on again.
    const std::string launcher = "/d/" + id + "/tok/";
    const auto page = call("GET", launcher, "", "", pushing);
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find(opening), std::string::npos);
    EXPECT_LT(page.body.find(opening), page.body.find("?item=" + items.back().ref)) << "newest first";
    // Nor does a phone away from the computer's network, which cannot reach it yet, or a guessed name.
    EXPECT_EQ(call("HEAD", opening).status, 302);
    EXPECT_EQ(call("GET", opening, "", "", {"198.51.100.9", 10}).status, 302);
    call("GET", "/k/" + id + "/abc?item=1");
    EXPECT_EQ(store.waiting(id, SecretHash::sha256Hex("tok")).size(), 2u);
    EXPECT_EQ(call("GET", opening).header("location"), "http://10.0.0.2:47470/s/abc/");
    call("GET", "/k/" + id + "/abc?item=" + items.back().ref);
    EXPECT_TRUE(store.waiting(id, SecretHash::sha256Hex("tok")).empty());
    EXPECT_EQ(call("GET", launcher, "", "", pushing).status, 302);

    // A service worker's renewed subscription takes the old one's place, for whoever knows the old one.
    const std::string renewed = "https://push.example/renewed";
    const auto renewal = [&](const std::string& old) {
        return call("POST", "/push-subscription",
                    R"({"old":")" + old + R"(","subscription":)" + subscription(renewed, point, secret16) +
                        "}",
                    "", pushing)
            .status;
    };
    EXPECT_EQ(renewal(phone), 200);
    EXPECT_EQ(renewal(phone), 404) << "no longer known";
    EXPECT_EQ(call("POST", "/push-subscription", R"({"old":")" + renewed + R"("})", "", pushing).status, 400);
    EXPECT_EQ(store.phoneSubscriptions(id, SecretHash::sha256Hex("tok")),
              (std::vector<RelaySubscription>{{renewed, point, secret16}}));
}

// Where a request comes from, and whether that is the network a computer checks in from (as both
// families showed it at `now` = 1000), as one table.
TEST(RelayNetworkTest, APhoneIsOnItsComputersNetworkOnlyByItsOwnAddressOrATrustedProxysWord) {
    RelayMac mac{"", 0, 1000, {}, {"203.0.113.7", 1000}, {"2001:db8:5:6::/64", 400}};
    for (const auto& [peer, forwarded, trusted, same] :
         std::vector<std::tuple<std::string, std::string, bool, bool>>{
             {"203.0.113.7", "", false, true},
             {"203.0.113.8", "", false, false},
             {"::ffff:203.0.113.7", "", false, true},
             {"2001:db8:5:6:abcd::1", "", false, true},
             {"2001:db8:5:7::1", "", false, false},
             {"10.0.0.1", "198.51.100.1, 203.0.113.7", true, true},
             {"10.0.0.1", "203.0.113.7, 10.0.0.1", true, true},
             {"10.0.0.1", "203.0.113.7", false, false},
             {"10.0.0.1", "not an address", true, false},
         }) {
        const std::string address = RelayNetwork::clientAddress(
            peer, parsed("GET", "/", forwarded.empty() ? "" : "X-Forwarded-For: " + forwarded + "\r\n"),
            trusted ? std::vector<std::string>{"10.0.0.1"} : std::vector<std::string>{});
        EXPECT_EQ(RelayNetwork::sameNetwork(mac, address, 1000), same) << peer << " " << forwarded;
    }
    // The IPv6 sighting is 10 minutes older than the last check-in: a network the computer may have left.
    mac.seenIPv6.at = 399;
    EXPECT_FALSE(RelayNetwork::sameNetwork(mac, "2001:db8:5:6::1", 1000));
    EXPECT_FALSE(RelayNetwork::sameNetwork(RelayMac{}, "203.0.113.7", 1000)) << "no check-in yet";
}

TEST(RelayServerTest, RefusesWhatItWillNotReadBeforeReadingItAndNeverReportsAChangeItCouldNotKeep) {
    const ScratchStore scratch{RelayDatabase::Engine::sqlite};
    RelayStore store = scratch.open();
    RelayServer server(store, {.maxBodyBytes = 1024});
    const auto port = server.start(0);
    for (const auto& [head, status] : std::vector<std::pair<std::string, int>>{
             {"POST /api/macs HTTP/1.1\r\nContent-Length: 1025\r\n\r\n", 413},
             {"POST /api/macs HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", 411},
             {"POST /api/macs HTTP/1.1\r\nContent-Length: many\r\n\r\n", 400},
             {"NOT A REQUEST\r\n\r\n", 400},
         }) {
        EXPECT_EQ(parseHttpReply(request(port, head)).status, status) << head;
    }
    // As on a file system gone read-only: every write fails, reads still work.
    store.database().run("PRAGMA query_only = 1");
    const auto handled = [&](const HTTPRequest& request, std::string_view body) {
        RelayResponse got{0, {}, ""};
        server.handle(request, body, "192.0.2.1", [&](const RelayResponse& response) { got = response; });
        return got;
    };
    EXPECT_EQ(handled(parsed("POST", "/api/macs"), "{}").serialized(),
              HTTPResponse::json(503, R"({"error":"storage"})").serialized());
    EXPECT_EQ(handled(parsed("GET", "/k/someone/abc"), "").status, 404) << "reading works";
    store.database().run("PRAGMA query_only = 0");
    EXPECT_EQ(store.macCount(), 0u);
}
