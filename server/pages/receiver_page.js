const $ = (id) => document.getElementById(id);

let state = null;   // the last payload drawn
let timer = 0;      // the polling interval; cancelled for good by gone()
let ended = false;  // set by gone(): nothing loads or draws after it
let started = 0;    // numbers the loads in the order they start...
let applied = 0;    // ...so an answer older than the one on screen is dropped
let pending = 0;    // loads in flight; polling waits for them instead of piling up requests

// A computer that went to sleep never answers; without a limit the page would look connected for minutes.
const LOAD_TIMEOUT_MS = 10000;

// Sets markup only when it changed: polling every few seconds must not rebuild rows (images would
// reload and a "Copied" button would flip back) when nothing happened.
const shown = new Map();
function show(id, html) {
  if (shown.get(id) === html) return;
  shown.set(id, html);
  $(id).innerHTML = html;
}

function plural(n, word) {
  return n + " " + word + (n === 1 ? "" : "s");
}

function ago(iso) {
  const s = (Date.now() - Date.parse(iso)) / 1000;
  if (s < 60) return "just now";
  if (s < 3600) return Math.round(s / 60) + " min ago";
  if (s < 86400) return Math.round(s / 3600) + " h ago";
  return Math.round(s / 86400) + " d ago";
}

// The limits sit just under the hour and the day, so a rounded "60 more min" or "24 more h" never shows.
function until(iso) {
  if (!iso) return "until they stop it";
  const s = (Date.parse(iso) - Date.now()) / 1000;
  if (s <= 0) return "link expired";
  if (s < 3570) return "link works for " + Math.max(1, Math.round(s / 60)) + " more min";
  if (s < 84600) return "link works for " + Math.round(s / 3600) + " more h";
  const d = Math.round(s / 86400);
  return "link works for " + d + " more day" + (d === 1 ? "" : "s");
}

function folderQuery() {
  return new URLSearchParams(location.search).get("folder") || "";
}

function withFolder(address, f) {
  return address + (f ? "?folder=" + encodeURIComponent(f) : "");
}

async function load() {
  if (ended) return;
  const ticket = ++started;
  pending++;
  const abort = new AbortController();
  const timeout = setTimeout(() => abort.abort(), LOAD_TIMEOUT_MS);
  try {
    const response = await fetch(withFolder("api", folderQuery()), { cache: "no-store", signal: abort.signal });
    const payload = response.ok ? await response.json() : null;
    if (ended || ticket < applied) return;
    applied = ticket;
    if (response.status === 410) return gone();
    if (!drawable(payload)) return offline();
    state = payload;
    render();
  } catch (error) {
    // Unreachable, too slow, unreadable, or a document that cannot be drawn: all look the same here.
    if (!ended && ticket >= applied) {
      applied = ticket;
      offline();
    }
  } finally {
    clearTimeout(timeout);
    pending--;
  }
}

// "{}" is what the server sends when it could not encode the share.
function drawable(s) {
  return !!s && typeof s.title === "string" && Array.isArray(s.folders) && Array.isArray(s.items);
}

function render() {
  const s = state;
  const path = s.path || [];
  document.title = s.title + " · Tesk";
  $("mac").textContent = s.mac;
  $("dot").className = "dot";
  $("title").textContent = path.length > 1 ? path[path.length - 1].name : s.title;
  $("send-title").innerHTML = "<b>" + esc("Send to " + s.mac) + "</b>";
  if (s.inbox) return renderInbox(s);
  $("sub").textContent = plural(s.folders.length + s.items.length, "item") + " · " + until(s.expires);
  show("crumbs", crumbs(path));
  show("content", blocks(s) || '<div class="empty">Nothing here yet.</div>');
  $("send").classList.toggle("hidden", !s.canUpload);
}

function renderInbox(s) {
  show("crumbs", "");
  $("sub").textContent = "Files go straight to the computer over this Wi‑Fi · " + until(s.expires);
  show("content", `<div class="drop">${ICON.drop}<h2>Choose what to send</h2>` +
    "<p>Photos, videos, documents. Pick as many as you like.</p>" +
    `<button class="btn" type="button" data-pick>${ICON.upload} Choose files</button></div>`);
  $("send").classList.add("hidden");
}

// The first crumb is the share itself: its top is "./" even when it names a folder.
function crumbs(path) {
  if (path.length < 2) return "";
  const last = path.length - 1;
  return path.map((crumb, i) => {
    if (i === last) return `<span>${esc(crumb.name)}</span>`;
    const href = i > 0 && crumb.id ? withFolder("", crumb.id) : "./";
    return `<a href="${esc(href)}" data-nav>${esc(crumb.name)}</a>${ICON.chev}`;
  }).join("");
}

function blocks(s) {
  let html = "";
  // A folder or a bundle (they have a trail) comes whole as one .zip of what this page shows.
  if ((s.path || []).length && s.folders.length + s.items.length) {
    html += `<a id="download-all" class="btn soft" href="${esc(withFolder("zip", folderQuery()))}" download>` +
      `${ICON.download} Download all</a>`;
  }
  if (s.followURL) html += followCard(s.followURL);
  if (s.folders.length) html += section("Folders", s.folders.map(folderRow));
  if (s.items.length) html += section("Files", s.items.map(itemRow));
  return html;
}

