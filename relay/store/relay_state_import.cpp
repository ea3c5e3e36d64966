#include "relay/store/relay_state_import.h"

#include "relay/secret_hash.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

/// The only layout an earlier relay wrote; any other version is refused rather than guessed at.
constexpr int stateVersion = 1;

std::string text(const json& object, const char* name) {
    return object.at(name).get<std::string>();
}

/// Throws nlohmann's exceptions (or RelayStateError) on anything that is not what the earlier relay wrote.
RelayMacRecord macFromJSON(const json& object) {
    RelayMacRecord record;
    RelayMac& mac = record.mac;
    mac.secretHash = text(object, "secretSHA256");
    if (!SecretHash::isDigest(mac.secretHash)) {
        throw RelayStateError("a secret's digest is not 64 hex digits");
    }
    mac.createdAt = object.at("created").get<std::int64_t>();
    mac.lastCheckIn = object.at("lastCheckIn").get<std::int64_t>();
    mac.presence.name = text(object, "name");
    mac.presence.lan = object.at("lan").get<std::vector<std::string>>();
    mac.presence.ssid = text(object, "ssid");
    for (const auto& share : object.at("shares")) {
        mac.presence.shares.push_back({text(share, "token"), text(share, "title")});
    }
    mac.presence.devices = object.at("devices").get<std::vector<std::string>>();
    for (const auto& [token, visitors] : object.at("followers").items()) {
        record.followers[token] = visitors.get<std::set<std::string>>();
    }
    for (const auto& note : object.at("notifications")) {
        record.notifications.push_back({text(note, "token"), text(note, "title"), text(note, "body"),
                                        note.at("at").get<std::int64_t>()});
    }
    for (const auto& [device, items] : object.at("pending").items()) {
        auto& queue = record.pending[device];
        for (const auto& item : items) {
            queue.push_back({text(item, "token"), text(item, "title"), item.at("at").get<std::int64_t>()});
        }
    }
    return record;
}

} // namespace

namespace RelayStateImport {

std::map<std::string, RelayMacRecord> decode(std::string_view text) {
    std::map<std::string, RelayMacRecord> macs;
    try {
        const json document = json::parse(text);
        if (!document.is_object() || document.at("version").get<int>() != stateVersion) {
            throw RelayStateError("not a tesk-relay state of version " + std::to_string(stateVersion));
        }
        for (const auto& [id, mac] : document.at("macs").items()) {
            macs.emplace(id, macFromJSON(mac));
        }
    } catch (const json::exception& error) {
        throw RelayStateError(error.what());
    }
    return macs;
}

std::optional<fs::path> importFile(RelayStore& store, const fs::path& path, std::int64_t now) {
    std::error_code error;
    const auto status = fs::status(path, error);
    if (status.type() == fs::file_type::not_found) {
        return std::nullopt;
    }
    if (error) {
        throw RelayStateError("cannot read " + path.string() + ": " + error.message());
    }
    if (!fs::is_regular_file(status)) {
        throw RelayStateError(path.string() + " is not a regular file");
    }
    std::ifstream file(path, std::ios::binary);
    std::ostringstream contents;
    contents << file.rdbuf();
    if (!file) {
        throw RelayStateError("cannot read " + path.string());
    }
    std::map<std::string, RelayMacRecord> macs;
    try {
        macs = decode(contents.str());
    } catch (const RelayStateError& decoding) {
        throw RelayStateError("cannot decode " + path.string() + ": " + decoding.what());
    }
    store.transaction([&] {
        for (const auto& [id, record] : macs) {
            store.restore(id, record);
        }
    });
    fs::path kept = path;
    kept += ".imported-" + std::to_string(now);
    fs::rename(path, kept);
    return kept;
}

} // namespace RelayStateImport
