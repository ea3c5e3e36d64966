// The library on a small disk of its own (a 64 MiB tmpfs) that uploads and the test fill up: refusals
// before the body, uploads cut by a full disk, index writes that fail, and recovery once there is room.
#include "core/index_file.h"
#include "resilience.h"
#include "server_fixture.h"
#include "support/file_contents.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sys/mount.h>
#include <sys/statvfs.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr unsigned long long diskBytes = 64ull << 20;
/// Small enough to leave room on a 64 MiB disk; the default reserve is as large as the whole disk.
constexpr unsigned long long reserve = 1ull << 20;

unsigned long long freeBytes(const fs::path& path) {
    struct statvfs info {};
    EXPECT_EQ(::statvfs(path.c_str(), &info), 0);
    return info.f_bavail * info.f_frsize;
}

/// Writes `path` until the disk refuses more.
void fill(const fs::path& path) {
    std::ofstream out(path, std::ios::binary);
    const std::string chunk(1 << 20, 'x');
    while (out.write(chunk.data(), chunk.size()) && out.flush()) {
    }
    ASSERT_EQ(freeBytes(path.parent_path()), 0u);
}

std::vector<std::string> namesIn(const fs::path& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

class FullDiskTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) {
            GTEST_SKIP() << "mounting the 64 MiB tmpfs the library lives on needs root";
        }
        fs::create_directories(disk);
        const std::string options = "size=" + std::to_string(diskBytes) + ",mode=0700";
        if (::mount("tmpfs", disk.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
            GTEST_SKIP() << "could not mount a tmpfs for the library: " << std::strerror(errno);
        }
        mounted = true;
        open();
    }
    void TearDown() override {
        server.reset();
        store.reset();
        // A descriptor still open somewhere must not keep the mount behind: detach it then.
        if (mounted && ::umount(disk.c_str()) != 0) {
            ::umount2(disk.c_str(), MNT_DETACH);
        }
    }

    /// (Re)starts the store and the server on the library.
    void open() {
        server.reset();
        store.reset();
        store = std::make_unique<LibraryStore>(disk / "Tesk", clock.function());
        server = std::make_unique<TeskServer>(*store, "Ana's Mac", ServerLimits{.uploadReserve = reserve});
        server->start({});
    }

    /// A file stored from outside the small disk.
    Item addFile(const std::string& name, const std::string& contents) {
        std::ofstream(dir.path() / name, std::ios::binary) << contents;
        return store->addFile(dir.path() / name, std::nullopt).front();
    }

    std::string uploadHead(const Share& share, unsigned long long length, const std::string& extra = "") {
        return "POST /s/" + share.token +
               "/upload HTTP/1.1\r\nHost: test\r\nX-Tesk-Name: up.bin\r\nContent-Length: " +
               std::to_string(length) + "\r\n" + extra + "\r\n";
    }
    HttpReply send(const std::string& raw) { return parseHttpReply(request(server->port(), raw)); }
    HttpReply download(const Share& share, const Item& item) {
        return send("GET /s/" + share.token + "/f/" + item.id + " HTTP/1.1\r\nHost: test\r\n\r\n");
    }
    Library onDisk() const { return IndexFile::decode(readFile(store->indexURL)); }
    /// The largest upload under way in incoming/.
    unsigned long long uploadedSoFar() const {
        unsigned long long size = 0;
        for (const auto& entry : fs::directory_iterator(server->uploadsDir())) {
            std::error_code ignored;
            size = std::max<unsigned long long>(size, fs::file_size(entry.path() / "upload.part", ignored));
        }
        return size;
    }

    /// Nothing half-written beside the index or under files/, and no upload directory left.
    void expectNoLeftovers() const {
        for (const auto& directory : {store->root, store->filesDir}) {
            for (const auto& name : namesIn(directory)) {
                EXPECT_FALSE(name.starts_with(".")) << "left in " << directory << ": " << name;
            }
        }
        EXPECT_TRUE(eventually([&] { return fs::is_empty(server->uploadsDir()); }))
            << "left under incoming/: " << testing::PrintToString(namesIn(server->uploadsDir()));
    }

    TempDir dir;
    const fs::path disk = dir.path() / "disk";
    const fs::path filler = disk / "filler";
    bool mounted = false;
    FakeClock clock;
    std::unique_ptr<LibraryStore> store;
    std::unique_ptr<TeskServer> server;
};

