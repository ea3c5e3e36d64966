// tesk-relay is killed with SIGKILL during a storm of sign-ups and check-ins; after every kill its SQLite
// file must be consistent and hold every sign-up and check-in the relay had answered.
#include "relay/store/relay_store.h"
#include "support/child_process.h"
#include "support/relay_requests.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>

using namespace std::chrono_literals;

TEST(RelayCrashTest, KilledDuringAStormOfSignUpsAndCheckInsItKeepsWhatItAcknowledged) {
    constexpr int killCount = 8;
    struct Mac {
        std::pair<std::string, std::string> credentials;
        // The name of the last check-in answered with 200, and of one sent after it and not answered.
        std::string acknowledged = "this computer", inFlight;
    };
    const TempDir dir(TempDir::memoryBackedBase());
    const std::string store = "sqlite:" + (dir.path() / "relay.sqlite").string();
    std::mt19937 random(20261207);
    std::vector<Mac> macs;
    int checkIns = 0;
    for (int kill = 0; kill < killCount; ++kill) {
        ChildProcess relay(
            {TESK_RELAY_EXECUTABLE, "--port", "0", "--store", store, "--signups-per-hour", "0"});
        const std::string line = relay.readLine(10s).value_or("");
        ASSERT_TRUE(line.starts_with("tesk-relay listening on port ")) << line;
        const auto port = static_cast<std::uint16_t>(std::stoi(line.substr(line.rfind(' ') + 1)));
        // One request at a time, as the relay answers them anyway: a sign-up, then a check-in of any Mac.
        std::thread storm([&, pick = std::mt19937(random())]() mutable {
            for (int sent = 0;; ++sent) {
                if (sent % 2 == 0) {
                    const auto credentials = RelayRequests::signUp(port);
                    if (credentials.first.empty()) {
                        return;
                    }
                    macs.emplace_back().credentials = credentials;
                    continue;
                }
                Mac& mac = macs[pick() % macs.size()];
                mac.inFlight = "check-in " + std::to_string(kill) + "." + std::to_string(sent);
                if (RelayRequests::checkIn(port, mac.credentials, R"({"name":")" + mac.inFlight + R"("})") !=
                    200) {
                    return;
                }
                mac.acknowledged = mac.inFlight;
                ++checkIns;
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100 + random() % 300));
        relay.kill();
        storm.join();

        RelayStore opened(RelayDatabase::open(store));
        EXPECT_EQ(opened.database().run("PRAGMA integrity_check"), std::vector<RelayDatabase::Row>{{"ok"}});
        EXPECT_TRUE(opened.database().run("PRAGMA foreign_key_check").empty());
        for (const Mac& mac : macs) {
            ASSERT_TRUE(opened.authenticated(mac.credentials.first, mac.credentials.second))
                << "a sign-up lost";
            const std::string name = opened.mac(mac.credentials.first)->presence.name;
            EXPECT_TRUE(name == mac.acknowledged || name == mac.inFlight)
                << name << " for " << mac.acknowledged;
        }
    }
    std::cout << "[ figures  ] " << killCount << " kills; " << macs.size() << " sign-ups and " << checkIns
              << " check-ins acknowledged, none lost\n";
    EXPECT_GT(macs.size(), 20u);
    EXPECT_GT(checkIns, 20);
}
