#include "library.h"

#include "text.h"

#include <algorithm>
#include <unordered_set>

namespace {

template <typename Record, typename Key>
std::optional<Record> firstWith(const std::vector<Record>& records, Key Record::*field,
                                std::string_view value) {
    const auto found = std::find_if(records.begin(), records.end(),
                                    [&](const Record& record) { return record.*field == value; });
    if (found == records.end()) {
        return std::nullopt;
    }
    return *found;
}

/// The items `keep` accepts, newest first; equal instants keep their list order. Sorts pointers and
/// copies each kept item once: listings run on every poll of a share page.
template <typename Keep>
std::vector<Item> newestFirst(const std::vector<Item>& items, Keep keep) {
    std::vector<const Item*> kept;
    for (const Item& item : items) {
        if (keep(item)) {
            kept.push_back(&item);
        }
    }
    std::stable_sort(kept.begin(), kept.end(),
                     [](const Item* a, const Item* b) { return a->created > b->created; });
    std::vector<Item> result;
    result.reserve(kept.size());
    for (const Item* item : kept) {
        result.push_back(*item);
    }
    return result;
}

} // namespace

const Folder* Library::findFolder(std::string_view id) const {
    const auto found =
        std::find_if(folders.begin(), folders.end(), [&](const Folder& f) { return f.id == id; });
    return found == folders.end() ? nullptr : &*found;
}

std::optional<Folder> Library::folder(const std::optional<std::string>& id) const {
    if (!id) {
        return std::nullopt;
    }
    const Folder* found = findFolder(*id);
    return found ? std::optional<Folder>(*found) : std::nullopt;
}

std::optional<Item> Library::item(std::string_view id) const {
    return firstWith(items, &Item::id, id);
}

std::optional<ShareBundle> Library::bundle(std::string_view id) const {
    return firstWith(bundles, &ShareBundle::id, id);
}

std::optional<Share> Library::share(std::string_view token) const {
    return firstWith(shares, &Share::token, token);
}

std::optional<PairedDevice> Library::device(std::string_view token) const {
    return firstWith(devices, &PairedDevice::token, token);
}

std::vector<Folder> Library::foldersIn(const std::optional<std::string>& parentID) const {
    std::vector<Folder> result;
    std::copy_if(folders.begin(), folders.end(), std::back_inserter(result),
                 [&](const Folder& f) { return f.parentID == parentID; });
    std::stable_sort(result.begin(), result.end(), [](const Folder& a, const Folder& b) {
        return Text::compareLocalized(a.name, b.name) < 0;
    });
    return result;
}

std::vector<Item> Library::itemsIn(const std::optional<std::string>& folderID) const {
    return newestFirst(items, [&](const Item& item) { return item.folderID == folderID; });
}

std::size_t Library::childCount(std::string_view folderID) const {
    const auto folderCount = std::count_if(folders.begin(), folders.end(), [&](const Folder& f) {
        return f.parentID && *f.parentID == folderID;
    });
    const auto itemCount = std::count_if(
        items.begin(), items.end(), [&](const Item& i) { return i.folderID && *i.folderID == folderID; });
    return static_cast<std::size_t>(folderCount + itemCount);
}

std::vector<Item> Library::receivedItems() const {
    return newestFirst(items, [](const Item& item) { return item.receivedFrom.has_value(); });
}

std::vector<Item> Library::allItemsNewestFirst() const {
    return newestFirst(items, [](const Item&) { return true; });
}

std::vector<Folder> Library::path(const std::optional<std::string>& folderID) const {
    std::vector<Folder> result;
    std::unordered_set<std::string_view> visited;
    const Folder* current = folderID ? findFolder(*folderID) : nullptr;
    while (current && visited.insert(current->id).second) {
        result.push_back(*current);
        current = current->parentID ? findFolder(*current->parentID) : nullptr;
    }
    std::reverse(result.begin(), result.end());
    return result;
}

