#include "core/index_file.h"
#include "core/library_store.h"
#include "support/file_contents.h"
#include "support/store_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Names = std::vector<std::string>;

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

    Item addNote(std::string_view text, const LibraryStore::OptionalID& folder = std::nullopt) {
        return *store->addText(text, folder);
    }

    /// A temporary upload in its own per-upload directory, as the server leaves it.
    fs::path upload(std::string_view contents = "uploaded") {
        return makeFile("incoming/u" + std::to_string(++uploads_) + "/body", contents);
    }

    /// Where an upload through `share` asking for `folder` is filed: the folder's name ("<root>" at the
    /// root), or the code of the refusal, after which the server still owns the temporary file.
    std::string filing(const Share& share, const LibraryStore::OptionalID& folder,
                       const std::string& sender = "S") {
        const fs::path temporary = upload();
        try {
            const Item item = store->receiveUpload(temporary, "photo.jpg", share, folder, sender);
            EXPECT_EQ(item.receivedFrom, sender);
            EXPECT_EQ(readFile(store->filePath(item)), "uploaded");
            const auto where = store->snapshot().folder(item.folderID);
            return where ? where->name : "<root>";
        } catch (const LibraryError& error) {
            EXPECT_EQ(readFile(temporary), "uploaded");
            return "refused " + std::to_string(static_cast<int>(error.code()));
        }
    }

    /// Writes and notifications both unchanged since the call.
    auto unchanged() {
        return [this, writesBefore = writes(), changesBefore = changes.load()] {
            return writes() == writesBefore && changes == changesBefore;
        };
    }

private:
    int uploads_ = 0;
};

TEST_F(LibraryStoreSharesTest, SharingAgainKeepsAnActiveTokenAndMovesItsExpiryElseMakesANewOne) {
    const Folder folder = store->addFolder("Docs", std::nullopt);
    for (int i = 0; i < 21; ++i) {
        addNote("note", folder.id);
    }
    const Share first = store->share(ShareTarget::folder(folder.id), ShareDuration::day, false);
    EXPECT_EQ(first.expires, clock.now().adding(86400));
    EXPECT_EQ(std::make_pair(first.itemCount, first.contents.size()),
              std::make_pair(std::int64_t{21}, std::size_t{20}));
    clock.advance(500);
    const Share second = store->share(ShareTarget::folder(folder.id), ShareDuration::hour, true);
    EXPECT_EQ(std::tie(second.token, second.created, second.expires, second.allowsUploads),
              std::make_tuple(first.token, first.created, clock.now().adding(3600), false));
    EXPECT_EQ(store->snapshot().shares, std::vector<Share>{second});

    clock.advance(3600); // exactly at the expiry: no longer active
    const Share third = store->share(ShareTarget::folder(folder.id), ShareDuration::untilStopped, true);
    EXPECT_NE(third.token, first.token);
    EXPECT_FALSE(third.expires);
    EXPECT_EQ(store->snapshot().shares, (std::vector<Share>{second, third}));
}

TEST_F(LibraryStoreSharesTest, ASelectionSharesOneFolderOrABundleOfWhatIsNotInsideAnotherPick) {
    const Item a = addNote("alpha");
    const Item b = addFile("beta.txt", "12", std::nullopt);
    const Folder photos = store->addFolder("Photos", std::nullopt);
    const Folder raw = store->addFolder("Raw", photos.id);
    const Item inside = addFile("deep.jpg", "123456", raw.id);
    clock.advance(7);
    // A folder and an item inside it share only the folder.
    const auto alone = store->share(std::vector{ShareTarget::item(inside.id), ShareTarget::folder(photos.id)},
                                    ShareDuration::hour);
    EXPECT_EQ(alone->target, ShareTarget::folder(photos.id));
    EXPECT_TRUE(alone->allowsUploads && store->snapshot().bundles.empty());
    store->stopSharing(alone->token);

    // What a change handler sees when it reads the store: the bundle first, then its share.
    std::vector<std::pair<std::size_t, std::size_t>> seen;
    store->setOnChange(
        [&] { seen.emplace_back(store->snapshot().bundles.size(), store->snapshot().shares.size()); });
    // Repeats, missing ids and targets that cannot be bundled are left out; Raw lies inside Photos.
    const std::vector selection{ShareTarget::item(a.id),        ShareTarget::item("missing"),
                                ShareTarget::folder(raw.id),    ShareTarget::folder(),
                                ShareTarget::inbox(),           ShareTarget::item(b.id),
                                ShareTarget::folder(photos.id), ShareTarget::item(a.id)};
    const auto s = store->share(selection, ShareDuration::day);
    ASSERT_TRUE(s);
    const ShareBundle bundle = store->snapshot().bundles.at(0);
    EXPECT_EQ(bundle, (ShareBundle{bundle.id, "Photos and 2 more", {a.id, b.id}, {photos.id}, clock.now()}));
    EXPECT_EQ(std::tie(s->target, s->title, s->contents, s->itemCount, s->totalSize),
              std::make_tuple(ShareTarget::bundle(bundle.id), "Photos and 2 more",
                              Names{"Photos", "alpha", "beta.txt"}, 3, 8));
    EXPECT_EQ(seen, (std::vector<std::pair<std::size_t, std::size_t>>{{1, 1}, {1, 2}}));

    const auto nothingChanged = unchanged();
    EXPECT_FALSE(store->share(std::vector{ShareTarget::item("gone"), ShareTarget::inbox(), s->target},
                              ShareDuration::day));
    EXPECT_FALSE(store->share(std::vector<ShareTarget>{}, ShareDuration::day));
    EXPECT_TRUE(nothingChanged());
}

