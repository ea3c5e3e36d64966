// The sharing side of the model: links and their status lines, the inspector, picks, sending to a
// phone through a relay (scripted and real), pairing and removing phones.
#include "model_fixture.h"
#include "relay_service.h"

#include <fstream>

namespace {

class SharingTest : public ModelFixture {
protected:
    /// The target's working share as the store has it now.
    std::optional<Share> activeShare(const ShareTarget& target) const {
        return store.snapshot().activeShare(target, clock.now());
    }
    std::string lanLink(const Share& share) const {
        return "http://192.168.1.20:" + std::to_string(server.port()) + "/s/" + share.token + "/";
    }
    /// A share that ends `secondsLeft` from now (none: until stopped), as the status line reads it.
    Share endingIn(std::optional<double> secondsLeft, std::int64_t downloads = 0) const {
        Share share;
        share.token = "a2b3c4d5e6";
        share.created = clock.now();
        share.downloads = downloads;
        if (secondsLeft) {
            share.expires = clock.now().adding(*secondsLeft);
        }
        return share;
    }
    PairedDevice pair(const std::string& name) {
        const auto code = store.newPairingCode();
        const auto device = store.claimPairing(code.code, name);
        settle();
        return device.value();
    }
    std::filesystem::path shortcutOf(const PairedDevice& device) const {
        return store.root / "shortcuts" / (device.token + ".shortcut");
    }
    /// A model whose relay is at `base`, once that relay has answered a check-in.
    void modelWithRelay(const std::string& base) {
        makeModel({QUrl(QString::fromStdString(base))});
        ASSERT_TRUE(spinUntil([&] { return model->relay().base() && model->relay().identity(); }));
    }
};

using ShareStatusTest = SharingTest;
using ModelSharingTest = SharingTest;
using ModelSendTest = SharingTest;
using ModelPairingTest = SharingTest;

constexpr double hour = 3600;

TEST_F(ShareStatusTest, TimeLeftIsCountedInTheUnitItsSizeCalls) {
    EXPECT_EQ(model->shareStatus(endingIn(59.9 * 60)), "Link works for 59 more min · 0 downloads");
    EXPECT_EQ(model->shareStatus(endingIn(hour)), "Link works for 1 more h · 0 downloads");
    EXPECT_EQ(model->shareStatus(endingIn(1.5 * hour, 1)), "Link works for 2 more h · 1 download");
    EXPECT_EQ(model->shareStatus(endingIn(23.49 * hour)), "Link works for 23 more h · 0 downloads");
    EXPECT_EQ(model->shareStatus(endingIn(23.5 * hour)), "Link works for 1 more day · 0 downloads");
    EXPECT_EQ(model->shareStatus(endingIn(36 * hour, 3)), "Link works for 2 more days · 3 downloads");
    EXPECT_EQ(model->shareStatus(endingIn(47 * hour)), "Link works for 2 more days · 0 downloads");
    EXPECT_EQ(model->shareStatus(endingIn(std::nullopt, 2)), "Until you stop it · 2 downloads");
    // A share that has just run out shows no time left rather than a negative count.
    EXPECT_EQ(model->shareStatus(endingIn(-90)), "Link works for 0 more min · 0 downloads");
}

TEST_F(ShareStatusTest, FollowersShowOnlyWhenTheRelayCountsSome) {
    const Share followed = store.share(ShareTarget::item(addItem("a.txt").id), ShareDuration::day, true);
    const Share unfollowed = store.share(ShareTarget::item(addItem("b.txt").id), ShareDuration::day, true);
    FakeRelay relay;
    relay.setHandler([&](const FakeRelay::Request& request) -> FakeRelay::Reply {
        if (request.target.ends_with("/presence")) {
            return {200, nlohmann::json{{"followers", {{followed.token, 3}, {unfollowed.token, 0}}}}.dump()};
        }
        return FakeRelay::healthy(request);
    });
    modelWithRelay(relay.base());

    ASSERT_EQ(model->followerCount(followed), 3);
    EXPECT_EQ(model->followerCount(unfollowed), 0);
    EXPECT_EQ(model->shareStatus(followed), "Link works for 1 more day · 0 downloads · 3 following");
    EXPECT_EQ(model->shareStatus(unfollowed), "Link works for 1 more day · 0 downloads");
}

TEST_F(ModelSharingTest, ListsLeaveReceiveLinksOutAndHistoryIsNewestFirst) {
    const auto a = ShareTarget::item(addItem("a.txt").id);
    const auto b = ShareTarget::item(addItem("b.txt").id);
    const auto c = ShareTarget::item(addItem("c.txt").id);
    const Share first = store.share(a, ShareDuration::day, true);
    clock.advance(1);
    store.share(ShareTarget::inbox(), ShareDuration::hour, true);
    clock.advance(1);
    // Made in the same instant: the history keeps them in library order.
    const Share second = store.share(b, ShareDuration::day, true);
    const Share third = store.share(c, ShareDuration::day, true);
    store.stopSharing(first.token);
    settle();

    const auto tokens = [](const std::vector<Share>& shares) {
        std::vector<std::string> list;
        for (const auto& share : shares) {
            list.push_back(share.token);
        }
        return list;
    };
    EXPECT_EQ(tokens(model->activeShares()), (std::vector{second.token, third.token}));
    const auto history = model->shareHistory();
    EXPECT_EQ(tokens(history.active), (std::vector{second.token, third.token}));
    EXPECT_EQ(tokens(history.earlier), std::vector{first.token});
    EXPECT_FALSE(model->isShared(a));
    EXPECT_TRUE(model->isShared(b));
    EXPECT_TRUE(model->isShared(ShareTarget::inbox()));

    // The hour-long receive link ends by the model's clock, not the system's.
    clock.advance(hour);
    EXPECT_FALSE(model->isShared(ShareTarget::inbox()));
}

TEST_F(ModelSharingTest, CanShareAgainOnlyWhatIsStillThere) {
    const Item kept = addItem("kept.txt");
    const Item gone = addItem("gone.txt");
    const Share ofKept = store.share(ShareTarget::item(kept.id), ShareDuration::day, true);
    const Share ofGone = store.share(ShareTarget::item(gone.id), ShareDuration::day, true);
    model->setPicked({ShareTarget::item(gone.id), ShareTarget::item(addItem("other.txt").id)});
    model->sharePicked();
    const Share ofBundle = activeShare(model->inspecting().value()).value();
    store.deleteItem(gone.id);
    settle();

    EXPECT_TRUE(model->canShareAgain(ofKept));
    EXPECT_FALSE(model->canShareAgain(ofGone));
    EXPECT_TRUE(model->canShareAgain(ofBundle));
    store.deleteItem(model->library().bundles.at(0).itemIDs.at(0));
    settle();
    EXPECT_FALSE(model->canShareAgain(ofBundle)) << "an emptied bundle has nothing left to share";
    EXPECT_TRUE(model->canShareAgain(endingIn(std::nullopt)));
}

TEST_F(ModelSharingTest, InspectingMakesAnHourLinkToReceiveAndADayLinkOtherwise) {
    const auto item = ShareTarget::item(addItem("a.txt").id);
    model->setRenamingID(item.id());
    model->inspect(ShareTarget::inbox());
    const auto inbox = activeShare(ShareTarget::inbox());
    ASSERT_TRUE(inbox);
    EXPECT_EQ(inbox->duration, ShareDuration::hour);
    EXPECT_EQ(inbox->expires, clock.now().adding(hour));
    EXPECT_TRUE(inbox->allowsUploads);
    EXPECT_EQ(model->inspecting(), ShareTarget::inbox());
    EXPECT_FALSE(model->renamingID());

    model->inspect(item);
    const auto shared = activeShare(item);
    ASSERT_TRUE(shared);
    EXPECT_EQ(shared->duration, ShareDuration::day);
    EXPECT_EQ(shared->expires, clock.now().adding(24 * hour));
    EXPECT_TRUE(shared->allowsUploads);
    EXPECT_EQ(model->inspecting(), item);

    // Looking again, even before the change has reached the model, keeps the link and its clock.
    clock.advance(60);
    model->inspect(ShareTarget::inbox());
    EXPECT_EQ(activeShare(ShareTarget::inbox()), inbox);
    EXPECT_EQ(store.snapshot().shares.size(), 2u);

    model->setAllowsUploads(false, item);
    EXPECT_FALSE(activeShare(item)->allowsUploads);
}

TEST_F(ModelSharingTest, InspectingABundleRenewsItsLinkUntilItsFilesAreGone) {
    const Item a = addItem("a.txt");
    const Item b = addItem("b.txt");
    model->setPicked({ShareTarget::item(a.id), ShareTarget::item(b.id)});
    model->sharePicked();
    ASSERT_TRUE(model->inspecting());
    const ShareTarget bundle = *model->inspecting();
    EXPECT_EQ(bundle.kind(), ShareTarget::Kind::bundle);
    EXPECT_TRUE(model->picked().empty());
    const Share first = activeShare(bundle).value();

    clock.advance(2 * 24 * hour);
    model->setInspecting(std::nullopt);
    model->inspect(bundle);
    const auto renewed = activeShare(bundle);
    ASSERT_TRUE(renewed);
    EXPECT_NE(renewed->token, first.token);
    EXPECT_EQ(model->inspecting(), bundle);
    EXPECT_EQ(store.snapshot().bundles.size(), 1u) << "renewing reuses the bundle";

    store.deleteItem(a.id);
    store.deleteItem(b.id);
    settle();
    model->setInspecting(std::nullopt);
    const auto sharesBefore = store.snapshot().shares.size();
    model->inspect(bundle);
    EXPECT_EQ(model->toast(), "Those files have been deleted");
    EXPECT_FALSE(model->inspecting());
    EXPECT_EQ(store.snapshot().shares.size(), sharesBefore);
}

TEST_F(ModelSharingTest, CopyingOffTheNetworkKeepsTheLinkForWhenItIsBack) {
    const auto item = ShareTarget::item(addItem("a.txt").id);
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
    EXPECT_EQ(platform.clipboardString, lanLink(*share));
    EXPECT_EQ(model->toast(), "Link copied");
    EXPECT_EQ(store.snapshot().shares.size(), 1u);
}

TEST_F(ModelSharingTest, CopiedShowsOnlyInTheInspectorOfThatTargetAndOnlyForAMoment) {
    const auto a = ShareTarget::item(addItem("a.txt").id);
    const auto b = ShareTarget::item(addItem("b.txt").id);
    model->copyLink(a);
    EXPECT_FALSE(model->linkCopied()) << "no inspector is open";
    model->inspect(a);
    model->copyLink(b);
    EXPECT_FALSE(model->linkCopied()) << "the inspector is open on another target";
    EXPECT_EQ(platform.clipboardString, lanLink(*activeShare(b)));

    model->copyLink(a);
    EXPECT_TRUE(model->linkCopied());
    EXPECT_TRUE(spinUntil([&] { return !model->linkCopied(); }, 10 * copiedMs));
    model->copyLink(a);
    model->inspect(b);
    EXPECT_FALSE(model->linkCopied()) << "opening an inspector starts without Copied";
}

TEST_F(ModelSharingTest, StoppingClosesTheInspectorOnlyForItsOwnTarget) {
    const auto a = ShareTarget::item(addItem("a.txt").id);
    const auto b = ShareTarget::item(addItem("b.txt").id);
    const Share ofB = store.share(b, ShareDuration::day, true);
    model->inspect(a);
    model->stop(ofB);
    EXPECT_FALSE(activeShare(b));
    EXPECT_EQ(model->inspecting(), a);
    EXPECT_EQ(model->toast(), "Link stopped");

    model->stop(*activeShare(a));
    EXPECT_FALSE(model->inspecting());

    model->inspect(a);
    model->tapToast();
    model->stopSharing(a);
    EXPECT_FALSE(activeShare(a));
    EXPECT_FALSE(model->inspecting());
    EXPECT_EQ(model->toast(), "Link stopped");
}

TEST_F(ModelSharingTest, SharingAgainRenewsWhatIsThereAndReportsWhatIsGone) {
    const Item kept = addItem("kept.txt");
    const Item gone = addItem("gone.txt");
    const Share ofKept = store.share(ShareTarget::item(kept.id), ShareDuration::hour, false);
    const Share ofGone = store.share(ShareTarget::item(gone.id), ShareDuration::hour, true);
    clock.advance(2 * hour);
    store.deleteItem(gone.id);
    settle();

    model->shareAgain(ofGone);
    EXPECT_EQ(model->toast(), "Those files have been deleted");
    EXPECT_FALSE(model->inspecting());

    model->shareAgain(ofKept);
    const auto renewed = activeShare(ofKept.target);
    ASSERT_TRUE(renewed);
    EXPECT_NE(renewed->token, ofKept.token);
    EXPECT_EQ(renewed->duration, ShareDuration::hour);
    EXPECT_FALSE(renewed->allowsUploads);
    EXPECT_EQ(model->inspecting(), ofKept.target);
}

TEST_F(ModelSharingTest, CopyingThePicksLinkCountsThemAndClearsThem) {
    const Item a = addItem("a.txt");
    const Item b = addItem("b.txt");
    model->setPicked({ShareTarget::item(a.id), ShareTarget::item(b.id)});
    model->copyPickedLink();
    EXPECT_EQ(model->toast(), "Link copied for 2 items");
    EXPECT_TRUE(model->picked().empty());
    settle();
    ASSERT_EQ(model->activeShares().size(), 1u);
    const Share bundle = model->activeShares().front();
    EXPECT_EQ(bundle.target.kind(), ShareTarget::Kind::bundle);
    EXPECT_EQ(platform.clipboardString, lanLink(bundle));

    model->setPicked({ShareTarget::item(a.id)});
    model->copyPickedLink();
    EXPECT_EQ(model->toast(), "Link copied for 1 item");
    EXPECT_EQ(platform.clipboardString, lanLink(*activeShare(ShareTarget::item(a.id))));

    lanAddress = std::nullopt;
    model->refreshAddress();
    model->setPicked({ShareTarget::item(b.id)});
    model->copyPickedLink();
    EXPECT_EQ(model->toast(), "Connect to Wi-Fi to share");
    EXPECT_EQ(model->picked().size(), 1u) << "nothing was copied, so the picks stay";

    // Gone before the change reached the model: the picks still name them.
    store.deleteItem(b.id);
    model->sharePicked();
    EXPECT_EQ(model->toast(), "Nothing left to share");
    EXPECT_EQ(model->picked().size(), 1u);
    EXPECT_FALSE(model->inspecting());
}

TEST_F(ModelSendTest, SentWhenTheRelayDeliveredANotification) {
    const PairedDevice phone = pair("Ana's iPhone");
    const Item item = addItem("a.txt");
    FakeRelay relay;
    relay.setHandler([](const FakeRelay::Request& request) -> FakeRelay::Reply {
        if (request.target.ends_with("/send")) {
            return {200, R"({"sent":1})"};
        }
        return FakeRelay::healthy(request);
    });
    modelWithRelay(relay.base());
    model->setPicked({ShareTarget::item(item.id)});

    model->send({ShareTarget::item(item.id)}, phone);
    EXPECT_EQ(model->toast(), "Sending to Ana's iPhone\u2026");
    EXPECT_TRUE(model->picked().empty());
    ASSERT_TRUE(spinUntil([&] { return model->toast() == "Sent to Ana's iPhone"; }));
    EXPECT_FALSE(model->inspecting());

    const auto sends = relay.requestsTo("/send");
    ASSERT_EQ(sends.size(), 1u);
    const auto body = sends[0].json();
    EXPECT_EQ(body["device"], RelayClient::sha256(phone.token));
    EXPECT_EQ(body["token"], activeShare(ShareTarget::item(item.id)).value().token);
    EXPECT_EQ(body["title"], "a.txt");
}

TEST_F(ModelSendTest, WaitingWhenTheRelayKnowsThePhoneButCannotNotifyIt) {
    RelayService service(dir.path() / "relay-state.json");
    ASSERT_FALSE(service.base().empty()) << "tesk-relay did not report its port";
    // Paired before the model starts, so the first check-in already tells the relay about the phone.
    const PairedDevice phone = pair("Ana's iPhone");
    const Item item = addItem("a.txt");
    modelWithRelay(service.base());

    model->send({ShareTarget::item(item.id)}, phone);
    EXPECT_TRUE(spinUntil([&] {
        return model->toast() == "Sent. Notifications are off on Ana's iPhone, so it's waiting in Tesk there";
    }));
    EXPECT_FALSE(model->inspecting());
}

TEST_F(ModelSendTest, FailedSendOpensTheInspectorOnTheLink) {
    std::optional<RelayService> service(std::in_place, dir.path() / "relay-state.json");
    ASSERT_FALSE(service->base().empty()) << "tesk-relay did not report its port";
    const PairedDevice phone = pair("Ana's iPhone");
    const Item item = addItem("a.txt");
    modelWithRelay(service->base());
    service.reset();

    model->send({ShareTarget::item(item.id)}, phone);
    ASSERT_TRUE(
        spinUntil([&] { return model->toast() == "Couldn't reach Ana's iPhone. Here's the link instead"; }));
    EXPECT_EQ(model->inspecting(), ShareTarget::item(item.id));
    EXPECT_FALSE(model->linkCopied());
    EXPECT_TRUE(activeShare(ShareTarget::item(item.id)));
}

TEST_F(ModelSendTest, NothingLeftToSendKeepsThePicks) {
    const PairedDevice phone = pair("Ana's iPhone");
    const Item item = addItem("a.txt");
    model->setPicked({ShareTarget::item(item.id)});
    store.deleteItem(item.id);
    model->send(model->picked(), phone);
    EXPECT_EQ(model->toast(), "Nothing left to send");
    EXPECT_EQ(model->picked().size(), 1u);
    EXPECT_TRUE(store.snapshot().shares.empty());
}

TEST_F(ModelPairingTest, OfferingACodeClosesTheInspectorAndInspectingWithdrawsIt) {
    const auto item = ShareTarget::item(addItem("a.txt").id);
    model->inspect(item);
    model->startPairing();
    EXPECT_FALSE(model->inspecting());
    ASSERT_TRUE(model->pairing());
    const std::string code = model->pairing()->code;
    EXPECT_TRUE(store.isPairingCodeValid(code));
    EXPECT_EQ(model->pairingURL(),
              "http://192.168.1.20:" + std::to_string(server.port()) + "/p/" + code + "/");
    EXPECT_TRUE(model->isPairingPanelOpen());

    model->inspect(item);
    EXPECT_FALSE(model->pairing());
    EXPECT_FALSE(model->pairingURL());
    EXPECT_FALSE(model->isPairingPanelOpen());
}

TEST_F(ModelPairingTest, ClosingWithdrawsTheCodeAndNoAddressMeansNoCodeToScan) {
    model->startPairing();
    const std::string code = model->pairing().value().code;
    lanAddress = std::nullopt;
    model->refreshAddress();
    EXPECT_FALSE(model->pairingURL());

    model->closePairing();
    EXPECT_FALSE(model->pairing());
    EXPECT_FALSE(store.isPairingCodeValid(code));
    EXPECT_FALSE(model->isPairingPanelOpen());
}

TEST_F(ModelPairingTest, RemovingAPhoneAsksThenForgetsItAndItsShortcut) {
    const PairedDevice phone = pair("Ana's iPhone");
    std::filesystem::create_directories(shortcutOf(phone).parent_path());
    std::ofstream(shortcutOf(phone)) << "signed shortcut";

    platform.answers = {false};
    model->removeDevice(phone);
    ASSERT_EQ(platform.alerts.size(), 1u);
    EXPECT_EQ(platform.activations, 1);
    const auto& alert = platform.alerts[0];
    EXPECT_EQ(alert.message, "Remove Ana's iPhone?");
    EXPECT_EQ(alert.informativeText,
              "Its Tesk icon stops working at once. Files it already sent stay in Tesk. "
              "You can pair it again any time.");
    EXPECT_EQ(alert.confirmButton, "Remove");
    EXPECT_EQ(alert.cancelButton, "Cancel");
    EXPECT_EQ(store.snapshot().devices.size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(shortcutOf(phone)));
    EXPECT_FALSE(model->toast());

    model->removeDevice(phone);
    EXPECT_TRUE(store.snapshot().devices.empty());
    EXPECT_FALSE(std::filesystem::exists(shortcutOf(phone)));
    EXPECT_EQ(model->toast(), "Ana's iPhone removed");
}

TEST_F(ModelPairingTest, RemovingAPhoneWithoutAShortcutFileStillRemovesIt) {
    const PairedDevice phone = pair("Ben's Pixel");
    model->removeDevice(phone);
    EXPECT_TRUE(store.snapshot().devices.empty());
    EXPECT_EQ(model->toast(), "Ben's Pixel removed");
}

} // namespace
