// What the server adds to its routes and connections: ports, leftovers, and carrying out the answers
// that stream a file, store a body or read a small one.
#include "server_fixture.h"
#include "support/file_contents.h"

#include <csignal>
#include <fstream>
#include <future>
#include <limits>
#include <sys/resource.h>

using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

/// Makes the disk refuse writes past `bytes` in this process, as a full disk would, until it goes away.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
        : handler_(std::signal(SIGXFSZ, SIG_IGN)) { // past the limit a write fails with EFBIG instead
        ::getrlimit(RLIMIT_FSIZE, &before_);
        rlimit limited = before_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &before_);
        std::signal(SIGXFSZ, handler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    void (*handler_)(int);
    rlimit before_{};
};

} // namespace

class TeskServerTest : public ServerFixture {
protected:
    explicit TeskServerTest(ServerLimits limits = {})
        : ServerFixture(limits) {}

    /// The head of an upload of `length` bytes into the inbox share.
    std::string uploadHead(std::size_t length, const std::string& headers = "") {
        return "POST /s/" + inbox.token + "/upload HTTP/1.1\r\nHost: test\r\n" + headers +
               "Content-Length: " + std::to_string(length) + "\r\n\r\n";
    }
    std::int64_t downloads(const Share& share) { return store.snapshot().share(share.token)->downloads; }
    bool incomingIsEmpty() const { return fs::is_empty(server.uploadsDir()); }
    /// Nothing arrived and nothing was left behind.
    void expectNothingStored() {
        EXPECT_TRUE(eventually([&] { return incomingIsEmpty(); }));
        EXPECT_TRUE(store.snapshot().items.empty());
        EXPECT_TRUE(events().empty());
    }

    const Share inbox = store.share(ShareTarget::inbox(), ShareDuration::hour, true);
};

TEST_F(TeskServerTest, ListensOnTheFirstPreferredPortThatCanBeBoundElseOneTheSystemPicks) {
    std::uint16_t picked = 0;
    {
        TeskServer fallback(store, "Mac");
        fallback.start({server.port()});
        picked = fallback.port();
        EXPECT_NE(picked, 0);
        EXPECT_NE(picked, server.port());
        EXPECT_EQ(parseResponse(request(picked, "GET / HTTP/1.1\r\n\r\n")).status, 200);
    }
    TeskServer preferred(store, "Mac");
    preferred.start({server.port(), picked});
    EXPECT_EQ(preferred.port(), picked);
}

TEST_F(TeskServerTest, LeftoverUploadsAreRemovedAtCreation) {
    fs::create_directories(server.uploadsDir() / "old-upload");
    std::ofstream(server.uploadsDir() / "old-upload" / "upload.part") << "half a photo";
    std::ofstream(server.uploadsDir() / "stray") << "x";
    const TeskServer next(store, "Mac");
    EXPECT_TRUE(fs::is_directory(next.uploadsDir()));
    EXPECT_TRUE(fs::is_empty(next.uploadsDir()));
}

TEST_F(TeskServerTest, PropertiesAreSafeToChangeWhileServing) {
    server.setMacName("Mac");
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
        EXPECT_EQ(get("/icon.png").status, 200);
        EXPECT_TRUE(server.macName().starts_with("Mac"));
    }
    done = true;
    writer.join();
}

TEST_F(TeskServerTest, WholeDownloadIsCountedOnceAfterItsLastByte) {
    const std::string bytes = std::string(500, 'a') + std::string(500, 'b');
    const Item file = addFile("report.pdf", bytes);
    const Item photo = addFile("beach.jpg", "jpeg");
    const Item empty = addFile("empty.bin", "");
    const Share share = store.share(ShareTarget::folder(), ShareDuration::day, true);
    const struct {
        const Item& item;
        std::string query;
        std::string headers;
        int status;
        std::string body;
        bool counts;
    } cases[] = {{file, "", "", 200, bytes, true},
                 {file, "", "Range: bytes=0-\r\n", 206, bytes, true},
                 {file, "", "Range: bytes=500-\r\n", 206, bytes.substr(500), false},
                 {photo, "?inline=1", "", 200, "jpeg", false},
                 {empty, "", "", 200, "", true}};
    std::vector<std::string> counted;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item.name + c.query + c.headers);
        const Response response = get("/s/" + share.token + "/f/" + c.item.id + c.query, c.headers);
        EXPECT_EQ(response.status, c.status);
        EXPECT_EQ(response.body, c.body);
        if (c.counts) {
            counted.push_back(c.item.id);
        }
        // Counted before the server ends its side, so by the time the client saw the end.
        EXPECT_EQ(downloads(share), static_cast<std::int64_t>(counted.size()));
        EXPECT_EQ(events().size(), counted.size());
    }
    std::vector<std::string> reported;
    for (const auto& event : events()) {
        const auto& downloaded = std::get<ServerEvent::Downloaded>(event.value);
        reported.push_back(downloaded.item.id);
        EXPECT_EQ(downloaded.by, "127.0.0.1");
    }
    EXPECT_EQ(reported, counted);
}

TEST_F(TeskServerTest, DownloadCutShortOrGoneIsNotCounted) {
    const Item big = addFile("big.bin", std::string(32 << 20, 'b'));
    const Item gone = addFile("gone.txt", "x");
    const Share share = store.share(ShareTarget::folder(), ShareDuration::day, true);
    {
        RawClient client(server.port());
        client.send("GET /s/" + share.token + "/f/" + big.id + " HTTP/1.1\r\n\r\n");
        EXPECT_EQ(client.readExactly(100000).size(), 100000u);
    }
    fs::remove(store.fileURL(gone));
    const Response missing = get("/s/" + share.token + "/f/" + gone.id);
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.body, "This file is no longer on the computer.");
    ASSERT_TRUE(eventually([&] { return server.connectionCount() == 0; }));
    EXPECT_EQ(downloads(share), 0);
    EXPECT_TRUE(events().empty());
}

