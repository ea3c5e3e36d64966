"use strict";

// Inline glyphs on a 16-unit grid. Colours come from the theme's variables through `color`, so each
// glyph follows light and dark mode; the ones without a colour take the colour of where they sit.
const ICON = (() => {
  const glyph = (px, colour, body, stroke = 1.5) =>
    `<svg viewBox="0 0 16 16" width="${px}" height="${px}" fill="none" stroke="currentColor" ` +
    `stroke-width="${stroke}" stroke-linecap="round" stroke-linejoin="round" aria-hidden="true" ` +
    `focusable="false"${colour ? ` style="color:var(--${colour})"` : ""}>${body}</svg>`;
  const down = '<path d="M8 2.5v8.5M4.5 7.5 8 11l3.5-3.5M2.5 13.5h11"/>';
  return {
    folder: glyph(20, "accent",
      '<path d="M1.5 4.5a1.5 1.5 0 0 1 1.5-1.5h3l1.5 1.5H13a1.5 1.5 0 0 1 1.5 1.5v6A1.5 1.5 0 0 1 13 13.5H3' +
      'A1.5 1.5 0 0 1 1.5 12z" fill="currentColor" stroke="none"/>'),
    doc: glyph(20, "dim", '<path d="M4 1.5h5l3.5 3.5v9.5h-9v-13z"/><path d="M9 1.5V5h3.5"/>'),
    video: glyph(20, "purple",
      '<rect x="1.5" y="3" width="13" height="10" rx="2"/><path d="M6.5 5.8v4.4L10 8z" fill="currentColor"/>'),
    audio: glyph(20, "purple", '<path d="M2.5 6.5v3M5.25 4.5v7M8 2.5v11M10.75 4.5v7M13.5 6.5v3"/>'),
    link: glyph(20, "accent",
      '<path d="M6.5 9.5l3-3"/><path d="M7.2 4.8l1.2-1.2a2.5 2.5 0 0 1 3.5 3.5l-1.2 1.2"/>' +
      '<path d="M8.8 11.2l-1.2 1.2a2.5 2.5 0 0 1-3.5-3.5l1.2-1.2"/>'),
    note: glyph(20, "orange", '<path d="M2.5 3.5h11M2.5 6.5h11M2.5 9.5h11M2.5 12.5h7"/>'),
    download: glyph(18, "", down),
    open: glyph(16, "", '<path d="M9.5 2.5h4v4M13.5 2.5 7.5 8.5"/><path d="M12 9.5v3a1 1 0 0 1-1 1H3.5a1 1 0 0 1-1-1V5a1 1 0 0 1 1-1h3"/>'),
    bell: glyph(20, "accent", '<path d="M3.5 11.5h9l-1-1.5V7a3.5 3.5 0 0 0-7 0v3z"/><path d="M6.6 13.5a1.5 1.5 0 0 0 2.8 0"/>'),
    chev: glyph(14, "", '<path d="M6 3.5 10.5 8 6 12.5"/>'),
    upload: glyph(18, "", '<path d="M2.5 2.5h11M8 14V5.5M4.5 9 8 5.5 11.5 9"/>'),
    drop: glyph(34, "", down, 1),
  };
})();

const FILE_KINDS = {
  image: ["jpg", "jpeg", "png", "gif", "webp", "heic", "heif", "tif", "tiff", "bmp"],
  video: ["mov", "mp4", "m4v", "avi", "mkv", "webm"],
  audio: ["mp3", "m4a", "wav", "aac", "flac", "ogg"],
};

// "image", "video", "audio" or "doc", by the extension; a name without a dot has none.
function kind(name) {
  const text = String(name);
  const dot = text.lastIndexOf(".");
  const extension = dot < 0 ? "" : text.slice(dot + 1).toLowerCase();
  for (const [k, extensions] of Object.entries(FILE_KINDS)) {
    if (extensions.includes(extension)) return k;
  }
  return "doc";
}

const ESCAPES = { "&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;", "'": "&#39;" };

