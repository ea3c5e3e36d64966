// Routes under /p/<code>/ (pairing a phone) and /d/<token>/ (a paired phone's own address).
#include "core/ascii.h"
#include "server/device_bodies.h"
#include "server/device_pages.h"
#include "server/page_style.h"
#include "server/routes.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

namespace {

/// The launcher's probe is read from the relay's origin.
const HTTP::Headers probeHeaders{{"Access-Control-Allow-Origin", "*"}};

/// The largest claim body read.
constexpr std::size_t maxClaimBytes = 65536;

HTTPResponse expired() {
    return HTTPResponse::json(410, R"({"error":"expired"})");
}

} // namespace

namespace Routes {

Answer pairing(const HTTPRequest& request, const std::string& code, const std::vector<std::string>& rest,
               const LibraryStore& store, const ServerFacts& facts) {
    const bool get = request.method == "GET";
    if (get && rest.empty() && !request.hasTrailingSlash) {
        return HTTPResponse::redirect("/p/" + code + "/");
    }
    const bool valid = store.isPairingCodeValid(code);
    if (get && rest.empty()) {
        if (valid) {
            return HTTPResponse::html(200, DevicePages::pair(facts.macName));
        }
        return HTTPResponse::html(
            410, PageStyle::notice("This pairing code ran out",
                                   "Make a new one in Tesk on the computer: Phones \u2192 Pair a phone."));
    }
    if (request.method != "POST" || rest != std::vector<std::string>{"claim"}) {
        return HTTPResponse::text(404, "Not found");
    }
    if (!valid) {
        return expired();
    }
    const auto length = request.contentLength();
    const auto host = request.headers.find("host");
    SmallBody::Claim claim{code, host != request.headers.end() ? host->second
                                                               : "127.0.0.1:" + std::to_string(facts.port)};
    // A claim whose body is missing or too large is not read: the phone gets the name a claim without
    // one gets.
    const bool readable = length && *length >= 1 && *length <= static_cast<std::int64_t>(maxClaimBytes);
    return SmallBody{std::move(claim), readable ? static_cast<std::size_t>(*length) : 0};
}

Answer device(const HTTPRequest& request, const std::string& token, const std::vector<std::string>& rest,
              const LibraryStore& store, const ServerFacts& facts) {
    const auto device =
        store.read([&](const Library& library, std::uint64_t) { return library.device(token); });
    const auto only = [&](const char* segment) { return rest.size() == 1 && rest[0] == segment; };
    if (!device) {
        if (only("ping")) {
            return HTTPResponse{404, probeHeaders, ""};
        }
        if (rest.empty()) {
            return HTTPResponse::html(
                404,
                PageStyle::notice("This phone isn't paired anymore",
                                  "Pair it again from Tesk on the computer: Phones \u2192 Pair a phone."));
        }
        return HTTPResponse::text(404, "Not paired");
    }
    const bool get = request.method == "GET";
    const bool post = request.method == "POST";
    if (get && rest.empty()) {
        if (!request.hasTrailingSlash) {
            return HTTPResponse::redirect("/d/" + token + "/");
        }
        return HTTPResponse::html(
            200, DevicePages::phone(token, facts.deviceBase ? *facts.deviceBase + "/" + token + "/" : "",
                                    facts.offersShareSheet));
    }
    if (get && only("ping")) {
        return HTTPResponse{204, probeHeaders, ""};
    }
    if (get && only("api")) {
        return HTTPResponse::json(200, nlohmann::json{{"mac", facts.macName}, {"device", device->name}}.dump(
                                           -1, ' ', false, nlohmann::json::error_handler_t::replace));
    }
    if (get && only("Send to Tesk.shortcut")) {
        std::ifstream file(store.root / "shortcuts" / (token + ".shortcut"), std::ios::binary);
        std::ostringstream bytes;
        bytes << file.rdbuf();
        if (!file || file.bad()) {
            return HTTPResponse::text(404, "Not ready yet. Try again in a moment.");
        }
        return HTTPResponse{
            200,
            {{"Content-Type", "application/octet-stream"},
             {"Content-Disposition", HTTP::contentDisposition("Send to Tesk.shortcut", false)}},
            bytes.str()};
    }
    if (get && only("manifest.json")) {
        return HTTPResponse{
            200, {{"Content-Type", "application/manifest+json"}}, DevicePages::manifest(token)};
    }
    if (post && only("upload")) {
        auto made = upload(request, Upload::FromPhone{token}, device->name);
        if (auto* refused = std::get_if<HTTPResponse>(&made)) {
            return std::move(*refused);
        }
        return std::get<Upload>(std::move(made));
    }
    if (post && only("text")) {
        // Refused before reading: a body past the limit is never worth receiving.
        const auto length = request.contentLength();
        if (!length || *length < 1 || *length > static_cast<std::int64_t>(DeviceBodies::maxTextBytes)) {
            return HTTPResponse::text(400, "Nothing to send");
        }
        return SmallBody{SmallBody::Text{token, device->name}, static_cast<std::size_t>(*length)};
    }
    return HTTPResponse::text(404, "Not found");
}

} // namespace Routes
