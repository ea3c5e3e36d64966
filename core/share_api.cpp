#include "share_api.h"

#include "json_writer.h"

#include <algorithm>

namespace {

SharePayload::FolderEntry folderEntry(const Library& library, const Folder& folder) {
    return {.id = folder.id,
            .name = folder.name,
            .count = static_cast<std::int64_t>(library.childCount(folder.id))};
}

SharePayload::ItemEntry itemEntry(const Item& item) {
    return {.id = item.id,
            .kind = item.kind,
            .name = item.name,
            .size = item.size,
            .created = item.created,
            .content = item.content};
}

SharePayload::Crumb crumb(const Folder& folder) {
    return {.id = folder.id, .name = folder.name};
}

/// The folder's own subfolders and items, in display order.
void list(const Library& library, const std::optional<std::string>& folderID, SharePayload& payload) {
    for (const Folder& f : library.foldersIn(folderID)) {
        payload.folders.push_back(folderEntry(library, f));
    }
    for (const Item& i : library.itemsIn(folderID)) {
        payload.items.push_back(itemEntry(i));
    }
}

bool fillFolder(const Library& library, const std::optional<std::string>& root,
                const std::optional<std::string>& requested, SharePayload& payload) {
    const std::optional<std::string>& listed = requested ? requested : root;
    if (!library.folderIsInside(listed, root) || (listed && !library.folder(listed))) {
        return false;
    }
    payload.path.push_back({.id = root, .name = payload.title});
    const std::vector<Folder> chain = library.path(listed);
    // The share's own crumb stands for the root, so only the folders below it follow; the ones above
    // the root are not part of the share and their names stay private.
    auto below = chain.begin();
    if (root) {
        const auto found =
            std::find_if(chain.begin(), chain.end(), [&](const Folder& f) { return f.id == *root; });
        below = found == chain.end() ? chain.end() : std::next(found);
    }
    std::transform(below, chain.end(), std::back_inserter(payload.path), crumb);
    list(library, listed, payload);
    payload.folderID = listed;
    return true;
}

bool fillBundle(const Library& library, const ShareBundle& bundle,
                const std::optional<std::string>& requested, SharePayload& payload) {
    payload.path.push_back({.id = std::nullopt, .name = payload.title});
    if (!requested) {
        // The bundle's own order is the one the person chose; members that are gone are skipped.
        for (const std::string& id : bundle.folderIDs) {
            if (const auto f = library.folder(id)) {
                payload.folders.push_back(folderEntry(library, *f));
            }
        }
        for (const std::string& id : bundle.itemIDs) {
            if (const auto i = library.item(id)) {
                payload.items.push_back(itemEntry(*i));
            }
        }
        return true;
    }
    if (!library.folder(requested) || !library.folderIsInBundle(requested, bundle)) {
        return false;
    }
    // The trail continues with the member the visitor entered through: the first in bundle order
    // that lies on the way to the requested folder.
    const std::vector<Folder> chain = library.path(requested);
    auto anchor = chain.end();
    for (const std::string& member : bundle.folderIDs) {
        anchor = std::find_if(chain.begin(), chain.end(), [&](const Folder& f) { return f.id == member; });
        if (anchor != chain.end()) {
            break;
        }
    }
    if (anchor == chain.end()) {
        return false;
    }
    std::transform(anchor, chain.end(), std::back_inserter(payload.path), crumb);
    list(library, requested, payload);
    payload.folderID = requested;
    return true;
}

void put(JsonWriter& w, const char* key, std::string_view value) {
    w.key(key);
    w.value(value);
}

void writeCrumb(JsonWriter& w, const SharePayload::Crumb& c) {
    w.beginObject();
    if (c.id) {
        put(w, "id", *c.id);
    }
    put(w, "name", c.name);
    w.endObject();
}

void writeFolder(JsonWriter& w, const SharePayload::FolderEntry& f) {
    w.beginObject();
    put(w, "id", f.id);
    put(w, "name", f.name);
    w.key("count");
    w.value(f.count);
    w.endObject();
}

void writeItem(JsonWriter& w, const SharePayload::ItemEntry& i) {
    w.beginObject();
    put(w, "id", i.id);
    put(w, "kind", toString(i.kind));
    put(w, "name", i.name);
    w.key("size");
    w.value(i.size);
    put(w, "created", i.created.iso8601());
    if (i.content) {
        put(w, "content", *i.content);
    }
    w.endObject();
}

template <typename Entry>
void writeArray(JsonWriter& w, const char* key, const std::vector<Entry>& entries,
                void (*writeOne)(JsonWriter&, const Entry&)) {
    w.key(key);
    w.beginArray();
    for (const Entry& entry : entries) {
        writeOne(w, entry);
    }
    w.endArray();
}

} // namespace

std::optional<SharePayload> ShareAPI::payload(const Library& library, const Share& share,
                                              const std::optional<std::string>& folderID,
                                              std::string_view mac) {
    SharePayload result;
    result.mac = std::string(mac);
    result.title = library.displayName(share.target);
    result.expires = share.expires;
    result.canUpload = share.allowsUploads;
    switch (share.target.kind()) {
    case ShareTarget::Kind::inbox:
        result.title = "Send to " + result.mac;
        result.inbox = true;
        // An inbox exists only to receive, so its page always offers sending.
        result.canUpload = true;
        return result;
    case ShareTarget::Kind::item: {
        const auto item = library.item(share.target.id().value_or(""));
        if (!item) {
            return std::nullopt;
        }
        result.items.push_back(itemEntry(*item));
        return result;
    }
    case ShareTarget::Kind::folder:
        if (!fillFolder(library, share.target.id(), folderID, result)) {
            return std::nullopt;
        }
        return result;
    case ShareTarget::Kind::bundle: {
        const auto bundle = library.bundle(share.target.id().value_or(""));
        if (!bundle || !fillBundle(library, *bundle, folderID, result)) {
            return std::nullopt;
        }
        return result;
    }
    }
    return std::nullopt;
}

std::string ShareAPI::json(const SharePayload& payload) {
    // Streamed in field order; names from file names and phones that are not UTF-8 come out as U+FFFD.
    JsonWriter w(512 + payload.items.size() * 200 + payload.folders.size() * 100, JsonWriter::Style::compact);
    w.beginObject();
    put(w, "mac", payload.mac);
    put(w, "title", payload.title);
    w.key("inbox");
    w.value(payload.inbox);
    if (payload.expires) {
        put(w, "expires", payload.expires->iso8601());
    }
    w.key("canUpload");
    w.value(payload.canUpload);
    writeArray(w, "path", payload.path, &writeCrumb);
    if (payload.folderID) {
        put(w, "folderID", *payload.folderID);
    }
    writeArray(w, "folders", payload.folders, &writeFolder);
    writeArray(w, "items", payload.items, &writeItem);
    if (payload.followURL) {
        put(w, "followURL", *payload.followURL);
    }
    w.endObject();
    return w.take();
}
