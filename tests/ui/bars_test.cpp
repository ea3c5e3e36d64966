#include "core/share_duration.h"
#include "ui/explorer/bar_button.h"
#include "ui/explorer/drop_overlay.h"
#include "ui/explorer/empty_list_view.h"
#include "ui/explorer/footer.h"
#include "ui/explorer/selection_bar.h"
#include "ui/explorer/send_to_phone_menu.h"
#include "ui/shell/first_launch_view.h"
#include "ui/shell/step_card.h"
#include "ui_fixture.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QTest>

namespace {

using Menus::find;
using Menus::titles;

class BarsTest : public UIFixture {
protected:
    BarButton& button(const SelectionBar& bar, const char* name) {
        auto* found = bar.findChild<BarButton*>(name);
        if (found == nullptr) {
            throw std::runtime_error(std::string("no button ") + name);
        }
        return *found;
    }
};

} // namespace

// ---- Selection bar ----

using SelectionBarTest = BarsTest;

TEST_F(SelectionBarTest, CountsThePickedRows) {
    SelectionBar bar(*model);
    const Item a = addItem("a.txt");
    const Item b = addItem("b.txt");
    model->setPicked({ShareTarget::item(a.id)});
    EXPECT_EQ(bar.countText(), "1 selected");
    model->setPicked({ShareTarget::item(a.id), ShareTarget::item(b.id)});
    EXPECT_EQ(bar.countText(), "2 selected");
}

TEST_F(SelectionBarTest, ButtonsCarryTheirTitlesSymbolsAndTooltips) {
    pair("Pixel 8");
    SelectionBar bar(*model);
    QStringList texts;
    QStringList tips;
    for (const BarButton* button : bar.buttons()) {
        texts << button->title();
        tips << button->toolTip();
    }
    EXPECT_EQ(texts, QStringList({"Share link", "Copy link", "Move to", "Send to", "Delete",
                                  "Clear selection (Esc)"}));
    EXPECT_EQ(tips,
              QStringList({"One link and QR code for everything selected", "Copy link", "Move to a folder",
                           "Send to a paired phone", "Delete", "Clear selection (Esc)"}));
}

