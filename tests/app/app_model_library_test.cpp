#include "core/text.h"
#include "model_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

std::vector<std::string> names(const std::vector<ListRow>& rows) {
    std::vector<std::string> result;
    for (const auto& row : rows) {
        result.push_back(row.name());
    }
    return result;
}

std::vector<std::optional<std::string>> subtitles(const std::vector<ListRow>& rows) {
    std::vector<std::optional<std::string>> result;
    for (const auto& row : rows) {
        result.push_back(row.subtitle);
    }
    return result;
}

Item note(std::string content) {
    return Item{.id = "n1", .kind = ItemKind::text, .name = "Note", .content = std::move(content)};
}

/// The toast an asynchronous add ends with.
std::string awaitToast(AppModel& model) {
    EXPECT_TRUE(spinUntil([&] { return model.toast().has_value(); }));
    return model.toast().value_or("");
}

} // namespace

// ---- The list ----

using ModelRowsTest = ModelFixture;

TEST_F(ModelRowsTest, SpacesAndTabsAloneAreNoSearch) {
    const auto work = store.addFolder("Work", std::nullopt);
    addItem("inside.txt", work.id);
    addItem("outside.txt");
    model->setSelection(SidebarSelection::folder(work.id));
    model->setSearch(" \t  ");
    EXPECT_EQ(names(model->rows()), std::vector<std::string>{"inside.txt"});
}

TEST_F(ModelRowsTest, SearchFindsNamesInAnyFolderWhateverTheSelection) {
    const auto top = store.addFolder("Top", std::nullopt);
    // Made before "Inner Photos" so library order and name order differ.
    const auto other = store.addFolder("Zoo photos", std::nullopt);
    const auto inner = store.addFolder("Inner Photos", top.id);
    const auto empty = store.addFolder("Empty", std::nullopt);
    addItem("Holiday PHOTO.jpg", inner.id);
    addItem("unrelated.txt");
    addItem("photograph.png");
    const auto link = store.addText("https://example.com/?q=photo", std::nullopt);
    ASSERT_TRUE(link && link->kind == ItemKind::link);
    ASSERT_EQ(Text::lowercased(link->name).find("photo"), std::string::npos) << link->name;
    clock.advance(1);
    addItem("\u00C9t\u00E9 photo.jpg", other.id);
    model->setSelection(SidebarSelection::folder(empty.id));

    model->setSearch("  PhoTo\t");
    const auto rows = model->rows();
    EXPECT_EQ(names(rows), (std::vector<std::string>{"Zoo photos", "Inner Photos", "\u00C9t\u00E9 photo.jpg",
                                                     "photograph.png", "Holiday PHOTO.jpg"}));
    EXPECT_EQ(subtitles(rows),
              (std::vector<std::optional<std::string>>{std::nullopt, "Top", "Zoo photos", std::nullopt,
                                                       "Top \u203A Inner Photos"}));
    EXPECT_EQ(model->selection(), SidebarSelection::folder(empty.id));

    // Case-insensitive beyond ASCII.
    model->setSearch("\u00C9T\u00C9");
    EXPECT_EQ(names(model->rows()), std::vector<std::string>{"\u00C9t\u00E9 photo.jpg"});
}

