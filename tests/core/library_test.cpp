#include "core/library.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

Folder folder(std::string id, std::string name, std::optional<std::string> parent = std::nullopt) {
    return Folder{std::move(id), std::move(name), std::move(parent), Date{1}};
}

Item item(std::string id, std::optional<std::string> folderID, double created = 1) {
    return Item{.id = std::move(id), .folderID = std::move(folderID), .name = "n", .created = Date{created}};
}

Share share(std::string token, ShareTarget target, std::optional<Date> stopped = std::nullopt) {
    Share s;
    s.token = std::move(token);
    s.target = std::move(target);
    s.stopped = stopped;
    return s;
}

template <typename Record>
std::vector<std::string> ids(const std::vector<Record>& records) {
    std::vector<std::string> result;
    for (const auto& r : records) {
        result.push_back(r.id);
    }
    return result;
}

std::vector<std::string> tokens(const std::vector<Share>& shares) {
    std::vector<std::string> result;
    for (const auto& s : shares) {
        result.push_back(s.token);
    }
    return result;
}

/// Top ⊃ Inner ⊃ Deep, plus a second root folder Other.
Library tree() {
    Library library;
    library.folders = {folder("top", "Top"), folder("inner", "Inner", "top"), folder("deep", "Deep", "inner"),
                       folder("other", "Other")};
    return library;
}

} // namespace

TEST(LibraryTest, LookupsReturnTheFirstExactMatch) {
    Library library = tree();
    library.folders.push_back(folder("top", "Second top"));
    library.devices = {PairedDevice{.id = "d", .name = "Phone", .token = "secret"}};
    ASSERT_TRUE(library.folder(std::string("top")));
    EXPECT_EQ(library.folder(std::string("top"))->name, "Top");
    EXPECT_FALSE(library.folder(std::nullopt));
    EXPECT_FALSE(library.folder(std::string("TOP")));
    EXPECT_TRUE(library.device("secret"));
    EXPECT_FALSE(library.device("d")); // by token, not by id
}

TEST(LibraryTest, FoldersSortLikeAFileManagerKeepingListOrderForEqualNames) {
    Library library;
    library.folders = {folder("10", "a 10"),       folder("2", "A 2"),      folder("1", "a 1"),
                       folder("x", "Photos"),      folder("y", "photos"),   folder("child", "a 0", "1"),
                       folder("f10", "Folder 10"), folder("f2", "Folder 2")};
    EXPECT_EQ(ids(library.foldersIn(std::nullopt)),
              (std::vector<std::string>{"1", "2", "10", "f2", "f10", "x", "y"}));
    EXPECT_EQ(ids(library.foldersIn(std::string("1"))), std::vector<std::string>{"child"});
}

TEST(LibraryTest, ItemsAreNewestFirstAndStableForEqualInstants) {
    Library library;
    library.items = {item("old", std::nullopt, 1), item("same1", std::nullopt, 5),
                     item("new", std::nullopt, 9), item("same2", std::nullopt, 5),
                     item("elsewhere", std::string("f"), 7)};
    EXPECT_EQ(ids(library.itemsIn(std::nullopt)), (std::vector<std::string>{"new", "same1", "same2", "old"}));
    EXPECT_EQ(ids(library.allItemsNewestFirst()),
              (std::vector<std::string>{"new", "elsewhere", "same1", "same2", "old"}));
    library.items[0].receivedFrom = "Phone";
    library.items[4].receivedFrom = "browser";
    EXPECT_EQ(ids(library.receivedItems()), (std::vector<std::string>{"elsewhere", "old"}));
}

TEST(LibraryTest, ChildCountCountsFoldersAndItemsDirectlyInside) {
    Library library = tree();
    library.items = {item("i1", std::string("top")), item("i2", std::string("inner")),
                     item("i3", std::nullopt)};
    EXPECT_EQ(library.childCount("top"), 2u);   // Inner and i1
    EXPECT_EQ(library.childCount("inner"), 2u); // Deep and i2
    EXPECT_EQ(library.childCount("unknown"), 0u);
}

TEST(LibraryTest, PathsDescendantsAndContainment) {
    Library library = tree();
    library.folders.push_back(folder("orphan", "Orphan", "gone"));
    EXPECT_EQ(ids(library.path(std::string("deep"))), (std::vector<std::string>{"top", "inner", "deep"}));
    EXPECT_EQ(ids(library.path(std::string("orphan"))), std::vector<std::string>{"orphan"});
    EXPECT_TRUE(library.path(std::string("unknown")).empty());
    EXPECT_EQ(library.descendantFolderIDs("top"), (std::set<std::string>{"top", "inner", "deep"}));
    EXPECT_EQ(library.descendantFolderIDs("unknown"), std::set<std::string>{"unknown"});
    const std::optional<std::string> none;
    EXPECT_TRUE(library.folderIsInside(std::string("deep"), none));
    EXPECT_FALSE(library.folderIsInside(none, std::string("top")));
    EXPECT_TRUE(library.folderIsInside(std::string("deep"), std::string("top")));
    EXPECT_TRUE(library.folderIsInside(std::string("top"), std::string("top")));
    EXPECT_FALSE(library.folderIsInside(std::string("top"), std::string("deep")));
    EXPECT_FALSE(library.folderIsInside(std::string("deep"), std::string("other")));
    EXPECT_EQ(library.locationName(std::string("inner")), "Top \u203A Inner");
    EXPECT_FALSE(library.locationName(std::string("unknown")));
}

