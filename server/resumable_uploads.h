#pragma once

#include "core/unique_fd.h"
#include "server/upload_space.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

/// Uploads sent in pieces, kept until their last piece so that a transfer the network cut goes on where the
/// server's copy ends. Each lives in incoming/piece.<scope>.<id>.<size>/upload.part, so a restart finds
/// it again; the disk space it still needs stays promised until it ends. Safe to use from any thread.
class ResumableUploads {
public:
    /// Who an upload belongs to ("s" and a share's token, or "d" and a phone's), the page's id for it and
    /// its whole length.
    struct Key {
        std::string scope;
        std::string id;
        std::int64_t size = 0;
    };

    /// One unfinished upload. Its fields are guarded by `lock`.
    struct Upload {
        std::mutex lock;
        std::filesystem::path directory;
        UniqueFd file;
        /// Bytes on disk: where the next piece must start.
        std::int64_t held = 0;
        std::int64_t size = 0;
        /// Which request may append: a later piece at the held offset takes over from one the network
        /// left hanging.
        std::uint64_t writer = 0;
        /// Removed: nothing more is written.
        bool ended = false;
        bool writeFailed = false;
        std::optional<UploadSpace::Claim> space;

        std::filesystem::path path() const { return directory / "upload.part"; }
        /// Appends for `writer` when it is still the one; false otherwise or when the disk refused.
        bool append(std::uint64_t writer, const char* data, std::size_t size);
    };

    /// How long an upload may go without a piece.
    static constexpr std::chrono::hours idleLimit{24};

    /// Keeps what an earlier run left in `incoming` that is younger than idleLimit, and removes everything
    /// else there. Its space is promised again.
    ResumableUploads(std::filesystem::path incoming, UploadSpace& space, std::uint64_t reserve);

    /// The unfinished upload for `key`; nothing when there is none.
    std::shared_ptr<Upload> find(const Key& key);
    /// A new upload for `key`; nothing when the disk cannot promise its size beside the reserve. Throws
    /// std::filesystem::filesystem_error when its file cannot be made.
    std::shared_ptr<Upload> create(const Key& key);
    /// Ends the upload for `key`: nothing more is written and its directory goes.
    void remove(const Key& key);
    /// Removes the uploads without a piece for idleLimit and those whose scope `stillWanted` refuses.
    void sweep(const std::function<bool(const std::string& scope)>& stillWanted);

    std::size_t count();

private:
    static std::string directoryName(const Key& key);
    static std::optional<Key> keyOf(const std::string& directoryName);
    void end(Upload& upload);

    const std::filesystem::path incoming_;
    UploadSpace& space_;
    const std::uint64_t reserve_;
    std::mutex lock_;
    /// By directory name.
    std::map<std::string, std::shared_ptr<Upload>> uploads_;
};
