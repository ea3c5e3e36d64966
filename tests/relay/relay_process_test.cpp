// The tesk-relay executable as a self-hoster runs it: started on a free port over a state file, used by
// a Mac and by phones over real sockets, stopped by a signal, started again.
#include "relay/secret_hash.h"
#include "relay_test_support.h"
#include "support/file_contents.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

/// The "name=value" part of a Set-Cookie value.
std::string cookiePair(const Reply& reply) {
    const std::string cookie = reply.header("set-cookie");
    return cookie.substr(0, cookie.find(';'));
}

class RelayProcessTest : public ::testing::Test {
protected:
    TempDir dir;
    const fs::path data = dir.path() / "relay.json";
    const std::string phoneToken = "phone-device-token";
};

} // namespace

TEST_F(RelayProcessTest, ServesMacsAndPhonesAndKeepsEverythingAcrossARestart) {
    std::string id;
    HTTP::Headers auth;
    const json presence = {{"name", "Studio"},
                           {"lan", {"http://127.0.0.1:9"}},
                           {"shares", {{{"token", "abc"}, {"title", "Holiday photos"}}}},
                           {"ssid", "Home"},
                           {"devices", {SecretHash::sha256Hex(phoneToken)}}};
    {
        RelayProcess relay(data);
        const std::uint16_t port = relay.port();
        ASSERT_NE(port, 0);
        const Reply health = exchange(port, "GET", "/healthz");
        EXPECT_EQ(health.status, 200);
        EXPECT_EQ(health.body, "ok");

        const Reply signUp = exchange(port, "POST", "/api/macs", R"({"name":"Studio"})");
        ASSERT_EQ(signUp.status, 201);
        const auto credentials = json::parse(signUp.body);
        id = credentials.at("macId").get<std::string>();
        const auto secret = credentials.at("secret").get<std::string>();
        EXPECT_GE(secret.size(), 32u);
        auth = {{"Authorization", "Bearer " + secret}};
        const std::string api = "/api/macs/" + id;

        const Reply checkIn = exchange(port, "POST", api + "/presence", presence.dump(), auth);
        ASSERT_EQ(checkIn.status, 200);
        EXPECT_EQ(checkIn.body, R"({"followers":{"abc":0}})");

        // Two visitors; the first comes back with its cookie and still counts once.
        const Reply first = exchange(port, "GET", "/k/" + id + "/abc/follow");
        ASSERT_EQ(first.status, 200);
        EXPECT_NE(first.body.find("Holiday photos"), std::string::npos);
        EXPECT_EQ(
            exchange(port, "GET", "/k/" + id + "/abc/follow", "", {{"Cookie", cookiePair(first)}}).status,
            200);
        EXPECT_EQ(exchange(port, "GET", "/k/" + id + "/abc/follow").status, 200);
        EXPECT_EQ(exchange(port, "POST", api + "/presence", presence.dump(), auth).body,
                  R"({"followers":{"abc":2}})");

        const Reply notify =
            exchange(port, "POST", api + "/notify",
                     R"({"token":"abc","title":"Holiday photos","body":"2 new photos"})", auth);
        EXPECT_EQ(notify.status, 200);
        EXPECT_EQ(notify.body, "{}");

        const json toStranger = {
            {"device", SecretHash::sha256Hex("stranger")}, {"token", "abc"}, {"title", "x"}};
        EXPECT_EQ(exchange(port, "POST", api + "/send", toStranger.dump(), auth).status, 404);
        const json toPhone = {
            {"device", SecretHash::sha256Hex(phoneToken)}, {"token", "abc"}, {"title", "x"}};
        const Reply sent = exchange(port, "POST", api + "/send", toPhone.dump(), auth);
        EXPECT_EQ(sent.status, 200);
        EXPECT_EQ(sent.body, R"({"sent":0})");

        const Reply known = exchange(port, "GET", api + "/where?device=" + phoneToken);
        EXPECT_EQ(known.status, 200);
        EXPECT_EQ(known.header("access-control-allow-origin"), "*");
        const Reply unknown = exchange(port, "GET", api + "/where?device=someone-else");
        EXPECT_EQ(unknown.status, 404);
        EXPECT_EQ(unknown.header("access-control-allow-origin"), "*");

        const Reply link = exchange(port, "GET", "/k/" + id + "/abc");
        EXPECT_EQ(link.status, 302);
        EXPECT_EQ(link.header("location"), "http://127.0.0.1:9/s/abc/");

        const std::string launcher = "/d/" + id + "/" + phoneToken + "/";
        const Reply page = exchange(port, "GET", launcher);
        ASSERT_EQ(page.status, 200);
        EXPECT_EQ(page.header("content-type"), "text/html; charset=utf-8");
        EXPECT_NE(page.body.find(R"(<link rel="apple-touch-icon" href="/icon.png">)"), std::string::npos);
        EXPECT_NE(page.body.find(R"(<meta name="apple-mobile-web-app-capable" content="yes">)"),
                  std::string::npos);
        EXPECT_NE(page.body.find("/ping"), std::string::npos);
        EXPECT_NE(page.body.find("?from=app"), std::string::npos);
        EXPECT_NE(page.body.find("isn't reachable"), std::string::npos);
        EXPECT_EQ(exchange(port, "GET", "/d/" + id + "/not-a-phone/").status, 404);

        const Reply manifest = exchange(port, "GET", launcher + "manifest.json");
        ASSERT_EQ(manifest.status, 200);
        const auto document = json::parse(manifest.body);
        EXPECT_EQ(document.at("name"), "Tesk");
        EXPECT_EQ(document.at("start_url"), launcher);
        EXPECT_EQ(document.at("display"), "standalone");
        EXPECT_EQ(document.at("icons").at(0).at("src"), "/icon.png");
        const Reply icon = exchange(port, "GET", "/icon.png");
        EXPECT_EQ(icon.status, 200);
        EXPECT_EQ(icon.header("content-type"), "image/png");
        EXPECT_TRUE(icon.body.starts_with("\x89PNG"));

        EXPECT_EQ(
            exchange(port, "POST", api + "/presence", presence.dump(), {{"Authorization", "Bearer nope"}})
                .status,
            401);
        EXPECT_EQ(exchange(port, "POST", api + "/presence", presence.dump()).status, 401);

        // The Mac stops sharing "abc": its link goes nowhere, its followers are still remembered.
        json withoutShare = presence;
        withoutShare["shares"] = json::array();
        EXPECT_EQ(exchange(port, "POST", api + "/presence", withoutShare.dump(), auth).body,
                  R"({"followers":{}})");
        EXPECT_EQ(exchange(port, "GET", "/k/" + id + "/abc").status, 404);

        relay.signal(SIGTERM);
        EXPECT_EQ(relay.wait(), 0);
    }
    struct stat info {};
    ASSERT_EQ(::stat(data.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    RelayProcess again(data);
    const std::uint16_t port = again.port();
    ASSERT_NE(port, 0);
    EXPECT_EQ(exchange(port, "POST", "/api/macs/" + id + "/presence", presence.dump(), auth).body,
              R"({"followers":{"abc":2}})");
    EXPECT_EQ(exchange(port, "GET", "/k/" + id + "/abc").status, 302);
    again.signal(SIGINT);
    EXPECT_EQ(again.wait(), 0);
}

TEST_F(RelayProcessTest, RefusesAnUndecodableStateFileAndLeavesItAsItIs) {
    const std::string broken = R"({"version":1,"macs":{"a":{"secretSHA256":)";
    std::ofstream(data, std::ios::binary) << broken;
    RelayProcess relay(data);
    EXPECT_EQ(relay.wait(), 1);
    EXPECT_EQ(relay.port(), 0) << "never listened";
    const std::string error = relay.standardError();
    EXPECT_NE(error.find(data.string()), std::string::npos) << error;
    EXPECT_NE(error.find("not starting"), std::string::npos) << error;
    EXPECT_EQ(readFile(data), broken);
}

TEST_F(RelayProcessTest, RefusesAPortInUse) {
    RelayProcess first(data);
    ASSERT_NE(first.port(), 0);
    RelayProcess second(dir.path() / "other.json", first.port());
    EXPECT_EQ(second.wait(), 1);
    EXPECT_NE(second.standardError().find("listen"), std::string::npos);
}

TEST_F(RelayProcessTest, RefusesIncompleteOrUnknownArguments) {
    const std::string file = data.string();
    const std::vector<std::vector<std::string>> cases{
        {},
        {"--port", "0"},
        {"--data", file},
        {"--port", "0", "--data"},
        {"--port", "70000", "--data", file},
        {"--port", "12x", "--data", file},
        {"--port", "0", "--data", file, "--tls", "yes"},
    };
    for (const auto& arguments : cases) {
        RelayProcess relay(arguments);
        EXPECT_EQ(relay.wait(), 2);
        EXPECT_NE(relay.standardError().find("usage: tesk-relay --port N --data FILE"), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(data)) << "nothing written without a complete command line";
}
