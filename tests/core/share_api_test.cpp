#include "core/share_api.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace {

using Crumb = SharePayload::Crumb;
using Json = nlohmann::json;

/// A library with a small tree:
///   Top/          (root folder)
///     Shared/     holds b-note (older) and c-link (newer), and Sub/
///       Sub/      holds deep.txt and Deeper/
///         Deeper/
///     Other/      holds other.txt
///   Zeta/         (root folder, empty)
///   root.txt      (at the root)
class ShareAPITest : public ::testing::Test {
protected:
    void SetUp() override {
        folder("top", "Top", std::nullopt);
        folder("zeta", "Zeta", std::nullopt);
        folder("shared", "Shared", "top");
        folder("other", "Other", "top");
        folder("sub", "Sub", "shared");
        folder("deeper", "Deeper", "sub");
        item("root", "root.txt", std::nullopt, ItemKind::file, 10);
        item("old", "b-note", "shared", ItemKind::text, 20, "remember");
        item("new", "c-link", "shared", ItemKind::link, 30, "https://example.org/");
        item("deep", "deep.txt", "sub", ItemKind::file, 40);
        item("elsewhere", "other.txt", "other", ItemKind::file, 50);
    }

    void folder(std::string id, std::string name, std::optional<std::string> parent) {
        library.folders.push_back(
            {.id = std::move(id), .name = std::move(name), .parentID = std::move(parent)});
    }

    void item(std::string id, std::string name, std::optional<std::string> folderID, ItemKind kind,
              double created, std::optional<std::string> content = std::nullopt) {
        library.items.push_back({.id = std::move(id),
                                 .folderID = std::move(folderID),
                                 .kind = kind,
                                 .name = std::move(name),
                                 .size = static_cast<std::int64_t>(created) * 100,
                                 .created = Date{created},
                                 .content = std::move(content),
                                 .receivedFrom = "Phone"});
    }

    static Share shareOf(ShareTarget target) {
        Share s;
        s.token = "tok";
        s.target = std::move(target);
        s.expires = Date{1000};
        return s;
    }

    std::optional<SharePayload> ask(const ShareTarget& target,
                                    const std::optional<std::string>& folderID = std::nullopt) const {
        return ShareAPI::payload(library, shareOf(target), folderID, "Desk");
    }

    static std::vector<std::string> folderIDs(const SharePayload& p) {
        std::vector<std::string> ids;
        for (const auto& f : p.folders) {
            ids.push_back(f.id);
        }
        return ids;
    }

    static std::vector<std::string> itemIDs(const SharePayload& p) {
        std::vector<std::string> ids;
        for (const auto& i : p.items) {
            ids.push_back(i.id);
        }
        return ids;
    }

    Library library;
};

using Ids = std::vector<std::string>;

// Folder shares: the whole library and one folder.

TEST_F(ShareAPITest, WholeLibraryTopLevelListsRootInNameOrder) {
    folder("a10", "a 10", std::nullopt);
    folder("a2", "A 2", std::nullopt);
    const auto p = ask(ShareTarget::folder());
    ASSERT_TRUE(p);
    EXPECT_EQ(p->title, "Library");
    EXPECT_EQ(p->path, (std::vector<Crumb>{{.id = std::nullopt, .name = "Library"}}));
    EXPECT_FALSE(p->folderID);
    EXPECT_EQ(folderIDs(*p), (Ids{"a2", "a10", "top", "zeta"}));
    EXPECT_EQ(itemIDs(*p), (Ids{"root"}));
    EXPECT_EQ(p->folders[2].count, 2); // Top holds Shared and Other
    EXPECT_EQ(p->folders[3].count, 0);
    EXPECT_EQ(p->mac, "Desk");
    EXPECT_FALSE(p->inbox);
    EXPECT_EQ(p->expires, Date{1000});
    EXPECT_TRUE(p->canUpload);
    EXPECT_FALSE(p->followURL);
}

TEST_F(ShareAPITest, WholeLibraryTwoLevelsDownTrailsEveryFolderTopDown) {
    const auto p = ask(ShareTarget::folder(), "shared");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->path, (std::vector<Crumb>{
                           {.id = std::nullopt, .name = "Library"},
                           {.id = "top", .name = "Top"},
                           {.id = "shared", .name = "Shared"},
                       }));
    EXPECT_EQ(p->folderID, "shared");
    EXPECT_EQ(folderIDs(*p), (Ids{"sub"}));
    EXPECT_EQ(p->folders[0].count, 2); // deep.txt and Deeper
    EXPECT_EQ(itemIDs(*p), (Ids{"new", "old"}));
}

