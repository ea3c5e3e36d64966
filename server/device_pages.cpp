#include "device_pages.h"

#include "page_style.h"
#include "shared_script.h"

#include <nlohmann/json.hpp>

namespace {

std::string page(std::string_view title, std::string_view extra, std::string_view htmlAttributes,
                 std::string_view body, std::string_view script) {
    std::string out = PageStyle::head(title, extra, htmlAttributes);
    out += "<body>";
    out += PageStyle::topBar();
    out += body;
    out += "<script>";
    out += SharedScript::text();
    out += script;
    out += "</script></body></html>";
    return out;
}

constexpr std::string_view pairBody =
    R"(<main><h1>Pair this phone</h1>)"
    R"(<p class="sub">Then you can send to the computer with one tap from your Home Screen. No more scanning.</p>)"
    R"(<form id="form" class="card"><h2>Name this phone</h2><p>So you can tell it apart on the computer.</p>)"
    R"(<input id="name" type="text" maxlength="40" autocomplete="off" aria-label="Phone name">)"
    R"(<button id="go" class="btn" type="submit">Pair</button><p id="status" class="status-line"></p>)"
    R"(</form></main>)";

constexpr std::string_view pairScript = R"js(
const $ = (id) => document.getElementById(id);

// The relay learns of the phone at the computer's next check-in, which the computer starts as soon as the phone
// pairs: a few seconds usually. One overall limit also covers a relay that never answers at all.
const RELAY_TRIES = 12;
const RELAY_GAP_MS = 1000;
const RELAY_PATIENCE_MS = RELAY_TRIES * RELAY_GAP_MS;
// A local name that does not resolve from the phone can hang for many seconds before failing.
const PING_MS = 1500;

const wait = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const text = (value) => (typeof value === "string" ? value : "");

function failure(kind) {
  const error = new Error(kind);
  error.kind = kind;
  return error;
}

// The claim's reply names the phone page at up to three addresses; "ip" is always there.
async function claim(name) {
  const response = await fetch("claim", {
    method: "POST",
    headers: { "Content-Type": "application/json" },
    body: JSON.stringify({ name }),
  });
  if (!response.ok) throw failure(response.status === 410 ? "expired" : "failed");
  const reply = await response.json();
  if (!reply || !text(reply.ip)) throw failure("failed");
  return reply;
}

// The launcher is the relay's origin + "/d/" + macId + "/" + device token + "/".
async function relayKnows(launcher) {
  let where;
  try {
    const url = new URL(launcher);
    const [, , macId, token] = url.pathname.split("/");
    if (!macId || !token) return false;
    where = url.origin + "/api/macs/" + macId + "/where?device=" + token;
  } catch (error) {
    return false;
  }
  const patience = new AbortController();
  const timer = setTimeout(() => patience.abort(), RELAY_PATIENCE_MS);
  try {
    for (let attempt = 1; attempt <= RELAY_TRIES && !patience.signal.aborted; attempt++) {
      try {
        const response = await fetch(where, { cache: "no-store", signal: patience.signal });
        if (response.ok) return true;
      } catch (error) {
        // Not known yet, or the relay is out of reach: both mean try again.
      }
      if (attempt < RELAY_TRIES && !patience.signal.aborted) await wait(RELAY_GAP_MS);
    }
    return false;
  } finally {
    clearTimeout(timer);
  }
}

async function reachable(local) {
  const abort = new AbortController();
  const timer = setTimeout(() => abort.abort(), PING_MS);
  try {
    const response = await fetch(local + "ping", { mode: "cors", cache: "no-store", signal: abort.signal });
    return response.ok;
  } catch (error) {
    return false;
  } finally {
    clearTimeout(timer);
  }
}

// The relay's page finds the computer wherever it moves; the local name survives a new address; the number
// works only as long as the computer keeps it.
async function phonePage(reply) {
  const launcher = text(reply.launcher);
  if (launcher && (await relayKnows(launcher))) return launcher;
  const local = text(reply.local);
  if (local && (await reachable(local))) return local;
  return reply.ip;
}

async function submit(event) {
  event.preventDefault();
  const go = $("go");
  const status = $("status");
  if (go.disabled) return;
  go.disabled = true;
  go.textContent = "Pairing…";
  status.className = "status-line";
  status.textContent = "";
  try {
    const reply = await claim($("name").value);
    // Replaced, not pushed: going back must not land on a pairing code that is used up.
    location.replace((await phonePage(reply)) + "?new=1");
  } catch (error) {
    status.className = "status-line err";
    status.textContent = error.kind === "expired"
      ? "This pairing code ran out. Make a new one in Tesk on the computer."
      : "Couldn't pair. Check you're on the same Wi-Fi as the computer and try again.";
    go.disabled = false;
    go.textContent = "Pair";
  }
}

function start() {
  const mac = document.documentElement.getAttribute("data-mac");
  if (mac) $("mac").textContent = mac;
  const device = deviceName();
  $("name").value = device === "a browser" ? "Phone" : device;
  $("form").addEventListener("submit", submit);
}

start();
)js";

