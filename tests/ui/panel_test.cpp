// The panel around the views: where it opens, how Escape and Space behave, when a click elsewhere closes
// it, the preview window and the drop overlay.
#include "ui/explorer/drop_overlay.h"
#include "ui/explorer/explorer_pane.h"
#include "ui/explorer/file_list_model.h"
#include "ui/explorer/file_list_view.h"
#include "ui/explorer/toolbar.h"
#include "ui/lists/device_row.h"
#include "ui/lists/share_row.h"
#include "ui/shell/panel_controller.h"
#include "ui/shell/panel_placement.h"
#include "ui/shell/popover_root.h"
#include "ui/shell/preview_window.h"
#include "ui/shell/status_item_controller.h"
#include "ui/shell/tesk_panel.h"
#include "ui/shell/toast_capsule.h"
#include "ui/sidebar/sidebar_folder_row.h"
#include "ui/widgets/motion.h"
#include "ui_fixture.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <functional>

namespace {

const QSize panelSize(780, 540);

TEST(PanelPlacementTest, CentredSixBelowTheIcon) {
    const QRect screen(0, 0, 1920, 1080);
    EXPECT_EQ(PanelPlacement::below(QRect(1000, 0, 24, 24), panelSize, screen, 0), QPoint(1012 - 390, 30));
}

TEST(PanelPlacementTest, ClampedEightInsideTheScreenEdges) {
    const QRect screen(0, 0, 1920, 1080);
    EXPECT_EQ(PanelPlacement::below(QRect(1890, 0, 24, 24), panelSize, screen, 0).x(), 1920 - 780 - 8);
    EXPECT_EQ(PanelPlacement::below(QRect(4, 0, 24, 24), panelSize, screen, 0).x(), 8);
    // A second screen to the right keeps its own edges.
    const QRect second(1920, 0, 1280, 800);
    EXPECT_EQ(PanelPlacement::below(QRect(3180, 0, 20, 20), panelSize, second, 0).x(), 1920 + 1280 - 780 - 8);
}

TEST(PanelPlacementTest, StaysBelowTheTopBar) {
    const QRect screen(0, 0, 1920, 1080);
    // An icon reported inside a 32-high bar, with its bottom above the bar's.
    EXPECT_EQ(PanelPlacement::below(QRect(900, 2, 20, 20), panelSize, screen, 32).y(), 32 + 6);
    EXPECT_EQ(PanelPlacement::below(QRect(900, 2, 20, 40), panelSize, screen, 32).y(), 42 + 6);
}

TEST(PanelPlacementTest, TrayAtTheBottomOpensAboveTheIcon) {
    const QRect screen(0, 0, 1920, 1080);
    const QPoint origin = PanelPlacement::below(QRect(1800, 1050, 24, 24), panelSize, screen, 0);
    EXPECT_EQ(origin.y(), 1050 - 6 - 540);
    EXPECT_EQ(origin.x(), 1920 - 780 - 8);
}

TEST(PanelPlacementTest, WithoutScreenOnlyCentresAndDrops) {
    EXPECT_EQ(PanelPlacement::below(QRect(100, 10, 20, 20), panelSize, std::nullopt, 0),
              QPoint(110 - 390, 36));
    EXPECT_EQ(PanelPlacement::corner(panelSize, QRect(0, 27, 1920, 1053)), QPoint(1920 - 780 - 8, 35));
}

/// The whole interface over a model: in the offscreen platform there is no tray, so the panel is an
/// ordinary window, shown at once.
class PanelTest : public UIFixture {
protected:
    PanelTest() {
        Motion::setEnabled(false);
        controller = std::make_unique<StatusItemController>(*model, platform);
        QApplication::processEvents();
    }
    ~PanelTest() override { controller.reset(); }

    TeskPanel& panel() { return controller->panel(); }
    ExplorerPane& explorer() { return *panel().findChild<ExplorerPane*>(); }
    void press(Qt::Key key, QWidget* target = nullptr) {
        QTest::keyClick(target ? target : static_cast<QWidget*>(&panel()), key);
        settle();
    }

