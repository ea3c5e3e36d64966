#include "core/share_api.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using ID = std::optional<std::string>;
using Ids = std::vector<std::string>;

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
    ShareAPITest() {
        folder("top", "Top", {});
        folder("zeta", "Zeta", {});
        folder("shared", "Shared", "top");
        folder("other", "Other", "top");
        folder("sub", "Sub", "shared");
        folder("deeper", "Deeper", "sub");
        // Sizes are a hundred times the creation instant.
        library.items = {
            Item{"root", std::nullopt, ItemKind::file, "root.txt", 1000, Date{10}, {}, "Phone"},
            Item{"old", "shared", ItemKind::text, "b-note", 2000, Date{20}, "remember", "Phone"},
            Item{"new", "shared", ItemKind::link, "c-link", 3000, Date{30}, "https://example.org/", "Phone"},
            Item{"deep", "sub", ItemKind::file, "deep.txt", 4000, Date{40}, {}, "Phone"},
            Item{"elsewhere", "other", ItemKind::file, "other.txt", 5000, Date{50}, {}, "Phone"}};
    }

    void folder(std::string id, std::string name, ID parent) {
        library.folders.push_back({id, name, parent});
    }

    static Share shareOf(ShareTarget target, bool allowsUploads = true) {
        return Share{"tok", std::move(target), Date{}, ShareDuration::day, Date{1000}, 0, allowsUploads};
    }

    std::optional<SharePayload> ask(const ShareTarget& target, const ID& folderID = std::nullopt) const {
        return ShareAPI::payload(library, shareOf(target), folderID, "Desk");
    }

    Library library;
};

/// The trail as "id:name" crumbs ("-" for no id), then the folders and the items listed, by id.
std::string shown(const std::optional<SharePayload>& p) {
    if (!p) {
        return "nothing";
    }
    std::string text;
    for (const auto& crumb : p->path) {
        text += crumb.id.value_or("-") + ":" + crumb.name + " ";
    }
    text += "| ";
    for (const auto& folder : p->folders) {
        text += folder.id + "(" + std::to_string(folder.count) + ") ";
    }
    text += "|";
    for (const auto& item : p->items) {
        text += " " + item.id;
    }
    return text;
}

} // namespace

TEST_F(ShareAPITest, FolderSharesListTheAskedFolderAndTrailFromTheSharedFolderDown) {
    folder("a10", "a 10", std::nullopt);
    folder("a2", "A 2", std::nullopt);
    const auto top = ask(ShareTarget::folder());
    ASSERT_TRUE(top);
    EXPECT_EQ(std::tie(top->title, top->mac, top->inbox, top->expires, top->canUpload),
              std::make_tuple("Library", "Desk", false, Date{1000}, true));
    EXPECT_FALSE(top->folderID || top->followURL);
    EXPECT_EQ(shown(top), "-:Library | a2(0) a10(0) top(2) zeta(0) | root");
    EXPECT_EQ(shown(ask(ShareTarget::folder(), "shared")),
              "-:Library top:Top shared:Shared | sub(2) | new old");
    EXPECT_EQ(shown(ask(ShareTarget::folder("shared"))), "shared:Shared | sub(2) | new old");
    EXPECT_EQ(ask(ShareTarget::folder("shared"))->folderID, "shared");
    // Top lies above the shared folder: its name must not show up in the trail.
    EXPECT_EQ(shown(ask(ShareTarget::folder("shared"), "deeper")), "shared:Shared sub:Sub deeper:Deeper | |");
    // Above the share, beside it, gone; and a cycle in a damaged index ends.
    folder("loopA", "Loop A", "loopB");
    folder("loopB", "Loop B", "loopA");
    EXPECT_EQ(shown(ask(ShareTarget::folder("loopA"), "loopB")), "loopA:Loop A loopB:Loop B | loopA(1) |");
    for (const char* asked : {"top", "other", "gone", "loopA"}) {
        EXPECT_FALSE(ask(ShareTarget::folder("shared"), asked)) << asked;
    }
    EXPECT_FALSE(ask(ShareTarget::folder(), "gone"));
    EXPECT_FALSE(ask(ShareTarget::folder("removed")));
}