TEST_F(TeskServerTest, BodyThatCameWithTheHeadIsStoredAndReported) {
    const Response response =
        send(uploadHead(8, "X-Tesk-Name: menu.txt\r\nX-Tesk-Device: Ana's iPhone\r\n") + "espresso");
    EXPECT_EQ(response.status, 201);
    EXPECT_EQ(response.body, R"({"ok":true})");
    const auto items = store.snapshot().receivedItems();
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].name, "menu.txt");
    EXPECT_EQ(readFile(store.fileURL(items[0])), "espresso");
    const auto events = this->events(1);
    ASSERT_EQ(events.size(), 1u);
    const auto& received = std::get<ServerEvent::Received>(events[0].value);
    EXPECT_EQ(received.item.id, items[0].id);
    EXPECT_EQ(received.from, "Ana's iPhone");
    EXPECT_TRUE(incomingIsEmpty());
}

TEST_F(TeskServerTest, ContinueGoesOutOnlyToAClientWaitingForIt) {
    const std::string head = uploadHead(5, "Expect: 100-continue\r\n");
    RawClient waiting(server.port());
    waiting.send(head);
    EXPECT_EQ(waiting.readExactly(25), "HTTP/1.1 100 Continue\r\n\r\n");
    waiting.send("hello");
    EXPECT_EQ(parseResponse(waiting.readAll()).status, 201);
    // One that sent its body at once gets one answer, not two writes racing each other.
    const Response response = send(head + "hello");
    EXPECT_EQ(response.status, 201);
    EXPECT_TRUE(response.raw.starts_with("HTTP/1.1 201")) << response.raw;
    EXPECT_EQ(events(2).size(), 2u);
}

TEST_F(TeskServerTest, BodyCutOffLeavesNoResponseAndNoTemporaryFiles) {
    RawClient client(server.port());
    client.send(uploadHead(1000) + std::string(500, 'x'));
    ASSERT_TRUE(eventually([&] { return !incomingIsEmpty(); }));
    client.shutdownSend();
    EXPECT_EQ(client.readAll(), "");
    expectNothingStored();
}

TEST_F(TeskServerTest, DiskRefusingTheBodyMidwayIsAnsweredAndLeavesNothing) {
    Response response;
    {
        const FileSizeLimit limit(1 << 20);
        response = send(uploadHead(3 << 20) + std::string(3 << 20, 'x'));
    }
    EXPECT_EQ(response.status, 500);
    EXPECT_EQ(response.body, "Couldn't save the file");
    expectNothingStored();
}

TEST_F(TeskServerTest, UploadLargerThanTheDiskCanHoldIsRefusedBeforeItsBody) {
    RawClient client(server.port());
    client.send(uploadHead(std::numeric_limits<std::int64_t>::max()));
    const Response response = parseResponse(client.readAll());
    EXPECT_EQ(response.status, 413);
    EXPECT_EQ(response.body, "Couldn't save the file");
    expectNothingStored();
}

class TeskServerReserveTest : public TeskServerTest {
protected:
    /// A reserve no disk can leave free.
    TeskServerReserveTest()
        : TeskServerTest(ServerLimits{.uploadReserve = std::uint64_t{1} << 62}) {}
};

TEST_F(TeskServerReserveTest, UploadThatWouldEatIntoTheReserveIsRefused) {
    EXPECT_EQ(send(uploadHead(1) + "x").status, 413);
    expectNothingStored();
}

TEST_F(TeskServerTest, UploadsBeingFiledDoNotHoldUpOtherRequests) {
    // Filing an upload blocks until the test lets go, as syncing a large file to a slow disk does: the
    // store reports its changes on the thread that files the upload.
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    const auto filing = std::make_shared<std::atomic<int>>(0);
    store.setOnChange([released, filing] {
        ++*filing;
        released.wait();
    });
    std::shared_ptr<void> letGo(nullptr, [&](void*) { release.set_value(); }); // also when a check fails

    // As many uploads as the server can have connection threads, all finishing at once.
    std::vector<std::unique_ptr<RawClient>> uploads;
    for (int i = 0; i < 4; ++i) {
        uploads.push_back(std::make_unique<RawClient>(server.port()));
        uploads.back()->send(uploadHead(4) + "data");
    }
    ASSERT_TRUE(eventually([&] { return *filing >= 2; }));
    const auto asked = std::chrono::steady_clock::now();
    RawClient page(server.port());
    page.send("GET /s/" + inbox.token + "/ HTTP/1.1\r\nHost: test\r\n\r\n");
    EXPECT_EQ(parseResponse(page.readAll(2s)).status, 200);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 100ms);

    letGo.reset();
    for (const auto& upload : uploads) {
        EXPECT_EQ(parseResponse(upload->readAll()).status, 201);
    }
    EXPECT_EQ(store.snapshot().receivedItems().size(), 4u);
    EXPECT_TRUE(eventually([&] { return incomingIsEmpty(); }));
    store.setOnChange(nullptr);
}

TEST_F(TeskServerTest, PairingClaimReadsItsBodyPairsAndReports) {
    const std::string code = store.newPairingCode().code;
    const std::string body = R"({"name":"Bo's phone"})";
    RawClient client(server.port());
    client.send("POST /p/" + code + "/claim HTTP/1.1\r\nHost: test\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\n\r\n");
    client.send(body);
    EXPECT_EQ(parseResponse(client.readAll()).status, 200);
    const auto devices = store.snapshot().devices;
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].name, "Bo's phone");
    const auto events = this->events(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(std::get<ServerEvent::Paired>(events[0].value).device, devices[0]);
}
