#include "core/index_file.h"
#include "core/library_store.h"
#include "support/store_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::size_t pastShares(const Library& library, Date now) {
    return static_cast<std::size_t>(std::count_if(library.shares.begin(), library.shares.end(),
                                                  [&](const Share& s) { return !s.isActive(now); }));
}

} // namespace

class LibraryStoreSharesTest : public StoreFixture {
protected:
    Item addFile(const std::string& name, std::string_view contents, const LibraryStore::OptionalID& folder) {
        return store->addFile(makeFile(name, contents), folder).front();
    }

    Item addNote(std::string_view text, const LibraryStore::OptionalID& folder) {
        return *store->addText(text, folder);
    }

    /// A temporary upload in its own per-upload directory, as the server leaves it.
    fs::path upload(std::string_view contents = "uploaded") {
        const fs::path directory = dir.path() / "incoming" / ("u" + std::to_string(++uploads_));
        fs::create_directories(directory);
        const fs::path path = directory / "body";
        std::ofstream(path, std::ios::binary) << contents;
        return path;
    }

    void expectRefused(const fs::path& temporary, const Share& share, const LibraryStore::OptionalID& folder,
                       LibraryError::Code code) {
        const auto itemsBefore = store->snapshot().items.size();
        try {
            store->receiveUpload(temporary, "photo.jpg", share, folder, "S");
            ADD_FAILURE() << "the upload was accepted";
        } catch (const LibraryError& error) {
            EXPECT_EQ(error.code(), code);
        }
        // The server still owns the temporary file and reports the refusal itself.
        EXPECT_EQ(readAll(temporary), "uploaded");
        EXPECT_EQ(store->snapshot().items.size(), itemsBefore);
    }

    /// The folder's name, or a marker when there is no such folder.
    std::string folderName(const LibraryStore::OptionalID& id) const {
        const auto folder = store->snapshot().folder(id);
        return folder ? folder->name : "<no folder>";
    }

private:
    int uploads_ = 0;
};

// ---- Making and renewing ----

TEST_F(LibraryStoreSharesTest, SharingTwiceKeepsTheTokenAndMovesTheExpiry) {
    const Folder folder = store->addFolder("Docs", std::nullopt);
    const Share first = store->share(ShareTarget::folder(folder.id), ShareDuration::day, false);
    clock.advance(500);
    const auto writesBefore = writes();
    const Share second = store->share(ShareTarget::folder(folder.id), ShareDuration::hour, true);

    EXPECT_EQ(second.token, first.token);
    EXPECT_EQ(second.created, first.created);
    EXPECT_EQ(second.duration, ShareDuration::hour);
    EXPECT_EQ(second.expires, clock.now().adding(3600));
    EXPECT_FALSE(second.allowsUploads);
    EXPECT_EQ(writes(), writesBefore + 1);
    ASSERT_EQ(store->snapshot().shares.size(), 1u);
    EXPECT_EQ(store->snapshot().shares[0], second);

    const Share third = store->share(ShareTarget::folder(folder.id), ShareDuration::untilStopped, true);
    EXPECT_EQ(third.token, first.token);
    EXPECT_FALSE(third.expires);
}

TEST_F(LibraryStoreSharesTest, SharingAfterTheLinkExpiredMakesANewTokenAndKeepsTheOldShare) {
    const Folder folder = store->addFolder("Docs", std::nullopt);
    const Share first = store->share(ShareTarget::folder(folder.id), ShareDuration::hour, true);
    clock.advance(3600); // exactly at the expiry: no longer active
    const Share second = store->share(ShareTarget::folder(folder.id), ShareDuration::hour, false);

    EXPECT_NE(second.token, first.token);
    EXPECT_EQ(second.created, clock.now());
    EXPECT_FALSE(second.allowsUploads);
    const Library library = store->snapshot();
    ASSERT_EQ(library.shares.size(), 2u);
    EXPECT_EQ(library.shares[0], first);
    EXPECT_EQ(library.shares[1], second);
}

