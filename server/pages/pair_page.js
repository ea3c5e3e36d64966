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
