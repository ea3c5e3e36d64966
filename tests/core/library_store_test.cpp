#include "core/library_store.h"

#include "core/index_file.h"
#include "support/store_fixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

unsigned permissions(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

std::vector<fs::path> filesIn(const fs::path& directory) {
    std::vector<fs::path> result;
    for (const auto& entry : fs::directory_iterator(directory)) {
        result.push_back(entry.path().filename());
    }
    return result;
}

} // namespace

class LibraryStoreTest : public StoreFixture {
protected:
    /// The library as the index file on disk holds it.
    Library onDisk() const { return IndexFile::decode(readText(store->indexURL)); }
};

// ---- Opening and persistence ----

TEST_F(LibraryStoreTest, OpeningAFreshDirectoryMakesAPrivateLibraryWithoutWriting) {
    EXPECT_TRUE(fs::is_directory(store->filesDir));
    EXPECT_EQ(store->snapshot(), Library{});
    EXPECT_FALSE(fs::exists(store->indexURL));
    EXPECT_EQ(permissions(libraryDir()), 0700u);
    EXPECT_EQ(writes(), 0u);
    EXPECT_EQ(changes, 0);
}

TEST_F(LibraryStoreTest, IndexIsPrivateAndMatchesTheLibraryAfterEveryChange) {
    store->addFolder("Photos", std::nullopt);
    EXPECT_EQ(permissions(store->indexURL), 0600u);
    EXPECT_EQ(onDisk(), store->snapshot());
    store->addText("https://example.com/x", std::nullopt);
    EXPECT_EQ(onDisk(), store->snapshot());
    // No temporary file is left beside the index.
    for (const auto& name : filesIn(libraryDir())) {
        EXPECT_TRUE(name == "files" || name == "library.json") << name;
    }
}

TEST_F(LibraryStoreTest, ReopeningReadsWhatWasWritten) {
    store->addFolder("Photos", std::nullopt);
    store->addFile(makeFile("a.txt"), std::nullopt);
    const Library before = store->snapshot();
    open();
    EXPECT_EQ(store->snapshot(), before);
}

TEST_F(LibraryStoreTest, UndecodableIndexIsSetAsideBeforeTheFirstSave) {
    store.reset();
    fs::create_directories(libraryDir());
    const std::string damaged = "{\"folders\": [ this is not json";
    std::ofstream(libraryDir() / "library.json") << damaged;
    clock.set(Date::fromUnix(1800000000.7));
    open();
    EXPECT_EQ(store->snapshot(), Library{});
    // Untouched until the first change.
    EXPECT_EQ(readText(store->indexURL), damaged);
    store->addFolder("New", std::nullopt);
    EXPECT_EQ(readText(libraryDir() / "library.json.unreadable-1800000000"), damaged);
    EXPECT_EQ(onDisk().folders.size(), 1u);
    // Later saves never touch the set-aside file again.
    clock.advance(10);
    store->addFolder("Newer", std::nullopt);
    EXPECT_EQ(readText(libraryDir() / "library.json.unreadable-1800000000"), damaged);
    EXPECT_FALSE(fs::exists(libraryDir() / "library.json.unreadable-1800000010"));
}

TEST_F(LibraryStoreTest, FailedIndexWriteKeepsTheChangeInMemoryAndCatchesUpLater) {
    store->addFolder("One", std::nullopt);
    // A directory in the index's place makes the rename over it fail, even for root.
    fs::remove(store->indexURL);
    fs::create_directory(store->indexURL);
    store->addFolder("Two", std::nullopt);
    EXPECT_EQ(store->snapshot().folders.size(), 2u);
    EXPECT_EQ(changes, 2);
    fs::remove(store->indexURL);
    store->addFolder("Three", std::nullopt);
    EXPECT_EQ(onDisk(), store->snapshot());
    EXPECT_EQ(onDisk().folders.size(), 3u);
}

TEST_F(LibraryStoreTest, AChangeTheIndexCouldNotTakeIsWrittenWhenTheStoreCloses) {
    store->addFolder("One", std::nullopt);
    fs::remove(store->indexURL);
    fs::create_directory(store->indexURL);
    store->addFolder("Two", std::nullopt);
    fs::remove(store->indexURL);
    // No change follows: only closing can save "Two".
    const Library last = store->snapshot();
    open();
    EXPECT_EQ(store->snapshot(), last);
}

