#pragma once

#include <filesystem>
#include <string_view>
#include <sys/types.h>

/// Replacing a file so that readers see either the old or the new contents, never a mix, and the new
/// contents survive a crash once the call returns.
namespace AtomicFile {

/// Writes `contents` to a temporary file beside `path` with `mode`, flushes it to disk, renames it over
/// `path` and syncs the directory. Throws std::filesystem::filesystem_error; on failure `path` is
/// untouched and the temporary file is gone.
void write(const std::filesystem::path& path, std::string_view contents, mode_t mode = 0600);

/// Removes the temporary files a `write` to `path` leaves when its process dies mid-write, and nothing
/// else. Only for when no write to `path` can be under way (opening). Errors are ignored.
void removeLeftovers(const std::filesystem::path& path);

} // namespace AtomicFile
