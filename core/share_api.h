#pragma once

#include "date.h"
#include "item_kind.h"
#include "library.h"
#include "share.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

/// What a share page shows for one request: its title, breadcrumb trail, subfolders and items.
struct SharePayload {
    /// One step of the breadcrumb trail.
    struct Crumb {
        /// Absent for the crumb that stands for a share which is not one library folder.
        std::optional<std::string> id{};
        std::string name{};

        friend bool operator==(const Crumb&, const Crumb&) = default;
    };

    /// A subfolder row with the number of things directly inside it.
    struct FolderEntry {
        std::string id{};
        std::string name{};
        std::int64_t count = 0;

        friend bool operator==(const FolderEntry&, const FolderEntry&) = default;
    };

    /// An item row; the item's folder and sender stay private.
    struct ItemEntry {
        std::string id{};
        ItemKind kind = ItemKind::file;
        std::string name{};
        std::int64_t size = 0;
        Date created{};
        /// The address of a link or the text of a note; absent for files.
        std::optional<std::string> content{};

        friend bool operator==(const ItemEntry&, const ItemEntry&) = default;
    };

    std::string mac{};
    std::string title{};
    bool inbox = false;
    /// Absent for a share that runs until stopped.
    std::optional<Date> expires{};
    bool canUpload = false;
    /// Outermost first; empty for item and inbox shares.
    std::vector<Crumb> path{};
    /// The folder listed; absent when the listing is the share's own top level and that is no folder.
    std::optional<std::string> folderID{};
    std::vector<FolderEntry> folders{};
    std::vector<ItemEntry> items{};
    /// Set by the request handler when a relay can notify followers; never by `ShareAPI::payload`.
    std::optional<std::string> followURL{};

    friend bool operator==(const SharePayload&, const SharePayload&) = default;
};

/// The JSON document behind a share page: what a share shows, and its wire form.
namespace ShareAPI {

/// What `share` shows for the requested folder (absent: the share's top level); nothing when the
/// share's target is gone or the folder is not one the share covers.
std::optional<SharePayload> payload(const Library& library, const Share& share,
                                    const std::optional<std::string>& folderID, std::string_view mac);

/// Compact UTF-8 JSON, keys in field order, dates as ISO 8601 in whole seconds, absent values left out.
std::string json(const SharePayload& payload);

} // namespace ShareAPI