TEST_F(SelectionBarTest, CompactShowsSymbolsOnly) {
    const Item a = addItem("a.txt");
    SelectionBar bar(*model);
    bar.show();
    EXPECT_EQ(button(bar, "shareLinkButton").toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
    model->setInspecting(ShareTarget::item(a.id));
    for (const BarButton* each : bar.buttons()) {
        SCOPED_TRACE(each->title().toStdString());
        EXPECT_EQ(each->toolButtonStyle(), Qt::ToolButtonIconOnly);
        EXPECT_EQ(each->toolTip().isEmpty(), false);
    }
    EXPECT_EQ(button(bar, "copyLinkButton").toolTip(), "Copy link");
    model->setInspecting(std::nullopt);
    EXPECT_EQ(button(bar, "deleteButton").toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
}

TEST_F(SelectionBarTest, ShareLinkSharesEverythingPickedAndOpensTheInspector) {
    const Item a = addItem("a.txt");
    const Item b = addItem("b.txt");
    SelectionBar bar(*model);
    bar.show();
    model->setPicked({ShareTarget::item(a.id), ShareTarget::item(b.id)});
    QTest::mouseClick(&button(bar, "shareLinkButton"), Qt::LeftButton);
    ASSERT_TRUE(model->inspecting());
    EXPECT_EQ(model->inspecting()->kind(), ShareTarget::Kind::bundle);
}

TEST_F(SelectionBarTest, CopyLinkCopiesOneLinkForThePicks) {
    const Item a = addItem("a.txt");
    SelectionBar bar(*model);
    bar.show();
    model->setPicked({ShareTarget::item(a.id)});
    QTest::mouseClick(&button(bar, "copyLinkButton"), Qt::LeftButton);
    settle();
    EXPECT_EQ(platform.clipboardWrites, 1);
    EXPECT_TRUE(model->isShared(ShareTarget::item(a.id)));
}

TEST_F(SelectionBarTest, MoveToListsEveryDestinationAndMovesThePicks) {
    const Folder work = folder("Work");
    folder("Inner", work.id);
    const Item a = addItem("a.txt");
    SelectionBar bar(*model);
    EXPECT_EQ(titles(bar.moveMenu()), QStringList({"Tesk (top level)", "Work", "    Inner"}));
    model->setPicked({ShareTarget::item(a.id)});
    find(bar.moveMenu(), "Work")->trigger();
    settle();
    EXPECT_EQ(model->library().item(a.id)->folderID, work.id);
}

TEST_F(SelectionBarTest, SendToOffersEachPhoneAndHidesWithoutOne) {
    const Item a = addItem("a.txt");
    SelectionBar bar(*model);
    bar.show();
    auto* send = bar.findChild<SendToPhoneMenu*>();
    ASSERT_NE(send, nullptr);
    EXPECT_FALSE(send->isVisible());

    pair("Ana's iPhone");
    pair("Pixel 8");
    EXPECT_TRUE(send->isVisible());
    EXPECT_EQ(titles(send->phoneMenu()), QStringList({"Send to Ana's iPhone", "Send to Pixel 8"}));
    model->setPicked({ShareTarget::item(a.id)});
    find(send->phoneMenu(), "Send to Pixel 8")->trigger();
    settle();
    EXPECT_TRUE(model->isShared(ShareTarget::item(a.id)));
    // No relay in these tests, so the send ends at once, naming the phone it was for.
    EXPECT_TRUE(model->toast().value_or("").find("Pixel 8") != std::string::npos)
        << model->toast().value_or("");
}

TEST_F(SelectionBarTest, DeleteAsksFirstThenDeletes) {
    const Item a = addItem("a.txt");
    SelectionBar bar(*model);
    bar.show();
    model->setPicked({ShareTarget::item(a.id)});
    platform.answers = {false};
    QTest::mouseClick(&button(bar, "deleteButton"), Qt::LeftButton);
    settle();
    EXPECT_EQ(platform.alerts.size(), 1u);
    EXPECT_TRUE(model->library().item(a.id));

    QTest::mouseClick(&button(bar, "deleteButton"), Qt::LeftButton);
    settle();
    EXPECT_EQ(platform.alerts.size(), 2u);
    EXPECT_FALSE(model->library().item(a.id));
}

TEST_F(SelectionBarTest, ClearButtonEmptiesThePicksAndTheirAnchor) {
    const Item a = addItem("a.txt");
    SelectionBar bar(*model);
    bar.show();
    model->togglePick(ShareTarget::item(a.id));
    QTest::mouseClick(&button(bar, "clearSelectionButton"), Qt::LeftButton);
    EXPECT_TRUE(model->picked().empty());
    EXPECT_FALSE(model->pickAnchor()) << "a later Shift-click would start from it";
}

// ---- Footer ----

using FooterTest = BarsTest;

TEST_F(FooterTest, SummarisesRowsAndTheBytesOfFiles) {
    Footer footer(*model);
    EXPECT_EQ(footer.summary(), "Empty");

    store.addFile(makeFile("a.bin", std::string(1000, 'x')), std::nullopt, std::nullopt, false);
    settle();
    EXPECT_EQ(footer.summary(), "1 item · 1 kB");

    store.addFile(makeFile("b.bin", std::string(200, 'y')), std::nullopt, std::nullopt, false);
    store.addText("a note that has bytes too", std::nullopt);
    settle();
    EXPECT_EQ(footer.summary(), "3 items · 1.2 kB");
}

TEST_F(FooterTest, RowsWithoutFileBytesShowOnlyTheCount) {
    Footer footer(*model);
    const Folder work = folder("Work");
    folder("Inner", work.id);
    store.addText("https://example.com", work.id);
    settle();
    model->setSelection(SidebarSelection::folder(work.id));
    EXPECT_EQ(footer.summary(), "2 items");
}

TEST_F(FooterTest, FollowsTheSelectionAndTheSearch) {
    const Folder work = folder("Work");
    addItem("inside.txt", work.id);
    addItem("outside.txt");
    Footer footer(*model);
    EXPECT_EQ(footer.summary(), "2 items · 45 bytes");
    model->setSelection(SidebarSelection::folder(work.id));
    EXPECT_EQ(footer.summary(), "1 item · 22 bytes");
    model->setSearch("nothing matches this");
    EXPECT_EQ(footer.summary(), "Empty");
}

TEST_F(FooterTest, HintHidesWhileCompact) {
    const Item a = addItem("a.txt");
    Footer footer(*model);
    auto* hint = footer.findChild<QLabel*>("footerHint");
    ASSERT_NE(hint, nullptr);
    EXPECT_EQ(hint->text(), "Drop files anywhere · Ctrl+V pastes links and notes");
    EXPECT_TRUE(footer.showsHint());
    model->setInspecting(ShareTarget::item(a.id));
    EXPECT_FALSE(footer.showsHint());
    model->setInspecting(std::nullopt);
    EXPECT_TRUE(footer.showsHint());
}

// ---- Empty list ----

using EmptyListViewTest = BarsTest;

TEST_F(EmptyListViewTest, ExplainsEachCase) {
    const Folder work = folder("Work");
    EmptyListView view(*model);
    struct Case {
        SidebarSelection selection;
        std::string search;
        QString symbol;
        QString title;
        QString body;
    };
    const QString dropBody = "Drop files here, or paste links and notes with Ctrl+V.";
    const Case cases[] = {
        {SidebarSelection::all(), "", "tray.and.arrow.down", "No files yet", dropBody},
        {SidebarSelection::received(), "", "arrow.down.to.line", "Nothing received yet",
         "Pair your phone under Phones to send with one tap, or click Receive from phone for a one-off QR "
         "code."},
        {SidebarSelection::folder(work.id), "", "tray.and.arrow.down", "This folder is empty", dropBody},
        {SidebarSelection::folder(work.id), "budget", "magnifyingglass", "Nothing called “budget”",
         "Search looks at every folder."},
        {SidebarSelection::phones(), "tax", "magnifyingglass", "Nothing called “tax”",
         "Search looks at every folder."},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.title.toStdString());
        model->setSelection(each.selection);
        model->setSearch(each.search);
        EXPECT_EQ(view.symbol(), each.symbol);
        EXPECT_EQ(view.title(), each.title);
        EXPECT_EQ(view.body(), each.body);
    }
}

// ---- Welcome and drop overlay ----

TEST(FirstLaunchViewTest, ShowsTheTitleLineAndThreeStepsInOrder) {
    FirstLaunchView view;
    EXPECT_EQ(view.findChild<QLabel*>("welcomeTitle")->text(), "Drop files here");
    EXPECT_EQ(view.findChild<QLabel*>("welcomeLine")->text(),
              "Or add them with +. Paste links and notes with Ctrl+V.");
    QStringList steps;
    for (const StepCard* card : view.findChildren<StepCard*>()) {
        steps << card->title() + " | " + card->text();
    }
    EXPECT_EQ(steps, QStringList({
                         "1 · Add | Files, folders, links and notes. Make folders for each project.",
                         "2 · Share | Every item and folder gets a QR code and a link.",
                         "3 · Open anywhere | iPhone, Android, Windows. Just a browser on the same Wi‑Fi.",
                     }));
}

TEST(DropOverlayTest, CountsTheFilesAndNamesThePlace) {
    DropOverlay overlay;
    overlay.setDrop(1, "Tesk");
    EXPECT_EQ(overlay.title(), "Drop 1 file into Tesk");
    overlay.setDrop(3, "Work");
    EXPECT_EQ(overlay.title(), "Drop 3 files into Work");
    EXPECT_EQ(overlay.line(), "They're copied into Tesk. Your originals stay where they are.");
    EXPECT_TRUE(overlay.testAttribute(Qt::WA_TransparentForMouseEvents));
}
