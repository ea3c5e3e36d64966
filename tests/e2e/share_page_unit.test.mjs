// The share page's script, run for real in a node `vm` context with a small stand-in for the browser.
// The script is read from the files the server compiles in: node --test tests/e2e/share_page_unit.test.mjs
import assert from "node:assert/strict";
import { describe, test } from "node:test";
import vm from "node:vm";
import { pageScript } from "./page_scripts.mjs";

const source = pageScript("receiver_page.js");

const NOW = Date.UTC(2025, 2, 1, 9, 30, 0);
const isoIn = (seconds) => new Date(NOW + seconds * 1000).toISOString();
const settle = () => new Promise((resolve) => setImmediate(resolve));

// ---- a stand-in for the few browser objects the script touches ----

class FakeElement {
  constructor(id = "", className = "") {
    this.id = id;
    this.className = className;
    this.innerHTML = "";
    this.textContent = "";
    this.style = {};
    this.dataset = {};
    this.attributes = {};
    this.children = [];
    this.listeners = {};
    this.parts = new Map();
    this.clicks = 0;
  }
  get classList() {
    const names = () => this.className.split(/\s+/).filter(Boolean);
    const set = (list) => (this.className = list.join(" "));
    return {
      contains: (c) => names().includes(c),
      add: (c) => !names().includes(c) && set([...names(), c]),
      remove: (c) => set(names().filter((n) => n !== c)),
      toggle: (c, on) => (on ?? !names().includes(c) ? this.classList.add(c) : this.classList.remove(c)),
    };
  }
  get firstChild() {
    return this.children[0] ?? null;
  }
  insertBefore(child, before) {
    const at = before ? this.children.indexOf(before) : -1;
    this.children.splice(at < 0 ? this.children.length : at, 0, child);
  }
  // Markup set through innerHTML is not parsed; the parts a script looks up are stable stand-ins.
  querySelector(selector) {
    if (!this.parts.has(selector)) this.parts.set(selector, new FakeElement());
    return this.parts.get(selector);
  }
  getAttribute(name) {
    return this.attributes[name] ?? null;
  }
  // Matches the "[data-…]" selectors the click handler asks for.
  closest(selector) {
    const name = selector.slice(1, -1);
    return name in this.attributes ? this : null;
  }
  addEventListener(type, listener) {
    (this.listeners[type] ??= []).push(listener);
  }
  dispatch(type, event = {}) {
    for (const listener of this.listeners[type] ?? []) listener(event);
  }
  click() {
    this.clicks++;
    this.dispatch("click", { target: this });
  }
}

const PAGE_ELEMENTS = {
  crumbs: "crumbs", title: "", sub: "sub", content: "", "uploads-label": "label hidden",
  uploads: "list hidden", send: "float hidden", "send-title": "", "send-text": "", pick: "btn small",
  picker: "", mac: "", dot: "dot",
};

function reply(status, payload) {
  return {
    status,
    ok: status >= 200 && status < 300,
    json: async () => (typeof payload === "string" ? JSON.parse(payload) : payload),
  };
}

