#include "device_pages.h"

#include "page_style.h"
#include "page_template.h"
#include "server_page_files.h"
#include "shared_script.h"

#include <nlohmann/json.hpp>

#include <stdexcept>

namespace {

std::string page(std::string_view title, std::string_view extra, std::string_view htmlAttributes,
                 std::string_view body, std::string_view script) {
    std::string out = PageStyle::head(title, extra, htmlAttributes);
    out += "<body>";
    out += PageStyle::topBar();
    out += body;
    out += "<script>";
    out += SharedScript::text();
    // The page's own script starts on the line after the shared one.
    out += "\n";
    out += script;
    out += "</script></body></html>";
    return out;
}

/// `text` without its one piece that runs from `first` through the next `last`; a page file that lost
/// the piece is a build mistake, so it throws rather than sending the piece anyway.
std::string without(std::string_view text, std::string_view first, std::string_view last) {
    const auto begin = text.find(first);
    const auto end = begin == std::string_view::npos ? begin : text.find(last, begin);
    if (end == std::string_view::npos) {
        throw std::logic_error("page piece not found: " + std::string(first));
    }
    return std::string(text.substr(0, begin)).append(text.substr(end + last.size()));
}

} // namespace

namespace DevicePages {

std::string pair(std::string_view mac) {
    return page(PageTemplate::filled("Pair with {{mac}}", {{"mac", mac}}), "",
                PageTemplate::filled(R"( data-mac="{{mac}}")", {{"mac", mac}}), ServerPageFiles::pairPageHtml,
                ServerPageFiles::pairPageJs);
}

std::string phone(std::string_view token, std::string_view launcher, bool shareSheet) {
    // With a relay the Home Screen icon belongs on the relay's page, so this page offers none of its own.
    const std::string extra =
        launcher.empty() ? PageTemplate::filled(ServerPageFiles::phoneLinksHtml, {{"token", token}}) : "";
    const std::string attributes =
        PageTemplate::filled(R"( data-launcher="{{launcher}}")", {{"launcher", launcher}});
    if (shareSheet) {
        return page("Tesk", extra, attributes, ServerPageFiles::phonePageHtml, ServerPageFiles::phonePageJs);
    }
    // The share-sheet card and the line that shows it are there only where this computer can sign the
    // shortcut the card's button downloads.
    return page("Tesk", extra, attributes,
                without(ServerPageFiles::phonePageHtml, R"(<section id="share-sheet")", "</section>"),
                without(ServerPageFiles::phonePageJs, R"(  if (isIOS) $("share-sheet"))", "\n"));
}

std::string manifest(std::string_view token) {
    // ordered_json keeps the keys in the order written here.
    const std::string start = "/d/" + std::string(token) + "/";
    const nlohmann::ordered_json icon = {{"src", "/icon.png"}, {"sizes", "180x180"}, {"type", "image/png"}};
    const nlohmann::ordered_json document = {
        {"name", "Tesk"},           {"short_name", "Tesk"},
        {"start_url", start},       {"scope", start},
        {"display", "standalone"},  {"background_color", "#FFFFFF"},
        {"theme_color", "#007AFF"}, {"icons", nlohmann::ordered_json::array({icon})},
    };
    // A token is plain ASCII from the library; replacing keeps dump() from throwing on anything else.
    return document.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

} // namespace DevicePages
