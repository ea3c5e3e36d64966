// The Phones view: each phone's subtitle, symbol and place in the list, and the rows driven over a real
// store: pairing from the empty state, renaming and removing.
#include "ui/lists/phones_view.h"

#include "ui/lists/device_row.h"
#include "ui/widgets/symbol_label.h"
#include "ui_fixture.h"

#include <QAbstractButton>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <algorithm>

namespace {

/// 2026-12-07 10:00:00 UTC; the tests run with TZ=UTC.
const Date morning = Date::fromUnix(1796637600);

PairedDevice phone(std::string name, Date paired, std::optional<Date> lastSent = std::nullopt,
                   std::int64_t sentCount = 0) {
    return {.id = name,
            .name = name,
            .token = "t-" + name,
            .paired = paired,
            .lastSent = lastSent,
            .sentCount = sentCount};
}

TEST(DeviceRowTest, SubtitleSaysWhenItPairedAndWhatItSent) {
    const Date yesterday = morning.adding(-86400);
    EXPECT_EQ(DeviceRow::subtitle(phone("a", yesterday, morning.adding(-300), 3), morning),
              "Paired yesterday · sent 3 things · last 5 min ago");
    EXPECT_EQ(DeviceRow::subtitle(phone("a", yesterday, morning.adding(-2 * 3600), 1), morning),
              "Paired yesterday · sent 1 thing · last 2 h ago");
    EXPECT_EQ(DeviceRow::subtitle(phone("a", morning.adding(-20)), morning),
              "Paired just now · hasn't sent anything yet");
    // Without a last send time the count does not matter.
    EXPECT_EQ(DeviceRow::subtitle(phone("a", yesterday, std::nullopt, 4), morning),
              "Paired yesterday · hasn't sent anything yet");
    // Only the relative words go lower case mid-sentence, never a month's name.
    EXPECT_EQ(DeviceRow::subtitle(phone("a", morning.adding(-20 * 86400), yesterday, 1), morning),
              "Paired Nov 17 · sent 1 thing · last yesterday");
}

TEST(DeviceRowTest, IPadInAnyLetterCaseGetsTheIPadSymbol) {
    EXPECT_EQ(DeviceRow::symbolName("Ann's IPAD mini"), "ipad");
    EXPECT_EQ(DeviceRow::symbolName("iPad"), "ipad");
    EXPECT_EQ(DeviceRow::symbolName("my ipad"), "ipad");
    EXPECT_EQ(DeviceRow::symbolName("Ann's iPhone"), "iphone");
    EXPECT_EQ(DeviceRow::symbolName("Phone"), "iphone");
    EXPECT_EQ(DeviceRow::symbolName("i Pad"), "iphone");
}

TEST(PhonesViewOrderTest, LastSendOrElsePairingTimeNewestFirstAndStable) {
    const Date t = morning;
    const std::vector<PairedDevice> library = {
        phone("old, never sent", t),
        phone("sent recently", t.adding(10), t.adding(500), 2),
        phone("paired later", t.adding(300)),
        phone("paired at the same time", t.adding(300)),
        phone("sent long ago", t.adding(20), t.adding(100), 1),
    };
    std::vector<std::string> names;
    for (const PairedDevice& device : PhonesView::ordered(library)) {
        names.push_back(device.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"sent recently", "paired later", "paired at the same time",
                                               "sent long ago", "old, never sent"}));
}

class PhonesViewTest : public ModelFixture {
protected:
    PhonesViewTest() {
        view = std::make_unique<PhonesView>(*model);
        view->resize(512, 480);
        view->show();
        QApplication::processEvents();
    }
    ~PhonesViewTest() override { view.reset(); }

    PairedDevice pair(const std::string& name) {
        const auto device = store.claimPairing(store.newPairingCode().code, name);
        clock.advance(60);
        update();
        return device.value();
    }
    void update() {
        settle();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QApplication::processEvents();
    }
    std::vector<DeviceRow*> rows() const { return shownTopToBottom<DeviceRow>(*view); }
    QStringList names() const {
        QStringList result;
        for (const DeviceRow* row : rows()) {
            result << row->findChild<QLabel*>("name")->text();
        }
        return result;
    }

    std::unique_ptr<PhonesView> view;
};

TEST_F(PhonesViewTest, WithoutPhonesItOffersToPairOne) {
    ASSERT_TRUE(view->findChild<QWidget*>("emptyState")->isVisibleTo(view.get()));
    EXPECT_EQ(view->findChild<QLabel*>("emptyTitle")->text(), "No phones paired");
    QTest::mouseClick(view->findChild<QAbstractButton*>("pairPhone"), Qt::LeftButton);
    EXPECT_TRUE(model->pairing());
}

