#include "core/library_store.h"
#include "support/store_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string repeated(std::string_view piece, int times) {
    std::string result;
    for (int i = 0; i < times; ++i) {
        result += piece;
    }
    return result;
}

} // namespace

class LibraryStoreDevicesTest : public StoreFixture {
protected:
    PairedDevice pair(std::string_view name) {
        const auto code = store->newPairingCode();
        auto device = store->claimPairing(code.code, name);
        EXPECT_TRUE(device);
        return device.value_or(PairedDevice{});
    }

    /// A file a phone sent, in its own per-upload directory as the server leaves it.
    fs::path sent(std::string_view contents = "photo bytes") {
        const fs::path directory = dir.path() / "incoming" / ("u" + std::to_string(++uploads_));
        fs::create_directories(directory);
        const fs::path path = directory / "body";
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }

    PairedDevice device(const std::string& id) const {
        for (const PairedDevice& d : store->snapshot().devices) {
            if (d.id == id) {
                return d;
            }
        }
        ADD_FAILURE() << "no device " << id;
        return {};
    }

    std::string cleanedName(std::string_view given) { return pair(given).name; }

    /// Sending with this token is refused as unknown, and the temporary file stays where it was.
    void expectUnknownSender(std::string_view token) {
        const fs::path temporary = sent("late");
        const auto writesBefore = writes();
        try {
            store->receiveFromDevice(temporary, "b.jpg", token);
            ADD_FAILURE() << "the file was accepted";
        } catch (const LibraryError& error) {
            EXPECT_EQ(error.code(), LibraryError::notFound);
        }
        EXPECT_EQ(readAll(temporary), "late");
        EXPECT_EQ(writes(), writesBefore);
    }

    /// The folder's name, or a marker when there is no such folder.
    std::string folderName(const LibraryStore::OptionalID& id) const {
        const auto folder = store->snapshot().folder(id);
        return folder ? folder->name : "<no folder>";
    }

private:
    int uploads_ = 0;
};

// ---- Pairing codes ----

TEST_F(LibraryStoreDevicesTest, ACodeCanBeClaimedOnce) {
    const auto code = store->newPairingCode();
    EXPECT_TRUE(std::regex_match(code.code, std::regex("[abcdefghjkmnpqrstuvwxyz23456789]{12}")))
        << code.code;
    EXPECT_EQ(code.expires, clock.now().adding(600));
    EXPECT_TRUE(store->isPairingCodeValid(code.code));

    clock.advance(30);
    const auto device = store->claimPairing(code.code, "Pixel");
    ASSERT_TRUE(device);
    EXPECT_EQ(device->paired, clock.now());
    EXPECT_TRUE(std::regex_match(device->token, std::regex("[abcdefghjkmnpqrstuvwxyz23456789]{24}")));
    EXPECT_FALSE(store->isPairingCodeValid(code.code));
    EXPECT_FALSE(store->claimPairing(code.code, "Intruder"));
    ASSERT_EQ(store->snapshot().devices.size(), 1u);
    EXPECT_EQ(store->snapshot().devices[0], *device);
}

TEST_F(LibraryStoreDevicesTest, PhonesRacingForOneCodePairOnlyOne) {
    const auto code = store->newPairingCode();
    std::atomic<int> paired{0};
    std::vector<std::thread> phones;
    for (int i = 0; i < 8; ++i) {
        phones.emplace_back([&, i] {
            if (store->claimPairing(code.code, "Phone " + std::to_string(i))) {
                ++paired;
            }
        });
    }
    for (std::thread& phone : phones) {
        phone.join();
    }
    EXPECT_EQ(paired, 1);
    EXPECT_EQ(store->snapshot().devices.size(), 1u);
}

TEST_F(LibraryStoreDevicesTest, ACodeStopsWorkingAtItsExpiryInstant) {
    const auto first = store->newPairingCode();
    clock.advance(599.5);
    EXPECT_TRUE(store->isPairingCodeValid(first.code));
    EXPECT_TRUE(store->claimPairing(first.code, "Just in time"));

    const auto second = store->newPairingCode();
    clock.set(second.expires);
    EXPECT_FALSE(store->isPairingCodeValid(second.code));
    EXPECT_FALSE(store->claimPairing(second.code, "Too late"));
    EXPECT_EQ(store->snapshot().devices.size(), 1u);
}

TEST_F(LibraryStoreDevicesTest, ANewerCodeOrCancellingClosesTheOpenCode) {
    const auto older = store->newPairingCode();
    const auto newer = store->newPairingCode();
    ASSERT_NE(older.code, newer.code);
    EXPECT_FALSE(store->isPairingCodeValid(older.code));
    EXPECT_FALSE(store->claimPairing(older.code, "Old"));
    EXPECT_TRUE(store->isPairingCodeValid(newer.code));

    store->cancelPairing();
    EXPECT_FALSE(store->isPairingCodeValid(newer.code));
    EXPECT_FALSE(store->claimPairing(newer.code, "New"));
    EXPECT_FALSE(store->isPairingCodeValid(""));
    EXPECT_TRUE(store->snapshot().devices.empty());
}