TEST_F(ModelRowsTest, EachSelectionListsItsOwnRows) {
    const auto work = store.addFolder("Work", std::nullopt);
    store.addFolder("Sub", work.id);
    addItem("old.txt", work.id);
    store.addFile(makeFile("sent.jpg"), work.id, std::string("Ana"), false);
    clock.advance(1);
    addItem("top.txt");
    settle();

    EXPECT_EQ(names(model->rows()), (std::vector<std::string>{"top.txt", "sent.jpg", "old.txt"}));
    EXPECT_EQ(subtitles(model->rows()),
              (std::vector<std::optional<std::string>>{std::nullopt, "from Ana \u00B7 Work", "Work"}));

    model->setSelection(SidebarSelection::folder(work.id));
    EXPECT_EQ(names(model->rows()), (std::vector<std::string>{"Sub", "sent.jpg", "old.txt"}));
    EXPECT_TRUE(model->rows().front().isFolder());
    EXPECT_EQ(subtitles(model->rows()),
              (std::vector<std::optional<std::string>>{std::nullopt, "from Ana", std::nullopt}));
    EXPECT_EQ(model->title(), "Work");
    EXPECT_EQ(model->locationName(), "Work");

    model->setSelection(SidebarSelection::received());
    EXPECT_EQ(names(model->rows()), std::vector<std::string>{"sent.jpg"});
    EXPECT_EQ(model->title(), "Received");
    EXPECT_EQ(model->locationName(), "Tesk");

    model->setSelection(SidebarSelection::shared());
    EXPECT_TRUE(model->rows().empty());
    model->setSelection(SidebarSelection::phones());
    EXPECT_TRUE(model->rows().empty());

    // A folder that has gone, before the reload that moves the selection away.
    model->setSelection(SidebarSelection::folder("gone"));
    EXPECT_EQ(model->title(), "Folder");
    EXPECT_EQ(model->locationName(), "Tesk");
}

TEST_F(ModelRowsTest, MoveDestinationsWalkTheTreeInLibraryOrder) {
    const auto zeta = store.addFolder("Zeta", std::nullopt);
    const auto alpha = store.addFolder("Alpha", std::nullopt);
    const auto inner = store.addFolder("Inner", zeta.id);
    const auto deep = store.addFolder("Deep", inner.id);
    settle();
    const std::vector<AppModel::MoveDestination> expected{
        {std::nullopt, "Tesk (top level)"}, {zeta.id, "Zeta"},   {inner.id, "    Inner"},
        {deep.id, "        Deep"},          {alpha.id, "Alpha"},
    };
    EXPECT_EQ(model->moveDestinations(), expected);
}

TEST(ItemSubtitleTest, NoteReadsOnOneLine) {
    const Library library;
    EXPECT_EQ(AppModel::itemSubtitle(library, note("first  line\n\nsecond line"), true),
              "first  line second line");
    EXPECT_EQ(AppModel::itemSubtitle(library, note("a\r\nb\vc\fd\u0085e\u2028f\u2029g"), false),
              "a b c d e f g");
    EXPECT_EQ(AppModel::itemSubtitle(library, note("\n\u2029\r\n"), true), std::nullopt);
}

TEST(ItemSubtitleTest, PartsJoinInOrder) {
    Library library;
    library.folders = {{.id = "t", .name = "Top"}, {.id = "i", .name = "Inner", .parentID = "t"}};
    const Item link{.id = "l",
                    .folderID = "i",
                    .kind = ItemKind::link,
                    .name = "example.com",
                    .content = "https://example.com/",
                    .receivedFrom = "Ana's phone"};
    EXPECT_EQ(AppModel::itemSubtitle(library, link, true),
              "from Ana's phone \u00B7 Top \u203A Inner \u00B7 https://example.com/");
    EXPECT_EQ(AppModel::itemSubtitle(library, link, false), "from Ana's phone \u00B7 https://example.com/");
    const Item file{.id = "f", .kind = ItemKind::file, .name = "a.txt"};
    EXPECT_EQ(AppModel::itemSubtitle(library, file, true), std::nullopt);
}

// ---- Picking ----

class ModelPickingTest : public ModelFixture {
protected:
    ModelPickingTest() {
        folder = store.addFolder("Folder", std::nullopt);
        settle();
        for (const char* name : {"d.txt", "c.txt", "b.txt", "a.txt"}) {
            addItem(name);
        }
        model->setSelection(SidebarSelection::all());
        rows = model->rows(); // a, b, c, d: newest first
    }

    ShareTarget at(std::size_t index) const { return rows.at(index).target(); }

    Folder folder;
    std::vector<ListRow> rows;
};

TEST_F(ModelPickingTest, ShiftWithoutAnchorIsAPlainClickThenExtends) {
    model->setRenamingID(rows[0].id());
    model->click(rows[2], false, true, rows);
    EXPECT_EQ(model->picked(), std::vector<ShareTarget>{at(2)});
    EXPECT_EQ(model->pickAnchor(), at(2));
    EXPECT_EQ(model->renamingID(), std::nullopt);

    model->click(rows[0], false, true, rows);
    EXPECT_EQ(model->picked(), (std::vector<ShareTarget>{at(2), at(0), at(1)}));
    // The anchor stays, so the next range starts from it again and removes nothing.
    model->click(rows[3], false, true, rows);
    EXPECT_EQ(model->picked(), (std::vector<ShareTarget>{at(2), at(0), at(1), at(3)}));
    EXPECT_EQ(model->pickAnchor(), at(2));
}

