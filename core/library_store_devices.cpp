// LibraryStore: pairing phones, and filing what phones send.
#include "library_store.h"
#include "names.h"
#include "text.h"

#include <algorithm>

namespace {

constexpr std::size_t pairingCodeLength = 12;
constexpr std::size_t deviceTokenLength = 24;
constexpr std::size_t maxDeviceName = 40;

} // namespace

LibraryStore::PairingCode LibraryStore::newPairingCode() {
    PairingCode made{Names::token(pairingCodeLength), now_().adding(pairingCodeLifetime)};
    std::lock_guard guard(lock_);
    pairingCodes_.clear();
    pairingCodes_.emplace(made.code, made.expires);
    return made;
}

bool LibraryStore::isPairingCodeValid(std::string_view code) const {
    std::lock_guard guard(lock_);
    const auto found = pairingCodes_.find(code);
    return found != pairingCodes_.end() && now_() < found->second;
}

void LibraryStore::cancelPairing() {
    std::lock_guard guard(lock_);
    pairingCodes_.clear();
}

std::optional<PairedDevice> LibraryStore::claimPairing(std::string_view code, std::string_view deviceName) {
    {
        std::lock_guard guard(lock_);
        const auto found = pairingCodes_.find(code);
        if (found == pairingCodes_.end() || !(now_() < found->second)) {
            return std::nullopt;
        }
        pairingCodes_.erase(found);
    }
    // Trimmed again once invisible format characters are gone, so that they cannot leave a blank name.
    std::string name = Text::prefixScalars(
        Text::trimmed(Text::removingControlCharacters(Text::trimmed(deviceName))), maxDeviceName);
    if (name.empty()) {
        name = "Phone";
    }
    return mutate([&](Library& library) {
        std::string token;
        do {
            token = Names::token(deviceTokenLength);
        } while (library.device(token));
        PairedDevice device{Names::newID(), name, token, now_(), std::nullopt, 0};
        library.devices.push_back(device);
        return device;
    });
}

void LibraryStore::renameDevice(std::string_view id, std::string_view name) {
    const std::string trimmed = Text::trimmed(name);
    if (trimmed.empty()) {
        return;
    }
    mutate([&](Library& library) {
        const auto found = std::find_if(library.devices.begin(), library.devices.end(),
                                        [&](const PairedDevice& d) { return d.id == id; });
        if (found != library.devices.end()) {
            found->name = Text::prefixCharacters(trimmed, maxDeviceName);
        }
    });
}

void LibraryStore::removeDevice(std::string_view id) {
    mutate([&](Library& library) {
        std::erase_if(library.devices, [&](const PairedDevice& d) { return d.id == id; });
    });
}

std::string LibraryStore::folderForDevice(const std::string& key, std::string_view name) {
    return mutate([&](Library& library) {
        const auto entry = library.deviceFolders.find(key);
        if (entry != library.deviceFolders.end() && library.folder(entry->second)) {
            return entry->second;
        }
        std::vector<std::string> taken;
        for (const Folder& f : library.foldersIn(std::nullopt)) {
            taken.push_back(f.name);
        }
        Folder folder{Names::newID(), Names::unique(Names::safeFileName("From " + std::string(name)), taken),
                      std::nullopt, now_()};
        library.folders.push_back(folder);
        library.deviceFolders[key] = folder.id;
        return folder.id;
    });
}

Item LibraryStore::receiveFromDevice(const Path& temporary, std::string_view name, std::string_view token) {
    const auto device = snapshot().device(token);
    if (!device) {
        throw LibraryError(LibraryError::notFound);
    }
    const Path named = renameBesideItself(temporary, name);
    const std::string folder = folderForDevice(device->id, device->name);
    const auto items = addFile(named, folder, device->name, true);
    if (items.empty()) {
        throw LibraryError(LibraryError::notFound);
    }
    recordDeviceSend(token);
    return items.front();
}

std::optional<Item> LibraryStore::receiveText(std::string_view text, std::string_view token) {
    const auto device = snapshot().device(token);
    if (!device) {
        return std::nullopt;
    }
    const std::string folder = folderForDevice(device->id, device->name);
    auto item = addText(text, folder, device->name);
    if (!item) {
        return std::nullopt;
    }
    recordDeviceSend(token);
    return item;
}

void LibraryStore::recordDeviceSend(std::string_view token) {
    mutate([&](Library& library) {
        const auto found = std::find_if(library.devices.begin(), library.devices.end(),
                                        [&](const PairedDevice& d) { return d.token == token; });
        if (found != library.devices.end()) {
            found->lastSent = now_();
            found->sentCount += 1;
        }
    });
}
