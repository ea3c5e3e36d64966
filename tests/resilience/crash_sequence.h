#pragma once

#include "core/library.h"
#include "core/library_store.h"

#include <filesystem>
#include <string>
#include <vector>

/// The fixed run of store changes the crash-safety test interrupts, six to a cycle: add a file and a
/// text, share, rename, then delete and forget shares or make a folder and move. Each operation is one
/// mutation of the store, so the state an index holds tells how many operations it has seen.
namespace CrashSequence {

/// The bytes of the file cycle `cycle` adds; a stored name ("f12.bin", "r12.bin") gives its cycle.
std::string fileContents(int cycle);
/// -1 for a name the sequence never gives a file.
int cycleOfFile(const std::string& name);

/// Applies operation `k` to `store`. `scratch` is a directory outside the library for source files.
void apply(LibraryStore& store, int k, const std::filesystem::path& scratch);

/// What a library holds, without ids, tokens or dates: one sorted line per folder, item and share.
std::vector<std::string> stateOf(const Library& library);

} // namespace CrashSequence
