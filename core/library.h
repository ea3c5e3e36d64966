#pragma once

#include "folder.h"
#include "item.h"
#include "paired_device.h"
#include "share.h"
#include "share_bundle.h"

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

/// Everything the application remembers: folders, items, shares, bundles, paired phones and the
/// folders that receive what each sender sends. A plain value; the store owns the master copy and
/// everyone else reads copies. The queries below never change it.
struct Library {
    /// In creation order.
    std::vector<Folder> folders;
    /// In the order they were added.
    std::vector<Item> items;
    /// Active and past, in creation order.
    std::vector<Share> shares;
    /// In creation order.
    std::vector<ShareBundle> bundles;
    /// In pairing order.
    std::vector<PairedDevice> devices;
    /// Sender key (a phone's id, or "browser:" + a sender label) to the id of its receiving folder.
    std::map<std::string, std::string> deviceFolders;

    friend bool operator==(const Library&, const Library&) = default;

    // Lookups: the first record in list order whose id (or token) is exactly the one given.

    std::optional<Folder> folder(const std::optional<std::string>& id) const;
    std::optional<Item> item(std::string_view id) const;
    std::optional<ShareBundle> bundle(std::string_view id) const;
    /// The share with that token, active or not.
    std::optional<Share> share(std::string_view token) const;
    /// The paired phone whose secret token this is.
    std::optional<PairedDevice> device(std::string_view token) const;

    // Listings.

    /// The folders directly in `parentID` (the root when absent), sorted by name as a file manager
    /// sorts them; equal names keep their list order.
    std::vector<Folder> foldersIn(const std::optional<std::string>& parentID) const;
    /// The items directly in `folderID`, newest first; equal instants keep their list order.
    std::vector<Item> itemsIn(const std::optional<std::string>& folderID) const;
    /// Folders plus items directly in the folder.
    std::size_t childCount(std::string_view folderID) const;
    /// The items that arrived from a sender, newest first.
    std::vector<Item> receivedItems() const;
    /// Every item, newest first.
    std::vector<Item> allItemsNewestFirst() const;

    // The folder tree.

    /// The folders from the root down to `folderID`, both ends included; empty for an unknown id.
    /// Stops at a cycle, so a damaged index cannot hang it.
    std::vector<Folder> path(const std::optional<std::string>& folderID) const;
    /// `folderID` and the ids of all folders below it.
    std::set<std::string> descendantFolderIDs(const std::string& folderID) const;
    /// Whether folder `a` is `b` or lies below it; anything is inside the root (`b` absent).
    bool folderIsInside(const std::optional<std::string>& a, const std::optional<std::string>& b) const;
    /// Whether the folder is one of the bundle's folders or lies below one.
    bool folderIsInBundle(const std::optional<std::string>& folderID, const ShareBundle& bundle) const;

    // Shares.

    /// Whether the share's target covers the item.
    bool shareIncludes(const Share& share, const Item& item) const;
    /// The first share for exactly this target that is active at `now`.
    std::optional<Share> activeShare(const ShareTarget& target, Date now) const;
    /// The active folder and bundle shares that cover the item (never item or inbox shares).
    std::vector<Share> followableShares(const Item& item, Date now) const;

    // Names.

    /// The folder's path as text, joined by " › "; nothing for the root or an unknown folder.
    std::optional<std::string> locationName(const std::optional<std::string>& folderID) const;
    /// The name shown for what a share points at.
    std::string displayName(const ShareTarget& target) const;

private:
    const Folder* findFolder(std::string_view id) const;
    /// Whether `folderID` or any folder above it has the id `ancestorID`.
    bool pathContains(std::string_view folderID, std::string_view ancestorID) const;
};