TEST_F(ShareAPITest, SharedFolderTrailsOnlyFromItselfDown) {
    const auto implicit = ask(ShareTarget::folder("shared"));
    ASSERT_TRUE(implicit);
    EXPECT_EQ(implicit->title, "Shared");
    EXPECT_EQ(implicit->path, (std::vector<Crumb>{{.id = "shared", .name = "Shared"}}));
    EXPECT_EQ(implicit->folderID, "shared");
    EXPECT_EQ(itemIDs(*implicit), (Ids{"new", "old"}));
    EXPECT_EQ(ask(ShareTarget::folder("shared"), "shared"), implicit);
    // Top lies above the shared folder: its name must not show up in the trail.
    const auto p = ask(ShareTarget::folder("shared"), "deeper");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->path, (std::vector<Crumb>{
                           {.id = "shared", .name = "Shared"},
                           {.id = "sub", .name = "Sub"},
                           {.id = "deeper", .name = "Deeper"},
                       }));
}

TEST_F(ShareAPITest, FolderOutsideTheShareOrMissingShowsNothing) {
    EXPECT_FALSE(ask(ShareTarget::folder("shared"), "top"));   // above the share
    EXPECT_FALSE(ask(ShareTarget::folder("shared"), "other")); // beside it
    EXPECT_FALSE(ask(ShareTarget::folder("shared"), "gone"));
    EXPECT_FALSE(ask(ShareTarget::folder(), "gone"));
    EXPECT_FALSE(ask(ShareTarget::folder("removed")));
}

TEST_F(ShareAPITest, FolderShareDoesNotHangOnACycle) {
    folder("loopA", "Loop A", "loopB");
    folder("loopB", "Loop B", "loopA");
    const auto p = ask(ShareTarget::folder("loopA"), "loopB");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->path,
              (std::vector<Crumb>{{.id = "loopA", .name = "Loop A"}, {.id = "loopB", .name = "Loop B"}}));
    EXPECT_FALSE(ask(ShareTarget::folder("shared"), "loopA"));
}

// Item and inbox shares.

TEST_F(ShareAPITest, ItemShareListsTheOneItemWhateverFolderIsAsked) {
    Share s = shareOf(ShareTarget::item("old"));
    s.allowsUploads = false;
    for (const auto& folderID : {std::optional<std::string>(), std::optional<std::string>("sub")}) {
        const auto p = ShareAPI::payload(library, s, folderID, "Desk");
        ASSERT_TRUE(p);
        EXPECT_EQ(p->title, "b-note");
        EXPECT_TRUE(p->path.empty());
        EXPECT_TRUE(p->folders.empty());
        EXPECT_FALSE(p->folderID);
        EXPECT_FALSE(p->canUpload);
        ASSERT_EQ(p->items.size(), 1u);
        EXPECT_EQ(p->items[0], (SharePayload::ItemEntry{.id = "old",
                                                        .kind = ItemKind::text,
                                                        .name = "b-note",
                                                        .size = 2000,
                                                        .created = Date{20},
                                                        .content = "remember"}));
    }
    EXPECT_FALSE(ask(ShareTarget::item("gone")));
}

TEST_F(ShareAPITest, InboxAlwaysOffersUploadAndShowsNothing) {
    Share s = shareOf(ShareTarget::inbox());
    s.allowsUploads = false;
    s.expires.reset();
    const auto p = ShareAPI::payload(library, s, "shared", "Kim's Desk");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->title, "Send to Kim's Desk");
    EXPECT_TRUE(p->inbox);
    EXPECT_TRUE(p->canUpload);
    EXPECT_FALSE(p->expires);
    EXPECT_TRUE(p->path.empty());
    EXPECT_FALSE(p->folderID);
    EXPECT_TRUE(p->folders.empty());
    EXPECT_TRUE(p->items.empty());
}

// Bundle shares.

TEST_F(ShareAPITest, BundleTopLevelKeepsBundleOrderAndSkipsDeletedMembers) {
    library.bundles.push_back({.id = "b",
                               .name = "Picks",
                               .itemIDs = {"old", "gone", "root", "new"},
                               .folderIDs = {"zeta", "deleted", "sub"}});
    const auto p = ask(ShareTarget::bundle("b"), std::nullopt);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->title, "Picks");
    EXPECT_EQ(p->path, (std::vector<Crumb>{{.id = std::nullopt, .name = "Picks"}}));
    EXPECT_FALSE(p->folderID);
    EXPECT_EQ(folderIDs(*p), (Ids{"zeta", "sub"}));
    EXPECT_EQ(p->folders[1].count, 2);
    EXPECT_EQ(itemIDs(*p), (Ids{"old", "root", "new"}));
}

TEST_F(ShareAPITest, BundleMemberFolderListsInDisplayOrderAndTrailsFromTheMember) {
    folder("s2", "Alpha", "shared");
    library.bundles.push_back({.id = "b", .name = "Picks", .itemIDs = {}, .folderIDs = {"shared"}});
    const auto member = ask(ShareTarget::bundle("b"), "shared");
    ASSERT_TRUE(member);
    EXPECT_EQ(member->path, (std::vector<Crumb>{{.id = std::nullopt, .name = "Picks"},
                                                {.id = "shared", .name = "Shared"}}));
    EXPECT_EQ(member->folderID, "shared");
    EXPECT_EQ(folderIDs(*member), (Ids{"s2", "sub"}));
    EXPECT_EQ(itemIDs(*member), (Ids{"new", "old"}));

    // Top holds the member but is no part of the bundle, so it stays out of the trail.
    const auto deep = ask(ShareTarget::bundle("b"), "deeper");
    ASSERT_TRUE(deep);
    EXPECT_EQ(deep->path, (std::vector<Crumb>{
                              {.id = std::nullopt, .name = "Picks"},
                              {.id = "shared", .name = "Shared"},
                              {.id = "sub", .name = "Sub"},
                              {.id = "deeper", .name = "Deeper"},
                          }));
}

