#include "server_fixture.h"

#include <fcntl.h>
#include <fstream>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

/// Resident memory of this process in KiB.
long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmRSS:")) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

std::int64_t downloadsOf(const LibraryStore& store, const std::string& token) {
    return store.snapshot().share(token)->downloads;
}

} // namespace

class DownloadsTest : public ServerFixture {
protected:
    DownloadsTest() {
        std::string bytes;
        for (int i = 0; i < 1000; ++i) {
            bytes += static_cast<char>('a' + i % 26);
        }
        thousand = bytes;
        file = addFile("Report \"final\".pdf", thousand);
        share = store.share(ShareTarget::folder(), ShareDuration::day, true);
    }

    std::string itemPath(const Item& item, const std::string& query = "") {
        return "/s/" + share.token + "/f/" + item.id + query;
    }

    std::string thousand;
    Item file;
    Share share;
};

TEST_F(DownloadsTest, WholeFileIsAnAttachmentCountedAfterTheLastByte) {
    const Response response = get(itemPath(file));
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.headerLines,
              (std::vector<std::string>{"Content-Type: application/pdf",
                                        "Content-Disposition: attachment; filename=\"Report _final_.pdf\"; "
                                        "filename*=UTF-8''Report%20%22final%22.pdf",
                                        "Accept-Ranges: bytes", "Cache-Control: no-store",
                                        "Content-Length: 1000", "Connection: close"}));
    EXPECT_EQ(response.body, thousand);
    const auto events = this->events(1);
    ASSERT_EQ(events.size(), 1u);
    const auto* downloaded = std::get_if<ServerEvent::Downloaded>(&events[0].value);
    ASSERT_TRUE(downloaded);
    EXPECT_EQ(downloaded->item.id, file.id);
    EXPECT_EQ(downloaded->by, "127.0.0.1");
    EXPECT_EQ(downloadsOf(store, share.token), 1);
}

TEST_F(DownloadsTest, RangesFromZeroCountOthersDoNot) {
    const Response fromZero = get(itemPath(file), "Range: bytes=0-\r\n");
    EXPECT_EQ(fromZero.status, 206);
    EXPECT_EQ(fromZero.header("content-range"), "bytes 0-999/1000");
    EXPECT_EQ(fromZero.headerLines[4], "Content-Range: bytes 0-999/1000");
    EXPECT_EQ(fromZero.headerLines[5], "Content-Length: 1000");
    EXPECT_EQ(fromZero.body, thousand);
    ASSERT_TRUE(eventually([&] { return downloadsOf(store, share.token) == 1; }));

    const Response middle = get(itemPath(file), "Range: bytes=500-\r\n");
    EXPECT_EQ(middle.status, 206);
    EXPECT_EQ(middle.header("content-range"), "bytes 500-999/1000");
    EXPECT_EQ(middle.body, thousand.substr(500));

    const Response beyond = get(itemPath(file), "Range: bytes=2000-\r\n");
    EXPECT_EQ(beyond.raw, "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */1000\r\n"
                          "Content-Length: 0\r\nConnection: close\r\n\r\n");

    const Response suffix = get(itemPath(file), "Range: bytes=-10\r\n");
    EXPECT_EQ(suffix.body, thousand.substr(990));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(downloadsOf(store, share.token), 1);
    EXPECT_EQ(events().size(), 1u);
}

TEST_F(DownloadsTest, InlineViewsAreCachedAndNeverCounted) {
    const Item photo = addFile("beach.JPG", "jpeg");
    const Response response = get(itemPath(photo, "?inline=1"));
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.header("content-type"), "image/jpeg");
    EXPECT_EQ(response.header("cache-control"), "private, max-age=3600");
    EXPECT_TRUE(response.header("content-disposition").starts_with("inline; "));
    EXPECT_EQ(get(itemPath(photo, "?inline")).status, 200); // any value, even none
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(downloadsOf(store, share.token), 0);
    EXPECT_TRUE(events().empty());
}

TEST_F(DownloadsTest, EmptyFileIsCounted) {
    const Item empty = addFile("empty.bin", "");
    const Response response = get(itemPath(empty));
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.header("content-length"), "0");
    EXPECT_TRUE(response.body.empty());
    EXPECT_EQ(events(1).size(), 1u);
    EXPECT_EQ(downloadsOf(store, share.token), 1);
}