TEST_F(LibraryStoreDevicesTest, OnlyASuccessfulClaimWritesTheIndex) {
    const auto code = store->newPairingCode();
    store->isPairingCodeValid(code.code);
    store->claimPairing("wrongcode234", "Nobody");
    store->cancelPairing();
    store->claimPairing(code.code, "Nobody");
    EXPECT_EQ(writes(), 0u);
    EXPECT_EQ(changes, 0);
    EXPECT_FALSE(fs::exists(store->indexURL));

    pair("Pixel");
    EXPECT_EQ(writes(), 1u);
    EXPECT_EQ(changes, 1);
}

// ---- Paired devices ----

TEST_F(LibraryStoreDevicesTest, ClaimedNamesAreCleaned) {
    EXPECT_EQ(cleanedName("  Anna's phone \n"), "Anna's phone");
    EXPECT_EQ(cleanedName(" \t\n "), "Phone");
    EXPECT_EQ(cleanedName("Ann\tPhone"), "AnnPhone");
    // Format characters around a space must not leave a blank name.
    EXPECT_EQ(cleanedName("\u200B \u200B"), "Phone");
    EXPECT_EQ(cleanedName("\u200B Bob"), "Bob");
    // Forty scalars, not forty bytes and not forty user-perceived characters.
    EXPECT_EQ(cleanedName(repeated("\u00e9", 60)), repeated("\u00e9", 40));
    EXPECT_EQ(cleanedName(repeated("e\u0301", 30)), repeated("e\u0301", 20));
}

TEST_F(LibraryStoreDevicesTest, PhonesWithTheSameNameStayApart) {
    const PairedDevice first = pair("Pixel");
    const PairedDevice second = pair("Pixel");
    EXPECT_NE(first.id, second.id);
    EXPECT_NE(first.token, second.token);

    const auto a = store->receiveText("from the first", first.token);
    const auto b = store->receiveText("from the second", second.token);
    ASSERT_TRUE(a && b);
    ASSERT_NE(a->folderID, b->folderID);
    const Library library = store->snapshot();
    EXPECT_EQ(folderName(a->folderID), "From Pixel");
    EXPECT_EQ(folderName(b->folderID), "From Pixel 2");
    EXPECT_EQ(library.deviceFolders.at(first.id), a->folderID);
    EXPECT_EQ(library.deviceFolders.at(second.id), b->folderID);
}

TEST_F(LibraryStoreDevicesTest, RenamingTrimsAndCutsToFortyCharacters) {
    const PairedDevice phone = pair("Pixel");
    const auto note = store->receiveText("hi", phone.token);
    ASSERT_TRUE(note);

    store->renameDevice(phone.id, "  Work phone \n");
    EXPECT_EQ(device(phone.id).name, "Work phone");
    // Forty user-perceived characters: each "e" with its combining accent counts once.
    store->renameDevice(phone.id, repeated("e\u0301", 50));
    EXPECT_EQ(device(phone.id).name, repeated("e\u0301", 40));
    // Its receiving folder keeps the name it was made with.
    EXPECT_EQ(folderName(note->folderID), "From Pixel");

    const auto writesBefore = writes();
    const int changesBefore = changes;
    store->renameDevice(phone.id, " \n\t ");
    EXPECT_EQ(device(phone.id).name, repeated("e\u0301", 40));
    EXPECT_EQ(writes(), writesBefore);
    EXPECT_EQ(changes, changesBefore);

    const Library before = store->snapshot();
    store->renameDevice("unknown", "Anything");
    EXPECT_EQ(store->snapshot(), before);
    EXPECT_EQ(writes(), writesBefore + 1);
    EXPECT_EQ(changes, changesBefore + 1);
}

TEST_F(LibraryStoreDevicesTest, ARemovedPhoneCanNoLongerSendButItsFolderStays) {
    const PairedDevice phone = pair("Pixel");
    const PairedDevice other = pair("Tablet");
    const Item received = store->receiveFromDevice(sent(), "a.jpg", phone.token);

    store->removeDevice(phone.id);
    expectUnknownSender(phone.token);
    const auto writesBefore = writes();
    EXPECT_FALSE(store->receiveText("still there?", phone.token));
    EXPECT_EQ(writes(), writesBefore);

    const Library library = store->snapshot();
    ASSERT_EQ(library.devices.size(), 1u);
    EXPECT_EQ(library.devices[0], other);
    EXPECT_EQ(library.item(received.id), received);
    EXPECT_EQ(library.deviceFolders.at(phone.id), received.folderID);
    EXPECT_TRUE(fs::exists(store->filePath(received)));
}

// ---- Receiving ----

