// The tesk executable as a user runs it: started in a fresh home, stopped by a signal.
#include "support/child_process.h"
#include "support/raw_client.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

/// A running tesk with a bare environment without any display, its data and settings under `home`.
class TeskProcess : public ChildProcess {
public:
    TeskProcess(const fs::path& home, std::vector<std::string> arguments)
        : ChildProcess(withProgram(std::move(arguments)),
                       std::vector<std::string>{"XDG_DATA_HOME=" + home.string(),
                                                "XDG_CONFIG_HOME=" + (home / "config").string(),
                                                "HOME=" + home.string()}) {}

    /// The next line of standard output; what is there of it when none came within `timeout`.
    std::string line(std::chrono::milliseconds timeout = 10s) { return readLine(timeout).value_or(""); }
    /// The port of the "Tesk is sharing at http://…:PORT" line.
    std::uint16_t sharingPort() {
        const std::string first = line();
        EXPECT_TRUE(first.starts_with("Tesk is sharing at http://")) << first;
        return static_cast<std::uint16_t>(std::stoi(first.substr(first.rfind(':') + 1)));
    }

private:
    static std::vector<std::string> withProgram(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), TESK_EXECUTABLE);
        return arguments;
    }
};

} // namespace

TEST(TeskProcessTest, HeadlessRunServesItsAddressAndStopsCleanlyOnEitherSignal) {
    for (const int signal : {SIGTERM, SIGINT}) {
        TempDir home;
        TeskProcess tesk(home.path(), {"--headless", "--port", "0"});
        const std::string response = request(tesk.sharingPort(), "GET / HTTP/1.1\r\n\r\n");
        EXPECT_TRUE(response.starts_with("HTTP/1.1 200 OK\r\n"));
        EXPECT_TRUE(fs::is_directory(home.path() / "Tesk" / "incoming"));
        tesk.signal(signal);
        EXPECT_EQ(tesk.exitCode(10s), 0) << signal;
    }
}

TEST(TeskProcessTest, HeadlessPairingPrintsALinkAndItsCodeAndReportsThePhone) {
    TempDir home;
    TeskProcess tesk(home.path(), {"--headless", "--port", "0", "--pair"});
    const std::uint16_t port = tesk.sharingPort();
    const std::string pairLine = tesk.line();
    const auto at = pairLine.find("/p/");
    ASSERT_NE(at, std::string::npos) << pairLine;
    EXPECT_NE(pairLine.find(":" + std::to_string(port) + "/p/"), std::string::npos) << pairLine;
    // The QR code follows: lines of half blocks.
    EXPECT_NE(tesk.line().find("\u2588"), std::string::npos);

    const std::string claim = pairLine.substr(at, pairLine.find('/', at + 3) + 1 - at) + "claim";
    const std::string body = R"({"name":"Kitchen iPad"})";
    const std::string reply =
        request(port, "POST " + claim + " HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) +
                          "\r\n\r\n" + body);
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 200 OK\r\n")) << reply;
    std::string line;
    for (int i = 0; i < 100 && !line.starts_with("Paired:"); ++i) {
        line = tesk.line(2s);
    }
    EXPECT_EQ(line, "Paired: Kitchen iPad");
    tesk.signal(SIGTERM);
    EXPECT_EQ(tesk.exitCode(10s), 0);
}