TEST_F(LibraryStoreSharesTest, ReshareRenewsAStoppedShareReturnsAnActiveOneAndNothingForAGoneTarget) {
    const Folder folder = store->addFolder("Docs", std::nullopt);
    const Share old = store->share(ShareTarget::folder(folder.id), ShareDuration::hour, false);
    store->stopSharing(old.token);
    store->renameFolder(folder.id, "Papers");
    addFile("new.txt", "123", folder.id);
    clock.advance(60);
    const auto renewed = store->reshare(old.token);
    ASSERT_TRUE(renewed);
    EXPECT_NE(renewed->token, old.token);
    EXPECT_EQ(std::tie(renewed->expires, renewed->allowsUploads, renewed->title, renewed->contents),
              std::make_tuple(clock.now().adding(3600), false, "Papers", Names{"new.txt"}));
    EXPECT_EQ(store->snapshot().shares.at(0).title, "Docs"); // the history keeps what was shared

    const auto nothingChanged = unchanged();
    EXPECT_EQ(store->reshare(old.token), renewed);
    EXPECT_EQ(store->reshare(renewed->token), renewed);
    EXPECT_TRUE(nothingChanged());
    store->deleteFolder(folder.id);
    EXPECT_FALSE(store->reshare(old.token));
}

TEST_F(LibraryStoreSharesTest, DownloadsCountAfterTheStopAndForgettingRemovesOnlyPastSharesAndUnusedBundles) {
    const Share active = store->share(ShareTarget::folder(), ShareDuration::hour, true);
    const auto first =
        store->share(std::vector{ShareTarget::item(addNote("a").id), ShareTarget::item(addNote("b").id)},
                     ShareDuration::day);
    store->stopSharing(first->token);
    store->recordDownload(first->token); // a download that finishes after the stop still counts
    EXPECT_EQ(store->snapshot().share(first->token)->downloads, 1);
    const auto second = store->reshare(first->token);
    ASSERT_TRUE(second);
    store->forgetShare(active.token);
    store->forgetShare(first->token); // its bundle stays for the renewal
    EXPECT_EQ(store->snapshot().shares, (std::vector<Share>{active, *second}));
    EXPECT_EQ(store->snapshot().bundles.size(), 1u);
    clock.advance(86400); // expired shares are past shares too
    store->forgetShare(active.token);
    store->forgetShare(second->token);
    EXPECT_TRUE(store->snapshot().shares.empty() && store->snapshot().bundles.empty());
}

// An index with 300 past shares (some stopped, some expired) whose creation order differs from their list
// order, plus one long-lived active share older than all of them.
TEST_F(LibraryStoreSharesTest, HistoryKeepsThe300NewestPastSharesWhenAShareIsMade) {
    Library library;
    const Date now = clock.now();
    library.shares.push_back(
        Share{"keepactive", ShareTarget::item("k"), now.adding(-1e5), ShareDuration::untilStopped});
    for (int i = 0; i < 300; ++i) {
        // Ages 1000 to 1299 seconds, listed out of order: the oldest sits in the middle of the list.
        const int age = 1000 + (i * 7) % 300;
        Share past{"past" + std::to_string(age), ShareTarget::inbox(), now.adding(-age), ShareDuration::hour,
                   now.adding(-age + 3600)};
        (i % 2 == 0 ? past.stopped : past.expires) = now.adding(-age + 1);
        library.shares.push_back(past);
    }
    std::ofstream(libraryDir() / "library.json", std::ios::binary) << IndexFile::encode(library);
    open();
    ASSERT_EQ(pastShares(store->snapshot(), clock.now()), 300u);

    const Share active = store->share(ShareTarget::inbox(), ShareDuration::day, true);
    const Share other = store->share(ShareTarget::folder(), ShareDuration::day, true);
    store->stopSharing(active.token);
    store->share(other.target, ShareDuration::hour, true); // a renewal trims nothing
    EXPECT_EQ(pastShares(store->snapshot(), clock.now()), 301u);
    const Share made =
        store->share(ShareTarget::folder(store->addFolder("F", std::nullopt).id), ShareDuration::day, true);
    const Library after = store->snapshot();
    EXPECT_EQ(pastShares(after, clock.now()), 300u);
    EXPECT_FALSE(after.share("past1299"));
    for (const auto& token : {std::string("past1298"), active.token, made.token, std::string("keepactive")}) {
        EXPECT_TRUE(after.share(token)) << token;
    }
}