TEST(LibraryTest, CyclesInADamagedIndexEndEveryWalk) {
    Library library;
    library.folders = {folder("a", "A", "b"), folder("b", "B", "a")};
    EXPECT_EQ(ids(library.path(std::string("a"))), (std::vector<std::string>{"b", "a"}));
    EXPECT_FALSE(library.folderIsInside(std::string("a"), std::string("c")));
    EXPECT_TRUE(library.folderIsInside(std::string("a"), std::string("b")));
    EXPECT_EQ(library.descendantFolderIDs("a"), (std::set<std::string>{"a", "b"}));
    EXPECT_EQ(library.locationName(std::string("a")), "B \u203A A");
}

TEST(LibraryTest, FolderAndLibrarySharesCoverWhatIsBelowThem) {
    Library library = tree();
    const Item atRoot = item("root-item", std::nullopt);
    const Item deep = item("deep-item", std::string("deep"));
    const Item other = item("other-item", std::string("other"));
    const Share whole = share("w", ShareTarget::folder());
    const Share inner = share("f", ShareTarget::folder(std::string("inner")));
    EXPECT_TRUE(library.shareIncludes(whole, atRoot));
    EXPECT_TRUE(library.shareIncludes(whole, deep));
    EXPECT_FALSE(library.shareIncludes(inner, atRoot));
    EXPECT_TRUE(library.shareIncludes(inner, deep));
    EXPECT_FALSE(library.shareIncludes(inner, other));
    EXPECT_TRUE(library.shareIncludes(share("i", ShareTarget::item("deep-item")), deep));
    EXPECT_FALSE(library.shareIncludes(share("i", ShareTarget::item("deep-item")), other));
    EXPECT_FALSE(library.shareIncludes(share("x", ShareTarget::inbox()), atRoot));
}

TEST(LibraryTest, BundleSharesCoverListedItemsAndFoldersBelowListedFolders) {
    Library library = tree();
    library.bundles = {ShareBundle{.id = "b", .name = "B", .itemIDs = {"loose"}, .folderIDs = {"inner"}}};
    const Share s = share("s", ShareTarget::bundle("b"));
    EXPECT_TRUE(library.shareIncludes(s, item("loose", std::string("other"))));
    EXPECT_TRUE(library.shareIncludes(s, item("x", std::string("deep"))));
    // The parent of a bundled folder is not in the bundle.
    EXPECT_FALSE(library.shareIncludes(s, item("z", std::string("top"))));
    EXPECT_FALSE(library.shareIncludes(s, item("r", std::nullopt)));
    EXPECT_FALSE(
        library.shareIncludes(share("gone", ShareTarget::bundle("missing")), item("loose", std::nullopt)));
    EXPECT_FALSE(library.folderIsInBundle(std::nullopt, library.bundles[0]));
}

TEST(LibraryTest, ActiveShareSkipsStoppedAndExpiredAndPrefersTheEarliest) {
    Library library;
    const auto target = ShareTarget::item("i");
    Share expired = share("expired", target);
    expired.expires = Date{100};
    Share exact = share("exact", target);
    exact.expires = Date{50};
    library.shares = {share("stopped", target, Date{10}),
                      expired,
                      exact,
                      share("other", ShareTarget::item("j")),
                      share("first", target),
                      share("second", target)};
    EXPECT_EQ(library.activeShare(target, Date{50})->token, "expired");
    EXPECT_EQ(library.activeShare(target, Date{100})->token, "first");
    EXPECT_FALSE(library.activeShare(ShareTarget::folder(), Date{0}));
    // An absent folder id and a present one are different targets.
    library.shares.push_back(share("lib", ShareTarget::folder()));
    EXPECT_FALSE(library.activeShare(ShareTarget::folder(std::string("top")), Date{0}));
    EXPECT_EQ(library.activeShare(ShareTarget::folder(), Date{0})->token, "lib");
}

TEST(LibraryTest, FollowableSharesAreActiveFolderAndBundleSharesOnly) {
    Library library = tree();
    library.bundles = {ShareBundle{.id = "b", .name = "B", .itemIDs = {"i"}}};
    const Item it = item("i", std::string("deep"));
    library.items = {it};
    library.shares = {share("item", ShareTarget::item("i")),
                      share("whole", ShareTarget::folder()),
                      share("stopped", ShareTarget::folder(std::string("top")), Date{1}),
                      share("inner", ShareTarget::folder(std::string("inner"))),
                      share("other", ShareTarget::folder(std::string("other"))),
                      share("inbox", ShareTarget::inbox()),
                      share("bundle", ShareTarget::bundle("b"))};
    EXPECT_EQ(tokens(library.followableShares(it, Date{0})),
              (std::vector<std::string>{"whole", "inner", "bundle"}));
}

TEST(LibraryTest, DisplayNamesOfTargets) {
    Library library = tree();
    EXPECT_EQ(library.displayName(ShareTarget::folder()), "Library");
    EXPECT_EQ(library.displayName(ShareTarget::folder(std::string("gone"))), "Folder");
    EXPECT_EQ(library.displayName(ShareTarget::item("gone")), "Item");
    EXPECT_EQ(library.displayName(ShareTarget::bundle("gone")), "Several items");
    EXPECT_EQ(library.displayName(ShareTarget::inbox()), "Receive files");
}
