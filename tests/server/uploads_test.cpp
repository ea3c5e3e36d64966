#include "server_fixture.h"
#include "support/file_contents.h"

#include <condition_variable>
#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/resource.h>

namespace fs = std::filesystem;

class UploadsTest : public ServerFixture {
protected:
    UploadsTest() {
        top = store.addFolder("Top", std::nullopt);
        inner = store.addFolder("Inner", top.id);
        outside = store.addFolder("Outside", std::nullopt);
    }

    std::string post(const Share& share, const std::string& query, const std::string& headers,
                     const std::string& body) {
        return "POST /s/" + share.token + "/upload" + query + " HTTP/1.1\r\nHost: test\r\n" + headers +
               "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    }

    /// The single item that arrived, checked against what was sent.
    Item onlyReceived() {
        const auto items = store.snapshot().receivedItems();
        EXPECT_EQ(items.size(), 1u);
        return items.empty() ? Item{} : items.front();
    }

    bool incomingIsEmpty() const { return fs::is_empty(server.uploadsDir()); }

    Folder top;
    Folder inner;
    Folder outside;
};

TEST_F(UploadsTest, BodyThatCameWithTheHeadIsStored) {
    const Share share = store.share(ShareTarget::folder(top.id), ShareDuration::day, true);
    const Response response =
        send(post(share, "?folder=" + inner.id,
                  "X-Tesk-Name: caf%C3%A9%20menu.txt\r\nX-Tesk-Device: Ana's iPhone\r\n", "espresso"));
    EXPECT_EQ(response.status, 201);
    EXPECT_EQ(response.headerLines,
              (std::vector<std::string>{"Content-Type: application/json", "Cache-Control: no-store",
                                        "Content-Length: 11", "Connection: close"}));
    EXPECT_EQ(response.body, R"({"ok":true})");
    const Item item = onlyReceived();
    EXPECT_EQ(item.name, "caf\u00e9 menu.txt");
    EXPECT_EQ(item.folderID, inner.id);
    EXPECT_EQ(item.receivedFrom, "Ana's iPhone");
    EXPECT_EQ(readFile(store.fileURL(item)), "espresso");
    const auto events = this->events(1);
    ASSERT_EQ(events.size(), 1u);
    const auto* received = std::get_if<ServerEvent::Received>(&events[0].value);
    ASSERT_TRUE(received);
    EXPECT_EQ(received->item.id, item.id);
    EXPECT_EQ(received->from, "Ana's iPhone");
    EXPECT_TRUE(incomingIsEmpty());
}

TEST_F(UploadsTest, LargeBodyIsStreamedInSeveralReads) {
    const Share share = store.share(ShareTarget::folder(), ShareDuration::day, true);
    std::string body(3 << 20, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) {
        body[i] = static_cast<char>(i * 7 % 251);
    }
    RawClient client(server.port());
    const std::string request = post(share, "", "X-Tesk-Name: big.bin\r\n", body);
    // Sent in pieces so the server cannot have it all in its first read.
    for (std::size_t offset = 0; offset < request.size(); offset += 256 * 1024) {
        client.send(std::string_view(request).substr(offset, 256 * 1024));
    }
    EXPECT_EQ(parseResponse(client.readAll(std::chrono::seconds(20))).status, 201);
    const Item item = onlyReceived();
    EXPECT_EQ(item.size, static_cast<std::int64_t>(body.size()));
    EXPECT_EQ(readFile(store.fileURL(item)), body);
    EXPECT_FALSE(item.folderID);
}

TEST_F(UploadsTest, ContinueIsSentBeforeTheBodyOnTheSameConnection) {
    const Share share = store.share(ShareTarget::inbox(), ShareDuration::hour, true);
    RawClient client(server.port());
    client.send("POST /s/" + share.token +
                "/upload HTTP/1.1\r\nExpect: 100-Continue\r\nContent-Length: 5\r\n\r\n");
    EXPECT_EQ(client.readExactly(25), "HTTP/1.1 100 Continue\r\n\r\n");
    client.send("hello");
    const Response response = parseResponse(client.readAll());
    EXPECT_EQ(response.status, 201);
}

TEST_F(UploadsTest, BodySentWithoutWaitingGetsOnlyTheFinalAnswer) {
    // The client did not wait for the interim answer: one answer, not two writes racing each other.
    const Share share = store.share(ShareTarget::inbox(), ShareDuration::hour, true);
    const Response response =
        send("POST /s/" + share.token +
             "/upload HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 5\r\n\r\nhello");
    EXPECT_EQ(response.status, 201);
    EXPECT_FALSE(response.raw.starts_with("HTTP/1.1 100")) << response.raw;
}

TEST_F(UploadsTest, BodyCutOffLeavesNoResponseAndNoTemporaryFiles) {
    const Share share = store.share(ShareTarget::inbox(), ShareDuration::hour, true);
    RawClient client(server.port());
    client.send("POST /s/" + share.token + "/upload HTTP/1.1\r\nContent-Length: 1000\r\n\r\n" +
                std::string(500, 'x'));
    ASSERT_TRUE(eventually([&] { return !incomingIsEmpty(); }));
    client.shutdownSend();
    EXPECT_EQ(client.readAll(), "");
    EXPECT_TRUE(eventually([&] { return incomingIsEmpty(); }));
    EXPECT_TRUE(store.snapshot().items.empty());
    EXPECT_TRUE(events().empty());
}

TEST_F(UploadsTest, UploadsBeingFiledDoNotHoldUpOtherRequests) {
    const Share share = store.share(ShareTarget::inbox(), ShareDuration::hour, true);
    // Filing an upload blocks until the test lets go, as syncing a large file to a slow disk does. The
    // store reports its changes on the thread that files the upload; the state outlives the test body,
    // so a thread let go late finds it still there.
    struct Hold {
        std::mutex lock;
        std::condition_variable changed;
        bool held = true;
        int filing = 0;
        void release() {
            std::lock_guard guard(lock);
            held = false;
            changed.notify_all();
        }
    };
    const auto hold = std::make_shared<Hold>();
    store.setOnChange([hold] {
        std::unique_lock guard(hold->lock);
        ++hold->filing;
        hold->changed.notify_all();
        hold->changed.wait(guard, [&] { return !hold->held; });
    });
    const std::shared_ptr<void> letGo(nullptr, [hold](void*) { hold->release(); });

    // As many uploads as the server can have connection threads, all finishing at once.
    std::vector<std::unique_ptr<RawClient>> uploads;
    for (int i = 0; i < 4; ++i) {
        uploads.push_back(std::make_unique<RawClient>(server.port()));
        uploads.back()->send(post(share, "", "X-Tesk-Name: " + std::to_string(i) + ".bin\r\n", "data"));
    }
    {
        std::unique_lock guard(hold->lock);
        ASSERT_TRUE(
            hold->changed.wait_for(guard, std::chrono::seconds(5), [&] { return hold->filing >= 2; }));
    }
    const auto asked = std::chrono::steady_clock::now();
    RawClient page(server.port());
    page.send("GET /s/" + share.token + "/ HTTP/1.1\r\nHost: test\r\n\r\n");
    const Response answer = parseResponse(page.readAll(std::chrono::seconds(2)));
    const auto waited = std::chrono::steady_clock::now() - asked;
    EXPECT_EQ(answer.status, 200);
    EXPECT_LT(waited, std::chrono::milliseconds(100));

    hold->release();
    for (const auto& upload : uploads) {
        EXPECT_EQ(parseResponse(upload->readAll()).status, 201);
    }
    EXPECT_EQ(events(4).size(), 4u);
    EXPECT_EQ(store.snapshot().receivedItems().size(), 4u);
    EXPECT_TRUE(eventually([&] { return incomingIsEmpty(); }));
    store.setOnChange(nullptr);
}

/// Makes the disk refuse writes past `bytes` in this process, as a full disk would, until it goes away.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &before_);
        // Past the limit a write fails with EFBIG instead of ending the process.
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = before_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &before_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit before_{};
    void (*previousHandler_)(int) = nullptr;
};

