#include "library_store.h"

#include "atomic_file.h"
#include "index_file.h"
#include "names.h"
#include "text.h"
#include "unique_fd.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <system_error>

namespace fs = std::filesystem;

namespace {

/// The index file's text, or nothing when it is missing. Throws when it exists but cannot be read.
std::optional<std::string> readIndex(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        throw std::runtime_error("unreadable index");
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        throw std::runtime_error("unreadable index");
    }
    return text.str();
}

std::vector<std::string> names(const std::vector<Folder>& folders) {
    std::vector<std::string> result;
    result.reserve(folders.size());
    for (const Folder& f : folders) {
        result.push_back(f.name);
    }
    return result;
}

template <typename Record>
Record* findByID(std::vector<Record>& records, std::string_view id) {
    const auto found =
        std::find_if(records.begin(), records.end(), [&](const Record& r) { return r.id == id; });
    return found == records.end() ? nullptr : &*found;
}

/// The folder if it still exists, else the root: an add racing the deletion of its folder must not file
/// the new record under a folder nobody can open any more.
std::optional<std::string> stillThere(const Library& library, const std::optional<std::string>& folderID) {
    return folderID && !library.folder(folderID) ? std::nullopt : folderID;
}

/// Moves a file, copying across file systems.
void moveFile(const fs::path& from, const fs::path& to) {
    std::error_code error;
    fs::rename(from, to, error);
    if (error == std::errc::cross_device_link) {
        fs::copy_file(from, to, fs::copy_options::overwrite_existing);
        fs::remove(from);
    } else if (error) {
        throw fs::filesystem_error("move", from, to, error);
    }
}

std::error_code lastError() {
    return {errno, std::generic_category()};
}

void throwIfStopped(const std::stop_token& stop) {
    if (stop.stop_requested()) {
        throw LibraryError(LibraryError::cancelled);
    }
}

/// Copies a regular file as fs::copy_file does (a new file with the source's permissions), in steps so
/// that a stop request is answered within one step of a large file. Throws filesystem_error or
/// LibraryError::cancelled.
void copyFile(const fs::path& from, const fs::path& to, const std::stop_token& stop) {
    constexpr std::size_t step = 8 << 20;
    // Checked before opening: opening a FIFO would wait for a writer.
    if (!fs::is_regular_file(from)) {
        throw fs::filesystem_error("copy_file", from, to, std::make_error_code(std::errc::not_supported));
    }
    const UniqueFd in(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!in || ::fstat(in.get(), &info) != 0) {
        throw fs::filesystem_error("copy_file", from, to, lastError());
    }
    UniqueFd out(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IWUSR));
    if (!out || ::fchmod(out.get(), info.st_mode & 07777) != 0) {
        throw fs::filesystem_error("copy_file", from, to, lastError());
    }
    // sendfile copies in the kernel; a file system that cannot do it gets plain reads and writes.
    bool plain = false;
    std::vector<char> buffer;
    for (;;) {
        throwIfStopped(stop);
        ssize_t done = 0;
        if (!plain) {
            done = ::sendfile(out.get(), in.get(), nullptr, step);
            if (done < 0 && (errno == EINVAL || errno == ENOSYS)) {
                plain = true;
                buffer.resize(step);
                continue;
            }
        } else {
            done = ::read(in.get(), buffer.data(), buffer.size());
            for (ssize_t written = 0; written < done;) {
                const ssize_t wrote = ::write(out.get(), buffer.data() + written, done - written);
                if (wrote < 0 && errno != EINTR) {
                    throw fs::filesystem_error("copy_file", from, to, lastError());
                }
                written += std::max<ssize_t>(wrote, 0);
            }
        }
        if (done == 0) {
            // Some file systems (NFS, FUSE, quotas) report a failed write only here.
            if (out.close() != 0) {
                throw fs::filesystem_error("copy_file", from, to, lastError());
            }
            return;
        }
        if (done < 0 && errno != EINTR) {
            throw fs::filesystem_error("copy_file", from, to, lastError());
        }
    }
}

/// Flushes a file's bytes to the disk. Throws filesystem_error, except where the file system cannot sync.
void syncFile(const fs::path& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        throw fs::filesystem_error("open", path, std::error_code(errno, std::generic_category()));
    }
    if (::fsync(fd.get()) != 0 && errno != EINVAL) {
        throw fs::filesystem_error("fsync", path, std::error_code(errno, std::generic_category()));
    }
}

/// Makes a directory's entries durable; best effort, like the index's own directory sync.
void syncDirectory(const fs::path& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd) {
        ::fsync(fd.get());
    }
}

/// Where an add builds its files/<id> directory before renaming it into place: hidden, and removed at
/// the next start should the process die before the rename.
constexpr std::string_view stagingPrefix = ".adding-";

} // namespace