TEST_F(LibraryStoreTest, ClosingWithTheIndexUpToDateWritesNothing) {
    store->addFolder("One", std::nullopt);
    const std::string marker = "{\"folders\": []}";
    std::ofstream(store->indexURL, std::ios::trunc) << marker;
    store.reset();
    EXPECT_EQ(readText(libraryDir() / "library.json"), marker);
}

TEST_F(LibraryStoreTest, OpeningRemovesWhatAKilledProcessLeftHalfWrittenAndNothingElse) {
    store->addFolder("Kept", std::nullopt);
    const auto item = store->addFile(makeFile("a.txt", "whole"), std::nullopt).front();
    store.reset();
    // What a process killed in the middle of a change leaves: a temporary index, a staged copy.
    const fs::path temporaryIndex = libraryDir() / ".library.json.Ab3xZ9";
    const fs::path staged = libraryDir() / "files" / ".adding-0f3c9a";
    std::ofstream(temporaryIndex) << "{\"folders\": [";
    fs::create_directories(staged);
    std::ofstream(staged / "big.mov") << "cut sh";
    // Names that only look alike belong to someone else.
    const std::vector<fs::path> others{
        libraryDir() / ".library.json.tmp",     libraryDir() / ".library.json.Ab3xZ9x",
        libraryDir() / "library.json.Ab3xZ9",   libraryDir() / ".other.json.Ab3xZ9",
        libraryDir() / ".library.json.Ab-xZ9",  libraryDir() / "files" / ".hidden",
        libraryDir() / "files" / "adding-0f3c", libraryDir() / "files" / ".adding",
    };
    for (const auto& path : others) {
        std::ofstream(path) << "mine";
    }
    fs::create_directory(libraryDir() / ".library.json.Dir123");
    open();
    EXPECT_FALSE(fs::exists(temporaryIndex));
    EXPECT_FALSE(fs::exists(staged));
    for (const auto& path : others) {
        EXPECT_EQ(readText(path), "mine") << path;
    }
    EXPECT_TRUE(fs::is_directory(libraryDir() / ".library.json.Dir123"));
    EXPECT_EQ(store->snapshot().folders.size(), 1u);
    EXPECT_EQ(readText(store->filePath(item)), "whole");
}

// ---- The mutation discipline ----

TEST_F(LibraryStoreTest, EveryMutationWritesAndNotifiesExactlyOnce) {
    const Folder folder = store->addFolder("A", std::nullopt);
    EXPECT_EQ(writes(), 1u);
    EXPECT_EQ(changes, 1);
    store->moveItem("unknown", std::nullopt); // finds nothing, still one mutation
    store->renameFolder("unknown", "x");
    store->deleteItem("unknown");
    store->moveFolder(folder.id, std::nullopt); // already there
    EXPECT_EQ(writes(), 5u);
    EXPECT_EQ(changes, 5);
}

TEST_F(LibraryStoreTest, EarlyReturnsNeitherWriteNorNotify) {
    const auto item = store->addFile(makeFile("same.txt"), std::nullopt).front();
    const auto before = writes();
    EXPECT_FALSE(store->addText(" \n\t \u3000", std::nullopt));
    store->renameItem(item.id, "same.txt");
    store->renameItem(item.id, "  same.txt\n"); // the same name once made safe
    store->renameItem("unknown", "x");
    EXPECT_EQ(writes(), before);
    EXPECT_EQ(changes, static_cast<int>(before));
}

TEST_F(LibraryStoreTest, NotificationComesAfterTheLockIsReleased) {
    // A notification that reads the store would deadlock if it ran under the lock.
    std::size_t seen = 0;
    store->setOnChange([&] { seen = store->snapshot().folders.size(); });
    store->addFolder("A", std::nullopt);
    EXPECT_EQ(seen, 1u);
}

// ---- Adding files ----

