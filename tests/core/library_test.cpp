#include "core/library.h"

#include <gtest/gtest.h>

namespace {

using Ids = std::vector<std::string>;

Share share(std::string token, ShareTarget target, std::optional<Date> stopped = std::nullopt,
            std::optional<Date> expires = std::nullopt) {
    return Share{std::move(token), std::move(target), Date{}, ShareDuration::day, expires, 0, true, stopped};
}

Ids tokens(const std::vector<Share>& shares) {
    Ids result;
    for (const auto& s : shares) {
        result.push_back(s.token);
    }
    return result;
}

/// Top ⊃ Inner ⊃ Deep, a second root folder Other, and A and B, each the other's parent in a damaged index.
Library tree() {
    Library library;
    for (const auto& [id, parent] :
         std::vector<std::pair<std::string, std::optional<std::string>>>{{"top", std::nullopt},
                                                                         {"inner", "top"},
                                                                         {"deep", "inner"},
                                                                         {"other", std::nullopt},
                                                                         {"a", "b"},
                                                                         {"b", "a"}}) {
        library.folders.push_back(Folder{id, id, parent});
    }
    return library;
}

} // namespace

TEST(LibraryTest, TreeWalksEndEvenOnTheCyclesOfADamagedIndex) {
    const Library library = tree();
    EXPECT_EQ(library.locationName("deep"), "top \u203A inner \u203A deep");
    EXPECT_EQ(library.locationName("a"), "b \u203A a");
    EXPECT_EQ(library.descendantFolderIDs("top"), (std::set<std::string>{"top", "inner", "deep"}));
    EXPECT_EQ(library.descendantFolderIDs("a"), (std::set<std::string>{"a", "b"}));
    EXPECT_TRUE(library.folderIsInside("deep", std::nullopt));
    EXPECT_TRUE(library.folderIsInside("top", "top"));
    EXPECT_FALSE(library.folderIsInside("top", "deep"));
    EXPECT_FALSE(library.folderIsInside("a", "top"));
}

TEST(LibraryTest, WhatAShareCovers) {
    Library library = tree();
    library.bundles = {ShareBundle{"b", "B", {"loose"}, {"inner"}}};
    const auto item = [](std::string id, std::optional<std::string> folder) { return Item{id, folder}; };
    const Share whole = share("whole", ShareTarget::folder()),
                inner = share("inner", ShareTarget::folder("inner"));
    const Share bundle = share("bundle", ShareTarget::bundle("b")),
                one = share("one", ShareTarget::item("i"));
    EXPECT_TRUE(library.shareIncludes(whole, item("x", std::nullopt)));
    EXPECT_TRUE(library.shareIncludes(inner, item("x", "deep")));
    EXPECT_FALSE(library.shareIncludes(inner, item("x", "top")));
    EXPECT_TRUE(library.shareIncludes(one, item("i", "other")));
    EXPECT_FALSE(library.shareIncludes(one, item("j", "other")));
    EXPECT_FALSE(library.shareIncludes(share("inbox", ShareTarget::inbox()), item("x", std::nullopt)));
    EXPECT_TRUE(library.shareIncludes(bundle, item("loose", "other")));
    EXPECT_TRUE(library.shareIncludes(bundle, item("x", "deep")));
    EXPECT_FALSE(
        library.shareIncludes(bundle, item("x", "top"))); // the parent of a bundled folder is not in it
    EXPECT_FALSE(
        library.shareIncludes(share("gone", ShareTarget::bundle("missing")), item("loose", std::nullopt)));

    library.items = {item("i", "deep")};
    library.shares = {one,
                      whole,
                      share("stopped", ShareTarget::folder("top"), Date{1}),
                      inner,
                      share("other", ShareTarget::folder("other")),
                      share("inbox", ShareTarget::inbox()),
                      bundle};
    library.bundles[0].itemIDs = {"i"};
    EXPECT_EQ(tokens(library.followableShares(library.items[0], Date{0})), (Ids{"whole", "inner", "bundle"}));
}

TEST(LibraryTest, ActiveShareSkipsStoppedAndExpiredAndPrefersTheEarliest) {
    Library library;
    const auto target = ShareTarget::item("i");
    library.shares = {share("stopped", target, Date{10}),
                      share("expired", target, std::nullopt, Date{100}),
                      share("exact", target, std::nullopt, Date{50}),
                      share("other", ShareTarget::item("j")),
                      share("first", target),
                      share("second", target),
                      share("lib", ShareTarget::folder())};
    EXPECT_EQ(library.activeShare(target, Date{50})->token, "expired");
    EXPECT_EQ(library.activeShare(target, Date{100})->token, "first");
    // An absent folder id and a present one are different targets.
    EXPECT_FALSE(library.activeShare(ShareTarget::folder("top"), Date{0}));
    EXPECT_EQ(library.activeShare(ShareTarget::folder(), Date{0})->token, "lib");
}
