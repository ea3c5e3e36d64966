// What the explorer shows and the user's actions on the library itself.

#include "app/model/app_model.h"
#include "app/model/main_thread.h"
#include "app/model/wording.h"
#include "core/text.h"

#include <QPointer>
#include <QSettings>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <exception>
#include <set>
#include <string_view>
#include <utility>

namespace {

/// The search field's text without the spaces and tabs around it.
std::string_view trimSpacesAndTabs(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

/// The length of the line break starting at `at`, 0 when there is none. Covers LF, VT, FF, CR and, in
/// UTF-8, NEL (U+0085), LS (U+2028) and PS (U+2029).
std::size_t lineBreakLength(std::string_view text, std::size_t at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte >= 0x0A && byte <= 0x0D) {
        return 1;
    }
    const std::string_view rest = text.substr(at);
    if (rest.starts_with("\xC2\x85")) {
        return 2;
    }
    if (rest.starts_with("\xE2\x80\xA8") || rest.starts_with("\xE2\x80\xA9")) {
        return 3;
    }
    return 0;
}

/// A note's lines joined by single spaces, empty lines dropped, so it reads on one line.
std::string oneLine(std::string_view note) {
    std::string result;
    std::size_t lineStart = 0;
    const auto endLine = [&](std::size_t end) {
        if (end > lineStart) {
            if (!result.empty()) {
                result += ' ';
            }
            result.append(note.substr(lineStart, end - lineStart));
        }
    };
    for (std::size_t at = 0; at < note.size();) {
        if (const std::size_t length = lineBreakLength(note, at); length > 0) {
            endLine(at);
            at += length;
            lineStart = at;
        } else {
            ++at;
        }
    }
    endLine(note.size());
    return result;
}

} // namespace

// ---- What the explorer shows ----

std::string AppModel::title() const {
    switch (selection_.kind()) {
    case SidebarSelection::Kind::all:
        return "All files";
    case SidebarSelection::Kind::received:
        return "Received";
    case SidebarSelection::Kind::shared:
        return "Shared links";
    case SidebarSelection::Kind::phones:
        return "Phones";
    case SidebarSelection::Kind::folder:
        break;
    }
    const auto folder = library_.folder(selection_.folderID());
    return folder ? folder->name : "Folder";
}

std::string AppModel::locationName() const {
    if (selection_.kind() == SidebarSelection::Kind::folder) {
        if (const auto folder = library_.folder(selection_.folderID())) {
            return folder->name;
        }
    }
    return "Tesk";
}

int AppModel::unseenReceived() const {
    return static_cast<int>(
        std::count_if(library_.items.begin(), library_.items.end(), [&](const Item& item) {
            return item.receivedFrom && item.created > lastSeenReceived_;
        }));
}

std::vector<ListRow> AppModel::rows() const {
    std::vector<ListRow> rows;
    const auto addItems = [&](const std::vector<Item>& items, bool showLocation) {
        for (const Item& item : items) {
            rows.push_back({item, itemSubtitle(library_, item, showLocation)});
        }
    };

    const std::string_view query = trimSpacesAndTabs(search_);
    if (query.empty()) {
        switch (selection_.kind()) {
        case SidebarSelection::Kind::all:
            addItems(library_.allItemsNewestFirst(), true);
            break;
        case SidebarSelection::Kind::received:
            addItems(library_.receivedItems(), true);
            break;
        case SidebarSelection::Kind::shared:
        case SidebarSelection::Kind::phones:
            // Those views draw their own content.
            break;
        case SidebarSelection::Kind::folder:
            for (Folder& folder : library_.foldersIn(selection_.folderID())) {
                rows.push_back({std::move(folder), std::nullopt});
            }
            addItems(library_.itemsIn(selection_.folderID()), false);
            break;
        }
        return rows;
    }

    // Names only, whatever the selection: a link's address or a note's text matching would bury what the
    // user is looking for under everything that mentions it.
    const std::string needle = Text::lowercased(query);
    const auto matches = [&](const std::string& name) {
        return Text::lowercased(name).find(needle) != std::string::npos;
    };
    for (const Folder& folder : library_.folders) {
        if (matches(folder.name)) {
            rows.push_back({folder, library_.locationName(folder.parentID)});
        }
    }
    for (Item& item : library_.allItemsNewestFirst()) {
        if (matches(item.name)) {
            auto location = library_.locationName(item.folderID);
            rows.push_back({std::move(item), std::move(location)});
        }
    }
    return rows;
}

