#include "relay/relay_routes.h"

#include "core/ascii.h"
#include "core/names.h"
#include "core/text.h"
#include "relay/push/base64_url.h"
#include "relay/relay_icon.h"
#include "relay/relay_network.h"
#include "relay/relay_pages.h"
#include "relay/secret_hash.h"
#include "server/page_style.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <arpa/inet.h>

using json = nlohmann::json;

namespace {

/// Long enough to count a browser once for as long as browsers keep a cookie (Chrome: 400 days).
constexpr std::string_view visitorMaxAge = "34560000";
constexpr std::size_t visitorLength = 24;

/// The pairing page on the Mac's LAN origin asks "where" across origins.
const std::pair<std::string, std::string> anyOrigin{"Access-Control-Allow-Origin", "*"};

std::string compact(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

RelayResponse jsonResponse(int status, const json& value, HTTP::Headers extra = {}) {
    RelayResponse response = HTTPResponse::json(status, compact(value));
    response.headers.insert(response.headers.end(), extra.begin(), extra.end());
    return response;
}

RelayResponse errorResponse(int status, std::string_view error, HTTP::Headers extra = {}) {
    return jsonResponse(status, {{"error", error}}, std::move(extra));
}

RelayResponse htmlResponse(int status, std::string html, HTTP::Headers extra = {}) {
    RelayResponse response = HTTPResponse::html(status, html);
    response.headers.insert(response.headers.end(), extra.begin(), extra.end());
    return response;
}

RelayResponse notFound() {
    return HTTPResponse::text(404, "Not found");
}

RelayResponse unpairedPage() {
    static const std::string page =
        PageStyle::notice("This phone isn't paired anymore",
                          "Pair it again from Tesk on the computer: Phones \u2192 Pair a phone.");
    return htmlResponse(404, page);
}

RelayResponse unavailableLinkPage() {
    static const std::string page =
        PageStyle::notice("This link isn't available right now",
                          "The computer sharing it may be asleep or offline, or it stopped sharing it.");
    return htmlResponse(404, page);
}

/// The secret of "Authorization: Bearer <secret>" (RFC 6750; the scheme is case-insensitive).
std::optional<std::string_view> bearer(const HTTPRequest& request) {
    const auto found = request.headers.find("authorization");
    if (found == request.headers.end()) {
        return std::nullopt;
    }
    const std::string_view value = found->second;
    constexpr std::string_view scheme = "bearer ";
    if (value.size() <= scheme.size() || !Ascii::equalsIgnoringCase(value.substr(0, scheme.size()), scheme)) {
        return std::nullopt;
    }
    return value.substr(scheme.size());
}

/// Hex digits in the case `SecretHash::sha256Hex` writes.
char lowerHex(char c) {
    return Ascii::isHexDigit(c) ? Ascii::lower(c) : c;
}

/// The request's JSON object body; nothing for anything else.
std::optional<json> objectBody(std::string_view body) {
    json parsed = json::parse(body, nullptr, false);
    if (!parsed.is_object()) {
        return std::nullopt;
    }
    return parsed;
}

/// The text member `name`: "" when missing, nothing when it is there but not text.
std::optional<std::string> optionalText(const json& object, const char* name) {
    const auto found = object.find(name);
    if (found == object.end()) {
        return std::string();
    }
    if (!found->is_string()) {
        return std::nullopt;
    }
    return found->get<std::string>();
}

/// Share tokens go into paths and "Location" headers: letters, digits, "-" and "_" only.
bool isToken(std::string_view token, const RelayLimits& limits) {
    return !token.empty() && token.size() <= limits.maxTokenBytes &&
           std::all_of(token.begin(), token.end(),
                       [](char c) { return Ascii::isAlnum(c) || c == '-' || c == '_'; });
}

/// A push subscription as a browser's PushSubscription.toJSON() gives it: an https endpoint, and keys
/// that decode to a P-256 point (65 bytes) and a 16-byte secret.
std::optional<RelaySubscription> subscriptionFrom(const json& given) {
    constexpr std::size_t maxEndpointBytes = 1000;
    const auto object = given.is_object() ? &given : nullptr;
    if (!object) {
        return std::nullopt;
    }
    const auto endpoint = optionalText(*object, "endpoint");
    const auto keys = object->find("keys");
    if (!endpoint || !endpoint->starts_with("https://") || endpoint->size() > maxEndpointBytes ||
        keys == object->end() || !keys->is_object()) {
        return std::nullopt;
    }
    const auto p256dh = optionalText(*keys, "p256dh");
    const auto auth = optionalText(*keys, "auth");
    const auto point = p256dh ? Base64Url::decoded(*p256dh) : std::nullopt;
    const auto secret = auth ? Base64Url::decoded(*auth) : std::nullopt;
    const bool safe = std::all_of(endpoint->begin(), endpoint->end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte < 0x7f;
    });
    if (!safe || !point || point->size() != 65 || (*point)[0] != '\x04' || !secret || secret->size() != 16) {
        return std::nullopt;
    }
    return RelaySubscription{*endpoint, *p256dh, *auth};
}

/// POST /push-subscription: a service worker saying its push service replaced the subscription with
/// endpoint "old" by "subscription". Knowing the old endpoint, which only its browser and the relay do,
/// is what entitles it.
RelayResponse renewSubscription(RelayStore& store, std::string_view body) {
    const auto object = objectBody(body);
    const auto old = object ? optionalText(*object, "old") : std::nullopt;
    const auto renewed = object && object->contains("subscription")
                             ? subscriptionFrom((*object)["subscription"])
                             : std::nullopt;
    if (!old || old->empty() || !renewed) {
        return errorResponse(400, "malformed");
    }
    if (store.renew(*old, *renewed) == 0) {
        return errorResponse(404, "unknown subscription");
    }
    return jsonResponse(200, json::object());
}

RelayResponse subscribed(RelayStore::SubscribeResult result, std::string_view unknown) {
    switch (result) {
    case RelayStore::SubscribeResult::subscribed:
        return jsonResponse(201, json::object());
    case RelayStore::SubscribeResult::notFollowing:
        return errorResponse(403, "not following");
    case RelayStore::SubscribeResult::unknown:
        break;
    }
    return errorResponse(404, unknown);
}

/// The host of "scheme://host[:port][/path]", an IPv6 literal without its brackets.
std::string hostOf(const std::string& address) {
    const auto start = address.find("://") + 3;
    const auto authorityEnd = address.find('/', start);
    const std::string authority =
        address.substr(start, authorityEnd == std::string::npos ? std::string::npos : authorityEnd - start);
    if (authority.starts_with('[')) {
        const auto close = authority.find(']');
        return close == std::string::npos ? std::string() : authority.substr(1, close - 1);
    }
    return authority.substr(0, authority.find(':'));
}

/// Share links redirect to these addresses, so only what a computer reports for its own network is
/// taken: numeric addresses and mDNS ".local" names. A domain name would turn the relay into an open
/// redirect to any site.
bool isLocalHost(const std::string& host) {
    in_addr v4{};
    in6_addr v6{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1 || inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
        return true;
    }
    return host.size() > 6 && Ascii::lowercased(host).ends_with(".local");
}

/// A LAN base address as the relay keeps it: "http://" added when no scheme is given, no final "/".
/// Nothing when it could break out of a header or an attribute, or is not http(s).
std::optional<std::string> lanAddress(std::string address, const RelayLimits& limits) {
    constexpr std::string_view forbidden = "\"<>\\^`{|}";
    const bool safe = std::all_of(address.begin(), address.end(), [&](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte < 0x7f && forbidden.find(c) == std::string_view::npos;
    });
    if (!safe) {
        return std::nullopt;
    }
    if (address.find("://") == std::string::npos) {
        address = "http://" + address;
    }
    while (!address.empty() && address.back() == '/') {
        address.pop_back();
    }
    const bool http = address.starts_with("http://") && address.size() > 7;
    const bool https = address.starts_with("https://") && address.size() > 8;
    if ((!http && !https) || address.size() > limits.maxAddressBytes) {
        return std::nullopt;
    }
    if (!isLocalHost(hostOf(address))) {
        return std::nullopt;
    }
    return address;
}

std::optional<RelayPresence> presenceFrom(std::string_view body, const RelayLimits& limits) {
    const auto object = objectBody(body);
    if (!object) {
        return std::nullopt;
    }
    RelayPresence presence;
    const auto name = optionalText(*object, "name");
    const auto ssid = optionalText(*object, "ssid");
    if (!name || !ssid) {
        return std::nullopt;
    }
    presence.name = *name;
    presence.ssid = *ssid;
    const auto list = [&](const char* key) -> std::optional<json> {
        const auto found = object->find(key);
        if (found == object->end()) {
            return json::array();
        }
        return found->is_array() ? std::optional<json>(*found) : std::nullopt;
    };
    const auto lan = list("lan");
    const auto shares = list("shares");
    const auto devices = list("devices");
    if (!lan || !shares || !devices) {
        return std::nullopt;
    }
    for (const auto& entry : *lan) {
        auto address = entry.is_string() ? lanAddress(entry.get<std::string>(), limits) : std::nullopt;
        if (!address) {
            return std::nullopt;
        }
        presence.lan.push_back(std::move(*address));
    }
    for (const auto& entry : *shares) {
        if (!entry.is_object() || !entry.contains("token") || !entry["token"].is_string()) {
            return std::nullopt;
        }
        const auto title = optionalText(entry, "title");
        std::string token = entry["token"].get<std::string>();
        if (!title || !isToken(token, limits)) {
            return std::nullopt;
        }
        presence.shares.push_back({std::move(token), *title});
    }
    for (const auto& entry : *devices) {
        std::string hash = entry.is_string() ? entry.get<std::string>() : std::string();
        std::transform(hash.begin(), hash.end(), hash.begin(), lowerHex);
        if (!SecretHash::isDigest(hash)) {
            return std::nullopt;
        }
        presence.devices.push_back(std::move(hash));
    }
    return presence;
}

/// The visitor id from the request's cookie, when it is one the relay could have set.
std::optional<std::string> visitorFrom(const HTTPRequest& request) {
    const auto found = request.headers.find("cookie");
    if (found == request.headers.end()) {
        return std::nullopt;
    }
    std::string_view rest = found->second;
    while (!rest.empty()) {
        const auto end = rest.find(';');
        std::string_view pair = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        while (!pair.empty() && pair.front() == ' ') {
            pair.remove_prefix(1);
        }
        const auto equals = pair.find('=');
        if (equals == std::string_view::npos || pair.substr(0, equals) != RelayRoutes::visitorCookie) {
            continue;
        }
        const auto value = pair.substr(equals + 1);
        if (value.size() == visitorLength &&
            value.find_first_not_of(Names::tokenAlphabet) == std::string_view::npos) {
            return std::string(value);
        }
    }
    return std::nullopt;
}

RelayResponse signUp(RelayStore& store, std::string_view body, std::string_view source, std::int64_t now) {
    std::string name = "this computer";
    if (const auto object = objectBody(body)) {
        if (const auto given = optionalText(*object, "name"); given && !given->empty()) {
            name = *given;
        }
    }
    const auto credentials = store.signUp(name, source, now);
    if (!credentials) {
        return errorResponse(429, "too many sign-ups", {{"Retry-After", std::to_string(3600 - now % 3600)}});
    }
    return jsonResponse(201, {{"macId", credentials->macId}, {"secret", credentials->secret}});
}

/// POST /api/macs/<id>/<action>: only for the Mac holding the secret.
RelayRoutes::Answer macAction(RelayStore& store, const HTTPRequest& request, const std::string& id,
                              const std::string& action, std::string_view body,
                              const RelayRoutes::Client& client) {
    const std::int64_t now = client.now;
    const auto secret = bearer(request);
    if (!secret || !store.authenticated(id, *secret)) {
        return errorResponse(401, "unauthorized", {{"WWW-Authenticate", "Bearer"}});
    }
    if (action == "presence") {
        auto presence = presenceFrom(body, store.limits());
        if (!presence) {
            return errorResponse(400, "malformed");
        }
        json followers = json::object();
        for (const auto& [token, count] : store.checkIn(id, std::move(*presence), now, client.address)) {
            followers[token] = count;
        }
        return jsonResponse(200, {{"followers", std::move(followers)}});
    }
    const auto object = objectBody(body);
    const auto token = object ? optionalText(*object, "token") : std::nullopt;
    const auto title = object ? optionalText(*object, "title") : std::nullopt;
    if (!token || !title || !isToken(*token, store.limits())) {
        return errorResponse(400, "malformed");
    }
    const auto& limits = store.limits();
    if (action == "notify") {
        const auto text = optionalText(*object, "body");
        if (!text) {
            return errorResponse(400, "malformed");
        }
        RelayRoutes::Answer answer{jsonResponse(200, json::object()), std::nullopt};
        if (store.notify(id, {*token, *title, *text, now}) && !client.pushKey.empty()) {
            PushMessage message{Text::prefixWithinBytes(*title, limits.maxTextBytes),
                                Text::prefixWithinBytes(*text, limits.maxBodyTextBytes),
                                "/k/" + id + "/" + *token, std::chrono::days(1), false};
            answer.push =
                RelayRoutes::Push{store.followerSubscriptions(id, *token), std::move(message), false};
        }
        return answer;
    }
    // "send"
    const auto device = object->find("device");
    if (device == object->end() || !device->is_string()) {
        return errorResponse(400, "malformed");
    }
    std::string hash = device->get<std::string>();
    std::transform(hash.begin(), hash.end(), hash.begin(), lowerHex);
    const auto item = store.send(id, hash, {*token, *title, now});
    if (!item) {
        return errorResponse(404, "unknown device");
    }
    RelayRoutes::Answer answer{jsonResponse(200, {{"sent", 0}}), std::nullopt};
    auto to = client.pushKey.empty() ? std::vector<RelaySubscription>() : store.phoneSubscriptions(id, hash);
    if (!to.empty()) {
        const auto mac = store.mac(id);
        PushMessage message{Text::prefixWithinBytes(*title, limits.maxTextBytes),
                            "Sent from " + (mac ? mac->presence.name : std::string("a computer")),
                            "/k/" + id + "/" + *token + "?item=" + *item,
                            std::chrono::duration_cast<std::chrono::seconds>(limits.keepPending), true};
        answer.push = RelayRoutes::Push{std::move(to), std::move(message), true};
    }
    return answer;
}

/// POST /d/<id>/<device>/subscription and /k/<id>/<token>/subscription: notifications for a phone, or
/// for one follower of a share (the browser its cookie names).
RelayResponse subscribe(RelayStore& store, const HTTPRequest& request, std::string_view body,
                        const RelayRoutes::Client& client, const std::string& id, const std::string& target,
                        bool phone) {
    const auto object = objectBody(body);
    const auto subscription = object ? subscriptionFrom(*object) : std::nullopt;
    if (!subscription) {
        return errorResponse(400, "malformed");
    }
    if (phone) {
        return subscribed(store.subscribePhone(id, SecretHash::sha256Hex(target), *subscription, client.now),
                          "unknown device");
    }
    const auto visitor = visitorFrom(request);
    if (!visitor) {
        return errorResponse(403, "not following");
    }
    return subscribed(store.subscribeFollower(id, target, *visitor, *subscription, client.now),
                      "unknown share");
}

RelayResponse where(RelayStore& store, const HTTPRequest& request, const std::string& id) {
    const auto mac = store.mac(id);
    const auto device = request.query.find("device");
    if (mac && device != request.query.end() && mac->knowsDevice(SecretHash::sha256Hex(device->second))) {
        return jsonResponse(200, json::object(), {anyOrigin});
    }
    return errorResponse(404, "unknown device", {anyOrigin});
}

/// GET /d/<id>/<token>/ and its manifest: only for a phone the Mac reported. A phone on the Mac's
/// network goes straight on to its phone page there, unless it arrives from pairing to install the page.
RelayResponse launcher(RelayStore& store, const HTTPRequest& request, const RelayRoutes::Client& client,
                       const std::string& id, const std::string& token, bool manifest) {
    const auto mac = store.mac(id);
    if (!mac || !mac->knowsDevice(SecretHash::sha256Hex(token))) {
        return manifest ? notFound() : unpairedPage();
    }
    if (manifest) {
        return {200, {{"Content-Type", "application/manifest+json"}}, RelayPages::manifest(id, token)};
    }
    if (!request.hasTrailingSlash) {
        // The page's own addresses are relative to the directory.
        return {301, {{"Location", RelayPages::launcherPath(id, token)}}, ""};
    }
    const auto pairing = request.query.find("new");
    const bool installing = pairing != request.query.end() && pairing->second == "1";
    RelayPages::LauncherView view;
    view.awake = mac->lastCheckIn >= client.now - std::chrono::seconds(RelayNetwork::awakeWithin).count();
    view.here = !installing && !mac->presence.lan.empty() &&
                RelayNetwork::sameNetwork(*mac, client.address, client.now);
    view.pushKey = client.pushKey;
    // The sweep removes expired items only every few minutes.
    const auto keptSince = client.now - std::chrono::seconds(store.limits().keepPending).count();
    for (auto& item : store.waiting(id, SecretHash::sha256Hex(token))) {
        if (item.at >= keptSince) {
            view.waiting.push_back(std::move(item));
        }
    }
    // Nothing to show: straight on to the computer.
    if (view.here && view.waiting.empty()) {
        return {302,
                {{"Location", RelayPages::phonePage(mac->presence.lan.front(), token)},
                 {"Cache-Control", "no-store"}},
                ""};
    }
    RelayResponse page = htmlResponse(200, RelayPages::launcher(*mac, view, id, token));
    // The answer depends on where the phone is now.
    page.headers.emplace_back("Cache-Control", "no-store");
    return page;
}

/// GET /k/<id>/<token>: on to the share on the Mac, while the Mac reports it. With "?item=REF" a phone
/// opens what was sent to it, which stops waiting once the phone is where it can reach the Mac (and not
/// for HEAD: `opening` false).
RelayResponse shareLink(RelayStore& store, const HTTPRequest& request, const RelayRoutes::Client& client,
                        const std::string& id, const std::string& token, bool opening) {
    const auto mac = store.mac(id);
    if (!mac || !mac->share(token) || mac->presence.lan.empty()) {
        return unavailableLinkPage();
    }
    const auto item = request.query.find("item");
    if (opening && item != request.query.end() &&
        RelayNetwork::sameNetwork(*mac, client.address, client.now)) {
        store.collect(id, token, item->second);
    }
    // Presence only accepts tokens made of letters, digits, "-" and "_", so the token needs no escaping.
    return {302,
            {{"Location", mac->presence.lan.front() + "/s/" + token + "/"}, {"Cache-Control", "no-store"}},
            ""};
}

/// `count` is false for HEAD: a link checker or preview fetch is not a follower.
RelayResponse follow(RelayStore& store, const HTTPRequest& request, const std::string& id,
                     const std::string& token, bool count, std::string_view pushKey) {
    const auto mac = store.mac(id);
    const RelayShare* share = mac ? mac->share(token) : nullptr;
    if (!share) {
        return unavailableLinkPage();
    }
    const std::string title = share->title;
    HTTP::Headers headers;
    auto visitor = visitorFrom(request);
    if (!visitor) {
        visitor = Names::token(visitorLength);
        std::string cookie = std::string(RelayRoutes::visitorCookie) + "=" + *visitor +
                             "; Max-Age=" + std::string(visitorMaxAge) + "; Path=/; HttpOnly; SameSite=Lax";
        // TLS ends at the proxy in front; the relay learns of it only from the proxy's header.
        if (const auto proto = request.headers.find("x-forwarded-proto");
            proto != request.headers.end() && proto->second == "https") {
            cookie += "; Secure";
        }
        headers.emplace_back("Set-Cookie", std::move(cookie));
    }
    if (count && store.follow(id, token, *visitor) == RelayStore::FollowResult::full) {
        static const std::string page = PageStyle::notice("This share has too many followers",
                                                          "The relay can't count any more followers for it.");
        return htmlResponse(503, page, std::move(headers));
    }
    return htmlResponse(200, RelayPages::following(title, pushKey), std::move(headers));
}

RelayResponse methodNotAllowed(std::string_view allowed) {
    RelayResponse response = HTTPResponse::text(405, "Method not allowed");
    response.headers.emplace_back("Allow", std::string(allowed));
    return response;
}

RelayRoutes::Answer route(RelayStore& store, const HTTPRequest& request, std::string_view body,
                          const RelayRoutes::Client& client, bool headOnly) {
    const std::int64_t now = client.now;
    const auto& segments = request.segments;
    const std::size_t count = segments.size();
    const bool get = request.method == "GET";
    const bool post = request.method == "POST";

    const bool pushing = !client.pushKey.empty();
    if (count == 1 && pushing && segments[0] == "push-subscription") {
        return {post ? renewSubscription(store, body) : methodNotAllowed("POST"), std::nullopt};
    }
    if (count == 1 && pushing && segments[0] == "push-worker.js") {
        if (!get) {
            return {methodNotAllowed("GET, HEAD"), std::nullopt};
        }
        return {{200,
                 {{"Content-Type", "text/javascript; charset=utf-8"}, {"Cache-Control", "no-cache"}},
                 RelayPages::pushWorker()},
                std::nullopt};
    }
    if (count == 1 && (segments[0] == "healthz" || segments[0] == "icon.png")) {
        if (!get) {
            return {methodNotAllowed("GET, HEAD"), std::nullopt};
        }
        if (segments[0] == "healthz") {
            return {HTTPResponse::text(200, "ok"), std::nullopt};
        }
        return {{200,
                 {{"Content-Type", "image/png"}, {"Cache-Control", "public, max-age=86400"}},
                 RelayIcon::png()},
                std::nullopt};
    }
    if (count >= 2 && segments[0] == "api" && segments[1] == "macs") {
        if (count == 2) {
            return {post ? signUp(store, body, client.address, now) : methodNotAllowed("POST"), std::nullopt};
        }
        if (count == 4 && segments[3] == "where") {
            return {get ? where(store, request, segments[2]) : methodNotAllowed("GET, HEAD"), std::nullopt};
        }
        if (count == 4 && (segments[3] == "presence" || segments[3] == "notify" || segments[3] == "send")) {
            return post ? macAction(store, request, segments[2], segments[3], body, client)
                        : RelayRoutes::Answer{methodNotAllowed("POST"), std::nullopt};
        }
        return {notFound(), std::nullopt};
    }
    if (segments.empty() || (segments[0] != "d" && segments[0] != "k")) {
        return {notFound(), std::nullopt};
    }
    if (count == 4 && segments[3] == "subscription" && pushing) {
        return {post ? subscribe(store, request, body, client, segments[1], segments[2], segments[0] == "d")
                     : methodNotAllowed("POST"),
                std::nullopt};
    }
    const bool launcherPath =
        segments[0] == "d" && (count == 3 || (count == 4 && segments[3] == "manifest.json"));
    const bool sharePath = segments[0] == "k" && (count == 3 || (count == 4 && segments[3] == "follow"));
    if (!launcherPath && !sharePath) {
        return {notFound(), std::nullopt};
    }
    if (!get) {
        return {methodNotAllowed("GET, HEAD"), std::nullopt};
    }
    if (launcherPath) {
        return {launcher(store, request, client, segments[1], segments[2], count == 4), std::nullopt};
    }
    return {count == 3 ? shareLink(store, request, client, segments[1], segments[2], !headOnly)
                       : follow(store, request, segments[1], segments[2], !headOnly, client.pushKey),
            std::nullopt};
}

} // namespace

namespace RelayRoutes {

Answer answer(RelayStore& store, const HTTPRequest& request, std::string_view body, const Client& client) {
    // RFC 9110 §9.3.2: HEAD is GET without the body.
    if (request.method == "HEAD") {
        HTTPRequest asGet = request;
        asGet.method = "GET";
        Answer answered = route(store, asGet, body, client, true);
        answered.response.omitBody = true;
        return answered;
    }
    return route(store, request, body, client, false);
}

} // namespace RelayRoutes