// ---- Descriptions ----

TEST_F(LibraryStoreSharesTest, FolderDescriptionListsSubFoldersThenItemsAndCountsFilesBelow) {
    const Folder docs = store->addFolder("Docs", std::nullopt);
    const Folder later = store->addFolder("b later", docs.id);
    store->addFolder("A first", docs.id);
    addFile("old.txt", "12345", docs.id);
    clock.advance(10);
    addNote("https://example.com/some/long/path", docs.id); // counts as an item, adds no bytes
    clock.advance(10);
    addFile("deep.bin", "1234567", later.id);
    addFile("outside.txt", "xx", std::nullopt);

    const Share s = store->share(ShareTarget::folder(docs.id), ShareDuration::day, true);
    EXPECT_EQ(s.title, "Docs");
    EXPECT_EQ(s.contents,
              (std::vector<std::string>{"A first", "b later", "example.com/some/long/path", "old.txt"}));
    EXPECT_EQ(s.itemCount, 3);
    EXPECT_EQ(s.totalSize, 12);
}

TEST_F(LibraryStoreSharesTest, DescriptionKeepsTheFirstTwentyNamesFoldersFirst) {
    const Folder many = store->addFolder("Many", std::nullopt);
    std::vector<std::string> expected;
    // Created in reverse name order, listed by name.
    for (char letter = 'o'; letter >= 'a'; --letter) {
        store->addFolder(std::string("Sub ") + letter, many.id);
        expected.insert(expected.begin(), std::string("Sub ") + letter);
    }
    for (int i = 0; i < 10; ++i) {
        addNote("note " + std::to_string(i), many.id);
        clock.advance(1);
    }
    for (int i = 9; i >= 5; --i) {
        expected.push_back("note " + std::to_string(i));
    }
    const Share s = store->share(ShareTarget::folder(many.id), ShareDuration::day, true);
    EXPECT_EQ(s.contents, expected);
    EXPECT_EQ(s.itemCount, 10);
    EXPECT_EQ(s.totalSize, 0);
}

TEST_F(LibraryStoreSharesTest, ItemAndInboxDescriptions) {
    const Share fileShare =
        store->share(ShareTarget::item(addFile("a.txt", "1234", std::nullopt).id), ShareDuration::day, true);
    EXPECT_EQ(fileShare.title, "a.txt");
    EXPECT_EQ(fileShare.contents, std::vector<std::string>{"a.txt"});
    EXPECT_EQ(fileShare.itemCount, 1);
    EXPECT_EQ(fileShare.totalSize, 4);
    const Share inbox = store->share(ShareTarget::inbox(), ShareDuration::hour, true);
    EXPECT_EQ(inbox.title, "Receive files");
    EXPECT_TRUE(inbox.contents.empty());
    EXPECT_EQ(inbox.itemCount, 0);
}

// ---- Selections ----

TEST_F(LibraryStoreSharesTest, FolderAndAnItemInsideItShareOnlyTheFolder) {
    const Folder folder = store->addFolder("Trip", std::nullopt);
    const Folder sub = store->addFolder("Day 1", folder.id);
    const Item inside = addNote("inside", sub.id);
    const auto writesBefore = writes();

    const std::vector selection{ShareTarget::item(inside.id), ShareTarget::folder(folder.id)};
    const auto s = store->share(selection, ShareDuration::hour);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->target, ShareTarget::folder(folder.id));
    EXPECT_TRUE(s->allowsUploads);
    EXPECT_EQ(s->duration, ShareDuration::hour);
    EXPECT_TRUE(store->snapshot().bundles.empty());
    EXPECT_EQ(writes(), writesBefore + 1);
}

