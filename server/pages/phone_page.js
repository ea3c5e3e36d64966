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
  if (isIOS) $("share-sheet").classList.remove("hidden");
  const launcher = document.documentElement.getAttribute("data-launcher") || "";
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