TEST_F(DownloadsTest, NotesAndLinksDownloadAsTextWithoutCounting) {
    const Item note = store.addText("Note\nsecond line", std::nullopt).value();
    const Response response = get(itemPath(note));
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.header("content-type"), "text/plain; charset=utf-8");
    EXPECT_EQ(response.header("content-disposition"),
              "attachment; filename=\"Note.txt\"; filename*=UTF-8''Note.txt");
    EXPECT_EQ(response.body, "Note\nsecond line");
    const Item link = store.addText("https://example.com/x", std::nullopt).value();
    EXPECT_EQ(get(itemPath(link)).body, "https://example.com/x");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(downloadsOf(store, share.token), 0);
    EXPECT_TRUE(events().empty());
}

TEST_F(DownloadsTest, MissingStoredFileIsReported) {
    fs::remove(store.fileURL(file));
    const Response response = get(itemPath(file));
    EXPECT_EQ(response.status, 404);
    EXPECT_EQ(response.body, "This file is no longer on the computer.");
}

TEST_F(DownloadsTest, ClientThatHangsUpMidFileIsNotCounted) {
    const Item big = addFile("big.bin", std::string(32 << 20, 'b'));
    // Several times: the next send after a hang-up must fail quietly, never take the process down.
    for (int i = 0; i < 10; ++i) {
        RawClient client(server.port());
        client.send("GET " + itemPath(big) + " HTTP/1.1\r\n\r\n");
        EXPECT_EQ(client.readExactly(100000).size(), 100000u);
    }
    ASSERT_TRUE(eventually([&] { return server.connectionCount() == 0; }));
    EXPECT_EQ(downloadsOf(store, share.token), 0);
    EXPECT_TRUE(events().empty());
}

TEST_F(DownloadsTest, TailArrivesWhenTheRequestCarriedBytesTheRouteNeverRead) {
    std::string bytes(4 << 20, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 13 % 253);
    }
    const Item big = addFile("big.bin", bytes);
    // A pipelining client, or one that sends a body with its GET: bytes after the head nobody reads.
    // Closing over them would reset the connection and drop what the kernel still holds of the file.
    for (const std::string extra : {"GET / HTTP/1.1\r\n\r\n", "0123456789"}) {
        SCOPED_TRACE(extra);
        RawClient client(server.port());
        client.send("GET " + itemPath(big) + " HTTP/1.1\r\nHost: test\r\n\r\n");
        std::string raw = client.readExactly(1000);
        ASSERT_FALSE(raw.empty());
        client.send(extra);
        // Reading on only after a pause, so the file's tail is still in the server's buffers when it ends.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        raw += client.readAll();
        const Response response = parseResponse(raw);
        EXPECT_EQ(response.status, 200);
        EXPECT_EQ(response.body.size(), bytes.size());
        EXPECT_TRUE(response.body == bytes);
    }
}

TEST_F(DownloadsTest, TailArrivesWhenTheClientSendsMoreAfterTheServerFinished) {
    std::string bytes(200000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 7 % 251);
    }
    const Item file = addFile("file.bin", bytes);
    RawClient client(server.port());
    client.send("GET " + itemPath(file) + " HTTP/1.1\r\nHost: test\r\n\r\n");
    // Every byte is with the kernel (the download is counted), none read yet, when a stray byte comes.
    ASSERT_EQ(events(1).size(), 1u);
    client.send("x");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const Response response = parseResponse(client.readAll());
    EXPECT_EQ(response.status, 200);
    EXPECT_TRUE(response.body == bytes) << response.body.size() << " bytes arrived";
}

TEST_F(DownloadsTest, HugeFileStreamsWithoutGrowingMemory) {
    const Item huge = addFile("huge.bin", "x");
    {
        const int fd = ::open(store.fileURL(huge).c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, std::int64_t{1} << 30), 0); // sparse: costs no disk
        ::close(fd);
    }
    const long before = residentKiB();
    RawClient client(server.port());
    client.send("GET " + itemPath(huge) + " HTTP/1.1\r\n\r\n");
    const std::size_t received = client.drain(std::chrono::seconds(120));
    const long after = residentKiB();
    EXPECT_GT(received, std::size_t{1} << 30);
    EXPECT_LT(after - before, 16 * 1024) << "resident memory grew by " << (after - before) << " KiB";
    EXPECT_EQ(events(1).size(), 1u);
}
