// The relay server in-process: what it refuses over a real socket before reading a body, and a change
// it cannot save.
#include "relay/relay_server.h"

#include "relay_test_support.h"
#include "support/raw_client.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

TEST(RelayServerTest, RefusesWhatItWillNotReadBeforeReadingIt) {
    TempDir dir;
    RelayServer server(RelayState(), dir.path() / "relay.json", {.maxBodyBytes = 1024});
    const auto port = server.start(0);
    for (const auto& [head, status] : std::vector<std::pair<std::string, int>>{
             {"POST /api/macs HTTP/1.1\r\nContent-Length: 1025\r\n\r\n", 413},
             {"POST /api/macs HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", 411},
             {"POST /api/macs HTTP/1.1\r\nContent-Length: many\r\n\r\n", 400},
             {"NOT A REQUEST\r\n\r\n", 400},
         }) {
        EXPECT_EQ(parseHttpReply(request(port, head)).status, status) << head;
    }
}

TEST(RelayServerTest, AChangeThatCannotBeSavedIsNotReportedAsDone) {
    TempDir dir;
    RelayServer server(RelayState(), dir.path() / "missing-directory" / "relay.json");
    EXPECT_EQ(server.handle(parsedRequest("POST", "/api/macs"), "{}").serialized(),
              HTTPResponse::json(503, R"({"error":"storage"})").serialized());
    EXPECT_EQ(server.handle(parsedRequest("GET", "/healthz"), "").status, 200) << "reading needs no save";
}