TEST_F(LibraryStoreTest, AddingAFileCopiesItUnderItsItemID) {
    const auto source = makeFile("Report.pdf", "0123456789");
    clock.set(Date{1000.5});
    const auto items = store->addFile(source, std::nullopt, std::string("Ana"));
    ASSERT_EQ(items.size(), 1u);
    const Item& item = items[0];
    EXPECT_EQ(item.kind, ItemKind::file);
    EXPECT_EQ(item.name, "Report.pdf");
    EXPECT_EQ(item.size, 10);
    EXPECT_EQ(item.created, Date{1000.5});
    EXPECT_EQ(item.receivedFrom, "Ana");
    EXPECT_FALSE(item.content);
    EXPECT_EQ(store->filePath(item), store->filesDir / item.id / "Report.pdf");
    EXPECT_EQ(readText(store->filePath(item)), "0123456789");
    EXPECT_TRUE(fs::exists(source)); // copied, not moved
    EXPECT_EQ(store->snapshot().items, items);

    const auto moved = store->addFile(makeFile("moved.txt", "abc"), std::nullopt, std::nullopt, true).front();
    EXPECT_FALSE(fs::exists(dir.path() / "outside" / "moved.txt"));
    EXPECT_EQ(readText(store->filePath(moved)), "abc");
}

TEST_F(LibraryStoreTest, AFailedCopyLeavesNothingUnderFiles) {
    // A FIFO cannot be copied: the copy fails after the store began making room for it.
    const fs::path pipe = dir.path() / "outside" / "pipe";
    fs::create_directories(pipe.parent_path());
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    EXPECT_THROW(store->addFile(pipe, std::nullopt), fs::filesystem_error);
    EXPECT_TRUE(fs::is_empty(store->filesDir));
    EXPECT_TRUE(store->snapshot().items.empty());
}

TEST_F(LibraryStoreTest, AnAddWhoseFolderWasDeletedMeanwhileLandsAtTheRoot) {
    // What a phone's send does when its receiving folder is deleted between being chosen and the filing.
    const Folder gone = store->addFolder("Gone", std::nullopt);
    store->deleteFolder(gone.id);
    const auto file = store->addFile(makeFile("late.txt"), gone.id).front();
    const auto text = store->addText("late note", gone.id).value();
    const Folder folder = store->addFolder("Late", gone.id);
    EXPECT_EQ(file.folderID, std::nullopt);
    EXPECT_EQ(text.folderID, std::nullopt);
    EXPECT_EQ(folder.parentID, std::nullopt);
    const Library library = store->snapshot();
    EXPECT_EQ(library.itemsIn(std::nullopt).size(), 2u);
    EXPECT_EQ(library.foldersIn(std::nullopt).size(), 1u);
}

TEST_F(LibraryStoreTest, StoredNameIsSafeAndMatchesThePathOnDisk) {
    const auto item = store->addFile(makeFile("12:30 notes.txt"), std::nullopt).front();
    EXPECT_EQ(item.name, "12-30 notes.txt");
    EXPECT_TRUE(fs::exists(store->filesDir / item.id / "12-30 notes.txt"));

    // 120 three-byte characters: 360 bytes, more than one path component may hold.
    std::string longName;
    for (int i = 0; i < 120; ++i) {
        longName += "\u3042";
    }
    store->renameItem(item.id, longName + ".txt");
    const auto renamed = store->snapshot().item(item.id).value();
    EXPECT_LE(renamed.name.size(), 255u);
    EXPECT_TRUE(renamed.name.ends_with(".txt"));
    EXPECT_TRUE(fs::exists(store->filePath(renamed)));
}

TEST_F(LibraryStoreTest, MissingSourceIsNotFoundAndRecordsNothing) {
    try {
        store->addFile(dir.path() / "nowhere", std::nullopt);
        FAIL() << "added a missing file";
    } catch (const LibraryError& error) {
        EXPECT_EQ(error.code(), LibraryError::notFound);
    }
    EXPECT_EQ(writes(), 0u);
    EXPECT_TRUE(store->snapshot().items.empty());
}

TEST_F(LibraryStoreTest, StorageFailureThrowsTheFileSystemErrorAndRecordsNothing) {
    fs::remove_all(store->filesDir);
    std::ofstream(store->filesDir) << "not a directory";
    EXPECT_THROW(store->addFile(makeFile("a.txt"), std::nullopt), fs::filesystem_error);
    EXPECT_TRUE(store->snapshot().items.empty());
    EXPECT_EQ(writes(), 0u);
}

