// The relay's routes as a pure function of state, request and body, without sockets: each rule as
// request in, status, header and body out.
#include "relay/relay_routes.h"

#include "relay/secret_hash.h"
#include "relay_test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

using json = nlohmann::json;

HttpReply answer(RelayState& state, std::string_view method, const std::string& target,
                 std::string_view body = "", const HTTP::Headers& headers = {}) {
    return parseHttpReply(
        RelayRoutes::answer(state, parsedRequest(method, target, headers), body, 1).serialized());
}

class RelayRoutesTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto credentials = state.signUp("Mac", 1);
        ASSERT_TRUE(credentials);
        id = credentials->macId;
        secret = credentials->secret;
    }

    HttpReply call(std::string_view method, const std::string& target, std::string_view body = "",
                   const HTTP::Headers& headers = {}) {
        return answer(state, method, target, body, headers);
    }

    HttpReply asMac(const std::string& action, const json& body) {
        return call("POST", "/api/macs/" + id + "/" + action, body.dump(),
                    {{"Authorization", "Bearer " + secret}});
    }

    RelayState state;
    std::string id;
    std::string secret;
};

} // namespace

TEST_F(RelayRoutesTest, AnswersEachPathByItsRule) {
    asMac("presence", {{"name", "Ann's \"Mac\" <b>"},
                       {"lan", {"http://10.0.0.2:47470", "http://ann.local:47470"}},
                       {"shares", {{{"token", "abc"}}}},
                       {"devices", {SecretHash::sha256Hex("tok")}}});
    const std::string mac = "/api/macs/" + id;
    const std::string launcher = "/d/" + id + "/tok/";
    struct Case {
        std::string method;
        std::string target;
        int status;
        std::string header = {}; // "name: value" the answer must carry
        std::string inBody = {};
    };
    const std::vector<Case> cases{
        {"GET", "/healthz", 200, "content-type: text/plain; charset=utf-8", "ok"},
        {"GET", "/icon.png", 200, "content-type: image/png", "\x89PNG"},
        {"GET", "/", 404},
        {"GET", mac + "/other", 404},
        {"GET", "/d/x", 404},
        {"GET", "/k/x/y/z", 404},
        {"POST", "/healthz", 405, "allow: GET, HEAD"},
        {"GET", "/api/macs", 405, "allow: POST"},
        {"PUT", mac + "/send", 405, "allow: POST"},
        {"POST", mac + "/where", 405, "allow: GET, HEAD"},
        {"POST", "/k/" + id + "/abc/follow", 405, "allow: GET, HEAD"},
        // The pairing page asks from the computer's own origin whether the relay knows the phone.
        {"GET", mac + "/where?device=tok", 200, "access-control-allow-origin: *"},
        {"GET", mac + "/where?device=other", 404, "access-control-allow-origin: *", "unknown device"},
        {"GET", "/k/" + id + "/abc", 302, "location: http://10.0.0.2:47470/s/abc/"},
        {"GET", "/k/" + id + "/other", 404},
        {"GET", "/k/" + id + "/other/follow", 404},
        {"GET", "/k/nobody/abc/follow", 404},
        // The page's own addresses are relative to its directory.
        {"GET", "/d/" + id + "/tok", 301, "location: " + launcher},
        {"GET", launcher, 200, "content-type: text/html; charset=utf-8",
         "data-mac=\"Ann&#39;s &quot;Mac&quot; &lt;b&gt;\""},
        {"GET", launcher, 200, "",
         "data-addresses=\"[&quot;http://10.0.0.2:47470&quot;,&quot;http://ann.local:47470&quot;]\""},
        {"GET", launcher + "manifest.json", 200, "content-type: application/manifest+json",
         "\"start_url\":\"" + launcher + "\""},
        {"GET", "/d/" + id + "/other/", 404},
        {"GET", "/d/" + id + "/other/manifest.json", 404},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method + " " + c.target);
        const auto reply = call(c.method, c.target);
        EXPECT_EQ(reply.status, c.status);
        if (!c.header.empty()) {
            const auto colon = c.header.find(": ");
            EXPECT_EQ(reply.header(c.header.substr(0, colon)), c.header.substr(colon + 2));
        }
        EXPECT_NE(reply.body.find(c.inBody), std::string::npos) << reply.body.substr(0, 200);
    }
}