TEST_F(FullDiskTest, UploadsLargerThanTheFreeSpaceOrBesideThoseInFlightAreRefusedBeforeTheirBody) {
    const Share share = store->share(ShareTarget::inbox(), ShareDuration::hour, true);
    const auto limit = [&] { return freeBytes(store->root) - reserve; };
    // Whether an upload announcing `length` bytes is let through: the server then waits for its body.
    // Only the head goes out: a refusal must come without any body byte, and without "100 Continue".
    const auto admitted = [&](unsigned long long length, const std::string& extra = "") {
        RawClient client(server->port());
        client.send(uploadHead(share, length, extra));
        const HttpReply response = parseHttpReply(client.readAll(500ms));
        EXPECT_TRUE(response.status == 0 ||
                    (response.status == 413 && response.body == "Couldn't save the file" &&
                     response.raw.find("100 Continue") == std::string::npos))
            << response.raw;
        return response.status == 0;
    };
    const unsigned long long free = freeBytes(store->root);
    EXPECT_FALSE(admitted(free + 1));
    EXPECT_FALSE(admitted(free + 1, "Expect: 100-continue\r\n"));
    EXPECT_FALSE(admitted(limit() + 8192));
    EXPECT_TRUE(admitted(limit() - 16384));
    EXPECT_TRUE(store->snapshot().items.empty());
    expectNoLeftovers(); // the one let through hung up: its promise is given back

    constexpr unsigned long long first = 4 << 20;
    const std::string body = pattern(first, 7);
    RawClient uploading(server->port());
    uploading.send(uploadHead(share, first));
    ASSERT_TRUE(eventually([&] { return !fs::is_empty(server->uploadsDir()); }));
    const unsigned long long refused = limit() - first / 2;
    EXPECT_FALSE(admitted(refused)) << "fits alone, not beside the first";
    // Bytes on the disk show in the free space: only what is still to come stays promised. The server
    // counts the bytes off just after writing them: ask again until it has.
    uploading.send(std::string_view(body).substr(0, first / 2));
    ASSERT_TRUE(eventually([&] { return uploadedSoFar() == first / 2; }));
    EXPECT_TRUE(eventually([&] { return admitted(limit() - first * 3 / 4); }))
        << "fits beside the rest of the first";
    // That one hung up and the first finishes: everything promised is given back.
    uploading.send(std::string_view(body).substr(first / 2));
    EXPECT_EQ(parseHttpReply(uploading.readAll(10s)).status, 201);
    expectNoLeftovers();
    EXPECT_TRUE(admitted(limit() - (1 << 20)));
}

TEST_F(FullDiskTest, DiskFillingUpMidUploadFailsCleanly) {
    const Item kept = addFile("kept.bin", pattern(300000, 1));
    const Share share = store->share(ShareTarget::inbox(), ShareDuration::hour, true);
    const Library before = store->snapshot();
    const std::string indexBefore = readFile(store->indexURL);
    const auto filesBefore = namesIn(store->filesDir);

    constexpr std::size_t length = 16 << 20;
    const std::string body = pattern(length, 2);
    RawClient client(server->port());
    client.send(uploadHead(share, length) + body.substr(0, 2 << 20));
    // Once the server has the first part on disk, the test takes every byte left.
    ASSERT_TRUE(eventually([&] { return uploadedSoFar() >= (2u << 20); }));
    fill(filler);
    try {
        client.send(std::string_view(body).substr(2 << 20));
    } catch (const std::system_error&) {
        // The server may stop reading once it has answered; the answer is what counts.
    }
    const HttpReply response = parseHttpReply(client.readAll(9s));
    EXPECT_EQ(response.status, 500) << response.raw;
    EXPECT_EQ(response.body, "Couldn't save the file");
    expectNoLeftovers();
    EXPECT_EQ(store->snapshot(), before);
    EXPECT_EQ(readFile(store->indexURL), indexBefore);
    EXPECT_EQ(namesIn(store->filesDir), filesBefore);

    // With room again the same server serves and takes files.
    fs::remove(filler);
    const HttpReply again =
        download(store->share(ShareTarget::item(kept.id), ShareDuration::hour, false), kept);
    EXPECT_TRUE(again.status == 200 && again.body == pattern(300000, 1));
    EXPECT_EQ(send(uploadHead(share, 100000) + pattern(100000, 3)).status, 201);
}

TEST_F(FullDiskTest, ChangesWhileTheIndexCannotBeWrittenAreKeptAndWrittenOnceThereIsRoom) {
    const std::string contents = pattern(250000, 4);
    const Item report = addFile("report.pdf", contents);
    const Share share = store->share(ShareTarget::item(report.id), ShareDuration::untilStopped, false);
    const Share inbox = store->share(ShareTarget::inbox(), ShareDuration::hour, true);
    const std::string indexBefore = readFile(store->indexURL);
    const auto downloads = [&] { return store->snapshot().share(share.token)->downloads; };

    fill(filler);
    // A change through the store and a counted download through the server, both needing an index write.
    const Share madeWhileFull = store->share(ShareTarget::folder(), ShareDuration::day, false);
    const HttpReply first = download(share, report);
    EXPECT_TRUE(first.status == 200 && first.body == contents);
    EXPECT_TRUE(eventually([&] { return downloads() == 1; }));
    // The server keeps answering, uploads are refused up front, and the file on disk is the old index,
    // whole: the write that failed left nothing behind.
    EXPECT_EQ(send(uploadHead(inbox, 10) + "0123456789").status, 413);
    EXPECT_EQ(readFile(store->indexURL), indexBefore);
    expectNoLeftovers();
    EXPECT_TRUE(store->snapshot().share(madeWhileFull.token));

    // Room again: the next write catches up with everything kept in memory.
    fs::remove(filler);
    EXPECT_EQ(download(share, report).status, 200);
    EXPECT_TRUE(eventually([&] { return downloads() == 2; }));
    EXPECT_EQ(onDisk(), store->snapshot());
    EXPECT_TRUE(onDisk().share(madeWhileFull.token));

    // A change whose write failed and that no later change followed is written when the store closes.
    fill(filler);
    store->stopSharing(share.token);
    EXPECT_FALSE(onDisk().share(share.token)->stopped);
    fs::remove(filler);
    const Library last = store->snapshot();
    open();
    EXPECT_EQ(store->snapshot(), last);
    EXPECT_TRUE(store->snapshot().share(share.token)->stopped);
}
