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

TEST_F(ModelLibraryTest, ShiftWithoutAnAnchorIsAPlainClickAndCommandsRemovalKeepsTheAnchor) {
    for (const char* name : {"d.txt", "c.txt", "b.txt", "a.txt"}) {
        addItem(name);
    }
    const auto rows = model->rows(); // a, b, c, d: newest first
    model->click(rows[2], false, true, rows);
    EXPECT_EQ(model->picked(), std::vector{rows[2].target()});
    model->click(rows[0], true, false, rows);
    model->click(rows[2], true, false, rows);
    model->click(rows[1], false, true, rows);
    EXPECT_EQ(model->picked(), (std::vector{rows[0].target(), rows[1].target()}));
    EXPECT_EQ(model->pickAnchor(), rows[0].target());
}

TEST_F(ModelLibraryTest, TheSpaceBarPreviewsTheLastPickedFileNotTheLastPick) {
    const Item first = addItem("first.png");
    const Item second = addItem("second.png");
    const Item note = store.addText("buy milk", std::nullopt).value();
    settle();
    model->setPicked({ShareTarget::item(first.id), ShareTarget::item(second.id), ShareTarget::item(note.id)});
    EXPECT_TRUE(model->toggleQuickLook());
    EXPECT_EQ(model->previewFile(), store.filePath(second));
}

TEST_F(ModelLibraryTest, AddingKeepsAFoldersFilesAndPasteTakesFilesThenTextThenSaysThereIsNothing) {
    const auto trip = makeFile("Trip/b.jpg").parent_path();
    makeFile("Trip/a.jpg");
    model->add({trip, dir.path() / "outside" / "missing.txt"});
    ASSERT_TRUE(spinUntil([&] { return model->toast().has_value(); }));
    EXPECT_EQ(model->toast(), "Couldn't add 1 item");
    const Library library = store.snapshot();
    EXPECT_EQ(library.itemsIn(library.folders.at(0).id).size(), 2u) << "the failure leaves the others";

    platform.clipboardFileList = {makeFile("copied.txt")};
    platform.clipboardString = "ignored while files are there";
    model->paste();
    ASSERT_TRUE(spinUntil([&] { return store.snapshot().items.size() == 3; }));
    platform.clipboardFileList.clear();
    // Each paste's message, and the kind of the newest item after it.
    const std::tuple<std::string, std::string, ItemKind> texts[] = {
        {"  https://example.com/page  ", "Added link", ItemKind::link},
        {"remember\nthis", "Added note", ItemKind::text},
        {" \n\t\r\n ", "Nothing to paste", ItemKind::text},
    };
    for (const auto& [text, message, kind] : texts) {
        platform.clipboardString = text;
        model->paste();
        EXPECT_EQ(model->toast(), message);
        EXPECT_EQ(store.snapshot().items.back().kind, kind) << text;
    }
    EXPECT_EQ(store.snapshot().items.size(), 5u);
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
}

TEST_F(ModelLibraryTest, DeletingPicksAsksFirstAndNoKeepsThem) {
    const Item a = addItem("a.txt");
    model->setPicked({ShareTarget::item(a.id)});
    platform.answers = {false, true};
    model->deletePicked();
    ASSERT_EQ(platform.alerts.size(), 1u);
    EXPECT_TRUE(store.snapshot().item(a.id)) << "answered No";
    model->deletePicked();
    settle();
    EXPECT_FALSE(store.snapshot().item(a.id));
    EXPECT_TRUE(model->picked().empty());
}
