// The pairing panel: the countdown's minutes, and the panel's bodies as pairing goes: the code, no
// network, a new code, the confirmation, closing.
#include "ui/inspector/pairing_panel.h"

#include "model_fixture.h"
#include "ui/widgets/qr_code_view.h"
#include "ui/widgets/theme.h"

#include <QAbstractButton>
#include <QLabel>
#include <QStackedWidget>
#include <QTest>

namespace {

const Date start = Date::fromUnix(1796637600);

QString countdownAt(double secondsLeft) {
    return PairingPanel::countdown(start.adding(secondsLeft), start).text;
}

TEST(PairingCountdownTest, CountsMinutesThatAreNearlyWhole) {
    EXPECT_EQ(countdownAt(600), "Code works once, for 10 more min");
    EXPECT_EQ(countdownAt(600.5), "Code works once, for 10 more min");
    EXPECT_EQ(countdownAt(599.5), "Code works once, for 10 more min");
    EXPECT_EQ(countdownAt(61), "Code works once, for 2 more min");
    EXPECT_EQ(countdownAt(60), "Code works once, for 1 more min");
    EXPECT_EQ(countdownAt(1), "Code works once, for 1 more min");
    EXPECT_FALSE(PairingPanel::countdown(start.adding(60), start).ranOut);
}

TEST(PairingCountdownTest, LessThanAMomentLeftHasRunOut) {
    for (const double secondsLeft : {0.5, 0.0, -1.0, -600.0}) {
        SCOPED_TRACE(secondsLeft);
        const auto shown = PairingPanel::countdown(start.adding(secondsLeft), start);
        EXPECT_EQ(shown.text, "Code ran out");
        EXPECT_TRUE(shown.ranOut);
    }
}

class PairingPanelTest : public ModelFixture {
protected:
    PairingPanelTest() {
        panel = std::make_unique<PairingPanel>(*model);
        panel->resize(268, 540);
        panel->show();
        QApplication::processEvents();
    }
    ~PairingPanelTest() override { panel.reset(); }

    QString page() const { return panel->findChild<QStackedWidget*>()->currentWidget()->objectName(); }
    QString text(const char* name) const {
        const auto* label = panel->findChild<QLabel*>(name);
        return label ? label->text() : QStringLiteral("<none>");
    }
    void click(const char* name) {
        auto* button = panel->findChild<QAbstractButton*>(name);
        ASSERT_NE(button, nullptr) << name;
        QTest::mouseClick(button, Qt::LeftButton);
        settle();
    }

    std::unique_ptr<PairingPanel> panel;
};

TEST_F(PairingPanelTest, ShowsTheCodeWithItsCountdownAndSteps) {
    model->startPairing();
    ASSERT_EQ(page(), "code");
    EXPECT_EQ(text("caption"), "Phones");
    EXPECT_EQ(text("title"), "Pair a phone");
    EXPECT_EQ(panel->findChild<QRCodeView*>("qr")->text(), model->pairingURL().value());
    EXPECT_TRUE(panel->findChild<QRCodeView*>("qr")->image().has_value());
    EXPECT_EQ(text("countdown"), "Code works once, for 10 more min");
    QStringList steps;
    for (const QLabel* step : panel->findChildren<QLabel*>("stepText")) {
        steps << step->text();
    }
    EXPECT_EQ(steps, QStringList({"Scan the code with your phone's camera", "Name the phone and tap Pair",
                                  "Add Tesk to the Home Screen when it asks"}));
}

TEST_F(PairingPanelTest, CountdownRunsOutInTheWarningColour) {
    model->startPairing();
    clock.advance(LibraryStore::pairingCodeLifetime - 30);
    panel->refresh();
    EXPECT_EQ(text("countdown"), "Code works once, for 1 more min");
    EXPECT_EQ(panel->findChild<QLabel*>("countdown")->palette().color(QPalette::WindowText),
              Theme::current().dimmed);
    clock.advance(31);
    panel->refresh();
    EXPECT_EQ(text("countdown"), "Code ran out");
    EXPECT_EQ(panel->findChild<QLabel*>("countdown")->palette().color(QPalette::WindowText),
              Theme::current().warning);
}

TEST_F(PairingPanelTest, NewCodeReplacesTheCodeOnShow) {
    model->startPairing();
    const std::string first = model->pairing().value().code;
    clock.advance(300);
    click("newCode");
    ASSERT_TRUE(model->pairing());
    EXPECT_NE(model->pairing()->code, first);
    EXPECT_FALSE(store.isPairingCodeValid(first));
    EXPECT_EQ(panel->findChild<QRCodeView*>("qr")->text(), model->pairingURL().value());
    EXPECT_EQ(text("countdown"), "Code works once, for 10 more min");
}

TEST_F(PairingPanelTest, WithoutAnAddressTheCodeShowsOnceOneArrives) {
    lanAddress.reset();
    model->refreshAddress();
    model->startPairing();
    ASSERT_EQ(page(), "noAddress");
    EXPECT_EQ(text("noticeTitle"), "Connect this computer to Wi‑Fi");
    EXPECT_EQ(text("noticeText"), "Your phone pairs over the local network.");

    lanAddress = "192.168.1.20";
    model->refreshAddress();
    EXPECT_EQ(page(), "code");
    EXPECT_EQ(panel->findChild<QRCodeView*>("qr")->text(), model->pairingURL().value());
}

TEST_F(PairingPanelTest, APairedPhoneIsConfirmedAndDoneCloses) {
    model->startPairing();
    const auto device = store.claimPairing(model->pairing()->code, "Ann's iPhone");
    ASSERT_TRUE(device);
    model->handle(ServerEvent{ServerEvent::Paired{*device}});
    settle();
    ASSERT_EQ(page(), "justPaired");
    EXPECT_EQ(text("title"), "Paired");
    EXPECT_EQ(text("pairedName"), "Ann's iPhone is paired");

    click("done");
    EXPECT_FALSE(model->justPaired());
    EXPECT_FALSE(model->isPairingPanelOpen());
}

TEST_F(PairingPanelTest, CloseWithdrawsTheCode) {
    model->startPairing();
    const std::string code = model->pairing().value().code;
    EXPECT_EQ(panel->findChild<QAbstractButton*>("close")->toolTip(), "Close (Esc)");
    click("close");
    EXPECT_FALSE(model->pairing());
    EXPECT_FALSE(store.isPairingCodeValid(code));
}

} // namespace
