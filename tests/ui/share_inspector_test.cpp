// The share inspector: the status line's wording, and the inspector driven like a user drives it over a
// real store and server: durations, copying, uploads, stopping, expired links and no network.
#include "ui/inspector/share_inspector.h"

#include "model_fixture.h"
#include "ui/inspector/bundle_contents.h"
#include "ui/widgets/qr_code_view.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimeZone>

namespace {

/// 2026-12-07 10:00:00 UTC; the tests run with TZ=UTC.
const Date morning = Date::fromUnix(1796637600);

Share shareOf(ShareTarget target, std::optional<Date> expires, std::int64_t downloads = 0) {
    Share share;
    share.token = "a2b3c4d5e6";
    share.target = std::move(target);
    share.created = morning;
    share.expires = expires;
    share.downloads = downloads;
    return share;
}

TEST(ShareInspectorStatusTest, LinkEndingTodayGivesTheTimeItStops) {
    const Share share = shareOf(ShareTarget::item("i1"), morning.adding(2.5 * 3600));
    // Hours and minutes in the locale's style (en_US in the tests: a 12-hour clock), no seconds.
    const QString line = ShareInspector::statusLine(share, 0, morning);
    EXPECT_TRUE(line.startsWith(QStringLiteral("Stops at 12:30"))) << line.toStdString();
    EXPECT_TRUE(line.endsWith(QStringLiteral("PM · 0 downloads"))) << line.toStdString();
}

TEST(ShareInspectorStatusTest, LinkEndingAnotherDayGivesTheRelativeDay) {
    // 20 hours from 10:00 is 06:00 the next day.
    const Share share = shareOf(ShareTarget::folder("f1"), morning.adding(20 * 3600), 1);
    EXPECT_EQ(ShareInspector::statusLine(share, 0, morning), QStringLiteral("Stops tomorrow · 1 download"));
    // Half past eleven at night: midnight is already tomorrow, a minute before it is still today.
    const Date lateEvening = morning.adding(13.5 * 3600);
    const Share atMidnight = shareOf(ShareTarget::folder("f1"), lateEvening.adding(1800), 2);
    EXPECT_EQ(ShareInspector::statusLine(atMidnight, 0, lateEvening),
              QStringLiteral("Stops tomorrow · 2 downloads"));
    const Share beforeMidnight = shareOf(ShareTarget::folder("f1"), lateEvening.adding(1740), 2);
    const QString line = ShareInspector::statusLine(beforeMidnight, 0, lateEvening);
    EXPECT_TRUE(line.startsWith(QStringLiteral("Stops at 11:59"))) << line.toStdString();
    EXPECT_TRUE(line.endsWith(QStringLiteral("PM · 2 downloads"))) << line.toStdString();
}

TEST(ShareInspectorStatusTest, LinkWithoutExpiryWorksUntilStopped) {
    const Share share = shareOf(ShareTarget::folder(), std::nullopt, 2);
    EXPECT_EQ(ShareInspector::statusLine(share, 0, morning),
              QStringLiteral("Works until you stop it · 2 downloads"));
}

TEST(ShareInspectorStatusTest, FollowersShowOnlyWhenThereAreSome) {
    const Share share = shareOf(ShareTarget::folder("f1"), std::nullopt, 3);
    EXPECT_EQ(ShareInspector::statusLine(share, 1, morning),
              QStringLiteral("Works until you stop it · 3 downloads · 1 following"));
    EXPECT_EQ(ShareInspector::statusLine(share, 4, morning),
              QStringLiteral("Works until you stop it · 3 downloads · 4 following"));
    EXPECT_EQ(ShareInspector::statusLine(share, 0, morning),
              QStringLiteral("Works until you stop it · 3 downloads"));
}

TEST(ShareInspectorStatusTest, ReceiveLinkCountsNoDownloadsOrFollowers) {
    EXPECT_EQ(ShareInspector::statusLine(shareOf(ShareTarget::inbox(), std::nullopt, 5), 2, morning),
              QStringLiteral("Works until you stop it"));
    EXPECT_EQ(
        ShareInspector::statusLine(shareOf(ShareTarget::inbox(), morning.adding(20 * 3600), 5), 2, morning),
        QStringLiteral("Stops tomorrow"));
}

TEST(ShareInspectorStatusTest, ShownLinkDropsTheScheme) {
    EXPECT_EQ(ShareInspector::shownLink("http://192.168.1.20:8080/s/abc/"),
              QStringLiteral("192.168.1.20:8080/s/abc/"));
    EXPECT_EQ(ShareInspector::shownLink("https://relay.example/l/x/"),
              QStringLiteral("https://relay.example/l/x/"));
}

class ShareInspectorTest : public ModelFixture {
protected:
    ShareInspectorTest() {
        inspector = std::make_unique<ShareInspector>(*model);
        inspector->resize(268, 540);
        inspector->show();
        QApplication::processEvents();
    }
    ~ShareInspectorTest() override { inspector.reset(); }