    /// Opens `owner`'s context menu at `at` and, while it is open, makes `change`, which rebuilds the list
    /// the owner is in; then chooses `choice`. Whether the menu was still open to choose from.
    bool chooseAfterRebuild(QWidget& owner, QPoint at, const std::function<void()>& change,
                            const QString& choice) {
        bool done = false;
        bool open = false;
        // Inside the menu's own event loop if it waits for an answer, else on the loop's next turn below.
        QTimer::singleShot(0, [&] {
            const QPointer<QMenu> menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            change();
            settle();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            open = menu && menu->isVisible();
            if (open) {
                Menus::choose(*menu, choice);
                menu->close();
            }
            done = true;
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, owner.mapToGlobal(at));
        QApplication::sendEvent(&owner, &event);
        while (!done) {
            QApplication::processEvents();
        }
        settle();
        return open;
    }
    bool chooseAfterRebuild(QWidget& owner, const std::function<void()>& change, const QString& choice) {
        return chooseAfterRebuild(owner, owner.rect().center(), change, choice);
    }

    std::unique_ptr<StatusItemController> controller;
};

TEST_F(PanelTest, WithoutTrayThePanelIsAnOrdinaryWindowShownAtStart) {
    EXPECT_FALSE(panel().isFloating());
    EXPECT_TRUE(controller->isPanelVisible());
    EXPECT_EQ(panel().size(), panelSize);
}

TEST_F(PanelTest, EscapeEndsRenameThenPairingThenPicksThenNothingInAWindow) {
    const Item item = addItem("a.txt");
    model->togglePick(ShareTarget::item(item.id));
    model->startPairing();
    model->setRenamingID(item.id);
    ASSERT_TRUE(model->pairing());

    press(Qt::Key_Escape);
    EXPECT_FALSE(model->renamingID());
    EXPECT_TRUE(model->pairing());
    press(Qt::Key_Escape);
    EXPECT_FALSE(model->isPairingPanelOpen());
    EXPECT_EQ(model->picked().size(), 1u);
    press(Qt::Key_Escape);
    EXPECT_TRUE(model->picked().empty());
    EXPECT_FALSE(model->pickAnchor()) << "a later Shift-click would start from it";
    // Nothing left to dismiss: an ordinary window stays, since no tray icon could bring it back.
    press(Qt::Key_Escape);
    EXPECT_TRUE(controller->isPanelVisible());
}

TEST_F(PanelTest, EscapeClosesTheInspectorAfterTheRename) {
    const Item item = addItem("a.txt");
    model->inspect(ShareTarget::item(item.id));
    settle();
    model->setRenamingID(item.id);
    press(Qt::Key_Escape);
    EXPECT_FALSE(model->renamingID());
    EXPECT_TRUE(model->inspecting());
    press(Qt::Key_Escape);
    EXPECT_FALSE(model->inspecting());
}

TEST_F(PanelTest, EscapeWithNothingToDismissClosesAFloatingPanel) {
    TeskPanel floating(new QWidget, true);
    PanelController floatingController(floating);
    floatingController.onEscape = [this] { return StatusItemController::dismissOne(*model); };
    floatingController.showWindow();
    const Item item = addItem("a.txt");
    model->setPicked({ShareTarget::item(item.id)});

    QTest::keyClick(&floating, Qt::Key_Escape);
    EXPECT_TRUE(model->picked().empty());
    EXPECT_TRUE(floating.isVisible());
    QTest::keyClick(&floating, Qt::Key_Escape);
    EXPECT_FALSE(floating.isVisible());
}

TEST_F(PanelTest, SpaceTypesInTheSearchFieldAndPreviewsAPickedFile) {
    QLineEdit& search = explorer().toolbar().searchField();
    search.setFocus();
    QTest::keyClicks(&search, "a b");
    settle();
    EXPECT_EQ(model->search(), "a b");
    EXPECT_FALSE(model->previewFile());
    model->setSearch("");

    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(Qt::red);
    const auto source = dir.path() / "outside" / "red.png";
    std::filesystem::create_directories(source.parent_path());
    ASSERT_TRUE(picture.save(QString::fromStdString(source.string())));
    const Item item = store.addFile(source, std::nullopt).at(0);
    settle();
    model->setPicked({ShareTarget::item(item.id)});
    explorer().list().setFocus();

    press(Qt::Key_Space, &explorer().list());
    ASSERT_TRUE(model->previewFile());
    EXPECT_TRUE(controller->preview().isVisible());
    EXPECT_EQ(controller->preview().file(), *model->previewFile());

    press(Qt::Key_Space, &explorer().list());
    EXPECT_FALSE(model->previewFile());
    EXPECT_FALSE(controller->preview().isVisible());

    // Closing the preview itself forgets it, so Space opens it again.
    press(Qt::Key_Space, &explorer().list());
    ASSERT_TRUE(controller->preview().isVisible());
    controller->preview().close();
    settle();
    EXPECT_FALSE(model->previewFile());
    press(Qt::Key_Space, &explorer().list());
    EXPECT_TRUE(controller->preview().isVisible());
}

TEST_F(PanelTest, FilesThePreviewCannotDrawGoToTheDesktop) {
    const Item item = addItem("slides.odp");
    model->setPicked({ShareTarget::item(item.id)});
    press(Qt::Key_Space, &explorer().list());
    ASSERT_EQ(platform.openedFiles.size(), 1u);
    EXPECT_EQ(platform.openedFiles[0].filename(), "slides.odp");
    EXPECT_FALSE(model->previewFile());
    EXPECT_FALSE(controller->preview().isVisible());
}

TEST_F(PanelTest, ARevealRequestOpensAClosedPanel) {
    const Item item = addItem("a.txt");
    controller->panelController().close();
    ASSERT_FALSE(controller->isPanelVisible());
    model->showItem(item.id);
    settle();
    EXPECT_TRUE(controller->isPanelVisible());
}

TEST_F(PanelTest, DropOverlayCountsOutsideFilesIntoTheSelectedFolder) {
    const Folder folder = store.addFolder("Trip", std::nullopt);
    addItem("keep.txt", folder.id);
    model->setSelection(SidebarSelection::folder(folder.id));
    settle();

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(makeFile("1.txt").string())),
                  QUrl::fromLocalFile(QString::fromStdString(makeFile("2.txt").string())),
                  QUrl::fromLocalFile(QString::fromStdString(makeFile("3.txt").string()))});
    QWidget* content = panel().findChild<QWidget*>(QStringLiteral("ExplorerContent"));
    ASSERT_TRUE(content);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(content, &enter);
    EXPECT_EQ(explorer().dropCount(), 3);
    auto* overlay = panel().findChild<DropOverlay*>();
    ASSERT_TRUE(overlay);
    EXPECT_TRUE(overlay->isVisible());
    QStringList texts;
    for (const QLabel* label : overlay->findChildren<QLabel*>()) {
        texts << label->text();
    }
    EXPECT_TRUE(texts.contains(QStringLiteral("Drop 3 files into Trip"))) << texts.join('|').toStdString();

    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(content, &drop);
    settle();
    EXPECT_FALSE(explorer().dropCount());
    EXPECT_FALSE(overlay->isVisible());
    for (int round = 0; round < 50 && model->library().items.size() < 4; ++round) {
        QTest::qWait(20);
        settle();
    }
    int inFolder = 0;
    for (const Item& item : model->library().items) {
        inFolder += item.folderID == folder.id;
    }
    EXPECT_EQ(inFolder, 4);
}