// Loads the script into a fresh page. `answers` are fetch's replies in order: a reply object, an Error
// to reject with, or a function returning a promise; without answers fetch never settles.
function openPage({ search = "", answers = [], userAgent = "", maxTouchPoints = 0, clipboard } = {}) {
  const el = Object.fromEntries(Object.entries(PAGE_ELEMENTS).map(([id, c]) => [id, new FakeElement(id, c)]));
  const main = new FakeElement("main");
  const requests = [];
  const uploads = [];
  const intervals = [];
  const listeners = {};

  class FakeXHR {
    constructor() {
      this.headers = {};
      this.upload = {};
      uploads.push(this);
    }
    open(method, url) {
      Object.assign(this, { method, url });
    }
    setRequestHeader(name, value) {
      this.headers[name] = value;
    }
    send(body) {
      this.body = body;
    }
    respond(status) {
      this.status = status;
      this.onload();
    }
  }

  const document = {
    title: "Tesk",
    hidden: false,
    getElementById: (id) => el[id] ?? null,
    querySelector: (selector) => (selector === "main" ? main : null),
    createElement: () => new FakeElement(),
    addEventListener: (type, listener) => (listeners["document:" + type] ??= []).push(listener),
  };
  const location = { search };
  const context = {
    document,
    location,
    navigator: { userAgent, maxTouchPoints, clipboard },
    history: {
      pushState(_state, _title, url) {
        location.search = url.startsWith("?") ? url : "";
      },
    },
    fetch(url, options) {
      requests.push({ url, options });
      const answer = answers.shift();
      if (answer === undefined) return new Promise(() => {});
      if (answer instanceof Error) return Promise.reject(answer);
      return typeof answer === "function" ? answer() : Promise.resolve(answer);
    },
    setInterval(callback, ms) {
      intervals.push({ callback, ms, cleared: false });
      return intervals.length;
    },
    clearInterval(id) {
      if (intervals[id - 1]) intervals[id - 1].cleared = true;
    },
    // The load time-out never fires on its own here; tests that need it have no use for real time.
    setTimeout: () => 0,
    clearTimeout: () => {},
    scrollTo: () => {},
    addEventListener: (type, listener) => (listeners["window:" + type] ??= []).push(listener),
    AbortController,
    URLSearchParams,
    XMLHttpRequest: FakeXHR,
  };
  context.window = context;
  vm.createContext(context);
  vm.runInContext(`Date.now = () => ${NOW};`, context);
  vm.runInContext(source, context);
  const fire = (key, event = {}) => (listeners[key] ?? []).forEach((listener) => listener(event));
  return {
    el, main, requests, uploads, intervals, document, location,
    run: (code) => vm.runInContext(code, context),
    fire,
  };
}

// A page with nothing loaded yet, for the pure functions.
const pure = openPage();
const call = (name, ...args) => pure.run(name)(...args);

function payload(overrides = {}) {
  return {
    mac: "Studio", title: "Trip", inbox: false, canUpload: false, path: [{ id: "root", name: "Trip" }],
    folderID: "root", folders: [], items: [], ...overrides,
  };
}

async function rendered(overrides, options = {}) {
  const page = openPage({ ...options, answers: [reply(200, payload(overrides))] });
  await settle();
  return page;
}

// ---- pure functions ----

test("until reads the time left in whole minutes, hours or days", () => {
  const cases = [
    [3569, "link works for 59 more min"],
    [59, "link works for 1 more min"],
    [3570, "link works for 1 more h"],
    [84599, "link works for 23 more h"],
    [84600, "link works for 1 more day"],
    [86400, "link works for 1 more day"],
    [129600, "link works for 2 more days"],
    [0, "link expired"],
    [-600, "link expired"],
  ];
  for (const [seconds, text] of cases) assert.equal(call("until", isoIn(seconds)), text, String(seconds));
  assert.equal(call("until", undefined), "until they stop it");
});

test("ago switches units at its thresholds", () => {
  const cases = [
    [59, "just now"], [-120, "just now"], [60, "1 min ago"], [89, "1 min ago"], [90, "2 min ago"],
    [3599, "60 min ago"], [3600, "1 h ago"], [86399, "24 h ago"], [86400, "1 d ago"],
  ];
  for (const [seconds, text] of cases) assert.equal(call("ago", isoIn(-seconds)), text, String(seconds));
});

test("esc escapes the five markup characters and nothing else", () => {
  assert.equal(call("esc", `<a href="x">Tom & 'Jerry'</a> ü`),
    "&lt;a href=&quot;x&quot;&gt;Tom &amp; &#39;Jerry&#39;&lt;/a&gt; ü");
  assert.equal(call("esc", "&amp;"), "&amp;amp;");
  assert.equal(call("esc", 42), "42");
});

test("kind goes by the last extension, ignoring case", () => {
  const cases = {
    "ARCHIVE.JPEG": "image", "a.b.mp4": "video", "memo.m4a": "audio", "photo.jpg.zip": "doc", "jpg": "doc",
    "trailing.": "doc",
  };
  for (const [name, expected] of Object.entries(cases)) assert.equal(call("kind", name), expected, name);
});

