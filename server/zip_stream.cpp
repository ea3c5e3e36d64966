#include "server/zip_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <libdeflate.h>
#include <stdexcept>
#include <unistd.h>

namespace {

constexpr std::uint64_t max32 = 0xffffffff;
constexpr std::uint16_t utf8Names = 0x0800;
constexpr std::uint16_t sizesAfterData = 0x0008;
/// ZIP64 needs version 4.5 of the format; the rest 2.0. Made on Unix.
constexpr std::uint16_t version64 = 45;
constexpr std::uint16_t version20 = 20;
constexpr std::uint16_t madeOnUnix = 3 << 8;

bool isFolder(const ZipStream::Entry& entry) {
    return entry.name.ends_with('/');
}

/// Sizes of 4 GiB or more take ZIP64 fields in the local header, the data descriptor and the directory.
bool bigSizes(const ZipStream::Entry& entry) {
    return entry.size >= max32;
}

void put16(std::string& out, std::uint64_t value) {
    out.push_back(static_cast<char>(value & 0xff));
    out.push_back(static_cast<char>((value >> 8) & 0xff));
}

void put32(std::string& out, std::uint64_t value) {
    put16(out, value & 0xffff);
    put16(out, (value >> 16) & 0xffff);
}

void put64(std::string& out, std::uint64_t value) {
    put32(out, value & max32);
    put32(out, value >> 32);
}

std::uint64_t localHeaderSize(const ZipStream::Entry& entry) {
    return 30 + entry.name.size() + (bigSizes(entry) ? 20 : 0);
}

std::uint64_t descriptorSize(const ZipStream::Entry& entry) {
    return isFolder(entry) ? 0 : bigSizes(entry) ? 24 : 16;
}

/// The directory's ZIP64 field values, in the order the format lists them.
std::vector<std::uint64_t> central64(const ZipStream::Entry& entry, std::uint64_t offset) {
    std::vector<std::uint64_t> fields;
    if (bigSizes(entry)) {
        fields = {entry.size, entry.size};
    }
    if (offset >= max32) {
        fields.push_back(offset);
    }
    return fields;
}

std::uint64_t centralHeaderSize(const ZipStream::Entry& entry, std::uint64_t offset) {
    const std::size_t fields = central64(entry, offset).size();
    return 46 + entry.name.size() + (fields > 0 ? 4 + 8 * fields : 0);
}

/// MS-DOS time and date in local time, as unzip shows them; before 1980 is 1980.
std::pair<std::uint16_t, std::uint16_t> dosTime(std::int64_t seconds) {
    const std::time_t at = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (!::localtime_r(&at, &local) || local.tm_year < 80) {
        return {0, (1 << 5) | 1};
    }
    const auto time =
        static_cast<std::uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
    const auto date = static_cast<std::uint16_t>(((std::min(local.tm_year, 207) - 80) << 9) |
                                                 ((local.tm_mon + 1) << 5) | local.tm_mday);
    return {time, date};
}

void putCommon(std::string& out, const ZipStream::Entry& entry) {
    put16(out, bigSizes(entry) ? version64 : version20);
    put16(out, utf8Names | (isFolder(entry) ? 0 : sizesAfterData));
    put16(out, 0); // stored
    const auto [time, date] = dosTime(entry.modified);
    put16(out, time);
    put16(out, date);
}

std::string localHeader(const ZipStream::Entry& entry) {
    std::string out;
    put32(out, 0x04034b50);
    putCommon(out, entry);
    // The CRC and sizes follow the data.
    put32(out, 0);
    put32(out, bigSizes(entry) ? max32 : 0);
    put32(out, bigSizes(entry) ? max32 : 0);
    put16(out, entry.name.size());
    put16(out, bigSizes(entry) ? 20 : 0);
    out += entry.name;
    if (bigSizes(entry)) {
        put16(out, 0x0001);
        put16(out, 16);
        put64(out, 0);
        put64(out, 0);
    }
    return out;
}

std::string descriptor(const ZipStream::Entry& entry, std::uint32_t crc) {
    std::string out;
    put32(out, 0x08074b50);
    put32(out, crc);
    if (bigSizes(entry)) {
        put64(out, entry.size);
        put64(out, entry.size);
    } else {
        put32(out, entry.size);
        put32(out, entry.size);
    }
    return out;
}

std::string centralHeader(const ZipStream::Entry& entry, std::uint64_t offset, std::uint32_t crc) {
    const auto fields = central64(entry, offset);
    std::string out;
    put32(out, 0x02014b50);
    put16(out, madeOnUnix | version64);
    putCommon(out, entry);
    put32(out, crc);
    put32(out, std::min(entry.size, max32));
    put32(out, std::min(entry.size, max32));
    put16(out, entry.name.size());
    put16(out, fields.empty() ? 0 : 4 + 8 * fields.size());
    put16(out, 0); // comment
    put16(out, 0); // disk
    put16(out, 0); // internal attributes
    // Unix modes, so unzip makes folders and readable files; bit 4 marks a folder for everyone else.
    put32(out, isFolder(entry) ? (040755u << 16) | 0x10 : 0100644u << 16);
    put32(out, std::min(offset, max32));
    out += entry.name;
    if (!fields.empty()) {
        put16(out, 0x0001);
        put16(out, 8 * fields.size());
        for (const std::uint64_t field : fields) {
            put64(out, field);
        }
    }
    return out;
}

bool needsEnd64(std::uint64_t count, std::uint64_t centralOffset, std::uint64_t centralSize) {
    return count >= 0xffff || centralOffset >= max32 || centralSize >= max32;
}

std::string end(std::uint64_t count, std::uint64_t centralOffset, std::uint64_t centralSize) {
    std::string out;
    const bool big = needsEnd64(count, centralOffset, centralSize);
    if (big) {
        const std::uint64_t end64Offset = centralOffset + centralSize;
        put32(out, 0x06064b50);
        put64(out, 44);
        put16(out, madeOnUnix | version64);
        put16(out, version64);
        put32(out, 0);
        put32(out, 0);
        put64(out, count);
        put64(out, count);
        put64(out, centralSize);
        put64(out, centralOffset);
        put32(out, 0x07064b50);
        put32(out, 0);
        put64(out, end64Offset);
        put32(out, 1);
    }
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, big ? 0xffff : count);
    put16(out, big ? 0xffff : count);
    put32(out, big ? max32 : centralSize);
    put32(out, big ? max32 : centralOffset);
    put16(out, 0); // comment
    return out;
}

} // namespace