TEST_F(LibraryStoreSharesTest, TwoRootItemsMakeABundleNamedAfterTheFirstIgnoringRepeatsAndMissingIds) {
    const Item first = addFile("first.txt", "12", std::nullopt);
    const Item second = addFile("second.txt", "345", std::nullopt);
    clock.advance(7);
    const auto writesBefore = writes();
    // What a change handler sees when it reads the store: the bundle first, then its share.
    std::vector<std::pair<std::size_t, std::size_t>> seen;
    store->setOnChange(
        [&] { seen.emplace_back(store->snapshot().bundles.size(), store->snapshot().shares.size()); });

    const std::vector selection{ShareTarget::item(first.id),    ShareTarget::item("missing"),
                                ShareTarget::folder("missing"), ShareTarget::folder(),
                                ShareTarget::inbox(),           ShareTarget::item(first.id),
                                ShareTarget::item(second.id)};
    const auto s = store->share(selection, ShareDuration::day);
    ASSERT_TRUE(s);
    const Library library = store->snapshot();
    ASSERT_EQ(library.bundles.size(), 1u);
    const ShareBundle& bundle = library.bundles[0];
    EXPECT_EQ(bundle.name, "first.txt and 1 more");
    EXPECT_EQ(bundle.itemIDs, (std::vector{first.id, second.id}));
    EXPECT_TRUE(bundle.folderIDs.empty());
    EXPECT_EQ(bundle.created, clock.now());
    EXPECT_EQ(s->target, ShareTarget::bundle(bundle.id));
    EXPECT_EQ(s->title, "first.txt and 1 more");
    EXPECT_EQ(s->contents, (std::vector<std::string>{"first.txt", "second.txt"}));
    EXPECT_EQ(s->itemCount, 2);
    EXPECT_EQ(s->totalSize, 5);
    EXPECT_TRUE(s->allowsUploads);
    EXPECT_EQ(writes(), writesBefore + 2);
    EXPECT_EQ(seen, (std::vector<std::pair<std::size_t, std::size_t>>{{1, 0}, {1, 1}}));
}

TEST_F(LibraryStoreSharesTest, BundleIsNamedAfterItsFirstKeptFolderAndDescribesFoldersFirst) {
    const Item a = addNote("alpha", std::nullopt);
    const Item b = addNote("beta", std::nullopt);
    const Folder photos = store->addFolder("Photos", std::nullopt);
    const Folder sub = store->addFolder("Raw", photos.id);
    addFile("deep.jpg", "123456", sub.id);
    const Item c = addFile("gamma.txt", "12", std::nullopt);

    // Raw lies inside Photos, which is also selected: only Photos is kept.
    const std::vector selection{ShareTarget::item(a.id), ShareTarget::folder(sub.id), ShareTarget::item(b.id),
                                ShareTarget::folder(photos.id), ShareTarget::item(c.id)};
    const auto s = store->share(selection, ShareDuration::day);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->title, "Photos and 3 more");
    EXPECT_EQ(s->contents, (std::vector<std::string>{"Photos", "alpha", "beta", "gamma.txt"}));
    EXPECT_EQ(s->itemCount, 4);
    EXPECT_EQ(s->totalSize, 8);
    const ShareBundle bundle = store->snapshot().bundles.at(0);
    EXPECT_EQ(bundle.folderIDs, std::vector{photos.id});
    EXPECT_EQ(bundle.itemIDs, (std::vector{a.id, b.id, c.id}));
}

TEST_F(LibraryStoreSharesTest, SelectionWithNothingShareableChangesNothing) {
    const Item item = addNote("note", std::nullopt);
    const Folder folder = store->addFolder("F", std::nullopt);
    const auto bundleShare = store->share(
        std::vector{ShareTarget::item(item.id), ShareTarget::folder(folder.id)}, ShareDuration::day);
    ASSERT_TRUE(bundleShare);
    const auto writesBefore = writes();
    const int changesBefore = changes;

    const std::vector selection{ShareTarget::item("gone"), ShareTarget::folder(), ShareTarget::inbox(),
                                bundleShare->target};
    EXPECT_FALSE(store->share(selection, ShareDuration::day));
    EXPECT_FALSE(store->share(std::vector<ShareTarget>{}, ShareDuration::day));
    EXPECT_EQ(writes(), writesBefore);
    EXPECT_EQ(changes, changesBefore);
}

