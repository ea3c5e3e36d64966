// The shares list: how a row words what a link held and how it ended, and the list driven over a real
// store: sections, renewing, forgetting, stopping, and links whose files are gone.
#include "ui/lists/shares_view.h"

#include "ui/lists/share_row.h"
#include "ui_fixture.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMenu>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <algorithm>

namespace {

/// 2026-12-07 10:00:00 UTC; the tests run with TZ=UTC.
const Date morning = Date::fromUnix(1796637600);

Share described(ShareTarget target, std::vector<std::string> contents, std::int64_t itemCount,
                std::int64_t totalSize) {
    Share share;
    share.target = std::move(target);
    share.contents = std::move(contents);
    share.itemCount = itemCount;
    share.totalSize = totalSize;
    return share;
}

TEST(ShareRowTest, BundleContentsNameTwoAndCountTheRest) {
    EXPECT_EQ(ShareRow::contentsLine(described(ShareTarget::bundle("b"), {"a", "b", "c"}, 3, 0)),
              "a, b and 1 more · 3 items");
    EXPECT_EQ(ShareRow::contentsLine(described(ShareTarget::bundle("b"), {"a", "b", "c", "d", "e"}, 9, 1200)),
              "a, b and 3 more · 9 items · 1.2 kB");
    EXPECT_EQ(ShareRow::contentsLine(described(ShareTarget::bundle("b"), {"a", "b"}, 2, 0)),
              "a, b · 2 items");
    // Names are listed only for bundles; a folder's contents would be a list of its children.
    EXPECT_EQ(ShareRow::contentsLine(described(ShareTarget::folder("f"), {"a", "b", "c"}, 3, 0)), "3 items");
}

TEST(ShareRowTest, OneItemIsCountedForAFolderButNotForTheItemItself) {
    EXPECT_EQ(ShareRow::contentsLine(described(ShareTarget::item("i"), {"a.txt"}, 1, 5)), "5 bytes");
    EXPECT_EQ(ShareRow::contentsLine(described(ShareTarget::folder("f"), {"a.txt"}, 1, 5)),
              "1 item · 5 bytes");
    EXPECT_EQ(ShareRow::contentsLine(described(ShareTarget::item("i"), {"note"}, 1, 0)), "");
    EXPECT_EQ(ShareRow::contentsLine(described(ShareTarget::folder("f"), {}, 0, 0)), "");
}

TEST(ShareRowTest, EarlierStatusSaysHowTheLinkEnded) {
    Share share;
    share.downloads = 2;
    share.expires = morning.adding(3600);
    share.stopped = morning.adding(-300);
    EXPECT_EQ(ShareRow::earlierStatus(share, morning), "Stopped 5 min ago · 2 downloads");
    share.stopped.reset();
    share.downloads = 1;
    share.expires = morning.adding(-86400);
    EXPECT_EQ(ShareRow::earlierStatus(share, morning), "Expired yesterday · 1 download");
    share.expires.reset();
    share.downloads = 0;
    EXPECT_EQ(ShareRow::earlierStatus(share, morning), "0 downloads");
    // A link that ran until stopped has only its stop to tell.
    share.stopped = morning.adding(-2 * 86400);
    EXPECT_EQ(ShareRow::earlierStatus(share, morning), "Stopped 2 days ago · 0 downloads");
    share.stopped = morning.adding(-20 * 86400);
    EXPECT_EQ(ShareRow::earlierStatus(share, morning), "Stopped Nov 17 · 0 downloads");
}

TEST(ShareRowTest, EarlierTitleIsWhatTheLinkWasMadeWith) {
    Library library;
    library.folders.push_back({.id = "f", .name = "Renamed since"});
    Share share = described(ShareTarget::folder("f"), {"first.txt", "second.txt"}, 2, 0);
    share.title = "Trip";
    EXPECT_EQ(ShareRow::title(share, library, true), "Renamed since");
    EXPECT_EQ(ShareRow::title(share, library, false), "Trip");
    share.title.clear();
    EXPECT_EQ(ShareRow::title(share, library, false), "first.txt");
    share.contents.clear();
    EXPECT_EQ(ShareRow::title(share, library, false), "Link");
}

TEST(ShareRowTest, SymbolsFollowWhatIsShared) {
    EXPECT_EQ(ShareRow::symbolName(ShareTarget::Kind::folder), "folder");
    EXPECT_EQ(ShareRow::symbolName(ShareTarget::Kind::item), "doc");
    EXPECT_EQ(ShareRow::symbolName(ShareTarget::Kind::bundle), "rectangle.stack");
    EXPECT_EQ(ShareRow::symbolName(ShareTarget::Kind::inbox), "iphone.and.arrow.forward");
}

class SharesViewTest : public ModelFixture {
protected:
    SharesViewTest() {
        view = std::make_unique<SharesView>(*model);
        view->resize(512, 480);
        view->show();
        QApplication::processEvents();
    }
    ~SharesViewTest() override { view.reset(); }

