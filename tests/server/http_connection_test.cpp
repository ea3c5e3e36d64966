#include "server/http_service.h"
#include "server_fixture.h"

#include <algorithm>
#include <arpa/inet.h>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <map>
#include <numeric>
#include <optional>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;

/// An HttpService on a port of its own that answers by path: "/file" streams `path`, "/body" takes the
/// body in pieces and anything else is answered "ok". What its
/// threads see goes to named logs: "seen" (every request's first segment), "read" (each piece of a body),
/// "end" (how each file send or body ended). Heads arriving in pieces, and what reaches the handler with
/// them, are the hostile-request and server tests' to check.
class HttpConnectionTest : public ::testing::Test {
protected:
    HttpConnectionTest() { start(); }

    /// Restarts the service with `limits`, forgetting the clients and logs of the last one.
    void start(ServiceLimits limits = {}) {
        clients.clear();
        service.emplace(limits, 2, std::bind_front(&HttpConnectionTest::handle, this));
        port = service->listen(0, error).value();
        std::lock_guard guard(lock);
        logs.clear();
    }
    std::size_t count() const { return service->connectionCount(); }
    /// A client that has sent `bytes`.
    RawClient& connect(std::string_view bytes) {
        clients.emplace_back(port).send(bytes);
        return clients.back();
    }
    void write(const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
    std::vector<std::string> notes(const std::string& log) {
        std::lock_guard guard(lock);
        return logs[log];
    }
    std::string received() {
        const auto all = notes("read");
        return std::accumulate(all.begin(), all.end(), std::string());
    }

    /// Bytes that differ from their neighbours, so a lost or misplaced piece shows.
    static std::string pattern(std::size_t size) {
        std::string bytes(size, '\0');
        std::generate(bytes.begin(), bytes.end(), [i = 0u]() mutable { return char(i++ * 13 % 253); });
        return bytes;
    }
    /// A head for `path` with a Host; a POST announcing `length` body bytes when there is one.
    static std::string head(const std::string& path, std::optional<std::size_t> length = {}) {
        return (length ? "POST " : "GET ") + path + " HTTP/1.1\r\nHost: x\r\n" +
               (length ? "Content-Length: " + std::to_string(*length) + "\r\n" : "") + "\r\n";
    }

    std::mutex lock;
    std::map<std::string, std::vector<std::string>> logs;
    TempDir dir;
    const std::filesystem::path path = dir.path() / "file.bin";
    std::deque<RawClient> clients;
    std::error_code error;
    std::optional<HttpService> service;
    std::uint16_t port = 0;

private:
    void note(const std::string& log, std::string entry) {
        std::lock_guard guard(lock);
        logs[log].push_back(std::move(entry));
    }
    void handle(HttpConnection& connection, const HTTPRequest& request, std::string body) {
        const std::string route = request.segments.empty() ? "" : request.segments[0];
        if (route == "file") {
            const auto size = static_cast<std::int64_t>(std::filesystem::file_size(path));
            connection.sendFile("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n",
                                UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)), 0, size,
                                [this](bool whole) { note("end", whole ? "whole" : "cut"); });
        } else if (route == "body") {
            connection.receiveBody(
                *request.contentLength(), std::move(body),
                [this](const char* data, std::size_t size) {
                    note("read", std::string(data, size));
                    return true;
                },
                [this, self = connection.shared_from_this()](bool complete) {
                    note("end", complete ? "whole" : "cut");
                    complete ? self->respond(HTTPResponse::text(201, "stored")) : self->close();
                });
        } else {
            connection.respond(HTTPResponse::text(200, "ok"));
        }
        note("seen", route); // once the answer is under way
    }
};

TEST_F(HttpConnectionTest, ClientWithoutAHeadIsForgottenWhenItLeavesOrAtTheHeadDeadline) {
    start({.connection = {.head = 400ms}});
    RawClient& idle = connect("GET / HTTP/1.1\r\n"); // never finishes its head
    RawClient& leaving = connect("GET / HTTP/1.1\r\n");
    ASSERT_TRUE(eventually([&] { return count() == 2; }));
    const auto started = std::chrono::steady_clock::now();
    leaving.shutdownSend();
    EXPECT_EQ(leaving.readAll(2s), "");
    EXPECT_TRUE(eventually([&] { return count() == 1; }, 300ms)) << "kept until the deadline";
    EXPECT_TRUE(idle.closedWithin(3s));
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_TRUE(waited >= 350ms && waited < 2s) << std::chrono::duration<double>(waited).count() << " s";
    EXPECT_TRUE(eventually([&] { return count() == 0; }));
}

TEST_F(HttpConnectionTest, ResponseArrivesWholeWhilePeerKeepsSendingWhichEndsAtTheLingerLimit) {
    start({.connection = {.linger = 300ms}});
    // Closing over unread bytes would reset the connection and could destroy the answer.
    EXPECT_EQ(parseHttpReply(request(port, head("/", 300000) + std::string(300000, 'x'))).body, "ok");

    RawClient& client = connect(head("/", 1000000000));
    EXPECT_EQ(client.readExactly(12), "HTTP/1.1 200");
    const auto started = std::chrono::steady_clock::now();
    while (count() > 0 && std::chrono::steady_clock::now() - started < 3s) {
        try {
            client.send(std::string(1024, 'x'));
        } catch (const std::system_error&) {
            // The connection was closed and reset under the sender: just as good.
        }
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1500ms);
}