TEST_F(LibraryStoreTest, AddingADirectoryMakesAFolderAndSkipsHiddenEntries) {
    makeFile("Photos/.DS_Store");
    makeFile("Photos/beach.jpg", "jpeg");
    makeFile("Photos/Trip/day1.jpg", "day1");
    store->addFolder("photos", std::nullopt);
    const auto items = store->addFile(dir.path() / "outside" / "Photos", std::nullopt);
    ASSERT_EQ(items.size(), 2u);

    const Library library = store->snapshot();
    const auto roots = library.foldersIn(std::nullopt);
    ASSERT_EQ(roots.size(), 2u);
    EXPECT_EQ(roots[1].name, "Photos 2");
    const auto inside = library.foldersIn(roots[1].id);
    ASSERT_EQ(inside.size(), 1u);
    EXPECT_EQ(inside[0].name, "Trip");
    EXPECT_EQ(library.itemsIn(roots[1].id).size(), 1u);
    EXPECT_EQ(library.itemsIn(inside[0].id).size(), 1u);
    for (const Item& item : items) {
        EXPECT_NE(item.name, ".DS_Store");
    }
}

TEST_F(LibraryStoreTest, AStoppedFolderAddTakesBackWhatItStoredAndNothingElse) {
    for (const char* name : {"Album/a.jpg", "Album/b.jpg", "Album/c.jpg", "Album/Sub/d.jpg"}) {
        makeFile(name);
    }
    const Item outsider = store->addFile(makeFile("note.txt"), std::nullopt).front();
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
    try {
        store->addFile(dir.path() / "outside" / "Album", std::nullopt, std::nullopt, false, stop.get_token());
        FAIL() << "the add was not stopped";
    } catch (const LibraryError& error) {
        EXPECT_EQ(error.code(), LibraryError::cancelled);
    }

    const Library library = store->snapshot();
    ASSERT_EQ(library.folders.size(), 1u) << "the folder holding the moved item stays, its empty one goes";
    ASSERT_EQ(library.items.size(), 1u);
    EXPECT_EQ(library.items[0].id, outsider.id);
    EXPECT_EQ(library.items[0].folderID, library.folders[0].id);
    EXPECT_EQ(filesIn(store->filesDir), std::vector<fs::path>{outsider.id});
}

TEST_F(LibraryStoreTest, AddingADirectoryNeverFollowsLinksToDirectoriesNorReadsSpecialFiles) {
    makeFile("Tree/real.txt", "real");
    makeFile("Elsewhere/private.txt", "private");
    const auto tree = dir.path() / "outside" / "Tree";
    fs::create_directory_symlink(dir.path() / "outside" / "Elsewhere", tree / "escape");
    fs::create_directory_symlink(tree, tree / "loop");
    fs::create_symlink(dir.path() / "outside" / "Elsewhere" / "private.txt", tree / "linked.txt");
    fs::create_symlink(dir.path() / "nothing-here", tree / "dangling.txt");
    ASSERT_EQ(::mkfifo((tree / "pipe").c_str(), 0600), 0);

    const auto items = store->addFile(tree, std::nullopt);
    std::vector<std::string> names;
    for (const Item& item : items) {
        names.push_back(item.name);
    }
    std::sort(names.begin(), names.end());
    // A link to a file is stored as a copy of that file.
    EXPECT_EQ(names, (std::vector<std::string>{"linked.txt", "real.txt"}));
    for (const Item& item : items) {
        EXPECT_FALSE(fs::is_symlink(store->filePath(item)));
    }
    EXPECT_EQ(store->snapshot().folders.size(), 1u);
}

// ---- Texts, links and folders ----

TEST_F(LibraryStoreTest, TextIsStoredTrimmedAndClassified) {
    const auto note = store->addText("\n\n  Shopping list\nmilk  \n\n", std::nullopt, std::string("Phone"));
    ASSERT_TRUE(note);
    EXPECT_EQ(note->kind, ItemKind::text);
    EXPECT_EQ(note->content, "Shopping list\nmilk");
    EXPECT_EQ(note->name, "Shopping list");
    EXPECT_EQ(note->size, 18);
    EXPECT_EQ(note->receivedFrom, "Phone");

    EXPECT_EQ(store->addText("h\u00e9 \U0001F600", std::nullopt)->size, 8); // UTF-8 bytes
    const Folder folder = store->addFolder("Links", std::nullopt);
    const auto link = store->addText("  https://www.example.com/a/b  ", folder.id);
    ASSERT_TRUE(link);
    EXPECT_EQ(link->kind, ItemKind::link);
    EXPECT_EQ(link->content, "https://www.example.com/a/b");
    EXPECT_EQ(link->folderID, folder.id);
    // Nothing of a text or link goes to disk.
    EXPECT_TRUE(filesIn(store->filesDir).empty());
}