// Text made safe for markup and for quoted attribute values alike.
function esc(s) {
  return String(s ?? "").replace(/[&<>"']/g, (c) => ESCAPES[c]);
}

function size(b) {
  if (b < 1024) return b + " B";
  if (b < 1024 ** 2) return Math.round(b / 1024) + " KB";
  if (b < 1024 ** 3) return (b / 1024 ** 2).toFixed(1) + " MB";
  return (b / 1024 ** 3).toFixed(2) + " GB";
}

// What the computer shows as the sender. iPads ask for desktop pages and say "Macintosh"; only the touch
// points tell them apart.
function deviceName() {
  const ua = navigator.userAgent || "";
  if (ua.includes("iPhone")) return "iPhone";
  if (ua.includes("iPad") || (ua.includes("Macintosh") && navigator.maxTouchPoints > 1)) return "iPad";
  if (ua.includes("Android")) return "Android phone";
  if (ua.includes("Macintosh")) return "Mac";
  if (ua.includes("Windows")) return "Windows PC";
  return "a browser";
}

// Files go in pieces of this size, each its own request, so a cut connection costs one piece at most.
const PIECE_BYTES = 16 * 1024 * 1024;

// An id for one upload: the pieces of a file name it, so the computer adds each to the right copy.
function uploadID() {
  return Array.from(crypto.getRandomValues(new Uint8Array(12)), (b) => b.toString(16).padStart(2, "0")).join("");
}

// Uploads one file with a progress row at the top of `list`. Resolves whatever happens, so callers can
// send files one after another without one failure stopping the rest. A file goes in pieces; after a
// failure it goes on from what the computer holds, waiting longer each time (at most 30 s), for as long as
// the page is open, and at once when the page is seen again after the phone was locked.
function sendFile(file, url, list, onGone) {
  const row = document.createElement("div");
  row.className = "up";
  row.innerHTML = `<div class="name">${esc(file.name)}</div><div class="bar-track"><span></span></div>` +
    '<div class="status-line">Sending… 0%</div>';
  list.insertBefore(row, list.firstChild);
  list.classList.remove("hidden");
  const bar = row.querySelector(".bar-track > span");
  const status = row.querySelector(".status-line");
  const report = (outcome, text) => {
    status.className = "status-line " + outcome;
    status.textContent = text;
  };
  const id = uploadID();
  // What the computer holds: progress shows only bytes that arrived.
  let held = 0;
  let pause = 1000;
  let timer = 0;
  let sending = false;
  return new Promise((resolve) => {
    const percent = (more) => (file.size ? Math.floor(((held + more) / file.size) * 100) : 0) + "%";
    const finish = (outcome, text) => {
      document.removeEventListener("visibilitychange", resume);
      bar.style.width = "100%";
      report(outcome, text);
      resolve();
    };
    const retry = () => {
      sending = false;
      report("", "Waiting for the computer… " + percent(0));
      timer = setTimeout(send, pause);
      pause = Math.min(pause * 2, 30000);
    };
    function resume() {
      if (document.visibilityState !== "visible" || sending) return;
      clearTimeout(timer);
      pause = 1000;
      send();
    }
    function send() {
      sending = true;
      const request = new XMLHttpRequest();
      request.open("POST", url);
      request.setRequestHeader("X-Tesk-Name", encodeURIComponent(file.name));
      request.setRequestHeader("X-Tesk-Device", deviceName());
      // An empty file has no pieces: it goes whole, as it always did.
      if (file.size > 0) {
        request.setRequestHeader("X-Tesk-Upload", id);
        request.setRequestHeader("X-Tesk-Offset", String(held));
        request.setRequestHeader("X-Tesk-Size", String(file.size));
      }
      request.upload.onprogress = (e) => {
        bar.style.width = percent(e.loaded);
        status.textContent = "Sending… " + percent(e.loaded);
      };
      request.onload = () => {
        sending = false;
        let offset = null;
        try {
          offset = JSON.parse(request.responseText).offset;
        } catch {}
        if (request.status === 404 && onGone) onGone();
        if (request.status >= 200 && request.status < 300 && (request.status === 201 || file.size === 0)) {
          return finish("ok", "Sent · " + size(file.size));
        }
        // The piece arrived, or the computer holds another length: go on from there.
        if ((request.status === 200 || request.status === 409) && Number.isInteger(offset)) {
          held = offset;
          pause = 1000;
          return send();
        }
        if (request.status === 503) return retry();
        finish("err", "Couldn't send (" + request.status + "). Try again.");
      };
      request.onerror = request.onabort = request.ontimeout = () => (file.size > 0 ? retry()
        : finish("err", "Couldn't reach the computer. Same Wi‑Fi?"));
      request.send(file.slice(held, Math.min(held + PIECE_BYTES, file.size)));
    }
    document.addEventListener("visibilitychange", resume);
    send();
  });
}