LibraryStore::LibraryStore(Path rootPath, Clock now)
    : root(std::move(rootPath))
    , filesDir(root / "files")
    , indexURL(root / "library.json")
    , now_(std::move(now)) {
    // The index holds the phones' secret tokens: the directory is private to the user.
    const bool existed = fs::exists(root);
    fs::create_directories(root);
    std::error_code ignored;
    if (!existed) {
        fs::permissions(root, fs::perms::owner_all, fs::perm_options::replace, ignored);
    }
    fs::create_directories(filesDir);
    removeLeftovers();
    try {
        if (const auto text = readIndex(indexURL)) {
            library_ = IndexFile::decode(*text);
        }
    } catch (const std::exception&) {
        library_ = Library{};
        indexNeedsSetAside_ = true;
    }
}

LibraryStore::~LibraryStore() {
    std::lock_guard guard(lock_);
    if (indexBehind_) {
        save();
    }
}

void LibraryStore::removeLeftovers() {
    AtomicFile::removeLeftovers(indexURL);
    std::error_code error;
    for (fs::directory_iterator it(filesDir, error), end; !error && it != end; it.increment(error)) {
        if (it->path().filename().string().starts_with(stagingPrefix)) {
            std::error_code ignored;
            fs::remove_all(it->path(), ignored);
        }
    }
}

void LibraryStore::setOnChange(std::function<void()> onChange) {
    std::lock_guard guard(lock_);
    onChange_ = std::move(onChange);
}

Library LibraryStore::snapshot() const {
    std::lock_guard guard(lock_);
    return library_;
}

void LibraryStore::save() {
    indexBehind_ = true;
    std::error_code error;
    if (indexNeedsSetAside_) {
        // Keep the file we could not read for the user to recover; never write over it.
        const auto seconds = static_cast<long long>(std::floor(now_().unixSeconds()));
        fs::path aside = indexURL;
        aside += ".unreadable-" + std::to_string(seconds);
        fs::rename(indexURL, aside, error);
        if (error && error != std::errc::no_such_file_or_directory) {
            return; // try again at the next save rather than lose it
        }
        indexNeedsSetAside_ = false;
    }
    try {
        AtomicFile::write(indexURL, IndexFile::encode(library_), 0600);
        ++indexWrites_;
        indexBehind_ = false;
    } catch (const std::exception&) {
        // The in-memory library stays authoritative; the next successful save catches up.
    }
}

// ---- Files and folders ----

std::vector<Item> LibraryStore::addFile(const Path& source, const OptionalID& folderID,
                                        const OptionalID& receivedFrom, bool move, std::stop_token stop) {
    return addEntry(source, folderID, receivedFrom, move, std::move(stop)).items;
}

LibraryStore::Added LibraryStore::addEntry(const Path& source, const OptionalID& folderID,
                                           const OptionalID& receivedFrom, bool move, std::stop_token stop) {
    std::error_code error;
    const auto status = fs::status(source, error);
    if (error || !fs::exists(status)) {
        throw LibraryError(LibraryError::notFound);
    }
    if (!fs::is_directory(status)) {
        Item item = storeFile(source, folderID, receivedFrom, move, stop);
        return {ShareTarget::item(item.id), {std::move(item)}};
    }

    const Folder folder = addFolder(source.filename().string(), folderID);
    std::vector<Path> entries;
    for (fs::directory_iterator it(source, error), end; !error && it != end; it.increment(error)) {
        const Path& entry = it->path();
        if (entry.filename().string().starts_with(".")) {
            continue;
        }
        // Never follow a link into a directory: it could loop or lead out of the chosen tree. Broken links
        // and special files (a FIFO would block the copy forever) have nothing to store.
        std::error_code statusError;
        const auto linkStatus = fs::symlink_status(entry, statusError);
        const auto targetStatus = fs::status(entry, statusError);
        if (statusError || (fs::is_symlink(linkStatus) && fs::is_directory(targetStatus)) ||
            !(fs::is_regular_file(targetStatus) || fs::is_directory(targetStatus))) {
            continue;
        }
        entries.push_back(entry);
    }
    std::vector<Item> added;
    try {
        for (const Path& entry : entries) {
            throwIfStopped(stop);
            auto items = addFile(entry, folder.id, receivedFrom, move, stop);
            added.insert(added.end(), std::make_move_iterator(items.begin()),
                         std::make_move_iterator(items.end()));
        }
    } catch (const LibraryError& error) {
        // A stopped copy leaves no half of a tree behind, recorded or on disk. Moved files stay: their
        // originals are gone, and what was moved is whole.
        if (error.code() == LibraryError::cancelled && !move) {
            takeBackAdd(folder.id, added);
        }
        throw;
    }
    return {ShareTarget::folder(folder.id), std::move(added)};
}

