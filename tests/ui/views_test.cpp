// Each view's controls, walked as a user would in one table per view: the control, what is done with
// it, and what that did to the library or the model. How the views look is left to `tesk --snapshot`.
#include "app/model/drag_drop.h"
#include "core/share_duration.h"
#include "ui/explorer/drop_target.h"
#include "ui/explorer/entry_menu.h"
#include "ui/explorer/selection_bar.h"
#include "ui/inspector/pairing_panel.h"
#include "ui/inspector/share_inspector.h"
#include "ui/lists/device_row.h"
#include "ui/lists/phones_view.h"
#include "ui/lists/share_row.h"
#include "ui/lists/shares_view.h"
#include "ui/sidebar/sidebar.h"
#include "ui/sidebar/sidebar_folder_row.h"
#include "ui/widgets/qr_code_view.h"
#include "ui_fixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QStackedWidget>
#include <QTest>
#include <algorithm>
#include <functional>
#include <tuple>

namespace {

/// One control of a view and what using it must have done. `act` runs first (and is the whole use for
/// menu entries and fields); then the widget of that object name, if there is one, is clicked.
struct Step {
    const char* control;
    std::function<bool()> effect;
    std::function<void()> act = [] {};
};

class ViewsTest : public UIFixture {
protected:
    template <typename View>
    View& show() {
        auto& view = static_cast<View&>(*views.emplace_back(std::make_unique<View>(*model)));
        view.resize(512, 540);
        view.show();
        QApplication::processEvents();
        return view;
    }
    /// Walks the steps in the view shown last.
    void walk(const std::vector<Step>& steps) {
        QWidget& view = *views.back();
        for (const Step& step : steps) {
            step.act();
            settle();
            if (auto* control = view.findChild<QWidget*>(step.control)) {
                // Near the left edge, where a check box has its box.
                QTest::mouseClick(control, Qt::LeftButton, {}, QPoint(4, control->height() / 2));
            }
            settle();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            EXPECT_TRUE(step.effect()) << step.control;
        }
    }
    std::optional<Share> active(const ShareTarget& target) const {
        return store.snapshot().activeShare(target, clock.now());
    }

