#include "ui/sidebar/sidebar.h"

#include "app/model/drag_drop.h"
#include "core/share_duration.h"
#include "ui/explorer/drop_target.h"
#include "ui/sidebar/sidebar_folder_row.h"
#include "ui/sidebar/sidebar_row.h"
#include "ui/sidebar/status_card.h"
#include "ui_fixture.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <algorithm>

namespace {

using Menus::find;
using Menus::titles;

/// Drags `data` over `widget` and, when `drop`, lets go; whether the widget took the drag.
bool dragOnto(QWidget& widget, const QMimeData& data, bool drop) {
    const QPoint centre = widget.rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&widget, &enter);
    if (!enter.isAccepted()) {
        return false;
    }
    if (drop) {
        QDropEvent release(QPointF(centre), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                           Qt::NoModifier);
        QApplication::sendEvent(&widget, &release);
        return release.isAccepted();
    }
    return true;
}

class SidebarTest : public UIFixture {
protected:
    SidebarTest() {
        sidebar = std::make_unique<Sidebar>(*model);
        sidebar->resize(204, 540);
        sidebar->show();
        QApplication::processEvents();
    }

    /// The folder rows' names, after replaced rows are gone.
    QStringList folderNames() {
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QStringList names;
        for (const SidebarFolderRow* row : sidebar->folderRows()) {
            names << row->name();
        }
        return names;
    }
    bool noFoldersShown() const {
        const auto* label = sidebar->findChild<QLabel*>("noFolders");
        return label && label->isVisibleTo(sidebar.get()) && label->text() == "No folders yet";
    }
    SidebarFolderRow& row(const std::string& folderID) {
        for (SidebarFolderRow* row : sidebar->folderRows()) {
            if (row->folderID() == folderID) {
                return *row;
            }
        }
        throw std::runtime_error("no row for " + folderID);
    }

    std::unique_ptr<Sidebar> sidebar;
};

} // namespace

// ---- The library rows ----

TEST_F(SidebarTest, LibraryRowsClickSelectTheirKindAndLeaveTheSearch) {
    EXPECT_EQ(sidebar->allFilesRow().label(), "All files");
    EXPECT_EQ(sidebar->receivedRow().label(), "Received");
    EXPECT_EQ(sidebar->sharedRow().label(), "Shared links");
    EXPECT_EQ(sidebar->phonesRow().label(), "Phones");
    EXPECT_EQ(sidebar->allFilesRow().symbol(), "tray");
    EXPECT_EQ(sidebar->receivedRow().symbol(), "arrow.down.to.line");
    EXPECT_EQ(sidebar->sharedRow().symbol(), "link");
    EXPECT_EQ(sidebar->phonesRow().symbol(), "iphone");
    EXPECT_TRUE(sidebar->allFilesRow().isSelected());

    model->setSearch("report");
    const std::pair<SidebarRow*, SidebarSelection> cases[] = {
        {&sidebar->phonesRow(), SidebarSelection::phones()},
        {&sidebar->sharedRow(), SidebarSelection::shared()},
        {&sidebar->receivedRow(), SidebarSelection::received()},
        {&sidebar->allFilesRow(), SidebarSelection::all()},
    };
    for (const auto& [row, selection] : cases) {
        SCOPED_TRACE(row->label().toStdString());
        QTest::mouseClick(row, Qt::LeftButton);
        EXPECT_EQ(model->selection(), selection);
        EXPECT_TRUE(row->isSelected());
        EXPECT_EQ(model->search(), "report");
    }
    EXPECT_FALSE(sidebar->phonesRow().isSelected());
}

TEST_F(SidebarTest, BadgesCountUnseenReceivedActiveSharesAndPhones) {
    EXPECT_FALSE(sidebar->receivedRow().badge());
    EXPECT_FALSE(sidebar->sharedRow().badge());
    EXPECT_FALSE(sidebar->phonesRow().badge());
    EXPECT_FALSE(sidebar->allFilesRow().badge());

    clock.advance(5);
    store.addText("from the phone", std::nullopt, std::string("Ana's iPhone"));
    store.addText("another", std::nullopt, std::string("Ana's iPhone"));
    const Item file = addItem("a.txt");
    store.share(ShareTarget::item(file.id), ShareDuration::day, false);
    pair("Ana's iPhone");
    pair("Pixel 8");
    settle();

    EXPECT_EQ(sidebar->receivedRow().badge(), "2");
    EXPECT_TRUE(sidebar->receivedRow().isBadgeFilled());
    EXPECT_EQ(sidebar->sharedRow().badge(), "1");
    EXPECT_FALSE(sidebar->sharedRow().isBadgeFilled());
    EXPECT_EQ(sidebar->phonesRow().badge(), "2");

    // Looking at Received counts as having seen it.
    QTest::mouseClick(&sidebar->receivedRow(), Qt::LeftButton);
    EXPECT_FALSE(sidebar->receivedRow().badge());
}