// ---- Reshare ----

TEST_F(LibraryStoreSharesTest, ReshareOfAStoppedFolderShareMakesAFreshShare) {
    const Folder folder = store->addFolder("Docs", std::nullopt);
    const Share old = store->share(ShareTarget::folder(folder.id), ShareDuration::hour, false);
    store->stopSharing(old.token);
    store->renameFolder(folder.id, "Papers");
    addFile("new.txt", "123", folder.id);
    clock.advance(60);

    const auto renewed = store->reshare(old.token);
    ASSERT_TRUE(renewed);
    EXPECT_NE(renewed->token, old.token);
    EXPECT_EQ(renewed->duration, ShareDuration::hour);
    EXPECT_EQ(renewed->expires, clock.now().adding(3600));
    EXPECT_FALSE(renewed->allowsUploads);
    EXPECT_EQ(renewed->title, "Papers");
    EXPECT_EQ(renewed->itemCount, 1);
    EXPECT_EQ(renewed->contents, std::vector<std::string>{"new.txt"});
    const Library library = store->snapshot();
    ASSERT_EQ(library.shares.size(), 2u);
    EXPECT_EQ(library.shares[0].token, old.token);
    EXPECT_TRUE(library.shares[0].stopped);
    EXPECT_EQ(library.shares[0].title, "Docs");
}

TEST_F(LibraryStoreSharesTest, ReshareReturnsTheActiveShareWithoutWriting) {
    const Item item = addNote("note", std::nullopt);
    const Share old = store->share(ShareTarget::item(item.id), ShareDuration::day, true);
    store->stopSharing(old.token);
    const Share current = store->share(ShareTarget::item(item.id), ShareDuration::untilStopped, false);
    const auto writesBefore = writes();
    const int changesBefore = changes;

    EXPECT_EQ(store->reshare(old.token), current);
    EXPECT_EQ(store->reshare(current.token), current);
    EXPECT_EQ(writes(), writesBefore);
    EXPECT_EQ(changes, changesBefore);
}

TEST_F(LibraryStoreSharesTest, ReshareOfAGoneTargetOrUnknownTokenGivesNothing) {
    const Item a = addNote("a", std::nullopt);
    const Item b = addNote("b", std::nullopt);
    const Item c = addNote("c", std::nullopt);
    const auto bundleShare =
        store->share(std::vector{ShareTarget::item(a.id), ShareTarget::item(b.id)}, ShareDuration::day);
    ASSERT_TRUE(bundleShare);
    const Share itemShare = store->share(ShareTarget::item(c.id), ShareDuration::day, true);
    store->stopSharing(bundleShare->token);
    store->deleteItem(a.id);
    store->deleteItem(b.id);
    store->deleteItem(c.id);
    ASSERT_EQ(store->snapshot().bundles.size(), 1u); // emptied, but still there
    const auto writesBefore = writes();

    EXPECT_FALSE(store->reshare(bundleShare->token));
    EXPECT_FALSE(store->reshare(itemShare.token));
    EXPECT_FALSE(store->reshare("nosuchtoken"));
    EXPECT_EQ(writes(), writesBefore);
    EXPECT_EQ(store->snapshot().shares.size(), 2u);
}

// ---- Stop, forget, count ----

TEST_F(LibraryStoreSharesTest, ForgettingAnActiveShareRemovesNothingButStillSaves) {
    const Share s = store->share(ShareTarget::inbox(), ShareDuration::hour, true);
    const auto writesBefore = writes();
    const int changesBefore = changes;
    store->forgetShare(s.token);
    EXPECT_EQ(store->snapshot().shares.size(), 1u);
    EXPECT_EQ(writes(), writesBefore + 1);
    EXPECT_EQ(changes, changesBefore + 1);

    clock.advance(3600); // expired shares are past shares too
    store->forgetShare(s.token);
    EXPECT_TRUE(store->snapshot().shares.empty());
}

