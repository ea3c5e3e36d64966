#pragma once

#include "core/unique_fd.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <ostream>

/// One running tesk per library. The running one holds a lock file and listens on a local socket, both
/// named after the library's folder, in $XDG_RUNTIME_DIR (else a private folder under /tmp); a later start
/// hands its request over that socket and prints the answer. Works without a session bus.
class SingleInstance {
public:
    /// Throws std::runtime_error when the runtime folder cannot be made private to this user.
    explicit SingleInstance(const std::filesystem::path& libraryRoot);

    const std::filesystem::path& socketPath() const { return socket_; }
    /// Takes the lock without waiting, for as long as this object lives; true when this process is now the
    /// one for the library and may listen.
    bool tryLock();
    /// Sends `request` to the running one and copies its answer to `out` and `err` as it comes; the exit
    /// status it gives, or nothing when none is listening.
    std::optional<int> handOver(const nlohmann::json& request, std::ostream& out, std::ostream& err) const;

private:
    std::filesystem::path socket_;
    std::filesystem::path lockFile_;
    UniqueFd lock_;
};
