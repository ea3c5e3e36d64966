#include "server/tesk_server.h"

#include "server/request_handler.h"
#include "support/raw_client.h"
#include "support/temp_dir.h"

#include <asio/ip/tcp.hpp>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

/// Polls `condition` for up to `timeout`.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout = 5s) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < until) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(5ms);
    }
    return condition();
}

/// A port some other socket is listening on for the test's lifetime.
class OccupiedPort {
public:
    OccupiedPort()
        : acceptor_(io_, asio::ip::tcp::endpoint(asio::ip::tcp::v4(), 0)) {}
    std::uint16_t port() const { return acceptor_.local_endpoint().port(); }

private:
    asio::io_context io_;
    asio::ip::tcp::acceptor acceptor_;
};

} // namespace

class TeskServerTest : public ::testing::Test {
protected:
    explicit TeskServerTest(ServerLimits limits = {})
        : store(dir.path() / "Tesk")
        , server(store, "Ana's Laptop", limits) {
        server.start({});
    }

    TempDir dir;
    LibraryStore store;
    TeskServer server;
};

TEST_F(TeskServerTest, ServesTheRootNoticeWithItsHeadersInOrder) {
    const std::string response = request(server.port(), "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    ASSERT_TRUE(response.starts_with("HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                                     "Cache-Control: no-store\r\nContent-Length: "))
        << response.substr(0, 200);
    const auto headEnd = response.find("\r\n\r\n");
    ASSERT_NE(headEnd, std::string::npos);
    const std::string head = response.substr(0, headEnd + 4);
    const std::string body = response.substr(headEnd + 4);
    EXPECT_TRUE(head.ends_with("\r\nConnection: close\r\n\r\n"));
    EXPECT_NE(head.find("Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close"),
              std::string::npos);
    EXPECT_NE(body.find("This computer shares files with Tesk. Ask its owner for a link or a QR code."),
              std::string::npos);
}

TEST_F(TeskServerTest, UnknownPathsAreNotFound) {
    for (const char* path : {"/anything", "/icon.png", "/x/y", "/zz/token/", "/s"}) {
        SCOPED_TRACE(path);
        const std::string response = request(server.port(), std::string("GET ") + path + " HTTP/1.1\r\n\r\n");
        EXPECT_EQ(response, "HTTP/1.1 404 Not Found\r\nContent-Type: text/plain; charset=utf-8\r\n"
                            "Content-Length: 9\r\nConnection: close\r\n\r\nNot found");
    }
}

TEST_F(TeskServerTest, ServesTheIconOnceTheApplicationSetsIt) {
    server.setIconPNG(std::string("\x89PNG\r\n\x1a\n", 8));
    const std::string response = request(server.port(), "GET /icon.png HTTP/1.1\r\n\r\n");
    EXPECT_TRUE(response.starts_with("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n"
                                     "Cache-Control: public, max-age=86400\r\nContent-Length: 8\r\n"));
    EXPECT_TRUE(response.ends_with(std::string("\r\n\r\n\x89PNG\r\n\x1a\n", 12)));
}

TEST_F(TeskServerTest, OversizedHeadIsABadRequest) {
    RawClient client(server.port());
    client.send("GET /" + std::string(20000, 'a'));
    EXPECT_EQ(client.readAll(), "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain; charset=utf-8\r\n"
                                "Content-Length: 11\r\nConnection: close\r\n\r\nBad request");
}

TEST_F(TeskServerTest, MalformedHeadIsABadRequest) {
    EXPECT_TRUE(
        request(server.port(), "GET /a b HTTP/1.1\r\n\r\n").starts_with("HTTP/1.1 400 Bad Request\r\n"));
    EXPECT_TRUE(request(server.port(), "GET /s/%2e%2e/x HTTP/1.1\r\n\r\n")
                    .starts_with("HTTP/1.1 400 Bad Request\r\n"));
}

TEST_F(TeskServerTest, HeadSplitIntoSingleBytesIsParsedOnceComplete) {
    RawClient client(server.port());
    for (char c : std::string("GET / HTTP/1.1\r\nHost: example\r\n\r\n")) {
        client.send(std::string(1, c));
    }
    EXPECT_TRUE(client.readAll().starts_with("HTTP/1.1 200 OK\r\n"));
}

