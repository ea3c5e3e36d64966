// The panel around the views: what its keys and its toast do, when a click elsewhere closes it, and
// context menus whose rows are rebuilt while they are open.
#include "ui/explorer/explorer_pane.h"
#include "ui/explorer/file_list_model.h"
#include "ui/explorer/file_list_view.h"
#include "ui/lists/device_row.h"
#include "ui/lists/share_row.h"
#include "ui/shell/panel_controller.h"
#include "ui/shell/preview_window.h"
#include "ui/shell/status_item_controller.h"
#include "ui/shell/tesk_panel.h"
#include "ui/shell/toast_capsule.h"
#include "ui/widgets/motion.h"
#include "ui_fixture.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <functional>
#include <optional>
#include <tuple>

/// The whole interface over a model: the offscreen platform has no tray, so the panel is an ordinary
/// window, shown at once.
class PanelTest : public UIFixture {
protected:
    PanelTest() {
        Motion::setEnabled(false);
        controller = std::make_unique<StatusItemController>(*model, platform);
        QApplication::processEvents();
    }

    TeskPanel& panel() { return controller->panel(); }
    void key(QWidget& target, Qt::Key key) {
        QTest::keyClick(&target, key);
        settle();
    }

    /// Opens `owner`'s context menu at `at` (its centre by default), makes `change` (which rebuilds the list
    /// the owner is in) while the menu is open, then chooses `choice`. Whether the menu was still open to
    /// choose from.
    bool chooseAfterRebuild(QWidget& owner, const std::function<void()>& change, const QString& choice,
                            std::optional<QPoint> at = {}) {
        bool done = false, open = false;
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
        const QPoint point = at.value_or(owner.rect().center());
        QContextMenuEvent event(QContextMenuEvent::Mouse, point, owner.mapToGlobal(point));
        QApplication::sendEvent(&owner, &event);
        while (!done) {
            QApplication::processEvents();
        }
        settle();
        return open;
    }

    std::unique_ptr<StatusItemController> controller;
};

TEST_F(PanelTest, SpacePreviewsEscapeDismissesOneThingAtATimeAndTheToastRunsItsAction) {
    const Item image = addItem("notes.txt");
    const Item slides = addItem("slides.odp");
    QWidget& list = panel().findChild<ExplorerPane*>()->list();
    model->setPicked({ShareTarget::item(image.id)});
    list.setFocus();
    key(list, Qt::Key_Space);
    EXPECT_TRUE(controller->preview().isVisible() && controller->preview().file() == store.filePath(image));
    key(list, Qt::Key_Space);
    EXPECT_FALSE(controller->preview().isVisible());
    model->setPicked({ShareTarget::item(slides.id)});
    key(list, Qt::Key_Space);
    EXPECT_EQ(platform.openedFiles, std::vector{store.filePath(slides)}) << "the preview cannot draw it";

    model->startPairing();
    model->setRenamingID(image.id);
    key(panel(), Qt::Key_Escape);
    EXPECT_TRUE(!model->renamingID() && model->isPairingPanelOpen());
    key(panel(), Qt::Key_Escape);
    EXPECT_TRUE(!model->isPairingPanelOpen() && model->picked().size() == 1);
    key(panel(), Qt::Key_Escape);
    // A later Shift-click would start from a forgotten anchor.
    EXPECT_TRUE(model->picked().empty() && !model->pickAnchor());
    key(panel(), Qt::Key_Escape);
    EXPECT_TRUE(controller->isPanelVisible()) << "no tray icon could bring a window back";

    controller->panelController().close();
    model->showItem(image.id);
    settle();
    EXPECT_TRUE(controller->isPanelVisible()) << "a reveal opens a closed panel";
    bool tapped = false;
    model->show("Added 2 files", [&tapped] { tapped = true; });
    settle();
    QTest::mouseClick(panel().findChild<ToastCapsule*>(), Qt::LeftButton);
    EXPECT_TRUE(tapped);
}

TEST_F(PanelTest, ContextMenusOutliveTheRowsRebuiltUnderThem) {
    const Item item = addItem("a.txt");
    const Share share = store.share(ShareTarget::item(item.id), ShareDuration::day, true);
    const PairedDevice phone = pair("iPhone");
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

    model->setSelection(SidebarSelection::all());
    settle();
    auto* list = panel().findChild<FileListView*>();
    EXPECT_TRUE(chooseAfterRebuild(
        *list->viewport(), [&] { addItem("b.txt"); }, "Rename",
        list->visualRect(list->fileModel().index(0)).center()));
    EXPECT_EQ(model->renamingID(), item.id);
}

TEST(PointerTest, AClickElsewhereClosesOnceADragDoesNot) {
    TeskPanel panel(new QWidget, true);
    PanelController controller(panel);
    auto now = std::chrono::steady_clock::time_point();
    controller.clock = [&] { return now; };
    const auto open = [&] { controller.showWindow(); };
    const auto pointer = [&](std::initializer_list<std::tuple<QPoint, bool, bool>> readings) {
        for (const auto& [at, pressed, overPanel] : readings) {
            controller.pointerMoved(at, pressed, overPanel);
        }
        return panel.isVisible();
    };
    open();
    // A drag from elsewhere may bring files.
    EXPECT_TRUE(pointer({{{5, 5}, true, false}, {{60, 40}, true, false}, {{300, 200}, false, true}}));
    // The click on the tray icon is read as a click elsewhere before the tray reports it.
    EXPECT_FALSE(pointer({{{5, 5}, true, false}, {{6, 5}, false, false}}));
    now += std::chrono::milliseconds(50);
    controller.toggle(open);
    EXPECT_FALSE(panel.isVisible()) << "the same click closes only once";
    now += std::chrono::seconds(1);
    controller.toggle(open);
    EXPECT_TRUE(panel.isVisible());
}
