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

std::string pushKeyAttribute(std::string_view pushKey) {
    return PageTemplate::filled(R"( data-push-key="{{key}}")", {{"key", pushKey}});
}

/// The card whose button subscribes the browser; `why` says what it will hear about. None from a relay
/// without a key: it sends no notifications.
std::string notifyCard(std::string_view why, std::string_view pushKey) {
    return pushKey.empty() ? std::string()
                           : PageTemplate::filled(RelayPageFiles::notifyCardHtml, {{"why", why}});
}

/// The scripts of a page, ending it. They start on the line after the element's opening tag.
std::string scriptAndEnd(std::string_view script) {
    return "<script>\n" + std::string(script) + "</script></body></html>";
}

/// The shares waiting for a phone of the Mac `macId`, each a link to its share's stable link naming the
/// item (which then stops waiting), then `after`; only `after` when none waits. The page fills in how long
/// ago each was sent, by the phone's clock.
std::string waitingCard(const std::vector<RelayWaitingItem>& waiting, std::string_view macId,
                        std::string_view after) {
    if (waiting.empty()) {
        return std::string(after);
    }
    std::string rows;
    for (const auto& item : waiting) {
        const std::string href = "/k/" + HTTP::percentEncoded(macId) + "/" +
                                 HTTP::percentEncoded(item.token) + "?item=" + HTTP::percentEncoded(item.ref);
        rows += PageTemplate::filled(
            R"(<a class="row" href="{{href}}"><div class="main"><div class="name">{{title}}</div>)"
            R"(<div class="meta" data-at="{{at}}"></div></div></a>)",
            {{"href", href},
             {"title", item.title.empty() ? "Untitled" : item.title},
             {"at", std::to_string(item.at)}});
    }
    return PageTemplate::spliced(R"(<section id="waiting" class="card"><h2>Waiting for you</h2>)"
                                 R"(<div class="list">{{rows}}</div>{{after}}</section>)",
                                 {{"rows", rows}, {"after", after}});
}

} // namespace

namespace RelayPages {

std::string launcherPath(std::string_view macId, std::string_view token) {
    return "/d/" + HTTP::percentEncoded(macId) + "/" + HTTP::percentEncoded(token) + "/";
}

std::string phonePage(std::string_view address, std::string_view token) {
    return std::string(address) + "/d/" + HTTP::percentEncoded(token) + "/?from=app";
}

std::string launcher(const RelayMac& mac, const LauncherView& view, std::string_view macId,
                     std::string_view token) {
    const std::string extra =
        PageTemplate::filled(RelayPageFiles::launcherLinksHtml, {{"launcher", launcherPath(macId, token)}});
    const auto& ssid = mac.presence.ssid;
    const std::string place = !view.awake    ? "Not in touch for a few minutes"
                              : ssid.empty() ? "On a network this phone isn't on"
                                             : "On the \u201c" + ssid + "\u201d Wi-Fi";
    const std::string advice = view.awake ? "Join that Wi-Fi on this phone, then try again."
                                          : "The computer may be asleep, or Tesk may not be running on it.";
    const std::string phone =
        mac.presence.lan.empty() ? std::string() : phonePage(mac.presence.lan.front(), token);
    // For networks where the relay's guess is wrong: a guest Wi-Fi, a carrier's shared address.
    const std::string direct =
        phone.empty()
            ? std::string()
            : PageTemplate::filled(
                  R"(<p class="sub" style="margin-top:16px"><a href="{{href}}">Open {{address}} anyway</a></p>)",
                  {{"href", phone}, {"address", mac.presence.lan.front()}});
    // Its presence tells the page's script that the phone is on the Mac's network.
    const std::string openTesk =
        view.here && !phone.empty()
            ? PageTemplate::filled(R"(<a id="open-tesk" class="btn" href="{{href}}">Open Tesk</a>)",
                                   {{"href", phone}})
            : std::string();
    std::string out =
        PageStyle::head("Tesk", extra,
                        PageTemplate::filled(R"( data-mac="{{mac}}")", {{"mac", mac.presence.name}}) +
                            pushKeyAttribute(view.pushKey));
    out += "<body>";
    out += PageStyle::topBar();
    out += PageTemplate::spliced(
        RelayPageFiles::launcherHtml,
        {{"mac", PageStyle::escaped(mac.presence.name.empty() ? "Tesk" : mac.presence.name)},
         {"place", PageStyle::escaped(place)},
         {"advice", PageStyle::escaped(advice)},
         {"direct", direct},
         {"waiting", waitingCard(view.waiting, macId, openTesk)},
         {"notify",
          notifyCard("Get a notification when the computer sends something to this phone.", view.pushKey)}});
    out +=
        scriptAndEnd(std::string(RelayPageFiles::launcherJs) + std::string(RelayPageFiles::pushSubscribeJs));
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

std::string following(std::string_view title, std::string_view pushKey) {
    return PageStyle::head("Tesk", "", pushKeyAttribute(pushKey)) + "<body>" +
           std::string(PageStyle::topBar()) +
           PageTemplate::spliced(
               RelayPageFiles::followingHtml,
               {{"title", PageStyle::escaped(title)},
                {"notify", notifyCard("Get a notification when something new is added to it.", pushKey)}}) +
           scriptAndEnd(RelayPageFiles::pushSubscribeJs);
}

std::string pushWorker() {
    return std::string(RelayPageFiles::pushWorkerJs);
}

} // namespace RelayPages
