#include "crash_sequence.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <map>
#include <set>
#include <stdexcept>

namespace CrashSequence {
namespace {

/// From 1 byte to 96 KiB.
std::size_t fileSize(int cycle) {
    return 1 + (static_cast<std::size_t>(cycle) * 7919u + 13u) % (96u * 1024u);
}

std::string fileName(int cycle) {
    return "f" + std::to_string(cycle) + ".bin";
}
std::string renamedName(int cycle) {
    return "r" + std::to_string(cycle) + ".bin";
}
std::string noteText(int cycle) {
    return "note " + std::to_string(cycle);
}
std::string linkText(int cycle) {
    return "https://example.com/c/" + std::to_string(cycle);
}
std::string folderName(int cycle) {
    return "folder " + std::to_string(cycle);
}
/// Even cycles from 2 on delete the previous (odd) cycle's file and forget its share; the others make a
/// folder and move their own file into it. Even cycles' files therefore stay for good.
bool deletesPrevious(int cycle) {
    return cycle >= 2 && cycle % 2 == 0;
}
/// The cycle whose share op 6 counts a download on: an even one, whose file and share never go away.
int countedCycle(int cycle) {
    return 2 * (cycle / 4);
}

std::string fileLine(const std::string& name, const std::string& folder, std::int64_t size) {
    return "file " + name + " in " + folder + " size " + std::to_string(size);
}
std::string textLine(const std::string& content, const std::string& folder) {
    return "text " + content + " in " + folder;
}
std::string folderLine(const std::string& name, const std::string& parent) {
    return "folder " + name + " in " + parent;
}
std::string shareLine(const std::string& title, std::int64_t downloads, bool stopped, bool uploads) {
    return "share " + title + " downloads " + std::to_string(downloads) + (stopped ? " stopped" : " active") +
           (uploads ? " uploads" : " no-uploads");
}

const Item& itemNamed(const Library& library, const std::string& name) {
    const auto found = std::find_if(library.items.begin(), library.items.end(),
                                    [&](const Item& i) { return i.name == name; });
    if (found == library.items.end()) {
        throw std::runtime_error("no item named " + name);
    }
    return *found;
}
const Item& itemWithContent(const Library& library, const std::string& content) {
    const auto found = std::find_if(library.items.begin(), library.items.end(),
                                    [&](const Item& i) { return i.content == content; });
    if (found == library.items.end()) {
        throw std::runtime_error("no item holding " + content);
    }
    return *found;
}
const Share& shareTitled(const Library& library, const std::string& title) {
    const auto found = std::find_if(library.shares.begin(), library.shares.end(),
                                    [&](const Share& s) { return s.title == title; });
    if (found == library.shares.end()) {
        throw std::runtime_error("no share titled " + title);
    }
    return *found;
}
const Folder& folderNamed(const Library& library, const std::string& name) {
    const auto found = std::find_if(library.folders.begin(), library.folders.end(),
                                    [&](const Folder& f) { return f.name == name; });
    if (found == library.folders.end()) {
        throw std::runtime_error("no folder named " + name);
    }
    return *found;
}

/// The same operations on plain values.
struct Model {
    struct File {
        std::string name;
        std::string folder;
    };
    struct Counted {
        std::int64_t downloads = 0;
        bool stopped = false;
    };
    std::map<int, File> files;
    std::set<std::string> texts;
    std::vector<std::string> folders;
    std::map<int, Counted> shares;

    void apply(int k) {
        const int cycle = k / operationsPerCycle;
        switch (k % operationsPerCycle) {
        case 0:
            files[cycle] = {fileName(cycle), "/"};
            break;
        case 1:
            texts.insert(noteText(cycle));
            break;
        case 2:
            shares[cycle] = {};
            break;
        case 3:
            shares.at(cycle).downloads += 1;
            break;
        case 4:
            files.at(cycle).name = renamedName(cycle);
            break;
        case 5:
            texts.erase(noteText(cycle));
            break;
        case 6:
            shares.at(countedCycle(cycle)).downloads += 1;
            break;
        case 7:
            if (deletesPrevious(cycle)) {
                files.erase(cycle - 1);
                shares.at(cycle - 1).stopped = true;
            } else {
                folders.push_back(folderName(cycle));
            }
            break;
        case 8:
            if (deletesPrevious(cycle)) {
                shares.erase(cycle - 1);
            } else {
                files.at(cycle).folder = folderName(cycle);
            }
            break;
        case 9:
            texts.insert(linkText(cycle));
            break;
        }
    }

