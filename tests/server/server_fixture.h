#pragma once

#include "core/library_store.h"
#include "server/tesk_server.h"
#include "support/fake_clock.h"
#include "support/http_reply.h"
#include "support/raw_client.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

/// A running server over a temporary library with a fake clock.
class ServerFixture : public ::testing::Test {
protected:
    explicit ServerFixture(ServerLimits limits = {});

    /// One request on its own connection.
    HttpReply send(const std::string& rawRequest);
    HttpReply get(const std::string& path, const std::string& extraHeaders = "");

    /// A file stored in the library at `folderID`, with `contents`.
    Item addFile(const std::string& name, const std::string& contents,
                 const std::optional<std::string>& folderID = std::nullopt);

    TempDir dir;
    FakeClock clock;
    LibraryStore store;
    TeskServer server;
};

/// This process's resident memory in MiB.
inline double residentMiB() {
    long size = 0, pages = 0;
    std::ifstream("/proc/self/statm") >> size >> pages;
    return static_cast<double>(pages * ::sysconf(_SC_PAGESIZE)) / (1 << 20);
}

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