TEST_F(LibraryStoreTest, FolderNamesAreSafeAndUniqueAmongSiblings) {
    const Folder a = store->addFolder("Work", std::nullopt);
    EXPECT_EQ(store->addFolder("work", std::nullopt).name, "work 2");
    EXPECT_EQ(store->addFolder("Work", a.id).name, "Work"); // another parent
    EXPECT_EQ(store->addFolder("a/b:c", std::nullopt).name, "a-b-c");
    EXPECT_EQ(store->addFolder("  ", std::nullopt).name, "file");
}

// ---- Renaming and moving ----

TEST_F(LibraryStoreTest, RenamingAFileRenamesItsStoredFileAndANoteOnlyItsName) {
    const auto item = store->addFile(makeFile("old.txt", "x"), std::nullopt).front();
    store->renameItem(item.id, "new/name.txt");
    const auto renamed = store->snapshot().item(item.id);
    ASSERT_TRUE(renamed);
    EXPECT_EQ(renamed->name, "new-name.txt");
    EXPECT_EQ(readText(store->filePath(*renamed)), "x");
    EXPECT_FALSE(fs::exists(store->filesDir / item.id / "old.txt"));

    const auto note = store->addText("hello there", std::nullopt);
    store->renameItem(note->id, "Greeting");
    EXPECT_EQ(store->snapshot().item(note->id)->name, "Greeting");
    EXPECT_EQ(store->snapshot().item(note->id)->content, "hello there");
}

TEST_F(LibraryStoreTest, RenamingKeepsTheRecordedNameOnDiskUntilTheNewOneIsRecorded) {
    const auto item = store->addFile(makeFile("old.txt", "x"), std::nullopt).front();
    const fs::path oldPath = store->filesDir / item.id / "old.txt";
    const fs::path newPath = store->filesDir / item.id / "new.txt";
    bool oldThereWhenRecorded = false;
    bool newThereWhenRecorded = false;
    store->setOnChange([&] {
        oldThereWhenRecorded = fs::exists(oldPath);
        newThereWhenRecorded = fs::exists(newPath);
    });
    store->renameItem(item.id, "new.txt");
    EXPECT_EQ(store->snapshot().item(item.id)->name, "new.txt");
    EXPECT_TRUE(oldThereWhenRecorded) << "the old name went before the index stopped naming it";
    EXPECT_TRUE(newThereWhenRecorded) << "the index named a file not yet on disk";
    EXPECT_FALSE(fs::exists(oldPath));
    EXPECT_EQ(readText(newPath), "x");
}

TEST_F(LibraryStoreTest, RenamingOntoANameAlreadyInTheItemsDirectoryKeepsTheItemsBytes) {
    const auto item = store->addFile(makeFile("old.txt", "x"), std::nullopt).front();
    // A link a rename cut short left behind, and an unrelated stray file.
    fs::create_hard_link(store->filePath(item), store->filesDir / item.id / "linked.txt");
    std::ofstream(store->filesDir / item.id / "stray.txt") << "stray";
    store->renameItem(item.id, "linked.txt");
    EXPECT_EQ(store->snapshot().item(item.id)->name, "linked.txt");
    EXPECT_EQ(readText(store->filePath(*store->snapshot().item(item.id))), "x");
    store->renameItem(item.id, "stray.txt");
    EXPECT_EQ(store->snapshot().item(item.id)->name, "stray.txt");
    EXPECT_EQ(readText(store->filePath(*store->snapshot().item(item.id))), "x");
    EXPECT_FALSE(fs::exists(store->filesDir / item.id / "linked.txt"));
}

TEST_F(LibraryStoreTest, RenameWhoseFileIsGoneChangesNothing) {
    const auto item = store->addFile(makeFile("old.txt"), std::nullopt).front();
    fs::remove_all(store->filesDir / item.id);
    const auto before = writes();
    store->renameItem(item.id, "new.txt");
    EXPECT_EQ(store->snapshot().item(item.id)->name, "old.txt");
    EXPECT_EQ(writes(), before);
}