TEST_F(PhonesViewTest, RowsFollowTheLastSendNewestFirst) {
    const PairedDevice ann = pair("Ann's IPAD mini");
    pair("Bob's iPhone");
    EXPECT_FALSE(view->findChild<QWidget*>("emptyState")->isVisibleTo(view.get()));
    EXPECT_EQ(names(), QStringList({"Bob's iPhone", "Ann's IPAD mini"}));
    EXPECT_EQ(rows()[1]->findChild<SymbolLabel*>("symbol")->symbol(), "ipad");
    EXPECT_EQ(rows()[0]->findChild<SymbolLabel*>("symbol")->symbol(), "iphone");

    ASSERT_TRUE(store.receiveText("hello", ann.token));
    update();
    EXPECT_EQ(names(), QStringList({"Ann's IPAD mini", "Bob's iPhone"}));
    EXPECT_EQ(rows()[0]->findChild<QLabel*>("subtitle")->text(),
              "Paired 2 min ago · sent 1 thing · last just now");
}

TEST_F(PhonesViewTest, RenameFromTheMenuSavesOnReturn) {
    const PairedDevice device = pair("Phone");
    Menus::chooseIn(*rows().at(0), "Rename");
    EXPECT_EQ(model->renamingID(), device.id);
    auto* field = rows().at(0)->findChild<QLineEdit*>("nameField");
    ASSERT_TRUE(field->isVisibleTo(view.get()));
    EXPECT_FALSE(rows().at(0)->findChild<QLabel*>("name")->isVisibleTo(view.get()));
    EXPECT_EQ(field->placeholderText(), "Phone name");
    EXPECT_EQ(field->text(), "Phone");

    field->selectAll();
    QTest::keyClicks(field, "Work phone");
    QTest::keyClick(field, Qt::Key_Return);
    update();
    EXPECT_FALSE(model->renamingID());
    EXPECT_EQ(store.snapshot().devices.at(0).name, "Work phone");
    EXPECT_EQ(names(), QStringList({"Work phone"}));
    EXPECT_FALSE(field->isVisibleTo(view.get()));
}

TEST_F(PhonesViewTest, BlankNameClosesTheFieldAndKeepsTheName) {
    pair("Phone");
    Menus::chooseIn(*rows().at(0), "Rename");
    auto* field = rows().at(0)->findChild<QLineEdit*>("nameField");
    field->setText("   ");
    QTest::keyClick(field, Qt::Key_Return);
    update();
    EXPECT_FALSE(model->renamingID());
    EXPECT_EQ(store.snapshot().devices.at(0).name, "Phone");
    EXPECT_EQ(names(), QStringList({"Phone"}));
}

TEST_F(PhonesViewTest, RemoveAsksThenForgetsThePhone) {
    pair("Ann's phone");
    pair("Bob's phone");
    platform.answers = {false, true};
    auto* remove = rows().at(1)->findChild<QAbstractButton*>("remove");
    QTest::mouseClick(remove, Qt::LeftButton);
    update();
    ASSERT_EQ(platform.alerts.size(), 1u);
    EXPECT_EQ(platform.alerts[0].message, "Remove Ann's phone?");
    EXPECT_EQ(names(), QStringList({"Bob's phone", "Ann's phone"}));

    Menus::chooseIn(*rows().at(1), "Remove");
    update();
    EXPECT_EQ(platform.alerts.size(), 2u);
    EXPECT_EQ(names(), QStringList({"Bob's phone"}));
    EXPECT_EQ(store.snapshot().devices.size(), 1u);
}

TEST_F(PhonesViewTest, RemoveIsFaintUntilTheRowIsHovered) {
    pair("Phone");
    DeviceRow* row = rows().at(0);
    auto* remove = row->findChild<QAbstractButton*>("remove");
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(remove->graphicsEffect());
    ASSERT_NE(effect, nullptr);
    // The pointer may rest anywhere after earlier tests; start from a row it has left.
    QEvent left(QEvent::Leave);
    QApplication::sendEvent(row, &left);
    EXPECT_DOUBLE_EQ(effect->opacity(), 0.7);
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(row, &enter);
    EXPECT_DOUBLE_EQ(effect->opacity(), 1.0);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(row, &leave);
    EXPECT_DOUBLE_EQ(effect->opacity(), 0.7);
}

} // namespace
