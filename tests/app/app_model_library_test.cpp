// The library side of the model: what the explorer lists, picking, opening, adding, moving and deleting.
#include "model_fixture.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> names(const std::vector<ListRow>& rows) {
    std::vector<std::string> result;
    for (const auto& row : rows) {
        result.push_back(row.name());
    }
    return result;
}

} // namespace

using ModelLibraryTest = ModelFixture;

TEST_F(ModelLibraryTest, EachSelectionListsItsOwnRowsAndASearchLooksEverywhere) {
    const auto work = store.addFolder("Work", std::nullopt);
    const auto photos = store.addFolder("Photos", work.id);
    store.addFile(makeFile("sent.jpg"), work.id, std::string("Ana"), false);
    clock.advance(1);
    addItem("top.txt");
    addItem("\u00C9t\u00E9 PHOTO.jpg", photos.id);
    const std::pair<SidebarSelection, std::vector<std::string>> cases[] = {
        {SidebarSelection::all(), {"\u00C9t\u00E9 PHOTO.jpg", "top.txt", "sent.jpg"}},
        {SidebarSelection::folder(work.id), {"Photos", "sent.jpg"}},
        {SidebarSelection::received(), {"sent.jpg"}},
        {SidebarSelection::phones(), {}},
    };
    for (const auto& [selection, expected] : cases) {
        model->setSelection(selection);
        EXPECT_EQ(names(model->rows()), expected);
    }
    // Spaces alone are no search; a search ignores the selection and case, beyond ASCII too.
    model->setSelection(SidebarSelection::folder(photos.id));
    model->setSearch(" \t ");
    EXPECT_EQ(names(model->rows()), std::vector<std::string>{"\u00C9t\u00E9 PHOTO.jpg"});
    model->setSearch(" photo\t");
    EXPECT_EQ(names(model->rows()), (std::vector<std::string>{"Photos", "\u00C9t\u00E9 PHOTO.jpg"}));
    model->setSearch("\u00E9T\u00C9");
    EXPECT_EQ(names(model->rows()), std::vector<std::string>{"\u00C9t\u00E9 PHOTO.jpg"});
}

TEST_F(ModelLibraryTest, ClicksPickAsCommandAndShiftSay) {
    for (const char* name : {"d.txt", "c.txt", "b.txt", "a.txt"}) {
        addItem(name);
    }
    const auto rows = model->rows(); // a, b, c, d: newest first
    // Each click is {row, command, shift}.
    const std::tuple<std::vector<std::array<int, 3>>, std::vector<int>, int> cases[] = {
        {{{2, 0, 1}}, {2}, 2},                                // shift without an anchor is a plain click
        {{{2, 0, 0}, {0, 0, 1}, {3, 0, 1}}, {2, 0, 1, 3}, 2}, // shift extends from the anchor, which stays
        {{{0, 0, 0}, {2, 1, 0}, {0, 1, 0}}, {2}, 2},          // command toggles, the anchor stays on removal
        {{{0, 0, 0}, {2, 1, 0}, {0, 1, 0}, {1, 0, 1}}, {2, 1}, 2},
    };
    for (const auto& [clicks, picked, anchor] : cases) {
        model->clearPicks();
        std::vector<ShareTarget> expected;
        for (const auto& [row, command, shift] : clicks) {
            model->click(rows[row], command, shift, rows);
        }
        for (const int row : picked) {
            expected.push_back(rows[row].target());
        }
        EXPECT_EQ(model->picked(), expected) << clicks.size() << " clicks";
        EXPECT_EQ(model->pickAnchor(), rows[anchor].target());
    }
    // An anchor no longer on the list: Shift is a plain click.
    model->click(rows[1], false, false, rows);
    const std::vector<ListRow> others(rows.begin() + 2, rows.end());
    model->click(others[1], false, true, others);
    EXPECT_EQ(model->picked(), std::vector<ShareTarget>{rows[3].target()});
}

TEST_F(ModelLibraryTest, OpeningCopiesANoteOpensAFileOrAddressAndTheSpaceBarPreviewsTheLastPickedFile) {
    const Item note{.id = "n", .kind = ItemKind::text, .name = "Note", .content = "buy milk\n\nand bread"};
    model->openItem(note);
    EXPECT_EQ(platform.clipboardString, "buy milk\n\nand bread");
    EXPECT_EQ(model->toast(), "Note copied");
    Item link{.id = "l", .kind = ItemKind::link, .name = "example.com", .content = "https://example.com/a"};
    model->openItem(link);
    link.content = "no address at all";
    model->openItem(link);
    EXPECT_EQ(platform.openedURLs, std::vector<std::string>{"https://example.com/a"});

    EXPECT_FALSE(model->toggleQuickLook());
    const Item first = addItem("first.png");
    const Item second = addItem("second.png");
    model->openItem(first);
    EXPECT_EQ(platform.openedFiles, std::vector<std::filesystem::path>{store.filePath(first)});
    model->setPicked({ShareTarget::item(first.id), ShareTarget::item(second.id), ShareTarget::item(note.id)});
    EXPECT_TRUE(model->toggleQuickLook());
    EXPECT_EQ(model->previewFile(), store.filePath(second));
    EXPECT_TRUE(model->toggleQuickLook());
    EXPECT_EQ(model->previewFile(), std::nullopt);
}

