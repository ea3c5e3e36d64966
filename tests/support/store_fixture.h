#pragma once

#include "core/library_store.h"
#include "support/fake_clock.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

/// A store on a fresh temporary library with a fake clock, counting its change notifications.
class StoreFixture : public ::testing::Test {
protected:
    explicit StoreFixture(const std::filesystem::path& base = std::filesystem::temp_directory_path())
        : dir(base) {
        open();
    }

    /// (Re)opens the store on the same directory.
    void open() {
        store.reset();
        store = std::make_unique<LibraryStore>(libraryDir(), clock.function());
        store->setOnChange([this] { ++changes; });
    }

    std::filesystem::path libraryDir() const { return dir.path() / "Tesk"; }

    /// A file outside the library with the given contents.
    std::filesystem::path makeFile(const std::filesystem::path& relative,
                                   std::string_view contents = "hello");

    /// Index writes and notifications since the store was opened.
    std::uint64_t writes() const { return store->indexWriteCount(); }

    TempDir dir;
    FakeClock clock;
    std::atomic<int> changes{0};
    std::unique_ptr<LibraryStore> store;
};
