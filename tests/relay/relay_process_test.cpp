// The tesk-relay executable as a self-hoster runs it: its state file kept across a restart and a clean
// exit on a signal, and the ways it refuses to start.
#include "support/child_process.h"
#include "support/file_contents.h"
#include "support/http_reply.h"
#include "support/raw_client.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
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

/// The port its first line names ("tesk-relay listening on port N"); 0 when no such line came.
std::uint16_t portOf(ChildProcess& relay) {
    const std::string line = relay.readLine(5s).value_or(""), prefix = "tesk-relay listening on port ";
    return line.starts_with(prefix) ? static_cast<std::uint16_t>(std::stoi(line.substr(prefix.size()))) : 0;
}

} // namespace

// What the state file holds is the state tests' to check; here the executable reads it back at start.
TEST(RelayProcessTest, KnowsItsMacsAfterARestartAndExitsCleanlyOnASignal) {
    TempDir dir;
    const std::string data = (dir.path() / "relay.json").string();
    nlohmann::json mac; // signed up in the first run, still known in the second
    for (const int signal : {SIGTERM, SIGINT}) {
        ChildProcess process = relay({"--port", "0", "--data", data});
        const std::uint16_t port = portOf(process);
        ASSERT_NE(port, 0);
        EXPECT_TRUE(fs::exists(data)) << "written at the start, before any Mac signs up";
        if (mac.is_null()) {
            mac = nlohmann::json::parse(
                parseHttpReply(request(port, "POST /api/macs HTTP/1.1\r\nContent-Length: 0\r\n\r\n")).body);
        }
        const std::string presence = "POST /api/macs/" + mac.value("macId", "") + "/presence HTTP/1.1\r\n";
        EXPECT_EQ(parseHttpReply(request(port, presence + "Authorization: Bearer " + mac.value("secret", "") +
                                                   "\r\nContent-Length: 2\r\n\r\n{}"))
                      .status,
                  200);
        process.signal(signal);
        EXPECT_EQ(process.exitCode(5s), 0);
    }
}

TEST(RelayProcessTest, RefusesToStartWithoutAUsableCommandLineStateFileOrPort) {
    TempDir dir;
    const auto in = [&dir](const fs::path& name) { return (dir.path() / name).string(); };
    const std::string file = in("relay.json"), brokenFile = in("broken.json"), other = in("other.json");
    const std::string unwritable = in("missing-directory/relay.json");
    const std::string broken = R"({"version":1,"macs":{"a":{"secretSHA256":)";
    std::ofstream(brokenFile, std::ios::binary) << broken;
    ChildProcess running = relay({"--port", "0", "--data", in("running.json")});
    const std::string usage = "usage: tesk-relay --port N --data FILE";
    for (const auto& [arguments, status, message] :
         std::vector<std::tuple<std::vector<std::string>, int, std::string>>{
             {{"--port", "0"}, 2, usage},
             {{"--port", "70000", "--data", file}, 2, usage},
             {{"--port", "0", "--data", file, "--tls", "yes"}, 2, usage},
             {{"--port", "0", "--data", brokenFile}, 1, brokenFile + ": "},
             {{"--port", "0", "--data", unwritable}, 1, "cannot write " + unwritable},
             {{"--port", std::to_string(portOf(running)), "--data", other}, 1, "listen"},
         }) {
        ChildProcess refused = relay(arguments);
        EXPECT_EQ(refused.exitCode(5s), status);
        EXPECT_EQ(portOf(refused), 0) << "never listened";
        const std::string error = refused.readError();
        EXPECT_NE(error.find(message), std::string::npos) << error;
    }
    EXPECT_EQ(readFile(brokenFile), broken) << "an undecodable state file is left as it is";
    EXPECT_FALSE(fs::exists(file)) << "nothing written without a usable command line";
}
