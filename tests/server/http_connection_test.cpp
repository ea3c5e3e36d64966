#include "server/http_service.h"
#include "server_fixture.h"

#include <arpa/inet.h>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <numeric>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

/// An HttpService on a port of its own whose requests `onRequest` answers.
struct Service {
    explicit Service(HttpConnection::OnRequest onRequest, ServiceLimits limits = {})
        : service(limits, 2, std::move(onRequest))
        , port(service.listen(0, error).value()) {}
    std::size_t count() const { return service.connectionCount(); }
    HttpService service;
    std::error_code error;
    std::uint16_t port;
};

void answerOk(HttpConnection& connection, const HTTPRequest&, const std::string&) {
    connection.respond(HTTPResponse::text(200, "ok"));
}

/// What the service's threads hand to the test.
template <typename T>
struct Log {
    void add(T value) {
        std::lock_guard guard(lock);
        list.push_back(std::move(value));
    }
    std::vector<T> values() {
        std::lock_guard guard(lock);
        return list;
    }
    std::mutex lock;
    std::vector<T> list;
};

/// Bytes that differ from their neighbours, so a lost or misplaced piece shows.
std::string pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(i * 13 % 253);
    }
    return bytes;
}

const std::string getRoot = "GET / HTTP/1.1\r\n\r\n";

} // namespace

TEST(HttpConnectionTest, CompleteHeadReachesOnRequestOnceWithItsBodyBytesAndPeer) {
    Log<std::string> seen;
    Service served([&](HttpConnection& connection, const HTTPRequest& request, std::string body) {
        seen.add(connection.peer() + " /" + request.segments.at(0) + "/" + request.segments.at(1) + " host " +
                 request.headers.at("host") + ": " + body);
        answerOk(connection, request, body);
    });
    const std::string head = "POST /a/b HTTP/1.1\r\nHost: x\r\nContent-Length: 10\r\n\r\n";
    RawClient trickle(served.port); // the head alone, a byte at a time
    for (const char& byte : head) {
        trickle.send(std::string_view(&byte, 1));
    }
    EXPECT_EQ(parseResponse(trickle.readAll()).status, 200);
    EXPECT_EQ(parseResponse(request(served.port, head + "0123456789")).status, 200);
    EXPECT_EQ(seen.values(),
              (std::vector<std::string>{"127.0.0.1 /a/b host x: ", "127.0.0.1 /a/b host x: 0123456789"}));
}

TEST(HttpConnectionTest, ClientWithoutAHeadIsForgottenWhenItLeavesOrAtTheHeadDeadline) {
    Service served(answerOk, {.connection = {.head = 400ms}});
    RawClient idle(served.port);
    RawClient leaving(served.port);
    idle.send("GET / HTTP/1.1\r\n"); // never finishes its head
    leaving.send("GET / HTTP/1.1\r\n");
    ASSERT_TRUE(eventually([&] { return served.count() == 2; }));
    const auto started = std::chrono::steady_clock::now();
    leaving.shutdownSend();
    EXPECT_EQ(leaving.readAll(2s), "");
    EXPECT_TRUE(eventually([&] { return served.count() == 1; }, 300ms)) << "kept until the deadline";
    EXPECT_TRUE(idle.closedWithin(3s));
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_TRUE(waited >= 350ms && waited < 2s) << std::chrono::duration<double>(waited).count() << " s";
    EXPECT_TRUE(eventually([&] { return served.count() == 0; }));
}

TEST(HttpConnectionTest, ResponseArrivesWholeWhilePeerKeepsSendingWhichEndsAtTheLingerLimit) {
    Service served(answerOk, {.connection = {.linger = 300ms}});
    // Closing over unread bytes would reset the connection and could destroy the answer.
    const std::string unread = "POST / HTTP/1.1\r\nContent-Length: 300000\r\n\r\n" + std::string(300000, 'x');
    EXPECT_EQ(parseResponse(request(served.port, unread)).body, "ok");

    RawClient client(served.port);
    client.send("POST / HTTP/1.1\r\nContent-Length: 1000000000\r\n\r\n");
    EXPECT_EQ(client.readExactly(12), "HTTP/1.1 200");
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(eventually(
        [&] {
            try {
                client.send(std::string(1024, 'x'));
            } catch (const std::system_error&) {
                // The connection was closed and reset under the sender: just as good.
            }
            return served.count() == 0;
        },
        3s));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1500ms);
}

