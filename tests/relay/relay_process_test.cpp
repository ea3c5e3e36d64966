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
using namespace std::chrono_literals;

TEST(RelayProcessTest, KeepsMacsAndFollowersAcrossARestart) {
    TempDir dir;
    const fs::path data = dir.path() / "relay.json";
    nlohmann::json mac; // signed up in the first run, still known in the second
    for (const auto& [signal, followers] : {std::pair{SIGTERM, 0}, std::pair{SIGINT, 1}}) {
        RelayProcess relay(data);
        const std::uint16_t port = relay.port();
        ASSERT_NE(port, 0);
        EXPECT_TRUE(fs::exists(data)) << "written at the start, before any Mac signs up";
        mac = mac.is_null() ? nlohmann::json::parse(exchange(port, "POST", "/api/macs").body) : mac;
        const std::string id = mac.value("macId", ""), presence = "/api/macs/" + id + "/presence";
        const auto reply = exchange(port, "POST", presence, R"({"shares":[{"token":"abc"}]})",
                                    {{"Authorization", "Bearer " + mac.value("secret", "")}});
        EXPECT_EQ(reply.body, R"({"followers":{"abc":)" + std::to_string(followers) + "}}");
        exchange(port, "GET", "/k/" + id + "/abc/follow");
        relay.signal(signal);
        EXPECT_EQ(relay.exitCode(5s), 0);
    }
}

TEST(RelayProcessTest, RefusesToStartWithoutAUsableCommandLineStateFileOrPort) {
    TempDir dir;
    const auto in = [&dir](const fs::path& name) { return (dir.path() / name).string(); };
    const std::string file = in("relay.json"), brokenFile = in("broken.json"), other = in("other.json");
    const std::string unwritable = in("missing-directory/relay.json");
    const std::string broken = R"({"version":1,"macs":{"a":{"secretSHA256":)";
    std::ofstream(brokenFile, std::ios::binary) << broken;
    RelayProcess running(dir.path() / "running.json");
    const std::string usage = "usage: tesk-relay --port N --data FILE";
    for (const auto& [arguments, status, message] :
         std::vector<std::tuple<std::vector<std::string>, int, std::string>>{
             {{"--port", "0"}, 2, usage},
             {{"--port", "70000", "--data", file}, 2, usage},
             {{"--port", "0", "--data", file, "--tls", "yes"}, 2, usage},
             {{"--port", "0", "--data", brokenFile}, 1, brokenFile + ": "},
             {{"--port", "0", "--data", unwritable}, 1, "cannot write " + unwritable},
             {{"--port", std::to_string(running.port()), "--data", other}, 1, "listen"},
         }) {
        RelayProcess relay(arguments);
        EXPECT_EQ(relay.exitCode(5s), status);
        EXPECT_EQ(relay.port(), 0) << "never listened";
        const std::string error = relay.readError();
        EXPECT_NE(error.find(message), std::string::npos) << error;
    }
    EXPECT_EQ(readFile(brokenFile), broken) << "an undecodable state file is left as it is";
    EXPECT_FALSE(fs::exists(file)) << "nothing written without a usable command line";
}
