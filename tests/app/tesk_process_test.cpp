// The tesk executable as a user runs it without a display: started in a fresh home, pairing a phone from
// the terminal, sharing from the command line, handing later commands to the running one, stopped by a
// signal.
#include "support/child_process.h"
#include "support/file_contents.h"
#include "support/http_reply.h"
#include "support/raw_client.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>

using namespace std::chrono_literals;

namespace {

/// A user's home without a desktop: a library under data/ (or `library`), a runtime folder of its own.
std::vector<std::string> homeEnvironment(const TempDir& home, const std::string& library = "data") {
    std::filesystem::create_directories(home.path() / "run");
    std::filesystem::permissions(home.path() / "run", std::filesystem::perms::owner_all);
    return {"XDG_DATA_HOME=" + (home.path() / library).string(),
            "XDG_RUNTIME_DIR=" + (home.path() / "run").string(),
            "XDG_CONFIG_HOME=" + (home.path() / "config").string(), "HOME=" + home.path().string()};
}

/// Lines of output up to the first that matches `pattern`; the match's groups, or nothing.
std::smatch awaitLine(ChildProcess& process, const std::string& pattern, std::string& line) {
    const std::regex expression(pattern);
    std::smatch match;
    while (const auto next = process.readLine(10s)) {
        line = *next;
        if (std::regex_search(line, match, expression)) {
            return match;
        }
    }
    ADD_FAILURE() << "no line matching " << pattern;
    return match;
}

HttpReply get(std::uint16_t port, const std::string& path) {
    return parseHttpReply(request(port, "GET " + path + " HTTP/1.1\r\nConnection: close\r\n\r\n"));
}

/// The bytes of the first file a share's page lists, fetched as a phone does.
std::string firstFile(std::uint16_t port, const std::string& token) {
    const std::string document = get(port, "/s/" + token + "/api").body;
    std::smatch id;
    if (!std::regex_search(document, id, std::regex(R"re("items":\[\{"id":"([^"]+)")re"))) {
        return "no file in " + document;
}
return get(port, "/s/" + token + "/f/" + id[1].str()).body;
}

} // namespace

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
        {{TESK_EXECUTABLE, "--headless", "--port", "0"}, 1, "Tesk couldn't open its library at "},
        {{TESK_EXECUTABLE, "share", "--for", "week", "x"},
         2,
         "tesk: --for takes hour, day or stopped, not \"week\""},
        {{TESK_EXECUTABLE, "links", "--uploads"}, 2, "tesk: --uploads does not go with links"},
        // Nothing is added, nothing served, when one path of several cannot be read.
        {{TESK_EXECUTABLE, "share", "/", (home.path() / "missing.txt").string()},
         1,
         "missing.txt: no such file or folder"},
        {{TESK_EXECUTABLE, "stop", "abc"}, 1, "Tesk couldn't open its library at "}};
    const std::vector<std::string> environment{"XDG_DATA_HOME=" + (home.path() / "blocked").string(),
                                               "HOME=" + home.path().string()};
    for (const auto& [command, status, says] : cases) {
        ChildProcess tesk(command, environment);
        EXPECT_EQ(tesk.exitCode(10s), status) << says;
        EXPECT_NE(tesk.readError().find(says), std::string::npos) << says;
    }
}

TEST(TeskProcessTest, ShareServesInTheForegroundAndLaterCommandsGoToItForItsLibraryOnly) {
    TempDir home;
    const auto environment = homeEnvironment(home);
    std::filesystem::create_directories(home.path() / "Photos" / "2024");
    std::ofstream(home.path() / "notes.txt") << "milk\n";
    std::ofstream(home.path() / "Photos" / "beach.jpg") << "JPEG";
    std::ofstream(home.path() / "Photos" / "2024" / "pier.jpg") << "JPEG 2024";
    const auto at = [&](const char* name) { return (home.path() / name).string(); };

    ChildProcess first({TESK_EXECUTABLE, "share", at("notes.txt"), "--port", "0"}, environment);
    std::string line;
    const auto port =
        static_cast<std::uint16_t>(std::stoi(awaitLine(first, R"(sharing at http://.*:(\d+)$)", line)[1]));
    EXPECT_EQ(first.readLine(5s), "Added 1 file to Tesk");
    const std::string notes = awaitLine(first, R"(^notes.txt: http://.*/s/(\w+)/$)", line)[1];
    EXPECT_EQ(firstFile(port, notes), "milk\n");

    // A later share, receive, links and stop are all answered by the running one, on its port.
    ChildProcess folder({TESK_EXECUTABLE, "share", at("Photos"), "--for", "stopped"}, environment);
    const std::string photos = awaitLine(folder, ":" + std::to_string(port) + R"(/s/(\w+)/$)", line)[1];
    EXPECT_EQ(folder.readLine(5s), "Works until you stop it \u00b7 0 downloads");
    EXPECT_EQ(folder.exitCode(10s), 0);
    EXPECT_EQ(firstFile(port, photos), "JPEG");
    EXPECT_NE(get(port, "/s/" + photos + "/api").body.find(R"("name":"2024")"), std::string::npos);

    ChildProcess receive({TESK_EXECUTABLE, "receive"}, environment);
    const std::string inbox = awaitLine(receive, R"(^Receive files: http://.*/s/(\w+)/$)", line)[1];
    const std::string upload = "POST /s/" + inbox +
                               "/upload HTTP/1.1\r\nX-Tesk-Name: scan.pdf\r\n"
                               "Content-Length: 3\r\nConnection: close\r\n\r\nPDF";
    EXPECT_EQ(parseHttpReply(request(port, upload)).status, 201);
    EXPECT_EQ(readFile(awaitLine(receive, R"(^(/.*/scan\.pdf)$)", line)[1].str()), "PDF");
    receive.signal(SIGTERM);

    ChildProcess stop({TESK_EXECUTABLE, "stop", "http://192.0.2.1/s/" + notes + "/"}, environment);
    EXPECT_EQ(stop.readLine(10s), "Link stopped");
    EXPECT_EQ(get(port, "/s/" + notes + "/api").status, 410);
    ChildProcess links({TESK_EXECUTABLE, "links"}, environment);
    std::vector<std::string> listed;
    while (const auto next = links.readLine(10s)) {
        listed.push_back(next->substr(0, next->find(" \u00b7")));
    }
    EXPECT_EQ(links.exitCode(10s), 0);
    EXPECT_EQ(listed.size(), 2u);
    EXPECT_NE(listed.at(0).find("/s/" + photos + "/  Photos"), std::string::npos) << listed.at(0);

    // Another library beside it starts a server of its own and knows nothing of these links.
    const auto other = homeEnvironment(home, "other");
    ChildProcess second({TESK_EXECUTABLE, "--headless", "--port", "0"}, other);
    EXPECT_NE(awaitLine(second, R"(sharing at http://.*:(\d+)$)", line)[1], std::to_string(port));
    ChildProcess otherLinks({TESK_EXECUTABLE, "links"}, other);
    EXPECT_EQ(otherLinks.readLine(5s), std::nullopt);
    EXPECT_EQ(otherLinks.exitCode(10s), 0);

    first.signal(SIGTERM);
    second.signal(SIGTERM);
    EXPECT_EQ(first.exitCode(10s), 0);
    EXPECT_EQ(second.exitCode(10s), 0);
}