// ---- Folder rows ----

TEST_F(SidebarTest, FolderRowsListTopLevelFoldersOrNoFoldersYet) {
    EXPECT_TRUE(noFoldersShown());
    EXPECT_TRUE(folderNames().isEmpty());

    const Folder zeta = folder("Zeta");
    const Folder alpha = folder("alpha");
    folder("Inside alpha", alpha.id);
    EXPECT_EQ(folderNames(), QStringList({"alpha", "Zeta"}));
    EXPECT_FALSE(noFoldersShown());

    store.deleteFolder(zeta.id);
    store.deleteFolder(alpha.id);
    settle();
    EXPECT_TRUE(folderNames().isEmpty());
    EXPECT_TRUE(noFoldersShown());
}

TEST_F(SidebarTest, FolderRowFollowsARename) {
    const Folder work = folder("Work");
    store.renameFolder(work.id, "Projects");
    settle();
    EXPECT_EQ(folderNames(), QStringList({"Projects"}));
}

TEST_F(SidebarTest, ClickSelectsAFolderAndItStaysHighlightedForFoldersInside) {
    const Folder work = folder("Work");
    const Folder inner = folder("Inner", work.id);
    const Folder other = folder("Other");
    SidebarFolderRow& workRow = row(work.id);
    EXPECT_FALSE(workRow.isHighlighted());

    QTest::mouseClick(&workRow, Qt::LeftButton);
    EXPECT_EQ(model->selection(), SidebarSelection::folder(work.id));
    EXPECT_TRUE(workRow.isHighlighted());
    EXPECT_FALSE(row(other.id).isHighlighted());
    EXPECT_FALSE(sidebar->allFilesRow().isSelected());

    model->setSelection(SidebarSelection::folder(inner.id));
    EXPECT_TRUE(workRow.isHighlighted());
    model->setSelection(SidebarSelection::all());
    EXPECT_FALSE(workRow.isHighlighted());
}

TEST_F(SidebarTest, SharedTagShowsWhileTheFolderIsShared) {
    const Folder work = folder("Work");
    EXPECT_FALSE(row(work.id).isShared());
    const Share share = store.share(ShareTarget::folder(work.id), ShareDuration::day, false);
    settle();
    EXPECT_TRUE(row(work.id).isShared());
    store.stopSharing(share.token);
    settle();
    EXPECT_FALSE(row(work.id).isShared());
}

TEST_F(SidebarTest, ContextMenuIsTheFoldersEntryMenu) {
    const Folder work = folder("Work");
    SidebarFolderRow& workRow = row(work.id);
    QContextMenuEvent event(QContextMenuEvent::Mouse, workRow.rect().center(),
                            workRow.mapToGlobal(workRow.rect().center()));
    QApplication::sendEvent(&workRow, &event);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(titles(*menu).first(), "Open");
    EXPECT_EQ(titles(*menu).last(), "Delete folder");
    find(*menu, "Rename")->trigger();
    menu->close();
    EXPECT_EQ(model->renamingID(), work.id);
}

TEST_F(SidebarTest, RenameFieldTakesFocusAndReturnRenames) {
    const Folder work = folder("Work");
    QApplication::setActiveWindow(sidebar.get());
    model->setRenamingID(work.id);
    SidebarFolderRow& workRow = row(work.id);
    auto* field = workRow.findChild<QLineEdit*>("folderNameField");
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(workRow.isEditing());
    EXPECT_TRUE(field->isVisibleTo(sidebar.get()));
    EXPECT_EQ(field->placeholderText(), "Folder name");
    EXPECT_EQ(field->text(), "Work");
    EXPECT_EQ(field->selectedText(), "Work");
    EXPECT_TRUE(field->hasFocus());

    QTest::keyClicks(field, "Projects");
    QTest::keyClick(field, Qt::Key_Return);
    settle();
    EXPECT_EQ(model->library().folder(work.id)->name, "Projects");
    EXPECT_EQ(model->renamingID(), std::nullopt);
    EXPECT_FALSE(row(work.id).isEditing());
    EXPECT_EQ(folderNames(), QStringList({"Projects"}));
}

