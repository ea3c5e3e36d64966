// The relay's routes as a pure function of state, request and body: methods, malformed input,
// authorisation, cookies and the pages, without sockets.
#include "relay/relay_routes.h"

#include "relay/secret_hash.h"
#include "relay_test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace {

using json = nlohmann::json;

class RelayRoutesTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto credentials = state.signUp("Mac", 1);
        ASSERT_TRUE(credentials);
        id = credentials->macId;
        secret = credentials->secret;
    }

    RelayResponse call(std::string_view method, const std::string& target, std::string_view body = "",
                       HTTP::Headers headers = {}) {
        return RelayRoutes::answer(state, parsedRequest(method, target, headers), body, 1000);
    }

    RelayResponse asMac(const std::string& action, const json& body) {
        return call("POST", "/api/macs/" + id + "/" + action, body.dump(),
                    {{"Authorization", "Bearer " + secret}});
    }

    static std::string header(const RelayResponse& response, std::string_view name) {
        for (const auto& [key, value] : response.headers) {
            if (key == name) {
                return value;
            }
        }
        return {};
    }

    RelayState state;
    std::string id;
    std::string secret;
};

} // namespace

TEST_F(RelayRoutesTest, UnknownPathsAre404AndWrongMethods405) {
    const std::vector<std::pair<std::string, std::string>> missing{
        {"GET", "/"},    {"GET", "/api"},     {"GET", "/api/macs/x/other"},
        {"GET", "/d/x"}, {"GET", "/k/x/y/z"}, {"POST", "/nothing"}};
    for (const auto& [method, target] : missing) {
        SCOPED_TRACE(method + " " + target);
        EXPECT_EQ(call(method, target).status, 404);
    }
    const std::vector<std::tuple<std::string, std::string, std::string>> wrongMethod{
        {"POST", "/healthz", "GET, HEAD"},
        {"GET", "/api/macs", "POST"},
        {"GET", "/api/macs/" + id + "/presence", "POST"},
        {"PUT", "/api/macs/" + id + "/send", "POST"},
        {"POST", "/api/macs/" + id + "/where", "GET, HEAD"},
        {"DELETE", "/d/" + id + "/token/", "GET, HEAD"},
        {"POST", "/k/" + id + "/token/follow", "GET, HEAD"},
    };
    for (const auto& [method, target, allowed] : wrongMethod) {
        SCOPED_TRACE(method + " " + target);
        const auto response = call(method, target);
        EXPECT_EQ(response.status, 405);
        EXPECT_EQ(header(response, "Allow"), allowed);
    }
}

TEST_F(RelayRoutesTest, HeadAnnouncesTheBodyWithoutSendingIt) {
    const auto response = call("HEAD", "/healthz");
    EXPECT_EQ(response.status, 200);
    const std::string bytes = response.serialized();
    EXPECT_NE(bytes.find("Content-Length: 2\r\n"), std::string::npos);
    EXPECT_TRUE(bytes.ends_with("\r\n\r\n"));
}

TEST_F(RelayRoutesTest, SignUpToleratesAMissingOrInvalidBody) {
    for (const std::string body : {"", "not json", R"({"name":7})", R"({"name":""})", "[]"}) {
        SCOPED_TRACE(body);
        const auto response = call("POST", "/api/macs", body);
        ASSERT_EQ(response.status, 201);
        const auto reply = json::parse(response.body);
        EXPECT_EQ(state.mac(reply.at("macId").get<std::string>())->presence.name, "this computer");
    }
    const auto named = json::parse(call("POST", "/api/macs", R"({"name":"Studio"})").body);
    EXPECT_EQ(state.mac(named.at("macId").get<std::string>())->presence.name, "Studio");
}

