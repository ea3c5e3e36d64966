#pragma once

#include "library.h"
#include "library_error.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

/// The single owner of the library: the master `Library` value, the index file and the stored files.
///
/// Every change is one mutation: take the lock, change the library, write the whole index atomically,
/// release the lock, then call `onChange` on the calling thread. File work (copying, moving, removing
/// stored files) happens outside the lock: what a mutation records is on disk before it, what it stops
/// recording is removed after it, so a recorded item always has its file. Safe to call from any thread.
class LibraryStore {
public:
    using Clock = std::function<Date()>;
    using Path = std::filesystem::path;
    using OptionalID = std::optional<std::string>;

    /// How long a pairing code stays valid, in seconds.
    static constexpr double pairingCodeLifetime = 600;

    /// An open pairing code and the instant it stops working.
    struct PairingCode {
        std::string code;
        Date expires;
    };

    /// Opens the library in `root`, creating it (mode 0700) and its "files" directory as needed. An
    /// index that is missing, unreadable or undecodable gives an empty library; an existing one that
    /// cannot be decoded is renamed aside before the first save. What a process killed mid-change left
    /// half-written (a temporary index, a staged copy) is removed. Throws filesystem_error when the
    /// directories cannot be made.
    explicit LibraryStore(Path root, Clock now = &Date::now);
    /// Writes the index once more if the last write failed, so that a change made while the disk was
    /// full is not lost at quit.
    ~LibraryStore();

    LibraryStore(const LibraryStore&) = delete;
    LibraryStore& operator=(const LibraryStore&) = delete;

    const Path root;
    /// root/files: one directory per file item, named after its id.
    const Path filesDir;
    /// root/library.json.
    const Path indexURL;

    /// Called after every mutation, outside the lock, on the thread that made it.
    void setOnChange(std::function<void()> onChange);

    /// A copy of the library, taken under the lock.
    Library snapshot() const;
    /// Runs `read(library, version)` under the lock without copying the library; `version` grows with
    /// every mutation. For readers that need only a little of a large library; `read` must not call
    /// back into the store.
    template <typename Read>
    auto read(Read&& read) const {
        std::lock_guard guard(lock_);
        return read(std::as_const(library_), version_);
    }
    /// The store clock's current instant.
    Date currentDate() const { return now_(); }
    /// Where a file item's stored copy lives: files/<id>/<name>.
    Path filePath(const Item& item) const { return filesDir / item.id / item.name; }
    /// How many times the index has been written since opening.
    std::uint64_t indexWriteCount() const { return indexWrites_.load(); }

    // ---- Files and folders ----

    /// Copies (or moves) a file, or a directory tree as folders and files, into `folderID` (the root should
    /// that folder be deleted meanwhile, here and in the other adds). Returns the file items made, in order.
    /// Hidden entries, symbolic links to directories and special files in a tree are skipped. Throws
    /// LibraryError::notFound or filesystem_error; items added before a failure stay. A request on `stop`
    /// is answered between files and between steps of a copy with LibraryError::cancelled: the copy in
    /// progress is removed and a directory's folder goes with everything recorded under it.
    std::vector<Item> addFile(const Path& source, const OptionalID& folderID,
                              const OptionalID& receivedFrom = std::nullopt, bool move = false,
                              std::stop_token stop = {});
    /// What one add made: the source's own item, or the folder made for a directory; and every file item.
    struct Added {
        ShareTarget target;
        std::vector<Item> items;
    };
    /// addFile, also answering what the source became, for sharing it at once.
    Added addEntry(const Path& source, const OptionalID& folderID,
                   const OptionalID& receivedFrom = std::nullopt, bool move = false,
                   std::stop_token stop = {});
    /// A new folder whose name is made safe and unique among its siblings.
    Folder addFolder(std::string_view name, const OptionalID& parentID);
    /// A link or note from the text; nothing (and no mutation) for blank text.
    std::optional<Item> addText(std::string_view text, const OptionalID& folderID,
                                const OptionalID& receivedFrom = std::nullopt);
    /// Renames an item and its stored file; silent when nothing changes or the file cannot be renamed.
    /// The recorded name is on disk at every instant, whenever the process may die.
    void renameItem(std::string_view id, std::string_view name);
    /// Renames a folder, unique among its siblings.
    void renameFolder(std::string_view id, std::string_view name);
    /// Whether the item moved into an existing folder (or the root) other than its own.
    bool moveItem(std::string_view id, const OptionalID& folderID);
    /// Whether the folder moved; never into itself or below itself.
    bool moveFolder(std::string_view id, const OptionalID& parentID);
    /// Removes the item and then its stored file, and stops the shares that pointed at it.
    void deleteItem(std::string_view id);
    /// Removes the folder and everything below it, then their stored files, and stops their shares.
    void deleteFolder(std::string_view id);

