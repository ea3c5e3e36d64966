#include "relay/relay_pages.h"

#include "server/page_style.h"

#include <nlohmann/json.hpp>

namespace {

/// RFC 3986 unreserved characters stay; every other byte is escaped.
std::string encodedSegment(std::string_view segment) {
    constexpr std::string_view hexDigits = "0123456789ABCDEF";
    std::string out;
    for (const char c : segment) {
        const auto byte = static_cast<unsigned char>(c);
        const bool unreserved = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            out += c;
        } else {
            out += '%';
            out += hexDigits[byte >> 4];
            out += hexDigits[byte & 0x0f];
        }
    }
    return out;
}

std::string compact(const nlohmann::ordered_json& value) {
    return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

constexpr std::string_view launcherBody =
    R"(<main><section id="looking"><h1>Opening Tesk…</h1>)"
    R"(<p class="sub">Looking for the computer on this Wi-Fi.</p></section>)"
    R"(<section id="install" class="card hidden"><h2>Add Tesk to your Home Screen</h2>)"
    R"(<p>Then one tap opens Tesk, even after the computer's address changes.</p><ol id="steps" class="steps"></ol>)"
    R"(<button id="open" class="btn soft" type="button">Open Tesk now</button></section>)"
    R"(<section id="unreachable" class="notice hidden"><h1>Tesk isn't reachable</h1>)"
    R"(<p>Make sure this phone is on the same Wi-Fi as the computer, and that Tesk is running on it.</p>)"
    R"(<button id="retry" class="btn small" type="button" style="margin-top:16px">Try again</button></section>)"
    R"(</main>)";

constexpr std::string_view launcherScript = R"js(
const $ = (id) => document.getElementById(id);
const root = document.documentElement;

// A name that does not resolve from the phone can hang for many seconds before failing.
const PING_MS = 1500;

function addressList() {
  try {
    const parsed = JSON.parse(root.getAttribute("data-addresses") || "[]");
    return Array.isArray(parsed) ? parsed.filter((address) => typeof address === "string") : [];
  } catch (error) {
    return [];
  }
}

const addresses = addressList();
const token = encodeURIComponent(root.getAttribute("data-token") || "");
const ua = navigator.userAgent || "";
// iPads ask for desktop pages and say "Macintosh"; only the touch points tell them apart.
const isIOS = /iPhone|iPad|iPod/.test(ua) || (ua.includes("Macintosh") && navigator.maxTouchPoints > 1);
const standalone = (typeof matchMedia === "function" && matchMedia("(display-mode: standalone)").matches) ||
  navigator.standalone === true;

const STEPS = {
  ios: ["Tap <b>Share</b> at the bottom of Safari", "Tap <b>Add to Home Screen</b>", "Next time, just tap <b>Tesk</b>"],
  other: ["Open the browser menu <b>⋮</b>", "Tap <b>Add to Home screen</b>", "Next time, just tap <b>Tesk</b>"],
};

function show(id) {
  for (const section of ["looking", "install", "unreachable"]) $(section).classList.toggle("hidden", section !== id);
}

// The computer's own server answers "ping" for a paired phone, with CORS, so this page may ask it.
async function answers(address) {
  const abort = new AbortController();
  const timer = setTimeout(() => abort.abort(), PING_MS);
  try {
    const response = await fetch(address + "/d/" + token + "/ping",
      { mode: "cors", cache: "no-store", signal: abort.signal });
    return response.ok;
  } catch (error) {
    return false;
  } finally {
    clearTimeout(timer);
  }
}

let searching = false;
async function find() {
  if (searching) return;
  searching = true;
  show("looking");
  $("dot").classList.add("off");
  try {
    for (const address of addresses) {
      if (await answers(address)) {
        $("dot").classList.remove("off");
        // Replaced, not pushed: going back should leave Tesk, not land on this search again.
        location.replace(address + "/d/" + token + "/?from=app");
        return;
      }
    }
    show("unreachable");
  } finally {
    searching = false;
  }
}

function start() {
  const mac = root.getAttribute("data-mac");
  if (mac) $("mac").textContent = mac;
  $("retry").addEventListener("click", find);
  $("open").addEventListener("click", find);
  // A phone coming back to the app after joining the Wi-Fi should not need to tap "Try again".
  document.addEventListener("visibilitychange", () => {
    if (!document.hidden && !$("unreachable").classList.contains("hidden")) find();
  });
  // Arriving from pairing, the page must stay long enough to be added to the Home Screen.
  if (new URLSearchParams(location.search).get("new") === "1" && !standalone) {
    $("steps").innerHTML = STEPS[isIOS ? "ios" : "other"].map((step) => "<li>" + step + "</li>").join("");
    show("install");
    return;
  }
  find();
}

start();
)js";

} // namespace

namespace RelayPages {

std::string launcherPath(std::string_view macId, std::string_view token) {
    return "/d/" + encodedSegment(macId) + "/" + encodedSegment(token) + "/";
}

std::string launcher(std::string_view macName, const std::vector<std::string>& addresses,
                     std::string_view macId, std::string_view token) {
    const std::string extra = "<link rel=\"manifest\" href=\"" +
                              PageStyle::escaped(launcherPath(macId, token)) +
                              "manifest.json\">\n"
                              "<link rel=\"apple-touch-icon\" href=\"/icon.png\">\n"
                              "<meta name=\"apple-mobile-web-app-capable\" content=\"yes\">\n"
                              "<meta name=\"mobile-web-app-capable\" content=\"yes\">\n"
                              "<meta name=\"apple-mobile-web-app-title\" content=\"Tesk\">\n";
    const std::string attributes = " data-mac=\"" + PageStyle::escaped(macName) + "\" data-token=\"" +
                                   PageStyle::escaped(token) + "\" data-addresses=\"" +
                                   PageStyle::escaped(compact(addresses)) + "\"";
    std::string out = PageStyle::head("Tesk", extra, attributes);
    out += "<body>";
    out += PageStyle::topBar();
    out += launcherBody;
    out += "<script>";
    out += launcherScript;
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
    std::string out = PageStyle::head("Tesk");
    out += "<body>";
    out += PageStyle::topBar();
    out += R"(<div class="notice"><h1>You’re following “)";
    out += PageStyle::escaped(title);
    out += R"(”</h1><p>Whoever shares it with Tesk can now see that you follow it.</p></div></body></html>)";
    return out;
}

} // namespace RelayPages
