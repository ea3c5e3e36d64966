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

std::string phonePage(std::string_view address, std::string_view token) {
    return std::string(address) + "/d/" + HTTP::percentEncoded(token) + "/?from=app";
}

std::string launcher(const RelayMac& mac, bool awake, std::string_view macId, std::string_view token) {
    const std::string extra =
        PageTemplate::filled(RelayPageFiles::launcherLinksHtml, {{"launcher", launcherPath(macId, token)}});
    const auto& ssid = mac.presence.ssid;
    const std::string place = !awake         ? "Not in touch for a few minutes"
                              : ssid.empty() ? "On a network this phone isn't on"
                                             : "On the \u201c" + ssid + "\u201d Wi-Fi";
    const std::string advice = awake ? "Join that Wi-Fi on this phone, then try again."
                                     : "The computer may be asleep, or Tesk may not be running on it.";
    // For networks where the relay's guess is wrong: a guest Wi-Fi, a carrier's shared address.
    const std::string direct =
        mac.presence.lan.empty()
            ? std::string()
            : PageTemplate::filled(
                  R"(<p class="sub" style="margin-top:16px"><a href="{{href}}">Open {{address}} anyway</a></p>)",
                  {{"href", phonePage(mac.presence.lan.front(), token)},
                   {"address", mac.presence.lan.front()}});
    std::string out = PageStyle::head(
        "Tesk", extra, PageTemplate::filled(R"( data-mac="{{mac}}")", {{"mac", mac.presence.name}}));
    out += "<body>";
    out += PageStyle::topBar();
    out += PageTemplate::spliced(
        RelayPageFiles::launcherHtml,
        {{"mac", PageStyle::escaped(mac.presence.name.empty() ? "Tesk" : mac.presence.name)},
         {"place", PageStyle::escaped(place)},
         {"advice", PageStyle::escaped(advice)},
         {"direct", direct}});
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
