#include "support/temp_dir.h"

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <unistd.h>

TempDir::TempDir(const std::filesystem::path& base) {
    std::string pattern = (base / "tesk-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempDir::memoryBackedBase() {
    std::error_code error;
    const std::filesystem::path shm = "/dev/shm";
    if (std::filesystem::is_directory(shm, error) && ::access(shm.c_str(), W_OK) == 0) {
        return shm;
    }
    return std::filesystem::temp_directory_path();
}