TEST_F(LibraryStoreTest, RenamingAFolderAvoidsSiblingsButNotItself) {
    const Folder a = store->addFolder("Alpha", std::nullopt);
    store->addFolder("Beta", std::nullopt);
    store->renameFolder(a.id, "beta");
    EXPECT_EQ(store->snapshot().folder(a.id)->name, "beta 2");
    store->renameFolder(a.id, "BETA 2");
    EXPECT_EQ(store->snapshot().folder(a.id)->name, "BETA 2");
}

TEST_F(LibraryStoreTest, MovingItems) {
    const Folder f = store->addFolder("F", std::nullopt);
    const auto note = store->addText("note", std::nullopt);
    EXPECT_FALSE(store->moveItem(note->id, std::nullopt));
    EXPECT_FALSE(store->moveItem(note->id, std::string("no-such-folder")));
    EXPECT_FALSE(store->moveItem("no-such-item", f.id));
    EXPECT_TRUE(store->moveItem(note->id, f.id));
    EXPECT_EQ(store->snapshot().item(note->id)->folderID, f.id);
    EXPECT_FALSE(store->moveItem(note->id, f.id));
    EXPECT_TRUE(store->moveItem(note->id, std::nullopt));
    EXPECT_FALSE(store->snapshot().item(note->id)->folderID);
}

TEST_F(LibraryStoreTest, FolderNeverMovesIntoItselfOrBelowItself) {
    const Folder top = store->addFolder("Top", std::nullopt);
    const Folder child = store->addFolder("Child", top.id);
    const Folder grandchild = store->addFolder("Grandchild", child.id);
    const Library before = store->snapshot();
    const auto writesBefore = writes();
    EXPECT_FALSE(store->moveFolder(top.id, child.id));
    EXPECT_FALSE(store->moveFolder(top.id, grandchild.id));
    EXPECT_FALSE(store->moveFolder(top.id, top.id));
    EXPECT_EQ(store->snapshot(), before);
    EXPECT_EQ(writes(), writesBefore + 3);
}

TEST_F(LibraryStoreTest, MovedFolderGetsAUniqueNameInItsNewParent) {
    const Folder a = store->addFolder("A", std::nullopt);
    store->addFolder("Docs", a.id);
    const Folder docs = store->addFolder("docs", std::nullopt);
    EXPECT_TRUE(store->moveFolder(docs.id, a.id));
    const auto moved = store->snapshot().folder(docs.id);
    EXPECT_EQ(moved->name, "docs 2");
    EXPECT_EQ(moved->parentID, a.id);
    EXPECT_FALSE(store->moveFolder(docs.id, std::string("missing")));
    EXPECT_TRUE(store->moveFolder(docs.id, std::nullopt));
}

// ---- Deleting ----

TEST_F(LibraryStoreTest, DeletingAnItemRemovesItsFileAndStopsItsShares) {
    const auto item = store->addFile(makeFile("a.txt"), std::nullopt).front();
    const Share s = store->share(ShareTarget::item(item.id), ShareDuration::day, true);
    clock.advance(5);
    store->deleteItem(item.id);
    EXPECT_FALSE(fs::exists(store->filesDir / item.id));
    const Library library = store->snapshot();
    EXPECT_TRUE(library.items.empty());
    ASSERT_TRUE(library.share(s.token));
    EXPECT_EQ(library.share(s.token)->stopped, clock.now());
    // A second delete finds nothing, writes once and stops nothing new.
    const auto before = writes();
    clock.advance(5);
    store->deleteItem(item.id);
    EXPECT_EQ(writes(), before + 1);
    EXPECT_EQ(store->snapshot().share(s.token)->stopped, clock.now().adding(-5));
}

