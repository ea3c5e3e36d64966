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
