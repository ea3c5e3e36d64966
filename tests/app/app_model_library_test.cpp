// The library side of the model: what the explorer lists, picking, opening, adding, moving and deleting.
#include "model_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::vector<std::string> names(const std::vector<ListRow>& rows) {
    std::vector<std::string> result;
    for (const auto& row : rows) {
        result.push_back(row.name());
    }
    return result;
}

Item note(std::string content) {
    return Item{.id = "n1", .kind = ItemKind::text, .name = "Note", .content = std::move(content)};
}

/// The message an asynchronous add ends with.
std::string awaitToast(AppModel& model) {
    EXPECT_TRUE(spinUntil([&] { return model.toast().has_value(); }));
    return model.toast().value_or("");
}

} // namespace

using ModelRowsTest = ModelFixture;

TEST_F(ModelRowsTest, EachSelectionListsItsOwnRowsAndASearchLooksEverywhere) {
    const auto work = store.addFolder("Work", std::nullopt);
    const auto photos = store.addFolder("Photos", work.id);
    addItem("old.txt", work.id);
    store.addFile(makeFile("sent.jpg"), work.id, std::string("Ana"), false);
    clock.advance(1);
    addItem("top.txt");
    addItem("\u00C9t\u00E9 PHOTO.jpg", photos.id);
    const std::vector<std::pair<SidebarSelection, std::vector<std::string>>> cases{
        {SidebarSelection::all(), {"\u00C9t\u00E9 PHOTO.jpg", "top.txt", "sent.jpg", "old.txt"}},
        {SidebarSelection::folder(work.id), {"Photos", "sent.jpg", "old.txt"}},
        {SidebarSelection::received(), {"sent.jpg"}},
        {SidebarSelection::shared(), {}},
        {SidebarSelection::phones(), {}},
    };
    for (const auto& [selection, expected] : cases) {
        model->setSelection(selection);
        EXPECT_EQ(names(model->rows()), expected);
    }
    EXPECT_EQ(model->title(), "Phones");

    // Spaces alone are no search; a search ignores the selection and case, beyond ASCII too.
    model->setSelection(SidebarSelection::folder(photos.id));
    model->setSearch(" \t ");
    EXPECT_EQ(names(model->rows()), std::vector<std::string>{"\u00C9t\u00E9 PHOTO.jpg"});
    model->setSelection(SidebarSelection::received());
    model->setSearch(" photo\t");
    EXPECT_EQ(names(model->rows()), (std::vector<std::string>{"Photos", "\u00C9t\u00E9 PHOTO.jpg"}));
    model->setSearch("\u00E9T\u00C9");
    EXPECT_EQ(names(model->rows()), std::vector<std::string>{"\u00C9t\u00E9 PHOTO.jpg"});
    EXPECT_EQ(model->rows().at(0).subtitle, "Work \u203A Photos");
}

TEST_F(ModelRowsTest, MoveDestinationsWalkTheTreeInLibraryOrder) {
    const auto zeta = store.addFolder("Zeta", std::nullopt);
    const auto alpha = store.addFolder("Alpha", std::nullopt);
    const auto inner = store.addFolder("Inner", zeta.id);
    const auto deep = store.addFolder("Deep", inner.id);
    settle();
    EXPECT_EQ(model->moveDestinations(),
              (std::vector<AppModel::MoveDestination>{{std::nullopt, "Tesk (top level)"},
                                                      {zeta.id, "Zeta"},
                                                      {inner.id, "    Inner"},
                                                      {deep.id, "        Deep"},
                                                      {alpha.id, "Alpha"}}));
}

