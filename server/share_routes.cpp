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
    const Library library = server_.store().snapshot();
    const auto share = library.share(token);
    if (!share) {
        respondHTML(
            404, PageStyle::notice("This link doesn't work",
                                   "It may have been stopped. Ask the person who shared it for a new one."));
        return;
    }
    if (!share->isActive(server_.store().currentDate())) {
        if (rest == std::vector<std::string>{"api"}) {
            respond(410, jsonHeaders, R"({"error":"expired"})");
        } else {
            respondHTML(
                410, PageStyle::notice(share->stopped ? "This link was turned off" : "This link has expired",
                                       "Ask the person who shared it to send a new one."));
        }
        return;
    }

    const bool get = request.method == "GET";
    if (get && rest.empty() && !request.hasTrailingSlash) {
        respond(301, {{"Location", "/s/" + token + "/"}}, "");
    } else if (get && rest.empty()) {
        respondHTML(200, ReceiverPage::html());
    } else if (get && rest == std::vector<std::string>{"api"}) {
        std::optional<std::string> folder;
        if (const auto found = request.query.find("folder");
            found != request.query.end() && !found->second.empty()) {
            folder = found->second;
        }
        auto document = ShareAPI::payload(library, *share, folder, server_.macName());
        if (!document) {
            respond(404, jsonHeaders, R"({"error":"not found"})");
            return;
        }
        const auto kind = share->target.kind();
        if (kind == ShareTarget::Kind::folder || kind == ShareTarget::Kind::bundle) {
            if (const auto base = server_.followBase()) {
                document->followURL = *base + "/" + token + "/follow";
            }
        }
        respond(200, jsonHeaders, ShareAPI::json(*document));
    } else if (get && rest.size() == 2 && rest[0] == "f") {
        const auto item = library.item(rest[1]);
        if (!item || !library.shareIncludes(*share, *item)) {
            respondText(404, "Not found");
            return;
        }
        sendItem(*item, request, *share);
    } else if (request.method == "POST" && rest == std::vector<std::string>{"upload"}) {
        receiveUpload(request, std::move(body), *share, library);
    } else {
        respondText(404, "Not found");
    }
}