TEST_F(TeskServerTest, BodyBytesThatArriveWithTheHeadReachTheRoute) {
    std::mutex lock;
    std::string seenBody;
    std::vector<std::string> seenSegments;
    server.setRouter([&](RequestHandler& handler, const HTTPRequest& request, std::string body) {
        {
            std::lock_guard guard(lock);
            seenBody = body;
            seenSegments = request.segments;
        }
        handler.respondText(200, "ok");
    });
    const std::string response =
        request(server.port(), "POST /s/t/upload HTTP/1.1\r\nContent-Length: 10\r\n\r\n0123456789");
    EXPECT_TRUE(response.starts_with("HTTP/1.1 200 OK\r\n"));
    std::lock_guard guard(lock);
    EXPECT_EQ(seenBody, "0123456789");
    EXPECT_EQ(seenSegments, (std::vector<std::string>{"s", "t", "upload"}));
}

TEST_F(TeskServerTest, PeerIsTheClientAddressWithoutPort) {
    std::mutex lock;
    std::string peer;
    server.setRouter([&](RequestHandler& handler, const HTTPRequest&, std::string) {
        {
            std::lock_guard guard(lock);
            peer = handler.peer();
        }
        handler.respondText(200, "ok");
    });
    request(server.port(), "GET / HTTP/1.1\r\n\r\n");
    std::lock_guard guard(lock);
    EXPECT_EQ(peer, "127.0.0.1");
}

TEST_F(TeskServerTest, ClientThatLeavesSilentlyGetsNothingAndIsForgotten) {
    {
        RawClient client(server.port());
        ASSERT_TRUE(eventually([&] { return server.connectionCount() == 1; }));
        client.shutdownSend();
        EXPECT_EQ(client.readAll(2s), "");
    }
    EXPECT_TRUE(eventually([&] { return server.connectionCount() == 0; }));
}

TEST_F(TeskServerTest, ResponseIsDeliveredEvenWhenTheRequestBodyWasNotRead) {
    // Closing with unread bytes would reset the connection and could destroy the answer.
    RawClient client(server.port());
    client.send("POST /nowhere HTTP/1.1\r\nContent-Length: 300000\r\n\r\n" + std::string(300000, 'x'));
    EXPECT_TRUE(client.readAll().starts_with("HTTP/1.1 404 Not Found\r\n"));
}

TEST_F(TeskServerTest, StopRefusesNewcomersWhileARunningResponseCompletes) {
    const std::string big(8 << 20, 'z');
    server.setRouter([&](RequestHandler& handler, const HTTPRequest&, std::string) {
        handler.respond(200, {{"Content-Type", "application/octet-stream"}}, big);
    });
    RawClient client(server.port());
    // A small receive buffer keeps most of the body waiting in the server.
    client.send("GET /big HTTP/1.1\r\n\r\n");
    std::this_thread::sleep_for(50ms);
    server.stop();
    EXPECT_THROW(RawClient{server.port()}, std::system_error);
    const std::string response = client.readAll(10s);
    ASSERT_GT(response.size(), big.size());
    EXPECT_TRUE(response.ends_with(big.substr(0, 1000)));
    EXPECT_EQ(response.size() - response.find("\r\n\r\n") - 4, big.size());
}

TEST(TeskServerStartTest, TakenPreferredPortsFallBackToOneTheSystemPicks) {
    TempDir dir;
    LibraryStore store(dir.path() / "Tesk");
    OccupiedPort first;
    OccupiedPort second;
    TeskServer server(store, "Mac");
    server.start({first.port(), second.port()});
    EXPECT_NE(server.port(), 0);
    EXPECT_NE(server.port(), first.port());
    EXPECT_NE(server.port(), second.port());
    EXPECT_TRUE(request(server.port(), "GET / HTTP/1.1\r\n\r\n").starts_with("HTTP/1.1 200 OK\r\n"));
}

