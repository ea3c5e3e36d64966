#include "core/library_store.h"
#include "support/file_contents.h"
#include "support/store_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <regex>
#include <thread>

namespace fs = std::filesystem;

class LibraryStoreDevicesTest : public StoreFixture {
protected:
    PairedDevice pair(std::string_view name) {
        return store->claimPairing(store->newPairingCode().code, name).value_or(PairedDevice{});
    }

    /// A file a phone sent, in its own per-upload directory as the server leaves it.
    fs::path sent(std::string_view contents = "jpeg data") {
        return makeFile("incoming/" + std::to_string(++uploads_) + "/body", contents);
    }

    PairedDevice device(const PairedDevice& paired) const {
        return store->snapshot().device(paired.token).value_or(PairedDevice{});
    }

    std::string folderName(const LibraryStore::OptionalID& id) const {
        return store->snapshot().folder(id).value_or(Folder{"", "<no folder>"}).name;
    }

    int uploads_ = 0;
};

TEST_F(LibraryStoreDevicesTest, ACodeLastsTenMinutesAndIsClaimedOnceUnlessANewerOneOrCancellingClosesIt) {
    const std::string alphabet = "[abcdefghjkmnpqrstuvwxyz23456789]";
    const auto code = store->newPairingCode();
    EXPECT_TRUE(std::regex_match(code.code, std::regex(alphabet + "{12}"))) << code.code;
    store->claimPairing("wrongcode234", "Nobody");
    EXPECT_EQ(writes(), 0u); // only a successful claim writes
    clock.advance(599.5);
    // Format characters around a space must not leave a blank name.
    const auto device = store->claimPairing(code.code, "\u200B \u200B\n");
    ASSERT_TRUE(device);
    EXPECT_EQ(device->name, "Phone");
    EXPECT_EQ(device->paired, clock.now());
    EXPECT_TRUE(std::regex_match(device->token, std::regex(alphabet + "{24}")));
    EXPECT_FALSE(store->isPairingCodeValid(code.code));
    EXPECT_FALSE(store->claimPairing(code.code, "Intruder"));
    const auto late = store->newPairingCode();
    clock.set(late.expires);
    EXPECT_FALSE(store->claimPairing(late.code, "Too late"));
    const auto older = store->newPairingCode();
    const auto newer = store->newPairingCode();
    EXPECT_FALSE(store->claimPairing(older.code, "Old"));
    EXPECT_TRUE(store->isPairingCodeValid(newer.code));
    store->cancelPairing();
    EXPECT_FALSE(store->claimPairing(newer.code, "New"));
    EXPECT_EQ(store->snapshot().devices, std::vector<PairedDevice>{*device});
    EXPECT_EQ(writes(), 1u);
}

TEST_F(LibraryStoreDevicesTest, PhonesRacingForOneCodePairOnlyOne) {
    const auto code = store->newPairingCode();
    std::atomic<int> paired{0};
    std::vector<std::thread> phones;
    for (int i = 0; i < 8; ++i) {
        phones.emplace_back(
            [&, i] { paired += store->claimPairing(code.code, "Phone " + std::to_string(i)) ? 1 : 0; });
    }
    for (std::thread& phone : phones) {
        phone.join();
    }
    EXPECT_EQ(paired, 1);
    EXPECT_EQ(store->snapshot().devices.size(), 1u);
}

TEST_F(LibraryStoreDevicesTest, OnlyFilesAndNonBlankTextsCountAsSendsEachInThePhonesOwnFolder) {
    const PairedDevice first = pair("Pixel");
    const PairedDevice second = pair("Pixel");
    EXPECT_FALSE(store->receiveText(" \n\t ", first.token));
    EXPECT_EQ(device(first).sentCount, 0);
    clock.advance(100);
    // Moved in as an upload through a link is (the upload tests check the move itself).
    const Item item = store->receiveFromDevice(sent(), "IMG:0001.jpg", first.token);
    EXPECT_EQ(item, (Item{item.id, item.folderID, ItemKind::file, "IMG-0001.jpg", 9, clock.now(),
                          std::nullopt, "Pixel"}));
    EXPECT_EQ(folderName(item.folderID), "From Pixel");
    clock.advance(10);
    EXPECT_EQ(store->receiveText("  https://example.com/x \n", first.token)->content,
              "https://example.com/x");
    store->receiveText("", first.token);
    EXPECT_EQ(device(first).sentCount, 2);
    EXPECT_EQ(device(first).lastSent, clock.now());
    // Phones with the same name stay apart.
    EXPECT_EQ(folderName(store->receiveText("from the second", second.token)->folderID), "From Pixel 2");
}

TEST_F(LibraryStoreDevicesTest, AnUnknownOrRemovedPhoneCannotSendButWhatItSentStays) {
    const PairedDevice phone = pair("Pixel");
    const PairedDevice other = pair("Tablet");
    const Item received = store->receiveFromDevice(sent(), "a.jpg", phone.token);
    store->removeDevice(phone.id);
    const auto writesBefore = writes();
    for (const std::string& token : {phone.token, std::string("notatoken"), std::string()}) {
        const fs::path temporary = sent("late");
        try {
            store->receiveFromDevice(temporary, "b.jpg", token);
            ADD_FAILURE() << "accepted from " << token;
        } catch (const LibraryError& error) {
            EXPECT_EQ(error.code(), LibraryError::notFound);
        }
        EXPECT_EQ(readFile(temporary), "late"); // the server still owns it
        EXPECT_FALSE(store->receiveText("still there?", token));
    }
    EXPECT_EQ(writes(), writesBefore);
    const Library library = store->snapshot();
    EXPECT_EQ(library.devices, std::vector<PairedDevice>{other});
    EXPECT_EQ(library.items, std::vector<Item>{received});
    EXPECT_EQ(library.deviceFolders.at(phone.id), received.folderID);
}

TEST_F(LibraryStoreDevicesTest, TheReceivingFolderFollowsRenamesMovesAndRestartsAndIsRemadeOnceDeleted) {
    clock.advance(0.123456789); // instants must come back exactly, fractions included
    const PairedDevice phone = pair("Pixel");
    const auto code = store->newPairingCode();
    const std::string folderID = *store->receiveText("one", phone.token)->folderID;
    store->renameFolder(folderID, "Phone stuff");
    ASSERT_TRUE(store->moveFolder(folderID, store->addFolder("Archive", std::nullopt).id));
    const Library before = store->snapshot();
    open(); // devices survive a restart, pairing codes do not
    EXPECT_EQ(store->snapshot().devices, before.devices);
    EXPECT_FALSE(store->claimPairing(code.code, "Late"));
    EXPECT_EQ(store->receiveFromDevice(sent(), "two.jpg", phone.token).folderID, folderID);
    store->deleteFolder(folderID);
    store->renameDevice(phone.id, "  Kim\n");
    const Item again = store->receiveFromDevice(sent(), "three.jpg", phone.token);
    EXPECT_NE(again.folderID, folderID);
    EXPECT_EQ(store->snapshot().folder(again.folderID),
              (Folder{*again.folderID, "From Kim", std::nullopt, clock.now()}));
}