std::optional<std::string> AppModel::itemSubtitle(const Library& library, const Item& item,
                                                  bool showLocation) {
    std::vector<std::string> parts;
    if (item.receivedFrom) {
        parts.push_back("from " + *item.receivedFrom);
    }
    if (showLocation) {
        if (auto location = library.locationName(item.folderID)) {
            parts.push_back(std::move(*location));
        }
    }
    if (item.kind == ItemKind::link && item.content) {
        parts.push_back(*item.content);
    }
    if (item.kind == ItemKind::text && item.content) {
        if (std::string text = oneLine(*item.content); !text.empty()) {
            parts.push_back(std::move(text));
        }
    }
    if (parts.empty()) {
        return std::nullopt;
    }
    std::string subtitle = parts.front();
    for (std::size_t index = 1; index < parts.size(); ++index) {
        subtitle += " \u00B7 " + parts[index];
    }
    return subtitle;
}

std::string AppModel::pickedSummary() const {
    const auto folders =
        static_cast<std::size_t>(std::count_if(picked_.begin(), picked_.end(), [](const ShareTarget& t) {
            return t.kind() == ShareTarget::Kind::folder;
        }));
    const std::size_t files = picked_.size() - folders;
    std::string summary;
    if (files > 0) {
        summary = Wording::counted(static_cast<std::int64_t>(files), "file", "files");
    }
    if (folders > 0) {
        summary += (summary.empty() ? "" : ", ") +
                   Wording::counted(static_cast<std::int64_t>(folders), "folder", "folders");
    }
    return summary;
}

std::vector<AppModel::MoveDestination> AppModel::moveDestinations() const {
    std::vector<MoveDestination> destinations{{std::nullopt, "Tesk (top level)"}};
    // A damaged index may hold a cycle of parents; each folder is listed once at most.
    std::set<std::string> listed;
    const auto walk = [&](const auto& self, const std::optional<std::string>& parentID,
                          std::size_t depth) -> void {
        for (const Folder& folder : library_.folders) {
            if (folder.parentID != parentID || !listed.insert(folder.id).second) {
                continue;
            }
            std::string label;
            for (std::size_t level = 0; level < depth; ++level) {
                label += "    ";
            }
            destinations.push_back({folder.id, label + folder.name});
            self(self, folder.id, depth + 1);
        }
    };
    walk(walk, std::nullopt, 0);
    return destinations;
}

// ---- Picking and opening ----

void AppModel::click(const ListRow& row, bool command, bool shift, const std::vector<ListRow>& rows) {
    setRenamingID(std::nullopt);
    const ShareTarget target = row.target();
    if (shift && pickAnchor_) {
        const auto anchorRow = std::find_if(rows.begin(), rows.end(),
                                            [&](const ListRow& r) { return r.target() == *pickAnchor_; });
        const auto clickedRow =
            std::find_if(rows.begin(), rows.end(), [&](const ListRow& r) { return r.target() == target; });
        if (anchorRow != rows.end() && clickedRow != rows.end()) {
            const auto [first, last] = std::minmax(anchorRow, clickedRow);
            std::vector<ShareTarget> picks = picked_;
            for (auto it = first; it != std::next(last); ++it) {
                if (std::find(picks.begin(), picks.end(), it->target()) == picks.end()) {
                    picks.push_back(it->target());
                }
            }
            setPicked(picks);
            return;
        }
    }
    if (command) {
        togglePick(target);
        return;
    }
    setPicked({target});
    pickAnchor_ = target;
}

void AppModel::togglePick(const ShareTarget& target) {
    std::vector<ShareTarget> picks = picked_;
    if (const auto found = std::find(picks.begin(), picks.end(), target); found != picks.end()) {
        picks.erase(found);
    } else {
        picks.push_back(target);
        pickAnchor_ = target;
    }
    setPicked(picks);
}

void AppModel::open(const ListRow& row) {
    if (row.isFolder()) {
        setSearch("");
        setSelection(SidebarSelection::folder(row.id()));
    } else {
        openItem(std::get<Item>(row.content));
    }
}