test("size switches units at powers of 1024", () => {
  const cases = [[1023, "1023 B"], [1536, "2 KB"], [1048575, "1024 KB"], [1048576, "1.0 MB"], [1073741824, "1.00 GB"]];
  for (const [bytes, text] of cases) assert.equal(call("size", bytes), text, String(bytes));
});

test("deviceName reads the user agent in order", () => {
  const mac = "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 Version/17.4 Safari";
  const cases = [
    ["Mozilla/5.0 (iPhone; CPU iPhone OS 17_4 like Mac OS X) AppleWebKit/605.1.15 Mobile/15E148", 0, "iPhone"],
    [mac, 5, "iPad"],
    [mac, 1, "Mac"],
    ["Mozilla/5.0 (Linux; Android 14; Pixel 8) AppleWebKit/537.36 Chrome/124.0 Mobile", 5, "Android phone"],
    ["Mozilla/5.0 (X11; Linux x86_64) Gecko/20100101 Firefox/125.0", 0, "a browser"],
  ];
  for (const [userAgent, maxTouchPoints, expected] of cases) {
    assert.equal(openPage({ userAgent, maxTouchPoints }).run("deviceName()"), expected, userAgent);
  }
});

// ---- drawing a payload ----

describe("render", () => {
  test("a nested folder: heading, crumbs, counts and escaped names", async () => {
    const page = await rendered({
      path: [{ id: "root", name: "Trip" }, { id: "d 1", name: "Day <1>" }, { id: "b", name: "Beach & Sea" }],
      folderID: "b",
      folders: [{ id: "x/1", name: "<img src=x onerror=alert(1)>", count: 1 }, { id: "z", name: "Empty", count: 0 }],
    });
    assert.equal(page.document.title, "Trip · Tesk");
    assert.equal(page.el.title.textContent, "Beach & Sea");
    assert.equal(page.el.mac.textContent, "Studio");
    assert.equal(page.el.sub.textContent, "2 items · until they stop it");
    const crumbs = page.el.crumbs.innerHTML;
    assert.match(crumbs, /^<a href="\.\/" data-nav>Trip<\/a><svg/, "the first crumb leads to ./ despite its id");
    assert.match(crumbs, /<a href="\?folder=d%201" data-nav>Day &lt;1&gt;<\/a>/);
    assert.match(crumbs, /<span>Beach &amp; Sea<\/span>$/);
    const content = page.el.content.innerHTML;
    assert.ok(!content.includes("<img src=x"), "a name became markup");
    assert.match(content, /<div class="label">Folders<\/div>/);
    assert.match(content, /href="\?folder=x%2F1" data-nav>/);
    assert.match(content, /&lt;img src=x onerror=alert\(1\)&gt;<\/div><div class="meta">1 item<\/div>/);
    assert.match(content, />Empty<\/div><div class="meta">0 items<\/div>/);
    assert.ok(!content.includes("Files"));
  });

  test("one crumb: no breadcrumbs, the title as heading, one item in the count", async () => {
    const page = await rendered({
      expires: isoIn(7200),
      items: [{ id: "n", kind: "file", name: "a.pdf", size: 2048, created: isoIn(-30) }],
    });
    assert.equal(page.el.crumbs.innerHTML, "");
    assert.equal(page.el.title.textContent, "Trip");
    assert.equal(page.el.sub.textContent, "1 item · link works for 2 more h");
  });

  test("file rows: image thumbnail, kind glyph, size, age and download", async () => {
    const page = await rendered({
      items: [
        { id: "p 1", kind: "file", name: "ARCHIVE.JPEG", size: 2048, created: isoIn(-300) },
        { id: "v", kind: "file", name: "clip.mov", size: 3 * 1048576, created: isoIn(-7200) },
        { id: "d", kind: "file", name: `Q&A "draft".pdf`, size: 10, created: isoIn(-3 * 86400) },
      ],
    });
    const icons = page.run("ICON");
    const content = page.el.content.innerHTML;
    assert.match(content, /<div class="label">Files<\/div>/);
    assert.match(content, /<div class="tile"><img src="f\/p%201\?inline=1" alt="" loading="lazy"><\/div>/);
    assert.match(content, /<div class="meta">2 KB · 5 min ago<\/div>/);
    assert.ok(content.includes(`<div class="tile">${icons.video}</div>`));
    assert.match(content, /<div class="meta">3\.0 MB · 2 h ago<\/div>/);
    assert.ok(content.includes(`<div class="tile">${icons.doc}</div>`));
    assert.match(content, /<a class="icon-btn" href="f\/d" download aria-label="Download Q&amp;A &quot;draft&quot;\.pdf">/);
    assert.match(content, />Q&amp;A &quot;draft&quot;\.pdf</);
  });

  test("a note shows whole below its row, with a copy button holding the text", async () => {
    const text = `Door code <1234> & "hi"\nsecond line`;
    const page = await rendered({
      items: [{ id: "t", kind: "text", name: "Door code", size: 30, created: isoIn(-120), content: text }],
    });
    const content = page.el.content.innerHTML;
    const escaped = "Door code &lt;1234&gt; &amp; &quot;hi&quot;\nsecond line";
    assert.ok(content.includes(`data-copy="${escaped}">Copy</button>`));
    assert.ok(content.includes(`<div class="note">${escaped}</div>`));
    assert.match(content, /<div class="meta">Note · 2 min ago<\/div>/);
  });

  test("a link's meta is its address; only web addresses get an open button", async () => {
    const page = await rendered({
      items: [
        { id: "l", kind: "link", name: "example.com/a", size: 0, created: isoIn(-1), content: "https://example.com/a?b=1&c=2" },
        { id: "j", kind: "link", name: "trap", size: 0, created: isoIn(-1), content: "javascript:alert(1)" },
      ],
    });
    const content = page.el.content.innerHTML;
    assert.match(content, /<div class="meta">https:\/\/example\.com\/a\?b=1&amp;c=2<\/div>/);
    assert.match(content, /<a class="icon-btn" href="https:\/\/example\.com\/a\?b=1&amp;c=2" target="_blank" rel="noopener noreferrer" aria-label="Open example\.com\/a">/);
    assert.ok(!content.includes('href="javascript:'));
  });

  test("a follow link comes first, as a card", async () => {
    const page = await rendered({
      followURL: "https://relay.example/t0k/follow",
      folders: [{ id: "f", name: "F", count: 2 }],
    });
    const content = page.el.content.innerHTML;
    assert.ok(content.startsWith('<a class="card" href="https://relay.example/t0k/follow"><div class="tile folder"><svg'));
    assert.ok(content.indexOf("Follow this folder") < content.indexOf("Folders"));
  });

  test("the send bar shows exactly when uploads are allowed", async () => {
    const open = await rendered({ canUpload: true, mac: "Ann's <Mac>" });
    assert.ok(!open.el.send.classList.contains("hidden"));
    assert.equal(open.el["send-title"].innerHTML, "<b>Send to Ann&#39;s &lt;Mac&gt;</b>");
    const closed = await rendered({ canUpload: false });
    assert.ok(closed.el.send.classList.contains("hidden"));
  });

  test("the inbox is a drop zone and nothing else", async () => {
    const page = await rendered({ inbox: true, canUpload: true, title: "Send to Studio", path: [], expires: isoIn(3600) });
    assert.equal(page.el.sub.textContent, "Files go straight to the computer over this Wi\u2011Fi · link works for 1 more h");
    assert.equal(page.el.title.textContent, "Send to Studio");
    assert.equal(page.el.crumbs.innerHTML, "");
    const content = page.el.content.innerHTML;
    assert.match(content, /^<div class="drop"><svg[^>]* width="34"/);
    assert.match(content, /<h2>Choose what to send<\/h2><p>Photos, videos, documents\. Pick as many as you like\.<\/p>/);
    assert.match(content, /<button class="btn" type="button" data-pick><svg[^]*<\/svg> Choose files<\/button>/);
    assert.ok(page.el.send.classList.contains("hidden"));
  });
});