    std::vector<std::string> lines() const {
        std::vector<std::string> result;
        for (const auto& [cycle, file] : files) {
            result.push_back(fileLine(file.name, file.folder, static_cast<std::int64_t>(fileSize(cycle))));
        }
        for (const std::string& text : texts) {
            result.push_back(textLine(text, "/"));
        }
        for (const std::string& folder : folders) {
            result.push_back(folderLine(folder, "/"));
        }
        for (const auto& [cycle, share] : shares) {
            result.push_back(shareLine(fileName(cycle), share.downloads, share.stopped, false));
        }
        std::sort(result.begin(), result.end());
        return result;
    }
};

} // namespace

std::string fileContents(int cycle) {
    // Bytes that differ from cycle to cycle and along the file, so a copy cut short or mixed up with
    // another shows.
    std::string bytes(fileSize(cycle), '\0');
    std::uint32_t state = 2166136261u ^ static_cast<std::uint32_t>(cycle);
    for (char& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

int cycleOfFile(const std::string& name) {
    if (name.size() < 6 || (name[0] != 'f' && name[0] != 'r') || !name.ends_with(".bin")) {
        return -1;
    }
    const std::string digits = name.substr(1, name.size() - 5);
    if (digits.empty() ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return -1;
    }
    return std::stoi(digits);
}

void apply(LibraryStore& store, int k, const std::filesystem::path& scratch) {
    const int cycle = k / operationsPerCycle;
    const Library library = store.snapshot();
    switch (k % operationsPerCycle) {
    case 0: {
        const auto source = scratch / fileName(cycle);
        {
            std::ofstream out(source, std::ios::binary | std::ios::trunc);
            out << fileContents(cycle);
            if (!out.flush()) {
                throw std::runtime_error("cannot write " + source.string());
            }
        }
        store.addFile(source, std::nullopt);
        std::filesystem::remove(source);
        break;
    }
    case 1:
        store.addText(noteText(cycle), std::nullopt);
        break;
    case 2:
        store.share(ShareTarget::item(itemNamed(library, fileName(cycle)).id), ShareDuration::untilStopped,
                    false);
        break;
    case 3:
        store.recordDownload(shareTitled(library, fileName(cycle)).token);
        break;
    case 4:
        store.renameItem(itemNamed(library, fileName(cycle)).id, renamedName(cycle));
        break;
    case 5:
        store.deleteItem(itemWithContent(library, noteText(cycle)).id);
        break;
    case 6:
        store.recordDownload(shareTitled(library, fileName(countedCycle(cycle))).token);
        break;
    case 7:
        if (deletesPrevious(cycle)) {
            store.deleteItem(itemNamed(library, renamedName(cycle - 1)).id);
        } else {
            store.addFolder(folderName(cycle), std::nullopt);
        }
        break;
    case 8:
        if (deletesPrevious(cycle)) {
            store.forgetShare(shareTitled(library, fileName(cycle - 1)).token);
        } else {
            store.moveItem(itemNamed(library, renamedName(cycle)).id,
                           folderNamed(library, folderName(cycle)).id);
        }
        break;
    case 9:
        store.addText(linkText(cycle), std::nullopt);
        break;
    }
}

std::vector<std::string> stateOf(const Library& library) {
    const auto folderOf = [&](const std::optional<std::string>& id) -> std::string {
        if (!id) {
            return "/";
        }
        const auto folder = library.folder(id);
        return folder ? folder->name : "(missing folder " + *id + ")";
    };
    std::vector<std::string> result;
    for (const Item& item : library.items) {
        if (item.kind == ItemKind::file) {
            result.push_back(fileLine(item.name, folderOf(item.folderID), item.size));
        } else {
            result.push_back(textLine(item.content.value_or("(no content)"), folderOf(item.folderID)));
        }
    }
    for (const Folder& folder : library.folders) {
        result.push_back(folderLine(folder.name, folderOf(folder.parentID)));
    }
    for (const Share& share : library.shares) {
        result.push_back(
            shareLine(share.title, share.downloads, share.stopped.has_value(), share.allowsUploads));
    }
    std::sort(result.begin(), result.end());
    return result;
}

std::vector<std::string> expectedState(int count) {
    Model model;
    for (int k = 0; k < count; ++k) {
        model.apply(k);
    }
    return model.lines();
}

} // namespace CrashSequence