    /// Lets the view rebuild and the replaced rows go.
    void update() {
        settle();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    /// The rows on show, top to bottom.
    std::vector<ShareRow*> rows() const { return shownTopToBottom<ShareRow>(*view); }
    /// "Active 2", "Earlier 1", top to bottom.
    QStringList sections() const {
        QStringList result;
        for (QWidget* header : shownTopToBottom<QWidget>(*view, QStringLiteral("sectionHeader"))) {
            result << header->findChild<QLabel*>("sectionTitle")->text() + " " +
                          header->findChild<QLabel*>("sectionCount")->text();
        }
        return result;
    }
    static QString label(const ShareRow* row, const char* name) {
        const auto* found = row->findChild<QLabel*>(name);
        return found ? found->text() : QStringLiteral("<none>");
    }

    std::unique_ptr<SharesView> view;
};

TEST_F(SharesViewTest, WithoutLinksItInvitesToShare) {
    EXPECT_TRUE(view->findChild<QWidget*>("emptyState")->isVisibleTo(view.get()));
    EXPECT_EQ(view->findChild<QLabel*>("emptyTitle")->text(), "No links yet");
    EXPECT_EQ(
        view->findChild<QLabel*>("emptyText")->text(),
        "Select files anywhere and click Share link, or use the QR button on a row. Everything you share is "
        "listed here.");
    EXPECT_TRUE(rows().empty());
    // A receive link is not one of the user's shares.
    store.share(ShareTarget::inbox(), ShareDuration::hour, true);
    update();
    EXPECT_TRUE(view->findChild<QWidget*>("emptyState")->isVisibleTo(view.get()));
}

TEST_F(SharesViewTest, ActiveLinksComeFirstThenEarlierOnesNewestFirst) {
    const Item a = addItem("a.txt");
    const Item b = addItem("b.txt");
    const Item c = addItem("c.txt");
    store.share(ShareTarget::item(a.id), ShareDuration::day, true);
    clock.advance(1);
    const Share second = store.share(ShareTarget::item(b.id), ShareDuration::day, true);
    clock.advance(1);
    store.share(ShareTarget::item(c.id), ShareDuration::day, true);
    clock.advance(1);
    store.stopSharing(second.token);
    update();

    EXPECT_FALSE(view->findChild<QWidget*>("emptyState")->isVisibleTo(view.get()));
    EXPECT_EQ(sections(), QStringList({"Active 2", "Earlier 1"}));
    const auto shown = rows();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(label(shown[0], "title"), "c.txt");
    EXPECT_EQ(label(shown[1], "title"), "a.txt");
    EXPECT_EQ(label(shown[2], "title"), "b.txt");
    EXPECT_TRUE(shown[0]->live());
    EXPECT_FALSE(shown[2]->live());
    EXPECT_EQ(label(shown[0], "status"), QString::fromStdString(model->shareStatus(shown[0]->share())));
    EXPECT_EQ(label(shown[2], "status"), "Stopped just now · 0 downloads");
    EXPECT_EQ(Menus::titlesOf(*shown[0]), QStringList({"Show QR code", "Copy link", "Stop sharing"}));
    EXPECT_EQ(Menus::titlesOf(*shown[2]), QStringList({"Share again", "Remove from history"}));
}

TEST_F(SharesViewTest, ContentsLineCountsItemsOnlyBeyondASingleItem) {
    const Item alone = addItem("alone.txt");
    const Folder folder = store.addFolder("Trip", std::nullopt);
    addItem("inside.txt", folder.id);
    store.share(ShareTarget::item(alone.id), ShareDuration::day, true);
    clock.advance(1);
    store.share(ShareTarget::folder(folder.id), ShareDuration::day, true);
    update();
    const auto shown = rows();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(label(shown[0], "title"), "Trip");
    EXPECT_EQ(label(shown[0], "contents"), "1 item · 22 bytes");
    EXPECT_EQ(label(shown[1], "title"), "alone.txt");
    EXPECT_EQ(label(shown[1], "contents"), "21 bytes");
}

TEST_F(SharesViewTest, LiveRowCopiesShowsAndStops) {
    const ShareTarget target = ShareTarget::item(addItem("a.txt").id);
    const Share share = store.share(target, ShareDuration::day, true);
    update();
    ASSERT_EQ(rows().size(), 1u);
    QTest::mouseClick(rows()[0]->findChild<QAbstractButton*>("copyLink"), Qt::LeftButton);
    EXPECT_EQ(platform.clipboardString, model->link(share));
    QTest::mouseClick(rows()[0]->findChild<QAbstractButton*>("showQR"), Qt::LeftButton);
    EXPECT_EQ(model->inspecting(), target);

    Menus::chooseIn(*rows()[0], "Stop sharing");
    update();
    EXPECT_FALSE(model->inspecting());
    EXPECT_EQ(sections(), QStringList({"Earlier 1"}));
    EXPECT_FALSE(rows()[0]->live());
}

TEST_F(SharesViewTest, ShareAgainMakesANewLinkAndOpensIt) {
    const ShareTarget target = ShareTarget::item(addItem("a.txt").id);
    const Share old = store.share(target, ShareDuration::hour, false);
    store.stopSharing(old.token);
    update();
    auto* again = rows().at(0)->findChild<QAbstractButton*>("shareAgain");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->toolTip(), "A new link for the same files");
    QTest::mouseClick(again, Qt::LeftButton);
    update();
    const auto renewed = store.snapshot().activeShare(target, clock.now());
    ASSERT_TRUE(renewed);
    EXPECT_NE(renewed->token, old.token);
    EXPECT_EQ(model->inspecting(), target);
    EXPECT_EQ(sections(), QStringList({"Active 1", "Earlier 1"}));
}

TEST_F(SharesViewTest, LinkWhoseFilesAreGoneOffersNoRenewal) {
    const Item item = addItem("a.txt");
    store.share(ShareTarget::item(item.id), ShareDuration::day, true);
    store.deleteItem(item.id);
    update();
    const auto shown = rows();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(label(shown[0], "title"), "a.txt");
    EXPECT_EQ(label(shown[0], "filesDeleted"), "Files deleted");
    EXPECT_EQ(shown[0]->findChild<QAbstractButton*>("shareAgain"), nullptr);
    EXPECT_EQ(Menus::titlesOf(*shown[0]), QStringList({"Remove from history"}));
}

TEST_F(SharesViewTest, RemoveFromHistoryForgetsTheLink) {
    const Share share = store.share(ShareTarget::item(addItem("a.txt").id), ShareDuration::day, true);
    store.stopSharing(share.token);
    update();
    Menus::chooseIn(*rows().at(0), "Remove from history");
    update();
    EXPECT_FALSE(store.snapshot().share(share.token));
    EXPECT_TRUE(rows().empty());
    EXPECT_TRUE(view->findChild<QWidget*>("emptyState")->isVisibleTo(view.get()));
}

TEST_F(SharesViewTest, LongListScrolls) {
    for (int i = 0; i < 12; ++i) {
        store.share(ShareTarget::item(addItem("file" + std::to_string(i) + ".txt").id), ShareDuration::day,
                    true);
    }
    update();
    QApplication::processEvents();
    EXPECT_EQ(rows().size(), 12u);
    EXPECT_GT(view->findChild<QScrollArea*>("sharesScroll")->verticalScrollBar()->maximum(), 0);
}

} // namespace
