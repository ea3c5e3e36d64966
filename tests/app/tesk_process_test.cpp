// The tesk executable as a user runs it: started in a fresh home, stopped by a signal.
#include "core/library_store.h"
#include "fake_relay.h"
#include "relay_service.h"
#include "support/child_process.h"
#include "support/raw_client.h"
#include "support/temp_dir.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ip/v6_only.hpp>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

/// A running tesk. `environment` adds "NAME=value" entries to a bare environment without any display.
class TeskProcess : public ChildProcess {
public:
    TeskProcess(const fs::path& dataHome, std::vector<std::string> arguments,
                std::vector<std::string> environment = {})
        : ChildProcess(withProgram(std::move(arguments)), withHome(dataHome, std::move(environment))) {}

    /// The next line of standard output; what is there of it when none came within `timeout`.
    std::string firstLine(std::chrono::milliseconds timeout = 10s) { return readLine(timeout).value_or(""); }
    int wait(std::chrono::milliseconds timeout = 10s) { return exitCode(timeout); }
    std::string standardError() { return readError(); }

private:
    static std::vector<std::string> withProgram(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), TESK_EXECUTABLE);
        return arguments;
    }
    static std::vector<std::string> withHome(const fs::path& dataHome, std::vector<std::string> environment) {
        environment.push_back("XDG_DATA_HOME=" + dataHome.string());
        environment.push_back("XDG_CONFIG_HOME=" + (dataHome / "config").string());
        environment.push_back("HOME=" + dataHome.string());
        return environment;
    }
};

} // namespace

