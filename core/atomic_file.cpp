#include "atomic_file.h"

#include "ascii.h"
#include "unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace AtomicFile {
namespace {

[[noreturn]] void fail(const char* what, const std::filesystem::path& path, int error) {
    throw std::filesystem::filesystem_error(what, path, std::error_code(error, std::generic_category()));
}

/// The temporary file's name before mkostemp(3) fills in its six letters and digits.
std::string temporaryPrefix(const std::filesystem::path& path) {
    return "." + path.filename().string() + ".";
}
constexpr std::string_view temporarySuffix = "XXXXXX";

void writeAll(int fd, std::string_view contents, const std::filesystem::path& path) {
    while (!contents.empty()) {
        const ssize_t written = ::write(fd, contents.data(), contents.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("write", path, errno);
        }
        contents.remove_prefix(static_cast<std::size_t>(written));
    }
}

} // namespace

void write(const std::filesystem::path& path, std::string_view contents, mode_t mode) {
    std::string temporary =
        (path.parent_path() / (temporaryPrefix(path) + std::string(temporarySuffix))).string();
    UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        fail("create temporary file", temporary, errno);
    }
    try {
        if (::fchmod(fd.get(), mode) != 0) {
            fail("chmod", temporary, errno);
        }
        writeAll(fd.get(), contents, temporary);
        if (::fsync(fd.get()) != 0) {
            fail("fsync", temporary, errno);
        }
        if (fd.close() != 0) {
            fail("close", temporary, errno);
        }
        if (::rename(temporary.c_str(), path.c_str()) != 0) {
            fail("rename", path, errno);
        }
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    // The rename is durable only once the directory entry is on disk.
    UniqueFd directory(::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() >= 0) {
        ::fsync(directory.get());
    }
}

void removeLeftovers(const std::filesystem::path& path) {
    const std::string prefix = temporaryPrefix(path);
    std::error_code error;
    for (std::filesystem::directory_iterator it(path.parent_path(), error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        const bool ours = name.size() == prefix.size() + temporarySuffix.size() && name.starts_with(prefix) &&
                          std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                                      Ascii::isAlnum);
        std::error_code statusError;
        if (ours && it->symlink_status(statusError).type() == std::filesystem::file_type::regular) {
            ::unlink(it->path().c_str());
        }
    }
}

} // namespace AtomicFile
