// The tesk executable as a user runs it without a display: started in a fresh home, pairing a phone from
// the terminal, stopped by a signal.
#include "support/child_process.h"
#include "support/raw_client.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

using namespace std::chrono_literals;

TEST(TeskProcessTest, HeadlessPairingPrintsALinkAndItsCodeReportsThePhoneAndStopsCleanly) {
    TempDir home;
    ChildProcess tesk(std::vector<std::string>{TESK_EXECUTABLE, "--headless", "--port", "0", "--pair"},
                      std::vector<std::string>{"XDG_DATA_HOME=" + home.path().string(),
                                               "XDG_CONFIG_HOME=" + (home.path() / "config").string(),
                                               "HOME=" + home.path().string()});
    const auto line = [&](std::chrono::milliseconds timeout = 10s) {
        return tesk.readLine(timeout).value_or("");
    };
    const std::string first = line();
    ASSERT_TRUE(first.starts_with("Tesk is sharing at http://")) << first;
    const std::string port = first.substr(first.rfind(':') + 1);
    // Then the pairing link on that port, and its QR code in lines of half blocks.
    const std::string pairLine = line();
    const auto at = pairLine.find(":" + port + "/p/");
    ASSERT_NE(at, std::string::npos) << pairLine;
    EXPECT_NE(line().find("\u2588"), std::string::npos);

    const auto codeEnd = pairLine.find('/', at + port.size() + 4);
    const std::string claim = pairLine.substr(at + port.size() + 1, codeEnd - at - port.size()) + "claim";
    const std::string body = R"({"name":"Kitchen iPad"})";
    const std::string reply = request(
        static_cast<std::uint16_t>(std::stoi(port)),
        "POST " + claim + " HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 200 OK\r\n")) << reply;
    std::string paired;
    for (int i = 0; i < 100 && !paired.starts_with("Paired:"); ++i) {
        paired = line(2s);
    }
    EXPECT_EQ(paired, "Paired: Kitchen iPad");
    tesk.signal(SIGTERM);
    EXPECT_EQ(tesk.exitCode(10s), 0);
}

TEST(TeskProcessTest, RefusalsEndWithTheirStatusAndSayWhy) {
    TempDir home;
    // A file where the data directory should be: nothing can be made below it, not even by root.
    std::ofstream(home.path() / "blocked") << "not a directory";
    const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
        {{TESK_EXECUTABLE, "--bogus"}, 2, "usage: tesk"},
        {{TESK_EXECUTABLE}, 2, "tesk --headless"}, // no display
        {{TESK_EXECUTABLE, "--headless", "--port", "0"}, 1, "Tesk couldn't open its library at "}};
    const std::vector<std::string> environment{"XDG_DATA_HOME=" + (home.path() / "blocked").string(),
                                               "HOME=" + home.path().string()};
    for (const auto& [command, status, says] : cases) {
        ChildProcess tesk(command, environment);
        EXPECT_EQ(tesk.exitCode(10s), status) << says;
        EXPECT_NE(tesk.readError().find(says), std::string::npos) << says;
    }
}
