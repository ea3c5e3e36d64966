#include "server/upload_space.h"

#include <algorithm>
#include <sys/statvfs.h>
#include <utility>

std::optional<UploadSpace::Claim> UploadSpace::claim(const std::filesystem::path& directory,
                                                     std::uint64_t bytes, std::uint64_t reserve) {
    std::lock_guard guard(lock_);
    // Read under the lock: bytes an upload wrote but has not yet counted off its claim then show twice,
    // never not at all.
    struct statvfs info {};
    if (::statvfs(directory.c_str(), &info) == 0) {
        const std::uint64_t available = static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
        const std::uint64_t usable = available > reserve ? available - reserve : 0;
        if (claimed_ > usable || bytes > usable - claimed_) {
            return std::nullopt;
        }
    }
    claimed_ += bytes;
    return Claim(*this, bytes);
}

void UploadSpace::giveBack(std::uint64_t bytes) {
    std::lock_guard guard(lock_);
    claimed_ -= bytes;
}

UploadSpace::Claim::Claim(Claim&& other) noexcept
    : space_(std::exchange(other.space_, nullptr))
    , bytes_(std::exchange(other.bytes_, 0)) {}

UploadSpace::Claim& UploadSpace::Claim::operator=(Claim&& other) noexcept {
    if (this != &other) {
        release();
        space_ = std::exchange(other.space_, nullptr);
        bytes_ = std::exchange(other.bytes_, 0);
    }
    return *this;
}

void UploadSpace::Claim::landed(std::uint64_t bytes) {
    const std::uint64_t counted = std::min(bytes, bytes_);
    if (space_ && counted > 0) {
        bytes_ -= counted;
        space_->giveBack(counted);
    }
}

void UploadSpace::Claim::release() {
    if (space_) {
        space_->giveBack(std::exchange(bytes_, 0));
        space_ = nullptr;
    }
}