TEST_F(ModelLibraryTest, AddingKeepsAFoldersFilesAndPasteTakesFilesThenTextThenSaysThereIsNothing) {
    const auto trip = makeFile("Trip/b.jpg").parent_path();
    makeFile("Trip/a.jpg");
    model->add({trip, dir.path() / "outside" / "missing.txt"});
    ASSERT_TRUE(spinUntil([&] { return model->toast().has_value(); }));
    EXPECT_EQ(model->toast(), "Couldn't add 1 item");
    const Library library = store.snapshot();
    ASSERT_EQ(library.folders.size(), 1u);
    EXPECT_EQ(library.itemsIn(library.folders[0].id).size(), 2u) << "the failure leaves the others";

    platform.clipboardFileList = {makeFile("copied.txt")};
    platform.clipboardString = "ignored while files are there";
    model->paste();
    ASSERT_TRUE(spinUntil([&] { return store.snapshot().items.size() == 3; }));
    const std::tuple<std::string, std::string, std::optional<ItemKind>> texts[] = {
        {"  https://example.com/page  ", "Added link", ItemKind::link},
        {"remember\nthis", "Added note", ItemKind::text},
        {" \n\t\r\n ", "Nothing to paste", std::nullopt},
    };
    for (const auto& [text, message, kind] : texts) {
        platform.clipboardFileList.clear();
        platform.clipboardString = text;
        const auto before = store.snapshot().items.size();
        model->paste();
        EXPECT_EQ(model->toast(), message);
        const auto items = store.snapshot().items;
        ASSERT_EQ(items.size(), before + (kind ? 1 : 0));
        EXPECT_TRUE(!kind || items.back().kind == *kind) << text;
    }
}

TEST_F(ModelLibraryTest, NewFolderStartsRenamingWhereTheExplorerIsAndRenameTrims) {
    const auto work = store.addFolder("Work", std::nullopt);
    settle();
    model->setSelection(SidebarSelection::folder(work.id));
    model->newFolder();
    const std::string id = model->renamingID().value();
    // Renamed before the reload has brought the folder in.
    model->rename(id, "  Taxes 2024 \n");
    EXPECT_EQ(model->renamingID(), std::nullopt);
    model->rename(id, " \t\n ");
    settle();
    EXPECT_EQ(model->library().folder(id)->name, "Taxes 2024");
    EXPECT_EQ(model->library().folder(id)->parentID, work.id);
}

TEST_F(ModelLibraryTest, MovingRefusesAFolderIntoItselfAndDeletingAsksFirst) {
    const auto outer = store.addFolder("Outer", std::nullopt);
    const auto inner = store.addFolder("Inner", outer.id);
    const Item item = addItem("a.txt", inner.id);
    const std::tuple<LibraryEntry, std::optional<std::string>, std::optional<std::string>> moves[] = {
        {LibraryEntry::folder(outer.id), inner.id, "Can't put a folder inside itself"},
        {LibraryEntry::folder(outer.id), outer.id, std::nullopt},
        {LibraryEntry::item(item.id), inner.id, std::nullopt},
        {LibraryEntry::item("gone"), inner.id, std::nullopt},
        {LibraryEntry::folder(inner.id), std::nullopt, "Moved to Tesk"},
    };
    for (const auto& [entry, to, message] : moves) {
        model->tapToast();
        model->move(entry, to);
        EXPECT_EQ(model->toast(), message) << entry.wire();
    }
    settle();
    EXPECT_EQ(model->library().folder(inner.id)->parentID, std::nullopt);
    model->setPicked({ShareTarget::folder(inner.id), ShareTarget::item(item.id)});
    model->movePicked(outer.id);
    EXPECT_TRUE(model->picked().empty());
    settle();
    EXPECT_EQ(model->library().folder(inner.id)->parentID, outer.id);

    model->setPicked({ShareTarget::folder(outer.id)});
    platform.answers = {false};
    model->deletePicked();
    EXPECT_EQ(platform.alerts.size(), 1u);
    settle();
    EXPECT_EQ(model->library().items.size(), 1u) << "cancelled";
    model->deletePicked();
    settle();
    EXPECT_TRUE(model->library().items.empty() && model->library().folders.empty()) << "with all it held";
}