TEST_F(LibraryStoreDevicesTest, AReceivedFileIsMovedIntoThePhonesFolderUnderASafeName) {
    const PairedDevice phone = pair("Pixel");
    clock.advance(100);
    const fs::path temporary = sent("jpeg data");
    const auto writesBefore = writes();

    const Item item = store->receiveFromDevice(temporary, "IMG:0001.jpg", phone.token);
    EXPECT_EQ(item.name, "IMG-0001.jpg");
    EXPECT_EQ(item.receivedFrom, "Pixel");
    EXPECT_EQ(item.size, 9);
    EXPECT_TRUE(fs::is_empty(temporary.parent_path())); // moved, not copied
    EXPECT_EQ(readAll(store->filePath(item)), "jpeg data");
    const Library library = store->snapshot();
    EXPECT_EQ(folderName(item.folderID), "From Pixel");
    EXPECT_EQ(library.devices[0].sentCount, 1);
    EXPECT_EQ(library.devices[0].lastSent, clock.now());
    // Receiving folder, item and send count: three separate changes.
    EXPECT_EQ(writes(), writesBefore + 3);
}

TEST_F(LibraryStoreDevicesTest, AnUnknownTokenCannotSendAFile) {
    pair("Pixel");
    expectUnknownSender("notatoken");
    expectUnknownSender("");
    EXPECT_TRUE(store->snapshot().items.empty());
    EXPECT_TRUE(store->snapshot().folders.empty());
}

TEST_F(LibraryStoreDevicesTest, OnlyFilesAndNonBlankTextsCountAsSends) {
    const PairedDevice phone = pair("Pixel");

    EXPECT_FALSE(store->receiveText(" \n\t ", phone.token));
    Library library = store->snapshot();
    // The folder is made before the text turns out blank.
    ASSERT_EQ(library.folders.size(), 1u);
    EXPECT_EQ(library.folders[0].name, "From Pixel");
    EXPECT_TRUE(library.items.empty());
    EXPECT_EQ(library.devices[0].sentCount, 0);
    EXPECT_FALSE(library.devices[0].lastSent);

    clock.advance(10);
    const auto note = store->receiveText("  https://example.com/x \n", phone.token);
    ASSERT_TRUE(note);
    EXPECT_EQ(note->content, "https://example.com/x");
    EXPECT_EQ(note->receivedFrom, "Pixel");
    EXPECT_EQ(note->folderID, library.folders[0].id);
    const Date firstSend = clock.now();
    EXPECT_EQ(device(phone.id).sentCount, 1);

    clock.advance(10);
    store->receiveText("", phone.token);
    EXPECT_EQ(device(phone.id).sentCount, 1);
    EXPECT_EQ(device(phone.id).lastSent, firstSend);

    store->receiveFromDevice(sent(), "b.jpg", phone.token);
    EXPECT_EQ(device(phone.id).sentCount, 2);
    EXPECT_EQ(device(phone.id).lastSent, clock.now());
}

TEST_F(LibraryStoreDevicesTest, ADeletedReceivingFolderIsReplacedOnTheNextSend) {
    const PairedDevice phone = pair("Pixel");
    const auto first = store->receiveText("one", phone.token);
    ASSERT_TRUE(first);
    store->deleteFolder(*first->folderID);
    EXPECT_EQ(store->snapshot().deviceFolders.at(phone.id), first->folderID); // stale until the next send

    const Item second = store->receiveFromDevice(sent(), "two.jpg", phone.token);
    ASSERT_TRUE(second.folderID);
    EXPECT_NE(second.folderID, first->folderID);
    const Library library = store->snapshot();
    ASSERT_TRUE(library.folder(second.folderID));
    EXPECT_EQ(library.folder(second.folderID)->name, "From Pixel");
    EXPECT_FALSE(library.folder(second.folderID)->parentID);
    EXPECT_EQ(library.deviceFolders.at(phone.id), second.folderID);
}

TEST_F(LibraryStoreDevicesTest, ARenamedOrMovedReceivingFolderKeepsReceiving) {
    const PairedDevice phone = pair("Pixel");
    const auto first = store->receiveText("one", phone.token);
    ASSERT_TRUE(first);
    const std::string folderID = *first->folderID;

    store->renameFolder(folderID, "Phone stuff");
    EXPECT_EQ(store->receiveText("two", phone.token).value_or(Item{}).folderID, folderID);
    const Folder archive = store->addFolder("Archive", std::nullopt);
    ASSERT_TRUE(store->moveFolder(folderID, archive.id));
    EXPECT_EQ(store->receiveFromDevice(sent(), "three.jpg", phone.token).folderID, folderID);
    EXPECT_EQ(store->snapshot().folders.size(), 2u);
}

TEST_F(LibraryStoreDevicesTest, DevicesSurviveReopeningButPairingCodesDoNot) {
    clock.advance(0.123456789); // instants must come back exactly, fractions included
    const PairedDevice phone = pair("Pixel");
    store->renameDevice(phone.id, "Work phone");
    const auto code = store->newPairingCode();
    const Library before = store->snapshot();

    open();
    EXPECT_EQ(store->snapshot().devices, before.devices);
    EXPECT_FALSE(store->isPairingCodeValid(code.code));
    EXPECT_FALSE(store->claimPairing(code.code, "Late"));

    // The reopened store still knows the phone by its token.
    const auto note = store->receiveText("after restart", phone.token);
    ASSERT_TRUE(note);
    EXPECT_EQ(note->receivedFrom, "Work phone");
}
