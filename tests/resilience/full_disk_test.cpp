// The library on a small disk of its own (a 64 MiB tmpfs) that uploads and the test fill up: refusals
// before the body, uploads cut by a full disk, index writes that fail, and recovery once there is room.
#include "core/index_file.h"
#include "core/unique_fd.h"
#include "server_fixture.h"
#include "support/file_contents.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr std::uint64_t diskBytes = 64ull << 20;
/// Small enough to leave room on a 64 MiB disk; the default reserve is as large as the whole disk.
constexpr std::uint64_t reserve = 1ull << 20;

/// A tmpfs mounted on a directory for as long as the object lives.
class MountedTmpfs {
public:
    MountedTmpfs(fs::path where, std::uint64_t bytes)
        : where_(std::move(where)) {
        fs::create_directories(where_);
        const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
        if (::mount("tmpfs", where_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0) {
            mounted_ = true;
        } else {
            error_ = std::strerror(errno);
        }
    }
    ~MountedTmpfs() {
        // A descriptor still open somewhere must not keep the mount behind: detach it then.
        if (mounted_ && ::umount(where_.c_str()) != 0) {
            ::umount2(where_.c_str(), MNT_DETACH);
        }
    }
    MountedTmpfs(const MountedTmpfs&) = delete;
    MountedTmpfs& operator=(const MountedTmpfs&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& error() const { return error_; }
    const fs::path& path() const { return where_; }

private:
    fs::path where_;
    bool mounted_ = false;
    std::string error_;
};

std::uint64_t freeBytes(const fs::path& path) {
    struct statvfs info {};
    EXPECT_EQ(::statvfs(path.c_str(), &info), 0);
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

/// Bytes that differ along their length, so that a mix-up shows.
std::string pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::uint32_t state = seed * 2654435761u + 1;
    for (char& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

/// Writes `path` until the disk refuses more; the bytes it took.
std::uint64_t fill(const fs::path& path) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    EXPECT_TRUE(fd) << std::strerror(errno);
    const std::string chunk(1 << 20, 'x');
    std::uint64_t total = 0;
    for (;;) {
        const ssize_t written = ::write(fd.get(), chunk.data(), chunk.size());
        if (written > 0) {
            total += static_cast<std::uint64_t>(written);
            continue;
        }
        EXPECT_EQ(errno, ENOSPC);
        return total;
    }
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
        disk.emplace(dir.path() / "disk", diskBytes);
        if (!disk->mounted()) {
            GTEST_SKIP() << "could not mount a tmpfs for the library: " << disk->error();
        }
        open();
    }

    /// (Re)starts the store and the server on the library.
    void open() {
        server.reset();
        store.reset();
        store = std::make_unique<LibraryStore>(disk->path() / "Tesk", clock.function());
        ServerLimits limits;
        limits.uploadReserve = reserve;
        server = std::make_unique<TeskServer>(*store, "Ana's Mac", limits);
        server->start({});
    }

    /// A file stored from outside the small disk.
    Item addFile(const std::string& name, const std::string& contents) {
        const auto source = dir.path() / "sources" / name;
        fs::create_directories(source.parent_path());
        std::ofstream(source, std::ios::binary) << contents;
        return store->addFile(source, std::nullopt).front();
    }

    std::string uploadHead(const Share& share, const std::string& name, std::uint64_t length,
                           const std::string& extra = "") {
        return "POST /s/" + share.token + "/upload HTTP/1.1\r\nHost: test\r\nX-Tesk-Name: " + name +
               "\r\nContent-Length: " + std::to_string(length) + "\r\n" + extra + "\r\n";
    }

    Response download(const Share& share, const Item& item) {
        return parseResponse(request(server->port(), "GET /s/" + share.token + "/f/" + item.id +
                                                         " HTTP/1.1\r\nHost: test\r\n\r\n"));
    }

    Library onDisk() const { return IndexFile::decode(readFile(store->indexURL)); }

    /// Nothing half-written beside the index or under files/, and no upload directory left.
    void expectNoLeftovers() const {
        for (const auto& name : namesIn(store->root)) {
            EXPECT_FALSE(name.starts_with(".")) << "left in the library: " << name;
        }
        for (const auto& name : namesIn(store->filesDir)) {
            EXPECT_FALSE(name.starts_with(".")) << "left under files/: " << name;
        }
        EXPECT_TRUE(eventually([&] { return fs::is_empty(server->uploadsDir()); }))
            << "left under incoming/: " << testing::PrintToString(namesIn(server->uploadsDir()));
    }

    fs::path filler() const { return disk->path() / "filler"; }

    TempDir dir;
    std::optional<MountedTmpfs> disk;
    FakeClock clock;
    std::unique_ptr<LibraryStore> store;
    std::unique_ptr<TeskServer> server;
};

TEST_F(FullDiskTest, UploadLargerThanTheFreeSpaceIsRefusedBeforeItsBody) {
    const Share share = store->share(ShareTarget::inbox(), ShareDuration::hour, true);
    const std::uint64_t free = freeBytes(store->root);
    const std::uint64_t limit = free - reserve;
    struct Case {
        const char* what;
        std::uint64_t length;
        std::string extra;
    };
    const Case refused[] = {
        {"more than the disk", free + 1, ""},
        {"more than the disk, asking to continue", free + 1, "Expect: 100-continue\r\n"},
        {"just past the reserve", limit + 4096 * 2, ""},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.what);
        RawClient client(server->port());
        const auto sent = std::chrono::steady_clock::now();
        client.send(uploadHead(share, "big.bin", c.length, c.extra));
        // Only the head went out: the answer must come without any body byte.
        const Response response = parseResponse(client.readAll(5s));
        const auto waited = std::chrono::steady_clock::now() - sent;
        EXPECT_EQ(response.status, 413);
        EXPECT_EQ(response.body, "Couldn't save the file");
        EXPECT_EQ(response.raw.find("100 Continue"), std::string::npos);
        EXPECT_LT(waited, 4s);
    }
    // Just under the limit the head is let through: the server waits for the body.
    {
        RawClient client(server->port());
        client.send(uploadHead(share, "fits.bin", limit - 4096 * 4));
        EXPECT_EQ(parseResponse(client.readAll(300ms)).status, 0);
    }
    expectNoLeftovers();
    EXPECT_TRUE(store->snapshot().items.empty());
    std::printf("[full disk] %llu MiB tmpfs, %llu bytes free, reserve %llu: uploads of %llu and %llu bytes "
                "refused with 413 before any body byte; %llu bytes let through\n",
                static_cast<unsigned long long>(diskBytes >> 20), static_cast<unsigned long long>(free),
                static_cast<unsigned long long>(reserve), static_cast<unsigned long long>(free + 1),
                static_cast<unsigned long long>(limit + 8192),
                static_cast<unsigned long long>(limit - 16384));
}

TEST_F(FullDiskTest, BytesPromisedToUploadsInFlightCountAgainstTheReserve) {
    const Share share = store->share(ShareTarget::inbox(), ShareDuration::hour, true);
    const auto limit = [&] { return freeBytes(store->root) - reserve; };
    /// Whether an upload announcing `length` bytes is let through: the server then waits for its body.
    const auto admitted = [&](RawClient& client, std::uint64_t length) {
        client.send(uploadHead(share, "next.bin", length));
        const Response response = parseResponse(client.readAll(500ms));
        EXPECT_TRUE(response.status == 0 ||
                    (response.status == 413 && response.body == "Couldn't save the file"))
            << response.raw;
        return response.status == 0;
    };
    const auto partSize = [&] {
        std::uint64_t size = 0;
        for (const auto& entry : fs::directory_iterator(server->uploadsDir())) {
            std::error_code ignored;
            size = std::max<std::uint64_t>(size, fs::file_size(entry.path() / "upload.part", ignored));
        }
        return size;
    };

    constexpr std::uint64_t first = 4 << 20;
    const std::string body = pattern(first, 7);
    RawClient uploading(server->port());
    uploading.send(uploadHead(share, "first.bin", first));
    ASSERT_TRUE(eventually([&] { return !fs::is_empty(server->uploadsDir()); }));
    const std::uint64_t refused = limit() - first / 2;
    {
        RawClient beside(server->port());
        EXPECT_FALSE(admitted(beside, refused)) << "fits alone, not beside the first";
    }
    // Bytes on the disk show in the free space: only what is still to come stays promised.
    uploading.send(std::string_view(body).substr(0, first / 2));
    ASSERT_TRUE(eventually([&] { return partSize() == first / 2; }));
    // The server counts the bytes off just after writing them: ask again until it has.
    EXPECT_TRUE(eventually([&] {
        RawClient beside(server->port());
        return admitted(beside, limit() - first * 3 / 4);
    })) << "fits beside what is left of the first";
    // That one hung up and the first finishes: everything promised is given back.
    uploading.send(std::string_view(body).substr(first / 2));
    EXPECT_EQ(parseResponse(uploading.readAll(10s)).status, 201);
    expectNoLeftovers();
    RawClient last(server->port());
    const std::uint64_t after = limit() - (1 << 20);
    EXPECT_TRUE(admitted(last, after));
    std::printf(
        "[full disk] reserve %llu: beside a %llu-byte upload in flight one of %llu bytes (fitting alone) "
        "refused with 413; with half the first on disk one fitting beside the rest let through; once "
        "both ended one of %llu bytes let through\n",
        static_cast<unsigned long long>(reserve), static_cast<unsigned long long>(first),
        static_cast<unsigned long long>(refused), static_cast<unsigned long long>(after));
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
    client.send(uploadHead(share, "cut.bin", length));
    client.send(std::string_view(body).substr(0, 2 << 20));
    // Wait until the server has the first part on disk, then take every byte left.
    ASSERT_TRUE(eventually([&] {
        for (const auto& entry : fs::directory_iterator(server->uploadsDir())) {
            std::error_code ignored;
            if (fs::file_size(entry.path() / "upload.part", ignored) >= (2u << 20)) {
                return true;
            }
        }
        return false;
    }));
    const std::uint64_t filled = fill(filler());
    EXPECT_EQ(freeBytes(store->root), 0u);
    const auto started = std::chrono::steady_clock::now();
    try {
        client.send(std::string_view(body).substr(2 << 20));
    } catch (const std::system_error&) {
        // The server may stop reading once it has answered; the answer is what counts.
    }
    const Response response = parseResponse(client.readAll(10s));
    const auto answeredAfter = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(response.status, 500) << response.raw;
    EXPECT_EQ(response.body, "Couldn't save the file");
    EXPECT_LT(answeredAfter, 9s) << "the connection was neither answered nor closed";

    expectNoLeftovers();
    EXPECT_EQ(store->snapshot(), before);
    EXPECT_EQ(readFile(store->indexURL), indexBefore);
    EXPECT_EQ(onDisk(), before);
    EXPECT_EQ(namesIn(store->filesDir), filesBefore);

    // With room again the same server serves and takes files.
    fs::remove(filler());
    const Share keptShare = store->share(ShareTarget::item(kept.id), ShareDuration::hour, false);
    const Response again = download(keptShare, kept);
    EXPECT_EQ(again.status, 200);
    EXPECT_TRUE(again.body == pattern(300000, 1));
    const std::string small = pattern(100000, 3);
    const Response stored =
        parseResponse(request(server->port(), uploadHead(share, "after.bin", small.size()) + small));
    EXPECT_EQ(stored.status, 201);
    std::printf("[full disk] a %zu-byte upload cut by filling the disk (%llu bytes of filler) after 2 MiB: "
                "status %d after %.0f ms, incoming/ empty, library and index unchanged; after freeing the "
                "disk a download and a new upload succeeded\n",
                length, static_cast<unsigned long long>(filled), response.status,
                std::chrono::duration<double, std::milli>(answeredAfter).count());
}

TEST_F(FullDiskTest, ChangesWhileTheIndexCannotBeWrittenAreKeptAndWrittenOnceThereIsRoom) {
    const std::string contents = pattern(250000, 4);
    const Item report = addFile("report.pdf", contents);
    const Share share = store->share(ShareTarget::item(report.id), ShareDuration::untilStopped, false);
    const Share inbox = store->share(ShareTarget::inbox(), ShareDuration::hour, true);
    const Library before = store->snapshot();
    const std::string indexBefore = readFile(store->indexURL);

    fill(filler());
    // A change through the store and a counted download through the server, both needing an index write.
    const Share madeWhileFull = store->share(ShareTarget::folder(), ShareDuration::day, false);
    const Response first = download(share, report);
    EXPECT_EQ(first.status, 200);
    EXPECT_TRUE(first.body == contents);
    EXPECT_TRUE(eventually([&] { return store->snapshot().share(share.token)->downloads == 1; }));
    // The server keeps answering, uploads are refused up front, and the file on disk is the old index,
    // whole: the write that failed left nothing behind.
    const Response refused =
        parseResponse(request(server->port(), uploadHead(inbox, "late.bin", 10) + "0123456789"));
    EXPECT_EQ(refused.status, 413);
    EXPECT_EQ(readFile(store->indexURL), indexBefore);
    EXPECT_EQ(onDisk(), before);
    expectNoLeftovers();
    const Library whileFull = store->snapshot();
    EXPECT_TRUE(whileFull.share(madeWhileFull.token));

    // Room again: the next write catches up with everything kept in memory.
    fs::remove(filler());
    const Response second = download(share, report);
    EXPECT_EQ(second.status, 200);
    EXPECT_TRUE(eventually([&] { return store->snapshot().share(share.token)->downloads == 2; }));
    EXPECT_EQ(onDisk(), store->snapshot());
    EXPECT_TRUE(onDisk().share(madeWhileFull.token));
    const std::string sent = pattern(123456, 5);
    EXPECT_EQ(parseResponse(request(server->port(), uploadHead(inbox, "new.bin", sent.size()) + sent)).status,
              201);
    const auto received = store->snapshot().receivedItems();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_TRUE(readFile(store->filePath(received.front())) == sent);
    EXPECT_EQ(onDisk(), store->snapshot());

    // A change whose write failed and that no later change followed is written when the store closes.
    fill(filler());
    store->stopSharing(share.token);
    EXPECT_FALSE(onDisk().share(share.token)->stopped);
    fs::remove(filler());
    const Library last = store->snapshot();
    open();
    EXPECT_EQ(store->snapshot(), last);
    EXPECT_TRUE(store->snapshot().share(share.token)->stopped);
    std::printf("[full disk] with 0 bytes free: a new share and a counted download kept in memory, the "
                "server answering (upload 413), the old index intact; once freed the next write held them "
                "all, and a change made while full with nothing after it was written at close\n");
}