bool Library::pathContains(std::string_view folderID, std::string_view ancestorID) const {
    // The same walk as `path`, without copying the folders it passes.
    std::unordered_set<std::string_view> visited;
    const Folder* current = findFolder(folderID);
    while (current && visited.insert(current->id).second) {
        if (current->id == ancestorID) {
            return true;
        }
        current = current->parentID ? findFolder(*current->parentID) : nullptr;
    }
    return false;
}

std::set<std::string> Library::descendantFolderIDs(const std::string& folderID) const {
    std::set<std::string> result{folderID};
    std::vector<std::string> stack{folderID};
    while (!stack.empty()) {
        const std::string id = std::move(stack.back());
        stack.pop_back();
        for (const Folder& f : folders) {
            if (f.parentID == id && result.insert(f.id).second) {
                stack.push_back(f.id);
            }
        }
    }
    return result;
}

bool Library::folderIsInside(const std::optional<std::string>& a, const std::optional<std::string>& b) const {
    if (!b) {
        return true;
    }
    if (!a) {
        return false;
    }
    return *a == *b || pathContains(*a, *b);
}

bool Library::folderIsInBundle(const std::optional<std::string>& folderID, const ShareBundle& bundle) const {
    if (!folderID) {
        return false;
    }
    return std::any_of(bundle.folderIDs.begin(), bundle.folderIDs.end(),
                       [&](const std::string& f) { return *folderID == f || pathContains(*folderID, f); });
}

bool Library::shareIncludes(const Share& share, const Item& item) const {
    switch (share.target.kind()) {
    case ShareTarget::Kind::folder:
        return folderIsInside(item.folderID, share.target.id());
    case ShareTarget::Kind::item:
        return item.id == share.target.id();
    case ShareTarget::Kind::bundle: {
        const auto found = std::find_if(bundles.begin(), bundles.end(),
                                        [&](const ShareBundle& b) { return b.id == share.target.id(); });
        if (found == bundles.end()) {
            return false;
        }
        const auto& ids = found->itemIDs;
        return std::find(ids.begin(), ids.end(), item.id) != ids.end() ||
               folderIsInBundle(item.folderID, *found);
    }
    case ShareTarget::Kind::inbox:
        break;
    }
    return false;
}

std::optional<Share> Library::activeShare(const ShareTarget& target, Date now) const {
    const auto found = std::find_if(shares.begin(), shares.end(),
                                    [&](const Share& s) { return s.target == target && s.isActive(now); });
    return found == shares.end() ? std::nullopt : std::optional<Share>(*found);
}

std::vector<Share> Library::followableShares(const Item& item, Date now) const {
    std::vector<Share> result;
    for (const Share& s : shares) {
        const auto kind = s.target.kind();
        if ((kind == ShareTarget::Kind::folder || kind == ShareTarget::Kind::bundle) && s.isActive(now) &&
            shareIncludes(s, item)) {
            result.push_back(s);
        }
    }
    return result;
}

std::optional<std::string> Library::locationName(const std::optional<std::string>& folderID) const {
    const auto chain = path(folderID);
    if (chain.empty()) {
        return std::nullopt;
    }
    std::string result;
    for (const Folder& f : chain) {
        if (!result.empty() || &f != &chain.front()) {
            result += " \u203A ";
        }
        result += f.name;
    }
    return result;
}

std::string Library::displayName(const ShareTarget& target) const {
    switch (target.kind()) {
    case ShareTarget::Kind::folder: {
        if (!target.id()) {
            return "Library";
        }
        const Folder* f = findFolder(*target.id());
        return f ? f->name : "Folder";
    }
    case ShareTarget::Kind::item: {
        const auto found = item(*target.id());
        return found ? found->name : "Item";
    }
    case ShareTarget::Kind::bundle: {
        const auto found = bundle(*target.id());
        return found ? found->name : "Several items";
    }
    case ShareTarget::Kind::inbox:
        break;
    }
    return "Receive files";
}
