// Routes under /s/<token>/: the share page, its JSON document, downloads and uploads.
#include "core/share_api.h"
#include "server/page_style.h"
#include "server/receiver_page.h"
#include "server/request_handler.h"
#include "server/tesk_server.h"

namespace {

const HTTP::Headers jsonHeaders{{"Content-Type", "application/json"}, {"Cache-Control", "no-store"}};

} // namespace

void RequestHandler::routeShare(const HTTPRequest& request, const std::string& token,
                                const std::vector<std::string>& rest, std::string body) {
    LibraryStore& store = server_.store();
    const Date now = store.currentDate();
    const bool get = request.method == "GET";
    const bool wantsDocument = get && rest == std::vector<std::string>{"api"};
    // Read in place under the store's lock: copying a large library on every poll would cost more than
    // everything else the request does. The document is built in the same read: one built from a later
    // look at the library than the share came from would be cached under that later version with the
    // earlier share's switches.
    struct Found {
        std::optional<Share> share;
        /// Null unless asked for, and when the query's folder is not one the share covers.
        std::shared_ptr<const std::string> document;
    };
    const Found lookup = store.read([&](const Library& library, std::uint64_t version) {
        Found result{library.share(token), nullptr};
        if (wantsDocument && result.share && result.share->isActive(now)) {
            result.document = documentFor(request, library, version, *result.share);
        }
        return result;
    });
    const std::optional<Share>& share = lookup.share;
    if (!share) {
        respondHTML(
            404, PageStyle::notice("This link doesn't work",
                                   "It may have been stopped. Ask the person who shared it for a new one."));
        return;
    }
    if (!share->isActive(now)) {
        if (rest == std::vector<std::string>{"api"}) {
            respond(410, jsonHeaders, R"({"error":"expired"})");
        } else {
            respondHTML(
                410, PageStyle::notice(share->stopped ? "This link was turned off" : "This link has expired",
                                       "Ask the person who shared it to send a new one."));
        }
        return;
    }

    if (get && rest.empty() && !request.hasTrailingSlash) {
        respond(301, {{"Location", "/s/" + token + "/"}}, "");
    } else if (get && rest.empty()) {
        respondHTML(200, ReceiverPage::html());
    } else if (wantsDocument) {
        if (lookup.document) {
            respond(200, jsonHeaders, *lookup.document);
        } else {
            respond(404, jsonHeaders, R"({"error":"not found"})");
        }
    } else if (get && rest.size() == 2 && rest[0] == "f") {
        const auto item = store.read([&](const Library& library, std::uint64_t) -> std::optional<Item> {
            auto found = library.item(rest[1]);
            return found && library.shareIncludes(*share, *found) ? found : std::nullopt;
        });
        if (!item) {
            respondText(404, "Not found");
            return;
        }
        sendItem(*item, request, *share);
    } else if (request.method == "POST" && rest == std::vector<std::string>{"upload"}) {
        receiveUpload(request, std::move(body), *share, store.snapshot());
    } else {
        respondText(404, "Not found");
    }
}

std::shared_ptr<const std::string> RequestHandler::documentFor(const HTTPRequest& request,
                                                               const Library& library, std::uint64_t version,
                                                               const Share& share) {
    std::optional<std::string> folder;
    if (const auto found = request.query.find("folder");
        found != request.query.end() && !found->second.empty()) {
        folder = found->second;
    }
    std::optional<std::string> followURL;
    const auto kind = share.target.kind();
    if (kind == ShareTarget::Kind::folder || kind == ShareTarget::Kind::bundle) {
        if (const auto base = server_.followBase()) {
            followURL = *base + "/" + share.token + "/follow";
        }
    }
    const std::string mac = server_.macName();
    // Everything the document depends on besides the library, which the version covers.
    const std::string key =
        share.token + '\n' + mac + '\n' + folder.value_or("") + '\n' + followURL.value_or("");
    if (auto cached = server_.documents().find(key, version)) {
        return cached;
    }
    auto payload = ShareAPI::payload(library, share, folder, mac);
    if (!payload) {
        return nullptr;
    }
    payload->followURL = followURL;
    auto built = std::make_shared<const std::string>(ShareAPI::json(*payload));
    server_.documents().store(key, version, built);
    return built;
}
