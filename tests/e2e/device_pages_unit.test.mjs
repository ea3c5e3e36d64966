// The pairing and phone pages' scripts, run for real in a node `vm` context with a small stand-in for the
// browser and a virtual clock. The scripts are read from the files the server compiles in (the phone page's
// with its share-sheet line): node --test tests/e2e/device_pages_unit.test.mjs
import assert from "node:assert/strict";
import { describe, test } from "node:test";
import vm from "node:vm";
import { pageScript } from "./page_scripts.mjs";

const PAIR = pageScript("pair_page.js");
const PHONE = pageScript("phone_page.js");

const settle = () => new Promise((resolve) => setImmediate(resolve));
const IPHONE = "Mozilla/5.0 (iPhone; CPU iPhone OS 17_5 like Mac OS X) Mobile/15E148 Safari/604.1";
const MAC_UA = "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) Safari/605.1.15";

class FakeElement {
  constructor(id = "", className = "") {
    Object.assign(this, { id, className, innerHTML: "", textContent: "", value: "", disabled: false, style: {} });
    Object.assign(this, { children: [], listeners: {}, parts: new Map(), replacedBy: null });
  }
  get classList() {
    const names = () => this.className.split(" ").filter(Boolean);
    return {
      contains: (c) => names().includes(c),
      remove: (c) => (this.className = names().filter((n) => n !== c).join(" ")),
    };
  }
  get firstChild() { return this.children[0] ?? null; }
  insertBefore(child) { this.children.unshift(child); }
  querySelector(s) { return this.parts.get(s) ?? this.parts.set(s, new FakeElement()).get(s); }
  replaceWith(node) { this.replacedBy = node; }
  addEventListener(type, listener) { (this.listeners[type] ??= []).push(listener); }
  dispatch(type, event = {}) { return Promise.all((this.listeners[type] ?? []).map((l) => l(event))); }
}

const reply = (status, body) => ({ status, ok: status >= 200 && status < 300, json: async () => body });
const hidden = (element) => element.classList.contains("hidden");

// `route(url, options)` answers each fetch: a reply, an Error to reject with, or undefined to hang
// until aborted. Timers run only when the test advances the clock.
function openPage(source, ids, { attrs = {}, search = "", userAgent = "", maxTouchPoints = 0, standalone = false,
  route = () => undefined } = {}) {
  const el = Object.fromEntries(ids.map((id) => [id, new FakeElement(id, id === "dot" ? "dot" : "")]));
  for (const id of ["tip", "share-sheet", "uploads-label", "uploads"]) if (el[id]) el[id].className = "hidden";
  const main = new FakeElement("main");
  const requests = [], uploads = [], replaced = [], timers = [], listeners = {};
  let now = 0;
  class FakeXHR {
    constructor() { Object.assign(this, { headers: {}, upload: {} }) && uploads.push(this); }
    open(method, url) { Object.assign(this, { method, url }); }
    setRequestHeader(name, value) { this.headers[name] = value; }
    send() {}
    respond(status) { this.status = status; this.onload(); }
  }
  const context = {
    document: {
      hidden: false,
      documentElement: { getAttribute: (name) => attrs[name] ?? null },
      getElementById: (id) => el[id] ?? null,
      querySelector: (selector) => (selector === "main" ? main : null),
      createElement: () => new FakeElement(),
      addEventListener: (type, listener) => (listeners[type] ??= []).push(listener),
    },
    location: { search, replace: (url) => replaced.push(url) },
    navigator: { userAgent, maxTouchPoints },
    matchMedia: (query) => ({ matches: standalone && query === "(display-mode: standalone)" }),
    fetch(url, options = {}) {
      requests.push({ url, options, at: now });
      const answer = route(url, options);
      return new Promise((resolve, reject) => {
        options.signal?.addEventListener("abort", () => reject(new Error("aborted")));
        if (answer !== undefined) (answer instanceof Error ? reject : resolve)(answer);
      });
    },
    setTimeout: (callback, ms) => timers.push({ at: now + ms, callback }),
    clearTimeout: (id) => { if (timers[id - 1]) timers[id - 1].cleared = true; },
    AbortController, URLSearchParams, URL, XMLHttpRequest: FakeXHR,
  };
  vm.createContext(context);
  vm.runInContext(source, context);
  // Runs every timer due within `ms`, in time order, letting the script react after each.
  async function advance(ms) {
    const end = now + ms;
    for (;;) {
      await settle();
      const due = timers.filter((t) => !t.cleared && !t.ran && t.at <= end).sort((a, b) => a.at - b.at)[0];
      if (!due) break;
      [now, due.ran] = [due.at, true];
      due.callback();
    }
    now = end;
  }
  const fire = (type) => (listeners[type] ?? []).forEach((listener) => listener({}));
  return { el, main, requests, uploads, replaced, advance, fire, context };
}

// ---- the pairing page ----

const LAUNCHER = "https://relay.example/d/M1/T1/";
const LOCAL = "http://studio.local:47470/d/T1/";
const IP = "http://192.168.1.20:47470/d/T1/";
const CLAIMED = reply(200, { token: "T1", ip: IP, local: LOCAL, launcher: LAUNCHER });

