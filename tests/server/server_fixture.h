#pragma once

#include "core/library_store.h"
#include "server/tesk_server.h"
#include "support/fake_clock.h"
#include "support/raw_client.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

/// A response as the client saw it.
struct Response {
    int status = 0;
    /// The head's lines after the status line, in order, as "Name: value".
    std::vector<std::string> headerLines;
    /// Header values by lower-cased name.
    std::map<std::string, std::string> headers;
    std::string body;
    /// The raw bytes.
    std::string raw;

    /// A header's value by lower-cased name; empty when absent.
    std::string header(const std::string& name) const {
        const auto found = headers.find(name);
        return found == headers.end() ? std::string() : found->second;
    }
};

/// Splits raw response bytes; status 0 when nothing arrived.
Response parseResponse(const std::string& raw);

/// A running server over a temporary library with a fake clock, recording the events it reports.
class ServerFixture : public ::testing::Test {
protected:
    explicit ServerFixture(ServerLimits limits = {});

    /// One request on its own connection.
    Response send(const std::string& rawRequest);
    Response get(const std::string& path, const std::string& extraHeaders = "");

    /// A file stored in the library at `folderID`, with `contents`.
    Item addFile(const std::string& name, const std::string& contents,
                 const std::optional<std::string>& folderID = std::nullopt);

    /// Waits briefly for `count` events.
    std::vector<ServerEvent> events(std::size_t count = 0);

    TempDir dir;
    FakeClock clock;
    LibraryStore store;
    TeskServer server;

private:
    std::mutex lock_;
    std::vector<ServerEvent> events_;
};

/// Polls `condition` for up to `timeout`.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < until) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition();
}