constexpr std::string_view phoneBody =
    R"(<main><h1 id="title">Send to your computer</h1><p id="sub" class="sub">From this phone, over your Wi-Fi.</p>)"
    R"(<section id="tip" class="card hidden"><h2>Add Tesk to your Home Screen</h2>)"
    R"(<p>Then sending is one tap, no scanning.</p><ol id="tip-steps" class="steps"></ol></section>)";

// Offered only where this computer can sign the shortcut the button downloads.
constexpr std::string_view shareSheetCard =
    R"(<section id="share-sheet" class="card hidden"><h2>Send from any app's Share button</h2>)"
    R"(<p>Add <b>Send to Tesk</b> to your share sheet. Then in Photos, Files or Safari: Share → Send to Tesk.</p>)"
    R"(<a class="btn soft" href="Send%20to%20Tesk.shortcut">Add to share sheet</a></section>)";

constexpr std::string_view phoneBodyRest =
    R"(<div id="drop" class="drop"><span id="drop-icon"></span><h2>Photos and files</h2>)"
    R"(<p>Pick as many as you like. They land in this phone's folder on the computer.</p>)"
    R"(<button id="pick" class="btn" type="button">Choose photos &amp; files</button></div>)"
    R"(<div id="uploads-label" class="label hidden">Sending</div><div id="uploads" class="list hidden"></div>)"
    R"(<div class="label">Text or a link</div>)"
    R"(<textarea id="text" placeholder="Paste or type here" aria-label="Text or a link"></textarea>)"
    R"(<button id="send-text" class="btn soft" type="button">Send to the computer</button>)"
    R"(<p id="text-status" class="status-line"></p></main>)"
    R"(<input id="picker" type="file" multiple hidden>)";

constexpr std::string_view phoneScript = R"js(
const $ = (id) => document.getElementById(id);

const ua = navigator.userAgent || "";
// iPads ask for desktop pages and say "Macintosh"; only the touch points tell them apart.
const isIOS = /iPhone|iPad|iPod/.test(ua) || (ua.includes("Macintosh") && navigator.maxTouchPoints > 1);
const standalone = (typeof matchMedia === "function" && matchMedia("(display-mode: standalone)").matches) ||
  navigator.standalone === true;

// A computer that went to sleep never answers; without a limit the page would look connected for minutes.
const HELLO_TIMEOUT_MS = 10000;

let ended = false;  // set by unpaired(): the token is gone for good
let asked = 0;      // numbers the hellos in the order they start...
let answered = 0;   // ...so an answer older than the one on screen is dropped

async function hello() {
  if (ended) return;
  const ticket = ++asked;
  const abort = new AbortController();
  const timer = setTimeout(() => abort.abort(), HELLO_TIMEOUT_MS);
  try {
    const response = await fetch("api", { cache: "no-store", signal: abort.signal });
    if (response.status === 404) return unpaired();
    const doc = await response.json();
    if (ended || ticket < answered) return;
    answered = ticket;
    if (!doc || typeof doc.mac !== "string" || typeof doc.device !== "string") return offline();
    $("mac").textContent = doc.mac;
    $("dot").className = "dot";
    $("title").textContent = "Send to " + doc.mac;
    $("sub").textContent = "From " + doc.device + ", over your Wi-Fi.";
  } catch (error) {
    if (!ended && ticket >= answered) {
      answered = ticket;
      offline();
    }
  } finally {
    clearTimeout(timer);
  }
}

function offline() {
  $("dot").className = "dot off";
  $("mac").textContent = "Can't reach the computer";
  $("sub").textContent = "Make sure the computer is awake and you're on the same Wi-Fi.";
}

// Final: a removed phone's token never comes back.
function unpaired() {
  ended = true;
  document.querySelector("main").innerHTML = '<div class="notice" style="margin:24px 0">' +
    "<h1>This phone isn’t paired anymore</h1><p>Pair it again from Tesk on the computer: Phones → Pair a phone.</p></div>";
}