TEST_F(ModelPickingTest, ShiftWithAnAnchorOffTheListIsAPlainClick) {
    model->click(rows[1], false, false, rows);
    const std::vector<ListRow> others(rows.begin() + 2, rows.end());
    model->click(others[1], false, true, others);
    EXPECT_EQ(model->picked(), std::vector<ShareTarget>{at(3)});
    EXPECT_EQ(model->pickAnchor(), at(3));
}

TEST_F(ModelPickingTest, CommandTogglesAndKeepsTheAnchorOnRemoval) {
    model->click(rows[0], false, false, rows);
    model->click(rows[2], true, false, rows);
    EXPECT_EQ(model->picked(), (std::vector<ShareTarget>{at(0), at(2)}));
    EXPECT_EQ(model->pickAnchor(), at(2));

    model->click(rows[0], true, false, rows);
    EXPECT_EQ(model->picked(), std::vector<ShareTarget>{at(2)});
    EXPECT_EQ(model->pickAnchor(), at(2));
    // The range runs from the kept anchor.
    model->click(rows[1], false, true, rows);
    EXPECT_EQ(model->picked(), (std::vector<ShareTarget>{at(2), at(1)}));
}

TEST_F(ModelPickingTest, SummaryCountsFilesThenFolders) {
    model->setPicked({at(0), ShareTarget::folder(folder.id), at(1)});
    EXPECT_EQ(model->pickedSummary(), "2 files, 1 folder");
    model->setPicked({ShareTarget::folder(folder.id)});
    EXPECT_EQ(model->pickedSummary(), "1 folder");
    model->setPicked({at(3)});
    EXPECT_EQ(model->pickedSummary(), "1 file");
}

// ---- Opening and revealing ----

using ModelOpeningTest = ModelFixture;

TEST_F(ModelOpeningTest, NoteIsCopiedAndFileAndLinkAreOpened) {
    model->openItem(note("buy milk\n\nand bread"));
    EXPECT_EQ(platform.clipboardString, "buy milk\n\nand bread");
    EXPECT_EQ(model->toast(), "Note copied");

    const Item file = addItem("report.pdf");
    model->openItem(file);
    EXPECT_EQ(platform.openedFiles, std::vector<std::filesystem::path>{store.filePath(file)});
    EXPECT_TRUE(std::filesystem::exists(platform.openedFiles.at(0)));

    Item link{.id = "l", .kind = ItemKind::link, .name = "example.com", .content = "https://example.com/a"};
    model->openItem(link);
    link.content = "no address at all";
    model->openItem(link);
    EXPECT_EQ(platform.openedURLs, std::vector<std::string>{"https://example.com/a"});
}

TEST_F(ModelOpeningTest, OpeningAFolderRowEntersItAndClearsTheSearch) {
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
    const auto text = store.addText("a note", std::nullopt);
    settle();
    model->setPicked(
        {ShareTarget::item(first.id), ShareTarget::item(second.id), ShareTarget::item(text->id)});
    EXPECT_TRUE(model->toggleQuickLook());
    EXPECT_EQ(model->previewFile(), store.filePath(second));
    EXPECT_TRUE(model->toggleQuickLook());
    EXPECT_EQ(model->previewFile(), std::nullopt);

    model->quickLook(*text);
    EXPECT_EQ(model->previewFile(), std::nullopt);
    model->setPicked({ShareTarget::item(text->id)});
    EXPECT_FALSE(model->toggleQuickLook());
}

// ---- Adding ----

using ModelAddingTest = ModelFixture;

