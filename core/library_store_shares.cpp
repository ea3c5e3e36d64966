// LibraryStore: share links, their history, and uploads that come through them.
#include "library_store.h"
#include "names.h"

#include <algorithm>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t maxContents = 20;
constexpr std::size_t maxHistory = 300;
constexpr std::size_t shareTokenLength = 10;

/// A token no share in the library carries yet.
std::string freshShareToken(const Library& library) {
    for (;;) {
        std::string token = Names::token(shareTokenLength);
        if (!library.share(token)) {
            return token;
        }
    }
}

template <typename T>
void appendOnce(std::vector<T>& list, const T& value) {
    if (std::find(list.begin(), list.end(), value) == list.end()) {
        list.push_back(value);
    }
}

} // namespace

std::pair<std::int64_t, std::int64_t> LibraryStore::folderTotals(const std::string& folderID,
                                                                 const Library& library) {
    const auto folders = library.descendantFolderIDs(folderID);
    std::int64_t count = 0;
    std::int64_t bytes = 0;
    for (const Item& item : library.items) {
        if (item.folderID && folders.contains(*item.folderID)) {
            ++count;
            if (item.kind == ItemKind::file) {
                bytes += item.size;
            }
        }
    }
    return {count, bytes};
}

LibraryStore::Description LibraryStore::describe(const ShareTarget& target, const Library& library) {
    Description d;
    const auto addItem = [&](const Item& item) {
        d.contents.push_back(item.name);
        d.itemCount += 1;
        d.totalSize += item.kind == ItemKind::file ? item.size : 0;
    };
    const auto listFolder = [&](const std::optional<std::string>& id) {
        for (const Folder& f : library.foldersIn(id)) {
            d.contents.push_back(f.name);
        }
        for (const Item& item : library.itemsIn(id)) {
            d.contents.push_back(item.name);
        }
    };
    switch (target.kind()) {
    case ShareTarget::Kind::folder:
        listFolder(target.id());
        if (!target.id()) {
            d.itemCount = static_cast<std::int64_t>(library.items.size());
            for (const Item& item : library.items) {
                d.totalSize += item.kind == ItemKind::file ? item.size : 0;
            }
        } else {
            std::tie(d.itemCount, d.totalSize) = folderTotals(*target.id(), library);
        }
        break;
    case ShareTarget::Kind::item:
        if (const auto item = library.item(*target.id())) {
            addItem(*item);
        }
        break;
    case ShareTarget::Kind::bundle:
        if (const auto bundle = library.bundle(*target.id())) {
            for (const std::string& id : bundle->folderIDs) {
                if (const auto folder = library.folder(id)) {
                    d.contents.push_back(folder->name);
                    const auto [count, bytes] = folderTotals(id, library);
                    d.itemCount += count;
                    d.totalSize += bytes;
                }
            }
            for (const std::string& id : bundle->itemIDs) {
                if (const auto item = library.item(id)) {
                    addItem(*item);
                }
            }
        }
        break;
    case ShareTarget::Kind::inbox:
        break;
    }
    if (d.contents.size() > maxContents) {
        d.contents.resize(maxContents);
    }
    return d;
}

void LibraryStore::trimHistory(Library& library, Date at) {
    std::vector<const Share*> history;
    for (const Share& s : library.shares) {
        if (!s.isActive(at)) {
            history.push_back(&s);
        }
    }
    if (history.size() <= maxHistory) {
        return;
    }
    std::stable_sort(history.begin(), history.end(),
                     [](const Share* a, const Share* b) { return a->created > b->created; });
    std::set<std::string> doomed;
    for (auto it = history.begin() + maxHistory; it != history.end(); ++it) {
        doomed.insert((*it)->token);
    }
    std::erase_if(library.shares, [&](const Share& s) { return doomed.contains(s.token); });
}

Share LibraryStore::share(const ShareTarget& target, ShareDuration duration, bool allowsUploads) {
    return mutate([&](Library& library) {
        const Date t = now_();
        const auto active = std::find_if(library.shares.begin(), library.shares.end(),
                                         [&](const Share& s) { return s.target == target && s.isActive(t); });
        if (active != library.shares.end()) {
            // Renewal keeps the link and restarts the clock.
            active->duration = duration;
            active->expires = duration.expiry(t);
            return *active;
        }
        Description description = describe(target, library);
        Share created{
            .token = freshShareToken(library),
            .target = target,
            .created = t,
            .duration = duration,
            .expires = duration.expiry(t),
            .downloads = 0,
            .allowsUploads = allowsUploads,
            .stopped = std::nullopt,
            .title = library.displayName(target),
            .contents = std::move(description.contents),
            .itemCount = description.itemCount,
            .totalSize = description.totalSize,
        };
        library.shares.push_back(created);
        trimHistory(library, t);
        return created;
    });
}