void AppModel::openItem(const Item& item) {
    switch (item.kind) {
    case ItemKind::file:
        platform_.openFile(store_.filePath(item));
        break;
    case ItemKind::link: {
        const QUrl url(QString::fromStdString(item.content.value_or("")), QUrl::StrictMode);
        // Only a real address goes to the browser; anything else would open as a local path or a search.
        if (url.isValid() && !url.scheme().isEmpty()) {
            platform_.openURL(*item.content);
        }
        break;
    }
    case ItemKind::text:
        platform_.setClipboardText(item.content.value_or(""));
        show("Note copied");
        break;
    }
}

std::filesystem::path AppModel::storedFile(const Item& item) const {
    return store_.filePath(item);
}

void AppModel::showInFileManager(const Item& item) {
    if (item.kind == ItemKind::file) {
        platform_.revealFile(store_.filePath(item));
    }
}

void AppModel::quickLook(const Item& item) {
    if (item.kind == ItemKind::file) {
        setPreviewFile(store_.filePath(item));
    }
}

bool AppModel::toggleQuickLook() {
    if (previewFile_) {
        setPreviewFile(std::nullopt);
        return true;
    }
    for (auto target = picked_.rbegin(); target != picked_.rend(); ++target) {
        if (target->kind() != ShareTarget::Kind::item || !target->id()) {
            continue;
        }
        if (const auto item = library_.item(*target->id()); item && item->kind == ItemKind::file) {
            quickLook(*item);
            return true;
        }
    }
    return false;
}

void AppModel::showItem(const std::string& id) {
    const auto item = library_.item(id);
    if (!item) {
        show("That item has been deleted");
        return;
    }
    setInspecting(std::nullopt);
    setSearch("");
    setSelection(item->folderID ? SidebarSelection::folder(*item->folderID) : SidebarSelection::all());
    setPicked({ShareTarget::item(id)});
    // Picked as a click picks it, so a Shift-click next extends from the item shown.
    pickAnchor_ = ShareTarget::item(id);
    setRevealedID(id);
    requestReveal();
}

void AppModel::showPhones() {
    setInspecting(std::nullopt);
    setSelection(SidebarSelection::phones());
    requestReveal();
}

// ---- Adding ----

void AppModel::add(std::vector<std::filesystem::path> paths, Destination to, bool reveal) {
    if (paths.empty()) {
        return;
    }
    const std::optional<std::string> folderID = resolve(to);
    const QPointer<AppModel> self(this);
    // Copies can take long, so they run off the main thread; the store serialises its own changes. The
    // model stops the copy and waits for it when it goes, so the store reference stays good.
    background_.addFuture(QtConcurrent::run(
        QThreadPool::globalInstance(), [self, &store = store_, paths = std::move(paths), folderID, reveal,
                                        stop = stopBackground_.get_token()] {
            std::size_t added = 0;
            std::size_t failed = 0;
            for (const auto& path : paths) {
                try {
                    added += store.addFile(path, folderID, std::nullopt, false, stop).size();
                } catch (const LibraryError& error) {
                    // Stopped because the model is going: nobody is left to tell.
                    if (error.code() == LibraryError::cancelled) {
                        return;
                    }
                    ++failed;
                } catch (const std::exception&) {
                    ++failed;
                }
            }
            MainThread::post(self, [added, failed, folderID, reveal](AppModel& model) {
                if (failed > 0) {
                    model.show("Couldn't add " +
                               Wording::counted(static_cast<std::int64_t>(failed), "item", "items"));
                } else {
                    model.show("Added " +
                               Wording::counted(static_cast<std::int64_t>(added), "file", "files") + " to " +
                               model.placeName(folderID));
                }
                if (reveal) {
                    model.requestReveal();
                }
            });
        }));
}

void AppModel::addText(const std::string& text, Destination to) {
    if (const auto item = store_.addText(text, resolve(to), std::nullopt)) {
        show(item->kind == ItemKind::link ? "Added link" : "Added note");
    }
}

void AppModel::paste() {
    if (auto files = platform_.clipboardFiles(); !files.empty()) {
        add(std::move(files), Destination::current(), false);
        return;
    }
    // The store trims and classifies the text itself; blank text is only checked for here.
    if (const auto text = platform_.clipboardText(); text && !Text::trimmed(*text).empty()) {
        addText(*text, Destination::current());
        return;
    }
    show("Nothing to paste");
}

void AppModel::chooseFiles() {
    platform_.activate();
    add(platform_.chooseFiles("Add to Tesk"), Destination::current(), false);
}