TEST_F(RelayRoutesTest, HeadAnnouncesTheBodyWithoutSendingIt) {
    const auto reply = call("HEAD", "/healthz");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.header("content-length"), "2");
    EXPECT_EQ(reply.body, "");
}

TEST_F(RelayRoutesTest, SignUpToleratesAnyBodyAndRefusesWhenFull) {
    for (const std::string body :
         {"", "not json", R"({"name":7})", R"({"name":""})", "[]", R"({"name":"Mac"})"}) {
        SCOPED_TRACE(body);
        const auto reply = call("POST", "/api/macs", body);
        ASSERT_EQ(reply.status, 201);
        const auto macId = json::parse(reply.body).at("macId").get<std::string>();
        EXPECT_EQ(state.mac(macId)->presence.name, body.ends_with("\"Mac\"}") ? "Mac" : "this computer");
    }
    RelayState full(RelayLimits{.maxMacs = 0});
    const auto refused = answer(full, "POST", "/api/macs");
    EXPECT_EQ(refused.status, 503);
    EXPECT_EQ(refused.body, R"({"error":"full"})");
}

TEST_F(RelayRoutesTest, MacRoutesNeedTheBearerSecret) {
    for (const std::string& authorization :
         std::vector<std::string>{"", "Bearer wrong", "Basic " + secret, "Bearer"}) {
        for (const std::string action : {"presence", "notify", "send"}) {
            SCOPED_TRACE(authorization + " " + action);
            const auto reply =
                call("POST", "/api/macs/" + id + "/" + action, "{}", {{"Authorization", authorization}});
            EXPECT_EQ(reply.status, 401);
            EXPECT_EQ(reply.header("www-authenticate"), "Bearer");
            EXPECT_EQ(reply.body, R"({"error":"unauthorized"})");
        }
    }
    EXPECT_EQ(
        call("POST", "/api/macs/" + id + "/presence", "{}", {{"Authorization", "bearer " + secret}}).status,
        200)
        << "the scheme is case-insensitive";
}

