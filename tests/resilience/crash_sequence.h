#pragma once

#include "core/library.h"
#include "core/library_store.h"

#include <filesystem>
#include <string>
#include <vector>

/// The fixed run of store changes the crash-safety test interrupts. Operation k belongs to cycle k / 10;
/// each is exactly one mutation of the store, and each changes what `stateOf` reports, so the state an
/// index holds tells how many operations it has seen.
namespace CrashSequence {

constexpr int operationsPerCycle = 10;

/// The bytes of the file cycle `cycle` adds: its length and contents follow from the cycle alone.
std::string fileContents(int cycle);

/// The cycle whose file a stored name ("f12.bin" or "r12.bin") holds; -1 for any other name.
int cycleOfFile(const std::string& name);

/// Applies operation `k` to `store`. `scratch` is a directory outside the library for source files.
void apply(LibraryStore& store, int k, const std::filesystem::path& scratch);

/// What a library holds, without ids, tokens or dates: one sorted line per folder, item and share.
std::vector<std::string> stateOf(const Library& library);

/// What `stateOf` must give once the first `count` operations have been applied.
std::vector<std::string> expectedState(int count);

} // namespace CrashSequence