TEST_F(ShareAPITest, BundleTrailStartsAtTheFirstMemberInBundleOrder) {
    library.bundles.push_back({.id = "b", .name = "Picks", .itemIDs = {}, .folderIDs = {"sub", "shared"}});
    const auto p = ask(ShareTarget::bundle("b"), "deeper");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->path.size(), 3u);
    EXPECT_EQ(p->path.at(1).id, "sub");
}

TEST_F(ShareAPITest, BundleFolderOutsideTheBundleOrGoneShowsNothing) {
    library.bundles.push_back(
        {.id = "b", .name = "Picks", .itemIDs = {"root"}, .folderIDs = {"sub", "missing"}});
    EXPECT_FALSE(ask(ShareTarget::bundle("b"), "shared")); // the member's parent
    EXPECT_FALSE(ask(ShareTarget::bundle("b"), "other"));
    EXPECT_FALSE(ask(ShareTarget::bundle("b"), "missing")); // a member id that names no folder
    EXPECT_FALSE(ask(ShareTarget::bundle("gone")));
    EXPECT_TRUE(ask(ShareTarget::bundle("b"), "sub"));
}

// The wire form.

TEST(ShareAPIJsonTest, ExactCompactTextInFieldOrder) {
    SharePayload p;
    p.mac = "Desk";
    p.title = "Shared";
    p.expires = Date::fromUnix(1740821400.75);
    p.canUpload = true;
    p.path = {{.id = std::nullopt, .name = "Library"}, {.id = "f1", .name = "Shared"}};
    p.folderID = "f1";
    p.folders = {{.id = "f2", .name = "Sub \"q\"", .count = 3}};
    p.items = {{.id = "i1",
                .kind = ItemKind::text,
                .name = "Note",
                .size = 5000000000,
                .created = Date{0},
                .content = "hi\n"},
               {.id = "i2", .kind = ItemKind::file, .name = "a.txt", .size = 0, .created = Date{-0.5}}};
    p.followURL = "https://relay.example/tok/follow";
    EXPECT_EQ(
        ShareAPI::json(p),
        R"({"mac":"Desk","title":"Shared","inbox":false,"expires":"2025-03-01T09:30:00Z","canUpload":true,)"
        R"("path":[{"name":"Library"},{"id":"f1","name":"Shared"}],"folderID":"f1",)"
        R"("folders":[{"id":"f2","name":"Sub \"q\"","count":3}],)"
        R"("items":[{"id":"i1","kind":"text","name":"Note","size":5000000000,)"
        R"("created":"2001-01-01T00:00:00Z","content":"hi\n"},)"
        R"({"id":"i2","kind":"file","name":"a.txt","size":0,"created":"2000-12-31T23:59:59Z"}],)"
        R"("followURL":"https://relay.example/tok/follow"})");
}

TEST(ShareAPIJsonTest, InvalidUTF8BecomesReplacementCharacter) {
    SharePayload p;
    p.mac = "Desk\xff";
    p.folders = {{.id = "f", .name = std::string("bad\xc3(", 5), .count = 1}};
    const std::string text = ShareAPI::json(p);
    const Json parsed = Json::parse(text);
    EXPECT_EQ(parsed["mac"], "Desk\xEF\xBF\xBD");
    EXPECT_EQ(parsed["folders"][0]["name"], "bad\xEF\xBF\xBD(");
}

TEST_F(ShareAPITest, PayloadJsonShowsNoteContentButNotFileContentOrPrivateFields) {
    const auto p = ask(ShareTarget::folder(), "shared");
    ASSERT_TRUE(p);
    SharePayload withFile = *p;
    withFile.items.push_back(SharePayload::ItemEntry{.id = "root", .name = "root.txt", .size = 1000});
    const Json parsed = Json::parse(ShareAPI::json(withFile));
    ASSERT_EQ(parsed["items"].size(), 3u);
    EXPECT_EQ(parsed["items"][0]["content"], "https://example.org/");
    EXPECT_EQ(parsed["items"][1]["kind"], "text");
    EXPECT_EQ(parsed["items"][1]["content"], "remember");
    EXPECT_FALSE(parsed["items"][2].contains("content"));
    for (const auto& entry : parsed["items"]) {
        EXPECT_FALSE(entry.contains("folderID"));
        EXPECT_FALSE(entry.contains("receivedFrom"));
    }
}

} // namespace