TEST_F(RelayRoutesTest, MalformedBodiesAre400AndChangeNothing) {
    asMac("presence", {{"shares", {{{"token", "abc"}}}}});
    const auto revision = state.revision();
    const std::vector<std::pair<std::string, std::string>> cases{
        {"presence", "{"},
        {"presence", "[]"},
        {"presence", R"({"name":1})"},
        {"presence", R"({"lan":"http://a"})"},
        {"presence", R"({"lan":["http://a\r\nX: y"]})"},
        {"presence", R"({"lan":["ftp://a"]})"},
        // Share links redirect there: a domain would make the relay an open redirect.
        {"presence", R"({"lan":["http://phish.example:47470"]})"},
        {"presence", R"({"lan":["http://mac.local:1","https://evil.example"]})"},
        {"presence", R"({"shares":[{"title":"x"}]})"},
        {"presence", R"({"shares":[{"token":"a/b"}]})"},
        {"presence", R"({"devices":["abc"]})"},
        {"notify", R"({"title":"no token"})"},
        {"notify", R"({"token":"abc","body":3})"},
        {"send", R"({"token":"abc"})"},
    };
    for (const auto& [action, body] : cases) {
        SCOPED_TRACE(action + " " + body);
        const auto reply =
            call("POST", "/api/macs/" + id + "/" + action, body, {{"Authorization", "Bearer " + secret}});
        EXPECT_EQ(reply.status, 400);
        EXPECT_EQ(reply.body, R"({"error":"malformed"})");
    }
    EXPECT_EQ(state.revision(), revision);
}

TEST_F(RelayRoutesTest, MacActionsKeepAddressesAsBasesAndDigestsInLowerCase) {
    const std::string phone(64, 'A');
    const auto checkIn = asMac(
        "presence", {{"lan", {"192.168.1.20:47470/", "https://studio.local:47470", "http://[fe80::1]:47470"}},
                     {"shares", {{{"token", "abc"}}, {{"token", "de-f_9"}}}},
                     {"devices", {phone}}});
    EXPECT_EQ(checkIn.body, R"({"followers":{"abc":0,"de-f_9":0}})");
    EXPECT_EQ(state.mac(id)->presence.lan,
              (std::vector<std::string>{"http://192.168.1.20:47470", "https://studio.local:47470",
                                        "http://[fe80::1]:47470"}));
    EXPECT_TRUE(state.mac(id)->knowsDevice(std::string(64, 'a')));

    state.follow(id, "abc", "visitor");
    EXPECT_EQ(asMac("notify", {{"token", "abc"}, {"title", "t"}, {"body", "b"}}).body, "{}");
    EXPECT_EQ(state.mac(id)->notifications.size(), 1u);
    const auto toStranger =
        asMac("send", {{"device", std::string(64, 'b')}, {"token", "abc"}, {"title", "x"}});
    EXPECT_EQ(toStranger.status, 404);
    EXPECT_EQ(toStranger.body, R"({"error":"unknown device"})");
    EXPECT_EQ(asMac("send", {{"device", phone}, {"token", "abc"}, {"title", "x"}}).body, R"({"sent":0})");
}

TEST_F(RelayRoutesTest, FollowCountsEachBrowserOnceThroughItsCookie) {
    asMac("presence", {{"shares", {{{"token", "abc"}, {"title", "<Photos>"}}}}});
    const std::string follow = "/k/" + id + "/abc/follow";
    EXPECT_EQ(call("GET", "/k/" + id + "/abc").status, 404) << "no address to send followers on to";

    const auto first = call("GET", follow);
    ASSERT_EQ(first.status, 200);
    const std::string cookie = first.header("set-cookie");
    EXPECT_TRUE(cookie.starts_with("tesk_visitor=")) << cookie;
    for (const std::string attribute : {"; HttpOnly", "; SameSite=Lax", "; Path=/", "; Max-Age=34560000"}) {
        EXPECT_NE(cookie.find(attribute), std::string::npos) << attribute;
    }
    EXPECT_EQ(cookie.find("Secure"), std::string::npos) << "plain HTTP: a Secure cookie never comes back";
    EXPECT_NE(first.body.find("&lt;Photos&gt;"), std::string::npos);
    EXPECT_EQ(first.body.find("<Photos>"), std::string::npos);

    const std::string visitor = cookie.substr(0, cookie.find(';'));
    EXPECT_EQ(call("GET", follow, "", {{"Cookie", "theme=dark; " + visitor}}).header("set-cookie"), "");
    EXPECT_EQ(state.mac(id)->followerCount("abc"), 1u);

    const auto forged =
        call("GET", follow, "", {{"Cookie", "tesk_visitor=short"}, {"X-Forwarded-Proto", "https"}});
    EXPECT_NE(forged.header("set-cookie").find("; Secure"), std::string::npos);
    EXPECT_EQ(state.mac(id)->followerCount("abc"), 2u) << "an id the relay never hands out is replaced";

    EXPECT_EQ(call("HEAD", follow).status, 200);
    EXPECT_EQ(state.mac(id)->followerCount("abc"), 2u) << "a link preview is not a follower";

    RelayState full(RelayLimits{.maxFollowersPerShare = 0});
    const auto other = full.signUp("Mac", 1)->macId;
    full.checkIn(other, {"Mac", {}, {{"abc", "A"}}, "", {}}, 1);
    EXPECT_EQ(answer(full, "GET", "/k/" + other + "/abc/follow").status, 503);
}