TEST_F(RelayRoutesTest, MacRoutesNeedTheBearerSecret) {
    const std::vector<HTTP::Headers> refused{
        {},
        {{"Authorization", "Bearer wrong"}},
        {{"Authorization", "Basic " + secret}},
        {{"Authorization", "Bearer"}},
    };
    for (const auto& headers : refused) {
        for (const std::string action : {"presence", "notify", "send"}) {
            SCOPED_TRACE(action);
            const auto response = call("POST", "/api/macs/" + id + "/" + action, "{}", headers);
            EXPECT_EQ(response.status, 401);
            EXPECT_EQ(header(response, "WWW-Authenticate"), "Bearer");
            EXPECT_EQ(json::parse(response.body).at("error"), "unauthorized");
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
    const std::vector<std::pair<std::string, std::string>> presence{
        {"not json", "{"},
        {"not an object", "[]"},
        {"name not text", R"({"name":1})"},
        {"lan not a list", R"({"lan":"http://a"})"},
        {"lan entry not text", R"({"lan":[1]})"},
        {"header break in address", R"({"lan":["http://a\r\nX: y"]})"},
        {"quote in address", R"({"lan":["http://a\"b"]})"},
        {"other scheme", R"({"lan":["ftp://a"]})"},
        // Share links redirect there: a domain would make the relay an open redirect.
        {"domain name", R"({"lan":["http://phish.example:47470"]})"},
        {"domain after a local name", R"({"lan":["http://mac.local:1","https://evil.example"]})"},
        {"share not an object", R"({"shares":["abc"]})"},
        {"share without token", R"({"shares":[{"title":"x"}]})"},
        {"token with a slash", R"({"shares":[{"token":"a/b"}]})"},
        {"device not a digest", R"({"devices":["abc"]})"},
    };
    for (const auto& [name, body] : presence) {
        SCOPED_TRACE(name);
        const auto response =
            call("POST", "/api/macs/" + id + "/presence", body, {{"Authorization", "Bearer " + secret}});
        EXPECT_EQ(response.status, 400);
        EXPECT_EQ(json::parse(response.body).at("error"), "malformed");
    }
    EXPECT_EQ(asMac("notify", {{"title", "no token"}}).status, 400);
    EXPECT_EQ(asMac("notify", {{"token", "abc"}, {"body", 3}}).status, 400);
    EXPECT_EQ(asMac("send", {{"token", "abc"}}).status, 400) << "no device";
    EXPECT_EQ(state.revision(), revision);
    EXPECT_EQ(state.mac(id)->presence.shares.size(), 1u);
}

TEST_F(RelayRoutesTest, PresenceKeepsAddressesAsBasesAndCountsEveryShare) {
    const auto response = asMac(
        "presence", {{"name", "Studio"},
                     {"lan", {"192.168.1.20:47470/", "https://studio.local:47470", "http://[fe80::1]:47470"}},
                     {"shares", {{{"token", "abc"}, {"title", "Photos"}}, {{"token", "de-f_9"}}}},
                     {"ssid", "Home"},
                     {"devices", {std::string(64, 'A')}}});
    ASSERT_EQ(response.status, 200);
    EXPECT_EQ(json::parse(response.body), json::parse(R"({"followers":{"abc":0,"de-f_9":0}})"));
    const RelayMac& mac = *state.mac(id);
    EXPECT_EQ(mac.presence.lan,
              (std::vector<std::string>{"http://192.168.1.20:47470", "https://studio.local:47470",
                                        "http://[fe80::1]:47470"}));
    EXPECT_TRUE(mac.knowsDevice(std::string(64, 'a'))) << "hex digits kept in lower case";
}

TEST_F(RelayRoutesTest, FollowSetsAVisitorCookieOnlyWhenItHasNone) {
    asMac("presence",
          {{"lan", {"http://10.0.0.2:47470"}}, {"shares", {{{"token", "abc"}, {"title", "<Photos>"}}}}});
    const std::string follow = "/k/" + id + "/abc/follow";

    const auto first = call("GET", follow);
    ASSERT_EQ(first.status, 200);
    const std::string cookie = header(first, "Set-Cookie");
    EXPECT_TRUE(cookie.starts_with("tesk_visitor=")) << cookie;
    for (const std::string attribute : {"; HttpOnly", "; SameSite=Lax", "; Path=/", "; Max-Age=34560000"}) {
        EXPECT_NE(cookie.find(attribute), std::string::npos) << attribute;
    }
    EXPECT_EQ(cookie.find("Secure"), std::string::npos)
        << "plain HTTP: a Secure cookie would never come back";
    EXPECT_NE(first.body.find("&lt;Photos&gt;"), std::string::npos);
    EXPECT_EQ(first.body.find("<Photos>"), std::string::npos);

    const std::string visitor = cookie.substr(0, cookie.find(';'));
    const auto again = call("GET", follow, "", {{"Cookie", "theme=dark; " + visitor}});
    EXPECT_EQ(again.status, 200);
    EXPECT_EQ(header(again, "Set-Cookie"), "");
    EXPECT_EQ(state.mac(id)->followerCount("abc"), 1u);

    const auto forged =
        call("GET", follow, "", {{"Cookie", "tesk_visitor=short"}, {"X-Forwarded-Proto", "https"}});
    EXPECT_NE(header(forged, "Set-Cookie").find("; Secure"), std::string::npos);
    EXPECT_EQ(state.mac(id)->followerCount("abc"), 2u) << "an id the relay never hands out is replaced";

    const auto probe = call("HEAD", follow);
    EXPECT_EQ(probe.status, 200);
    EXPECT_EQ(state.mac(id)->followerCount("abc"), 2u) << "a HEAD request is not a follower";

    EXPECT_EQ(call("GET", "/k/" + id + "/other/follow").status, 404);
    EXPECT_EQ(call("GET", "/k/unknown/abc/follow").status, 404);
}

TEST_F(RelayRoutesTest, ShareLinkNeedsAnAddressToGoTo) {
    asMac("presence", {{"shares", {{{"token", "abc"}}}}});
    EXPECT_EQ(call("GET", "/k/" + id + "/abc").status, 404) << "no LAN address reported";
    asMac("presence", {{"lan", {"http://10.0.0.2:47470"}}, {"shares", {{{"token", "abc"}}}}});
    const auto response = call("GET", "/k/" + id + "/abc/");
    EXPECT_EQ(response.status, 302);
    EXPECT_EQ(header(response, "Location"), "http://10.0.0.2:47470/s/abc/");
}

TEST_F(RelayRoutesTest, LauncherRedirectsToItsDirectoryAndEscapesWhatItShows) {
    asMac("presence", {{"name", "Ann's \"Mac\" <b>"},
                       {"lan", {"http://10.0.0.2:47470", "http://ann.local:47470"}},
                       {"devices", {SecretHash::sha256Hex("tok")}}});
    const auto bare = call("GET", "/d/" + id + "/tok");
    EXPECT_EQ(bare.status, 301);
    EXPECT_EQ(header(bare, "Location"), "/d/" + id + "/tok/");

    const auto page = call("GET", "/d/" + id + "/tok/");
    ASSERT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("data-mac=\"Ann&#39;s &quot;Mac&quot; &lt;b&gt;\""), std::string::npos);
    EXPECT_NE(
        page.body.find(
            "data-addresses=\"[&quot;http://10.0.0.2:47470&quot;,&quot;http://ann.local:47470&quot;]\""),
        std::string::npos);
    EXPECT_NE(page.body.find("<link rel=\"manifest\" href=\"/d/" + id + "/tok/manifest.json\">"),
              std::string::npos);

    EXPECT_EQ(call("GET", "/d/" + id + "/other/").status, 404);
    EXPECT_EQ(call("GET", "/d/" + id + "/other/manifest.json").status, 404);
}