void AppModel::newFolder() {
    const Folder folder = store_.addFolder("New Folder", currentFolder());
    setSearch("");
    setRenamingID(folder.id);
}

// ---- Renaming, moving, deleting ----

void AppModel::rename(const std::string& id, const std::string& name) {
    setRenamingID(std::nullopt);
    const std::string trimmed = Text::trimmed(name);
    if (trimmed.empty()) {
        return;
    }
    // Asks the store rather than the snapshot: a folder made a moment ago may not have reached it yet.
    const bool isFolder =
        store_.read([&](const Library& library, auto) { return library.folder(id).has_value(); });
    if (isFolder) {
        store_.renameFolder(id, trimmed);
    } else {
        store_.renameItem(id, trimmed);
    }
}

void AppModel::move(const LibraryEntry& entry, const std::optional<std::string>& folderID) {
    if (entry.kind == LibraryEntry::Kind::folder) {
        if (folderID == entry.id) {
            return;
        }
        if (!store_.moveFolder(entry.id, folderID)) {
            const bool intoItself = store_.read(
                [&](const Library& library, auto) { return library.folderIsInside(folderID, entry.id); });
            if (intoItself) {
                show("Can't put a folder inside itself");
            }
            return;
        }
    } else if (!store_.moveItem(entry.id, folderID)) {
        return;
    }
    show("Moved to " + placeName(folderID));
}

void AppModel::movePicked(const std::optional<std::string>& folderID) {
    std::size_t moved = 0;
    // A copy: a reload repairs the picks, and one must not change the list under this loop.
    const std::vector<ShareTarget> targets = picked_;
    for (const ShareTarget& target : targets) {
        if (!target.id()) {
            continue;
        }
        if (target.kind() == ShareTarget::Kind::folder) {
            if (target.id() != folderID && store_.moveFolder(*target.id(), folderID)) {
                ++moved;
            }
        } else if (target.kind() == ShareTarget::Kind::item && store_.moveItem(*target.id(), folderID)) {
            ++moved;
        }
    }
    clearPicks();
    if (moved == 0) {
        show("Nothing moved");
    } else {
        show("Moved " + std::to_string(moved) + " to " + placeName(folderID));
    }
}

void AppModel::deletePicked() {
    const std::size_t count = picked_.size();
    // Asking to delete nothing would be a question without a subject.
    if (count == 0) {
        return;
    }
    platform_.activate();
    Platform::Alert alert;
    alert.message =
        "Delete " + Wording::counted(static_cast<std::int64_t>(count), "item", "items") + " from Tesk?";
    alert.informativeText =
        "Files you added are copies, so your originals stay where they were. Files people "
        "sent you are deleted for good. Links to them stop working.";
    alert.confirmButton = "Delete";
    if (!platform_.confirm(alert)) {
        return;
    }
    // A copy: a reload repairs the picks, and one must not change the list under this loop.
    const std::vector<ShareTarget> targets = picked_;
    for (const ShareTarget& target : targets) {
        if (!target.id()) {
            continue;
        }
        if (target.kind() == ShareTarget::Kind::folder) {
            store_.deleteFolder(*target.id());
        } else if (target.kind() == ShareTarget::Kind::item) {
            store_.deleteItem(*target.id());
        }
    }
    clearPicks();
    show("Deleted " + Wording::counted(static_cast<std::int64_t>(count), "item", "items"));
}

void AppModel::deleteEntry(const LibraryEntry& entry) {
    // The store throws only when the index cannot be written; the library then stays as it was, and an
    // exception must not unwind through a menu's event handling.
    const bool isFolder = entry.kind == LibraryEntry::Kind::folder;
    try {
        if (isFolder) {
            store_.deleteFolder(entry.id);
        } else {
            store_.deleteItem(entry.id);
        }
    } catch (const std::exception&) {
        const auto folder = isFolder ? library_.folder(entry.id) : std::nullopt;
        const auto item = isFolder ? std::nullopt : library_.item(entry.id);
        show("Couldn't delete " + (folder ? folder->name : item ? item->name : std::string()));
    }
}

void AppModel::markReceivedSeen() {
    if (unseenReceived() == 0) {
        return;
    }
    lastSeenReceived_ = now();
    settings_.setValue("lastSeenReceived", lastSeenReceived_.unixSeconds());
    emit lastSeenReceivedChanged();
}