TEST_F(PanelTest, TheRightColumnOpensForTheInspectorAndThePairingPanel) {
    QWidget* column = panel().findChild<QWidget*>(QStringLiteral("RightColumn"));
    ASSERT_TRUE(column);
    EXPECT_FALSE(column->isVisible());
    const Item item = addItem("a.txt");
    model->inspect(ShareTarget::item(item.id));
    settle();
    EXPECT_TRUE(column->isVisible());
    EXPECT_EQ(column->width(), ExplorerPane::columnWidth);
    model->setInspecting(std::nullopt);
    settle();
    EXPECT_FALSE(column->isVisible());
    model->startPairing();
    settle();
    EXPECT_TRUE(column->isVisible());
}

TEST_F(PanelTest, TheToastShowsTheMessageAndTappingRunsItsAction) {
    auto* toast = panel().findChild<ToastCapsule*>();
    ASSERT_TRUE(toast);
    EXPECT_FALSE(toast->isVisible());
    bool tapped = false;
    model->show("Added 2 files", [&tapped] { tapped = true; });
    settle();
    ASSERT_TRUE(toast->isVisible());
    EXPECT_EQ(toast->toolTip(), QStringLiteral("Show it"));
    EXPECT_EQ(toast->findChild<QLabel*>(QStringLiteral("ToastText"))->text(),
              QStringLiteral("Added 2 files"));
    QTest::mouseClick(toast, Qt::LeftButton);
    settle();
    EXPECT_TRUE(tapped);
    EXPECT_FALSE(toast->isVisible());
}

