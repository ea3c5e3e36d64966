// What the server adds to its routes and connections: ports, leftovers, and carrying out the answers
// that stream a file or store a body. Which downloads count, and that uploads are stored whole with
// incoming/ emptied, is settled under load in the resilience tests; a claim read, paired and reported
// reaches the app model in its own tests.
#include "server_fixture.h"
#include "support/file_contents.h"

#include <deque>
#include <fstream>
#include <latch>
#include <optional>
#include <thread>

namespace fs = std::filesystem;

class TeskServerTest : public ServerFixture {
protected:
    const Share inbox = store.share(ShareTarget::inbox(), ShareDuration::hour, true);
    /// An upload into the inbox share, up to its remaining headers.
    const std::string upload = "POST /s/" + inbox.token + "/upload HTTP/1.1\r\nHost: test\r\n";
};

TEST_F(TeskServerTest, AtCreationRemovesLeftoverUploadsAndListensOnTheFirstPreferredPortFreeElseAnyPort) {
    fs::create_directories(server.uploadsDir() / "old-upload");
    std::ofstream(server.uploadsDir() / "old-upload" / "upload.part") << "half a photo";
    std::optional<TeskServer> other(std::in_place, store, "Mac");
    EXPECT_TRUE(fs::is_empty(other->uploadsDir()));
    other->start({server.port()});
    const std::uint16_t picked = other->port();
    EXPECT_NE(picked, server.port());
    // Also shows a port was picked at all: nothing answers on port 0.
    EXPECT_EQ(parseHttpReply(request(picked, "GET / HTTP/1.1\r\n\r\n")).status, 200);
    other.emplace(store, "Mac"); // the first lets go of `picked` before the second asks for it
    other->start({server.port(), picked});
    EXPECT_EQ(other->port(), picked);
}

