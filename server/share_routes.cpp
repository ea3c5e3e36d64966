// Routes under /s/<token>/: the share page, its JSON document, downloads and uploads.
#include "core/ascii.h"
#include "core/share_api.h"
#include "core/text.h"
#include "server/page_style.h"
#include "server/receiver_page.h"
#include "server/routes.h"

#include <algorithm>
#include <set>

namespace {

/// Longest sender name kept from "X-Tesk-Device", in characters.
constexpr std::size_t maxSenderCharacters = 40;

std::optional<std::string> header(const HTTPRequest& request, const std::string& name) {
    const auto found = request.headers.find(name);
    return found == request.headers.end() ? std::nullopt : std::optional(found->second);
}

/// The "folder" query item, when there is a non-empty one.
std::optional<std::string> folderOf(const HTTPRequest& request) {
    if (const auto found = request.query.find("folder");
        found != request.query.end() && !found->second.empty()) {
        return found->second;
    }
    return std::nullopt;
}

/// The JSON document of `share`, as found in `library` at `version`, for the folder the query asks for;
/// null when the folder is not one the share covers.
std::shared_ptr<const std::string> documentFor(const HTTPRequest& request, const Library& library,
                                               std::uint64_t version, const Share& share,
                                               const ServerFacts& facts, DocumentCache& documents) {
    const std::optional<std::string> folder = folderOf(request);
    std::optional<std::string> followURL;
    const auto kind = share.target.kind();
    if ((kind == ShareTarget::Kind::folder || kind == ShareTarget::Kind::bundle) && facts.followBase) {
        followURL = *facts.followBase + "/" + share.token + "/follow";
    }
    // Everything the document depends on besides the library, which the version covers.
    const std::string key =
        share.token + '\n' + facts.macName + '\n' + folder.value_or("") + '\n' + followURL.value_or("");
    if (auto cached = documents.find(key, version)) {
        return cached;
    }
    auto payload = ShareAPI::payload(library, share, folder, facts.macName);
    if (!payload) {
        return nullptr;
    }
    payload->followURL = followURL;
    auto built = std::make_shared<const std::string>(ShareAPI::json(*payload));
    documents.store(key, version, built);
    return built;
}

/// Whether an upload into `share` may go to `destination`.
bool acceptsAt(const Library& library, const Share& share, const std::optional<std::string>& destination) {
    switch (share.target.kind()) {
    case ShareTarget::Kind::folder:
        return (!destination || library.folder(destination)) &&
               library.folderIsInside(destination, share.target.id());
    case ShareTarget::Kind::bundle: {
        const auto bundle = library.bundle(*share.target.id());
        return bundle && (!destination || library.folderIsInBundle(destination, *bundle));
    }
    case ShareTarget::Kind::item:
    case ShareTarget::Kind::inbox:
        break;
    }
    return true;
}

/// `name` made safe and unique in one folder of an archive: "/" cannot climb into another folder and a
/// name of dots cannot climb out; a name taken gets " 2", " 3"… before its extension.
std::string archiveName(std::set<std::string>& taken, std::string name) {
    std::replace(name.begin(), name.end(), '/', '_');
    std::replace(name.begin(), name.end(), '\\', '_');
    if (name.find_first_not_of('.') == std::string::npos) {
        name = "_" + name;
    }
    const std::size_t dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > 0;
    const std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::string extension = hasExtension ? name.substr(dot) : "";
    std::string candidate = name;
    for (int n = 2; !taken.insert(candidate).second; ++n) {
        candidate = stem + " " + std::to_string(n) + extension;
    }
    return candidate;
}

void addArchiveItem(const LibraryStore& store, const Item& item, const std::string& name,
                    std::vector<ZipStream::Entry>& entries) {
    const auto modified = static_cast<std::int64_t>(item.created.unixSeconds());
    if (item.kind == ItemKind::file) {
        entries.push_back({name, store.filePath(item), {}, static_cast<std::uint64_t>(item.size), modified});
    } else {
        entries.push_back({name, {}, item.content.value_or(""), 0, modified});
    }
}

/// A folder's subfolders, each with all it holds, then its items, under `prefix`.
void addArchiveFolder(const LibraryStore& store, const Library& library, const std::string& folderID,
                      const std::string& prefix, std::vector<ZipStream::Entry>& entries) {
    std::set<std::string> taken;
    for (const Folder& folder : library.foldersIn(folderID)) {
        const std::string name = prefix + archiveName(taken, folder.name) + "/";
        entries.push_back({name, {}, {}, 0, static_cast<std::int64_t>(folder.created.unixSeconds())});
        addArchiveFolder(store, library, folder.id, name, entries);
    }
    for (const Item& item : library.itemsIn(folderID)) {
        addArchiveItem(store, item,
                       prefix + archiveName(taken, item.name + (item.kind == ItemKind::file ? "" : ".txt")),
                       entries);
    }
}

/// Everything the share's page shows at the requested folder, as archive entries; nothing when the page
/// would show nothing or is no folder's or bundle's.
std::optional<Routes::Archive> archiveOf(const LibraryStore& store, const Library& library,
                                         const Share& share, const std::optional<std::string>& folderID) {
    const auto kind = share.target.kind();
    if (kind != ShareTarget::Kind::folder && kind != ShareTarget::Kind::bundle) {
        return std::nullopt;
    }
    const auto shown = ShareAPI::payload(library, share, folderID, "");
    if (!shown) {
        return std::nullopt;
    }
    // Named after what the page is showing: the share, or the folder opened in it.
    Routes::Archive archive{
        {}, (shown->path.empty() ? shown->title : shown->path.back().name) + ".zip", share.token};
    std::set<std::string> taken;
    for (const auto& entry : shown->folders) {
        const auto folder = library.folder(entry.id);
        const std::string name = archiveName(taken, entry.name) + "/";
        archive.entries.push_back(
            {name, {}, {}, 0, static_cast<std::int64_t>(folder ? folder->created.unixSeconds() : 0)});
        addArchiveFolder(store, library, entry.id, name, archive.entries);
    }
    for (const auto& entry : shown->items) {
        if (const auto item = library.item(entry.id)) {
            addArchiveItem(store, *item,
                           archiveName(taken, item->name + (item->kind == ItemKind::file ? "" : ".txt")),
                           archive.entries);
        }
    }
    return archive;
}

} // namespace

