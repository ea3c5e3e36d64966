// Hundreds of idle sockets and slow downloads at once, more than the server's connection cap: a phone
// must still be answered at once, idle clients must go at the head deadline, slow readers must keep
// their downloads while they make progress, and everything must be given back afterwards.
#include "resilience.h"
#include "server_fixture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <sys/resource.h>

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::size_t openDescriptors() {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

} // namespace

class OverloadTest : public ServerFixture {
protected:
    static constexpr auto headDeadline = 1500ms;
    static constexpr auto transferIdle = 4s;

    OverloadTest()
        : ServerFixture(ServerLimits{.headDeadline = headDeadline, .transferIdle = transferIdle}) {}
};

TEST_F(OverloadTest, IdleAndSlowClientsNeverLockAPhoneOut) {
    // Client and server sockets share this process: 700 of each, plus the downloads' files.
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < 2048) {
        GTEST_SKIP() << "needs 2048 open files; the hard limit is " << limit.rlim_max;
    }
    limit.rlim_cur = limit.rlim_max;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    constexpr std::size_t idleCount = 600;
    constexpr std::size_t slowCount = 80;
    constexpr std::size_t stalledCount = 20;
    constexpr std::size_t bigSize = std::size_t{64} << 20;
    constexpr std::size_t slowBytesPerSecond = 1 << 20;
    const std::size_t cap = server.limits().maxConnections;
    ASSERT_EQ(cap, 512u);

    const Item big = addFile("big.bin", "x");
    ASSERT_EQ(::truncate(store.filePath(big).c_str(), static_cast<off_t>(bigSize)),
              0); // sparse: costs no disk
    const std::string smallText = "a small file a phone asks for\n";
    const Item small = addFile("small.txt", smallText);
    const Share share = store.share(ShareTarget::folder(), ShareDuration::day, false);
    const std::string bigRequest =
        "GET /s/" + share.token + "/f/" + big.id + " HTTP/1.1\r\nHost: test\r\n\r\n";

    // A phone's two requests; true when both were answered right within a second.
    const auto phoneIsAnswered = [&] {
        const auto started = Clock::now();
        const bool answered =
            get("/").status == 200 && get("/s/" + share.token + "/f/" + small.id).body == smallText;
        return answered && Clock::now() - started < 1s;
    };
    // Warm up what the first requests allocate once, then take the starting figures.
    ASSERT_TRUE(phoneIsAnswered());
    ASSERT_TRUE(eventually([&] { return server.connectionCount() == 0; }));
    const std::size_t descriptorsBefore = openDescriptors();
    const double residentBefore = residentMiB();

    // 100 downloads of 64 MiB: 80 read slowly all along, 20 stop after the head. Their heads are in
    // before the idle crowd comes: downloads are busy connections, never displaced.
    const auto started = Clock::now();
    std::vector<std::unique_ptr<RawClient>> downloads;
    std::vector<std::size_t> received(slowCount + stalledCount);
    for (std::size_t i = 0; i < slowCount + stalledCount; ++i) {
        downloads.push_back(std::make_unique<RawClient>(server.port()));
        downloads.back()->send(bigRequest);
        received[i] = downloads.back()->readExactly(200, 5s).size();
        ASSERT_EQ(received[i], 200u);
    }
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        // Each slow client takes its share of slowBytesPerSecond every 50 ms.
        while (!stop) {
            std::this_thread::sleep_for(50ms);
            for (std::size_t i = 0; i < slowCount; ++i) {
                received[i] += downloads[i]->readExactly(slowBytesPerSecond / 20, 5ms).size();
            }
        }
    });

    // 600 idle clients: half never send a byte, half send half a head.
    std::vector<std::pair<std::unique_ptr<RawClient>, Clock::time_point>> idle;
    std::size_t mostOpen = 0;
    for (std::size_t i = 0; i < idleCount; ++i) {
        idle.emplace_back(std::make_unique<RawClient>(server.port()), Clock::now());
        if (i % 2 == 1) {
            idle.back().first->send("GET / HTTP/1.1\r\nHost: te");
        }
        mostOpen = std::max(mostOpen, server.connectionCount());
    }

    // The phone is answered while the house is full, several times.
    std::size_t answered = 0;
    for (int round = 0; round < 5; ++round, std::this_thread::sleep_for(100ms)) {
        answered += phoneIsAnswered();
        mostOpen = std::max(mostOpen, server.connectionCount());
    }
    // Every idle client is closed without a response: displaced by the crowd at once, or at the head
    // deadline. They are waited for in the order they came, so each one's end is seen as it happens.
    std::size_t displaced = 0;
    Clock::duration latestIdleEnd{};
    for (auto& [client, opened] : idle) {
        EXPECT_EQ(client
                      ->readAll(std::chrono::duration_cast<std::chrono::milliseconds>(
                          headDeadline + 2s - (Clock::now() - opened)))
                      .size(),
                  0u)
            << "an idle client got a response";
        EXPECT_TRUE(client->closedWithin(20ms)) << "an idle client was left open";
        displaced += Clock::now() - opened < headDeadline - 200ms;
        latestIdleEnd = std::max(latestIdleEnd, Clock::now() - opened);
        mostOpen = std::max(mostOpen, server.connectionCount());
    }
    EXPECT_LE(latestIdleEnd, headDeadline + 1s);
    EXPECT_GE(displaced, idleCount + slowCount + stalledCount - cap);
    EXPECT_LE(mostOpen, cap);
    EXPECT_EQ(answered, 5u);
    idle.clear();

    // Just before the transfer-idle limit every download is still there; soon after it the stalled ones
    // have been ended, while the slow ones live on, past twice the limit.
    std::this_thread::sleep_until(started + transferIdle - 500ms);
    EXPECT_EQ(server.connectionCount(), slowCount + stalledCount);
    std::this_thread::sleep_until(started + transferIdle + 1500ms);
    EXPECT_EQ(server.connectionCount(), slowCount);
    std::this_thread::sleep_until(started + 2 * transferIdle + 1s);
    EXPECT_EQ(server.connectionCount(), slowCount);
    stop = true;
    reader.join();
    const double readSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    // At least half the pace they asked for: the server kept feeding them all along.
    for (std::size_t i = 0; i < slowCount; ++i) {
        EXPECT_FALSE(downloads[i]->closedWithin(20ms)) << "a slow download was cut";
    }
    const std::size_t leastSlow = *std::min_element(received.begin(), received.begin() + slowCount);
    EXPECT_GT(static_cast<double>(leastSlow), 0.5 * slowBytesPerSecond * readSeconds);
    // The stalled ones were cut short: what the kernel held, then the end.
    std::size_t mostStalled = 0;
    for (std::size_t i = slowCount; i < slowCount + stalledCount; ++i) {
        mostStalled = std::max(mostStalled, received[i] + downloads[i]->drain(5s));
        EXPECT_TRUE(downloads[i]->closedWithin(20ms));
    }
    EXPECT_LT(mostStalled, bigSize);

    // Everything is given back once the clients are gone.
    downloads.clear();
    EXPECT_TRUE(eventually([&] { return server.connectionCount() == 0; }, 10s));
    EXPECT_TRUE(eventually([&] { return openDescriptors() == descriptorsBefore; }, 5s));
    const double residentAfter = residentMiB();
    EXPECT_TRUE(sanitized || residentAfter < residentBefore + 20)
        << residentBefore << " -> " << residentAfter << " MiB";
    EXPECT_TRUE(phoneIsAnswered());
    std::printf("[overload] at most %zu open, %zu displaced; slow readers had %.1f MiB each after %.1f s\n",
                mostOpen, displaced, leastSlow / 1048576.0, readSeconds);
}
