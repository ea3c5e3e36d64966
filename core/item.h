#pragma once

#include "date.h"
#include "item_kind.h"

#include <cstdint>
#include <optional>
#include <string>

/// A stored file, link or note. A file item's copy lives in files/<id>/<name>.
struct Item {
    std::string id{};
    /// Absent for an item at the root of the library.
    std::optional<std::string> folderID{};
    ItemKind kind = ItemKind::file;
    std::string name{};
    /// File: bytes on disk when added. Link and text: UTF-8 bytes of `content`.
    std::int64_t size = 0;
    Date created{};
    /// The address of a link or the text of a note; absent for files.
    std::optional<std::string> content{};
    /// Who sent it: a paired phone's name or a browser's sender label.
    std::optional<std::string> receivedFrom{};

    friend bool operator==(const Item&, const Item&) = default;
};