TEST_F(LibraryStoreTest, DeletionsAreRecordedBeforeTheFilesGo) {
    const Folder folder = store->addFolder("Doomed", std::nullopt);
    const auto inFolder = store->addFile(makeFile("in.txt"), folder.id).front();
    const auto alone = store->addFile(makeFile("alone.txt"), std::nullopt).front();
    // Whenever the process dies, a recorded item must still have its file.
    std::vector<bool> fileThereWhenRecorded;
    const Item* watched = &alone;
    store->setOnChange([&] { fileThereWhenRecorded.push_back(fs::exists(store->filePath(*watched))); });
    store->deleteItem(alone.id);
    watched = &inFolder;
    store->deleteFolder(folder.id);
    EXPECT_EQ(fileThereWhenRecorded, (std::vector<bool>{true, true}));
    EXPECT_TRUE(store->snapshot().items.empty());
    EXPECT_TRUE(fs::is_empty(store->filesDir));
}

TEST_F(LibraryStoreTest, DeletingAFolderCascadesAndStopsTheRightShares) {
    const Folder top = store->addFolder("Top", std::nullopt);
    const Folder sub = store->addFolder("Sub", top.id);
    const Folder keep = store->addFolder("Keep", std::nullopt);
    const auto deep = store->addFile(makeFile("deep.txt"), sub.id).front();
    const auto shallow = store->addText("note", top.id).value();
    const auto kept = store->addFile(makeFile("kept.txt"), keep.id).front();

    const Share stoppedBefore = store->share(ShareTarget::folder(sub.id), ShareDuration::day, true);
    store->stopSharing(stoppedBefore.token);
    const Date stoppedAt = clock.now();
    clock.advance(1);
    const Share topShare = store->share(ShareTarget::folder(top.id), ShareDuration::day, true);
    const Share subShare = store->share(ShareTarget::folder(sub.id), ShareDuration::hour, true);
    const Share itemShare = store->share(ShareTarget::item(deep.id), ShareDuration::day, true);
    const Share keptShare = store->share(ShareTarget::item(kept.id), ShareDuration::day, true);
    const Share whole = store->share(ShareTarget::folder(), ShareDuration::day, true);
    const Share inbox = store->share(ShareTarget::inbox(), ShareDuration::hour, true);
    const std::vector<ShareTarget> onlyDoomed{ShareTarget::item(deep.id), ShareTarget::item(shallow.id)};
    const Share emptied = store->share(onlyDoomed, ShareDuration::day).value();
    const std::vector<ShareTarget> mixed{ShareTarget::item(shallow.id), ShareTarget::folder(keep.id)};
    const Share survives = store->share(mixed, ShareDuration::day).value();

    clock.advance(60);
    store->deleteFolder(top.id);
    const Library library = store->snapshot();

    EXPECT_EQ(library.folders.size(), 1u);
    EXPECT_EQ(library.items.size(), 1u);
    EXPECT_FALSE(fs::exists(store->filesDir / deep.id));
    EXPECT_TRUE(fs::exists(store->filePath(kept)));
    for (const Share& s : {topShare, subShare, itemShare, emptied}) {
        ASSERT_TRUE(library.share(s.token));
        EXPECT_EQ(library.share(s.token)->stopped, clock.now()) << s.title;
    }
    for (const Share& s : {keptShare, whole, inbox, survives}) {
        EXPECT_TRUE(library.share(s.token)->isActive(clock.now())) << s.title;
    }
    EXPECT_EQ(library.share(stoppedBefore.token)->stopped, stoppedAt);
    // Bundles lose the deleted ids; the emptied one stays in the list.
    ASSERT_EQ(library.bundles.size(), 2u);
    EXPECT_TRUE(library.bundles[0].itemIDs.empty());
    EXPECT_TRUE(library.bundles[0].folderIDs.empty());
    EXPECT_TRUE(library.bundles[1].itemIDs.empty());
    EXPECT_EQ(library.bundles[1].folderIDs, std::vector<std::string>{keep.id});
}

TEST_F(LibraryStoreTest, DeletingAFolderLeavesItsSendersEntry) {
    const auto id = store->folderForDevice("browser:Ana", "Ana");
    store->deleteFolder(id);
    EXPECT_EQ(store->snapshot().deviceFolders.at("browser:Ana"), id);
}

TEST_F(LibraryStoreTest, DeleteNeverReachesOutsideTheFilesDirectory) {
    const auto victim = makeFile("victim.txt");
    store->deleteItem("..");
    store->deleteItem("../outside");
    store->deleteItem("");
    EXPECT_TRUE(fs::exists(victim));
    EXPECT_TRUE(fs::exists(store->filesDir));
}
