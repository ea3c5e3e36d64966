// The model following the library, showing status messages, reacting to the server, keeping its address
// and telling the relay: against a real store and server, with the relay scripted on loopback.
#include "model_fixture.h"
#include "support/raw_client.h"
#include "support/scoped_env.h"

#include <QElapsedTimer>
#include <cstdlib>
#include <fstream>

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

std::string upload(const Share& share, const std::string& name, const std::string& sender,
                   const std::string& body) {
    return "POST /s/" + share.token + "/upload HTTP/1.1\r\nHost: test\r\nX-Tesk-Name: " + name +
           "\r\nX-Tesk-Device: " + sender + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

std::string claim(const std::string& code, const std::string& name) {
    const std::string body = Json{{"name", name}}.dump();
    return "POST /p/" + code + "/claim HTTP/1.1\r\nHost: test\r\nContent-Type: application/json\r\n" +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

/// The status code of a raw response.
int status(const std::string& response) {
    return response.size() > 12 ? std::atoi(response.substr(9, 3).c_str()) : 0;
}

} // namespace

class ModelEventsTest : public ModelFixture {};

TEST_F(ModelEventsTest, ReceivedFileNotifiesAndTappingItsMessageRevealsIt) {
    const Share inbox = store.share(ShareTarget::inbox(), ShareDuration::hour, true);
    settle();
    model->setSelection(SidebarSelection::shared());
    const int reveals = model->revealRequest();

    ASSERT_EQ(status(request(server.port(), upload(inbox, "photo.jpg", "Ana's iPhone", "jpeg bytes"))), 201);
    ASSERT_TRUE(spinUntil([&] { return !platform.notifications.empty(); }));
    settle();

    const auto received = store.snapshot().receivedItems();
    ASSERT_EQ(received.size(), 1u);
    const Item item = received[0];
    ASSERT_EQ(platform.notifications.size(), 1u);
    EXPECT_EQ(platform.notifications[0].title, "Received from Ana's iPhone");
    EXPECT_EQ(platform.notifications[0].body, "photo.jpg");
    EXPECT_EQ(platform.notifications[0].target, Notifier::Target::item(item.id));
    EXPECT_EQ(model->toast(), "Received photo.jpg");
    ASSERT_TRUE(model->hasToastAction());

    model->tapToast();
    EXPECT_FALSE(model->toast());
    EXPECT_FALSE(model->hasToastAction());
    EXPECT_EQ(model->selection(), SidebarSelection::folder(*item.folderID)) << "the sender's folder";
    EXPECT_EQ(model->picked(), std::vector{ShareTarget::item(item.id)});
    EXPECT_EQ(model->revealedID(), item.id);
    EXPECT_EQ(model->revealRequest(), reveals + 1);
}

TEST_F(ModelEventsTest, TwoArrivalsNotifyTwiceAndTheMessageNamesTheLater) {
    const Item first = addItem("first.txt");
    const Item second = addItem("second.txt");
    model->handle(ServerEvent{ServerEvent::Received{first, "Ana"}});
    model->handle(ServerEvent{ServerEvent::Received{second, "Ben"}});

    ASSERT_EQ(platform.notifications.size(), 2u);
    EXPECT_EQ(platform.notifications[0].title, "Received from Ana");
    EXPECT_EQ(platform.notifications[1].title, "Received from Ben");
    EXPECT_EQ(model->toast(), "Received second.txt");
}

TEST_F(ModelEventsTest, TappingAfterTheItemWasDeletedSaysSo) {
    const Item item = addItem("gone.txt");
    model->handle(ServerEvent{ServerEvent::Received{item, "Ana"}});
    store.deleteItem(item.id);
    settle();
    model->tapToast();
    EXPECT_EQ(model->toast(), "That item has been deleted");
    EXPECT_EQ(model->revealedID(), std::nullopt);
}

TEST_F(ModelEventsTest, ADownloadOnlyUpdatesTheCount) {
    const Item item = addItem("report.pdf");
    const Share share = store.share(ShareTarget::item(item.id), ShareDuration::day, true);
    settle();

    const std::string response =
        request(server.port(), "GET /s/" + share.token + "/f/" + item.id + " HTTP/1.1\r\nHost: test\r\n\r\n");
    ASSERT_EQ(status(response), 200);
    ASSERT_TRUE(spinUntil([&] { return model->library().share(share.token)->downloads == 1; }));
    settle();
    EXPECT_TRUE(platform.notifications.empty());
    EXPECT_FALSE(model->toast());
}

TEST_F(ModelEventsTest, EventsAndChangesAfterTheModelIsGoneAreDropped) {
    const Share inbox = store.share(ShareTarget::inbox(), ShareDuration::hour, true);
    store.addFolder("Queued", std::nullopt); // a reload is queued for the model
    model.reset();
    settle();

    ASSERT_EQ(status(request(server.port(), upload(inbox, "late.txt", "Ana", "late"))), 201);
    spinFor(100);
    EXPECT_TRUE(platform.notifications.empty());
    EXPECT_EQ(store.snapshot().receivedItems().size(), 1u) << "the server still works without a model";
}

class ModelFollowingTest : public ModelFixture {};

TEST_F(ModelFollowingTest, ReloadRepairsSelectionInspectorAndPicks) {
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
    EXPECT_FALSE(model->library().item(doomed.id));

    // What always exists stays under inspection.
    model->setInspecting(ShareTarget::inbox());
    store.addFolder("Other", std::nullopt);
    settle();
    EXPECT_EQ(model->inspecting(), ShareTarget::inbox());
}

TEST_F(ModelFollowingTest, ANewMessageReplacesTheOldAndLastsItsOwnPeriod) {
    int taps = 0;
    model->show("First", [&] { ++taps; });
    spinFor(toastMs / 2);
    QElapsedTimer sinceSecond;
    sinceSecond.start();
    model->show("Second");
    EXPECT_EQ(model->toast(), "Second");
    EXPECT_FALSE(model->hasToastAction()) << "the first message's action went with it";

    spinFor(toastMs * 2 / 3);
    EXPECT_EQ(model->toast(), "Second") << "the first message's timer no longer counts";
    ASSERT_TRUE(spinUntil([&] { return !model->toast(); }, 2000));
    EXPECT_GE(sinceSecond.elapsed(), toastMs - 20);
    EXPECT_EQ(taps, 0);
}

TEST_F(ModelFollowingTest, TappingRunsTheActionOnceAndTheTimerNever) {
    int taps = 0;
    model->show("Tap me", [&] { ++taps; });
    ASSERT_TRUE(spinUntil([&] { return !model->toast(); }, 2000));
    EXPECT_EQ(taps, 0);

    model->show("Tap me", [&] { ++taps; });
    model->tapToast();
    model->tapToast();
    EXPECT_EQ(taps, 1);
    EXPECT_FALSE(model->toast());
}

TEST_F(ModelFollowingTest, AppearanceAndLastSeenComeFromSettings) {
    EXPECT_EQ(model->appearance(), AppearanceSetting::system);
    EXPECT_EQ(model->lastSeenReceived(), clock.now()) << "nothing stored: counting starts now";

    settings.setValue("appearance", "dark");
    settings.setValue("lastSeenReceived", 1'700'000'000.5);
    makeModel();
    EXPECT_EQ(model->appearance(), AppearanceSetting::dark);
    EXPECT_EQ(platform.appearances.back(), AppearanceSetting::dark) << "applied at once";
    EXPECT_EQ(model->lastSeenReceived(), Date::fromUnix(1'700'000'000.5));

    model->setAppearance(AppearanceSetting::light);
    EXPECT_EQ(settings.value("appearance").toString(), "light");
    EXPECT_EQ(platform.appearances.back(), AppearanceSetting::light);

    settings.setValue("appearance", "sepia");
    settings.setValue("lastSeenReceived", 0);
    makeModel();
    EXPECT_EQ(model->appearance(), AppearanceSetting::system);
    EXPECT_EQ(model->lastSeenReceived(), clock.now());
}

TEST_F(ModelFollowingTest, CheckInReportsNamesAddressesWorkingSharesAndPhones) {
    const Item item = addItem("a.txt");
    const Share itemShare = store.share(ShareTarget::item(item.id), ShareDuration::day, true);
    const Share soonOver = store.share(ShareTarget::folder(), ShareDuration::hour, true);
    clock.advance(3600);
    const Share inbox = store.share(ShareTarget::inbox(), ShareDuration::hour, true);
    const std::string code = store.newPairingCode().code;
    const auto phone = store.claimPairing(code, "Ana's iPhone");
    ASSERT_TRUE(phone);
    server.setLocalHostName("ana.local");
    settle();

    const std::string port = std::to_string(server.port());
    auto checkIn = model->relayCheckIn();
    EXPECT_EQ(checkIn.name, "Ana's Mac");
    EXPECT_EQ(checkIn.lan,
              (std::vector<std::string>{"http://192.168.1.20:" + port, "http://ana.local:" + port}));
    ASSERT_EQ(checkIn.shares.size(), 2u) << "the expired share is left out";
    EXPECT_EQ(checkIn.shares[0].token, itemShare.token);
    EXPECT_EQ(checkIn.shares[0].title, "a.txt");
    EXPECT_EQ(checkIn.shares[1].token, inbox.token) << "receive links are reported too";
    EXPECT_EQ(checkIn.deviceTokens, std::vector{phone->token});

    lanAddress.reset();
    model->refreshAddress();
    EXPECT_EQ(model->relayCheckIn().lan, std::vector<std::string>{"http://ana.local:" + port});
}

class ModelRelayTest : public ModelFixture {
protected:
    /// A model whose relay is `fake`, once its first check-in has been answered.
    void start() {
        makeModel({QUrl(QString::fromStdString(fake.base()))});
        ASSERT_TRUE(spinUntil([&] { return model->relay().base().has_value(); }));
        spinFor(50);
    }
    std::size_t presences() const { return fake.requestsTo("/presence").size(); }

    FakeRelay fake;
};

TEST_F(ModelRelayTest, AnAddressChangeChecksInOnceAndNoChangeNever) {
    start();
    EXPECT_EQ(server.followBase(), fake.base() + "/k/mac1") << "the relay's bases reach the server";
    EXPECT_EQ(server.deviceBase(), fake.base() + "/d/mac1");
    const auto before = presences();

    model->refreshAddress();
    model->refreshAddress();
    spinFor(150);
    EXPECT_EQ(presences(), before) << "an unchanged address asks nothing";

    lanAddress = "10.0.0.7";
    model->refreshAddress();
    model->refreshAddress();
    ASSERT_TRUE(spinUntil([&] { return presences() == before + 1; }));
    spinFor(150);
    EXPECT_EQ(presences(), before + 1);
    EXPECT_EQ(model->address(), "10.0.0.7");
    EXPECT_EQ(fake.requestsTo("/presence").back().json()["lan"][0],
              "http://10.0.0.7:" + std::to_string(server.port()));

    lanAddress.reset();
    model->refreshAddress();
    ASSERT_TRUE(spinUntil([&] { return presences() == before + 2; })) << "losing the address counts too";
    EXPECT_EQ(model->address(), std::nullopt);
}

TEST_F(ModelRelayTest, PairingShowsThePhoneAndChecksInAtOnce) {
    start();
    const Item item = addItem("a.txt");
    model->setInspecting(ShareTarget::item(item.id));
    const auto before = presences();
    const std::string code = store.newPairingCode().code;

    ASSERT_EQ(status(request(server.port(), claim(code, "Ana's iPhone"))), 200);
    ASSERT_TRUE(spinUntil([&] { return model->justPaired().has_value(); }));
    EXPECT_EQ(model->justPaired()->name, "Ana's iPhone");
    EXPECT_EQ(model->selection(), SidebarSelection::phones());
    EXPECT_EQ(model->inspecting(), std::nullopt) << "the pairing panel replaces the inspector";
    EXPECT_EQ(model->pairing(), std::nullopt);
    ASSERT_EQ(platform.notifications.size(), 1u);
    EXPECT_EQ(platform.notifications[0].title, "Ana's iPhone is paired");
    EXPECT_EQ(platform.notifications[0].body, "It can now send to this computer from its Home Screen.");
    EXPECT_EQ(platform.notifications[0].target, Notifier::Target::phones());

    // At once, not after the two seconds a library change waits.
    const std::string tokenHash = RelayClient::sha256(model->justPaired()->token);
    ASSERT_TRUE(spinUntil(
        [&] {
            const auto sent = fake.requestsTo("/presence");
            return sent.size() > before && sent.back().json()["devices"] == Json::array({tokenHash});
        },
        1500));
}

TEST_F(ModelRelayTest, NewItemsPingOnlySharesWithFollowersAndOldItemsNever) {
    const Folder outer = store.addFolder("Outer", std::nullopt);
    const Folder inner = store.addFolder("Inner", outer.id);
    addItem("old.jpg", inner.id);
    const Share followed = store.share(ShareTarget::folder(inner.id), ShareDuration::day, true);
    const Share unfollowed = store.share(ShareTarget::folder(outer.id), ShareDuration::day, true);
    fake.setHandler([&](const FakeRelay::Request& request) {
        if (request.target.ends_with("/presence")) {
            return FakeRelay::Reply{200,
                                    Json{{"followers", {{followed.token, 2}, {unfollowed.token, 0}}}}.dump()};
        }
        return FakeRelay::healthy(request);
    });
    start();
    ASSERT_TRUE(spinUntil([&] { return model->followerCount(followed) == 2; }));

    store.renameFolder(outer.id, "Outer renamed");
    settle();
    spinFor(150);
    EXPECT_TRUE(fake.requestsTo("/notify").empty()) << "nothing new, nothing to tell";

    addItem("new.jpg", inner.id);
    ASSERT_TRUE(spinUntil([&] { return !fake.requestsTo("/notify").empty(); }));
    spinFor(150);
    const auto notifies = fake.requestsTo("/notify");
    ASSERT_EQ(notifies.size(), 1u);
    EXPECT_EQ(notifies[0].json(),
              (Json{{"token", followed.token}, {"title", "New in Inner"}, {"body", "new.jpg"}}));
}

namespace {} // namespace

TEST_F(ModelFollowingTest, ShortcutFilesAreMadeForPhonesWithoutOneOnlyWithAHostName) {
    const fs::path signer = dir.path() / "signer";
    std::ofstream(signer) << "#!/bin/sh\ncp \"$5\" \"$7\"\n";
    fs::permissions(signer, fs::perms::owner_all);
    ScopedEnv variable("TESK_SHORTCUT_SIGNER", signer.string());

    const auto first = store.claimPairing(store.newPairingCode().code, "Ana's iPhone");
    ASSERT_TRUE(first);
    const fs::path firstFile = store.root / "shortcuts" / (first->token + ".shortcut");
    makeModel();
    spinFor(300);
    EXPECT_FALSE(fs::exists(firstFile)) << "no host name, no shortcut: it would point nowhere";

    server.setLocalHostName("ana.local");
    makeModel();
    ASSERT_TRUE(spinUntil([&] { return fs::exists(firstFile); }));

    const auto second = store.claimPairing(store.newPairingCode().code, "Ben's iPad");
    ASSERT_TRUE(second);
    model->handle(ServerEvent{ServerEvent::Paired{*second}});
    EXPECT_TRUE(
        spinUntil([&] { return fs::exists(store.root / "shortcuts" / (second->token + ".shortcut")); }));
}

// ---- Quitting ----

class ModelQuittingTest : public ModelFixture {
protected:
    /// Destroys the model as quitting does and says how long that took.
    std::chrono::steady_clock::duration quit() {
        const auto start = std::chrono::steady_clock::now();
        model.reset();
        return std::chrono::steady_clock::now() - start;
    }
    bool filesDirIsEmpty() const { return fs::is_empty(store.filesDir); }
};

TEST_F(ModelQuittingTest, AFolderBeingAddedIsStoppedAndNothingOfItStays) {
    for (int file = 0; file < 400; ++file) {
        makeFile("Big/" + std::to_string(file) + ".txt", std::string(4096, 'x'));
    }
    model->add({dir.path() / "outside" / "Big"});
    ASSERT_TRUE(spinUntil([&] { return store.snapshot().items.size() >= 2; }));

    EXPECT_LT(quit(), std::chrono::seconds(2));
    const Library library = store.snapshot();
    EXPECT_TRUE(library.items.empty());
    EXPECT_TRUE(library.folders.empty());
    EXPECT_TRUE(filesDirIsEmpty()) << "no copy, whole or half, is left";
}

TEST_F(ModelQuittingTest, AHungSignerIsKilled) {
    const fs::path started = dir.path() / "signer-started";
    const fs::path signer = dir.path() / "signer";
    std::ofstream(signer) << "#!/bin/sh\n: > '" << started.string()
                          << "'\nprintf partial > \"$7\"\nexec sleep 20\n";
    fs::permissions(signer, fs::perms::owner_all);
    ScopedEnv variable("TESK_SHORTCUT_SIGNER", signer.string());
    ASSERT_TRUE(store.claimPairing(store.newPairingCode().code, "Ana's iPhone"));
    server.setLocalHostName("ana.local");
    makeModel();
    ASSERT_TRUE(spinUntil([&] { return fs::exists(started); }));

    EXPECT_LT(quit(), std::chrono::seconds(2));
    EXPECT_TRUE(fs::is_empty(store.root / "shortcuts"));
}
