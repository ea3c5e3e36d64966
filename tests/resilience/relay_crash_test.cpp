// tesk-relay is killed with SIGKILL during a storm of sign-ups and check-ins; after every kill its SQLite
// file must be consistent and hold every sign-up and check-in the relay had answered.
#include "relay/store/relay_store.h"
#include "support/child_process.h"
#include "support/http_reply.h"
#include "support/raw_client.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <mutex>
#include <random>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr int killCount = 8;

struct Mac {
    std::string id, secret;
    /// The name of the last check-in answered with 200, and of one sent after it and not answered.
    std::string acknowledged, inFlight;
};

/// The status of one request to the relay, 0 when the relay is gone.
HttpReply post(std::uint16_t port, const std::string& path, const std::string& body,
               const std::string& secret) {
    try {
        return parseHttpReply(request(port, "POST " + path + " HTTP/1.1\r\nAuthorization: Bearer " + secret +
                                                "\r\nContent-Length: " + std::to_string(body.size()) +
                                                "\r\n\r\n" + body));
    } catch (const std::system_error&) {
        return {};
    }
}

} // namespace

TEST(RelayCrashTest, KilledDuringAStormOfSignUpsAndCheckInsItKeepsWhatItAcknowledged) {
    const TempDir dir(TempDir::memoryBackedBase());
    const std::string store = "sqlite:" + (dir.path() / "relay.sqlite").string();
    std::mt19937 random(20261207);
    std::vector<Mac> macs;
    std::mutex macsLock;
    int checkIns = 0;
    for (int kill = 0; kill < killCount; ++kill) {
        ChildProcess relay(
            {TESK_RELAY_EXECUTABLE, "--port", "0", "--store", store, "--signups-per-hour", "0"});
        const std::string line = relay.readLine(10s).value_or("");
        ASSERT_TRUE(line.starts_with("tesk-relay listening on port ")) << line;
        const auto port = static_cast<std::uint16_t>(std::stoi(line.substr(line.rfind(' ') + 1)));
        std::atomic<bool> gone = false;
        std::thread signingUp([&] {
            while (!gone) {
                const auto reply =
                    nlohmann::json::parse(post(port, "/api/macs", "{}", "").body, nullptr, false);
                if (!reply.contains("secret")) {
                    return;
                }
                std::lock_guard guard(macsLock);
                macs.push_back({reply["macId"], reply["secret"], "this computer", ""});
            }
        });
        std::thread checkingIn([&, seed = random()] {
            std::mt19937 pick(seed);
            for (int sent = 0; !gone; ++sent) {
                std::unique_lock guard(macsLock);
                if (macs.empty()) {
                    continue;
                }
                const std::size_t index = pick() % macs.size();
                const Mac mac = macs[index];
                const std::string name = "check-in " + std::to_string(kill) + "." + std::to_string(sent);
                macs[index].inFlight = name;
                guard.unlock();
                const auto status = post(port, "/api/macs/" + mac.id + "/presence",
                                         R"({"name":")" + name + R"(","shares":[{"token":"t)" +
                                             std::to_string(sent) + R"("}]})",
                                         mac.secret)
                                        .status;
                if (status != 200) {
                    return;
                }
                guard.lock();
                macs[index].acknowledged = name;
                ++checkIns;
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100 + random() % 300));
        relay.kill();
        gone = true;
        signingUp.join();
        checkingIn.join();

        RelayStore opened(RelayDatabase::open(store));
        EXPECT_EQ(opened.database().run("PRAGMA integrity_check"), std::vector<RelayDatabase::Row>{{"ok"}});
        EXPECT_TRUE(opened.database().run("PRAGMA foreign_key_check").empty());
        for (const Mac& mac : macs) {
            ASSERT_TRUE(opened.authenticated(mac.id, mac.secret)) << "an acknowledged sign-up was lost";
            const std::string name = opened.mac(mac.id)->presence.name;
            EXPECT_TRUE(name == mac.acknowledged || name == mac.inFlight)
                << name << " instead of " << mac.acknowledged;
        }
    }
    std::cout << "[ figures  ] " << killCount << " kills; " << macs.size() << " sign-ups and " << checkIns
              << " check-ins acknowledged, none lost\n";
    EXPECT_GT(macs.size(), 20u);
    EXPECT_GT(checkIns, 20);
}
