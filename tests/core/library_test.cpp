#include "core/library.h"

#include <gtest/gtest.h>

namespace {

/// Top ⊃ Inner ⊃ Deep, a second root folder Other, and A and B, each the other's parent in a damaged index.
Library tree() {
    Library library;
    const std::pair<const char*, const char*> parents[] = {
        {"top", nullptr}, {"inner", "top"}, {"deep", "inner"}, {"other", nullptr}, {"a", "b"}, {"b", "a"}};
    for (const auto& [id, parent] : parents) {
        library.folders.push_back(Folder{id, id, parent ? std::optional<std::string>(parent) : std::nullopt});
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
    const struct {
        ShareTarget target;
        std::string item;
        std::optional<std::string> folder;
        bool included;
    } cases[] = {
        {ShareTarget::folder(), "x", std::nullopt, true},
        {ShareTarget::folder("inner"), "x", "deep", true},
        {ShareTarget::folder("inner"), "x", "top", false},
        {ShareTarget::item("i"), "i", "other", true},
        {ShareTarget::item("i"), "j", "other", false},
        {ShareTarget::inbox(), "x", std::nullopt, false},
        {ShareTarget::bundle("b"), "loose", "other", true},
        {ShareTarget::bundle("b"), "x", "deep", true},
        {ShareTarget::bundle("b"), "x", "top", false}, // the parent of a bundled folder is not in it
        {ShareTarget::bundle("missing"), "loose", std::nullopt, false},
    };
    for (const auto& c : cases) {
        const Share share{"t", c.target, Date{}, ShareDuration::day};
        EXPECT_EQ(library.shareIncludes(share, Item{c.item, c.folder}), c.included)
            << library.displayName(c.target) << " " << c.item;
    }
}
