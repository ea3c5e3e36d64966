// The model following the library and the server's events, what it tells the relay, and quitting in the
// middle of work.
#include "model_fixture.h"

namespace fs = std::filesystem;
using Json = nlohmann::json;

using ModelEventsTest = ModelFixture;

TEST_F(ModelEventsTest, AReceivedItemIsRevealedWhileItExistsAndAPairedPhoneIsShownInsteadOfTheInspector) {
    const Folder from = store.addFolder("Ana's iPhone", std::nullopt);
    const Item item = addItem("photo.jpg", from.id);
    model->handle(ServerEvent{ServerEvent::Received{item, "Ana's iPhone"}});
    model->tapToast();
    EXPECT_EQ(model->selection(), SidebarSelection::folder(from.id));
    EXPECT_EQ(model->picked(), std::vector{ShareTarget::item(item.id)});
    EXPECT_EQ(model->revealedID(), item.id);
    model->handle(ServerEvent{ServerEvent::Received{item, "Ana's iPhone"}});
    store.deleteItem(item.id);
    settle();
    model->tapToast();
    EXPECT_EQ(model->toast(), "That item has been deleted");

    model->setInspecting(ShareTarget::inbox());
    const auto phone = store.claimPairing(store.newPairingCode().code, "Ana's iPhone").value();
    model->handle(ServerEvent{ServerEvent::Paired{phone}});
    EXPECT_EQ(model->selection(), SidebarSelection::phones());
    EXPECT_FALSE(model->inspecting());
    EXPECT_EQ(platform.notifications.at(2).target, Notifier::Target::phones());
}

TEST_F(ModelEventsTest, EventsAndChangesQueuedForAModelThatIsGoneAreDropped) {
    const Item item = addItem("late.txt");
    const auto report = model->serverEventHandler();
    store.addFolder("Queued", std::nullopt); // queues a reload for the model
    report(ServerEvent{ServerEvent::Received{item, "Ana"}});
    model.reset();
    settle();
    EXPECT_TRUE(platform.notifications.empty());
}

TEST_F(ModelEventsTest, ReloadRepairsSelectionInspectorAndPicks) {
    const Folder folder = store.addFolder("Trip", std::nullopt);
    const Item kept = addItem("kept.txt");
    const Item doomed = addItem("doomed.txt", folder.id);
    model->setSelection(SidebarSelection::folder(folder.id));
    model->setInspecting(ShareTarget::item(doomed.id));
    model->setPicked({ShareTarget::item(doomed.id), ShareTarget::item(kept.id), ShareTarget::inbox(),
                      ShareTarget::folder(folder.id), ShareTarget::folder()});
    store.deleteFolder(folder.id);
    settle();
    EXPECT_EQ(model->selection(), SidebarSelection::all());
    EXPECT_EQ(model->inspecting(), std::nullopt);
    EXPECT_EQ(model->picked(),
              (std::vector{ShareTarget::item(kept.id), ShareTarget::inbox(), ShareTarget::folder()}));
}

