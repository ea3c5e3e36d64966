const $ = (id) => document.getElementById(id);

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
  for (const section of ["install", "elsewhere"]) $(section).classList.toggle("hidden", section !== id);
}

// "just now", "5 min ago", "3 h ago", "2 days ago", by this phone's clock.
function ago(at) {
  const seconds = Date.now() / 1000 - at;
  if (seconds < 60) return "just now";
  if (seconds < 3600) return Math.floor(seconds / 60) + " min ago";
  if (seconds < 86400) return Math.floor(seconds / 3600) + " h ago";
  const days = Math.floor(seconds / 86400);
  return days === 1 ? "yesterday" : days + " days ago";
}

// The relay decides where the phone is and sends it on to the computer when it is on its network; an
// https page may not ask the computer's http address itself. Asking again is loading this page again.
function askAgain() {
  location.replace(location.pathname);
}

function start() {
  const mac = document.documentElement.getAttribute("data-mac");
  if (mac) $("mac").textContent = mac;
  for (const time of document.querySelectorAll("#waiting [data-at]")) {
    time.textContent = "Sent " + ago(Number(time.dataset.at));
  }
  $("retry").addEventListener("click", askAgain);
  $("open").addEventListener("click", askAgain);
  // A phone coming back to the app after joining the Wi-Fi should not need to tap "Try again".
  document.addEventListener("visibilitychange", () => {
    // Back from an opened item too: it no longer waits.
    if (!document.hidden && (!$("elsewhere").classList.contains("hidden") || $("open-tesk"))) askAgain();
  });
  // Arriving from pairing, the page must stay long enough to be added to the Home Screen.
  if (new URLSearchParams(location.search).get("new") === "1") {
    if (standalone) return askAgain();
    $("steps").innerHTML = STEPS[isIOS ? "ios" : "other"].map((step) => "<li>" + step + "</li>").join("");
    show("install");
    return;
  }
  // On the computer's network the relay shows this page only for what waits; "Open Tesk" goes on.
  if ($("open-tesk")) return show(null);
  $("dot").classList.add("off");
  $("mac").textContent = "Not on this Wi-Fi";
  show("elsewhere");
}

start();
