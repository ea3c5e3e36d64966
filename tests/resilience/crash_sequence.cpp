#include "crash_sequence.h"

#include "resilience.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace CrashSequence {
namespace {

/// "f12.bin", the file cycle 12 adds; "r12.bin" once renamed; "note 12", "folder 12".
std::string fileName(int cycle, const char* prefix = "f") {
    return prefix + std::to_string(cycle) + (prefix[1] ? "" : ".bin");
}

/// The one element matching `matches`; the sequence relies on it being there.
template <typename Range, typename Predicate>
const auto& only(const Range& range, Predicate matches, const std::string& what) {
    const auto found = std::find_if(range.begin(), range.end(), matches);
    if (found == range.end()) {
        throw std::runtime_error("no " + what);
    }
    return *found;
}

} // namespace

std::string fileContents(int cycle) {
    // From 1 byte to 96 KiB.
    return pattern(1 + (static_cast<std::size_t>(cycle) * 7919u + 13u) % (96u * 1024u),
                   static_cast<std::uint32_t>(cycle));
}

int cycleOfFile(const std::string& name) {
    int cycle = -1;
    int end = 0;
    std::sscanf(name.c_str(), "%*1[fr]%d.bin%n", &cycle, &end);
    return end == static_cast<int>(name.size()) ? cycle : -1;
}

void apply(LibraryStore& store, int k, const std::filesystem::path& scratch) {
    const int cycle = k / 6;
    // Even cycles from 2 on delete the previous (odd) cycle's file and forget its share; the others make
    // a folder and move their own file into it. Even cycles' files and shares stay for good.
    const bool deletesPrevious = cycle >= 2 && cycle % 2 == 0;
    const Library library = store.snapshot();
    const auto item = [&](const std::string& name) {
        return only(
                   library.items, [&](const Item& i) { return i.name == name; }, name)
            .id;
    };
    const auto share = [&](int of) {
        return only(
                   library.shares, [&](const Share& s) { return s.title == fileName(of); }, fileName(of))
            .token;
    };
    switch (k % 6) {
    case 0: {
        const auto source = scratch / fileName(cycle);
        if (!(std::ofstream(source, std::ios::binary | std::ios::trunc) << fileContents(cycle))) {
            throw std::runtime_error("cannot write " + source.string());
        }
        store.addFile(source, std::nullopt);
        std::filesystem::remove(source);
        break;
    }
    case 1:
        store.addText(fileName(cycle, "note "), std::nullopt);
        break;
    case 2:
        store.share(ShareTarget::item(item(fileName(cycle))), ShareDuration::untilStopped, false);
        break;
    case 3:
        store.renameItem(item(fileName(cycle)), fileName(cycle, "r"));
        break;
    case 4:
        if (deletesPrevious) {
            store.deleteItem(item(fileName(cycle - 1, "r")));
        } else {
            store.addFolder(fileName(cycle, "folder "), std::nullopt);
        }
        break;
    case 5:
        if (deletesPrevious) {
            store.forgetShare(share(cycle - 1));
        } else {
            const auto& folder = only(
                library.folders, [&](const Folder& f) { return f.name == fileName(cycle, "folder "); },
                fileName(cycle, "folder "));
            store.moveItem(item(fileName(cycle, "r")), folder.id);
        }
        break;
    }
}

std::vector<std::string> stateOf(const Library& library) {
    const auto in = [&](const std::optional<std::string>& id) -> std::string {
        const auto folder = library.folder(id);
        return " in " + (!id ? "/" : folder ? folder->name : "(missing folder " + *id + ")");
    };
    std::vector<std::string> lines;
    for (const Item& item : library.items) {
        lines.push_back(item.kind == ItemKind::file
                            ? "file " + item.name + in(item.folderID) + " size " + std::to_string(item.size)
                            : "text " + item.content.value_or("(no content)") + in(item.folderID));
    }
    for (const Folder& folder : library.folders) {
        lines.push_back("folder " + folder.name + in(folder.parentID));
    }
    for (const Share& share : library.shares) {
        lines.push_back("share " + share.title + " downloads " + std::to_string(share.downloads) +
                        (share.stopped ? " stopped" : " active") + (share.allowsUploads ? " uploads" : ""));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

} // namespace CrashSequence
