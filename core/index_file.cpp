#include "index_file.h"

#include "json_writer.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>
#include <limits>

using nlohmann::json;

namespace IndexFile {
namespace {

// ---- writing ----
// Keys are written in ascending order by hand: the index is rewritten after every change, and
// streaming it out is several times faster than building a document and sorting it.

void put(JsonWriter& w, const char* key, const std::string& value) {
    w.key(key);
    w.value(value);
}

void put(JsonWriter& w, const char* key, Date value) {
    w.key(key);
    w.value(value.sinceReferenceDate);
}

void put(JsonWriter& w, const char* key, std::int64_t value) {
    w.key(key);
    w.value(value);
}

template <typename T>
void putOptional(JsonWriter& w, const char* key, const std::optional<T>& value) {
    if (value) {
        put(w, key, *value);
    }
}

void putStrings(JsonWriter& w, const char* key, const std::vector<std::string>& values) {
    w.key(key);
    w.beginArray();
    for (const std::string& v : values) {
        w.value(v);
    }
    w.endArray();
}

const char* caseName(ShareTarget::Kind kind) {
    switch (kind) {
    case ShareTarget::Kind::folder:
        return "folder";
    case ShareTarget::Kind::item:
        return "item";
    case ShareTarget::Kind::bundle:
        return "bundle";
    case ShareTarget::Kind::inbox:
        break;
    }
    return "inbox";
}

void encodeTarget(JsonWriter& w, const ShareTarget& target) {
    w.beginObject();
    w.key(caseName(target.kind()));
    w.beginObject();
    putOptional(w, "_0", target.id());
    w.endObject();
    w.endObject();
}

void encodeFolder(JsonWriter& w, const Folder& f) {
    w.beginObject();
    put(w, "created", f.created);
    put(w, "id", f.id);
    put(w, "name", f.name);
    putOptional(w, "parentID", f.parentID);
    w.endObject();
}

void encodeItem(JsonWriter& w, const Item& item) {
    w.beginObject();
    putOptional(w, "content", item.content);
    put(w, "created", item.created);
    putOptional(w, "folderID", item.folderID);
    put(w, "id", item.id);
    w.key("kind");
    w.value(toString(item.kind));
    put(w, "name", item.name);
    putOptional(w, "receivedFrom", item.receivedFrom);
    put(w, "size", item.size);
    w.endObject();
}

void encodeShare(JsonWriter& w, const Share& s) {
    w.beginObject();
    w.key("allowsUploads");
    w.value(s.allowsUploads);
    putStrings(w, "contents", s.contents);
    put(w, "created", s.created);
    put(w, "downloads", s.downloads);
    w.key("duration");
    w.value(s.duration.id());
    putOptional(w, "expires", s.expires);
    put(w, "itemCount", s.itemCount);
    putOptional(w, "stopped", s.stopped);
    w.key("target");
    encodeTarget(w, s.target);
    put(w, "title", s.title);
    put(w, "token", s.token);
    put(w, "totalSize", s.totalSize);
    w.endObject();
}

void encodeBundle(JsonWriter& w, const ShareBundle& b) {
    w.beginObject();
    put(w, "created", b.created);
    putStrings(w, "folderIDs", b.folderIDs);
    put(w, "id", b.id);
    putStrings(w, "itemIDs", b.itemIDs);
    put(w, "name", b.name);
    w.endObject();
}

void encodeDevice(JsonWriter& w, const PairedDevice& d) {
    w.beginObject();
    put(w, "id", d.id);
    putOptional(w, "lastSent", d.lastSent);
    put(w, "name", d.name);
    put(w, "paired", d.paired);
    put(w, "sentCount", d.sentCount);
    put(w, "token", d.token);
    w.endObject();
}

template <typename Record>
void encodeList(JsonWriter& w, const char* key, const std::vector<Record>& records,
                void (*encodeOne)(JsonWriter&, const Record&)) {
    w.key(key);
    w.beginArray();
    for (const Record& record : records) {
        encodeOne(w, record);
    }
    w.endArray();
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
    // Roughly 300 bytes a record; reserving up front avoids regrowing a multi-megabyte string.
    const std::size_t records = library.folders.size() + library.items.size() + library.shares.size() +
                                library.bundles.size() + library.devices.size() +
                                library.deviceFolders.size();
    JsonWriter w(4096 + records * 320);
    w.beginObject();
    encodeList(w, "bundles", library.bundles, &encodeBundle);
    w.key("deviceFolders");
    w.beginObject();
    for (const auto& [sender, folderID] : library.deviceFolders) { // std::map: already in key order
        w.key(sender);
        w.value(folderID);
    }
    w.endObject();
    encodeList(w, "devices", library.devices, &encodeDevice);
    encodeList(w, "folders", library.folders, &encodeFolder);
    encodeList(w, "items", library.items, &encodeItem);
    encodeList(w, "shares", library.shares, &encodeShare);
    w.endObject();
    return w.take();
}

Library decode(std::string_view text) {
    json root;
    try {
        root = json::parse(text.begin(), text.end());
    } catch (const json::exception& error) {
        // Not only parse errors: a number too large for a double ("1e400") is out_of_range.
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