TEST_F(LibraryStoreSharesTest, ForgettingABundleShareRemovesTheBundleOnlyOnceNoShareRefersToIt) {
    const Item a = addNote("a", std::nullopt);
    const Item b = addNote("b", std::nullopt);
    const auto first =
        store->share(std::vector{ShareTarget::item(a.id), ShareTarget::item(b.id)}, ShareDuration::day);
    ASSERT_TRUE(first);
    store->stopSharing(first->token);
    const auto second = store->reshare(first->token);
    ASSERT_TRUE(second);
    ASSERT_EQ(second->target, first->target);
    store->stopSharing(second->token);

    store->forgetShare(first->token);
    EXPECT_EQ(store->snapshot().shares.size(), 1u);
    EXPECT_EQ(store->snapshot().bundles.size(), 1u);
    store->forgetShare(second->token);
    EXPECT_TRUE(store->snapshot().shares.empty());
    EXPECT_TRUE(store->snapshot().bundles.empty());
}

TEST_F(LibraryStoreSharesTest, DownloadsAndUploadSettingChangeOnlyTheirShare) {
    const Share s = store->share(ShareTarget::inbox(), ShareDuration::hour, true);
    const Share other = store->share(ShareTarget::folder(), ShareDuration::hour, true);
    store->recordDownload(s.token);
    store->stopSharing(s.token);
    store->recordDownload(s.token); // a download that finishes after the stop still counts
    store->setAllowsUploads(s.token, false);
    const auto writesBefore = writes();
    const int changesBefore = changes;
    store->recordDownload("unknown");
    store->setAllowsUploads("unknown", false);
    EXPECT_EQ(writes(), writesBefore + 2);
    EXPECT_EQ(changes, changesBefore + 2);

    const Library library = store->snapshot();
    EXPECT_EQ(library.shares[0].downloads, 2);
    EXPECT_FALSE(library.shares[0].allowsUploads);
    EXPECT_EQ(library.shares[1], other);
    store->setAllowsUploads(s.token, true);
    EXPECT_TRUE(store->snapshot().shares[0].allowsUploads);
}

// ---- History ----

class LibraryStoreSharesHistoryTest : public LibraryStoreSharesTest {
protected:
    /// An index with 300 past shares (some stopped, some expired) whose creation order differs from
    /// their list order, plus one long-lived active share older than all of them.
    void SetUp() override {
        Library library;
        const Date now = clock.now();
        library.shares.push_back(Share{.token = "keepactive",
                                       .target = ShareTarget::item("kept"),
                                       .created = now.adding(-100000),
                                       .duration = ShareDuration::untilStopped,
                                       .expires = std::nullopt});
        for (int i = 0; i < 300; ++i) {
            // Ages 1000 to 1299 seconds, listed out of order: the oldest sits in the middle of the list.
            const int age = 1000 + (i * 7) % 300;
            Share past{.token = "past" + std::to_string(age),
                       .created = now.adding(-age),
                       .duration = ShareDuration::hour,
                       .expires = now.adding(-age + 3600)};
            if (i % 2 == 0) {
                past.stopped = now.adding(-age + 1);
            } else {
                past.expires = now.adding(-age + 1); // expired, never stopped
            }
            library.shares.push_back(past);
        }
        std::ofstream(libraryDir() / "library.json", std::ios::binary) << IndexFile::encode(library);
        open();
        ASSERT_EQ(pastShares(store->snapshot(), clock.now()), 300u);
    }
};