TEST_F(UploadsTest, DiskRefusingTheBodyMidwayIsAnsweredAndLeavesNothing) {
    const Share share = store.share(ShareTarget::inbox(), ShareDuration::hour, true);
    Response response;
    {
        const FileSizeLimit limit(1 << 20);
        RawClient client(server.port());
        client.send("POST /s/" + share.token +
                    "/upload HTTP/1.1\r\nX-Tesk-Name: big.bin\r\nContent-Length: " + std::to_string(3 << 20) +
                    "\r\n\r\n" + std::string(3 << 20, 'x'));
        response = parseResponse(client.readAll());
    }
    EXPECT_EQ(response.status, 500);
    EXPECT_EQ(response.body, "Couldn't save the file");
    EXPECT_TRUE(eventually([&] { return incomingIsEmpty(); }));
    EXPECT_TRUE(store.snapshot().items.empty());
    EXPECT_TRUE(events().empty());
}

TEST_F(UploadsTest, RefusalsComeBeforeAnyBodyByte) {
    const Share closed = store.share(ShareTarget::folder(top.id), ShareDuration::day, false);
    const Share folderShare = store.share(ShareTarget::folder(inner.id), ShareDuration::day, true);
    struct Case {
        const char* why;
        std::string request;
        int status;
        std::string body;
    } cases[] = {
        {"uploads off", post(closed, "?folder=" + top.id, "", "x"), 403, "This link doesn't accept files"},
        {"no folder for a folder share", post(folderShare, "", "", "x"), 403, "Not allowed"},
        {"folder above the share", post(folderShare, "?folder=" + top.id, "", "x"), 403, "Not allowed"},
        {"folder beside the share", post(folderShare, "?folder=" + outside.id, "", "x"), 403, "Not allowed"},
        {"missing folder", post(folderShare, "?folder=gone", "", "x"), 403, "Not allowed"},
        {"no length", "POST /s/" + folderShare.token + "/upload?folder=" + inner.id + " HTTP/1.1\r\n\r\n",
         400, "Missing Content-Length"},
        {"zero length", post(folderShare, "?folder=" + inner.id, "", ""), 400, "Missing Content-Length"},
        {"negative length",
         "POST /s/" + folderShare.token + "/upload?folder=" + inner.id +
             " HTTP/1.1\r\nContent-Length: -5\r\n\r\n",
         400, "Missing Content-Length"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        // The client announces a body but sends none: the answer must not wait for it.
        RawClient client(server.port());
        client.send(c.request.substr(0, c.request.find("\r\n\r\n") + 4));
        const Response response = parseResponse(client.readAll(std::chrono::seconds(5)));
        EXPECT_EQ(response.status, c.status);
        EXPECT_EQ(response.body, c.body);
    }
    EXPECT_TRUE(incomingIsEmpty());
    EXPECT_TRUE(store.snapshot().items.empty());
}

TEST_F(UploadsTest, UploadLargerThanTheDiskCanHoldIsRefusedUpFront) {
    const Share share = store.share(ShareTarget::inbox(), ShareDuration::hour, true);
    RawClient client(server.port());
    client.send("POST /s/" + share.token + "/upload HTTP/1.1\r\nContent-Length: 9223372036854775807\r\n\r\n");
    const Response response = parseResponse(client.readAll());
    EXPECT_EQ(response.status, 413);
    EXPECT_EQ(response.body, "Couldn't save the file");
    EXPECT_TRUE(incomingIsEmpty());
}

/// A reserve no disk can leave free: every upload is refused up front.
class UploadReserveTest : public ServerFixture {
protected:
    UploadReserveTest()
        : ServerFixture(ServerLimits{.uploadReserve = std::uint64_t{1} << 62}) {}
};

TEST_F(UploadReserveTest, ReserveComesFromTheServerLimits) {
    EXPECT_EQ(ServerLimits{}.uploadReserve, std::uint64_t{64} << 20);
    const Share share = store.share(ShareTarget::inbox(), ShareDuration::hour, true);
    const Response response =
        send("POST /s/" + share.token + "/upload HTTP/1.1\r\nContent-Length: 1\r\n\r\nx");
    EXPECT_EQ(response.status, 413);
    EXPECT_EQ(response.body, "Couldn't save the file");
    EXPECT_TRUE(store.snapshot().items.empty());
    EXPECT_TRUE(fs::is_empty(server.uploadsDir()));
}

TEST_F(UploadsTest, NamesAndSendersAreDefaultedAndCut) {
    const Share share = store.share(ShareTarget::inbox(), ShareDuration::hour, true);
    ASSERT_EQ(send(post(share, "", "", "a")).status, 201);
    ASSERT_EQ(send(post(share, "",
                        "X-Tesk-Name: bad%zzname\r\nX-Tesk-Device: " + std::string(60, 'P') + "\r\n", "b"))
                  .status,
              201);
    const Library library = store.snapshot();
    ASSERT_EQ(library.items.size(), 2u);
    EXPECT_EQ(library.items[0].name, "file");
    EXPECT_EQ(library.items[0].receivedFrom, "a browser");
    EXPECT_EQ(library.items[1].name, "file");
    EXPECT_EQ(library.items[1].receivedFrom, std::string(40, 'P'));
    // Each sender gets a root folder of its own.
    EXPECT_EQ(library.folder(library.items[0].folderID)->name, "From a browser");
    EXPECT_EQ(library.folder(library.items[1].folderID)->name, "From " + std::string(40, 'P'));
}

TEST_F(UploadsTest, BundleSharesTakeFilesIntoTheirFoldersOrTheSendersFolder) {
    const std::vector<ShareTarget> selection{ShareTarget::folder(inner.id), ShareTarget::folder(outside.id)};
    const Share share = store.share(selection, ShareDuration::day).value();
    EXPECT_EQ(send(post(share, "?folder=" + inner.id, "X-Tesk-Device: Bo\r\n", "1")).status, 201);
    EXPECT_EQ(send(post(share, "", "X-Tesk-Device: Bo\r\n", "2")).status, 201);
    EXPECT_EQ(send(post(share, "?folder=" + top.id, "X-Tesk-Device: Bo\r\n", "3")).status, 403);
    const Library library = store.snapshot();
    ASSERT_EQ(library.items.size(), 2u);
    EXPECT_EQ(library.items[0].folderID, inner.id);
    EXPECT_EQ(library.folder(library.items[1].folderID)->name, "From Bo");
}
