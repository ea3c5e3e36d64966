// The tesk-relay executable as a self-hoster runs it: its store kept across a restart, an earlier state
// file imported, a clean exit on a signal, the ways it refuses to start, and two relays on one
// PostgreSQL database serving one state.
#include "relay/secret_hash.h"
#include "scratch_store.h"
#include "support/child_process.h"
#include "support/file_contents.h"
#include "support/http_reply.h"
#include "support/raw_client.h"
#include "support/relay_requests.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <ctime>
#include <fstream>
#include <tuple>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

/// tesk-relay run with `arguments`.
ChildProcess relay(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), TESK_RELAY_EXECUTABLE);
    return ChildProcess(std::move(arguments));
}

/// The port its line "tesk-relay listening on port N" names, skipping other lines; 0 when none came.
std::uint16_t portOf(ChildProcess& relay) {
    const std::string prefix = "tesk-relay listening on port ";
    while (const auto line = relay.readLine(5s)) {
        if (line->starts_with(prefix)) {
            return static_cast<std::uint16_t>(std::stoi(line->substr(prefix.size())));
        }
    }
    return 0;
}

} // namespace

TEST(RelayProcessTest, KeepsItsMacsAcrossARestartImportsAnEarlierStateFileAndExitsCleanlyOnASignal) {
    TempDir dir;
    const fs::path data = dir.path() / "relay.json", store = dir.path() / "relay.sqlite";
    const std::string earlier =
        R"({"version":1,"macs":{"old-mac":{"secretSHA256":")" + SecretHash::sha256Hex("old secret") +
        R"(","created":)" + std::to_string(std::time(nullptr)) +
        R"(,"lastCheckIn":0,"name":"Old","lan":[],"ssid":"","shares":[],"devices":[],)"
        R"("followers":{},"notifications":[],"pending":{}}}})";
    std::ofstream(data) << earlier;
    std::pair<std::string, std::string> mac; // signed up in the first run, still known in the second
    // The first run is today's command line: the state file imported into an SQLite file beside it.
    for (const auto& [arguments, signal] : std::vector<std::pair<std::vector<std::string>, int>>{
             {{"--port", "0", "--data", data.string()}, SIGTERM},
             {{"--port", "0", "--store", "sqlite:" + store.string()}, SIGINT}}) {
        ChildProcess process = relay(arguments);
        const std::uint16_t port = portOf(process);
        ASSERT_NE(port, 0);
        EXPECT_EQ(fs::status(store).permissions(), fs::perms::owner_read | fs::perms::owner_write);
        if (mac.first.empty()) {
            mac = RelayRequests::signUp(port);
        }
        EXPECT_EQ(RelayRequests::checkIn(port, mac), 200);
        EXPECT_EQ(RelayRequests::checkIn(port, {"old-mac", "old secret"}), 200);
        process.signal(signal);
        EXPECT_EQ(process.exitCode(5s), 0);
    }
    EXPECT_FALSE(fs::exists(data)) << "renamed once imported";
}

TEST(RelayProcessTest, RefusesToStartWithoutAUsableCommandLineStateFileStoreOrPort) {
    TempDir dir;
    const auto in = [&dir](const fs::path& name) { return (dir.path() / name).string(); };
    const std::string brokenFile = in("broken.json"), unusable = in("missing-directory/relay.sqlite");
    const std::string broken = R"({"version":1,"macs":{"a":{"secretSHA256":)";
    std::ofstream(brokenFile, std::ios::binary) << broken;
    ChildProcess running = relay({"--port", "0", "--store", "sqlite:" + in("running.sqlite")});
    const std::string usage = "usage: tesk-relay --port N [--store STORE]";
    for (const auto& [arguments, status, message] :
         std::vector<std::tuple<std::vector<std::string>, int, std::string>>{
             {{"--port", "0"}, 2, usage},
             {{"--port", "70000", "--store", "sqlite:" + in("a.sqlite")}, 2, usage},
             {{"--port", "0", "--store", "sqlite:" + in("a.sqlite"), "--tls", "yes"}, 2, usage},
             {{"--port", "0", "--store", "sqlite:" + in("a.sqlite"), "--signups-per-hour", "-1"}, 2, usage},
             {{"--port", "0", "--store", "sqlite:" + in("a.sqlite"), "--trusted-proxy", "proxy.lan"},
              2,
              usage},
             {{"--port", "0", "--store", "sqlite:" + in("a.sqlite"), "--contact", "ops@example.org"},
              2,
              usage},
             {{"--port", "0", "--data", brokenFile}, 1, brokenFile + ": "},
             {{"--port", "0", "--store", "sqlite:" + unusable}, 1, "cannot open " + unusable},
             {{"--port", "0", "--store", "mysql://relay@db/relay"}, 1, "not a store: mysql://relay@db/relay"},
             {{"--port", "0", "--store", "postgresql://nobody@127.0.0.1:1/relay"}, 1, "cannot connect to"},
             {{"--port", std::to_string(portOf(running)), "--store", "sqlite:" + in("other.sqlite")},
              1,
              "listen"},
         }) {
        ChildProcess refused = relay(arguments);
        EXPECT_EQ(refused.exitCode(5s), status);
        EXPECT_EQ(portOf(refused), 0) << "never listened";
        const std::string error = refused.readError();
        EXPECT_NE(error.find(message), std::string::npos) << error;
    }
    EXPECT_EQ(readFile(brokenFile), broken) << "an undecodable state file is left as it is";
    EXPECT_FALSE(fs::exists(in("a.sqlite"))) << "nothing written without a usable command line";
}

// Behind one load balancer: a computer signs up through one relay and checks in through the other; a
// phone's share link on the first finds the address the second learned.
TEST(RelayProcessTest, TwoRelaysOnOnePostgreSQLDatabaseServeOneState) {
    const ScratchStore scratch(RelayDatabase::Engine::postgresql);
    ChildProcess first = relay({"--port", "0", "--store", scratch.address()});
    ChildProcess second = relay({"--port", "0", "--store", scratch.address()});
    const std::uint16_t one = portOf(first), two = portOf(second);
    ASSERT_TRUE(one && two);
    const auto mac = RelayRequests::signUp(one);
    EXPECT_EQ(
        RelayRequests::checkIn(
            two, mac, R"({"lan":["http://192.168.7.9:47470"],"shares":[{"token":"abc","title":"Photos"}]})"),
        200);
    const auto link = parseHttpReply(request(one, "GET /k/" + mac.first + "/abc HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(link.status, 302);
    EXPECT_EQ(link.header("location"), "http://192.168.7.9:47470/s/abc/");
}