TEST(TeskServerStartTest, FreePreferredPortIsUsed) {
    TempDir dir;
    LibraryStore store(dir.path() / "Tesk");
    std::uint16_t freePort = 0;
    {
        OccupiedPort probe;
        freePort = probe.port();
    }
    TeskServer server(store, "Mac");
    server.start({freePort});
    EXPECT_EQ(server.port(), freePort);
}

TEST(TeskServerStartTest, LeftoverUploadsAreRemovedAtCreation) {
    TempDir dir;
    LibraryStore store(dir.path() / "Tesk");
    fs::create_directories(store.root / "incoming" / "old-upload");
    std::ofstream(store.root / "incoming" / "old-upload" / "part") << "half a photo";
    std::ofstream(store.root / "incoming" / "stray") << "x";
    TeskServer server(store, "Mac");
    EXPECT_TRUE(fs::is_directory(server.uploadsDir()));
    EXPECT_TRUE(fs::is_empty(server.uploadsDir()));
}

TEST(TeskServerStartTest, PropertiesAreSafeToChangeWhileServing) {
    TempDir dir;
    LibraryStore store(dir.path() / "Tesk");
    TeskServer server(store, "Mac");
    server.start({});
    server.setIconPNG(std::string("p"));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; !done; ++i) {
            server.setMacName("Mac " + std::to_string(i));
            server.setIconPNG(std::string(static_cast<std::size_t>(i % 50 + 1), 'p'));
            server.setFollowBase("https://relay.example/f" + std::to_string(i));
            server.setOnEvent([](const ServerEvent&) {});
        }
    });
    for (int i = 0; i < 50; ++i) {
        EXPECT_TRUE(
            request(server.port(), "GET /icon.png HTTP/1.1\r\n\r\n").starts_with("HTTP/1.1 200 OK\r\n"));
        EXPECT_TRUE(server.macName().starts_with("Mac"));
    }
    done = true;
    writer.join();
}

class TeskServerLimitsTest : public TeskServerTest {
protected:
    TeskServerLimitsTest()
        : TeskServerTest(ServerLimits{.headDeadline = 400ms, .transferIdle = 2s}) {}
};