void LibraryStore::takeBackAdd(const std::string& folderID, const std::vector<Item>& added) {
    std::set<std::string> items;
    for (const Item& item : added) {
        items.insert(item.id);
    }
    // Decided under the lock: whatever a phone uploaded or the user moved into the new folder meanwhile is
    // not this add's to take back, and the folders holding it stay.
    mutate([&](Library& library) {
        std::erase_if(library.items, [&](const Item& item) { return items.contains(item.id); });
        std::set<std::string> empty;
        const auto tree = library.descendantFolderIDs(folderID);
        for (bool found = true; found;) {
            found = false;
            for (const std::string& id : tree) {
                const bool holdsItem = std::any_of(library.items.begin(), library.items.end(),
                                                   [&](const Item& item) { return item.folderID == id; });
                const bool holdsFolder =
                    std::any_of(library.folders.begin(), library.folders.end(),
                                [&](const Folder& f) { return f.parentID == id && !empty.contains(f.id); });
                if (!empty.contains(id) && !holdsItem && !holdsFolder) {
                    empty.insert(id);
                    found = true;
                }
            }
        }
        std::erase_if(library.folders, [&](const Folder& f) { return empty.contains(f.id); });
        forget(items, empty, library, now_());
    });
    for (const std::string& item : items) {
        if (const auto directory = storedDirectory(item)) {
            std::error_code ignored;
            fs::remove_all(*directory, ignored);
        }
    }
}

Item LibraryStore::storeFile(const Path& source, const OptionalID& folderID, const OptionalID& receivedFrom,
                             bool move, const std::stop_token& stop) {
    throwIfStopped(stop);
    const std::string id = Names::newID();
    const std::string name = Names::safeFileName(source.filename().string());
    // Built under a staging name and renamed into place whole, with its bytes on disk before the index
    // mentions it: whenever the process dies, files/<id> is either absent or complete.
    const Path staging = filesDir / (std::string(stagingPrefix) + id);
    const Path staged = staging / name;
    fs::create_directories(staging);
    bool moved = false;
    try {
        if (move) {
            moveFile(source, staged);
            moved = true;
        } else {
            copyFile(source, staged, stop);
        }
        syncFile(staged);
        fs::rename(staging, filesDir / id);
    } catch (...) {
        std::error_code ignored;
        if (moved) {
            // The caller still owns what it asked to move.
            try {
                moveFile(staged, source);
            } catch (const std::exception&) {
            }
        }
        fs::remove_all(staging, ignored);
        throw;
    }
    syncDirectory(filesDir);
    const Path stored = filesDir / id / name;
    std::error_code error;
    const auto bytes = fs::file_size(stored, error);
    Item item{
        .id = id,
        .folderID = folderID,
        .kind = ItemKind::file,
        .name = name,
        .size = error ? 0 : static_cast<std::int64_t>(bytes),
        .created = now_(),
        .receivedFrom = receivedFrom,
    };
    mutate([&](Library& library) {
        item.folderID = stillThere(library, item.folderID);
        library.items.push_back(item);
    });
    return item;
}

Folder LibraryStore::addFolder(std::string_view name, const OptionalID& parentID) {
    return mutate([&](Library& library) {
        const OptionalID parent = stillThere(library, parentID);
        const auto siblings = names(library.foldersIn(parent));
        Folder folder{Names::newID(), Names::unique(Names::safeFileName(name), siblings), parent, now_()};
        library.folders.push_back(folder);
        return folder;
    });
}

std::optional<Item> LibraryStore::addText(std::string_view text, const OptionalID& folderID,
                                          const OptionalID& receivedFrom) {
    const std::string trimmed = Text::trimmed(text);
    if (trimmed.empty()) {
        return std::nullopt;
    }
    auto [kind, name, content] = Names::classify(trimmed);
    return mutate([&](Library& library) {
        Item item{
            .id = Names::newID(),
            .folderID = stillThere(library, folderID),
            .kind = kind,
            .name = name,
            .size = static_cast<std::int64_t>(content.size()),
            .created = now_(),
            .content = content,
            .receivedFrom = receivedFrom,
        };
        library.items.push_back(item);
        return item;
    });
}

void LibraryStore::renameItem(std::string_view id, std::string_view proposed) {
    const std::string newName = Names::safeFileName(proposed);
    const auto item = snapshot().item(id);
    if (!item || item->name == newName) {
        return;
    }
    std::optional<Path> oldName;
    if (item->kind == ItemKind::file) {
        const Path from = filePath(*item);
        const Path to = filesDir / item->id / newName;
        std::error_code error;
        if (!fs::exists(from, error)) {
            return;
        }
        // The new name is linked first and the old one removed only once the index holds the new one: at
        // every instant the recorded name is on disk. A name that already is this file (a link left by a
        // rename cut short, or the same entry on a file system that folds case) is simply taken over; file
        // systems without hard links get a plain rename.
        if (!fs::equivalent(from, to, error)) {
            fs::remove(to, error);
            error.clear();
            fs::create_hard_link(from, to, error);
            if (!error) {
                oldName = from;
            } else {
                error.clear();
                fs::rename(from, to, error);
                if (error) {
                    return;
                }
            }
        }
    }
    mutate([&](Library& library) {
        if (Item* found = findByID(library.items, id)) {
            found->name = newName;
        }
    });
    if (oldName) {
        std::error_code ignored;
        fs::remove(*oldName, ignored);
    }
}