TEST_F(TeskServerTest, PropertiesAreSafeToChangeWhileServing) {
    server.setMacName("Mac");
    server.setIconPNG(std::string("p"));
    std::jthread writer([&](const std::stop_token& stop) {
        for (int i = 0; !stop.stop_requested(); ++i) {
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
}

TEST_F(TeskServerTest, DownloadsAndArchivesCountOnceTheirLastByteWentOutAndAFileGoneIsA404) {
    const std::string bytes(32 << 20, 'b'); // more than the socket buffers hold
    const Item file = addFile("big.bin", bytes);
    const Item gone = addFile("gone.txt", "x");
    fs::remove(store.filePath(gone));
    const Share share = store.share(ShareTarget::folder(), ShareDuration::day, false);
    const std::string path = "/s/" + share.token + "/f/";
    // Outlives the test body, as the server does.
    const auto reported = std::make_shared<std::pair<std::mutex, std::vector<std::string>>>();
    server.setOnEvent([reported](const ServerEvent& event) {
        std::lock_guard guard(reported->first);
        if (const auto* archive = std::get_if<ServerEvent::DownloadedArchive>(&event.value)) {
            reported->second.push_back("archive by " + archive->by);
            return;
        }
        const auto& downloaded = std::get<ServerEvent::Downloaded>(event.value);
        reported->second.push_back(downloaded.item.id + " by " + downloaded.by);
    });
    std::optional<RawClient> cut(std::in_place, server.port());
    cut->send("GET " + path + file.id + " HTTP/1.1\r\n\r\n");
    EXPECT_EQ(cut->readExactly(100000).size(), 100000u);
    cut.reset();
    ASSERT_TRUE(eventually([&] { return server.connectionCount() == 0; }));
    const HttpReply missing = get(path + gone.id);
    EXPECT_EQ(std::to_string(missing.status) + " " + missing.body,
              "404 This file is no longer on the computer.");
    EXPECT_TRUE(get(path + file.id).body == bytes);
    // The whole folder as one archive: one cut short counts nothing, a whole one once.
    cut.emplace(server.port());
    cut->send("GET /s/" + share.token + "/zip HTTP/1.1\r\n\r\n");
    EXPECT_EQ(cut->readExactly(100000).size(), 100000u);
    cut.reset();
    ASSERT_TRUE(eventually([&] { return server.connectionCount() == 0; }));
    const HttpReply archive = get("/s/" + share.token + "/zip");
    EXPECT_EQ(archive.header("Content-Length"), std::to_string(archive.body.size()));
    EXPECT_NE(archive.body.find(bytes), std::string::npos);
    // Counted before the server ends its side, so by the time the client saw the end.
    EXPECT_EQ(store.snapshot().share(share.token)->downloads, 2);
    std::lock_guard guard(reported->first);
    EXPECT_EQ(reported->second,
              (std::vector<std::string>{file.id + " by 127.0.0.1", "archive by 127.0.0.1"}));
}

TEST_F(TeskServerTest, ContinueGoesOutOnlyToAClientWaitingForIt) {
    const std::string head = upload + "Expect: 100-continue\r\nContent-Length: 5\r\n\r\n";
    RawClient waiting(server.port());
    waiting.send(head);
    EXPECT_EQ(waiting.readExactly(25), "HTTP/1.1 100 Continue\r\n\r\n");
    waiting.send("hello");
    EXPECT_EQ(parseHttpReply(waiting.readAll()).status, 201);
    // One that sent its body at once gets one answer, not two writes racing each other.
    EXPECT_TRUE(send(head + "hello").raw.starts_with("HTTP/1.1 201"));
}

TEST_F(TeskServerTest, PiecesAppendOnlyWhereTheCopyEndsAndTheLastOneFilesOneItem) {
    const auto head = [&](const std::string& id, std::int64_t offset, std::size_t length) {
        return upload + "X-Tesk-Name: clip.mov\r\nX-Tesk-Upload: " + id +
               "\r\nX-Tesk-Offset: " + std::to_string(offset) +
               "\r\nX-Tesk-Size: 10\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
    };
    const auto piece = [&](std::int64_t offset, const std::string& bytes,
                           const std::string& id = "clip-0001") {
        const HttpReply reply = send(head(id, offset, bytes.size()) + bytes);
        return std::to_string(reply.status) + " " + reply.body;
    };
    EXPECT_EQ(piece(4, "efgh"), R"(409 {"offset":0})"); // nothing held yet
    EXPECT_EQ(piece(0, "abcd"), R"(200 {"offset":4})");
    EXPECT_EQ(piece(0, "abcd"), R"(409 {"offset":4})"); // repeated
    EXPECT_EQ(piece(2, "cdef"), R"(409 {"offset":4})"); // overlapping
    EXPECT_EQ(piece(4, "efghijk"), "400 Past the end of the file");
    EXPECT_EQ(piece(4, ""), R"(200 {"offset":4})"); // where it stands
    {
        // Cut by the network partway: what arrived stays, and the next piece goes on from there.
        RawClient cut(server.port());
        cut.send(head("clip-0001", 4, 6) + "ef");
        ASSERT_TRUE(eventually([&] { return piece(6, "") == R"(200 {"offset":6})"; }));
    }
    EXPECT_EQ(piece(6, "ghij"), R"(201 {"ok":true,"offset":10})");
    const auto items = store.snapshot().items;
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(readFile(store.filePath(items[0])), "abcdefghij");
    EXPECT_TRUE(eventually([&] { return fs::is_empty(server.uploadsDir()); }));

    // An unfinished upload outlives a restart, and goes once its share has stopped.
    EXPECT_EQ(piece(0, "abc", "clip-0002"), R"(200 {"offset":3})");
    TeskServer{store, "Restarted"};
    EXPECT_FALSE(fs::is_empty(server.uploadsDir()));
    store.stopSharing(inbox.token);
    EXPECT_EQ(piece(3, "defghij", "clip-0002").substr(0, 4), "410 ");
    TeskServer{store, "Restarted again"};
    EXPECT_TRUE(fs::is_empty(server.uploadsDir()));
    EXPECT_EQ(store.snapshot().items.size(), 1u);
}

TEST_F(TeskServerTest, BodyCutOffLeavesNoResponseNoItemAndNoTemporaryFiles) {
    RawClient client(server.port());
    client.send(upload + "Content-Length: 1000\r\n\r\n" + std::string(500, 'x'));
    ASSERT_TRUE(eventually([&] { return !fs::is_empty(server.uploadsDir()); }));
    client.shutdownSend();
    EXPECT_EQ(client.readAll(), "");
    EXPECT_TRUE(eventually([&] { return fs::is_empty(server.uploadsDir()); }));
    EXPECT_TRUE(store.snapshot().items.empty());
}

TEST_F(TeskServerTest, UploadsBeingFiledDoNotHoldUpOtherRequests) {
    // Filing an upload blocks until the test lets go, as syncing a large file to a slow disk does: the
    // store reports its changes on the thread that files the upload.
    const auto released = std::make_shared<std::latch>(1);
    const auto filing = std::make_shared<std::atomic<int>>(0);
    store.setOnChange([released, filing] {
        ++*filing;
        released->wait();
    });
    std::shared_ptr<void> letGo(nullptr, [&](void*) { released->count_down(); }); // also when a check fails

    // As many uploads as the server can have connection threads, all finishing at once.
    std::deque<RawClient> uploads;
    for (int i = 0; i < 4; ++i) {
        uploads.emplace_back(server.port()).send(upload + "Content-Length: 4\r\n\r\ndata");
    }
    ASSERT_TRUE(eventually([&] { return *filing >= 2; }));
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(get("/s/" + inbox.token + "/").status, 200);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(100));

    letGo.reset();
    for (auto& client : uploads) {
        EXPECT_EQ(parseHttpReply(client.readAll()).status, 201);
    }
}
