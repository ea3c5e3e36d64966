#include "ui/explorer/entry_menu.h"

#include "app/model/app_model.h"

#include <QMenu>
#include <exception>

namespace EntryMenu {

namespace {

QString text(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

/// The destinations a "Move to" offers: not where the entry already is, and for a folder not itself or
/// any folder below it (the store would refuse those anyway).
std::vector<AppModel::MoveDestination> destinations(const AppModel& model, const LibraryEntry& entry,
                                                    const std::optional<std::string>& current) {
    std::vector<AppModel::MoveDestination> result;
    for (const AppModel::MoveDestination& destination : model.moveDestinations()) {
        if (destination.folderID == current) {
            continue;
        }
        if (entry.kind == LibraryEntry::Kind::folder && destination.folderID &&
            model.library().folderIsInside(destination.folderID, entry.id)) {
            continue;
        }
        result.push_back(destination);
    }
    return result;
}

} // namespace

void fill(QMenu& menu, AppModel& model, const LibraryEntry& entry) {
    const Library& library = model.library();
    const bool isFolder = entry.kind == LibraryEntry::Kind::folder;
    std::optional<Item> item;
    std::optional<Folder> folder;
    if (isFolder) {
        folder = library.folder(entry.id);
    } else {
        item = library.item(entry.id);
    }
    if (!item && !folder) {
        return;
    }
    const std::string id = entry.id;
    const std::optional<std::string> current = isFolder ? folder->parentID : item->folderID;
    const ShareTarget target = isFolder ? ShareTarget::folder(id) : ShareTarget::item(id);
    AppModel* const owner = &model;

    if (item && item->kind == ItemKind::text) {
        menu.addAction("Copy note", [owner, id] {
            if (const auto now = owner->library().item(id)) {
                owner->openItem(*now);
            }
        });
    } else if (item) {
        menu.addAction("Open", [owner, id] {
            if (const auto now = owner->library().item(id)) {
                owner->openItem(*now);
            }
        });
    } else {
        menu.addAction("Open", [owner, id] {
            if (owner->library().folder(id)) {
                owner->setSelection(SidebarSelection::folder(id));
            }
        });
    }

    if (item && item->kind == ItemKind::file) {
        menu.addAction("Quick Look", [owner, id] {
            if (const auto now = owner->library().item(id)) {
                owner->quickLook(*now);
            }
        });
        menu.addAction("Show in Folder", [owner, id] {
            if (const auto now = owner->library().item(id)) {
                owner->showInFileManager(*now);
            }
        });
    }

    menu.addAction("Share…", [owner, target] { owner->inspect(target); });
    menu.addAction("Copy link", [owner, target] { owner->copyLink(target); });

    for (const PairedDevice& device : library.devices) {
        const std::string token = device.token;
        menu.addAction("Send to " + text(device.name), [owner, target, token] {
            // The phone may have been removed while the menu was open.
            if (const auto phone = owner->library().device(token)) {
                owner->send({target}, *phone);
            }
        });
    }

    QMenu* moveMenu = menu.addMenu("Move to");
    moveMenu->setObjectName("moveToMenu");
    for (const AppModel::MoveDestination& destination : destinations(model, entry, current)) {
        const std::optional<std::string> folderID = destination.folderID;
        moveMenu->addAction(text(destination.label),
                            [owner, entry, folderID] { owner->move(entry, folderID); });
    }

    menu.addSeparator();
    menu.addAction("Rename", [owner, id] { owner->setRenamingID(id); });
    menu.addAction(isFolder ? "Delete folder" : "Delete", [owner, entry] { owner->deleteEntry(entry); });
}

} // namespace EntryMenu
