// The tesk-relay executable as a self-hoster runs it: its state file kept across a restart and a clean
// exit on a signal, and the ways it refuses to start.
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

TEST(RelayProcessTest, KeepsMacsAndFollowersAcrossARestart) {
    TempDir dir;
    const fs::path data = dir.path() / "relay.json";
    json mac; // signed up in the first run, still known in the second
    for (const auto& [signal, followers] : {std::pair{SIGTERM, 0}, std::pair{SIGINT, 1}}) {
        RelayProcess relay(data);
        const std::uint16_t port = relay.port();
        ASSERT_NE(port, 0);
        EXPECT_TRUE(fs::exists(data)) << "written at the start, before any Mac signs up";
        if (mac.is_null()) {
            mac = json::parse(exchange(port, "POST", "/api/macs").body);
        }
        const std::string id = mac.value("macId", "");
        EXPECT_EQ(exchange(port, "POST", "/api/macs/" + id + "/presence", R"({"shares":[{"token":"abc"}]})",
                           {{"Authorization", "Bearer " + mac.value("secret", "")}})
                      .body,
                  R"({"followers":{"abc":)" + std::to_string(followers) + "}}");
        exchange(port, "GET", "/k/" + id + "/abc/follow");
        relay.signal(signal);
        EXPECT_EQ(relay.exitCode(5s), 0);
    }
}

TEST(RelayProcessTest, RefusesToStartWithoutAUsableCommandLineStateFileOrPort) {
    TempDir dir;
    const std::string file = (dir.path() / "relay.json").string();
    const std::string broken = R"({"version":1,"macs":{"a":{"secretSHA256":)";
    const std::string brokenFile = (dir.path() / "broken.json").string();
    std::ofstream(brokenFile, std::ios::binary) << broken;
    const std::string unwritable = (dir.path() / "missing-directory" / "relay.json").string();
    RelayProcess running(dir.path() / "running.json");
    const std::string usage = "usage: tesk-relay --port N --data FILE";
    const std::vector<std::tuple<std::vector<std::string>, int, std::string>> cases{
        {{"--port", "0"}, 2, usage},
        {{"--port", "70000", "--data", file}, 2, usage},
        {{"--port", "0", "--data", file, "--tls", "yes"}, 2, usage},
        {{"--port", "0", "--data", brokenFile}, 1, brokenFile + ": "},
        {{"--port", "0", "--data", unwritable}, 1, "cannot write " + unwritable},
        {{"--port", std::to_string(running.port()), "--data", (dir.path() / "other.json").string()},
         1,
         "listen"},
    };
    for (const auto& [arguments, status, message] : cases) {
        RelayProcess relay(arguments);
        EXPECT_EQ(relay.exitCode(5s), status);
        EXPECT_EQ(relay.port(), 0) << "never listened";
        const std::string error = relay.readError();
        EXPECT_NE(error.find(message), std::string::npos) << error;
    }
    EXPECT_EQ(readFile(brokenFile), broken) << "an undecodable state file is left as it is";
    EXPECT_FALSE(fs::exists(file)) << "nothing written without a usable command line";
}