TEST_F(ModelAddingTest, AFolderOfThreeFilesAtTheTopLevel) {
    makeFile("Trip/a.jpg");
    makeFile("Trip/b.jpg");
    const auto trip = makeFile("Trip/c.jpg").parent_path();
    const auto work = store.addFolder("Work", std::nullopt);
    settle();
    model->setSelection(SidebarSelection::folder(work.id));
    const int requests = model->revealRequest();

    model->add({trip}, AppModel::Destination::into(std::nullopt), true);
    EXPECT_EQ(awaitToast(*model), "Added 3 files to Tesk");
    EXPECT_EQ(model->revealRequest(), requests + 1);
    settle();
    EXPECT_EQ(model->library().items.size(), 3u);
    const auto& folders = model->library().folders;
    const auto added =
        std::find_if(folders.begin(), folders.end(), [](const Folder& f) { return f.name == "Trip"; });
    ASSERT_NE(added, folders.end());
    EXPECT_EQ(added->parentID, std::nullopt);
    EXPECT_EQ(model->library().itemsIn(added->id).size(), 3u);
}

TEST_F(ModelAddingTest, AFailureIsReportedWhileTheOtherFileStays) {
    model->add({makeFile("good.txt"), dir.path() / "outside" / "missing.txt"});
    EXPECT_EQ(awaitToast(*model), "Couldn't add 1 item");
    settle();
    ASSERT_EQ(model->library().items.size(), 1u);
    EXPECT_EQ(model->library().items[0].name, "good.txt");
}

TEST_F(ModelAddingTest, PasteTakesFilesThenTextThenSaysNothing) {
    platform.clipboardFileList = {makeFile("copied.txt")};
    platform.clipboardString = "ignored while files are there";
    model->paste();
    EXPECT_EQ(awaitToast(*model), "Added 1 file to Tesk");
    settle();
    ASSERT_EQ(model->library().items.size(), 1u);
    EXPECT_EQ(model->library().items[0].kind, ItemKind::file);

    platform.clipboardFileList.clear();
    platform.clipboardString = "  https://example.com/page  ";
    model->paste();
    EXPECT_EQ(model->toast(), "Added link");
    platform.clipboardString = "remember\nthis";
    model->paste();
    EXPECT_EQ(model->toast(), "Added note");
    settle();
    ASSERT_EQ(model->library().items.size(), 3u);
    EXPECT_EQ(model->library().items[1].kind, ItemKind::link);
    EXPECT_EQ(model->library().items[1].content, "https://example.com/page");
    EXPECT_EQ(model->library().items[2].kind, ItemKind::text);

    platform.clipboardString = " \n\t\r\n ";
    model->paste();
    EXPECT_EQ(model->toast(), "Nothing to paste");
    settle();
    EXPECT_EQ(model->library().items.size(), 3u);
}

TEST_F(ModelAddingTest, ChoosingFilesAsksAfterActivatingAndAddsThem) {
    platform.filesToChoose = {makeFile("chosen.txt")};
    model->chooseFiles();
    EXPECT_EQ(platform.prompts, std::vector<std::string>{"Add to Tesk"});
    EXPECT_EQ(platform.activations, 1);
    EXPECT_EQ(awaitToast(*model), "Added 1 file to Tesk");
}

TEST_F(ModelAddingTest, NewFolderStartsRenamingAndRenameTrims) {
    const auto work = store.addFolder("Work", std::nullopt);
    settle();
    model->setSelection(SidebarSelection::folder(work.id));
    model->setSearch("abc");
    model->newFolder();
    EXPECT_EQ(model->search(), "");
    ASSERT_TRUE(model->renamingID().has_value());
    const std::string id = *model->renamingID();

    // Renamed before the reload has brought the folder in.
    model->rename(id, "  Taxes 2024 \n");
    EXPECT_EQ(model->renamingID(), std::nullopt);
    settle();
    ASSERT_TRUE(model->library().folder(id).has_value());
    EXPECT_EQ(model->library().folder(id)->name, "Taxes 2024");
    EXPECT_EQ(model->library().folder(id)->parentID, work.id);

    model->rename(id, " \t\n ");
    settle();
    EXPECT_EQ(model->library().folder(id)->name, "Taxes 2024");

    const Item item = addItem("draft.txt");
    model->rename(item.id, "final.txt");
    settle();
    EXPECT_EQ(model->library().item(item.id)->name, "final.txt");
}

