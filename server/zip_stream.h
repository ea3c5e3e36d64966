#pragma once

#include "core/unique_fd.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

/// A .zip archive made front to back while it is sent: no temporary file, no file in memory, one file
/// open at a time. Entries are stored, not compressed (photos and videos do not shrink), so the archive's
/// length is known before its first byte; each file's CRC-32 is taken as it passes and written after it
/// (flag bit 3). Names are UTF-8 (flag bit 11). An entry of 4 GiB or more, or one that starts past 4 GiB,
/// gets ZIP64 fields, and so does the archive's end when it needs them.
class ZipStream {
public:
    struct Entry {
        /// The path inside the archive, parts joined by "/"; a folder's ends with "/".
        std::string name;
        /// The file whose bytes the entry holds; empty for a folder and for an entry of `text`.
        std::filesystem::path file;
        /// What an entry without a file holds.
        std::string text;
        /// The file's length; for other entries it is taken from `text`.
        std::uint64_t size = 0;
        /// Seconds since 1970.
        std::int64_t modified = 0;
    };

    explicit ZipStream(std::vector<Entry> entries);

    /// The archive's whole length.
    std::uint64_t size() const { return size_; }
    /// Copies the next bytes into `buffer`, at most `capacity`; 0 once the archive is complete. Throws
    /// std::runtime_error when a file cannot be opened or ends before its listed length.
    std::size_t read(char* buffer, std::size_t capacity);

private:
    struct Placed {
        Entry entry;
        std::uint64_t offset = 0;
        std::uint32_t crc = 0;
    };
    enum class Stage { local, data, descriptor, central, end, done };

    /// Prepares the next piece; false once there is none.
    bool advance();
    std::size_t readData(char* buffer, std::size_t capacity);

    std::vector<Placed> entries_;
    std::uint64_t centralOffset_ = 0;
    std::uint64_t centralSize_ = 0;
    std::uint64_t size_ = 0;

    Stage stage_ = Stage::local;
    std::size_t index_ = 0;
    std::string pending_;
    std::size_t pendingAt_ = 0;
    UniqueFd file_;
    std::uint64_t dataLeft_ = 0;
    std::uint32_t crc_ = 0;
};