function pairPage(claimReply, { relay = () => undefined, ping = () => undefined, userAgent = IPHONE } = {}) {
  const route = (url) => (url === "claim" ? claimReply : url.endsWith("/ping") ? ping() : relay());
  const page = openPage(PAIR, ["mac", "dot", "form", "name", "go", "status"],
    { attrs: { "data-mac": "Ann's <Mac>" }, userAgent, route });
  page.submit = async () => {
    let prevented = false;
    page.el.form.dispatch("submit", { preventDefault: () => (prevented = true) });
    await settle();
    return prevented;
  };
  return page;
}

describe("pairing page", () => {
  test("shows the computer's name and names the phone after its kind, or Phone in an unknown browser", () => {
    assert.equal(pairPage(undefined).el.mac.textContent, "Ann's <Mac>");
    assert.equal(pairPage(undefined).el.name.value, "iPhone");
    assert.equal(pairPage(undefined, { userAgent: "curl/8" }).el.name.value, "Phone");
  });

  test("claims with the typed name, and says so on the button meanwhile", async () => {
    const page = pairPage(undefined);
    page.el.name.value = 'Kitchen "iPad"';
    assert.ok(await page.submit(), "the form must not be submitted for real");
    assert.deepEqual([page.el.go.disabled, page.el.go.textContent], [true, "Pairing\u2026"]);
    const [{ url, options }] = page.requests;
    assert.deepEqual([url, options.method, JSON.parse(options.body)], ["claim", "POST", { name: 'Kitchen "iPad"' }]);
    assert.deepEqual({ ...options.headers }, { "Content-Type": "application/json" });
  });

  const FAILED = "Couldn't pair. Check you're on the same Wi-Fi as the computer and try again.";
  for (const [what, answer, line] of [
    ["410", reply(410, { error: "expired" }), "This pairing code ran out. Make a new one in Tesk on the computer."],
    ["no network", new TypeError("Failed to fetch"), FAILED],
  ]) {
    test(`${what}: an error line, and the form works again`, async () => {
      const page = pairPage(answer);
      await page.submit();
      assert.deepEqual([page.el.status.className, page.el.status.textContent], ["status-line err", line]);
      assert.deepEqual([page.el.go.disabled, page.el.go.textContent], [false, "Pair"]);
      assert.deepEqual(page.replaced, []);
    });
  }

  test("asks the relay 12 times, 1000 ms apart, then the local name for 1500 ms, then goes by number", async () => {
    const page = pairPage(CLAIMED, { relay: () => reply(404, {}) });
    await page.submit();
    await page.advance(11000);
    assert.equal(page.requests.length, 14);
    assert.deepEqual(page.requests.slice(1, 13).map((r) => [r.url, r.at, r.options.cache]),
      Array.from({ length: 12 }, (_, i) => [`https://relay.example/api/macs/M1/where?device=T1`, i * 1000, "no-store"]));
    assert.deepEqual([page.requests[13].url, page.requests[13].options.mode], [LOCAL + "ping", "cors"]);
    await page.advance(1499);
    assert.deepEqual(page.replaced, []);
    await page.advance(1);
    assert.deepEqual(page.replaced, [IP + "?new=1"]);
  });

  test("a relay that knows the phone wins at once; one that never answers costs 12 s at most", async () => {
    const answers = [reply(404, {}), new TypeError("offline"), reply(200, {})];
    const known = pairPage(CLAIMED, { relay: () => answers.shift(), ping: () => reply(204) });
    await known.submit();
    await known.advance(5000);
    assert.deepEqual(known.replaced, [LAUNCHER + "?new=1"]);
    assert.equal(known.requests.length, 4, "asked again after the relay said yes");
    const silent = pairPage(CLAIMED, { ping: () => reply(204) });
    await silent.submit();
    await silent.advance(11999);
    assert.deepEqual(silent.replaced, []);
    await silent.advance(1);
    assert.deepEqual(silent.replaced, [LOCAL + "?new=1"]);
  });
});

// ---- the phone page ----

const NOTICE = '<div class="notice" style="margin:24px 0"><h1>This phone isn\u2019t paired anymore</h1>' +
  "<p>Pair it again from Tesk on the computer: Phones \u2192 Pair a phone.</p></div>";
const HELLO = reply(200, { mac: "Studio", device: "Ann's iPhone" });

function phonePage(answers = [], options = {}) {
  const ids = ["mac", "dot", "title", "sub", "tip", "tip-steps", "share-sheet", "drop-icon", "pick", "picker",
    "uploads-label", "uploads", "text", "send-text", "text-status"];
  return openPage(PHONE, ids, { ...options, route: () => answers.shift() });
}

