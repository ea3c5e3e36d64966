// The sharing side of the model: which links work, the inspector, copying links, sending to a phone through
// a scripted relay, pairing and removing phones.
#include "model_fixture.h"

#include <fstream>

namespace {

class SharingTest : public ModelFixture {
protected:
    /// The target's working share as the store has it now.
    std::optional<Share> activeShare(const ShareTarget& target) const {
        return store.snapshot().activeShare(target, clock.now());
    }
    ShareTarget newItem(const std::string& name) { return ShareTarget::item(addItem(name).id); }
    PairedDevice pair() { return store.claimPairing(store.newPairingCode().code, "Ana's iPhone").value(); }
};

} // namespace

TEST_F(
    SharingTest,
    InspectingMakesAnHourLinkToReceiveADayLinkOtherwiseKeepsAWorkingOneClosesTheCodeAndEndsByTheModelsClock) {
    const auto item = newItem("a.txt");
    model->startPairing();
    const std::string code = model->pairing().value().code;
    EXPECT_EQ(model->pairingURL(), "http://192.168.1.20:47470/p/" + code + "/");
    for (const auto& [target, duration] :
         {std::pair{ShareTarget::inbox(), ShareDuration::hour}, std::pair{item, ShareDuration::day}}) {
        model->inspect(target);
        EXPECT_EQ(activeShare(target).value().duration, duration);
        EXPECT_TRUE(activeShare(target)->allowsUploads);
    }
    EXPECT_FALSE(model->isPairingPanelOpen());
    // Looking again, even before the change has reached the model, keeps the link and its clock.
    const auto inbox = activeShare(ShareTarget::inbox());
    clock.advance(60);
    model->inspect(ShareTarget::inbox());
    EXPECT_EQ(activeShare(ShareTarget::inbox()), inbox);
    model->startPairing();
    EXPECT_FALSE(model->inspecting()) << "the code takes the inspector's place";
    clock.advance(3600);
    EXPECT_FALSE(model->isShared(ShareTarget::inbox())) << "ended by the model's clock, without a reload";
}

TEST_F(SharingTest, PicksAreSharedAsABundleRenewedUntilItsFilesAreGone) {
    const Item a = addItem("a.txt");
    const Item b = addItem("b.txt");
    model->setPicked({ShareTarget::item(a.id), ShareTarget::item(b.id)});
    model->copyPickedLink();
    const Share first = store.snapshot().shares.at(0);
    EXPECT_EQ(first.target.kind(), ShareTarget::Kind::bundle);
    clock.advance(2 * 24 * 3600);
    model->shareAgain(first);
    EXPECT_NE(activeShare(first.target).value().token, first.token);
    EXPECT_EQ(store.snapshot().bundles.size(), 1u) << "renewing reuses the bundle";
    for (const auto& [id, canShare] : {std::pair{a.id, true}, std::pair{b.id, false}}) {
        store.deleteItem(id);
        settle();
        EXPECT_EQ(model->canShareAgain(first), canShare);
    }
}

TEST_F(SharingTest, CopiedShowsOnlyInTheInspectorOfThatTargetAndOffTheNetworkNothingIsCopied) {
    const auto a = newItem("a.txt");
    const auto b = newItem("b.txt");
    model->inspect(a);
    model->copyLink(b);
    EXPECT_FALSE(model->linkCopied()) << "the inspector is open on another target";
    model->copyLink(a);
    EXPECT_TRUE(model->linkCopied());
    EXPECT_TRUE(spinUntil([&] { return !model->linkCopied(); }, 10 * copiedMs)) << "\"Copied\" goes again";

    const auto c = newItem("c.txt");
    lanAddress = std::nullopt;
    model->refreshAddress();
    const int writes = platform.clipboardWrites;
    model->setPicked({c});
    model->copyPickedLink();
    EXPECT_EQ(model->toast(), "Connect to Wi-Fi to share");
    EXPECT_EQ(platform.clipboardWrites, writes);
    EXPECT_EQ(model->picked().size(), 1u) << "nothing was copied, so the picks stay";
    EXPECT_TRUE(activeShare(c)) << "the share is made all the same";
}

TEST_F(SharingTest, SendingSaysWhatTheRelayDidAndAFailureOffersTheLink) {
    const PairedDevice phone = pair();
    const auto item = newItem("a.txt");
    FakeRelay relay;
    makeModel({relay.url()});
    const std::tuple<FakeRelay::Reply, std::string, bool> cases[] = {
        {{200, R"({"sent":1})"}, "Sent to Ana's iPhone", false},
        {{200, R"({"sent":0})"},
         "Sent. Notifications are off on Ana's iPhone, so it's waiting in Tesk there",
         false},
        {{500, "{}"}, "Couldn't reach Ana's iPhone. Here's the link instead", true},
    };
    for (const auto& [reply, message, inspects] : cases) {
        relay.setHandler(FakeRelay::on("/send", reply));
        model->setInspecting(std::nullopt);
        model->send({item}, phone);
        ASSERT_TRUE(spinUntil([&] { return model->toast() == message; })) << message;
        EXPECT_EQ(model->inspecting().has_value(), inspects);
    }
    EXPECT_EQ(relay.requestsTo("/send").at(0).json()["token"], activeShare(item).value().token);
}

// Whether removing asks first is the phones view's test.
TEST_F(SharingTest, RemovingAPhoneForgetsItsShortcut) {
    const PairedDevice phone = pair();
    const auto shortcut = store.root / "shortcuts" / (phone.token + ".shortcut");
    std::filesystem::create_directories(shortcut.parent_path());
    std::ofstream(shortcut) << "signed shortcut";
    model->removeDevice(phone);
    EXPECT_TRUE(store.snapshot().devices.empty());
    EXPECT_FALSE(std::filesystem::exists(shortcut));
}