TEST(HttpConnectionTest, StopRefusesNewcomersWhileARunningResponseCompletes) {
    const std::string big = pattern(8 << 20);
    std::atomic<bool> answering{false};
    Service served([&](HttpConnection& connection, const HTTPRequest&, std::string) {
        connection.respond(HTTPResponse{200, {}, big});
        answering = true;
    });
    RawClient client(served.port);
    client.send(getRoot);
    ASSERT_TRUE(eventually([&] { return answering.load(); }));
    served.service.stop();
    EXPECT_THROW(RawClient{served.port}, std::system_error);
    EXPECT_TRUE(parseResponse(client.readAll(10s)).body == big);
}

TEST(HttpConnectionTest, NewcomerAtTheCapDisplacesTheLongestWaitingIdleConnectionOrIsTurnedAway) {
    const struct {
        bool displaces, busy, newcomerServed;
    } cases[] = {{true, false, true}, {true, true, false}, {false, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.busy ? "busy" : "idle") + (c.displaces ? ", displacing" : ""));
        Log<std::shared_ptr<HttpConnection>> held; // busy: never answered
        Service served(
            [&](HttpConnection& connection, const HTTPRequest& request, std::string body) {
                request.segments.empty() ? answerOk(connection, request, body)
                                         : held.add(connection.shared_from_this());
            },
            {.connection = {}, .maxConnections = 2, .newcomerDisplacesIdle = c.displaces});
        std::deque<RawClient> first;
        for (std::size_t i = 1; i <= 2; ++i) {
            first.emplace_back(served.port).send(c.busy ? "GET /hold HTTP/1.1\r\n\r\n" : "");
            ASSERT_TRUE(
                eventually([&] { return served.count() == i && held.values().size() == (c.busy ? i : 0); }));
        }
        EXPECT_EQ(parseResponse(request(served.port, getRoot)).status, c.newcomerServed ? 200 : 0);
        EXPECT_EQ(first[0].closedWithin(c.newcomerServed ? 2s : 50ms), c.newcomerServed);
        EXPECT_FALSE(first[1].closedWithin(50ms));
        // Let go of them before the service goes: a connection must not outlive it.
        for (const auto& connection : held.values()) {
            connection->closeSoon();
        }
        std::lock_guard guard(held.lock);
        held.list.clear();
    }
}

TEST(HttpConnectionTest, RunningOutOfDescriptorsPausesAcceptingInsteadOfSpinning) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers' runtime opens files of its own while checking, so with no descriptor left it
    // reports errors in correct code.
    GTEST_SKIP() << "needs a build without sanitizers: their runtime needs free descriptors too";
#endif
    Service served(answerOk);
    // Sockets made while descriptors are still there, connected once none are left: the kernel queues
    // the connections, and every accept fails for want of a descriptor.
    std::vector<UniqueFd> clients;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(clients.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)));
    }
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    // A new descriptor takes the lowest free number: with the limit there, none can be made.
    const int lowestFree = ::dup(0);
    ASSERT_GE(lowestFree, 0);
    ::close(lowestFree);
    const rlimit lowered{static_cast<rlim_t>(lowestFree), saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    const sockaddr_in address{AF_INET, htons(served.port), {htonl(INADDR_LOOPBACK)}, {}};
    for (const auto& fd : clients) {
        ASSERT_EQ(::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    }
    // Process CPU time, the service's threads included.
    const std::clock_t cpuBefore = std::clock();
    std::this_thread::sleep_for(500ms);
    const auto spent = std::clock() - cpuBefore;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_LT(spent, CLOCKS_PER_SEC / 10) << "the listener spun while no descriptor was free";

    // Once descriptors are back, the queued connections are taken.
    EXPECT_TRUE(eventually([&] { return served.count() == clients.size(); }));
}

/// Each request is answered with the whole of `path`, streamed; `sent` logs how each send ended.
class SendFileTest : public ::testing::Test {
protected:
    void write(const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

    TempDir dir;
    const std::filesystem::path path = dir.path() / "file.bin";
    Log<bool> sent;
    Service served{[this](HttpConnection& connection, const HTTPRequest&, std::string) {
        const auto size = static_cast<std::int64_t>(std::filesystem::file_size(path));
        connection.sendFile("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n",
                            UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)), 0, size,
                            [this](bool whole) { sent.add(whole); });
    }};
};

