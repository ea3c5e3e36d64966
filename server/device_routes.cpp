// Routes under /p/<code>/ (pairing a phone) and /d/<token>/ (a paired phone's own address).
#include "core/library_error.h"
#include "server/device_bodies.h"
#include "server/device_pages.h"
#include "server/page_style.h"
#include "server/request_handler.h"
#include "server/tesk_server.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>

namespace {

const HTTP::Headers jsonHeaders{{"Content-Type", "application/json"}, {"Cache-Control", "no-store"}};
const HTTP::Headers probeHeaders{{"Access-Control-Allow-Origin", "*"}};

/// Compact JSON; "{}" should a value not be encodable.
std::string compact(const nlohmann::json& object) {
    try {
        return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    } catch (const std::exception&) {
        return "{}";
    }
}

} // namespace

void RequestHandler::routePairing(const HTTPRequest& request, const std::string& code,
                                  const std::vector<std::string>& rest, std::string body) {
    TeskServer& server = server_;
    const bool valid = server.store().isPairingCodeValid(code);
    const bool get = request.method == "GET";
    if (get && rest.empty() && !request.hasTrailingSlash) {
        respond(301, {{"Location", "/p/" + code + "/"}}, "");
        return;
    }
    if (get && rest.empty()) {
        if (valid) {
            respondHTML(200, DevicePages::pair(server.macName()));
        } else {
            respondHTML(410, PageStyle::notice(
                                 "This pairing code ran out",
                                 "Make a new one in Tesk on the computer: Phones \u2192 Pair a phone."));
        }
        return;
    }
    if (request.method != "POST" || rest != std::vector<std::string>{"claim"}) {
        respondText(404, "Not found");
        return;
    }
    if (!valid) {
        respond(410, jsonHeaders, R"({"error":"expired"})");
        return;
    }
    const auto host = request.headers.find("host");
    const std::string address =
        host != request.headers.end() ? host->second : "127.0.0.1:" + std::to_string(server.port());
    readSmallBody(request, std::move(body),
                  [self = shared_from_this(), code, address](std::optional<std::string> text) {
                      TeskServer& server = self->server_;
                      const auto device =
                          server.store().claimPairing(code, DeviceBodies::claimName(text.value_or("")));
                      if (!device) {
                          self->respond(410, jsonHeaders, R"({"error":"expired"})");
                          return;
                      }
                      server.report(ServerEvent{ServerEvent::Paired{*device}});
                      nlohmann::json reply{{"token", device->token},
                                           {"ip", "http://" + address + "/d/" + device->token + "/"}};
                      if (const auto base = server.deviceBase()) {
                          reply["launcher"] = *base + "/" + device->token + "/";
                      }
                      if (const auto local = server.localHostName()) {
                          reply["local"] = "http://" + *local + ":" + std::to_string(server.port()) + "/d/" +
                                           device->token + "/";
                      }
                      self->respond(200, jsonHeaders, compact(reply));
                  });
}

void RequestHandler::routeDevice(const HTTPRequest& request, const std::string& token,
                                 const std::vector<std::string>& rest, std::string body) {
    TeskServer& server = server_;
    const auto device = server.store().snapshot().device(token);
    const auto only = [&](const char* segment) { return rest.size() == 1 && rest[0] == segment; };
    if (!device) {
        if (only("ping")) {
            respond(404, probeHeaders, "");
        } else if (rest.empty()) {
            respondHTML(404, PageStyle::notice(
                                 "This phone isn't paired anymore",
                                 "Pair it again from Tesk on the computer: Phones \u2192 Pair a phone."));
        } else {
            respondText(404, "Not paired");
        }
        return;
    }
    const bool get = request.method == "GET";
    const bool post = request.method == "POST";
    if (get && rest.empty() && !request.hasTrailingSlash) {
        respond(301, {{"Location", "/d/" + token + "/"}}, "");
    } else if (get && rest.empty()) {
        const auto base = server.deviceBase();
        respondHTML(
            200, DevicePages::phone(token, base ? *base + "/" + token + "/" : "", server.offersShareSheet()));
    } else if (get && only("ping")) {
        respond(204, probeHeaders, "");
    } else if (get && only("api")) {
        respond(200, jsonHeaders, compact({{"mac", server.macName()}, {"device", device->name}}));
    } else if (get && only("Send to Tesk.shortcut")) {
        std::ifstream file(server.store().root / "shortcuts" / (token + ".shortcut"), std::ios::binary);
        std::ostringstream bytes;
        bytes << file.rdbuf();
        if (!file || file.bad()) {
            respondText(404, "Not ready yet. Try again in a moment.");
            return;
        }
        respond(200,
                {{"Content-Type", "application/octet-stream"},
                 {"Content-Disposition", HTTP::contentDisposition("Send to Tesk.shortcut", false)}},
                bytes.str());
    } else if (get && only("manifest.json")) {
        respond(200, {{"Content-Type", "application/manifest+json"}}, DevicePages::manifest(token));
    } else if (post && only("upload")) {
        std::string name = "file";
        if (const auto raw = request.headers.find("x-tesk-name"); raw != request.headers.end()) {
            name = HTTP::percentDecoded(raw->second).value_or("file");
        }
        streamUpload(request, std::move(body),
                     [&server, name, token, sender = device->name](const std::filesystem::path& file) {
                         return std::pair{server.store().receiveFromDevice(file, name, token), sender};
                     });
    } else if (post && only("text")) {
        // Refused before reading: a body past the limit is never worth receiving.
        const auto length = request.contentLength();
        if (!length || *length < 1 || *length > static_cast<std::int64_t>(DeviceBodies::maxTextBytes)) {
            respondText(400, "Nothing to send");
            return;
        }
        readSmallBody(
            request, std::move(body),
            [self = shared_from_this(), token, sender = device->name](std::optional<std::string> text) {
                TeskServer& server = self->server_;
                std::optional<Item> item;
                if (const auto sent = DeviceBodies::sentText(text.value_or(""))) {
                    item = server.store().receiveText(*sent, token);
                }
                if (!item) {
                    self->respondText(400, "Nothing to send");
                    return;
                }
                server.report(ServerEvent{ServerEvent::Received{*item, sender}});
                self->respond(201, jsonHeaders, R"({"ok":true})");
            });
    } else {
        respondText(404, "Not found");
    }
}
