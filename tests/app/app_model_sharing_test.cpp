// The sharing side of the model: which links work, the inspector, copying links, sending to a phone through
// a scripted relay, pairing and removing phones.
#include "model_fixture.h"

#include <fstream>

namespace {

constexpr double hour = 3600;

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

std::vector<std::string> tokens(const std::vector<Share>& shares) {
    std::vector<std::string> list;
    for (const auto& share : shares) {
        list.push_back(share.token);
    }
    return list;
}

} // namespace

using ModelSharingTest = SharingTest;

TEST_F(ModelSharingTest, ListsLeaveReceiveLinksOutAndHistoryIsNewestFirst) {
    const auto a = newItem("a.txt");
    const Share first = store.share(a, ShareDuration::day, true);
    clock.advance(1);
    store.share(ShareTarget::inbox(), ShareDuration::hour, true);
    clock.advance(1);
    // Made in the same instant: the history keeps them in library order.
    const Share second = store.share(newItem("b.txt"), ShareDuration::day, true);
    const Share third = store.share(newItem("c.txt"), ShareDuration::day, true);
    store.stopSharing(first.token);
    settle();
    EXPECT_EQ(tokens(model->activeShares()), (std::vector{second.token, third.token}));
    const auto history = model->shareHistory();
    EXPECT_EQ(tokens(history.active), (std::vector{second.token, third.token}));
    EXPECT_EQ(tokens(history.earlier), std::vector{first.token});
    EXPECT_FALSE(model->isShared(a));
    EXPECT_TRUE(model->isShared(second.target));
    EXPECT_TRUE(model->isShared(ShareTarget::inbox()));
    // The hour-long receive link ends by the model's clock, not the system's.
    clock.advance(hour);
    EXPECT_FALSE(model->isShared(ShareTarget::inbox()));
}

TEST_F(ModelSharingTest, InspectingMakesAnHourLinkToReceiveADayLinkOtherwiseAndKeepsAWorkingOne) {
    const auto item = newItem("a.txt");
    model->setRenamingID(item.id());
    for (const auto& [target, duration] :
         {std::pair{ShareTarget::inbox(), ShareDuration::hour}, std::pair{item, ShareDuration::day}}) {
        model->inspect(target);
        const auto share = activeShare(target);
        ASSERT_TRUE(share);
        EXPECT_EQ(share->duration, duration);
        EXPECT_TRUE(share->allowsUploads);
        EXPECT_EQ(model->inspecting(), target);
    }
    EXPECT_FALSE(model->renamingID());
    // Looking again, even before the change has reached the model, keeps the link and its clock.
    const auto inbox = activeShare(ShareTarget::inbox());
    clock.advance(60);
    model->inspect(ShareTarget::inbox());
    EXPECT_EQ(activeShare(ShareTarget::inbox()), inbox);
    EXPECT_EQ(store.snapshot().shares.size(), 2u);
    model->setAllowsUploads(false, item);
    EXPECT_FALSE(activeShare(item)->allowsUploads);
}

