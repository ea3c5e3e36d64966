// The relay's connection handling in-process, with short deadlines: what it reads, what it refuses
// unread, and how it bounds idle and excess connections.
#include "relay/relay_server.h"

#include "relay_test_support.h"
#include "support/raw_client.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;

namespace {

class RelayServerTest : public ::testing::Test {
protected:
    std::uint16_t startWith(RelayConnectionLimits limits, std::filesystem::path file = {}) {
        server.emplace(RelayState(), file.empty() ? dir.path() / "relay.json" : file, limits);
        return server->start(0);
    }

    /// Waits until the server counts `count` connections; false when it never does.
    bool waitForConnections(std::size_t count) {
        for (int attempt = 0; attempt < 200 && server->connectionCount() != count; ++attempt) {
            std::this_thread::sleep_for(5ms);
        }
        return server->connectionCount() == count;
    }

    TempDir dir;
    std::optional<RelayServer> server;
};

} // namespace

TEST_F(RelayServerTest, IdleConnectionIsClosedAtTheHeadDeadlineWithoutAnAnswer) {
    const auto port = startWith({.headDeadline = 150ms});
    RawClient client(port);
    client.send("GET /healthz HTTP/1.1\r\n");
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(client.readAll(3s), "");
    EXPECT_LT(std::chrono::steady_clock::now() - began, 2s);
}

TEST_F(RelayServerTest, BodyArrivingInPiecesIsReadWhole) {
    const auto port = startWith({});
    RawClient client(port);
    const std::string body = R"({"name":"Piecewise"})";
    client.send("POST /api/macs HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
                body.substr(0, 5));
    std::this_thread::sleep_for(20ms);
    client.send(body.substr(5));
    const Reply reply = parseReply(client.readAll());
    EXPECT_EQ(reply.status, 201);
    EXPECT_EQ(reply.header("content-length"), std::to_string(reply.body.size()));
}

TEST_F(RelayServerTest, RefusesWhatItWillNotReadBeforeReadingIt) {
    const auto port = startWith({.maxBodyBytes = 1024});
    const std::vector<std::pair<std::string, int>> cases{
        {"POST /api/macs HTTP/1.1\r\nContent-Length: 1025\r\n\r\n", 413},
        {"POST /api/macs HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", 411},
        {"POST /api/macs HTTP/1.1\r\nContent-Length: -1\r\n\r\n", 400},
        {"POST /api/macs HTTP/1.1\r\nContent-Length: many\r\n\r\n", 400},
        {"NOT A REQUEST\r\n\r\n", 400},
    };
    for (const auto& [head, status] : cases) {
        SCOPED_TRACE(head);
        EXPECT_EQ(parseReply(request(port, head)).status, status);
    }
}

TEST_F(RelayServerTest, BodyCutShortGetsNoAnswer) {
    const auto port = startWith({});
    RawClient client(port);
    client.send("POST /api/macs HTTP/1.1\r\nContent-Length: 100\r\n\r\n{\"name\"");
    client.shutdownSend();
    EXPECT_EQ(client.readAll(2s), "");
}

TEST_F(RelayServerTest, ConnectionsBeyondTheCapAreClosedUntilOneEnds) {
    const auto port = startWith({.maxConnections = 2});
    std::optional<RawClient> first(port);
    RawClient second(port);
    ASSERT_TRUE(waitForConnections(2));
    RawClient third(port);
    EXPECT_TRUE(third.closedWithin(1s));

    first.reset();
    ASSERT_TRUE(waitForConnections(1));
    EXPECT_EQ(exchange(port, "GET", "/healthz").status, 200);
}

TEST_F(RelayServerTest, AChangeThatCannotBeSavedIsNotReportedAsDone) {
    const auto port = startWith({}, dir.path() / "missing-directory" / "relay.json");
    const Reply reply = exchange(port, "POST", "/api/macs", R"({"name":"Mac"})");
    EXPECT_EQ(reply.status, 503);
    EXPECT_EQ(reply.body, R"({"error":"storage"})");
    EXPECT_EQ(exchange(port, "GET", "/healthz").status, 200) << "reading needs no save";
}
