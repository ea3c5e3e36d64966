// Which route answers which path, and how the answers that need more than the head are settled.
#include "server/routes.h"

#include "core/ascii.h"
#include "server/device_bodies.h"
#include "server/page_style.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>

namespace Routes {

Answer answer(const HTTPRequest& request, const LibraryStore& store, const ServerFacts& facts,
              DocumentCache& documents) {
    const auto& segments = request.segments;
    if (segments.empty()) {
        // The same page for everyone: built once.
        static const std::string rootNotice = PageStyle::notice(
            "Tesk", "This computer shares files with Tesk. Ask its owner for a link or a QR code.");
        return HTTPResponse::html(200, rootNotice);
    }
    if (segments.size() == 1 && segments[0] == "icon.png" && facts.iconPNG) {
        return HTTPResponse{
            200, {{"Content-Type", "image/png"}, {"Cache-Control", "public, max-age=86400"}}, *facts.iconPNG};
    }
    if (segments.size() >= 2) {
        const std::vector<std::string> rest(segments.begin() + 2, segments.end());
        if (segments[0] == "p") {
            return pairing(request, segments[1], rest, store, facts);
        }
        if (segments[0] == "d") {
            return device(request, segments[1], rest, store, facts);
        }
        if (segments[0] == "s") {
            return share(request, segments[1], rest, store, facts, documents);
        }
    }
    return HTTPResponse::text(404, "Not found");
}

Settled settle(const SmallBody& body, const std::optional<std::string>& received, LibraryStore& store,
               const ServerFacts& facts) {
    if (const auto* claim = std::get_if<SmallBody::Claim>(&body.purpose)) {
        const auto device = store.claimPairing(claim->code, DeviceBodies::claimName(received.value_or("")));
        if (!device) {
            return {HTTPResponse::json(410, R"({"error":"expired"})"), std::nullopt};
        }
        nlohmann::json reply{{"token", device->token},
                             // The address the phone itself used to get here.
                             {"ip", "http://" + claim->address + "/d/" + device->token + "/"}};
        if (facts.deviceBase) {
            reply["launcher"] = *facts.deviceBase + "/" + device->token + "/";
        }
        if (facts.localHostName) {
            reply["local"] = HTTP::url(*facts.localHostName, facts.port, "/d/" + device->token + "/");
        }
        return {HTTPResponse::json(200, reply.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)),
                ServerEvent{ServerEvent::Paired{*device}}};
    }
    const auto& text = std::get<SmallBody::Text>(body.purpose);
    std::optional<Item> item;
    if (const auto sent = DeviceBodies::sentText(received.value_or(""))) {
        item = store.receiveText(*sent, text.token);
    }
    if (!item) {
        return {HTTPResponse::text(400, "Nothing to send"), std::nullopt};
    }
    return {HTTPResponse::json(201, R"({"ok":true})"),
            ServerEvent{ServerEvent::Received{*item, text.sender}}};
}

namespace {

std::optional<std::string> header(const HTTPRequest& request, const std::string& name) {
    const auto found = request.headers.find(name);
    return found == request.headers.end() ? std::nullopt : std::optional(found->second);
}

std::optional<std::int64_t> number(const std::optional<std::string>& text) {
    std::int64_t value = 0;
    if (!text || text->empty()) {
        return std::nullopt;
    }
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (error != std::errc() || end != text->data() + text->size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

bool isUploadID(const std::string& id) {
    return id.size() >= 8 && id.size() <= 64 && std::all_of(id.begin(), id.end(), [](char c) {
               return Ascii::isAlnum(c) || c == '-' || c == '_';
           });
}

} // namespace

std::variant<HTTPResponse, Upload> upload(const HTTPRequest& request,
                                          std::variant<Upload::IntoShare, Upload::FromPhone> destination,
                                          std::string sender) {
    const auto length = request.contentLength();
    const auto id = header(request, "x-tesk-upload");
    if (!length || (*length <= 0 && !id)) {
        return HTTPResponse::text(400, "Missing Content-Length");
    }
    Upload upload{std::move(destination), "file", std::move(sender), *length, false, std::nullopt};
    if (const auto name = header(request, "x-tesk-name")) {
        upload.name = HTTP::percentDecoded(*name).value_or("file");
    }
    const auto expect = header(request, "expect");
    upload.expectsContinue = expect && Ascii::equalsIgnoringCase(*expect, "100-continue");
    if (id) {
        const auto offset = number(header(request, "x-tesk-offset"));
        const auto size = number(header(request, "x-tesk-size"));
        if (!isUploadID(*id) || !offset || !size || *size < 1) {
            return HTTPResponse::text(400, "Bad piece");
        }
        if (*offset > *size || *length > *size - *offset) {
            return HTTPResponse::text(400, "Past the end of the file");
        }
        upload.piece = Upload::Piece{*id, *offset, *size};
    }
    return upload;
}

Item file(const Upload& upload, const std::filesystem::path& file, LibraryStore& store) {
    if (const auto* into = std::get_if<Upload::IntoShare>(&upload.destination)) {
        return store.receiveUpload(file, upload.name, into->share, into->folder, upload.sender);
    }
    return store.receiveFromDevice(file, upload.name, std::get<Upload::FromPhone>(upload.destination).token);
}

std::variant<HTTPResponse, FileSend> send(const HTTPRequest& request, const Item& item, std::int64_t size) {
    const bool isInline = request.query.contains("inline");
    HTTP::Headers headers{{"Content-Type", std::string(HTTP::mimeType(item.name))},
                          {"Content-Disposition", HTTP::contentDisposition(item.name, isInline)},
                          {"Accept-Ranges", "bytes"},
                          {"Cache-Control", isInline ? "private, max-age=3600" : "no-store"}};
    std::optional<std::string> rangeHeader;
    if (const auto found = request.headers.find("range"); found != request.headers.end()) {
        rangeHeader = found->second;
    }
    const ByteRangeResult range = HTTP::range(rangeHeader, size);
    if (std::holds_alternative<ByteRangeResult::Unsatisfiable>(range.value)) {
        return HTTPResponse{416, {{"Content-Range", "bytes */" + std::to_string(size)}}, ""};
    }
    std::int64_t start = 0;
    std::int64_t last = size - 1;
    int status = 200;
    if (const auto* partial = std::get_if<ByteRangeResult::Partial>(&range.value)) {
        start = partial->start;
        last = partial->end;
        status = 206;
        headers.emplace_back("Content-Range", "bytes " + std::to_string(start) + "-" + std::to_string(last) +
                                                  "/" + std::to_string(size));
    }
    const std::int64_t count = std::max<std::int64_t>(last - start + 1, 0);
    headers.emplace_back("Content-Length", std::to_string(count));
    return FileSend{HTTP::head(status, headers), start, count,
                    !isInline && start == 0 && request.method == "GET"};
}

} // namespace Routes