TEST_F(SidebarTest, EscapeLeavesTheNameAsItWas) {
    const Folder work = folder("Work");
    model->setRenamingID(work.id);
    auto* field = row(work.id).findChild<QLineEdit*>("folderNameField");
    QTest::keyClicks(field, "Other");
    QTest::keyClick(field, Qt::Key_Escape);
    settle();
    EXPECT_EQ(model->renamingID(), std::nullopt);
    EXPECT_FALSE(row(work.id).isEditing());
    EXPECT_EQ(model->library().folder(work.id)->name, "Work");
}

TEST_F(SidebarTest, LongFolderListScrolls) {
    for (int index = 0; index < 40; ++index) {
        store.addFolder("Folder " + std::to_string(index), std::nullopt);
    }
    settle();
    QApplication::processEvents();
    auto* scroll = sidebar->findChild<QScrollArea*>("folderScroll");
    ASSERT_NE(scroll, nullptr);
    EXPECT_GT(scroll->verticalScrollBar()->maximum(), 0);
    EXPECT_LE(sidebar->height(), 540);
}

// ---- Drops ----

TEST_F(SidebarTest, EntryDraggedFromTheListOntoAFolderRowMovesThere) {
    const Folder work = folder("Work");
    const Item file = addItem("plan.txt");
    SidebarFolderRow& workRow = row(work.id);
    workRow.dropTarget().setSourceCheck([](const QDropEvent&) { return true; });
    const auto data = DragDrop::provider(LibraryEntry::item(file.id), store.filePath(file), std::nullopt);

    ASSERT_TRUE(dragOnto(workRow, *data, false));
    EXPECT_TRUE(workRow.dropTarget().isTargeted());
    const auto* highlight = workRow.findChild<QWidget*>("dropHighlight");
    ASSERT_NE(highlight, nullptr);
    EXPECT_TRUE(highlight->isVisible());
    EXPECT_TRUE(highlight->testAttribute(Qt::WA_TransparentForMouseEvents));

    // A copy is all the list's drags offer; the entry type is what makes it a move.
    QDropEvent release(QPointF(workRow.rect().center()), Qt::CopyAction, data.get(), Qt::LeftButton,
                       Qt::NoModifier);
    QApplication::sendEvent(&workRow, &release);
    EXPECT_TRUE(release.isAccepted());
    EXPECT_FALSE(workRow.dropTarget().isTargeted());
    EXPECT_FALSE(highlight->isVisible());
    settle();
    EXPECT_EQ(model->library().item(file.id)->folderID, work.id);
    EXPECT_EQ(model->library().items.size(), 1u) << "moved, not copied";
}

TEST_F(SidebarTest, EntryTypeOfferedByAnotherProgramIsRefused) {
    const Folder work = folder("Work");
    const Item file = addItem("plan.txt");
    SidebarFolderRow& workRow = row(work.id);
    const auto data = DragDrop::provider(LibraryEntry::item(file.id), store.filePath(file), std::nullopt);
    EXPECT_FALSE(dragOnto(workRow, *data, false));
    EXPECT_FALSE(workRow.dropTarget().isTargeted());

    QDropEvent release(QPointF(workRow.rect().center()), Qt::CopyAction, data.get(), Qt::LeftButton,
                       Qt::NoModifier);
    QApplication::sendEvent(&workRow, &release);
    EXPECT_FALSE(release.isAccepted());
    settle();
    EXPECT_EQ(model->library().item(file.id)->folderID, std::nullopt);
    EXPECT_EQ(model->library().items.size(), 1u);
}

TEST_F(SidebarTest, OutsideFilesDroppedOnAFolderRowAreCopiedIntoIt) {
    const Folder work = folder("Work");
    const auto original = makeFile("scan.pdf", "pdf bytes");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(original.string()))});
    EXPECT_TRUE(dragOnto(row(work.id), data, true));
    ASSERT_TRUE(spinUntil([&] { return model->library().itemsIn(work.id).size() == 1; }));
    EXPECT_EQ(model->library().itemsIn(work.id).at(0).name, "scan.pdf");
    EXPECT_TRUE(std::filesystem::exists(original)) << "the original stays";
}