TEST_F(SendFileTest, HugeFileStreamsWithoutGrowingMemory) {
    const auto residentBytes = [] {
        long size = 0;
        long pages = 0;
        std::ifstream("/proc/self/statm") >> size >> pages;
        return pages * ::sysconf(_SC_PAGESIZE);
    };
    write("x");
    std::filesystem::resize_file(path, std::uintmax_t{1} << 30); // sparse: costs no disk
    const long before = residentBytes();
    RawClient client(served.port);
    client.send(getRoot);
    EXPECT_GT(client.drain(120s), std::size_t{1} << 30);
    EXPECT_LT(residentBytes() - before, 16 << 20) << "resident memory grew";
    EXPECT_EQ(sent.values(), std::vector<bool>{true});
}

TEST_F(SendFileTest, ClientThatVanishesMidFileEndsTheSendAsFailed) {
    write(std::string(32 << 20, 'b'));
    // One that leaves with bytes unread resets the connection. One that leaves with none unread closes
    // it cleanly, and the next step of the file is refused with EPIPE, which raises SIGPIPE in a process
    // that does not ignore it.
    for (int i = 0; i < 6; ++i) {
        RawClient client(served.port);
        client.send(getRoot);
        if (i % 2 == 0) {
            EXPECT_EQ(client.readExactly(100000).size(), 100000u);
        }
    }
    EXPECT_TRUE(eventually([&] { return sent.values() == std::vector<bool>(6, false); }));
    EXPECT_TRUE(eventually([&] { return served.count() == 0; }));
}

TEST_F(SendFileTest, TailArrivesWhenThePeerSendsBytesNobodyReads) {
    // Bytes after the head nobody reads, arriving while the file goes out: closing over them would reset
    // the connection and drop what the kernel still holds.
    const std::string bytes = pattern(4 << 20);
    write(bytes);
    RawClient client(served.port);
    client.send(getRoot);
    std::string raw = client.readExactly(1000);
    client.send(getRoot);
    std::this_thread::sleep_for(300ms); // the file's tail is still in the buffers when the send ends
    raw += client.readAll();
    EXPECT_TRUE(parseResponse(raw).body == bytes) << raw.size() << " bytes arrived";
    EXPECT_EQ(sent.values(), std::vector<bool>{true});
}

TEST(HttpConnectionTest, ReceiveBodyTakesItOverSeveralReadsOrReportsItCutShort) {
    Log<std::string> reads;
    Log<bool> ends;
    Service served([&](HttpConnection& connection, const HTTPRequest& request, std::string initial) {
        connection.receiveBody(
            *request.contentLength(), std::move(initial),
            [&](const char* data, std::size_t size) {
                reads.add(std::string(data, size));
                return true;
            },
            [&, self = connection.shared_from_this()](bool complete) {
                ends.add(complete);
                complete ? self->respond(HTTPResponse::text(201, "stored")) : self->close();
            });
    });
    const auto received = [&] {
        const auto all = reads.values();
        return std::accumulate(all.begin(), all.end(), std::string());
    };
    const std::string body = pattern(3 << 20);
    const std::string head = "POST / HTTP/1.1\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    EXPECT_EQ(parseResponse(request(served.port, head + body)).status, 201);
    EXPECT_TRUE(received() == body);
    EXPECT_GE(reads.values().size(), 3u) << "a read takes at most 1 MiB";

    RawClient cut(served.port);
    cut.send(head + body.substr(0, 1000));
    ASSERT_TRUE(eventually([&] { return received().size() == body.size() + 1000; }));
    cut.shutdownSend();
    EXPECT_EQ(cut.readAll(), "");
    EXPECT_EQ(ends.values(), (std::vector<bool>{true, false}));
}
