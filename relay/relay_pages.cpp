#include "relay/relay_pages.h"

#include "core/http.h"
#include "relay_page_files.h"
#include "server/page_style.h"
#include "server/page_template.h"

#include <nlohmann/json.hpp>

namespace {

std::string compact(const nlohmann::ordered_json& value) {
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

} // namespace

namespace RelayPages {

std::string launcherPath(std::string_view macId, std::string_view token) {
    return "/d/" + HTTP::percentEncoded(macId) + "/" + HTTP::percentEncoded(token) + "/";
}

std::string launcher(std::string_view macName, const std::vector<std::string>& addresses,
                     std::string_view macId, std::string_view token) {
    const std::string extra =
        PageTemplate::filled(RelayPageFiles::launcherLinksHtml, {{"launcher", launcherPath(macId, token)}});
    const std::string attributes =
        PageTemplate::filled(R"( data-mac="{{mac}}" data-token="{{token}}" data-addresses="{{addresses}}")",
                             {{"mac", macName}, {"token", token}, {"addresses", compact(addresses)}});
    std::string out = PageStyle::head("Tesk", extra, attributes);
    out += "<body>";
    out += PageStyle::topBar();
    out += RelayPageFiles::launcherHtml;
    // The script starts on the line after the element's opening tag.
    out += "<script>\n";
    out += RelayPageFiles::launcherJs;
    out += "</script></body></html>";
    return out;
}

std::string manifest(std::string_view macId, std::string_view token) {
    const std::string start = launcherPath(macId, token);
    const nlohmann::ordered_json icon = {{"src", "/icon.png"}, {"sizes", "180x180"}, {"type", "image/png"}};
    return compact({
        {"name", "Tesk"},
        {"short_name", "Tesk"},
        {"start_url", start},
        {"scope", start},
        {"display", "standalone"},
        {"background_color", "#FFFFFF"},
        {"theme_color", "#007AFF"},
        {"icons", nlohmann::ordered_json::array({icon})},
    });
}

std::string following(std::string_view title) {
    return PageStyle::head("Tesk") + "<body>" + std::string(PageStyle::topBar()) +
           PageTemplate::filled(RelayPageFiles::followingHtml, {{"title", title}}) + "</body></html>";
}

} // namespace RelayPages
