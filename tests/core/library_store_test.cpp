#include "core/library_store.h"

#include "core/index_file.h"
#include "support/file_contents.h"
#include "support/store_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

using Paths = std::vector<fs::path>;

Paths filesIn(const fs::path& directory) {
    Paths result;
    for (const auto& entry : fs::directory_iterator(directory)) {
        result.push_back(entry.path().filename());
    }
    std::sort(result.begin(), result.end());
    return result;
}

/// The code a call failed with; nothing if it did not throw a LibraryError.
template <typename Call>
std::optional<LibraryError::Code> failure(Call&& call) {
    try {
        call();
    } catch (const LibraryError& error) {
        return error.code();
    }
    return std::nullopt;
}

} // namespace

class LibraryStoreTest : public StoreFixture {
protected:
    /// The library as the index file on disk holds it.
    Library onDisk() const { return IndexFile::decode(readFile(store->indexURL)); }
    Item add(const std::string& name, const LibraryStore::OptionalID& folder = std::nullopt) {
        return store->addFile(makeFile(name, "x"), folder).front();
    }
    Item current(const Item& item) const { return store->snapshot().item(item.id).value_or(Item{}); }
};

TEST_F(LibraryStoreTest, APrivateLibraryWhoseIndexFollowsEveryChangeAndIsReadOnReopening) {
    EXPECT_TRUE(fs::is_directory(store->filesDir));
    EXPECT_FALSE(fs::exists(store->indexURL));
    EXPECT_EQ(fs::status(libraryDir()).permissions(), fs::perms::owner_all);
    store->addFolder("Photos", std::nullopt);
    EXPECT_EQ(fs::status(store->indexURL).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    add("a.txt");
    EXPECT_EQ(onDisk(), store->snapshot());
    EXPECT_EQ(filesIn(libraryDir()), (Paths{"files", "library.json"})); // no temporary left
    const Library before = store->snapshot();
    open();
    EXPECT_EQ(store->snapshot(), before);
}

TEST_F(LibraryStoreTest, UndecodableIndexIsSetAsideOnceBeforeTheFirstSave) {
    store.reset();
    const std::string damaged = "{\"folders\": [ this is not json";
    std::ofstream(libraryDir() / "library.json") << damaged;
    clock.set(Date::fromUnix(1800000000.7));
    open();
    EXPECT_EQ(store->snapshot(), Library{});
    EXPECT_EQ(readFile(store->indexURL), damaged); // untouched until the first change
    for (const char* name : {"New", "Newer"}) {
        store->addFolder(name, std::nullopt);
        clock.advance(10);
    }
    EXPECT_EQ(readFile(libraryDir() / "library.json.unreadable-1800000000"), damaged);
    EXPECT_EQ(filesIn(libraryDir()), (Paths{"files", "library.json", "library.json.unreadable-1800000000"}));
    EXPECT_EQ(onDisk().folders.size(), 2u);
}

TEST_F(LibraryStoreTest, OpeningRemovesWhatAKilledProcessLeftHalfWrittenAndNothingElse) {
    const Item item = add("a.txt");
    store.reset();
    std::ofstream(libraryDir() / ".library.json.Ab3xZ9") << "{\"folders\": [";
    fs::create_directories(libraryDir() / "files" / ".adding-0f3c9a");
    std::ofstream(libraryDir() / "files" / ".adding-0f3c9a" / "big.mov") << "cut sh";
    // Names that only look alike belong to someone else.
    const Paths others{".library.json.tmp",  ".library.json.Ab3xZ9x", "library.json.Ab3xZ9",
                       ".other.json.Ab3xZ9", ".library.json.Ab-xZ9",  "files/.hidden",
                       "files/adding-0f3c",  "files/.adding"};
    for (const auto& path : others) {
        std::ofstream(libraryDir() / path) << "mine";
    }
    fs::create_directory(libraryDir() / ".library.json.Dir123");
    open();
    EXPECT_FALSE(fs::exists(libraryDir() / ".library.json.Ab3xZ9"));
    EXPECT_FALSE(fs::exists(store->filesDir / ".adding-0f3c9a"));
    for (const auto& path : others) {
        EXPECT_EQ(readFile(libraryDir() / path), "mine") << path;
    }
    EXPECT_TRUE(fs::is_directory(libraryDir() / ".library.json.Dir123"));
    EXPECT_EQ(store->snapshot().items, std::vector<Item>{item});
    EXPECT_EQ(readFile(store->filePath(item)), "x");
}

TEST_F(LibraryStoreTest, EveryMutationWritesAndNotifiesOnceAfterTheLockIsReleased) {
    const Item item = add("same.txt");
    store->moveItem("unknown", std::nullopt); // finds nothing, still one mutation
    store->deleteItem("unknown");
    // Early returns neither write nor notify.
    EXPECT_FALSE(store->addText(" \n\t \u3000", std::nullopt));
    store->renameItem(item.id, "  same.txt\n"); // the same name once made safe
    store->renameItem("unknown", "x");
    EXPECT_EQ(writes(), 3u);
    EXPECT_EQ(changes, 3);
    // A notification that reads the store would deadlock if it ran under the lock.
    std::size_t seen = 0;
    store->setOnChange([&] { seen = store->snapshot().folders.size(); });
    store->addFolder("A", std::nullopt);
    EXPECT_EQ(seen, 1u);
}

TEST_F(LibraryStoreTest, AddingCopiesUnderTheItemIDOrRecordsNothing) {
    const auto source = makeFile("12:30 Report.pdf", "0123456789");
    const Item item = store->addFile(source, std::nullopt, std::string("Ana")).front();
    EXPECT_EQ(item, (Item{item.id, std::nullopt, ItemKind::file, "12-30 Report.pdf", 10, clock.now(),
                          std::nullopt, "Ana"}));
    EXPECT_EQ(store->filePath(item), store->filesDir / item.id / "12-30 Report.pdf");
    EXPECT_EQ(readFile(store->filePath(item)), "0123456789");
    EXPECT_TRUE(fs::exists(source)); // copied, not moved
    EXPECT_EQ(store->snapshot().items, std::vector<Item>{item});
    const auto writesBefore = writes();
    EXPECT_EQ(failure([&] { store->addFile(dir.path() / "nowhere", std::nullopt); }), LibraryError::notFound);
    // A FIFO cannot be copied: the copy fails after the store began making room for it.
    ASSERT_EQ(::mkfifo((dir.path() / "outside" / "pipe").c_str(), 0600), 0);
    EXPECT_THROW(store->addFile(dir.path() / "outside" / "pipe", std::nullopt), fs::filesystem_error);
    EXPECT_EQ(filesIn(store->filesDir).size(), 1u);
    EXPECT_EQ(writes(), writesBefore);
    // What a phone's send does when its receiving folder is deleted between being chosen and the filing.
    const Folder gone = store->addFolder("Gone", std::nullopt);
    store->deleteFolder(gone.id);
    EXPECT_EQ(add("late.txt", gone.id).folderID, std::nullopt);
    EXPECT_EQ(store->addFolder("Late", gone.id).parentID, std::nullopt);
}

TEST_F(LibraryStoreTest,
       AddingADirectorySkipsHiddenEntriesAndNeverFollowsLinksToDirectoriesNorReadsSpecials) {
    for (const char* name :
         {"Tree/.DS_Store", "Tree/real.txt", "Tree/Sub/day1.jpg", "Elsewhere/private.txt"}) {
        makeFile(name);
    }
    const auto outside = dir.path() / "outside";
    fs::create_directory_symlink(outside / "Elsewhere", outside / "Tree" / "escape");
    fs::create_directory_symlink(outside / "Tree", outside / "Tree" / "loop");
    fs::create_symlink(outside / "Elsewhere" / "private.txt", outside / "Tree" / "linked.txt");
    fs::create_symlink(dir.path() / "nothing-here", outside / "Tree" / "dangling.txt");
    ASSERT_EQ(::mkfifo((outside / "Tree" / "pipe").c_str(), 0600), 0);
    store->addFolder("tree", std::nullopt);
    std::map<std::string, std::string> stored; // name: where
    for (const Item& item : store->addFile(outside / "Tree", std::nullopt)) {
        stored[item.name] = store->snapshot().locationName(item.folderID).value_or("-");
        EXPECT_FALSE(fs::is_symlink(store->filePath(item)));
    }
    // A link to a file is stored as a copy.
    EXPECT_EQ(stored,
              (std::map<std::string, std::string>{
                  {"day1.jpg", "Tree 2 \u203A Sub"}, {"linked.txt", "Tree 2"}, {"real.txt", "Tree 2"}}));
    EXPECT_EQ(store->snapshot().folders.size(), 3u);
}

TEST_F(LibraryStoreTest, AStoppedFolderAddTakesBackWhatItStoredAndNothingElse) {
    for (const char* name : {"Album/a.jpg", "Album/b.jpg", "Album/c.jpg", "Album/Sub/d.jpg"}) {
        makeFile(name);
    }
    const Item outsider = add("note.txt");
    // Once the add has stored its first file, the user moves another item into the new folder and quits.
    std::stop_source stop;
    store->setOnChange([&] {
        const Library library = store->snapshot();
        const auto folders = library.foldersIn(std::nullopt);
        if (!stop.stop_requested() && !folders.empty() && !library.itemsIn(folders[0].id).empty()) {
            stop.request_stop();
            store->moveItem(outsider.id, folders[0].id);
        }
    });
    EXPECT_EQ(failure([&] {
                  store->addFile(dir.path() / "outside" / "Album", std::nullopt, std::nullopt, false,
                                 stop.get_token());
              }),
              LibraryError::cancelled);
    const Library library = store->snapshot();
    ASSERT_EQ(library.folders.size(), 1u) << "the folder holding the moved item stays, its empty one goes";
    EXPECT_EQ(library.items, std::vector<Item>{current(outsider)});
    EXPECT_EQ(library.items[0].folderID, library.folders[0].id);
    EXPECT_EQ(filesIn(store->filesDir), Paths{outsider.id});
}

TEST_F(LibraryStoreTest, RenamingAFileRecordsTheNewNameOnlyWhileBothAreOnDiskAndKeepsItsBytes) {
    const Item item = add("old.txt");
    const fs::path oldPath = store->filesDir / item.id / "old.txt";
    const fs::path newPath = store->filesDir / item.id / "new-name.txt";
    std::vector<bool> thereWhenRecorded;
    store->setOnChange([&] { thereWhenRecorded = {fs::exists(oldPath), fs::exists(newPath)}; });
    store->renameItem(item.id, "new/name.txt");
    EXPECT_EQ(current(item).name, "new-name.txt");
    // Otherwise the index names a file not on disk, or the old name goes before the index stops naming it.
    EXPECT_EQ(thereWhenRecorded, (std::vector<bool>{true, true}));
    EXPECT_FALSE(fs::exists(oldPath));
    store->setOnChange({});
    // A link a rename cut short left behind, and an unrelated stray file.
    fs::create_hard_link(newPath, store->filesDir / item.id / "linked.txt");
    std::ofstream(store->filesDir / item.id / "stray.txt") << "stray";
    // Then a name longer than one path component may hold.
    for (const std::string& name :
         {std::string("linked.txt"), std::string("stray.txt"), std::string(360, 'a')}) {
        store->renameItem(item.id, name);
        EXPECT_EQ(readFile(store->filePath(current(item))), "x") << current(item).name;
    }
    EXPECT_FALSE(fs::exists(store->filesDir / item.id / "linked.txt") ||
                 fs::exists(store->filesDir / item.id / "stray.txt"));
    // A rename whose file is gone changes nothing.
    fs::remove_all(store->filesDir / item.id);
    const Library before = store->snapshot();
    store->renameItem(item.id, "new.txt");
    EXPECT_EQ(store->snapshot(), before);
}

TEST_F(LibraryStoreTest, FoldersNeverMoveBelowThemselvesAndTakeNamesUniqueOnlyAmongSiblings) {
    const Folder top = store->addFolder("Top", std::nullopt);
    const Folder child = store->addFolder("Child", top.id);
    const Folder docs = store->addFolder("Docs", child.id);
    const Library before = store->snapshot();
    for (const auto& into : {child.id, docs.id, top.id, std::string("missing")}) {
        EXPECT_FALSE(store->moveFolder(top.id, into)) << into;
    }
    EXPECT_FALSE(store->moveItem(store->addText("note", std::nullopt)->id, std::string("missing")));
    EXPECT_EQ(store->snapshot().folders, before.folders);
    const Folder other = store->addFolder("docs", std::nullopt);
    EXPECT_EQ(store->addFolder("Docs", std::nullopt).name, "Docs 2");
    EXPECT_TRUE(store->moveFolder(other.id, child.id));
    EXPECT_EQ(store->snapshot().folder(other.id), (Folder{other.id, "docs 2", child.id, other.created}));
    store->renameFolder(other.id, "DOCS 2");
    EXPECT_EQ(store->snapshot().folder(other.id)->name, "DOCS 2"); // not kept from its own name
}

TEST_F(LibraryStoreTest, DeletionsAreRecordedBeforeTheFilesGoAndNeverReachOutsideTheFiles) {
    const Folder folder = store->addFolder("Doomed", std::nullopt);
    const Item inFolder = add("in.txt", folder.id);
    const Item alone = add("alone.txt");
    const Share inside = store->share(ShareTarget::item(inFolder.id), ShareDuration::day, true);
    // Whenever the process dies, a recorded item must still have its file.
    std::vector<bool> fileThereWhenRecorded;
    const Item* watched = &alone;
    store->setOnChange([&] { fileThereWhenRecorded.push_back(fs::exists(store->filePath(*watched))); });
    store->deleteItem(alone.id);
    watched = &inFolder;
    store->deleteFolder(folder.id);
    EXPECT_EQ(fileThereWhenRecorded, (std::vector<bool>{true, true}));
    EXPECT_EQ(store->snapshot().share(inside.token)->stopped, clock.now()); // the share of what went stops
    EXPECT_TRUE(fs::is_empty(store->filesDir));
    const auto victim = makeFile("victim.txt");
    for (const char* id : {"..", "../outside", ""}) {
        store->deleteItem(id);
    }
    EXPECT_TRUE(fs::exists(victim));
    EXPECT_TRUE(fs::exists(store->filesDir));
    // A sender keeps its entry: the next send makes it a new folder.
    const auto id = store->folderForDevice("browser:Ana", "Ana");
    store->deleteFolder(id);
    EXPECT_EQ(store->snapshot().deviceFolders.at("browser:Ana"), id);
}