    template <typename T = QWidget>
    T* child(const char* name) const {
        T* found = inspector->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QString text(const char* name) const { return child<QLabel>(name)->text(); }
    QWidget* page() const { return inspector->findChild<QStackedWidget*>()->currentWidget(); }
    bool shows(const char* name) const { return child(name)->isVisibleTo(inspector.get()); }
    void click(const char* name) {
        QTest::mouseClick(child<QAbstractButton>(name), Qt::LeftButton);
        settle();
    }
    std::optional<Share> activeShare(const ShareTarget& target) const {
        return store.snapshot().activeShare(target, clock.now());
    }
    std::string lanLink(const Share& share) const {
        return "http://192.168.1.20:" + std::to_string(server.port()) + "/s/" + share.token + "/";
    }

    std::unique_ptr<ShareInspector> inspector;
};

TEST_F(ShareInspectorTest, ShowsTheLiveLinkAsCodeAndText) {
    const Item item = addItem("photo.jpg");
    model->inspect(ShareTarget::item(item.id));
    settle();
    const auto share = activeShare(ShareTarget::item(item.id));
    ASSERT_TRUE(share);
    EXPECT_EQ(page()->objectName(), "details");
    EXPECT_EQ(text("caption"), "Sharing");
    EXPECT_EQ(text("title"), "photo.jpg");
    EXPECT_EQ(child<QRCodeView>("qr")->text(), lanLink(*share));
    EXPECT_TRUE(child<QRCodeView>("qr")->image().has_value());
    EXPECT_EQ(text("qrCaption"), "Scan with a phone camera");
    EXPECT_EQ(text("link"), QString::fromStdString(lanLink(*share)).mid(7));
    EXPECT_TRUE(child<QLabel>("link")->textInteractionFlags() & Qt::TextSelectableByMouse);
    EXPECT_TRUE(child<QAbstractButton>("duration.day")->isChecked());
    EXPECT_FALSE(child<QAbstractButton>("duration.hour")->isChecked());
    EXPECT_TRUE(shows("uploads"));
    EXPECT_TRUE(child<QCheckBox>("uploads")->isChecked());
    EXPECT_FALSE(shows("inboxNote"));
    EXPECT_FALSE(shows("bundleContents"));
    EXPECT_EQ(child<QAbstractButton>("stop")->text(), "Stop sharing");
}

TEST_F(ShareInspectorTest, UntilIStopKeepsTheTokenSoTheCodeStaysTheSame) {
    const ShareTarget target = ShareTarget::item(addItem("a.txt").id);
    store.share(target, ShareDuration::hour, true);
    model->inspect(target);
    settle();
    const Share before = activeShare(target).value();
    const std::string code = child<QRCodeView>("qr")->text();
    EXPECT_TRUE(child<QAbstractButton>("duration.hour")->isChecked());
    EXPECT_TRUE(text("status").startsWith("Stops at "));

    click("duration.untilStopped");

    const Share after = activeShare(target).value();
    EXPECT_EQ(after.token, before.token);
    EXPECT_FALSE(after.expires.has_value());
    EXPECT_EQ(text("status"), "Works until you stop it · 0 downloads");
    EXPECT_EQ(child<QRCodeView>("qr")->text(), code);
    EXPECT_TRUE(child<QAbstractButton>("duration.untilStopped")->isChecked());
    EXPECT_FALSE(child<QAbstractButton>("duration.hour")->isChecked());
}

TEST_F(ShareInspectorTest, RenewingKeepsTheUploadsSetting) {
    const ShareTarget target = ShareTarget::folder(store.addFolder("Trip", std::nullopt).id);
    model->inspect(target);
    settle();
    click("uploads");
    EXPECT_FALSE(activeShare(target).value().allowsUploads);
    EXPECT_FALSE(child<QCheckBox>("uploads")->isChecked());

    click("duration.hour");
    const Share renewed = activeShare(target).value();
    EXPECT_EQ(renewed.duration, ShareDuration::hour);
    EXPECT_FALSE(renewed.allowsUploads);
    EXPECT_FALSE(child<QCheckBox>("uploads")->isChecked());
}

TEST_F(ShareInspectorTest, CopyTurnsIntoCopiedForAMoment) {
    const ShareTarget target = ShareTarget::item(addItem("a.txt").id);
    model->inspect(target);
    settle();
    EXPECT_EQ(child<QAbstractButton>("copy")->text(), "Copy");
    click("copy");
    EXPECT_EQ(platform.clipboardString, lanLink(activeShare(target).value()));
    EXPECT_EQ(child<QAbstractButton>("copy")->text(), "Copied");
    QTest::qWait(copiedMs + 150);
    EXPECT_EQ(child<QAbstractButton>("copy")->text(), "Copy");
}

TEST_F(ShareInspectorTest, StopSharingStopsTheLinkAndCloses) {
    const ShareTarget target = ShareTarget::item(addItem("a.txt").id);
    model->inspect(target);
    settle();
    click("stop");
    EXPECT_FALSE(activeShare(target));
    EXPECT_FALSE(model->inspecting());
    EXPECT_EQ(page()->objectName(), "");
}

TEST_F(ShareInspectorTest, CloseButtonClosesWithoutStopping) {
    const ShareTarget target = ShareTarget::item(addItem("a.txt").id);
    model->inspect(target);
    settle();
    EXPECT_EQ(child<QAbstractButton>("close")->toolTip(), "Close (Esc)");
    click("close");
    EXPECT_FALSE(model->inspecting());
    EXPECT_TRUE(activeShare(target));
}

TEST_F(ShareInspectorTest, ReceiveLinkShowsTheNoteAndStopReceiving) {
    model->inspect(ShareTarget::inbox());
    settle();
    ASSERT_TRUE(activeShare(ShareTarget::inbox()));
    EXPECT_EQ(text("caption"), "Receiving");
    EXPECT_EQ(text("title"), "Send from a phone");
    EXPECT_EQ(text("qrCaption"), "Scan on your phone, then pick files");
    EXPECT_FALSE(shows("uploads"));
    EXPECT_TRUE(shows("inboxNote"));
    EXPECT_EQ(
        text("inboxNote"),
        "The phone sees only a Choose files button, nothing from this computer. Files land in Received.");
    EXPECT_FALSE(text("status").contains("download"));
    EXPECT_TRUE(child<QAbstractButton>("duration.hour")->isChecked());
    EXPECT_EQ(child<QAbstractButton>("stop")->text(), "Stop receiving");
}

TEST_F(ShareInspectorTest, MakeANewLinkOnAnExpiredTargetShowsTheCodeAtOnce) {
    const ShareTarget target = ShareTarget::item(addItem("a.txt").id);
    model->inspect(target);
    settle();
    const std::string oldToken = activeShare(target).value().token;
    clock.advance(25 * 3600);
    inspector->refresh();
    ASSERT_EQ(page()->objectName(), "expiredNotice");
    EXPECT_EQ(page()->findChild<QLabel*>("noticeTitle")->text(), "This link has expired");
    EXPECT_EQ(page()->findChild<QLabel*>("noticeText")->text(), "Make a new one to share again.");

    click("makeNewLink");

    const auto renewed = activeShare(target);
    ASSERT_TRUE(renewed);
    EXPECT_NE(renewed->token, oldToken);
    EXPECT_EQ(page()->objectName(), "details");
    EXPECT_EQ(child<QRCodeView>("qr")->text(), lanLink(*renewed));
}

TEST_F(ShareInspectorTest, WithoutAnAddressItAsksForWifiUntilOneArrives) {
    lanAddress.reset();
    model->refreshAddress();
    const ShareTarget target = ShareTarget::item(addItem("a.txt").id);
    model->inspect(target);
    settle();
    ASSERT_EQ(page()->objectName(), "wifiNotice");
    EXPECT_EQ(page()->findChild<QLabel*>("noticeTitle")->text(), "Connect this computer to Wi‑Fi");

    lanAddress = "192.168.1.20";
    model->refreshAddress();
    EXPECT_EQ(page()->objectName(), "details");
    EXPECT_EQ(child<QRCodeView>("qr")->text(), lanLink(activeShare(target).value()));
}

TEST_F(ShareInspectorTest, BundleOfSixListsFourAndHowManyMore) {
    std::vector<ShareTarget> picks;
    const Folder folder = store.addFolder("Trip", std::nullopt);
    picks.push_back(ShareTarget::folder(folder.id));
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"}) {
        picks.push_back(ShareTarget::item(addItem(name).id));
    }
    model->setPicked(picks);
    model->sharePicked();
    settle();
    ASSERT_TRUE(model->inspecting());
    ASSERT_EQ(model->inspecting()->kind(), ShareTarget::Kind::bundle);
    ASSERT_TRUE(shows("bundleContents"));

