#pragma once

#include "core/folder.h"
#include "core/item.h"
#include "core/share_target.h"

#include <optional>
#include <string>
#include <variant>

/// One row of the explorer's list: a folder or an item, with the grey line under its name.
struct ListRow {
    std::variant<Folder, Item> content;
    std::optional<std::string> subtitle;

    bool isFolder() const { return std::holds_alternative<Folder>(content); }
    /// The folder's or item's id, which is also the row's identity.
    const std::string& id() const {
        return isFolder() ? std::get<Folder>(content).id : std::get<Item>(content).id;
    }
    const std::string& name() const {
        return isFolder() ? std::get<Folder>(content).name : std::get<Item>(content).name;
    }
    /// What sharing or picking the row means.
    ShareTarget target() const { return isFolder() ? ShareTarget::folder(id()) : ShareTarget::item(id()); }

    friend bool operator==(const ListRow&, const ListRow&) = default;
};
