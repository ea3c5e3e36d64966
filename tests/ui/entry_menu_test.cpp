#include "ui/explorer/entry_menu.h"

#include "ui_fixture.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>

namespace {

using Menus::choose;
using Menus::find;
using Menus::titles;

QMenu& moveMenu(const QMenu& menu) {
    return *find(menu, "Move to")->menu();
}

class EntryMenuTest : public UIFixture {
protected:
    QMenu menu;
};

} // namespace

// ---- What each kind of entry offers ----

TEST_F(EntryMenuTest, FileItemOffersPreviewAndRevealBetweenOpenAndShare) {
    const Item file = addItem("photo.jpg");
    EntryMenu::fill(menu, *model, LibraryEntry::item(file.id));
    EXPECT_EQ(titles(menu), QStringList({"Open", "Quick Look", "Show in Folder", "Share…", "Copy link",
                                         "Move to", "---", "Rename", "Delete"}));
}

TEST_F(EntryMenuTest, NoteOffersCopyNoteAndNoFileEntries) {
    const Item note = store.addText("Buy milk and eggs", std::nullopt).value();
    settle();
    EntryMenu::fill(menu, *model, LibraryEntry::item(note.id));
    EXPECT_EQ(titles(menu),
              QStringList({"Copy note", "Share…", "Copy link", "Move to", "---", "Rename", "Delete"}));
    choose(menu, "Copy note");
    EXPECT_EQ(platform.clipboardString, "Buy milk and eggs");
}

TEST_F(EntryMenuTest, LinkOpensInTheBrowser) {
    const Item link = store.addText("https://example.com/page", std::nullopt).value();
    settle();
    EntryMenu::fill(menu, *model, LibraryEntry::item(link.id));
    EXPECT_EQ(titles(menu).first(), "Open");
    EXPECT_FALSE(titles(menu).contains("Quick Look"));
    choose(menu, "Open");
    EXPECT_EQ(platform.openedURLs, std::vector<std::string>{"https://example.com/page"});
}

TEST_F(EntryMenuTest, FolderOffersDeleteFolderAndOpenSelectsIt) {
    const Folder work = folder("Work");
    EntryMenu::fill(menu, *model, LibraryEntry::folder(work.id));
    EXPECT_EQ(titles(menu),
              QStringList({"Open", "Share…", "Copy link", "Move to", "---", "Rename", "Delete folder"}));
    choose(menu, "Open");
    EXPECT_EQ(model->selection(), SidebarSelection::folder(work.id));
}

TEST_F(EntryMenuTest, OnePhoneEntryPerPairedPhoneAfterCopyLink) {
    pair("Ana's iPhone");
    pair("Pixel 8");
    const Item file = addItem("a.txt");
    EntryMenu::fill(menu, *model, LibraryEntry::item(file.id));
    const QStringList entries = titles(menu);
    const auto copyLink = entries.indexOf("Copy link");
    EXPECT_EQ(entries.mid(copyLink + 1, 3),
              QStringList({"Send to Ana's iPhone", "Send to Pixel 8", "Move to"}));
    choose(menu, "Send to Pixel 8");
    settle();
    EXPECT_TRUE(model->isShared(ShareTarget::item(file.id)));
    // No relay in these tests, so the send ends at once, naming the phone it was for.
    EXPECT_TRUE(model->toast().value_or("").find("Pixel 8") != std::string::npos)
        << model->toast().value_or("");
}

TEST_F(EntryMenuTest, UnknownEntryGivesAnEmptyMenu) {
    EntryMenu::fill(menu, *model, LibraryEntry::item("no-such-id"));
    EXPECT_TRUE(menu.isEmpty());
}

// ---- Actions ----

TEST_F(EntryMenuTest, FileActionsPreviewRevealShareAndCopy) {
    const Item file = addItem("report.pdf");
    EntryMenu::fill(menu, *model, LibraryEntry::item(file.id));
    choose(menu, "Open");
    choose(menu, "Quick Look");
    choose(menu, "Show in Folder");
    EXPECT_EQ(platform.openedFiles, std::vector{store.filePath(file)});
    EXPECT_EQ(model->previewFile(), store.filePath(file));
    EXPECT_EQ(platform.revealedFiles, std::vector{store.filePath(file)});

    choose(menu, "Copy link");
    settle();
    EXPECT_EQ(platform.clipboardWrites, 1);
    EXPECT_TRUE(model->isShared(ShareTarget::item(file.id)));
    choose(menu, "Share…");
    EXPECT_EQ(model->inspecting(), ShareTarget::item(file.id));
}