const STEPS = {
  ios: ["Tap <b>Share</b> at the bottom of Safari", "Tap <b>Add to Home Screen</b>", "Next time, just tap <b>Tesk</b>"],
  other: ["Open the browser menu <b>⋮</b>", "Tap <b>Add to Home screen</b>", "Next time, just tap <b>Tesk</b>"],
};

// With a relay the icon belongs on its page, which finds the computer after an address change; this page
// only points there. Opened from that icon ("from=app"), or already installed, it needs no tip.
function tips() {
)js";

// Shows the share-sheet card; only in a page that has it.
constexpr std::string_view shareSheetScript = R"js(  if (isIOS) $("share-sheet").classList.remove("hidden");
)js";

constexpr std::string_view phoneScriptRest =
    R"js(  const launcher = document.documentElement.getAttribute("data-launcher") || "";
  const fromApp = new URLSearchParams(location.search).get("from") === "app";
  const tip = $("tip");
  if (launcher && !fromApp) {
    tip.classList.remove("hidden");
    tip.querySelector("p").textContent =
      "Add it from Tesk's page, so the icon keeps working when the computer's address changes.";
    const link = document.createElement("a");
    link.className = "btn soft";
    link.style.marginTop = "12px";
    link.href = launcher + "?new=1";
    link.textContent = "Set up the Home Screen icon";
    $("tip-steps").replaceWith(link);
  } else if (!launcher && !standalone) {
    tip.classList.remove("hidden");
    $("tip-steps").innerHTML = STEPS[isIOS ? "ios" : "other"].map((step) => "<li>" + step + "</li>").join("");
  }
}

// Batches chain too, so files chosen while others are still going wait their turn.
let sending = Promise.resolve();
function sendChosen() {
  const picker = $("picker");
  const files = Array.from(picker.files);
  picker.value = "";  // so choosing the same file again still fires "change"
  if (!files.length) return sending;
  $("uploads-label").classList.remove("hidden");
  const list = $("uploads");
  sending = sending.then(async () => {
    for (const file of files) {
      if (ended) return;
      await sendFile(file, "upload", list, unpaired);
    }
  });
  return sending;
}

async function sendText() {
  const box = $("text");
  const status = $("text-status");
  const button = $("send-text");
  const text = box.value.trim();
  if (!text || button.disabled) return;
  button.disabled = true;
  status.className = "status-line";
  status.textContent = "";
  try {
    const response = await fetch("text", {
      method: "POST",
      headers: { "Content-Type": "text/plain;charset=utf-8" },
      body: text,
    });
    if (response.status === 404) return unpaired();
    if (!response.ok) throw new Error("status " + response.status);
    box.value = "";
    status.className = "status-line ok";
    status.textContent = "Sent to the computer.";
  } catch (error) {
    status.className = "status-line err";
    status.textContent = "Couldn't reach the computer. Same Wi-Fi?";
  } finally {
    button.disabled = false;
  }
}

function start() {
  $("drop-icon").innerHTML = ICON.drop;
  tips();
  $("pick").addEventListener("click", () => $("picker").click());
  $("picker").addEventListener("change", sendChosen);
  $("send-text").addEventListener("click", sendText);
  document.addEventListener("visibilitychange", () => {
    if (!document.hidden) hello();
  });
  hello();
}

start();
)js";

} // namespace

namespace DevicePages {

std::string pair(std::string_view mac) {
    const auto name = PageStyle::escaped(mac);
    return page("Pair with " + name, "", " data-mac=\"" + name + "\"", pairBody, pairScript);
}

std::string phone(std::string_view token, std::string_view launcher, bool shareSheet) {
    // With a relay the Home Screen icon belongs on the relay's page, so this page offers none of its own.
    std::string extra;
    if (launcher.empty()) {
        extra = "<link rel=\"manifest\" href=\"/d/" + PageStyle::escaped(token) +
                "/manifest.json\">\n"
                "<link rel=\"apple-touch-icon\" href=\"/icon.png\">\n"
                "<meta name=\"apple-mobile-web-app-capable\" content=\"yes\">\n"
                "<meta name=\"apple-mobile-web-app-title\" content=\"Tesk\">\n";
    }
    std::string body(phoneBody);
    std::string script(phoneScript);
    if (shareSheet) {
        body += shareSheetCard;
        script += shareSheetScript;
    }
    body += phoneBodyRest;
    script += phoneScriptRest;
    return page("Tesk", extra, " data-launcher=\"" + PageStyle::escaped(launcher) + "\"", body, script);
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
