// The tesk-relay executable as a self-hoster runs it: its command line, its state file kept across a
// restart, and the ways it refuses to start.
#include "relay_test_support.h"
#include "support/file_contents.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <fstream>
#include <tuple>

namespace fs = std::filesystem;
using json = nlohmann::json;
using namespace std::chrono_literals;

namespace {

class RelayProcessTest : public ::testing::Test {
protected:
    TempDir dir;
    const fs::path data = dir.path() / "relay.json";
};

} // namespace

TEST_F(RelayProcessTest, KeepsMacsAndFollowersAcrossARestart) {
    std::string id;
    HTTP::Headers auth;
    const json presence = {{"lan", {"http://127.0.0.1:9"}}, {"shares", {{{"token", "abc"}}}}};
    {
        RelayProcess relay(data);
        const std::uint16_t port = relay.port();
        ASSERT_NE(port, 0);
        EXPECT_TRUE(fs::exists(data)) << "written at the start, before any Mac signs up";
        const HttpReply signUp = exchange(port, "POST", "/api/macs", R"({"name":"Studio"})");
        ASSERT_EQ(signUp.status, 201);
        const auto credentials = json::parse(signUp.body);
        id = credentials.at("macId").get<std::string>();
        auth = {{"Authorization", "Bearer " + credentials.at("secret").get<std::string>()}};
        ASSERT_EQ(exchange(port, "POST", "/api/macs/" + id + "/presence", presence.dump(), auth).status, 200);
        EXPECT_EQ(exchange(port, "GET", "/k/" + id + "/abc/follow").status, 200);
        relay.signal(SIGTERM);
        EXPECT_EQ(relay.exitCode(5s), 0);
    }
    RelayProcess again(data);
    const std::uint16_t port = again.port();
    ASSERT_NE(port, 0);
    EXPECT_EQ(exchange(port, "POST", "/api/macs/" + id + "/presence", presence.dump(), auth).body,
              R"({"followers":{"abc":1}})");
    again.signal(SIGINT);
    EXPECT_EQ(again.exitCode(5s), 0);
}

TEST_F(RelayProcessTest, RefusesToStartWithoutAUsableCommandLineStateFileOrPort) {
    const std::string broken = R"({"version":1,"macs":{"a":{"secretSHA256":)";
    const fs::path brokenFile = dir.path() / "broken.json";
    std::ofstream(brokenFile, std::ios::binary) << broken;
    const std::string unwritable = (dir.path() / "missing-directory" / "relay.json").string();
    RelayProcess running(dir.path() / "running.json");
    const std::string taken = std::to_string(running.port());
    const std::string file = data.string();
    const std::string usage = "usage: tesk-relay --port N --data FILE";
    const std::vector<std::tuple<std::vector<std::string>, int, std::string>> cases{
        {{}, 2, usage},
        {{"--port", "0"}, 2, usage},
        {{"--data", file}, 2, usage},
        {{"--port", "0", "--data"}, 2, usage},
        {{"--port", "70000", "--data", file}, 2, usage},
        {{"--port", "12x", "--data", file}, 2, usage},
        {{"--port", "0", "--data", file, "--tls", "yes"}, 2, usage},
        {{"--port", "0", "--data", brokenFile.string()}, 1, brokenFile.string() + ": "},
        {{"--port", "0", "--data", brokenFile.string()}, 1, "not starting; the file was left as it is"},
        {{"--port", "0", "--data", unwritable}, 1, "cannot write " + unwritable},
        {{"--port", taken, "--data", (dir.path() / "other.json").string()}, 1, "listen"},
    };
    for (const auto& [arguments, status, message] : cases) {
        RelayProcess relay(arguments);
        EXPECT_EQ(relay.exitCode(5s), status);
        EXPECT_EQ(relay.port(), 0) << "never listened";
        const std::string error = relay.readError();
        EXPECT_NE(error.find(message), std::string::npos) << error;
    }
    EXPECT_EQ(readFile(brokenFile), broken);
    EXPECT_FALSE(fs::exists(data)) << "nothing written without a complete command line";
}