TEST_F(EntryMenuTest, RenameStartsRenamingTheEntry) {
    const Folder work = folder("Work");
    EntryMenu::fill(menu, *model, LibraryEntry::folder(work.id));
    choose(menu, "Rename");
    EXPECT_EQ(model->renamingID(), work.id);
}

TEST_F(EntryMenuTest, DeleteRemovesTheItemAtOnceWithoutAskingOrTelling) {
    const Item file = addItem("gone.txt");
    EntryMenu::fill(menu, *model, LibraryEntry::item(file.id));
    choose(menu, "Delete");
    settle();
    EXPECT_FALSE(model->library().item(file.id));
    EXPECT_FALSE(std::filesystem::exists(store.filePath(file)));
    EXPECT_TRUE(platform.alerts.empty());
    EXPECT_FALSE(model->toast());
}

TEST_F(EntryMenuTest, DeleteFolderRemovesItAndWhatItHolds) {
    const Folder work = folder("Work");
    const Folder inner = folder("Inner", work.id);
    const Item file = addItem("deep.txt", inner.id);
    EntryMenu::fill(menu, *model, LibraryEntry::folder(work.id));
    choose(menu, "Delete folder");
    settle();
    EXPECT_TRUE(model->library().folders.empty());
    EXPECT_FALSE(model->library().item(file.id));
    EXPECT_TRUE(platform.alerts.empty());
}

TEST_F(EntryMenuTest, ActionsOfAMenuOutlivingItsEntryDoNothing) {
    const Item file = addItem("brief.txt");
    EntryMenu::fill(menu, *model, LibraryEntry::item(file.id));
    store.deleteItem(file.id);
    settle();
    choose(menu, "Open");
    choose(menu, "Quick Look");
    choose(menu, "Show in Folder");
    choose(menu, "Delete");
    EXPECT_TRUE(platform.openedFiles.empty());
    EXPECT_FALSE(model->previewFile());
    EXPECT_TRUE(platform.revealedFiles.empty());
}

// ---- Move to ----

TEST_F(EntryMenuTest, MoveToLeavesOutTheFolderTheItemIsIn) {
    const Folder a = folder("A");
    folder("B");
    const Item file = addItem("x.txt", a.id);
    EntryMenu::fill(menu, *model, LibraryEntry::item(file.id));
    EXPECT_EQ(titles(moveMenu(menu)), QStringList({"Tesk (top level)", "B"}));
    choose(moveMenu(menu), "Tesk (top level)");
    settle();
    EXPECT_EQ(model->library().item(file.id)->folderID, std::nullopt);
}

TEST_F(EntryMenuTest, MoveToLeavesOutTheTopLevelForAnItemThere) {
    folder("A");
    const Item file = addItem("x.txt");
    EntryMenu::fill(menu, *model, LibraryEntry::item(file.id));
    EXPECT_EQ(titles(moveMenu(menu)), QStringList({"A"}));
}

TEST_F(EntryMenuTest, MoveToLeavesOutAFolderItselfAndEverythingBelowIt) {
    const Folder a = folder("A");
    const Folder a1 = folder("A1", a.id);
    folder("A2", a1.id);
    const Folder b = folder("B");
    const Folder b1 = folder("B1", b.id);

    EntryMenu::fill(menu, *model, LibraryEntry::folder(a.id));
    EXPECT_EQ(titles(moveMenu(menu)), QStringList({"B", "    B1"}));

    QMenu inner;
    EntryMenu::fill(inner, *model, LibraryEntry::folder(a1.id));
    EXPECT_EQ(titles(moveMenu(inner)), QStringList({"Tesk (top level)", "B", "    B1"}));
    choose(moveMenu(inner), "    B1");
    settle();
    EXPECT_EQ(model->library().folder(a1.id)->parentID, b1.id);
}