std::optional<Share> LibraryStore::share(std::span<const ShareTarget> selection, ShareDuration duration) {
    const Library current = snapshot();
    std::vector<std::string> folderIDs;
    std::vector<std::string> itemIDs;
    for (const ShareTarget& target : selection) {
        if (target.kind() == ShareTarget::Kind::folder && target.id() && current.folder(target.id())) {
            appendOnce(folderIDs, *target.id());
        } else if (target.kind() == ShareTarget::Kind::item && current.item(*target.id())) {
            appendOnce(itemIDs, *target.id());
        }
    }
    // Drop what another selected folder already covers.
    std::vector<std::string> keptFolders;
    for (const std::string& id : folderIDs) {
        const auto chain = current.path(id);
        const bool covered = std::any_of(chain.begin(), chain.end(), [&](const Folder& f) {
            return f.id != id && std::find(folderIDs.begin(), folderIDs.end(), f.id) != folderIDs.end();
        });
        if (!covered) {
            keptFolders.push_back(id);
        }
    }
    std::vector<std::string> keptItems;
    for (const std::string& id : itemIDs) {
        const auto chain = current.path(current.item(id)->folderID);
        const bool covered = std::any_of(chain.begin(), chain.end(), [&](const Folder& f) {
            return std::find(keptFolders.begin(), keptFolders.end(), f.id) != keptFolders.end();
        });
        if (!covered) {
            keptItems.push_back(id);
        }
    }

    const std::size_t count = keptFolders.size() + keptItems.size();
    if (count == 0) {
        return std::nullopt;
    }
    if (count == 1) {
        const auto target =
            keptFolders.empty() ? ShareTarget::item(keptItems[0]) : ShareTarget::folder(keptFolders[0]);
        return share(target, duration, true);
    }
    const std::string firstName =
        keptFolders.empty() ? current.item(keptItems[0])->name : current.folder(keptFolders[0])->name;
    const ShareBundle bundle = mutate([&](Library& library) {
        ShareBundle made{Names::newID(), firstName + " and " + std::to_string(count - 1) + " more", keptItems,
                         keptFolders, now_()};
        library.bundles.push_back(made);
        return made;
    });
    return share(ShareTarget::bundle(bundle.id), duration, true);
}

std::optional<Share> LibraryStore::reshare(std::string_view token) {
    const Library current = snapshot();
    const auto past = current.share(token);
    if (!past) {
        return std::nullopt;
    }
    const auto& id = past->target.id();
    bool exists = true;
    switch (past->target.kind()) {
    case ShareTarget::Kind::folder:
        exists = !id || current.folder(id);
        break;
    case ShareTarget::Kind::item:
        exists = current.item(*id).has_value();
        break;
    case ShareTarget::Kind::bundle: {
        const auto bundle = current.bundle(*id);
        exists = bundle && !(bundle->itemIDs.empty() && bundle->folderIDs.empty());
        break;
    }
    case ShareTarget::Kind::inbox:
        break;
    }
    if (!exists) {
        return std::nullopt;
    }
    if (auto active = current.activeShare(past->target, now_())) {
        return active;
    }
    return share(past->target, past->duration, past->allowsUploads);
}

void LibraryStore::stopSharing(std::string_view token) {
    mutate([&](Library& library) {
        const auto found = std::find_if(library.shares.begin(), library.shares.end(),
                                        [&](const Share& s) { return s.token == token; });
        if (found != library.shares.end() && !found->stopped) {
            found->stopped = now_();
        }
    });
}

void LibraryStore::forgetShare(std::string_view token) {
    mutate([&](Library& library) {
        const Date t = now_();
        std::erase_if(library.shares, [&](const Share& s) { return s.token == token && !s.isActive(t); });
        std::set<std::string> referenced;
        for (const Share& s : library.shares) {
            if (s.target.kind() == ShareTarget::Kind::bundle) {
                referenced.insert(*s.target.id());
            }
        }
        std::erase_if(library.bundles, [&](const ShareBundle& b) { return !referenced.contains(b.id); });
    });
}

void LibraryStore::recordDownload(std::string_view token) {
    mutate([&](Library& library) {
        const auto found = std::find_if(library.shares.begin(), library.shares.end(),
                                        [&](const Share& s) { return s.token == token; });
        if (found != library.shares.end()) {
            found->downloads += 1;
        }
    });
}

void LibraryStore::setAllowsUploads(std::string_view token, bool allowsUploads) {
    mutate([&](Library& library) {
        const auto found = std::find_if(library.shares.begin(), library.shares.end(),
                                        [&](const Share& s) { return s.token == token; });
        if (found != library.shares.end()) {
            found->allowsUploads = allowsUploads;
        }
    });
}

Item LibraryStore::receiveUpload(const Path& temporary, std::string_view name, const Share& share,
                                 const OptionalID& folderID, std::string_view sender) {
    const Library current = snapshot();
    const auto senderFolder = [&] {
        const std::string label(sender);
        return folderForDevice("browser:" + label, label);
    };
    OptionalID destination;
    switch (share.target.kind()) {
    case ShareTarget::Kind::folder:
        if (!current.folderIsInside(folderID, share.target.id())) {
            throw LibraryError(LibraryError::outsideShare);
        }
        // With the whole library shared, a folder id that names no folder would file the upload where
        // nobody can see it.
        if (folderID && !current.folder(folderID)) {
            throw LibraryError(LibraryError::outsideShare);
        }
        destination = folderID;
        break;
    case ShareTarget::Kind::item:
    case ShareTarget::Kind::inbox:
        destination = senderFolder();
        break;
    case ShareTarget::Kind::bundle: {
        const auto bundle = current.bundle(*share.target.id());
        if (!bundle) {
            throw LibraryError(LibraryError::notFound);
        }
        if (!folderID) {
            destination = senderFolder();
        } else if (!current.folderIsInBundle(folderID, *bundle)) {
            throw LibraryError(LibraryError::outsideShare);
        } else {
            destination = folderID;
        }
        break;
    }
    }
    const Path named = renameBesideItself(temporary, name);
    const auto items = addFile(named, destination, std::string(sender), true);
    if (items.empty()) {
        throw LibraryError(LibraryError::notFound);
    }
    return items.front();
}

fs::path LibraryStore::renameBesideItself(const Path& temporary, std::string_view name) {
    const Path named = temporary.parent_path() / Names::safeFileName(name);
    if (named != temporary) {
        std::error_code ignored;
        fs::remove(named, ignored);
        fs::rename(temporary, named);
    }
    return named;
}