TEST_F(ModelSharingTest, ABundleIsRenewedUntilItsFilesAreGoneAndOnlyWhatIsThereIsSharedAgain) {
    const Item a = addItem("a.txt");
    const Item b = addItem("b.txt");
    const Share ofA = store.share(ShareTarget::item(a.id), ShareDuration::hour, false);
    model->setPicked({ShareTarget::item(a.id), ShareTarget::item(b.id)});
    model->sharePicked();
    const ShareTarget bundle = model->inspecting().value();
    EXPECT_EQ(bundle.kind(), ShareTarget::Kind::bundle);
    EXPECT_TRUE(model->picked().empty());
    const Share first = activeShare(bundle).value();

    clock.advance(2 * 24 * hour);
    model->setInspecting(std::nullopt);
    model->inspect(bundle);
    EXPECT_NE(activeShare(bundle).value().token, first.token);
    EXPECT_EQ(store.snapshot().bundles.size(), 1u) << "renewing reuses the bundle";
    model->shareAgain(ofA);
    const auto renewed = activeShare(ofA.target).value();
    EXPECT_NE(renewed.token, ofA.token);
    EXPECT_EQ(renewed.duration, ShareDuration::hour);
    EXPECT_FALSE(renewed.allowsUploads);
    EXPECT_EQ(model->inspecting(), ofA.target);

    store.deleteItem(a.id);
    settle();
    EXPECT_FALSE(model->canShareAgain(ofA));
    EXPECT_TRUE(model->canShareAgain(first)) << "one of its files is left";
    store.deleteItem(b.id);
    settle();
    EXPECT_FALSE(model->canShareAgain(first));
    const auto sharesBefore = store.snapshot().shares.size();
    for (const auto& tryAgain : std::vector<std::function<void()>>{[&] { model->inspect(bundle); },
                                                                   [&] { model->shareAgain(ofA); }}) {
        model->setInspecting(std::nullopt);
        tryAgain();
        EXPECT_EQ(model->toast(), "Those files have been deleted");
        EXPECT_FALSE(model->inspecting());
    }
    EXPECT_EQ(store.snapshot().shares.size(), sharesBefore);
}

TEST_F(ModelSharingTest, CopyingOffTheNetworkMakesTheLinkAndCopiesItOnceBack) {
    const auto item = newItem("a.txt");
    lanAddress = std::nullopt;
    model->refreshAddress();
    model->copyLink(item);
    EXPECT_EQ(model->toast(), "Connect to Wi-Fi to share");
    EXPECT_EQ(platform.clipboardWrites, 0);
    const auto share = activeShare(item);
    ASSERT_TRUE(share) << "the share is made all the same";
    EXPECT_FALSE(model->link(*share));

    lanAddress = "192.168.1.20";
    model->refreshAddress();
    settle();
    model->copyLink(item);
    EXPECT_EQ(platform.clipboardString, model->link(*share));
    EXPECT_TRUE(platform.clipboardString->starts_with("http://192.168.1.20:"));
    EXPECT_EQ(model->toast(), "Link copied");
    EXPECT_EQ(store.snapshot().shares.size(), 1u);
}

TEST_F(ModelSharingTest, CopiedShowsOnlyInTheInspectorOfThatTargetAndOnlyForAMoment) {
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
    model->copyLink(a);
    model->inspect(b);
    EXPECT_FALSE(model->linkCopied()) << "opening an inspector starts without Copied";
}

TEST_F(ModelSharingTest, StoppingClosesTheInspectorOnlyForItsOwnTarget) {
    const auto a = newItem("a.txt");
    const auto b = newItem("b.txt");
    model->inspect(a);
    model->stop(store.share(b, ShareDuration::day, true));
    EXPECT_FALSE(activeShare(b));
    EXPECT_EQ(model->inspecting(), a);
    EXPECT_EQ(model->toast(), "Link stopped");
    model->stop(*activeShare(a));
    EXPECT_FALSE(model->inspecting());
    model->inspect(a);
    model->stopSharing(a);
    EXPECT_FALSE(activeShare(a));
    EXPECT_FALSE(model->inspecting());
}