TEST_F(SidebarTest, DragLeavingTheRowTakesTheHighlightAway) {
    const Folder work = folder("Work");
    SidebarFolderRow& workRow = row(work.id);
    QMimeData text;
    text.setText("a note");
    ASSERT_TRUE(dragOnto(workRow, text, false));
    EXPECT_TRUE(workRow.dropTarget().isTargeted());
    QDragLeaveEvent leave;
    QApplication::sendEvent(&workRow, &leave);
    EXPECT_FALSE(workRow.dropTarget().isTargeted());
    EXPECT_FALSE(workRow.findChild<QWidget*>("dropHighlight")->isVisible());
}

TEST_F(SidebarTest, AllFilesTakesDropsIntoTheTopLevelWhateverIsSelected) {
    const Folder work = folder("Work");
    const Item file = addItem("plan.txt", work.id);
    model->setSelection(SidebarSelection::folder(work.id));
    auto* target = sidebar->allFilesRow().findChild<DropTarget*>();
    ASSERT_NE(target, nullptr);
    target->setSourceCheck([](const QDropEvent&) { return true; });

    const auto entry = DragDrop::provider(LibraryEntry::item(file.id), store.filePath(file), std::nullopt);
    EXPECT_TRUE(dragOnto(sidebar->allFilesRow(), *entry, true));
    QMimeData note;
    note.setText("Call the plumber on Monday");
    EXPECT_TRUE(dragOnto(sidebar->allFilesRow(), note, true));
    settle();

    EXPECT_EQ(model->library().item(file.id)->folderID, std::nullopt);
    const auto top = model->library().itemsIn(std::nullopt);
    ASSERT_EQ(top.size(), 2u);
    EXPECT_TRUE(std::any_of(top.begin(), top.end(),
                            [](const Item& item) { return item.content == "Call the plumber on Monday"; }));
}

TEST_F(SidebarTest, OtherLibraryRowsTakeNoDrops) {
    for (SidebarRow* row : {&sidebar->receivedRow(), &sidebar->sharedRow(), &sidebar->phonesRow()}) {
        SCOPED_TRACE(row->label().toStdString());
        EXPECT_FALSE(row->acceptDrops());
        EXPECT_EQ(row->findChild<DropTarget*>(), nullptr);
    }
}

// ---- Header and status ----

TEST_F(SidebarTest, SettingsMenuBindsAppearanceAndOffersLoginAndQuit) {
    auto* button = sidebar->findChild<QToolButton*>("settingsButton");
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->toolTip(), "Appearance, Open at Login and Quit");
    QMenu& menu = sidebar->settingsMenu();
    EXPECT_EQ(titles(menu), QStringList({"Appearance", "Open at Login", "Quit Tesk"}));
    EXPECT_TRUE(find(menu, "Open at Login")->isCheckable());

    QMenu& appearance = *find(menu, "Appearance")->menu();
    EXPECT_EQ(titles(appearance), QStringList({"Match System", "Light", "Dark"}));
    EXPECT_TRUE(find(appearance, "Match System")->isChecked());

    find(appearance, "Dark")->trigger();
    EXPECT_EQ(model->appearance(), AppearanceSetting::dark);
    EXPECT_FALSE(find(appearance, "Match System")->isChecked());

    model->setAppearance(AppearanceSetting::light);
    EXPECT_TRUE(find(appearance, "Light")->isChecked());
    EXPECT_FALSE(find(appearance, "Dark")->isChecked());
}

TEST_F(SidebarTest, StatusCardSaysWhetherPhonesCanReachThisComputer) {
    EXPECT_EQ(sidebar->statusCard().title(), "On Wi‑Fi · sharing");
    EXPECT_EQ(sidebar->statusCard().line(), "Phones on this Wi‑Fi reach this computer at 192.168.1.20");

    lanAddress = std::nullopt;
    model->refreshAddress();
    EXPECT_EQ(sidebar->statusCard().title(), "Not on Wi‑Fi");
    EXPECT_EQ(sidebar->statusCard().line(), "Connect to Wi‑Fi so phones can reach this computer");

    lanAddress = "10.0.0.7";
    model->refreshAddress();
    EXPECT_EQ(sidebar->statusCard().line(), "Phones on this Wi‑Fi reach this computer at 10.0.0.7");
}