    std::vector<std::unique_ptr<QWidget>> views;
};

TEST_F(ViewsTest, Sidebar) {
    Sidebar& sidebar = show<Sidebar>();
    const Folder work = folder("Work");
    const Item file = addItem("plan.txt");
    // Folder rows are made anew as the library changes.
    const auto workRow = [&] { return sidebar.folderRows().at(0); };
    const auto entry = DragDrop::provider(LibraryEntry::item(file.id), store.filePath(file), std::nullopt);
    const auto dropOnWork = [&] {
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, entry.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(workRow(), &enter);
        QDropEvent drop(QPointF(5, 5), Qt::CopyAction, entry.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(workRow(), &drop);
    };
    // The rows change what is on show and leave the search as it is.
    const auto shows = [&](SidebarSelection selection) {
        return [=, this] { return model->selection() == selection && model->search() == "report"; };
    };
    model->setSearch("report");
    walk({
        {"phonesRow", shows(SidebarSelection::phones())},
        {"sharedRow", shows(SidebarSelection::shared())},
        {"receivedRow", shows(SidebarSelection::received())},
        {"folderRow", shows(SidebarSelection::folder(work.id))},
        {"allFilesRow", shows(SidebarSelection::all())},
        {"name field", [&] { return model->library().folder(work.id)->name == "Projects"; },
         [&] {
             model->setRenamingID(work.id);
             QTest::keyClicks(workRow()->findChild<QLineEdit*>("folderNameField"), "Projects\r");
         }},
        // No drag of this program runs, so the event names no source: as when another program offers one.
        {"another program's entry", [&] { return !model->library().item(file.id)->folderID; }, dropOnWork},
        {"an entry dropped on a folder", [&] { return model->library().item(file.id)->folderID == work.id; },
         [&] {
             workRow()->dropTarget().setSourceCheck([](const QDropEvent&) { return true; });
             dropOnWork();
         }},
    });
}

TEST_F(ViewsTest, SelectionBar) {
    const Folder work = folder("Work");
    const Item a = addItem("a.txt"), b = addItem("b.txt");
    SelectionBar& bar = show<SelectionBar>();
    // Sharing or moving the picks may leave nothing picked.
    const auto pick = [&] { model->setPicked({ShareTarget::item(a.id), ShareTarget::item(b.id)}); };
    walk({
        {"shareLinkButton", [&] { return model->inspecting()->kind() == ShareTarget::Kind::bundle; }, pick},
        {"Move to > Work", [&] { return model->library().itemsIn(work.id).size() == 2; },
         [&] {
             pick();
             Menus::choose(bar.moveMenu(), "Work");
         }},
        // Whether it asks first is the model's rule (answered Yes here).
        {"deleteButton", [&] { return model->library().items.empty(); }, pick},
        // A later Shift-click would start from a forgotten anchor.
        {"clearSelectionButton", [&] { return model->picked().empty() && !model->pickAnchor(); },
         [&] { model->togglePick(ShareTarget::folder(work.id)); }},
    });
}

TEST_F(ViewsTest, EntryMenu) {
    pair("Pixel 8");
    const Folder work = folder("Work");
    const Item file = addItem("report.pdf"), stale = addItem("stale.txt");
    const Item note = store.addText("Buy milk", std::nullopt).value(),
               link = store.addText("https://example.com/page", std::nullopt).value();
    // A menu left open while its entry is deleted elsewhere does nothing.
    QMenu staleMenu;
    EntryMenu::fill(staleMenu, *model, LibraryEntry::item(stale.id));
    store.deleteItem(stale.id);
    settle();
    for (const char* title : {"Open", "Quick Look", "Show in Folder", "Delete"}) {
        Menus::choose(staleMenu, title);
    }
    EXPECT_TRUE(platform.openedFiles.empty() && platform.revealedFiles.empty() && !model->previewFile());

    const auto stored = std::vector{store.filePath(file)};
    const LibraryEntry onFile = LibraryEntry::item(file.id), onNote = LibraryEntry::item(note.id),
                       onFolder = LibraryEntry::folder(work.id);
    const std::tuple<LibraryEntry, const char*, std::function<bool()>> rows[] = {
        {onFile, "Open", [&] { return platform.openedFiles == stored; }},
        {onFile, "Quick Look", [&] { return model->previewFile() == stored[0]; }},
        {onFile, "Show in Folder", [&] { return platform.revealedFiles == stored; }},
        {onFile, "Copy link", [&] { return model->isShared(ShareTarget::item(file.id)); }},
        {onFile, "Share…", [&] { return model->inspecting() == ShareTarget::item(file.id); }},
        // No relay here, so the send ends at once, naming the phone it was for.
        {onNote, "Send to Pixel 8",
         [&] { return model->toast().value_or("").find("Pixel 8") != std::string::npos; }},
        {onNote, "Copy note", [&] { return platform.clipboardString == "Buy milk"; }},
        {LibraryEntry::item(link.id), "Open", [&] { return platform.openedURLs.size() == 1; }},
        {onNote, "Rename", [&] { return model->renamingID() == note.id; }},
        {onNote, "Work",
         [&] { return model->library().item(note.id)->folderID == work.id; }}, // under Move to
        {onFolder, "Open", [&] { return model->selection() == SidebarSelection::folder(work.id); }},
        // Deleting asks nothing.
        {onFile, "Delete", [&] { return !std::filesystem::exists(stored[0]) && platform.alerts.empty(); }},
        {onFolder, "Delete folder", [&] { return !model->library().item(note.id); }},
    };
    for (const auto& [entry, title, effect] : rows) {
        QMenu menu;
        EntryMenu::fill(menu, *model, entry);
        Menus::choose(title == std::string("Work") ? *Menus::find(menu, "Move to")->menu() : menu, title);
        settle();
        EXPECT_TRUE(effect()) << title;
    }
}

TEST_F(ViewsTest, SharesView) {
    SharesView& view = show<SharesView>();
    const ShareTarget a = ShareTarget::item(addItem("a.txt").id), b = ShareTarget::item(addItem("b.txt").id),
                      gone = ShareTarget::item(addItem("c.txt").id);
    const Share live = store.share(a, ShareDuration::day, true),
                stopped = store.share(b, ShareDuration::hour, false);
    store.stopSharing(stopped.token);
    store.share(gone, ShareDuration::day, true);
    store.deleteItem(*gone.id());
    store.share(ShareTarget::inbox(), ShareDuration::hour, true);
    settle();
    const auto row = [&](const ShareTarget& target) {
        const auto rows = shownTopToBottom<ShareRow>(view);
        return *std::ranges::find(rows, target, [](ShareRow* each) { return each->share().target; });
    };
    // A receive link is not one of the user's shares; a link whose files are gone cannot be made anew.
    EXPECT_EQ(shownTopToBottom<ShareRow>(view).size(), 3u);
    EXPECT_EQ(Menus::titlesOf(*row(gone)), QStringList{"Remove from history"});
    // Each button is, for now, on one row only: a's live row, b's earlier one.
    walk({
        {"copyLink", [&] { return platform.clipboardString == model->link(live); }},
        {"showQR", [&] { return model->inspecting() == a; }},
        {"shareAgain",
         [&] { return active(b) && active(b)->token != stopped.token && model->inspecting() == b; }},
        {"Stop sharing", [&] { return !active(a) && !row(a)->live(); },
         [&] { Menus::chooseIn(*row(a), "Stop sharing"); }},
        {"Remove from history", [&] { return !store.snapshot().share(live.token); },
         [&] { Menus::chooseIn(*row(a), "Remove from history"); }},
    });
}

TEST_F(ViewsTest, PhonesView) {
    PhonesView& view = show<PhonesView>();
    const auto first = [&] { return shownTopToBottom<DeviceRow>(view).at(0); };
    const auto devices = [&] { return store.snapshot().devices; };
    walk({
        {"pairPhone", [&] { return model->pairing().has_value(); }},
        {"name field", [&] { return devices().at(0).name == "Work phone"; },
         [&] {
             pair("Phone");
             Menus::chooseIn(*first(), "Rename");
             QTest::keyClicks(first()->findChild<QLineEdit*>("nameField"), "Work phone\r");
         }},
        // Asked first, and answered No.
        {"remove", [&] { return platform.alerts.size() == 1 && devices().size() == 1; },
         [&] { platform.answers = {false}; }},
        {"Remove", [&] { return devices().empty(); }, [&] { Menus::chooseIn(*first(), "Remove"); }},
    });
}

TEST_F(ViewsTest, ShareInspector) {
    ShareInspector& inspector = show<ShareInspector>();
    const ShareTarget target = ShareTarget::item(addItem("a.txt").id);
    model->inspect(target);
    settle();
    const std::string token = active(target).value().token;
    const auto share = [&] { return active(target).value_or(Share{}); };
    const auto page = [&] { return inspector.findChild<QStackedWidget*>()->currentWidget()->objectName(); };
    const auto shows = [&] {
        return inspector.findChild<QRCodeView*>("qr")->text() == model->link(share()) && page() == "details";
    };
    walk({
        // The code on show stays valid: renewing keeps the token.
        {"duration.untilStopped", [&] { return share().token == token && !share().expires && shows(); }},
        {"uploads", [&] { return !share().allowsUploads; }},
        {"duration.hour", [&] { return share().duration == ShareDuration::hour && !share().allowsUploads; }},
        {"no address, then one", shows,
         [&] {
             lanAddress.reset();
             model->refreshAddress();
             EXPECT_EQ(page(), "wifiNotice");
             lanAddress = "192.168.1.20";
             model->refreshAddress();
         }},
        {"close", [&] { return !model->inspecting() && active(target); }},
        {"stop", [&] { return !model->inspecting() && !active(target); }, [&] { model->inspect(target); }},
        {"makeNewLink", shows,
         [&] {
             model->inspect(target);
             settle();
             clock.advance(25 * 3600);
             inspector.refresh();
             EXPECT_EQ(page(), "expiredNotice");
         }},
    });
}

TEST_F(ViewsTest, PairingPanel) {
    PairingPanel& panel = show<PairingPanel>();
    model->startPairing();
    const std::string first = model->pairing().value().code;
    std::string second;
    const auto qr = [&] { return panel.findChild<QRCodeView*>("qr")->text(); };
    walk({
        {"newCode", [&] { return !store.isPairingCodeValid(first) && qr() == model->pairingURL(); }},
        // Closing withdraws the code on show.
        {"close", [&] { return !model->pairing() && !store.isPairingCodeValid(second); },
         [&] { second = model->pairing().value().code; }},
        {"done", [&] { return !model->justPaired() && !model->isPairingPanelOpen(); },
         [&] {
             model->startPairing();
             model->handle(
                 ServerEvent{ServerEvent::Paired{*store.claimPairing(model->pairing()->code, "Ann")}});
         }},
    });
}

} // namespace