void LibraryStore::renameFolder(std::string_view id, std::string_view proposed) {
    mutate([&](Library& library) {
        Folder* folder = findByID(library.folders, id);
        if (!folder) {
            return;
        }
        std::vector<std::string> siblings;
        for (const Folder& sibling : library.foldersIn(folder->parentID)) {
            if (sibling.id != folder->id) {
                siblings.push_back(sibling.name);
            }
        }
        folder->name = Names::unique(Names::safeFileName(proposed), siblings);
    });
}

bool LibraryStore::moveItem(std::string_view id, const OptionalID& folderID) {
    return mutate([&](Library& library) {
        Item* item = findByID(library.items, id);
        if (!item || item->folderID == folderID) {
            return false;
        }
        if (folderID && !findByID(library.folders, *folderID)) {
            return false;
        }
        item->folderID = folderID;
        return true;
    });
}

bool LibraryStore::moveFolder(std::string_view id, const OptionalID& parentID) {
    return mutate([&](Library& library) {
        Folder* folder = findByID(library.folders, id);
        if (!folder || folder->parentID == parentID) {
            return false;
        }
        // Like items, a folder never moves into a folder that does not exist: it would vanish from view.
        if (parentID && !findByID(library.folders, *parentID)) {
            return false;
        }
        if (library.folderIsInside(parentID, folder->id)) {
            return false;
        }
        const auto taken = names(library.foldersIn(parentID));
        folder->name = Names::unique(folder->name, taken);
        folder->parentID = parentID;
        return true;
    });
}

std::optional<fs::path> LibraryStore::storedDirectory(std::string_view id) const {
    if (id.empty() || id == "." || id == ".." || id.find('/') != std::string_view::npos) {
        return std::nullopt;
    }
    return filesDir / id;
}

// Deletions are recorded first and their files removed after: a crash in between leaves an unrecorded
// directory under files/, never a recorded item whose file is gone.

void LibraryStore::deleteItem(std::string_view id) {
    mutate([&](Library& library) {
        std::erase_if(library.items, [&](const Item& item) { return item.id == id; });
        forget({std::string(id)}, {}, library, now_());
    });
    if (const auto directory = storedDirectory(id)) {
        std::error_code ignored;
        fs::remove_all(*directory, ignored);
    }
}

void LibraryStore::deleteFolder(std::string_view id) {
    // Decided under the lock, so that an item filed into the folder meanwhile goes with it.
    std::set<std::string> doomed;
    mutate([&](Library& library) {
        const auto dead = library.descendantFolderIDs(std::string(id));
        for (const Item& item : library.items) {
            if (item.folderID && dead.contains(*item.folderID)) {
                doomed.insert(item.id);
            }
        }
        std::erase_if(library.folders, [&](const Folder& f) { return dead.contains(f.id); });
        std::erase_if(library.items, [&](const Item& item) { return doomed.contains(item.id); });
        forget(doomed, dead, library, now_());
    });
    for (const std::string& item : doomed) {
        if (const auto directory = storedDirectory(item)) {
            std::error_code ignored;
            fs::remove_all(*directory, ignored);
        }
    }
}

void LibraryStore::forget(const std::set<std::string>& items, const std::set<std::string>& folders,
                          Library& library, Date at) {
    std::set<std::string> emptied;
    for (ShareBundle& bundle : library.bundles) {
        std::erase_if(bundle.itemIDs, [&](const std::string& id) { return items.contains(id); });
        std::erase_if(bundle.folderIDs, [&](const std::string& id) { return folders.contains(id); });
        if (bundle.itemIDs.empty() && bundle.folderIDs.empty()) {
            emptied.insert(bundle.id);
        }
    }
    for (Share& share : library.shares) {
        if (share.stopped) {
            continue;
        }
        const auto& id = share.target.id();
        bool dead = false;
        switch (share.target.kind()) {
        case ShareTarget::Kind::item:
            dead = items.contains(*id);
            break;
        case ShareTarget::Kind::folder:
            dead = id && folders.contains(*id);
            break;
        case ShareTarget::Kind::bundle:
            dead = emptied.contains(*id);
            break;
        case ShareTarget::Kind::inbox:
            break;
        }
        if (dead) {
            share.stopped = at;
        }
    }
}
