// Hundreds of idle sockets and slow downloads at once, more than the server's connection cap: a phone
// must still be answered at once, idle clients must go at the head deadline, slow readers must keep
// their downloads while they make progress, and everything must be given back afterwards.
#include "server_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// AddressSanitizer keeps freed memory in quarantine and adds its own shadow: resident memory says
// nothing about the server there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif
#else
constexpr bool sanitized = false;
#endif

long milliseconds(Clock::duration duration) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(duration).count());
}

/// Open descriptors of this process.
std::size_t openDescriptors() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

/// Resident memory of this process in bytes.
std::size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t size = 0;
    std::size_t resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

double mebibytes(std::size_t bytes) {
    return static_cast<double>(bytes) / (1 << 20);
}

/// A client socket on 127.0.0.1 that the test drives by hand; closed when it goes away.
class Client {
public:
    /// Connects with a small receive buffer, so a client that does not read holds back the server soon.
    explicit Client(std::uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) {
            throw std::system_error(errno, std::generic_category(), "socket");
        }
        const int buffer = 128 * 1024;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            const int error = errno;
            ::close(fd_);
            throw std::system_error(error, std::generic_category(), "connect");
        }
        opened = Clock::now();
    }
    ~Client() { close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent <= 0) {
                throw std::system_error(errno, std::generic_category(), "send");
            }
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
    }

    /// Reads what is there, at most `limit` bytes, without waiting; notes the end of the stream.
    std::size_t readAvailable(std::size_t limit) {
        std::size_t total = 0;
        char buffer[65536];
        while (total < limit && !ended) {
            const ssize_t got = ::recv(fd_, buffer, std::min(sizeof buffer, limit - total), MSG_DONTWAIT);
            if (got > 0) {
                total += static_cast<std::size_t>(got);
            } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
                ended = true;
                endedAt = Clock::now();
            } else {
                break;
            }
        }
        received += total;
        return total;
    }

    void close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

    int fd() const { return fd_; }

    Clock::time_point opened;
    std::size_t received = 0;
    bool ended = false;
    Clock::time_point endedAt;

private:
    int fd_ = -1;
};