TEST_F(LibraryStoreSharesHistoryTest, StoppingAShareLeaves301PastSharesUntilTheNextCreation) {
    const Share active = store->share(ShareTarget::inbox(), ShareDuration::day, true);
    EXPECT_EQ(pastShares(store->snapshot(), clock.now()), 300u);
    store->stopSharing(active.token);
    EXPECT_EQ(pastShares(store->snapshot(), clock.now()), 301u);

    store->share(ShareTarget::folder(), ShareDuration::day, true);
    const Library library = store->snapshot();
    EXPECT_EQ(pastShares(library, clock.now()), 300u);
    EXPECT_FALSE(library.share("past1299"));
    EXPECT_TRUE(library.share("past1298"));
    EXPECT_TRUE(library.share(active.token));
    EXPECT_TRUE(library.share("keepactive"));
}

TEST_F(LibraryStoreSharesHistoryTest, RenewalDoesNotTrimTheHistory) {
    const Share active = store->share(ShareTarget::inbox(), ShareDuration::day, true);
    const Share other = store->share(ShareTarget::folder(), ShareDuration::day, true);
    store->stopSharing(active.token);
    store->share(other.target, ShareDuration::hour, true);
    EXPECT_EQ(pastShares(store->snapshot(), clock.now()), 301u);
    EXPECT_EQ(store->snapshot().shares.size(), 303u);
}

// ---- Uploads ----

TEST_F(LibraryStoreSharesTest, FolderShareAcceptsUploadsIntoItselfAndBelow) {
    const Folder shared = store->addFolder("Shared", std::nullopt);
    const Folder sub = store->addFolder("Sub", shared.id);
    const Share s = store->share(ShareTarget::folder(shared.id), ShareDuration::day, true);

    const fs::path temporary = upload("payload");
    const Item item = store->receiveUpload(temporary, "a:b.txt", s, sub.id, "Visitor");
    EXPECT_EQ(item.name, "a-b.txt");
    EXPECT_EQ(item.folderID, sub.id);
    EXPECT_EQ(item.receivedFrom, "Visitor");
    EXPECT_EQ(item.size, 7);
    EXPECT_TRUE(fs::is_empty(temporary.parent_path())); // moved, not copied
    EXPECT_EQ(readAll(store->filePath(item)), "payload");
    EXPECT_EQ(store->snapshot().item(item.id), item);

    EXPECT_EQ(store->receiveUpload(upload(), "x.txt", s, shared.id, "Visitor").folderID, shared.id);
}

TEST_F(LibraryStoreSharesTest, FolderShareRefusesFoldersOutsideItAndNoChoice) {
    const Folder shared = store->addFolder("Shared", std::nullopt);
    const Folder sibling = store->addFolder("Sibling", std::nullopt);
    const Folder above = store->addFolder("Above", std::nullopt);
    store->moveFolder(shared.id, above.id);
    const Share s = store->share(ShareTarget::folder(shared.id), ShareDuration::day, true);

    expectRefused(upload(), s, sibling.id, LibraryError::outsideShare);
    expectRefused(upload(), s, above.id, LibraryError::outsideShare);
    expectRefused(upload(), s, std::nullopt, LibraryError::outsideShare);
}

TEST_F(LibraryStoreSharesTest, WholeLibraryShareFilesAtTheRootOrAnExistingFolder) {
    const Folder top = store->addFolder("Top", std::nullopt);
    const Share s = store->share(ShareTarget::folder(), ShareDuration::day, true);
    EXPECT_EQ(store->receiveUpload(upload(), "root.txt", s, std::nullopt, "S").folderID, std::nullopt);
    EXPECT_EQ(store->receiveUpload(upload(), "top.txt", s, top.id, "S").folderID, top.id);
    expectRefused(upload(), s, "no-such-folder", LibraryError::outsideShare);
}