// ---- loading, failures and the life of the page ----

describe("load", () => {
  test("asks api for the folder in the query, without caching", async () => {
    const top = openPage();
    assert.equal(top.requests[0].url, "api");
    assert.equal(top.requests[0].options.cache, "no-store");
    const nested = openPage({ search: "?folder=a%20b%2Fc" });
    assert.equal(nested.requests[0].url, "api?folder=a%20b%2Fc");
  });

  test("410 ends the page for good", async () => {
    const page = openPage({ answers: [reply(410)] });
    await settle();
    assert.match(page.main.innerHTML, /<h1>This link has stopped working<\/h1><p>Ask the person who shared it to send a new one\.<\/p>/);
    assert.ok(page.el.send.classList.contains("hidden"));
    assert.ok(page.intervals[0].cleared);
    page.fire("document:visibilitychange");
    await page.run("load()");
    assert.equal(page.requests.length, 1);
  });

  for (const [what, answer] of [
    ["a network failure", new TypeError("Failed to fetch")],
    ["a document it cannot draw", reply(200, {})],
  ]) {
    test(`${what} shows the offline state, and the next answer restores the page`, async () => {
      const page = openPage({ answers: [answer, reply(200, payload({ items: [] }))] });
      await settle();
      assert.equal(page.el.dot.className, "dot off");
      assert.equal(page.el.mac.textContent, "Can't reach the computer");
      assert.equal(page.el.content.innerHTML, '<div class="empty">Check that you\'re on the same Wi\u2011Fi as the computer, ' +
        "and that it's awake.<br>This page tries again by itself.</div>");
      assert.ok(!page.intervals[0].cleared, "polling must go on");
      page.intervals[0].callback();
      await settle();
      assert.equal(page.el.dot.className, "dot");
      assert.equal(page.el.mac.textContent, "Studio");
      assert.equal(page.el.content.innerHTML, '<div class="empty">Nothing here yet.</div>');
    });
  }

  test("an answer older than the one on screen is dropped", async () => {
    let answerFirst;
    const slow = () => new Promise((resolve) => (answerFirst = resolve));
    const page = openPage({ answers: [slow, reply(200, payload({ title: "New" }))] });
    await page.run("load()");
    assert.equal(page.el.title.textContent, "New");
    answerFirst(reply(200, payload({ title: "Old" })));
    await settle();
    assert.equal(page.el.title.textContent, "New");
  });

  test("polls every 4000 ms while visible, and at once on becoming visible", async () => {
    const page = openPage({ answers: [reply(200, payload())] });
    await settle();
    assert.equal(page.intervals.length, 1);
    assert.equal(page.intervals[0].ms, 4000);
    page.document.hidden = true;
    page.intervals[0].callback();
    assert.equal(page.requests.length, 1, "polled while hidden");
    page.document.hidden = false;
    page.fire("document:visibilitychange");
    assert.equal(page.requests.length, 2);
    page.intervals[0].callback();
    assert.equal(page.requests.length, 2, "polled while a load was still waiting");
  });

  test("folder links change the query through history and reload; back reloads too", async () => {
    const page = openPage({ answers: [reply(200, payload())] });
    await settle();
    const link = new FakeElement();
    link.attributes = { "data-nav": "", href: "?folder=f%201" };
    let prevented = false;
    page.fire("document:click", { target: link, button: 0, preventDefault: () => (prevented = true) });
    assert.ok(prevented);
    assert.equal(page.location.search, "?folder=f%201");
    assert.equal(page.requests.at(-1).url, "api?folder=f%201");
    link.attributes.href = "./";
    page.fire("document:click", { target: link, button: 0, preventDefault: () => {} });
    assert.equal(page.requests.at(-1).url, "api");
    page.location.search = "?folder=g";
    page.fire("window:popstate");
    assert.equal(page.requests.at(-1).url, "api?folder=g");
  });

  test("copy writes the note to the clipboard", async () => {
    const written = [];
    const page = openPage({ clipboard: { writeText: async (text) => void written.push(text) } });
    const button = new FakeElement();
    button.attributes = { "data-copy": "" };
    button.dataset.copy = "a & b";
    page.fire("document:click", { target: button, button: 0 });
    await settle();
    assert.deepEqual(written, ["a & b"]);
    assert.equal(button.textContent, "Copied");
  });
});