/// Waits until `client` has the first `bytes` of a response; false when it did not come in time.
bool awaitBytes(Client& client, std::size_t bytes, std::chrono::milliseconds timeout) {
    const auto until = Clock::now() + timeout;
    while (client.received < bytes && !client.ended && Clock::now() < until) {
        pollfd p{client.fd(), POLLIN, 0};
        ::poll(&p, 1, 10);
        client.readAvailable(bytes - client.received);
    }
    return client.received >= bytes;
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
    ASSERT_EQ(server.limits().maxConnections, 512u);

    const Item big = addFile("big.bin", "x");
    {
        const int fd = ::open(store.filePath(big).c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(bigSize)), 0); // sparse: costs no disk
        ::close(fd);
    }
    const std::string smallText = "a small file a phone asks for\n";
    const Item small = addFile("small.txt", smallText);
    const Share share = store.share(ShareTarget::folder(), ShareDuration::day, false);
    const std::string bigPath = "/s/" + share.token + "/f/" + big.id;
    const std::string smallPath = "/s/" + share.token + "/f/" + small.id;

    // A phone's two requests; true when both were answered right within a second.
    Clock::duration slowestNormal{};
    const auto phoneIsAnswered = [&] {
        const auto started = Clock::now();
        const Response page = get("/");
        const auto between = Clock::now();
        const Response file = get(smallPath);
        const auto ended = Clock::now();
        slowestNormal = std::max({slowestNormal, between - started, ended - between});
        return page.status == 200 && file.status == 200 && file.body == smallText && between - started < 1s &&
               ended - between < 1s;
    };
    // Warm up what the first requests allocate once, then take the starting figures.
    ASSERT_TRUE(phoneIsAnswered());
    ASSERT_EQ(get(bigPath, "Range: bytes=0-99\r\n").status, 206);
    ASSERT_TRUE(eventually([&] { return server.connectionCount() == 0; }));
    const std::size_t descriptorsBefore = openDescriptors();
    const std::size_t residentBefore = residentBytes();
    slowestNormal = {};

    // 100 downloads of 64 MiB: 80 read slowly all along, 20 stop after the head.
    const auto started = Clock::now();
    std::vector<std::unique_ptr<Client>> slow;
    std::vector<std::unique_ptr<Client>> stalled;
    for (std::size_t i = 0; i < slowCount + stalledCount; ++i) {
        auto client = std::make_unique<Client>(server.port());
        client->send("GET " + bigPath + " HTTP/1.1\r\nHost: test\r\n\r\n");
        (i < slowCount ? slow : stalled).push_back(std::move(client));
    }
    // Their heads are in before the idle crowd comes: downloads are busy connections, never displaced.
    for (auto* group : {&slow, &stalled}) {
        for (auto& client : *group) {
            ASSERT_TRUE(awaitBytes(*client, 200, 5s));
        }
    }

    std::atomic<bool> stop{false};
    std::thread reader([&] {
        // Each slow client takes its share of slowBytesPerSecond every 50 ms.
        while (!stop.load()) {
            std::this_thread::sleep_for(50ms);
            for (auto& client : slow) {
                client->readAvailable(slowBytesPerSecond / 20);
            }
        }
    });

    // 600 idle clients: half never send a byte, half send half a head.
    std::vector<std::unique_ptr<Client>> idle;
    std::size_t mostOpen = 0;
    for (std::size_t i = 0; i < idleCount; ++i) {
        idle.push_back(std::make_unique<Client>(server.port()));
        if (i % 2 == 1) {
            idle.back()->send("GET / HTTP/1.1\r\nHost: te");
        }
        mostOpen = std::max(mostOpen, server.connectionCount());
    }
    const auto crowdIn = Clock::now();

    // The phone is answered while the house is full, several times.
    std::size_t answered = 0;
    constexpr std::size_t phoneRounds = 5;
    for (std::size_t round = 0; round < phoneRounds; ++round) {
        answered += phoneIsAnswered() ? 1 : 0;
        mostOpen = std::max(mostOpen, server.connectionCount());
        std::this_thread::sleep_for(100ms);
    }

    // Every idle client is closed, without a response: displaced at once or at the head deadline.
    const auto idleUntil = crowdIn + headDeadline + 3s;
    while (Clock::now() < idleUntil &&
           std::any_of(idle.begin(), idle.end(), [](const auto& client) { return !client->ended; })) {
        std::vector<pollfd> waiting;
        for (const auto& client : idle) {
            if (!client->ended) {
                waiting.push_back({client->fd(), POLLIN, 0});
            }
        }
        ::poll(waiting.data(), waiting.size(), 20);
        for (auto& client : idle) {
            if (!client->ended) {
                client->readAvailable(4096);
            }
        }
        mostOpen = std::max(mostOpen, server.connectionCount());
    }
    std::size_t displaced = 0;
    Clock::duration latestIdleEnd{};
    std::size_t idleBytes = 0;
    for (const auto& client : idle) {
        EXPECT_TRUE(client->ended);
        idleBytes += client->received;
        if (client->ended) {
            const auto lived = client->endedAt - client->opened;
            displaced += lived < headDeadline - 200ms ? 1 : 0;
            latestIdleEnd = std::max(latestIdleEnd, lived);
        }
    }
    EXPECT_EQ(idleBytes, 0u) << "an idle client got a response";
    EXPECT_LE(latestIdleEnd, headDeadline + 1s);
    EXPECT_GE(displaced, idleCount + slowCount + stalledCount - 512);
    EXPECT_LE(mostOpen, 512u);
    EXPECT_EQ(answered, phoneRounds);
    idle.clear();

    // Just before the transfer-idle limit, every download is still there (the idle clients are gone).
    std::this_thread::sleep_until(started + transferIdle - 500ms);
    const std::size_t beforeIdleLimit = server.connectionCount();
    EXPECT_EQ(beforeIdleLimit, slowCount + stalledCount);
    // Soon after it, the stalled ones have been ended; the slow ones live on, past twice the limit.
    std::this_thread::sleep_until(started + transferIdle + 1500ms);
    const std::size_t afterIdleLimit = server.connectionCount();
    EXPECT_EQ(afterIdleLimit, slowCount);
    std::this_thread::sleep_until(started + 2 * transferIdle + 1s);
    EXPECT_EQ(server.connectionCount(), slowCount);
    stop = true;
    reader.join();
    const auto slowEnd = Clock::now();
    std::size_t leastSlow = bigSize;
    for (const auto& client : slow) {
        EXPECT_FALSE(client->ended) << "a slow download was cut";
        leastSlow = std::min(leastSlow, client->received);
    }
    const double readSeconds = std::chrono::duration<double>(slowEnd - started).count();
    // At least half the pace they asked for: the server kept feeding them all along.
    EXPECT_GT(static_cast<double>(leastSlow), 0.5 * slowBytesPerSecond * readSeconds);

    // The stalled ones were cut short: what the kernel held, then the end.
    std::size_t mostStalled = 0;
    for (auto& client : stalled) {
        const auto until = Clock::now() + 5s;
        while (!client->ended && Clock::now() < until) {
            pollfd p{client->fd(), POLLIN, 0};
            ::poll(&p, 1, 20);
            client->readAvailable(bigSize);
        }
        EXPECT_TRUE(client->ended);
        EXPECT_LT(client->received, bigSize);
        mostStalled = std::max(mostStalled, client->received);
    }

    // Everything is given back once the clients are gone.
    slow.clear();
    stalled.clear();
    EXPECT_TRUE(eventually([&] { return server.connectionCount() == 0; }, 10s));
    EXPECT_TRUE(eventually([&] { return openDescriptors() == descriptorsBefore; }, 5s));
    const std::size_t descriptorsAfter = openDescriptors();
    const std::size_t residentAfter = residentBytes();
    if (!sanitized) {
        EXPECT_LT(residentAfter, residentBefore + (std::size_t{20} << 20));
    }
    EXPECT_TRUE(phoneIsAnswered());

    std::ostringstream summary;
    summary << std::fixed << std::setprecision(1) << "overload: " << idleCount
            << " idle clients (half with half a head) and " << slowCount + stalledCount << " downloads of "
            << (bigSize >> 20) << " MiB (" << slowCount << " read at " << (slowBytesPerSecond >> 10)
            << " KiB/s, " << stalledCount << " stalled) against maxConnections 512, head deadline "
            << milliseconds(headDeadline) << " ms, transfer idle " << milliseconds(transferIdle)
            << " ms: at most " << mostOpen << " connections open, " << displaced
            << " idle clients displaced at once, the rest closed without "
            << "a response, the last " << milliseconds(latestIdleEnd)
            << " ms after connecting; a phone answered " << answered << "/" << phoneRounds
            << " times, slowest " << milliseconds(slowestNormal)
            << " ms; downloads open before the idle limit " << beforeIdleLimit << ", after it "
            << afterIdleLimit << ", slow readers uncut after " << readSeconds << " s with at least "
            << mebibytes(leastSlow) << " MiB each, stalled ones ended after at most "
            << mebibytes(mostStalled) << " MiB; descriptors " << descriptorsBefore << " -> "
            << descriptorsAfter << ", resident memory " << mebibytes(residentBefore) << " -> "
            << mebibytes(residentAfter) << " MiB"
            << (sanitized ? " (not bounded under AddressSanitizer)" : "");
    std::cout << summary.str() << std::endl;
    RecordProperty("summary", summary.str());
}