TEST(ItemSubtitleTest, PartsJoinInOrderAndANoteReadsOnOneLine) {
    Library library;
    library.folders = {{.id = "t", .name = "Top"}, {.id = "i", .name = "Inner", .parentID = "t"}};
    const Item link{.id = "l",
                    .folderID = "i",
                    .kind = ItemKind::link,
                    .name = "example.com",
                    .content = "https://example.com/",
                    .receivedFrom = "Ana"};
    EXPECT_EQ(AppModel::itemSubtitle(library, link, true),
              "from Ana \u00B7 Top \u203A Inner \u00B7 https://example.com/");
    EXPECT_EQ(AppModel::itemSubtitle(library, link, false), "from Ana \u00B7 https://example.com/");
    EXPECT_EQ(AppModel::itemSubtitle(library, Item{.id = "f", .kind = ItemKind::file, .name = "a"}, true),
              std::nullopt);
    EXPECT_EQ(AppModel::itemSubtitle(library, note("a  b\n\nc\r\nd\ve\u0085f\u2028g\u2029h"), true),
              "a  b c d e f g h");
    EXPECT_EQ(AppModel::itemSubtitle(library, note("\n\u2029\r\n"), true), std::nullopt);
}

TEST_F(ModelRowsTest, ClicksPickAsCommandAndShiftSay) {
    for (const char* name : {"d.txt", "c.txt", "b.txt", "a.txt"}) {
        addItem(name);
    }
    const auto rows = model->rows(); // a, b, c, d: newest first
    struct Click {
        int row;
        bool command = false;
        bool shift = false;
    };
    struct Case {
        std::string what;
        std::vector<Click> clicks;
        std::vector<int> picked;
        int anchor;
    };
    const std::vector<Case> cases{
        {"shift without an anchor is a plain click", {{2, false, true}}, {2}, 2},
        {"shift extends from the anchor, which stays",
         {{2}, {0, false, true}, {3, false, true}},
         {2, 0, 1, 3},
         2},
        {"command toggles and keeps the anchor on removal", {{0}, {2, true}, {0, true}}, {2}, 2},
        {"the range runs from the kept anchor", {{0}, {2, true}, {0, true}, {1, false, true}}, {2, 1}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        model->clearPicks();
        for (const auto& click : c.clicks) {
            model->click(rows[click.row], click.command, click.shift, rows);
        }
        std::vector<ShareTarget> expected;
        for (const int row : c.picked) {
            expected.push_back(rows[row].target());
        }
        EXPECT_EQ(model->picked(), expected);
        EXPECT_EQ(model->pickAnchor(), rows[c.anchor].target());
    }
    // An anchor no longer on the list: Shift is a plain click.
    model->click(rows[1], false, false, rows);
    const std::vector<ListRow> others(rows.begin() + 2, rows.end());
    model->click(others[1], false, true, others);
    EXPECT_EQ(model->picked(), std::vector<ShareTarget>{rows[3].target()});
}

using ModelOpeningTest = ModelFixture;

TEST_F(ModelOpeningTest, ANoteIsCopiedAFileOrAddressOpenedAndAFolderEntered) {
    model->openItem(note("buy milk\n\nand bread"));
    EXPECT_EQ(platform.clipboardString, "buy milk\n\nand bread");
    EXPECT_EQ(model->toast(), "Note copied");
    const Item file = addItem("report.pdf");
    model->openItem(file);
    EXPECT_EQ(platform.openedFiles, std::vector<std::filesystem::path>{store.fileURL(file)});
    Item link{.id = "l", .kind = ItemKind::link, .name = "example.com", .content = "https://example.com/a"};
    model->openItem(link);
    link.content = "no address at all";
    model->openItem(link);
    EXPECT_EQ(platform.openedURLs, std::vector<std::string>{"https://example.com/a"});

    const auto work = store.addFolder("Work", std::nullopt);
    settle();
    model->setSearch("wo");
    model->open(model->rows().at(0));
    EXPECT_EQ(model->selection(), SidebarSelection::folder(work.id));
    EXPECT_EQ(model->search(), "");
}

TEST_F(ModelOpeningTest, ShowItemRevealsItOrSaysItIsGone) {
    const auto work = store.addFolder("Work", std::nullopt);
    const Item item = addItem("plan.txt", work.id);
    model->setSearch("x");
    model->setInspecting(ShareTarget::folder());
    const int requests = model->revealRequest();
    model->showItem(item.id);
    EXPECT_EQ(model->selection(), SidebarSelection::folder(work.id));
    EXPECT_EQ(model->picked(), std::vector<ShareTarget>{ShareTarget::item(item.id)});
    EXPECT_EQ(model->revealedID(), item.id);
    EXPECT_EQ(model->revealRequest(), requests + 1);
    EXPECT_EQ(model->search(), "");
    EXPECT_EQ(model->inspecting(), std::nullopt);

    store.deleteItem(item.id);
    settle();
    model->setSelection(SidebarSelection::all());
    model->showItem(item.id);
    EXPECT_EQ(model->toast(), "That item has been deleted");
    EXPECT_EQ(model->selection(), SidebarSelection::all());
    EXPECT_EQ(model->revealRequest(), requests + 1);
}

TEST_F(ModelOpeningTest, SpaceBarPreviewsTheLastPickedFileAndClosesIt) {
    EXPECT_FALSE(model->toggleQuickLook());
    const Item first = addItem("first.png");
    const Item second = addItem("second.png");
    const auto text = store.addText("a note", std::nullopt).value();
    settle();
    model->setPicked({ShareTarget::item(first.id), ShareTarget::item(second.id), ShareTarget::item(text.id)});
    EXPECT_TRUE(model->toggleQuickLook());
    EXPECT_EQ(model->previewURL(), store.fileURL(second));
    EXPECT_TRUE(model->toggleQuickLook());
    EXPECT_EQ(model->previewURL(), std::nullopt);
    model->quickLook(text);
    EXPECT_EQ(model->previewURL(), std::nullopt);
    model->setPicked({ShareTarget::item(text.id)});
    EXPECT_FALSE(model->toggleQuickLook());
}

using ModelAddingTest = ModelFixture;

TEST_F(ModelAddingTest, AFolderKeepsItsFilesAndAFailureLeavesTheOthers) {
    makeFile("Trip/a.jpg");
    const auto trip = makeFile("Trip/b.jpg").parent_path();
    const auto work = store.addFolder("Work", std::nullopt);
    settle();
    model->setSelection(SidebarSelection::folder(work.id));
    const int requests = model->revealRequest();
    model->add({trip, dir.path() / "outside" / "missing.txt"}, AppModel::Destination::into(std::nullopt),
               true);
    EXPECT_EQ(awaitToast(*model), "Couldn't add 1 item");
    EXPECT_EQ(model->revealRequest(), requests + 1);
    settle();
    const auto& folders = model->library().folders;
    const auto added =
        std::find_if(folders.begin(), folders.end(), [](const Folder& f) { return f.name == "Trip"; });
    ASSERT_NE(added, folders.end());
    EXPECT_EQ(added->parentID, std::nullopt);
    EXPECT_EQ(model->library().itemsIn(added->id).size(), 2u);
    EXPECT_EQ(model->library().items.size(), 2u);
}

TEST_F(ModelAddingTest, PasteTakesFilesThenTextThenSaysThereIsNothing) {
    platform.clipboardFileList = {makeFile("copied.txt")};
    platform.clipboardString = "ignored while files are there";
    model->paste();
    EXPECT_EQ(awaitToast(*model), "Added 1 file to Tesk");
    const std::vector<std::tuple<std::string, std::string, std::optional<ItemKind>>> texts{
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
    EXPECT_EQ(store.snapshot().items[1].content, "https://example.com/page");

    platform.filesToChoose = {makeFile("chosen.txt")};
    model->chooseFiles();
    EXPECT_EQ(platform.activations, 1) << "the dialog comes to the front";
    EXPECT_EQ(awaitToast(*model), "Added 1 file to Tesk");
}

TEST_F(ModelAddingTest, NewFolderStartsRenamingAndRenameTrims) {
    const auto work = store.addFolder("Work", std::nullopt);
    settle();
    model->setSelection(SidebarSelection::folder(work.id));
    model->setSearch("abc");
    model->newFolder();
    EXPECT_EQ(model->search(), "");
    const std::string id = model->renamingID().value();
    // Renamed before the reload has brought the folder in.
    model->rename(id, "  Taxes 2024 \n");
    EXPECT_EQ(model->renamingID(), std::nullopt);
    model->rename(id, " \t\n ");
    settle();
    EXPECT_EQ(model->library().folder(id)->name, "Taxes 2024");
    EXPECT_EQ(model->library().folder(id)->parentID, work.id);
}

class ModelMovingTest : public ModelFixture {
protected:
    ModelMovingTest() {
        outer = store.addFolder("Outer", std::nullopt);
        inner = store.addFolder("Inner", outer.id);
        dest = store.addFolder("Dest", std::nullopt);
        settle();
    }
    Folder outer;
    Folder inner;
    Folder dest;
};

TEST_F(ModelMovingTest, AFolderNeverGoesInsideItselfOtherRefusalsAreSilentAndSuccessSaysWhere) {
    const Item item = addItem("a.txt", dest.id);
    const std::vector<std::tuple<LibraryEntry, std::optional<std::string>, std::optional<std::string>>> cases{
        {LibraryEntry::folder(outer.id), inner.id, "Can't put a folder inside itself"},
        {LibraryEntry::folder(outer.id), outer.id, std::nullopt},
        {LibraryEntry::item(item.id), dest.id, std::nullopt},
        {LibraryEntry::item("gone"), dest.id, std::nullopt},
        {LibraryEntry::item(item.id), inner.id, "Moved to Inner"},
        {LibraryEntry::folder(inner.id), std::nullopt, "Moved to Tesk"},
    };
    for (const auto& [entry, to, message] : cases) {
        model->tapToast();
        model->move(entry, to);
        EXPECT_EQ(model->toast(), message) << entry.wire();
    }
    settle();
    EXPECT_EQ(model->library().folder(outer.id)->parentID, std::nullopt);
    EXPECT_EQ(model->library().item(item.id)->folderID, inner.id);
    EXPECT_EQ(model->library().folder(inner.id)->parentID, std::nullopt);
}

TEST_F(ModelMovingTest, MovingThePicksMovesWhatCanGoAndClearsThem) {
    const Item a = addItem("a.txt");
    const Item already = addItem("b.txt", dest.id);
    model->setPicked({ShareTarget::folder(outer.id), ShareTarget::folder(dest.id), ShareTarget::item(a.id),
                      ShareTarget::item(already.id)});
    model->movePicked(dest.id);
    EXPECT_EQ(model->toast(), "Moved 2 to Dest");
    EXPECT_TRUE(model->picked().empty());
    EXPECT_EQ(model->pickAnchor(), std::nullopt);
    settle();
    EXPECT_EQ(model->library().folder(outer.id)->parentID, dest.id);
    EXPECT_EQ(model->library().item(a.id)->folderID, dest.id);
    model->setPicked({ShareTarget::item(a.id)});
    model->movePicked(dest.id);
    EXPECT_EQ(model->toast(), "Nothing moved");
}

TEST_F(ModelMovingTest, DeletingAsksFirstAndCancelKeepsEverything) {
    const Item a = addItem("a.txt", inner.id);
    const Item b = addItem("b.txt");
    const std::vector<ShareTarget> picks{ShareTarget::folder(outer.id), ShareTarget::item(b.id)};
    model->setPicked(picks);
    platform.answers = {false};
    model->deletePicked();
    ASSERT_EQ(platform.alerts.size(), 1u);
    EXPECT_EQ(platform.activations, 1);
    settle();
    EXPECT_EQ(model->picked(), picks);
    EXPECT_EQ(model->library().items.size(), 2u);

    model->deletePicked();
    EXPECT_TRUE(model->picked().empty());
    settle();
    EXPECT_TRUE(model->library().items.empty()) << "the folder went with what it held";
    EXPECT_FALSE(model->library().folder(inner.id));
    EXPECT_TRUE(model->library().folder(dest.id));
}