    const auto* contents = child<BundleContents>("bundleContents");
    QStringList names;
    for (const QLabel* name : contents->findChildren<QLabel*>("entryName")) {
        names << name->text();
    }
    EXPECT_EQ(names, QStringList({"Trip", "a.txt", "b.txt", "c.txt"}));
    EXPECT_EQ(contents->findChild<QLabel*>("bundleMore")->text(), "and 2 more");
}

TEST(BundleContentsTest, ListsFoldersThenItemsThatStillExist) {
    Library library;
    library.folders.push_back({.id = "f1", .name = "Trip"});
    library.items.push_back({.id = "i1", .name = "a.txt"});
    library.items.push_back({.id = "i2", .name = "b.txt"});
    const ShareBundle bundle{.id = "b", .itemIDs = {"i2", "gone", "i1"}, .folderIDs = {"gone-too", "f1"}};
    const std::vector<BundleContents::Entry> expected{{"Trip", true}, {"b.txt", false}, {"a.txt", false}};
    EXPECT_EQ(BundleContents::entries(library, bundle), expected);
    EXPECT_EQ(BundleContents::moreLine(4), "");
    EXPECT_EQ(BundleContents::moreLine(5), "and 1 more");
    EXPECT_EQ(BundleContents::moreLine(6), "and 2 more");
}

} // namespace