describe("phone page", () => {
  test("hello(): unreachable, then on becoming visible a greeting with both names", async () => {
    const page = phonePage([new TypeError("offline"), HELLO]);
    await settle();
    assert.deepEqual([page.el.dot.className, page.el.mac.textContent], ["dot off", "Can't reach the computer"]);
    assert.equal(page.el.sub.textContent, "Make sure the computer is awake and you're on the same Wi-Fi.");
    page.fire("visibilitychange");
    await settle();
    assert.deepEqual(page.requests.map((r) => [r.url, r.options.cache]), [["api", "no-store"], ["api", "no-store"]]);
    assert.deepEqual([page.el.dot.className, page.el.mac.textContent], ["dot", "Studio"]);
    assert.equal(page.el.title.textContent, "Send to Studio");
    assert.equal(page.el.sub.textContent, "From Ann's iPhone, over your Wi-Fi.");
    assert.match(page.el["drop-icon"].innerHTML, /^<svg[^>]* width="34"/);
  });

  test("404 on api means unpaired, for good", async () => {
    const page = phonePage([reply(404)]);
    await settle();
    page.fire("visibilitychange");
    assert.deepEqual([page.main.innerHTML, page.requests.length], [NOTICE, 1]);
  });

  for (const [what, options, tip, sheet] of [
    ["relay launcher", { attrs: { "data-launcher": LAUNCHER } }, "link", false],
    ["launcher, opened from the relay's app", { attrs: { "data-launcher": LAUNCHER }, search: "?from=app" }, null, false],
    ["no launcher, installed", { standalone: true, userAgent: IPHONE }, null, true],
    ["no launcher, iPhone", { userAgent: IPHONE }, ["Tap <b>Share</b> at the bottom of Safari", "Screen"], true],
    ["no launcher, iPad as a Mac", { userAgent: MAC_UA, maxTouchPoints: 5 }, ["Tap <b>Share", "Screen"], true],
    ["no launcher, Mac", { userAgent: MAC_UA, attrs: { "data-launcher": "" } }, ["Open the browser menu <b>\u22ee", "screen"],
      false],
  ]) {
    test(`tips: ${what}`, () => {
      const page = phonePage([], options);
      assert.deepEqual([hidden(page.el["share-sheet"]), hidden(page.el.tip)], [!sheet, tip === null]);
      const link = page.el["tip-steps"].replacedBy;
      if (tip === "link") {
        assert.equal(page.el.tip.querySelector("p").textContent,
          "Add it from Tesk's page, so the icon keeps working when the computer's address changes.");
        assert.deepEqual([link.className, link.href, link.style.marginTop, link.textContent],
          ["btn soft", LAUNCHER + "?new=1", "12px", "Set up the Home Screen icon"]);
      } else if (tip) {
        assert.match(page.el["tip-steps"].innerHTML,
          new RegExp(`^<li>${tip[0]}[^]*</li><li>Tap <b>Add to Home ${tip[1]}</b></li>` +
            "<li>Next time, just tap <b>Tesk</b></li>$"));
      }
    });
  }

  test("files go one after another to upload; a 404 ends the page and the rest stay", async () => {
    const page = phonePage([HELLO], { userAgent: IPHONE });
    page.el.picker.files = [{ name: "a b.jpg", size: 2048 }, { name: "c.txt", size: 5 }, { name: "d", size: 1 }];
    const batch = page.el.picker.dispatch("change");
    await settle();
    assert.equal(page.el.picker.value, "");
    assert.ok(!hidden(page.el["uploads-label"]));
    assert.equal(page.uploads.length, 1, "the second file started before the first ended");
    assert.equal(page.uploads[0].url, "upload");
    assert.deepEqual({ ...page.uploads[0].headers }, { "X-Tesk-Name": "a%20b.jpg", "X-Tesk-Device": "iPhone" });
    page.uploads[0].respond(201);
    await settle();
    assert.equal(page.uploads.length, 2);
    page.uploads[1].respond(404);
    await batch;
    assert.equal(page.main.innerHTML, NOTICE);
    assert.equal(page.uploads.length, 2, "sent a file after the phone was unpaired");
  });

  test("text: trimmed, sent as plain text, then cleared; nothing for blank text; errors keep it", async () => {
    const answers = [HELLO];
    const page = phonePage(answers);
    const send = async (text, answer) => {
      if (answer) answers.push(answer);
      page.el.text.value = text;
      await page.el["send-text"].dispatch("click");
    };
    const status = () => [page.el["text-status"].className, page.el["text-status"].textContent];
    await settle();
    await send("  \n ");
    assert.equal(page.requests.length, 1);
    await send("  https://example.com/a \n", reply(201, { ok: true }));
    const { url, options } = page.requests[1];
    assert.deepEqual([url, options.method, options.body], ["text", "POST", "https://example.com/a"]);
    assert.deepEqual({ ...options.headers }, { "Content-Type": "text/plain;charset=utf-8" });
    assert.equal(page.el.text.value, "");
    assert.deepEqual(status(), ["status-line ok", "Sent to the computer."]);
    await send("again", reply(400));
    assert.deepEqual(status(), ["status-line err", "Couldn't reach the computer. Same Wi-Fi?"]);
    assert.equal(page.el.text.value, "again");
    await send("again", reply(404));
    assert.equal(page.main.innerHTML, NOTICE);
  });
});
