// The library side of the model: what the explorer lists, picking, opening, adding, moving and renaming.
#include "model_fixture.h"

using ModelLibraryTest = ModelFixture;

TEST_F(ModelLibraryTest, EachSelectionListsItsOwnRowsAndASearchLooksEverywhere) {
    const auto work = store.addFolder("Work", std::nullopt);
    const auto photos = store.addFolder("Photos", work.id);
    store.addFile(makeFile("sent.jpg"), work.id, std::string("Ana"), false);
    clock.advance(1);
    addItem("top.txt");
    addItem("\u00C9t\u00E9 PHOTO.jpg", photos.id);
    // Spaces alone are no search; a search ignores the selection and case, beyond ASCII too.
    const std::tuple<SidebarSelection, std::string, std::vector<std::string>> cases[] = {
        {SidebarSelection::all(), "", {"\u00C9t\u00E9 PHOTO.jpg", "top.txt", "sent.jpg"}},
        {SidebarSelection::folder(work.id), "", {"Photos", "sent.jpg"}},
        {SidebarSelection::received(), "", {"sent.jpg"}},
        {SidebarSelection::folder(photos.id), " \t ", {"\u00C9t\u00E9 PHOTO.jpg"}},
        {SidebarSelection::folder(photos.id), " photo\t", {"Photos", "\u00C9t\u00E9 PHOTO.jpg"}},
        {SidebarSelection::received(), "\u00E9T\u00C9", {"\u00C9t\u00E9 PHOTO.jpg"}},
    };
    for (const auto& [selection, search, expected] : cases) {
        model->setSelection(selection);
        model->setSearch(search);
        std::vector<std::string> names;
        for (const auto& row : model->rows()) {
            names.push_back(row.name());
        }
        EXPECT_EQ(names, expected) << search;
    }
}

TEST_F(ModelLibraryTest, ShiftWithoutAnAnchorOnTheListIsAPlainClickAndCommandsRemovalKeepsTheAnchor) {
    for (const char* name : {"d.txt", "c.txt", "b.txt", "a.txt"}) {
        addItem(name);
    }
    const auto rows = model->rows(); // a, b, c, d: newest first
    model->click(rows[2], false, true, rows);
    EXPECT_EQ(model->picked(), std::vector{rows[2].target()});
    model->click(rows[0], false, false, rows);
    model->click(rows[2], true, false, rows);
    model->click(rows[0], true, false, rows);
    model->click(rows[1], false, true, rows);
    EXPECT_EQ(model->picked(), (std::vector{rows[2].target(), rows[1].target()}));
    EXPECT_EQ(model->pickAnchor(), rows[2].target());
    // An anchor no longer on the list: Shift is a plain click.
    model->click(rows[1], false, false, rows);
    const std::vector<ListRow> others(rows.begin() + 2, rows.end());
    model->click(others[1], false, true, others);
    EXPECT_EQ(model->picked(), std::vector<ShareTarget>{rows[3].target()});
}

TEST_F(ModelLibraryTest, TheSpaceBarPreviewsTheLastPickedFile) {
    EXPECT_FALSE(model->toggleQuickLook());
    const Item first = addItem("first.png");
    const Item second = addItem("second.png");
    const Item note = store.addText("buy milk", std::nullopt).value();
    settle();
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

TEST_F(ModelLibraryTest, ANewFolderIsMadeWhereTheExplorerIsRenamedTrimmedAndMovedNeverIntoItself) {
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

    const std::tuple<LibraryEntry, std::optional<std::string>, std::optional<std::string>> moves[] = {
        {LibraryEntry::folder(work.id), id, "Can't put a folder inside itself"},
        {LibraryEntry::folder(work.id), work.id, std::nullopt},
        {LibraryEntry::item("gone"), id, std::nullopt},
        {LibraryEntry::folder(id), std::nullopt, "Moved to Tesk"},
    };
    for (const auto& [entry, to, message] : moves) {
        model->tapToast();
        model->move(entry, to);
        EXPECT_EQ(model->toast(), message) << entry.wire();
    }
    settle();
    EXPECT_EQ(model->library().folder(id)->parentID, std::nullopt);
    EXPECT_EQ(model->library().folder(work.id)->parentID, std::nullopt);
}