TEST_F(TeskServerLimitsTest, IdleClientIsClosedAtTheHeadDeadlineWhileOthersAreServed) {
    RawClient idle(server.port());
    idle.send("GET / HTTP/1.1\r\n"); // never finishes its head
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(request(server.port(), "GET / HTTP/1.1\r\n\r\n").starts_with("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(idle.closedWithin(3s));
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_GE(waited, 350ms);
    EXPECT_LT(waited, 2s);
    EXPECT_TRUE(eventually([&] { return server.connectionCount() == 0; }));
}

TEST(TeskServerLingerTest, PeerThatKeepsSendingAfterTheResponseIsClosedAtTheLingerLimit) {
    TempDir dir;
    LibraryStore store(dir.path() / "Tesk");
    TeskServer server(store, "Mac", ServerLimits{.lingerAfterResponse = 300ms});
    server.start({});
    RawClient client(server.port());
    // Answered at once (404), with almost all of the announced body still to come.
    client.send("POST /nowhere HTTP/1.1\r\nContent-Length: 1000000000\r\n\r\n");
    EXPECT_TRUE(client.readExactly(12).starts_with("HTTP/1.1 404"));
    const auto started = std::chrono::steady_clock::now();
    bool gone = false;
    try {
        while (!gone && std::chrono::steady_clock::now() - started < 3s) {
            client.send(std::string(1024, 'x'));
            std::this_thread::sleep_for(20ms);
            gone = server.connectionCount() == 0;
        }
    } catch (const std::system_error&) {
        gone = true; // the server closed and reset the connection: just as good
    }
    const auto lingered = std::chrono::steady_clock::now() - started;
    EXPECT_TRUE(gone && eventually([&] { return server.connectionCount() == 0; }, 100ms));
    EXPECT_LT(lingered, 1500ms);
}

TEST(TeskServerCapacityTest, RunningOutOfDescriptorsPausesAcceptingInsteadOfSpinning) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers' runtime opens files of its own while checking (it reads the memory map), so with no
    // descriptor left it reports errors in correct code.
    GTEST_SKIP() << "needs a build without sanitizers: their runtime needs free descriptors too";
#endif
    TempDir dir;
    LibraryStore store(dir.path() / "Tesk");
    TeskServer server(store, "Mac");
    server.start({});
    // Sockets made while descriptors are still there, connected once none are left: the kernel queues
    // the connections, and every accept fails for want of a descriptor.
    std::vector<int> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        ASSERT_GE(clients.back(), 0);
    }
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    // A new descriptor takes the lowest free number: with the limit there, none can be made.
    const int lowestFree = ::dup(0);
    ASSERT_GE(lowestFree, 0);
    ::close(lowestFree);
    rlimit lowered = saved;
    lowered.rlim_cur = static_cast<rlim_t>(lowestFree);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server.port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (const int fd : clients) {
        ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    const auto cpuTime = [] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return std::chrono::seconds(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               std::chrono::microseconds(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    };
    const auto cpuBefore = cpuTime();
    std::this_thread::sleep_for(500ms);
    const auto spent = cpuTime() - cpuBefore;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_LT(spent, 100ms) << "the listener spun while no descriptor was free";

    // Once descriptors are back, the queued connections are served.
    for (const int fd : clients) {
        const std::string request = "GET / HTTP/1.1\r\n\r\n";
        ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(request.size()));
        timeval timeout{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        char head[16] = {};
        EXPECT_EQ(::recv(fd, head, 15, MSG_WAITALL), 15);
        EXPECT_EQ(std::string(head), "HTTP/1.1 200 OK");
        ::close(fd);
    }
}

TEST(TeskServerCapacityTest, NewcomerAtTheCapDisplacesTheLongestWaitingIdleClient) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_max < 2048) {
        GTEST_SKIP() << "needs 2048 descriptors";
    }
    limit.rlim_cur = std::max<rlim_t>(limit.rlim_cur, 2048);
    setrlimit(RLIMIT_NOFILE, &limit);

    TempDir dir;
    LibraryStore store(dir.path() / "Tesk");
    TeskServer server(store, "Mac", ServerLimits{.maxConnections = 512});
    server.start({});
    std::vector<std::unique_ptr<RawClient>> idle;
    for (int i = 0; i < 512; ++i) {
        idle.push_back(std::make_unique<RawClient>(server.port()));
        if (i == 0) {
            ASSERT_TRUE(eventually([&] { return server.connectionCount() == 1; }));
        }
    }
    ASSERT_TRUE(eventually([&] { return server.connectionCount() == 512; }));

    EXPECT_TRUE(request(server.port(), "GET / HTTP/1.1\r\n\r\n").starts_with("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(idle.front()->closedWithin(2s));
    EXPECT_FALSE(idle.back()->closedWithin(100ms));
    EXPECT_LE(server.connectionCount(), 512u);
}

TEST(TeskServerCapacityTest, NewcomerIsTurnedAwayWhenEveryoneIsBusy) {
    TempDir dir;
    LibraryStore store(dir.path() / "Tesk");
    TeskServer server(store, "Mac", ServerLimits{.maxConnections = 2});
    // Routed connections are held without an answer: busy, not idle.
    std::mutex lock;
    std::vector<std::shared_ptr<RequestHandler>> busy;
    server.setRouter([&](RequestHandler& handler, const HTTPRequest&, std::string) {
        std::lock_guard guard(lock);
        busy.push_back(handler.shared_from_this());
    });
    server.start({});
    RawClient a(server.port());
    RawClient b(server.port());
    a.send("GET /a HTTP/1.1\r\n\r\n");
    b.send("GET /b HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(eventually([&] {
        std::lock_guard guard(lock);
        return busy.size() == 2;
    }));
    RawClient c(server.port());
    EXPECT_TRUE(c.closedWithin(2s));
    EXPECT_FALSE(a.closedWithin(50ms));
    // Released before the server goes away: a handler must not outlive its server.
    std::lock_guard guard(lock);
    for (const auto& handler : busy) {
        handler->closeSoon();
    }
    busy.clear();
    EXPECT_TRUE(a.closedWithin(2s));
}