ZipStream::ZipStream(std::vector<Entry> entries) {
    std::uint64_t offset = 0;
    for (Entry& entry : entries) {
        if (entry.file.empty()) {
            entry.size = entry.text.size();
        }
        Placed placed{std::move(entry), offset, 0};
        offset += localHeaderSize(placed.entry) + placed.entry.size + descriptorSize(placed.entry);
        entries_.push_back(std::move(placed));
    }
    centralOffset_ = offset;
    for (const Placed& placed : entries_) {
        centralSize_ += centralHeaderSize(placed.entry, placed.offset);
    }
    size_ = centralOffset_ + centralSize_ + end(entries_.size(), centralOffset_, centralSize_).size();
}

std::size_t ZipStream::read(char* buffer, std::size_t capacity) {
    std::size_t filled = 0;
    while (filled < capacity) {
        if (pendingAt_ < pending_.size()) {
            const std::size_t count = std::min(capacity - filled, pending_.size() - pendingAt_);
            std::memcpy(buffer + filled, pending_.data() + pendingAt_, count);
            pendingAt_ += count;
            filled += count;
        } else if (dataLeft_ > 0) {
            filled += readData(buffer + filled, capacity - filled);
        } else if (!advance()) {
            break;
        }
    }
    return filled;
}

bool ZipStream::advance() {
    pending_.clear();
    pendingAt_ = 0;
    switch (stage_) {
    case Stage::local:
        if (index_ == entries_.size()) {
            stage_ = Stage::central;
            index_ = 0;
            return true;
        }
        pending_ = localHeader(entries_[index_].entry);
        stage_ = Stage::data;
        return true;
    case Stage::data: {
        const Entry& entry = entries_[index_].entry;
        if (!entry.file.empty()) {
            file_.reset(::open(entry.file.c_str(), O_RDONLY | O_CLOEXEC));
            if (!file_) {
                throw std::runtime_error("cannot open " + entry.file.string() + ": " + std::strerror(errno));
            }
        }
        dataLeft_ = entry.size;
        crc_ = 0;
        stage_ = Stage::descriptor;
        return true;
    }
    case Stage::descriptor: {
        file_.reset();
        Placed& placed = entries_[index_++];
        placed.crc = crc_;
        if (!isFolder(placed.entry)) {
            pending_ = descriptor(placed.entry, crc_);
        }
        stage_ = Stage::local;
        return true;
    }
    case Stage::central:
        if (index_ == entries_.size()) {
            stage_ = Stage::end;
            return true;
        }
        pending_ = centralHeader(entries_[index_].entry, entries_[index_].offset, entries_[index_].crc);
        ++index_;
        return true;
    case Stage::end:
        pending_ = end(entries_.size(), centralOffset_, centralSize_);
        stage_ = Stage::done;
        return true;
    case Stage::done:
        return false;
    }
    return false;
}

std::size_t ZipStream::readData(char* buffer, std::size_t capacity) {
    const Entry& entry = entries_[index_].entry;
    const std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(capacity, dataLeft_));
    std::size_t got = 0;
    if (entry.file.empty()) {
        std::memcpy(buffer, entry.text.data() + (entry.size - dataLeft_), wanted);
        got = wanted;
    } else {
        ssize_t count = 0;
        do {
            count = ::read(file_.get(), buffer, wanted);
        } while (count < 0 && errno == EINTR);
        if (count <= 0) {
            throw std::runtime_error(entry.file.string() + " is shorter than it was");
        }
        got = static_cast<std::size_t>(count);
    }
    crc_ = static_cast<std::uint32_t>(libdeflate_crc32(crc_, buffer, got));
    dataLeft_ -= got;
    return got;
}