TEST_F(LibraryStoreSharesTest, InboxAndItemLinkUploadsGoToOneRootFolderPerSender) {
    store->addFolder("From S", std::nullopt); // the user's own folder, not the sender's
    const Share inbox = store->share(ShareTarget::inbox(), ShareDuration::hour, true);
    const Share itemShare =
        store->share(ShareTarget::item(addNote("shared", std::nullopt).id), ShareDuration::hour, true);

    const Item first = store->receiveUpload(upload(), "one.txt", inbox, std::nullopt, "S");
    const auto folder = store->snapshot().folder(first.folderID);
    ASSERT_TRUE(folder);
    EXPECT_EQ(folder->name, "From S 2");
    EXPECT_FALSE(folder->parentID);
    EXPECT_EQ(store->snapshot().deviceFolders.at("browser:S"), first.folderID);

    // The same label lands in the same folder, whatever link it comes through and whatever folder it
    // names; another label gets a folder of its own.
    EXPECT_EQ(store->receiveUpload(upload(), "two.txt", inbox, "ignored", "S").folderID, first.folderID);
    EXPECT_EQ(store->receiveUpload(upload(), "three.txt", itemShare, std::nullopt, "S").folderID,
              first.folderID);
    const Item fromBen = store->receiveUpload(upload(), "four.txt", itemShare, std::nullopt, "Ben");
    EXPECT_EQ(folderName(fromBen.folderID), "From Ben");
    EXPECT_EQ(fromBen.receivedFrom, "Ben");
    EXPECT_EQ(store->snapshot().folders.size(), 3u);
}

TEST_F(LibraryStoreSharesTest, BundleShareAcceptsItsFoldersAndSendsTheRestToTheSendersFolder) {
    const Folder inBundle = store->addFolder("Album", std::nullopt);
    const Folder below = store->addFolder("Below", inBundle.id);
    const Folder outside = store->addFolder("Outside", std::nullopt);
    const Item loose = addNote("loose", std::nullopt);
    const auto s = store->share(std::vector{ShareTarget::folder(inBundle.id), ShareTarget::item(loose.id)},
                                ShareDuration::day);
    ASSERT_TRUE(s);
    ASSERT_EQ(s->target.kind(), ShareTarget::Kind::bundle);

    EXPECT_EQ(store->receiveUpload(upload(), "a.jpg", *s, below.id, "S").folderID, below.id);
    EXPECT_EQ(store->receiveUpload(upload(), "b.jpg", *s, inBundle.id, "S").folderID, inBundle.id);
    const Item unplaced = store->receiveUpload(upload(), "c.jpg", *s, std::nullopt, "S");
    EXPECT_EQ(folderName(unplaced.folderID), "From S");
    expectRefused(upload(), *s, outside.id, LibraryError::outsideShare);
}

TEST_F(LibraryStoreSharesTest, BundleShareWithoutItsBundleRefusesUploads) {
    const Share orphan = store->share(ShareTarget::bundle("gone"), ShareDuration::day, true);
    expectRefused(upload(), orphan, std::nullopt, LibraryError::notFound);
    EXPECT_TRUE(store->snapshot().folders.empty());
}

TEST_F(LibraryStoreSharesTest, UploadNamesStaySafeBesideTheirTemporaryFile) {
    const Share s = store->share(ShareTarget::folder(), ShareDuration::day, true);
    const fs::path temporary = upload("sneaky");
    const Item item = store->receiveUpload(temporary, "../../escape.txt", s, std::nullopt, "S");
    EXPECT_EQ(item.name, "-..-escape.txt");
    EXPECT_EQ(readAll(store->filePath(item)), "sneaky");
    EXPECT_EQ(store->filePath(item).parent_path(), store->filesDir / item.id);
    EXPECT_FALSE(fs::exists(dir.path() / "escape.txt"));
    EXPECT_FALSE(fs::exists(dir.path() / "incoming" / "escape.txt"));

    // A leftover file that already has the chosen name is replaced, not stored instead.
    const fs::path fresh = upload("fresh");
    std::ofstream(fresh.parent_path() / "report.txt", std::ios::binary) << "stale";
    EXPECT_EQ(readAll(store->filePath(store->receiveUpload(fresh, "report.txt", s, std::nullopt, "S"))),
              "fresh");
}