TEST(TeskProcessTest, HeadlessRunPrintsItsAddressServesAndStopsOnSigterm) {
    TempDir home;
    TeskProcess tesk(home.path(), {"--headless", "--port", "0"});
    const std::string line = tesk.firstLine();
    ASSERT_TRUE(line.starts_with("Tesk is sharing at http://")) << line;
    const auto colon = line.rfind(':');
    const int port = std::stoi(line.substr(colon + 1));
    ASSERT_GT(port, 0);

    const std::string response = request(static_cast<std::uint16_t>(port), "GET / HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(response.starts_with("HTTP/1.1 200 OK\r\n"));
    EXPECT_NE(response.find("This computer shares files with Tesk."), std::string::npos);
    EXPECT_TRUE(fs::is_directory(home.path() / "Tesk" / "files"));
    EXPECT_TRUE(fs::is_directory(home.path() / "Tesk" / "incoming"));

    tesk.signal(SIGTERM);
    EXPECT_EQ(tesk.wait(), 0);
}

TEST(TeskProcessTest, SigintAlsoStopsCleanly) {
    TempDir home;
    TeskProcess tesk(home.path(), {"--headless", "--port", "0"});
    ASSERT_TRUE(tesk.firstLine().starts_with("Tesk is sharing at"));
    tesk.signal(SIGINT);
    EXPECT_EQ(tesk.wait(), 0);
}

TEST(TeskProcessTest, LibraryThatCannotBeCreatedEndsWithStatusOne) {
    TempDir home;
    // A file where the data directory should be: nothing can be created below it, not even by root.
    std::ofstream(home.path() / "blocked") << "not a directory";
    TeskProcess tesk(home.path() / "blocked", {"--headless", "--port", "0"});
    EXPECT_EQ(tesk.wait(), 1);
    const std::string error = tesk.standardError();
    EXPECT_NE(
        error.find("Tesk couldn't open its library at " + (home.path() / "blocked" / "Tesk").string() + "."),
        std::string::npos)
        << error;
    EXPECT_EQ(tesk.firstLine(100ms), "");
}

TEST(TeskProcessTest, PortInUseFallsBackAndReportsThePortUsed) {
    TempDir home;
    TeskProcess first(home.path() / "a", {"--headless", "--port", "0"});
    const std::string line = first.firstLine();
    const std::string port = line.substr(line.rfind(':') + 1);
    TeskProcess second(home.path() / "b", {"--headless", "--port", port});
    const std::string secondLine = second.firstLine();
    ASSERT_TRUE(secondLine.starts_with("Tesk is sharing at http://")) << secondLine;
    EXPECT_NE(secondLine.substr(secondLine.rfind(':') + 1), port);
    first.signal(SIGTERM);
    second.signal(SIGTERM);
    EXPECT_EQ(first.wait(), 0);
    EXPECT_EQ(second.wait(), 0);
}

TEST(TeskProcessTest, UnknownArgumentsAreRefused) {
    TempDir home;
    TeskProcess tesk(home.path(), {"--bogus"});
    EXPECT_EQ(tesk.wait(), 2);
    EXPECT_NE(tesk.standardError().find("usage: tesk"), std::string::npos);
}

TEST(TeskProcessTest, HeadlessPairingPrintsALinkAndReportsThePhone) {
    TempDir home;
    TeskProcess tesk(home.path(), {"--headless", "--port", "0", "--pair"});
    ASSERT_TRUE(tesk.firstLine().starts_with("Tesk is sharing at http://"));
    const std::string pairLine = tesk.firstLine();
    const std::string marker = "open http://";
    const auto at = pairLine.find(marker);
    ASSERT_NE(at, std::string::npos) << pairLine;
    // http://HOST:PORT/p/CODE/
    const std::string link = pairLine.substr(at + 5);
    const auto portStart = link.find(':', 7) + 1;
    const auto path = link.find('/', portStart);
    const int port = std::stoi(link.substr(portStart, path - portStart));
    const std::string claimPath = link.substr(path) + "claim";
    ASSERT_TRUE(claimPath.starts_with("/p/"));

    // The QR code follows: lines of half blocks.
    EXPECT_NE(tesk.firstLine().find("\u2588"), std::string::npos);

    const std::string body = R"({"name":"Kitchen iPad"})";
    const std::string reply =
        request(static_cast<std::uint16_t>(port), "POST " + claimPath + " HTTP/1.1\r\nContent-Length: " +
                                                      std::to_string(body.size()) + "\r\n\r\n" + body);
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 200 OK\r\n")) << reply;
    std::string line;
    for (int i = 0; i < 100 && !line.starts_with("Paired:"); ++i) {
        line = tesk.firstLine(2s);
    }
    EXPECT_EQ(line, "Paired: Kitchen iPad");
    tesk.signal(SIGTERM);
    EXPECT_EQ(tesk.wait(), 0);
}

TEST(TeskProcessTest, WithoutADisplayItSaysHowToRunHeadless) {
    TempDir home;
    TeskProcess tesk(home.path(), {});
    EXPECT_EQ(tesk.wait(), 2);
    EXPECT_NE(tesk.standardError().find("tesk --headless"), std::string::npos);
    EXPECT_FALSE(fs::exists(home.path() / "Tesk")) << "nothing was opened";
}

TEST(TeskProcessTest, ThePreferredPortsHeldMeansAPortTheSystemPicks) {
    asio::io_context io;
    std::vector<asio::ip::tcp::acceptor> held;
    for (const std::uint16_t port : {47470, 47471, 47472}) {
        asio::ip::tcp::acceptor acceptor(io);
        asio::error_code error;
        acceptor.open(asio::ip::tcp::v6(), error);
        acceptor.set_option(asio::ip::v6_only(false), error);
        acceptor.bind({asio::ip::tcp::v6(), port}, error);
        acceptor.listen(asio::socket_base::max_listen_connections, error);
        // A port some other program already holds is just as taken.
        held.push_back(std::move(acceptor));
    }
    TempDir home;
    TeskProcess tesk(home.path(), {"--headless"});
    const std::string line = tesk.firstLine();
    ASSERT_TRUE(line.starts_with("Tesk is sharing at http://")) << line;
    const int port = std::stoi(line.substr(line.rfind(':') + 1));
    EXPECT_TRUE(port < 47470 || port > 47472) << port;
    EXPECT_TRUE(
        request(static_cast<std::uint16_t>(port), "GET / HTTP/1.1\r\n\r\n").starts_with("HTTP/1.1 200"));
    tesk.signal(SIGTERM);
    EXPECT_EQ(tesk.wait(), 0);
}

TEST(TeskProcessTest, HeadlessChecksInWithTheRelayAndFolderSharesCanBeFollowed) {
    TempDir home;
    TempDir relayData;
    RelayService relay(relayData.path() / "state.json");
    ASSERT_FALSE(relay.base().empty());

    // A folder shared before the start: the first check-in must report it.
    std::string token;
    {
        LibraryStore store(home.path() / "Tesk");
        const Folder folder = store.addFolder("Holiday", std::nullopt);
        token = store.share(ShareTarget::folder(folder.id), ShareDuration::day, true).token;
    }
    TeskProcess tesk(home.path(), {"--headless", "--port", "0"}, {"TESK_RELAY_HOSTS=" + relay.base()});
    const std::string line = tesk.firstLine();
    ASSERT_TRUE(line.starts_with("Tesk is sharing at http://")) << line;
    const std::string port = line.substr(line.rfind(':') + 1);

    std::string macId;
    ASSERT_TRUE(spinUntil([&] {
        std::ifstream identity(home.path() / "Tesk" / "relay.json");
        std::stringstream text;
        text << identity.rdbuf();
        const auto json = nlohmann::json::parse(text.str(), nullptr, false);
        if (json.is_object() && json.contains("macId")) {
            macId = json["macId"].get<std::string>();
        }
        return !macId.empty();
    })) << "signed up";

    // The relay sends followers on to the share on this computer once the check-in told it where that is.
    std::string location;
    ASSERT_TRUE(spinUntil([&] {
        const std::string reply =
            request(static_cast<std::uint16_t>(std::stoi(relay.base().substr(17))),
                    "GET /k/" + macId + "/" + token + " HTTP/1.1\r\nHost: relay\r\n\r\n");
        const auto at = reply.find("Location: ");
        if (!reply.starts_with("HTTP/1.1 30") || at == std::string::npos) {
            return false;
        }
        location = reply.substr(at + 10, reply.find("\r\n", at) - at - 10);
        return true;
    })) << "the relay knows the share";
    EXPECT_TRUE(location.starts_with("http://")) << location;
    EXPECT_TRUE(location.ends_with(":" + port + "/s/" + token + "/")) << location;

    // The computer learned its relay addresses and offers following on the share's document.
    std::string api;
    ASSERT_TRUE(spinUntil([&] {
        api = request(static_cast<std::uint16_t>(std::stoi(port)),
                      "GET /s/" + token + "/api HTTP/1.1\r\nHost: test\r\n\r\n");
        return api.find("followURL") != std::string::npos;
    })) << api;
    const auto json = nlohmann::json::parse(api.substr(api.find("\r\n\r\n") + 4));
    EXPECT_EQ(json["followURL"], relay.base() + "/k/" + macId + "/" + token + "/follow");

    tesk.signal(SIGTERM);
    EXPECT_EQ(tesk.wait(), 0);
}
