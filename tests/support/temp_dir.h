#pragma once

#include <filesystem>

/// A fresh directory, removed with everything in it when the object goes away.
class TempDir {
public:
    /// A directory under `base`, by default the system's temporary directory.
    explicit TempDir(const std::filesystem::path& base = std::filesystem::temp_directory_path());
    /// /dev/shm when the machine has it: memory-backed, so fsync costs nothing. For tests whose subject
    /// is not the disk and that write thousands of times.
    static std::filesystem::path memoryBackedBase();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};