TEST_F(ModelEventsTest,
       TheRelayHearsOfAddressesWorkingSharesAndPhonesAtOnceAndOfNewItemsInFollowedSharesOnly) {
    store.share(ShareTarget::folder(), ShareDuration::hour, true);
    clock.advance(3600);
    const Share inbox = store.share(ShareTarget::inbox(), ShareDuration::hour, true);
    const Folder outer = store.addFolder("Outer", std::nullopt);
    const Folder inner = store.addFolder("Inner", outer.id);
    addItem("old.jpg", inner.id);
    const Share followed = store.share(ShareTarget::folder(inner.id), ShareDuration::day, true);
    const Share unfollowed = store.share(ShareTarget::folder(outer.id), ShareDuration::day, true);
    FakeRelay fake;
    const Json followers{{"followers", {{followed.token, 2}, {unfollowed.token, 0}}}};
    fake.setHandler(FakeRelay::on("/presence", {200, followers.dump()}));
    server.setLocalHostName("ana.local");
    makeModel({fake.url()});
    ASSERT_TRUE(spinUntil([&] { return model->followerCount(followed) == 2; }));
    EXPECT_EQ(server.followBase(), fake.base() + "/k/mac1");
    EXPECT_EQ(server.deviceBase(), fake.base() + "/d/mac1");

    // At once, not after the two seconds a library change waits; the store's change reaches the model
    // first, as the server reports only after the store has the phone.
    const auto phone = store.claimPairing(store.newPairingCode().code, "Ana's iPhone").value();
    settle();
    model->handle(ServerEvent{ServerEvent::Paired{phone}});
    const auto presences = [&] { return fake.requestsTo("/presence"); };
    const Json devices = Json::array({RelayClient::sha256(phone.token)});
    EXPECT_TRUE(spinUntil([&] { return presences().back().json()["devices"] == devices; }, 1500));
    // The expired share is left out, the receive link is in.
    const Json sent = presences().back().json();
    EXPECT_EQ(sent["lan"], Json::array({"http://192.168.1.20:47470", "http://ana.local:47470"}));
    EXPECT_EQ(sent["shares"].size(), 3u);
    EXPECT_EQ(sent["shares"][0]["token"], inbox.token);
    for (const auto& address :
         {lanAddress, std::optional<std::string>("10.0.0.7"), std::optional<std::string>()}) {
        const auto before = presences().size();
        const bool changes = address != lanAddress;
        lanAddress = address;
        model->refreshAddress();
        model->refreshAddress();
        spinFor(300);
        EXPECT_EQ(presences().size(), before + (changes ? 1 : 0)) << address.value_or("none");
    }

    store.renameFolder(outer.id, "Outer renamed");
    addItem("new.jpg", inner.id);
    ASSERT_TRUE(spinUntil([&] { return !fake.requestsTo("/notify").empty(); }));
    spinFor(150);
    const auto notifies = fake.requestsTo("/notify");
    ASSERT_EQ(notifies.size(), 1u) << "one new item, one followed share";
    EXPECT_EQ(notifies[0].json(),
              (Json{{"token", followed.token}, {"title", "New in Inner"}, {"body", "new.jpg"}}));
}

TEST_F(ModelEventsTest, OpenAtLoginIsOfferedOnceOnlyForAnInstalledCopyAndAFailureIsShown) {
    model->openAtLoginOnFirstRun();
    EXPECT_FALSE(login.enabled || settings.contains("openAtLoginOffered")) << "a build tree's copy";
    login.installed = true;
    model->openAtLoginOnFirstRun();
    EXPECT_TRUE(login.enabled);
    login.enabled = false; // turned off by the user: not asked again
    model->openAtLoginOnFirstRun();
    EXPECT_FALSE(login.enabled);
    settings.clear();
    login.failing = true;
    model->openAtLoginOnFirstRun();
    EXPECT_EQ(model->toast(), "Couldn't turn on Open at Login");
    EXPECT_TRUE(settings.value("openAtLoginOffered").toBool()) << "the offer still counts";
}

// Quitting must not wait for work in the background, nor leave half of it behind.
TEST_F(ModelEventsTest, QuittingStopsAFolderBeingAddedAndLeavesNothingOfIt) {
    for (int file = 0; file < 400; ++file) {
        makeFile("Big/" + std::to_string(file) + ".txt", std::string(4096, 'x'));
    }
    model->add({dir.path() / "outside" / "Big"});
    ASSERT_TRUE(spinUntil([&] { return store.snapshot().items.size() >= 2; }));
    const auto start = std::chrono::steady_clock::now();
    model.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_TRUE(store.snapshot().items.empty() && store.snapshot().folders.empty());
    EXPECT_TRUE(fs::is_empty(store.filesDir)) << "no copy, whole or half, is left";
}

TEST_F(ModelEventsTest, ShortcutsAreMadeOnlyWithAHostNameAndStoppedOnQuit) {
    ASSERT_TRUE(store.claimPairing(store.newPairingCode().code, "Ana's iPhone"));
    makeModel();
    EXPECT_TRUE(shortcuts.tokens.empty()) << "no host name, no shortcut: it would point nowhere";
    server.setLocalHostName("ana.local");
    makeModel();
    EXPECT_EQ(shortcuts.tokens, std::vector<std::string>{store.snapshot().devices.at(0).token});
    EXPECT_EQ(shortcuts.host, "ana.local");
    ASSERT_FALSE(shortcuts.stop.stop_requested());
    model.reset();
    EXPECT_TRUE(shortcuts.stop.stop_requested()) << "a hung signer would keep quitting waiting";
}