// ---- uploads ----

describe("uploads", () => {
  async function choose(page, files) {
    page.el.picker.files = files;
    page.el.picker.value = "C:\\fakepath\\" + files[0].name;
    page.el.picker.dispatch("change");
    await settle();
  }

  test("files go one after another to the listed folder, each with its own result", async () => {
    const page = openPage({ answers: [reply(200, payload({ folderID: "F9", canUpload: true }))], userAgent: "(iPhone)" });
    await settle();
    await choose(page, [{ name: "a b&.jpg", size: 2048 }, { name: "c.txt", size: 5 }]);
    assert.equal(page.el.picker.value, "", "the picker must be cleared to take the same file again");
    assert.ok(!page.el["uploads-label"].classList.contains("hidden"));
    assert.ok(!page.el.uploads.classList.contains("hidden"));
    assert.equal(page.uploads.length, 1, "the second file started before the first ended");
    const [first] = page.uploads;
    assert.equal(first.method, "POST");
    assert.equal(first.url, "upload?folder=F9");
    assert.deepEqual({ ...first.headers }, { "X-Tesk-Name": "a%20b%26.jpg", "X-Tesk-Device": "iPhone" });
    const firstRow = page.el.uploads.children[0];
    assert.equal(firstRow.className, "up");
    assert.ok(firstRow.innerHTML.includes('<div class="name">a b&amp;.jpg</div>'));
    assert.ok(firstRow.innerHTML.includes("Sending\u2026 0%"));
    first.upload.onprogress({ lengthComputable: true, loaded: 1, total: 3 });
    assert.equal(firstRow.querySelector(".bar-track > span").style.width, "33%");
    assert.equal(firstRow.querySelector(".status-line").textContent, "Sending\u2026 33%");
    first.respond(201);
    await settle();
    assert.equal(firstRow.querySelector(".status-line").className, "status-line ok");
    assert.equal(firstRow.querySelector(".status-line").textContent, "Sent · 2 KB");
    assert.equal(firstRow.querySelector(".bar-track > span").style.width, "100%");
    assert.equal(page.uploads.length, 2);
    assert.ok(page.el.uploads.children[0].innerHTML.includes("c.txt"), "the newest row goes first");
    const requestsBefore = page.requests.length;
    page.uploads[1].respond(500);
    await settle();
    const secondStatus = page.el.uploads.children[0].querySelector(".status-line");
    assert.equal(secondStatus.className, "status-line err");
    assert.equal(secondStatus.textContent, "Couldn't send (500). Try again.");
    assert.equal(page.requests.length, requestsBefore + 1, "no reload after the batch");
  });

  test("the query's folder wins; without any folder the upload goes to the share's top", async () => {
    const nested = openPage({ search: "?folder=Q", answers: [reply(200, payload({ folderID: "F9" }))] });
    await settle();
    await choose(nested, [{ name: "x", size: 1 }]);
    assert.equal(nested.uploads[0].url, "upload?folder=Q");
    const top = openPage({ answers: [reply(200, payload({ folderID: undefined }))] });
    await settle();
    await choose(top, [{ name: "x", size: 1 }]);
    assert.equal(top.uploads[0].url, "upload");
  });

  test("a network error says so and the next file still goes", async () => {
    const page = openPage({ answers: [reply(200, payload())] });
    await settle();
    await choose(page, [{ name: "a", size: 1 }, { name: "b", size: 1 }]);
    page.uploads[0].onerror();
    await settle();
    const status = page.el.uploads.children[1].querySelector(".status-line");
    assert.equal(status.className, "status-line err");
    assert.equal(status.textContent, "Couldn't reach the computer. Same Wi\u2011Fi?");
    assert.equal(page.uploads.length, 2);
  });
});
