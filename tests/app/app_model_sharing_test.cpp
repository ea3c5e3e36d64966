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
    PairedDevice pair(const std::string& name) {
        const auto device = store.claimPairing(store.newPairingCode().code, name);
        settle();
        return device.value();
    }
};

} // namespace

TEST_F(SharingTest, ListsLeaveReceiveLinksOutAndEndByTheModelsClock) {
    const auto a = newItem("a.txt");
    const Share first = store.share(a, ShareDuration::day, true);
    clock.advance(1);
    store.share(ShareTarget::inbox(), ShareDuration::hour, true);
    const Share second = store.share(newItem("b.txt"), ShareDuration::day, true);
    store.stopSharing(first.token);
    settle();
    EXPECT_EQ(model->activeShares(), std::vector{second});
    const auto history = model->shareHistory();
    EXPECT_EQ(history.active, std::vector{second});
    EXPECT_EQ(history.earlier.at(0).token, first.token);
    EXPECT_FALSE(model->isShared(a));
    EXPECT_TRUE(model->isShared(ShareTarget::inbox()));
    clock.advance(3600);
    EXPECT_FALSE(model->isShared(ShareTarget::inbox()));
}

TEST_F(SharingTest, InspectingMakesAnHourLinkToReceiveADayLinkOtherwiseAndKeepsAWorkingOne) {
    const auto item = newItem("a.txt");
    for (const auto& [target, duration] :
         {std::pair{ShareTarget::inbox(), ShareDuration::hour}, std::pair{item, ShareDuration::day}}) {
        model->inspect(target);
        EXPECT_EQ(activeShare(target).value().duration, duration);
        EXPECT_TRUE(activeShare(target)->allowsUploads);
        EXPECT_EQ(model->inspecting(), target);
    }
    // Looking again, even before the change has reached the model, keeps the link and its clock.
    const auto inbox = activeShare(ShareTarget::inbox());
    clock.advance(60);
    model->inspect(ShareTarget::inbox());
    EXPECT_EQ(activeShare(ShareTarget::inbox()), inbox);
    model->setAllowsUploads(false, item);
    EXPECT_FALSE(activeShare(item)->allowsUploads);
}

TEST_F(SharingTest, PicksAreSharedAsABundleRenewedUntilItsFilesAreGone) {
    const Item a = addItem("a.txt");
    const Item b = addItem("b.txt");
    model->setPicked({ShareTarget::item(a.id), ShareTarget::item(b.id)});
    model->copyPickedLink();
    EXPECT_TRUE(model->picked().empty());
    const Share first = store.snapshot().shares.at(0);
    EXPECT_EQ(first.target.kind(), ShareTarget::Kind::bundle);
    EXPECT_EQ(platform.clipboardString, model->link(first));

    clock.advance(2 * 24 * 3600);
    model->shareAgain(first);
    EXPECT_NE(activeShare(first.target).value().token, first.token);
    EXPECT_EQ(model->inspecting(), first.target);
    EXPECT_EQ(store.snapshot().bundles.size(), 1u) << "renewing reuses the bundle";
    store.deleteItem(a.id);
    settle();
    EXPECT_TRUE(model->canShareAgain(first)) << "one of its files is left";
    store.deleteItem(b.id);
    settle();
    EXPECT_FALSE(model->canShareAgain(first));
    model->setInspecting(std::nullopt);
    model->inspect(first.target);
    EXPECT_EQ(model->toast(), "Those files have been deleted");
    EXPECT_FALSE(model->inspecting());
}

TEST_F(SharingTest, CopyingOffTheNetworkMakesTheLinkKeepsThePicksAndCopiesOnceBack) {
    const auto item = newItem("a.txt");
    lanAddress = std::nullopt;
    model->refreshAddress();
    model->setPicked({item});
    model->copyPickedLink();
    EXPECT_EQ(model->toast(), "Connect to Wi-Fi to share");
    EXPECT_EQ(platform.clipboardWrites, 0);
    EXPECT_EQ(model->picked().size(), 1u) << "nothing was copied, so the picks stay";
    const auto share = activeShare(item);
    ASSERT_TRUE(share) << "the share is made all the same";
    lanAddress = "192.168.1.20";
    model->refreshAddress();
    model->copyLink(item);
    EXPECT_EQ(platform.clipboardString, model->link(*share));
    EXPECT_TRUE(platform.clipboardString->starts_with("http://192.168.1.20:"));
}

