#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>

/// Bytes promised to uploads in flight, counted against the free space of the library's disk, so that
/// uploads arriving together cannot fill it past the reserve between them. Safe to use from any thread.
class UploadSpace {
public:
    class Claim;

    UploadSpace() = default;
    UploadSpace(const UploadSpace&) = delete;
    UploadSpace& operator=(const UploadSpace&) = delete;

    /// A claim on `bytes` when the disk under `directory` can take them beside every open claim and still
    /// keep `reserve` bytes free; nothing otherwise. A disk whose free space cannot be read admits.
    std::optional<Claim> claim(const std::filesystem::path& directory, std::uint64_t bytes,
                               std::uint64_t reserve);

private:
    void giveBack(std::uint64_t bytes);

    std::mutex lock_;
    std::uint64_t claimed_ = 0;
};

/// Bytes promised to one upload; what is left of them is given back when the claim goes away.
class UploadSpace::Claim {
public:
    Claim(Claim&& other) noexcept;
    Claim& operator=(Claim&& other) noexcept;
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;
    ~Claim() { release(); }

    /// `bytes` were written to the disk: its free space shows them now, so they are no longer promised.
    void landed(std::uint64_t bytes);
    /// Gives back everything still promised. Idempotent.
    void release();

private:
    friend class UploadSpace;
    Claim(UploadSpace& space, std::uint64_t bytes)
        : space_(&space)
        , bytes_(bytes) {}

    UploadSpace* space_;
    std::uint64_t bytes_;
};