TEST_F(ModelSharingTest, CopyingThePicksLinkSharesThemAsOneAndClearsThemOnlyWhenCopied) {
    const Item a = addItem("a.txt");
    const Item b = addItem("b.txt");
    model->setPicked({ShareTarget::item(a.id), ShareTarget::item(b.id)});
    model->copyPickedLink();
    EXPECT_TRUE(model->picked().empty());
    settle();
    ASSERT_EQ(model->activeShares().size(), 1u);
    EXPECT_EQ(model->activeShares().front().target.kind(), ShareTarget::Kind::bundle);
    EXPECT_EQ(platform.clipboardString, model->link(model->activeShares().front()));
    model->setPicked({ShareTarget::item(a.id)});
    model->copyPickedLink();
    EXPECT_EQ(platform.clipboardString, model->link(*activeShare(ShareTarget::item(a.id))))
        << "one pick: its own";

    lanAddress = std::nullopt;
    model->refreshAddress();
    model->setPicked({ShareTarget::item(b.id)});
    model->copyPickedLink();
    EXPECT_EQ(model->picked().size(), 1u) << "nothing was copied, so the picks stay";
    // Gone before the change reached the model: the picks still name them.
    store.deleteItem(b.id);
    model->sharePicked();
    EXPECT_EQ(model->toast(), "Nothing left to share");
    EXPECT_EQ(model->picked().size(), 1u);
    EXPECT_FALSE(model->inspecting());
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
    const std::vector<std::tuple<FakeRelay::Reply, std::string, bool>> cases{
        {{200, R"({"sent":1})"}, "Sent to Ana's iPhone", false},
        {{200, R"({"sent":0})"},
         "Sent. Notifications are off on Ana's iPhone, so it's waiting in Tesk there",
         false},
        {{500, "{}"}, "Couldn't reach Ana's iPhone. Here's the link instead", true},
    };
    for (const auto& [reply, message, inspects] : cases) {
        SCOPED_TRACE(message);
        sendReply = reply;
        model->setPicked({item});
        model->setInspecting(std::nullopt);
        model->send({item}, phone);
        EXPECT_TRUE(model->picked().empty());
        ASSERT_TRUE(spinUntil([&] { return model->toast() == message; }));
        EXPECT_EQ(model->inspecting(), inspects ? std::optional(item) : std::nullopt);
    }
    const auto body = relay.requestsTo("/send").at(0).json();
    EXPECT_EQ(body["device"], Relay::sha256(phone.token));
    EXPECT_EQ(body["token"], activeShare(item).value().token);
    EXPECT_EQ(body["title"], "a.txt");

    model->setPicked({item});
    store.deleteItem(item.id());
    model->send(model->picked(), phone);
    EXPECT_EQ(model->toast(), "Nothing left to send");
    EXPECT_EQ(model->picked().size(), 1u);
}

using ModelPairingTest = SharingTest;

TEST_F(ModelPairingTest, ACodeOnOfferIsWithdrawnByInspectingOrClosingAndNeedsAnAddress) {
    const auto item = newItem("a.txt");
    model->inspect(item);
    model->startPairing();
    EXPECT_FALSE(model->inspecting());
    const std::string code = model->pairing().value().code;
    EXPECT_TRUE(store.isPairingCodeValid(code));
    EXPECT_EQ(model->pairingURL(),
              "http://192.168.1.20:" + std::to_string(server.port()) + "/p/" + code + "/");
    EXPECT_TRUE(model->isPairingPanelOpen());
    model->inspect(item);
    EXPECT_FALSE(model->isPairingPanelOpen());
    EXPECT_FALSE(model->pairingURL());

    model->startPairing();
    lanAddress = std::nullopt;
    model->refreshAddress();
    EXPECT_FALSE(model->pairingURL());
    const std::string second = model->pairing().value().code;
    model->closePairing();
    EXPECT_FALSE(store.isPairingCodeValid(second));
    EXPECT_FALSE(model->isPairingPanelOpen());
}

TEST_F(ModelPairingTest, RemovingAPhoneAsksThenForgetsItAndItsShortcut) {
    const PairedDevice phone = pair("Ana's iPhone");
    const auto shortcut = store.root / "shortcuts" / (phone.token + ".shortcut");
    std::filesystem::create_directories(shortcut.parent_path());
    std::ofstream(shortcut) << "signed shortcut";
    platform.answers = {false};
    model->removeDevice(phone);
    ASSERT_EQ(platform.alerts.size(), 1u);
    EXPECT_EQ(platform.activations, 1);
    EXPECT_EQ(store.snapshot().devices.size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(shortcut));

    model->removeDevice(phone);
    EXPECT_TRUE(store.snapshot().devices.empty());
    EXPECT_FALSE(std::filesystem::exists(shortcut));
    EXPECT_EQ(model->toast(), "Ana's iPhone removed");
}