TEST_F(SharingTest, CopiedShowsOnlyInTheInspectorOfThatTargetAndStoppingClosesOnlyThatInspector) {
    const auto a = newItem("a.txt");
    const auto b = newItem("b.txt");
    model->copyLink(a);
    EXPECT_FALSE(model->linkCopied()) << "no inspector is open";
    model->inspect(a);
    model->copyLink(b);
    EXPECT_FALSE(model->linkCopied()) << "the inspector is open on another target";
    model->copyLink(a);
    EXPECT_TRUE(model->linkCopied());
    EXPECT_TRUE(spinUntil([&] { return !model->linkCopied(); }, 10 * copiedMs));

    model->stop(*activeShare(b));
    EXPECT_EQ(model->inspecting(), a);
    model->stopSharing(a);
    EXPECT_FALSE(activeShare(a) || activeShare(b) || model->inspecting());
}

TEST_F(SharingTest, SendingSaysWhatTheRelayDidAndAFailureOffersTheLink) {
    const PairedDevice phone = pair("Ana's iPhone");
    const auto item = newItem("a.txt");
    FakeRelay relay;
    FakeRelay::Reply sendReply;
    relay.setHandler([&](const FakeRelay::Request& request) {
        return request.target.ends_with("/send") ? sendReply : FakeRelay::healthy(request);
    });
    makeModel({QUrl(QString::fromStdString(relay.base()))});
    const std::tuple<FakeRelay::Reply, std::string, bool> cases[] = {
        {{200, R"({"sent":1})"}, "Sent to Ana's iPhone", false},
        {{200, R"({"sent":0})"},
         "Sent. Notifications are off on Ana's iPhone, so it's waiting in Tesk there",
         false},
        {{500, "{}"}, "Couldn't reach Ana's iPhone. Here's the link instead", true},
    };
    for (const auto& [reply, message, inspects] : cases) {
        sendReply = reply;
        model->setInspecting(std::nullopt);
        model->send({item}, phone);
        ASSERT_TRUE(spinUntil([&] { return model->toast() == message; })) << message;
        EXPECT_EQ(model->inspecting().has_value(), inspects);
    }
    const auto body = relay.requestsTo("/send").at(0).json();
    EXPECT_EQ(body, (nlohmann::json{{"device", RelayClient::sha256(phone.token)},
                                    {"token", activeShare(item).value().token},
                                    {"title", "a.txt"}}));
    store.deleteItem(*item.id());
    model->send({item}, phone);
    EXPECT_EQ(model->toast(), "Nothing left to send");
}

TEST_F(SharingTest, ACodeOnOfferIsWithdrawnByInspectingOrClosingAndNeedsAnAddress) {
    model->inspect(ShareTarget::inbox());
    model->startPairing();
    EXPECT_FALSE(model->inspecting());
    const std::string code = model->pairing().value().code;
    EXPECT_EQ(model->pairingURL(),
              "http://192.168.1.20:" + std::to_string(server.port()) + "/p/" + code + "/");
    model->inspect(ShareTarget::inbox());
    EXPECT_FALSE(model->isPairingPanelOpen());
    model->startPairing();
    lanAddress = std::nullopt;
    model->refreshAddress();
    EXPECT_FALSE(model->pairingURL());
    const std::string second = model->pairing().value().code;
    model->closePairing();
    EXPECT_FALSE(store.isPairingCodeValid(code) || store.isPairingCodeValid(second) ||
                 model->isPairingPanelOpen());
}

TEST_F(SharingTest, RemovingAPhoneAsksThenForgetsItAndItsShortcut) {
    const PairedDevice phone = pair("Ana's iPhone");
    const auto shortcut = store.root / "shortcuts" / (phone.token + ".shortcut");
    std::filesystem::create_directories(shortcut.parent_path());
    std::ofstream(shortcut) << "signed shortcut";
    platform.answers = {false};
    for (const bool confirmed : {false, true}) {
        model->removeDevice(phone);
        EXPECT_EQ(platform.alerts.size(), confirmed ? 2u : 1u);
        EXPECT_EQ(store.snapshot().devices.empty(), confirmed);
        EXPECT_EQ(std::filesystem::exists(shortcut), !confirmed);
    }
}