    // ---- Shares ----

    /// The active share for the target with its expiry moved to now + duration, or a new share.
    Share share(const ShareTarget& target, ShareDuration duration, bool allowsUploads);
    /// One share for a selection: a single folder or item, or a bundle of several; nothing when the
    /// selection names nothing that exists.
    std::optional<Share> share(std::span<const ShareTarget> selection, ShareDuration duration);
    /// The current share for a past share's target, made anew if needed; nothing if the target is gone.
    std::optional<Share> reshare(std::string_view token);
    /// Stops a share, keeping the first stop instant.
    void stopSharing(std::string_view token);
    /// Removes a past share from the history, and bundles no share refers to any more.
    void forgetShare(std::string_view token);
    /// Counts one download.
    void recordDownload(std::string_view token);
    void setAllowsUploads(std::string_view token, bool allowsUploads);
    /// Files an upload that came through `share`. Throws LibraryError (the temporary file is then left
    /// untouched) or filesystem_error.
    Item receiveUpload(const Path& temporary, std::string_view name, const Share& share,
                       const OptionalID& folderID, std::string_view sender);

    // ---- Phones and pairing ----

    /// A new pairing code, replacing any open one.
    PairingCode newPairingCode();
    bool isPairingCodeValid(std::string_view code) const;
    void cancelPairing();
    /// The phone paired by a valid open code, which is then closed; nothing otherwise.
    std::optional<PairedDevice> claimPairing(std::string_view code, std::string_view deviceName);
    void renameDevice(std::string_view id, std::string_view name);
    void removeDevice(std::string_view id);
    /// The id of the sender's receiving folder at the root, made when missing.
    std::string folderForDevice(const std::string& key, std::string_view name);
    /// Files a file a paired phone sent. Throws LibraryError::notFound or filesystem_error.
    Item receiveFromDevice(const Path& temporary, std::string_view name, std::string_view token);
    /// Files a text a paired phone sent; nothing for an unknown token or blank text.
    std::optional<Item> receiveText(std::string_view text, std::string_view token);

private:
    /// What a share holds when it is made: up to 20 names, the item count and the bytes of its files.
    struct Description {
        std::vector<std::string> contents;
        std::int64_t itemCount = 0;
        std::int64_t totalSize = 0;
    };

    /// Runs `change` as one mutation: under the lock, change and save; then notify outside it.
    template <typename Change>
    auto mutate(Change&& change) -> decltype(change(std::declval<Library&>())) {
        using Result = decltype(change(std::declval<Library&>()));
        std::function<void()> notify;
        if constexpr (std::is_void_v<Result>) {
            {
                std::lock_guard guard(lock_);
                change(library_);
                ++version_;
                save();
                notify = onChange_;
            }
            if (notify) {
                notify();
            }
        } else {
            std::optional<Result> result;
            {
                std::lock_guard guard(lock_);
                result.emplace(change(library_));
                ++version_;
                save();
                notify = onChange_;
            }
            if (notify) {
                notify();
            }
            return std::move(*result);
        }
    }
    /// Writes the index; called with the lock held.
    void save();
    /// Removes what a process killed mid-change left half-written; only while nothing can be in flight.
    void removeLeftovers();

    /// Moves the temporary file to `name` beside it, made safe; returns the new path.
    static Path renameBesideItself(const Path& temporary, std::string_view name);
    /// files/<id>, or nothing for an id that is not a plain name (a damaged index must not make a
    /// delete reach outside "files").
    std::optional<Path> storedDirectory(std::string_view id) const;
    Item storeFile(const Path& source, const OptionalID& folderID, const OptionalID& receivedFrom, bool move,
                   const std::stop_token& stop);
    /// Undoes a stopped add of the folder `folderID`: removes the items it stored and then each folder of it
    /// left holding nothing, in one change.
    void takeBackAdd(const std::string& folderID, const std::vector<Item>& added);

    static void forget(const std::set<std::string>& items, const std::set<std::string>& folders,
                       Library& library, Date at);
    static Description describe(const ShareTarget& target, const Library& library);
    static std::pair<std::int64_t, std::int64_t> folderTotals(const std::string& folderID,
                                                              const Library& library);
    static void trimHistory(Library& library, Date at);
    void recordDeviceSend(std::string_view token);

    mutable std::mutex lock_;
    Library library_;
    std::map<std::string, Date, std::less<>> pairingCodes_;
    const Clock now_;
    std::function<void()> onChange_;
    /// Set when an index existed but could not be read; it is moved aside before the first save.
    bool indexNeedsSetAside_ = false;
    std::atomic<std::uint64_t> indexWrites_{0};
    /// The last write of the index failed: the file lags behind `library_`. Guarded by the lock.
    bool indexBehind_ = false;
    /// Mutations since opening; guarded by the lock.
    std::uint64_t version_ = 0;
};