// The relay's mode. Displacing the longest-idle connection, and never a busy one, is the overload test's.
TEST_F(HttpConnectionTest, NewcomerAtTheCapIsTurnedAwayWhenItMayNotDisplaceAnIdleConnection) {
    start({.connection = {}, .maxConnections = 2, .newcomerDisplacesIdle = false});
    connect("");
    connect("");
    ASSERT_TRUE(eventually([&] { return count() == 2; }));
    EXPECT_EQ(parseHttpReply(request(port, head("/"))).status, 0);
    EXPECT_FALSE(clients[0].closedWithin(50ms) || clients[1].closedWithin(50ms));
}

TEST_F(HttpConnectionTest, RunningOutOfDescriptorsPausesAcceptingInsteadOfSpinning) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers' runtime opens files of its own while checking, so with no descriptor left it
    // reports errors in correct code.
    GTEST_SKIP() << "needs a build without sanitizers: their runtime needs free descriptors too";
#endif
    // Sockets made while descriptors are still there, connected once none are left: the kernel queues
    // the connections, and every accept fails for want of a descriptor.
    std::vector<UniqueFd> sockets;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(sockets.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)));
    }
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    // A new descriptor takes the lowest free number: with the limit there, none can be made.
    const int lowestFree = UniqueFd(::dup(0)).get();
    ASSERT_GE(lowestFree, 0);
    const rlimit lowered{static_cast<rlim_t>(lowestFree), saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    const sockaddr_in address{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}};
    for (const auto& fd : sockets) {
        ASSERT_EQ(::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    }
    // Process CPU time, the service's threads included.
    const std::clock_t cpuBefore = std::clock();
    std::this_thread::sleep_for(500ms);
    const auto spent = std::clock() - cpuBefore;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_LT(spent, CLOCKS_PER_SEC / 10) << "the listener spun while no descriptor was free";

    // Once descriptors are back, the queued connections are taken.
    EXPECT_TRUE(eventually([&] { return count() == sockets.size(); }));
}

// A huge file goes out without growing memory; a client that leaves mid-file ends the send as failed; a
// file's tail still arrives while the peer sends bytes nobody reads; and stopping lets a send complete.
TEST_F(HttpConnectionTest, FileSendsStreamEndWhenTheClientLeavesAndOutliveStop) {
    write("x");
    std::filesystem::resize_file(path, std::uintmax_t{1} << 30); // sparse: costs no disk
    const double before = residentMiB();
    EXPECT_GT(connect(head("/file")).drain(120s), std::size_t{1} << 30);
    EXPECT_LT(residentMiB() - before, 16) << "resident memory grew";

    // One that leaves with bytes unread resets the connection. One that leaves with none unread closes
    // it cleanly, and the next step of the file is refused with EPIPE, which raises SIGPIPE in a process
    // that does not ignore it.
    write(pattern(32 << 20));
    for (std::size_t i = 0; i < 4; ++i) {
        RawClient& client = connect(head("/file"));
        EXPECT_EQ(client.readExactly(i % 2 * 100000).size(), i % 2 * 100000); // every other reads a part
        client.close();
    }
    const std::vector<std::string> ends{"whole", "cut", "cut", "cut", "cut"};
    EXPECT_TRUE(eventually([&] { return notes("end") == ends; }));

    // Closing over unread bytes would reset the connection and drop what the kernel still holds.
    RawClient& client = connect(head("/file"));
    std::string raw = client.readExactly(1000);
    client.send(head("/file"));
    service->stop();
    EXPECT_THROW(RawClient{port}, std::system_error);
    raw += client.readAll(10s);
    EXPECT_TRUE(parseHttpReply(raw).body == pattern(32 << 20)) << raw.size() << " bytes arrived";
    EXPECT_TRUE(eventually([&] { return notes("end").size() == 6 && notes("end").back() == "whole"; }));
}

TEST_F(HttpConnectionTest, ReceiveBodyTakesItOverSeveralReadsOrReportsItCutShort) {
    const std::string body = pattern(3 << 20);
    EXPECT_EQ(parseHttpReply(request(port, head("/body", body.size()) + body)).status, 201);
    EXPECT_TRUE(received() == body);
    EXPECT_GE(notes("read").size(), 3u) << "a read takes at most 1 MiB";

    RawClient& cut = connect(head("/body", body.size()) + body.substr(0, 1000));
    ASSERT_TRUE(eventually([&] { return received().size() == body.size() + 1000; }));
    cut.shutdownSend();
    EXPECT_EQ(cut.readAll(), "");
    EXPECT_EQ(notes("end"), (std::vector<std::string>{"whole", "cut"}));
}