// ---- Moving and deleting ----

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

TEST_F(ModelMovingTest, AFolderNeverGoesInsideItself) {
    model->move(LibraryEntry::folder(outer.id), inner.id);
    EXPECT_EQ(model->toast(), "Can't put a folder inside itself");
    model->tapToast();
    model->move(LibraryEntry::folder(outer.id), outer.id);
    EXPECT_EQ(model->toast(), std::nullopt);
    settle();
    EXPECT_EQ(model->library().folder(outer.id)->parentID, std::nullopt);
    EXPECT_EQ(model->library().folder(inner.id)->parentID, outer.id);
}

TEST_F(ModelMovingTest, OtherRefusalsAreSilentAndSuccessSaysWhere) {
    const Item item = addItem("a.txt", dest.id);
    model->move(LibraryEntry::item(item.id), dest.id);
    model->move(LibraryEntry::item("gone"), dest.id);
    model->move(LibraryEntry::folder(inner.id), outer.id);
    EXPECT_EQ(model->toast(), std::nullopt);

    model->move(LibraryEntry::item(item.id), inner.id);
    EXPECT_EQ(model->toast(), "Moved to Inner");
    model->move(LibraryEntry::folder(inner.id), std::nullopt);
    EXPECT_EQ(model->toast(), "Moved to Tesk");
    settle();
    EXPECT_EQ(model->library().item(item.id)->folderID, inner.id);
    EXPECT_EQ(model->library().folder(inner.id)->parentID, std::nullopt);
}

TEST_F(ModelMovingTest, MovingThePicksCountsWhatMoved) {
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
    const auto& alert = platform.alerts[0];
    EXPECT_EQ(alert.message, "Delete 2 items from Tesk?");
    EXPECT_EQ(alert.informativeText,
              "Files you added are copies, so your originals stay where they were. Files "
              "people sent you are deleted for good. Links to them stop working.");
    EXPECT_EQ(alert.confirmButton, "Delete");
    EXPECT_EQ(alert.cancelButton, "Cancel");
    EXPECT_EQ(platform.activations, 1);
    settle();
    EXPECT_EQ(model->picked(), picks);
    EXPECT_EQ(model->library().items.size(), 2u);
    EXPECT_EQ(model->toast(), std::nullopt);

    model->deletePicked();
    EXPECT_EQ(model->toast(), "Deleted 2 items");
    EXPECT_TRUE(model->picked().empty());
    settle();
    EXPECT_FALSE(model->library().item(a.id).has_value());
    EXPECT_FALSE(model->library().item(b.id).has_value());
    EXPECT_FALSE(model->library().folder(inner.id).has_value());
    EXPECT_TRUE(model->library().folder(dest.id).has_value());
}

TEST_F(ModelMovingTest, DeletingOneSaysItInTheSingular) {
    const Item a = addItem("a.txt");
    model->setPicked({ShareTarget::item(a.id)});
    model->deletePicked();
    EXPECT_EQ(platform.alerts.at(0).message, "Delete 1 item from Tesk?");
    EXPECT_EQ(model->toast(), "Deleted 1 item");
}

// ---- Received ----

using ModelReceivedTest = ModelFixture;

TEST_F(ModelReceivedTest, UnseenCountsReceivedItemsSinceTheLastLook) {
    clock.advance(10);
    store.addFile(makeFile("photo.jpg"), std::nullopt, std::string("Ana"), false);
    store.addFile(makeFile("doc.pdf"), std::nullopt, std::string("Ana"), false);
    addItem("mine.txt");
    EXPECT_EQ(model->unseenReceived(), 2);

    model->markReceivedSeen();
    EXPECT_EQ(model->unseenReceived(), 0);
    EXPECT_EQ(model->lastSeenReceived(), clock.now());
    EXPECT_DOUBLE_EQ(settings.value("lastSeenReceived").toDouble(), clock.now().unixSeconds());

    // Nothing new: the stored time stays.
    clock.advance(5);
    model->markReceivedSeen();
    EXPECT_DOUBLE_EQ(settings.value("lastSeenReceived").toDouble(), clock.now().adding(-5).unixSeconds());
}
