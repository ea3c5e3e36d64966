// The relay server in-process over real sockets: what it refuses before reading a body, and a change it
// cannot save.
#include "relay/relay_server.h"

#include "relay_test_support.h"
#include "support/raw_client.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

class RelayServerTest : public ::testing::Test {
protected:
    std::uint16_t startWith(const std::filesystem::path& file, RelayConnectionLimits limits = {}) {
        return server.emplace(RelayState(), file, limits).start(0);
    }

    TempDir dir;
    std::optional<RelayServer> server;
};

} // namespace

TEST_F(RelayServerTest, RefusesWhatItWillNotReadBeforeReadingIt) {
    const auto port = startWith(dir.path() / "relay.json", {.maxBodyBytes = 1024});
    const std::vector<std::pair<std::string, int>> cases{
        {"POST /api/macs HTTP/1.1\r\nContent-Length: 1025\r\n\r\n", 413},
        {"POST /api/macs HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", 411},
        {"POST /api/macs HTTP/1.1\r\nContent-Length: many\r\n\r\n", 400},
        {"NOT A REQUEST\r\n\r\n", 400},
    };
    for (const auto& [head, status] : cases) {
        EXPECT_EQ(parseHttpReply(request(port, head)).status, status) << head;
    }
}

TEST_F(RelayServerTest, AChangeThatCannotBeSavedIsNotReportedAsDone) {
    const auto port = startWith(dir.path() / "missing-directory" / "relay.json");
    const HttpReply reply = exchange(port, "POST", "/api/macs", R"({"name":"Mac"})");
    EXPECT_EQ(reply.status, 503);
    EXPECT_EQ(reply.body, R"({"error":"storage"})");
    const HttpReply health = exchange(port, "GET", "/healthz");
    EXPECT_EQ(health.status, 200) << "reading needs no save";
    EXPECT_EQ(health.body, "ok");
}
