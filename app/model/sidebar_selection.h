#pragma once

#include <optional>
#include <string>

/// What the explorer shows: one library folder, every item, what arrived from others, the shared links
/// or the paired phones.
class SidebarSelection {
public:
    enum class Kind { folder, all, received, shared, phones };

    SidebarSelection() = default;
    static SidebarSelection folder(std::string id) { return SidebarSelection(Kind::folder, std::move(id)); }
    static SidebarSelection all() { return SidebarSelection(Kind::all, {}); }
    static SidebarSelection received() { return SidebarSelection(Kind::received, {}); }
    static SidebarSelection shared() { return SidebarSelection(Kind::shared, {}); }
    static SidebarSelection phones() { return SidebarSelection(Kind::phones, {}); }

    Kind kind() const { return kind_; }
    /// The folder's id for a folder selection; absent otherwise.
    const std::optional<std::string>& folderID() const { return folderID_; }

    friend bool operator==(const SidebarSelection&, const SidebarSelection&) = default;

private:
    SidebarSelection(Kind kind, std::optional<std::string> folderID)
        : kind_(kind)
        , folderID_(std::move(folderID)) {}

    Kind kind_ = Kind::all;
    std::optional<std::string> folderID_;
};