TEST_F(ShareAPITest, ItemShareListsTheOneItemAndInboxOnlyOffersUpload) {
    // The asked folder means nothing to an item share.
    const auto p = ShareAPI::payload(library, shareOf(ShareTarget::item("old"), false), "sub", "Desk");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->title, "b-note");
    EXPECT_FALSE(p->folderID || p->canUpload);
    EXPECT_EQ(shown(p), "| | old");
    EXPECT_EQ(p->items[0],
              (SharePayload::ItemEntry{"old", ItemKind::text, "b-note", 2000, Date{20}, "remember"}));
    EXPECT_FALSE(ask(ShareTarget::item("gone")));

    Share inbox = shareOf(ShareTarget::inbox(), false);
    inbox.expires.reset();
    const auto in = ShareAPI::payload(library, inbox, "shared", "Kim's Desk");
    ASSERT_TRUE(in);
    EXPECT_EQ(in->title, "Send to Kim's Desk");
    EXPECT_TRUE(in->inbox && in->canUpload);
    EXPECT_FALSE(in->expires || in->folderID);
    EXPECT_EQ(shown(in), "| |");
}

TEST_F(ShareAPITest, BundleSharesKeepBundleOrderAndTrailFromTheFirstMemberHoldingTheFolder) {
    folder("s2", "Alpha", "shared");
    library.bundles.push_back(ShareBundle{"b", "Picks", Ids{"old", "gone", "root", "new"},
                                          Ids{"zeta", "deleted", "shared", "sub"}});
    const auto top = ask(ShareTarget::bundle("b"));
    ASSERT_TRUE(top);
    EXPECT_EQ(top->title, "Picks");
    EXPECT_EQ(shown(top), "-:Picks | zeta(0) shared(4) sub(2) | old root new");
    EXPECT_EQ(shown(ask(ShareTarget::bundle("b"), "shared")),
              "-:Picks shared:Shared | s2(0) sub(2) | new old");
    // Sub, listed before Shared, starts the trail; Top holds a member but is no part of the bundle.
    library.bundles[0].folderIDs = {"sub", "shared", "missing"};
    EXPECT_EQ(shown(ask(ShareTarget::bundle("b"), "deeper")), "-:Picks sub:Sub deeper:Deeper | |");
    for (const ID& asked : {ID("top"), ID("other"), ID("missing")}) {
        EXPECT_FALSE(ask(ShareTarget::bundle("b"), asked)) << *asked;
    }
    EXPECT_FALSE(ask(ShareTarget::bundle("gone")));
}

// The browser tests read the values; here every key the page reads must be present.
TEST(ShareAPIJsonTest, EveryKeyThePageReads) {
    SharePayload p;
    p.expires = Date{0};
    p.path = {{.id = "f1", .name = "Shared"}};
    p.folderID = "f1";
    p.folders = {{.id = "f2", .name = "Sub \"q\"\n", .count = 3}};
    p.items = {SharePayload::ItemEntry{"i1", ItemKind::text, "Note", 5, Date{0}, "hi"}};
    p.followURL = "https://relay.example/tok/follow";
    const std::string json = ShareAPI::json(p);
    for (const char* key :
         {"mac", "title", "inbox", "expires", "canUpload", "path", "folderID", "folders", "count", "items",
          "id", "kind", "name", "size", "created", "content", "followURL"}) {
        EXPECT_NE(json.find("\"" + std::string(key) + "\":"), std::string::npos) << key << " in " << json;
    }
    EXPECT_NE(json.find(R"("Sub \"q\"\n")"), std::string::npos) << json; // a name cannot end its string
}

TEST(DateTest, TextStaysADateWhateverADamagedIndexHolds) {
    EXPECT_EQ(Date{86400 * 365 + 3661.9}.iso8601(), "2002-01-01T01:01:01Z");
    EXPECT_EQ(Date{1e300}.iso8601(), "9999-12-31T23:59:59Z");
    EXPECT_EQ(Date{-1e300}.iso8601(), "0000-01-01T00:00:00Z");
    EXPECT_EQ(Date{std::nan("")}.iso8601(), "1970-01-01T00:00:00Z");
}