namespace Routes {

Answer share(const HTTPRequest& request, const std::string& token, const std::vector<std::string>& rest,
             const LibraryStore& store, const ServerFacts& facts, DocumentCache& documents) {
    const Date now = store.currentDate();
    const bool get = request.method == "GET";
    const bool isAPI = rest == std::vector<std::string>{"api"};
    const bool isUpload = request.method == "POST" && rest == std::vector<std::string>{"upload"};
    const bool isFile = get && rest.size() == 2 && rest[0] == "f";
    const bool isArchive = get && rest == std::vector<std::string>{"zip"};
    // Read in place under the store's lock: copying a large library on every poll would cost more than
    // everything else the request does. The document is built in the same read: one built from a later
    // look at the library than the share came from would be cached under that later version with the
    // earlier share's switches.
    struct Found {
        std::optional<Share> share;
        /// Null unless asked for, and when the query's folder is not one the share covers.
        std::shared_ptr<const std::string> document;
        std::optional<Item> item;
        std::optional<Archive> archive;
        bool uploadAllowed = false;
    };
    const Found found = store.read([&](const Library& library, std::uint64_t version) {
        Found result{library.share(token), nullptr, std::nullopt, std::nullopt, false};
        if (!result.share || !result.share->isActive(now)) {
            return result;
        }
        if (get && isAPI) {
            result.document = documentFor(request, library, version, *result.share, facts, documents);
        } else if (isFile) {
            auto item = library.item(rest[1]);
            if (item && library.shareIncludes(*result.share, *item)) {
                result.item = std::move(item);
            }
        } else if (isArchive) {
            result.archive = archiveOf(store, library, *result.share, folderOf(request));
        } else if (isUpload) {
            result.uploadAllowed = acceptsAt(library, *result.share, folderOf(request));
        }
        return result;
    });
    if (!found.share) {
        return HTTPResponse::html(
            404, PageStyle::notice("This link doesn't work",
                                   "It may have been stopped. Ask the person who shared it for a new one."));
    }
    const Share& share = *found.share;
    if (!share.isActive(now)) {
        if (isAPI) {
            return HTTPResponse::json(410, R"({"error":"expired"})");
        }
        return HTTPResponse::html(
            410, PageStyle::notice(share.stopped ? "This link was turned off" : "This link has expired",
                                   "Ask the person who shared it to send a new one."));
    }
    if (get && rest.empty()) {
        if (!request.hasTrailingSlash) {
            return HTTPResponse::redirect("/s/" + token + "/");
        }
        return HTTPResponse::html(200, ReceiverPage::html());
    }
    if (get && isAPI) {
        if (!found.document) {
            return HTTPResponse::json(404, R"({"error":"not found"})");
        }
        return HTTPResponse::json(200, *found.document);
    }
    if (isFile) {
        if (!found.item) {
            return HTTPResponse::text(404, "Not found");
        }
        if (found.item->kind != ItemKind::file) {
            return HTTPResponse{
                200,
                {{"Content-Type", "text/plain; charset=utf-8"},
                 {"Content-Disposition", HTTP::contentDisposition(found.item->name + ".txt", false)}},
                found.item->content.value_or("")};
        }
        return Download{*found.item, share.token};
    }
    if (isArchive) {
        if (!found.archive) {
            return HTTPResponse::text(404, "Not found");
        }
        return *found.archive;
    }
    if (!isUpload) {
        return HTTPResponse::text(404, "Not found");
    }
    if (!share.allowsUploads) {
        return HTTPResponse::text(403, "This link doesn't accept files");
    }
    if (!found.uploadAllowed) {
        return HTTPResponse::text(403, "Not allowed");
    }
    auto made = upload(
        request, Upload::IntoShare{share, folderOf(request)},
        Text::prefixCharacters(header(request, "x-tesk-device").value_or("a browser"), maxSenderCharacters));
    if (auto* refused = std::get_if<HTTPResponse>(&made)) {
        return std::move(*refused);
    }
    return std::get<Upload>(std::move(made));
}

} // namespace Routes