TEST_F(LibraryStoreSharesTest, UploadsAreFiledWithinTheirShareOrInTheSendersOwnFolder) {
    const Folder above = store->addFolder("Above", std::nullopt);
    const Folder shared = store->addFolder("Shared", above.id);
    const Folder sub = store->addFolder("Sub", shared.id);
    const Folder sibling = store->addFolder("Sibling", std::nullopt);
    store->addFolder("From S", std::nullopt); // the user's own folder, not the sender's
    const Share folderShare = store->share(ShareTarget::folder(shared.id), ShareDuration::day, true);
    const Share whole = store->share(ShareTarget::folder(), ShareDuration::day, true);
    const Share inbox = store->share(ShareTarget::inbox(), ShareDuration::hour, true);
    const Share itemShare = store->share(ShareTarget::item(addNote("shared").id), ShareDuration::hour, true);
    const auto bundle = store->share(
        std::vector{ShareTarget::folder(shared.id), ShareTarget::item(addNote("x").id)}, ShareDuration::day);
    const Share orphan = store->share(ShareTarget::bundle("gone"), ShareDuration::day, true);
    const std::string outside = "refused " + std::to_string(static_cast<int>(LibraryError::outsideShare));
    const std::string notFound = "refused " + std::to_string(static_cast<int>(LibraryError::notFound));
    // Through, asking for, sent by: filed in.
    const std::tuple<const Share&, LibraryStore::OptionalID, std::string, std::string> cases[] = {
        {folderShare, sub.id, "S", "Sub"},
        {folderShare, shared.id, "S", "Shared"},
        {folderShare, above.id, "S", outside},
        {whole, std::nullopt, "S", "<root>"},
        {whole, "no-such-folder", "S", outside},
        // The same label lands in the same folder, whatever link it comes through and whatever folder it
        // names; another label gets a folder of its own.
        {inbox, std::nullopt, "S", "From S 2"},
        {inbox, "ignored", "S", "From S 2"},
        {itemShare, shared.id, "Ben", "From Ben"},
        {*bundle, sub.id, "S", "Sub"},
        {*bundle, std::nullopt, "S", "From S 2"},
        {*bundle, sibling.id, "S", outside},
        {orphan, std::nullopt, "S", notFound},
    };
    for (const auto& [share, folder, sender, filed] : cases) {
        EXPECT_EQ(filing(share, folder, sender), filed) << share.title << " " << folder.value_or("-");
    }
    const Library library = store->snapshot();
    EXPECT_EQ(library.folders.size(), 7u);
    EXPECT_EQ(library.folder(library.deviceFolders.at("browser:S"))->name, "From S 2");
}

TEST_F(LibraryStoreSharesTest, AnUploadIsMovedInUnderASafeNameBesideItsTemporaryFile) {
    const Share s = store->share(ShareTarget::folder(), ShareDuration::day, true);
    const fs::path temporary = upload("sneaky");
    const Item item = store->receiveUpload(temporary, "../../escape.txt", s, std::nullopt, "S");
    EXPECT_EQ(item.name, "-..-escape.txt");
    EXPECT_EQ(item.size, 6);
    EXPECT_TRUE(fs::is_empty(temporary.parent_path())); // moved, not copied
    EXPECT_EQ(readFile(store->filePath(item)), "sneaky");
    EXPECT_EQ(store->filePath(item).parent_path(), store->filesDir / item.id);
    EXPECT_FALSE(fs::exists(dir.path() / "escape.txt"));
    EXPECT_FALSE(fs::exists(dir.path() / "outside" / "incoming" / "escape.txt"));
    // A leftover file that already has the chosen name is replaced, not stored instead.
    const fs::path fresh = upload("fresh");
    std::ofstream(fresh.parent_path() / "report.txt", std::ios::binary) << "stale";
    EXPECT_EQ(readFile(store->filePath(store->receiveUpload(fresh, "report.txt", s, std::nullopt, "S"))),
              "fresh");
}