function section(label, rows) {
  return `<div class="label">${label}</div><div class="list">${rows.join("")}</div>`;
}

function rowText(name, meta) {
  return `<div class="main"><div class="name">${esc(name)}</div><div class="meta">${esc(meta)}</div></div>`;
}

function followCard(url) {
  return `<a class="card" href="${esc(url)}"><div class="tile folder">${ICON.bell}</div>` +
    rowText("Get a ping when something's added", "Follow this folder") +
    `<span class="chev">${ICON.chev}</span></a>`;
}

function folderRow(f) {
  return `<a class="row" href="${esc(withFolder("", f.id))}" data-nav>` +
    `<div class="tile folder">${ICON.folder}</div>${rowText(f.name, plural(f.count, "item"))}` +
    `<span class="chev">${ICON.chev}</span></a>`;
}

function itemRow(item) {
  if (item.kind === "text") return noteRow(item);
  if (item.kind === "link") return linkRow(item);
  return fileRow(item);
}

// A note shows whole below its row; the copy button carries the text for the clipboard.
function noteRow(item) {
  return '<div class="row" style="display:block"><div style="display:flex;align-items:center;gap:12px">' +
    `<div class="tile">${ICON.note}</div>${rowText(item.name, "Note · " + ago(item.created))}` +
    `<button class="btn small soft" type="button" data-copy="${esc(item.content)}">Copy</button></div>` +
    `<div class="note">${esc(item.content)}</div></div>`;
}

// Only web addresses become a button: an address is the visitor's to open, never script to run.
function linkRow(item) {
  const address = String(item.content || "");
  const open = /^https?:/i.test(address)
    ? `<a class="icon-btn" href="${esc(address)}" target="_blank" rel="noopener noreferrer" ` +
      `aria-label="${esc("Open " + item.name)}">${ICON.open}</a>`
    : "";
  return `<div class="row"><div class="tile">${ICON.link}</div>${rowText(item.name, address)}${open}</div>`;
}

function fileRow(item) {
  const href = "f/" + encodeURIComponent(item.id);
  const k = kind(item.name);
  const tile = k === "image" ? `<img src="${esc(href)}?inline=1" alt="" loading="lazy">` : ICON[k];
  return `<div class="row"><div class="tile">${tile}</div>` +
    rowText(item.name, size(item.size) + " · " + ago(item.created)) +
    `<a class="icon-btn" href="${esc(href)}" download aria-label="${esc("Download " + item.name)}">` +
    `${ICON.download}</a></div>`;
}

function offline() {
  $("dot").className = "dot off";
  $("mac").textContent = "Can't reach the computer";
  show("content", '<div class="empty">' + "Check that you're on the same Wi‑Fi as the computer, and that it's awake." +
    "<br>This page tries again by itself.</div>");
}

// Final: the link will not come back, so polling stops with it.
function gone() {
  ended = true;
  clearInterval(timer);
  document.querySelector("main").innerHTML = '<div class="notice" style="margin:24px 0">' +
    "<h1>This link has stopped working</h1><p>Ask the person who shared it to send a new one.</p></div>";
  $("send").classList.add("hidden");
}

// Folder links only change the query; modified clicks keep the browser's own "open in new tab".
function onClick(e) {
  const target = e.target;
  if (!target || !target.closest) return;
  const nav = target.closest("[data-nav]");
  if (nav) {
    if (e.button !== 0 || e.metaKey || e.ctrlKey || e.shiftKey || e.altKey) return;
    e.preventDefault();
    history.pushState(null, "", nav.getAttribute("href"));
    load();
    scrollTo(0, 0);
    return;
  }
  if (target.closest("[data-pick]")) return $("picker").click();
  const copy = target.closest("[data-copy]");
  if (copy) copyNote(copy);
}

async function copyNote(button) {
  try {
    await navigator.clipboard.writeText(button.dataset.copy);
    button.textContent = "Copied";
  } catch (error) {
    // No clipboard on plain-http pages in most browsers: the note stays visible to select by hand.
    button.textContent = "Select the text to copy";
  }
}

async function sendChosen() {
  const picker = $("picker");
  const files = Array.from(picker.files);
  picker.value = "";  // so choosing the same file again still fires "change"
  if (!files.length) return;
  $("uploads-label").classList.remove("hidden");
  const url = withFolder("upload", folderQuery() || (state && state.folderID) || "");
  for (const file of files) await sendFile(file, url, $("uploads"));
  load();
}

function start() {
  document.addEventListener("click", onClick);
  window.addEventListener("popstate", () => load());
  $("pick").addEventListener("click", () => $("picker").click());
  $("picker").addEventListener("change", sendChosen);
  document.addEventListener("visibilitychange", () => {
    if (!document.hidden) load();
  });
  timer = setInterval(() => {
    if (!document.hidden && pending === 0) load();
  }, 4000);
  load();
}

start();
