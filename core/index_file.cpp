#include "index_file.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>
#include <limits>

using nlohmann::json;

namespace IndexFile {
namespace {

// ---- writing ----

json dateValue(Date date) {
    // Whole seconds go out as integers ("0", not "0.0"); anything else as the shortest double that
    // reads back to exactly the same value.
    const double seconds = date.sinceReferenceDate;
    constexpr double exactIntegerLimit = 9007199254740992.0; // 2^53
    if (std::isfinite(seconds) && seconds == std::trunc(seconds) && std::fabs(seconds) < exactIntegerLimit) {
        return static_cast<std::int64_t>(seconds);
    }
    return seconds;
}

void putOptional(json& object, const char* key, const std::optional<std::string>& value) {
    if (value) {
        object[key] = *value;
    }
}

void putOptional(json& object, const char* key, const std::optional<Date>& value) {
    if (value) {
        object[key] = dateValue(*value);
    }
}

json encodeTarget(const ShareTarget& target) {
    json associated = json::object();
    if (target.id()) {
        associated["_0"] = *target.id();
    }
    const char* name = "inbox";
    switch (target.kind()) {
    case ShareTarget::Kind::folder:
        name = "folder";
        break;
    case ShareTarget::Kind::item:
        name = "item";
        break;
    case ShareTarget::Kind::bundle:
        name = "bundle";
        break;
    case ShareTarget::Kind::inbox:
        break;
    }
    return json{{name, std::move(associated)}};
}

json encodeFolder(const Folder& f) {
    json object{{"id", f.id}, {"name", f.name}, {"created", dateValue(f.created)}};
    putOptional(object, "parentID", f.parentID);
    return object;
}

json encodeItem(const Item& item) {
    json object{{"id", item.id},
                {"kind", std::string(toString(item.kind))},
                {"name", item.name},
                {"size", item.size},
                {"created", dateValue(item.created)}};
    putOptional(object, "folderID", item.folderID);
    putOptional(object, "content", item.content);
    putOptional(object, "receivedFrom", item.receivedFrom);
    return object;
}

json encodeShare(const Share& s) {
    json object{{"token", s.token},
                {"target", encodeTarget(s.target)},
                {"created", dateValue(s.created)},
                {"duration", std::string(s.duration.id())},
                {"downloads", s.downloads},
                {"allowsUploads", s.allowsUploads},
                {"title", s.title},
                {"contents", s.contents},
                {"itemCount", s.itemCount},
                {"totalSize", s.totalSize}};
    putOptional(object, "expires", s.expires);
    putOptional(object, "stopped", s.stopped);
    return object;
}

json encodeBundle(const ShareBundle& b) {
    return json{{"id", b.id},
                {"name", b.name},
                {"itemIDs", b.itemIDs},
                {"folderIDs", b.folderIDs},
                {"created", dateValue(b.created)}};
}

json encodeDevice(const PairedDevice& d) {
    json object{{"id", d.id},
                {"name", d.name},
                {"token", d.token},
                {"paired", dateValue(d.paired)},
                {"sentCount", d.sentCount}};
    putOptional(object, "lastSent", d.lastSent);
    return object;
}

template <typename Record>
json encodeList(const std::vector<Record>& records, json (*encodeOne)(const Record&)) {
    json list = json::array();
    for (const Record& record : records) {
        list.push_back(encodeOne(record));
    }
    return list;
}

// ---- reading ----

[[noreturn]] void fail(const std::string& message) {
    throw DecodeError(message);
}

const json* member(const json& object, const char* key) {
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

/// A present, non-null member; missing or null fails.
const json& required(const json& object, const char* key) {
    const json* value = member(object, key);
    if (!value || value->is_null()) {
        fail(std::string("missing required key \"") + key + "\"");
    }
    return *value;
}

/// A member that may be missing or null.
const json* optional(const json& object, const char* key) {
    const json* value = member(object, key);
    return value && !value->is_null() ? value : nullptr;
}

const json& expectObject(const json& value, const char* what) {
    if (!value.is_object()) {
        fail(std::string(what) + ": expected an object");
    }
    return value;
}

std::string readString(const json& value, const char* key) {
    if (!value.is_string()) {
        fail(std::string("\"") + key + "\": expected a string");
    }
    return value.get<std::string>();
}

std::int64_t readInteger(const json& value, const char* key) {
    if (value.is_number_integer() && !value.is_number_unsigned()) {
        return value.get<std::int64_t>();
    }
    if (value.is_number_unsigned() &&
        value.get<std::uint64_t>() <= std::numeric_limits<std::int64_t>::max()) {
        return static_cast<std::int64_t>(value.get<std::uint64_t>());
    }
    // A float is accepted only where it is exactly a whole number in range.
    if (value.is_number_float()) {
        const double d = value.get<double>();
        if (d == std::trunc(d) && d >= -9223372036854775808.0 && d < 9223372036854775808.0) {
            return static_cast<std::int64_t>(d);
        }
    }
    fail(std::string("\"") + key + "\": expected an integer");
}

Date readDate(const json& value, const char* key) {
    if (!value.is_number()) {
        fail(std::string("\"") + key + "\": expected a number of seconds");
    }
    return Date{value.get<double>()};
}

bool readBool(const json& value, const char* key) {
    if (!value.is_boolean()) {
        fail(std::string("\"") + key + "\": expected a boolean");
    }
    return value.get<bool>();
}

std::vector<std::string> readStrings(const json& value, const char* key) {
    if (!value.is_array()) {
        fail(std::string("\"") + key + "\": expected an array");
    }
    std::vector<std::string> result;
    result.reserve(value.size());
    for (const json& element : value) {
        result.push_back(readString(element, key));
    }
    return result;
}

std::optional<std::string> optionalString(const json& object, const char* key) {
    const json* value = optional(object, key);
    return value ? std::optional(readString(*value, key)) : std::nullopt;
}

std::optional<Date> optionalDate(const json& object, const char* key) {
    const json* value = optional(object, key);
    return value ? std::optional(readDate(*value, key)) : std::nullopt;
}

ShareTarget decodeTarget(const json& value) {
    expectObject(value, "target");
    static constexpr const char* cases[] = {"folder", "item", "bundle", "inbox"};
    const char* found = nullptr;
    int count = 0;
    for (const char* name : cases) {
        if (value.contains(name)) {
            found = name;
            ++count;
        }
    }
    if (count != 1) {
        fail("Invalid number of keys found, expected one.");
    }
    const json& associated = expectObject(value.at(found), found);
    const std::string_view kind = found;
    if (kind == "folder") {
        return ShareTarget::folder(optionalString(associated, "_0"));
    }
    if (kind == "inbox") {
        return ShareTarget::inbox();
    }
    std::string id = readString(required(associated, "_0"), "_0");
    return kind == "item" ? ShareTarget::item(std::move(id)) : ShareTarget::bundle(std::move(id));
}

Folder decodeFolder(const json& value) {
    expectObject(value, "folder");
    return Folder{
        .id = readString(required(value, "id"), "id"),
        .name = readString(required(value, "name"), "name"),
        .parentID = optionalString(value, "parentID"),
        .created = readDate(required(value, "created"), "created"),
    };
}

Item decodeItem(const json& value) {
    expectObject(value, "item");
    const auto kindText = readString(required(value, "kind"), "kind");
    const auto kind = itemKindFromString(kindText);
    if (!kind) {
        fail("unknown item kind \"" + kindText + "\"");
    }
    return Item{
        .id = readString(required(value, "id"), "id"),
        .folderID = optionalString(value, "folderID"),
        .kind = *kind,
        .name = readString(required(value, "name"), "name"),
        .size = readInteger(required(value, "size"), "size"),
        .created = readDate(required(value, "created"), "created"),
        .content = optionalString(value, "content"),
        .receivedFrom = optionalString(value, "receivedFrom"),
    };
}

Share decodeShare(const json& value) {
    expectObject(value, "share");
    const auto durationText = readString(required(value, "duration"), "duration");
    const auto duration = ShareDuration::fromID(durationText);
    if (!duration) {
        fail("unknown share duration \"" + durationText + "\"");
    }
    Share s{
        .token = readString(required(value, "token"), "token"),
        .target = decodeTarget(required(value, "target")),
        .created = readDate(required(value, "created"), "created"),
        .duration = *duration,
        .expires = optionalDate(value, "expires"),
        .downloads = readInteger(required(value, "downloads"), "downloads"),
        .stopped = optionalDate(value, "stopped"),
    };
    // Older indexes may lack these; they read with their defaults.
    if (const json* v = optional(value, "allowsUploads")) {
        s.allowsUploads = readBool(*v, "allowsUploads");
    }
    if (const json* v = optional(value, "title")) {
        s.title = readString(*v, "title");
    }
    if (const json* v = optional(value, "contents")) {
        s.contents = readStrings(*v, "contents");
    }
    if (const json* v = optional(value, "itemCount")) {
        s.itemCount = readInteger(*v, "itemCount");
    }
    if (const json* v = optional(value, "totalSize")) {
        s.totalSize = readInteger(*v, "totalSize");
    }
    return s;
}

ShareBundle decodeBundle(const json& value) {
    expectObject(value, "bundle");
    return ShareBundle{
        .id = readString(required(value, "id"), "id"),
        .name = readString(required(value, "name"), "name"),
        .itemIDs = readStrings(required(value, "itemIDs"), "itemIDs"),
        .folderIDs = readStrings(required(value, "folderIDs"), "folderIDs"),
        .created = readDate(required(value, "created"), "created"),
    };
}

PairedDevice decodeDevice(const json& value) {
    expectObject(value, "device");
    return PairedDevice{
        .id = readString(required(value, "id"), "id"),
        .name = readString(required(value, "name"), "name"),
        .token = readString(required(value, "token"), "token"),
        .paired = readDate(required(value, "paired"), "paired"),
        .lastSent = optionalDate(value, "lastSent"),
        .sentCount = readInteger(required(value, "sentCount"), "sentCount"),
    };
}

template <typename Record>
std::vector<Record> decodeList(const json& object, const char* key, Record (*decodeOne)(const json&)) {
    std::vector<Record> result;
    const json* list = optional(object, key);
    if (!list) {
        return result;
    }
    if (!list->is_array()) {
        fail(std::string("\"") + key + "\": expected an array");
    }
    result.reserve(list->size());
    for (const json& element : *list) {
        result.push_back(decodeOne(element));
    }
    return result;
}

} // namespace

std::string encode(const Library& library) {
    json root{
        {"folders", encodeList(library.folders, &encodeFolder)},
        {"items", encodeList(library.items, &encodeItem)},
        {"shares", encodeList(library.shares, &encodeShare)},
        {"bundles", encodeList(library.bundles, &encodeBundle)},
        {"devices", encodeList(library.devices, &encodeDevice)},
        {"deviceFolders", json(library.deviceFolders)},
    };
    // nlohmann's objects are std::maps, so keys come out sorted at every level. Invalid UTF-8 (a name
    // taken from a foreign file system) is written as U+FFFD rather than failing the whole save.
    return root.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

Library decode(std::string_view text) {
    json root;
    try {
        root = json::parse(text.begin(), text.end());
    } catch (const json::parse_error& error) {
        fail(error.what());
    }
    expectObject(root, "index");
    Library library;
    library.folders = decodeList(root, "folders", &decodeFolder);
    library.items = decodeList(root, "items", &decodeItem);
    library.shares = decodeList(root, "shares", &decodeShare);
    library.bundles = decodeList(root, "bundles", &decodeBundle);
    library.devices = decodeList(root, "devices", &decodeDevice);
    if (const json* map = optional(root, "deviceFolders")) {
        expectObject(*map, "deviceFolders");
        for (const auto& [key, value] : map->items()) {
            library.deviceFolders.emplace(key, readString(value, "deviceFolders"));
        }
    }
    return library;
}

} // namespace IndexFile