TEST_F(PanelTest, ContextMenusOutliveTheRowsRebuiltUnderThem) {
    const Item item = addItem("a.txt");
    const Share share = store.share(ShareTarget::item(item.id), ShareDuration::day, true);
    const PairedDevice phone = pair("iPhone");
    const Folder work = folder("Work");

    model->setSelection(SidebarSelection::shared());
    settle();
    // A phone finishes a download: the count changes and every share row is made anew.
    EXPECT_TRUE(chooseAfterRebuild(
        *shownTopToBottom<ShareRow>(panel()).at(0), [&] { store.recordDownload(share.token); }, "Copy link"));
    EXPECT_EQ(platform.clipboardString, model->link(share));

    model->setSelection(SidebarSelection::phones());
    settle();
    // The phone unpairs itself; "Remove" then has nothing left to ask about.
    EXPECT_TRUE(chooseAfterRebuild(
        *shownTopToBottom<DeviceRow>(panel()).at(0), [&] { store.removeDevice(phone.id); }, "Remove"));
    EXPECT_TRUE(platform.alerts.empty());

    // A new folder rebuilds the sidebar's folder rows.
    EXPECT_TRUE(chooseAfterRebuild(
        *shownTopToBottom<SidebarFolderRow>(panel()).at(0), [&] { store.addFolder("Archive", std::nullopt); },
        "Rename"));
    EXPECT_EQ(model->renamingID(), work.id);
    model->setRenamingID(std::nullopt);

    model->setSelection(SidebarSelection::all());
    settle();
    auto* list = explorer().findChild<FileListView*>();
    const auto row = list->fileModel().rowOf(item.id);
    ASSERT_TRUE(row);
    EXPECT_TRUE(chooseAfterRebuild(
        *list->viewport(), list->visualRect(list->fileModel().index(*row)).center(),
        [&] { addItem("b.txt"); }, "Rename"));
    EXPECT_EQ(model->renamingID(), item.id);
}

/// The click-elsewhere rule, fed with pointer readings.
class PointerTest : public ::testing::Test {
protected:
    PointerTest()
        : panel(new QWidget, true)
        , controller(panel) {
        controller.showWindow();
    }

    TeskPanel panel;
    PanelController controller;
};

TEST_F(PointerTest, AClickElsewhereClosesOnRelease) {
    controller.pointerMoved(QPoint(5, 5), true, false);
    EXPECT_TRUE(panel.isVisible());
    controller.pointerMoved(QPoint(5, 5), false, false);
    EXPECT_FALSE(panel.isVisible());
}

TEST_F(PointerTest, ADragFromElsewhereKeepsThePanelOpen) {
    controller.pointerMoved(QPoint(5, 5), true, false);
    controller.pointerMoved(QPoint(60, 40), true, false);
    controller.pointerMoved(QPoint(300, 200), false, true);
    EXPECT_TRUE(panel.isVisible());
    // The next plain click elsewhere still closes it.
    controller.pointerMoved(QPoint(5, 5), true, false);
    controller.pointerMoved(QPoint(6, 5), false, false);
    EXPECT_FALSE(panel.isVisible());
}

TEST_F(PointerTest, ATrayClickReadAsAClickElsewhereClosesOnlyOnce) {
    auto now = std::chrono::steady_clock::time_point();
    controller.clock = [&] { return now; };
    const auto open = [this] { controller.showWindow(); };
    // The release on the icon is read as a click elsewhere before the tray reports it.
    controller.pointerMoved(QPoint(5, 5), true, false);
    controller.pointerMoved(QPoint(5, 5), false, false);
    now += std::chrono::milliseconds(50);
    controller.toggle(open);
    EXPECT_FALSE(panel.isVisible());
    // A later click on the icon opens the panel, and the next one closes it.
    now += std::chrono::seconds(1);
    controller.toggle(open);
    EXPECT_TRUE(panel.isVisible());
    controller.toggle(open);
    EXPECT_FALSE(panel.isVisible());
}

TEST_F(PointerTest, APressOnThePanelItselfDoesNotClose) {
    controller.pointerMoved(QPoint(300, 200), true, true);
    controller.pointerMoved(QPoint(300, 200), false, true);
    EXPECT_TRUE(panel.isVisible());
}

} // namespace
