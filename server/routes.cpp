// The request router: which route answers which path.
#include "server/page_style.h"
#include "server/request_handler.h"
#include "server/tesk_server.h"

void RequestHandler::route(const HTTPRequest& request, std::string body) {
    const auto& segments = request.segments;
    if (segments.empty()) {
        // The same page for everyone: built once.
        static const std::string rootNotice = PageStyle::notice(
            "Tesk", "This computer shares files with Tesk. Ask its owner for a link or a QR code.");
        respondHTML(200, rootNotice);
        return;
    }
    if (segments.size() == 1 && segments[0] == "icon.png") {
        if (const auto icon = server_.iconPNG()) {
            respond(200, {{"Content-Type", "image/png"}, {"Cache-Control", "public, max-age=86400"}}, *icon);
            return;
        }
    }
    if (segments.size() >= 2) {
        const std::vector<std::string> rest(segments.begin() + 2, segments.end());
        if (segments[0] == "p") {
            routePairing(request, segments[1], rest, std::move(body));
            return;
        }
        if (segments[0] == "d") {
            routeDevice(request, segments[1], rest, std::move(body));
            return;
        }
        if (segments[0] == "s") {
            routeShare(request, segments[1], rest, std::move(body));
            return;
        }
    }
    respondText(404, "Not found");
}
