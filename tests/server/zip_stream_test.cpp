// Archives as unzip and Python's zipfile read them: every entry, name and byte, and ZIP64 past 4 GiB.
#include "server/zip_stream.h"

#include "support/child_process.h"
#include "support/file_contents.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

/// Streams `zip` into `file` in reads of `step` bytes (zeros skipped, so a large archive stays sparse);
/// the bytes it gave.
std::uint64_t write(ZipStream& zip, const fs::path& file, std::size_t step) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char> buffer(step);
    std::uint64_t total = 0;
    for (std::size_t got; (got = zip.read(buffer.data(), buffer.size())) > 0; total += got) {
        if (std::all_of(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(got),
                        [](char c) { return c == 0; })) {
            ::lseek(fd, static_cast<off_t>(got), SEEK_CUR);
        } else {
            EXPECT_EQ(::write(fd, buffer.data(), got), static_cast<ssize_t>(got));
        }
    }
    EXPECT_EQ(::ftruncate(fd, static_cast<off_t>(total)), 0);
    ::close(fd);
    return total;
}

/// Python's zipfile reading every entry under 1 GiB whole, which checks its CRC: "name size flags", one a
/// line; and
/// unzip's test of every CRC (its own reading is slow, so only for small archives) or its listing.
std::pair<int, std::vector<std::string>> check(const fs::path& archive, bool small = true) {
    ChildProcess unzip({"/usr/bin/unzip", small ? "-tqq" : "-lqq", archive.string()});
    const int tested = unzip.exitCode(60s);
    ChildProcess python({"/usr/bin/env", "python3", "-c",
                         "import sys, zipfile\n"
                         "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
                         "    if i.file_size < 1 << 30: zipfile.ZipFile(sys.argv[1]).read(i)\n"
                         "    print(i.filename, i.file_size, hex(i.flag_bits))",
                         archive.string()});
    std::vector<std::string> listed;
    while (const auto line = python.readLine(60s)) {
        listed.push_back(*line);
    }
    EXPECT_EQ(python.exitCode(10s), 0) << python.readError();
    return {tested, listed};
}

} // namespace

TEST(ZipStreamTest, EveryEntryNameAndByteArrivesWhateverTheReadSize) {
    TempDir dir;
    std::string photo(300000, '\0');
    for (std::size_t i = 0; i < photo.size(); ++i) {
        photo[i] = static_cast<char>(i * 7 % 251);
    }
    std::ofstream(dir.path() / "photo") << photo;
    std::ofstream(dir.path() / "empty");
    const std::vector<ZipStream::Entry> entries{
        {"Tom & \"Jerry's\" <3/", {}, {}, 0, 1700000000},
        {"Tom & \"Jerry's\" <3/naïve café.jpg", dir.path() / "photo", {}, photo.size(), 1700000000},
        {"Tom & \"Jerry's\" <3/empty", dir.path() / "empty", {}, 0, 0},
        {"日本語 note.txt", {}, "Meet at the pier at 9", 0, 1700000000}};
    for (const std::size_t step : {7u, 262144u}) {
        ZipStream zip(entries);
        const fs::path archive = dir.path() / ("a" + std::to_string(step) + ".zip");
        EXPECT_EQ(write(zip, archive, step), zip.size());
        EXPECT_EQ(fs::file_size(archive), zip.size());
        const auto [tested, listed] = check(archive);
        EXPECT_EQ(tested, 0);
        EXPECT_EQ(listed, (std::vector<std::string>{"Tom & \"Jerry's\" <3/ 0 0x800",
                                                    "Tom & \"Jerry's\" <3/naïve café.jpg 300000 0x808",
                                                    "Tom & \"Jerry's\" <3/empty 0 0x808",
                                                    "日本語 note.txt 21 0x808"}));
        ChildProcess extract(
            {"/bin/sh", "-c", "cd \"$0\" && unzip -qo \"$1\"", dir.path().string(), archive.string()});
        EXPECT_EQ(extract.exitCode(10s), 0);
        EXPECT_EQ(readFile(dir.path() / "Tom & \"Jerry's\" <3" / "naïve café.jpg"), photo);
    }
}

TEST(ZipStreamTest, AFileOf4GiBAndOneStartingPastItTakeZip64) {
    TempDir dir;
    const std::uint64_t big = (std::uint64_t{4} << 30) + 10;
    {
        std::ofstream(dir.path() / "big");
        fs::resize_file(dir.path() / "big", big);
        std::ofstream(dir.path() / "after") << "after the big one\n";
    }
    ZipStream zip({{"big.mov", dir.path() / "big", {}, big, 1700000000},
                   {"after.txt", dir.path() / "after", {}, 18, 1700000000}});
    const fs::path archive = dir.path() / "big.zip";
    ASSERT_EQ(write(zip, archive, 1 << 20), zip.size());
    const auto [tested, listed] = check(archive, false);
    EXPECT_EQ(tested, 0);
    EXPECT_EQ(listed, (std::vector<std::string>{"big.mov 4294967306 0x808", "after.txt 18 0x808"}));
    ChildProcess extract({"/usr/bin/unzip", "-p", archive.string(), "after.txt"});
    EXPECT_EQ(extract.readLine(30s).value_or(""), "after the big one");
}

TEST(ZipStreamTest, AFileShorterThanListedFailsTheStream) {
    TempDir dir;
    std::ofstream(dir.path() / "short") << "abc";
    ZipStream zip({{"short", dir.path() / "short", {}, 10, 0}});
    std::vector<char> buffer(1000);
    EXPECT_THROW(zip.read(buffer.data(), buffer.size()), std::runtime_error);
}
