// The pairing and phone pages' scripts, run for real through page_scripts.mjs (the phone page's with its
// share-sheet line): node --test tests/e2e/device_pages_unit.test.mjs
import assert from "node:assert/strict";
import { describe, test } from "node:test";
import { openPage, pageScript, reply, settle } from "./page_scripts.mjs";

const PAIR = pageScript("pair_page.js");
const PHONE = pageScript("phone_page.js");
const IPHONE = "Mozilla/5.0 (iPhone; CPU iPhone OS 17_5 like Mac OS X) Mobile/15E148 Safari/604.1";
const MAC_UA = "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) Safari/605.1.15";
const hidden = (element) => element.classList.contains("hidden");

const LAUNCHER = "https://relay.example/d/M1/T1/";
const LOCAL = "http://studio.local:47470/d/T1/";
const IP = "http://192.168.1.20:47470/d/T1/";
const CLAIMED = reply(200, { token: "T1", ip: IP, local: LOCAL, launcher: LAUNCHER });

function pairPage(claimReply, { relay = () => undefined, ping = () => undefined, userAgent = IPHONE } = {}) {
  const route = (url) => (url === "claim" ? claimReply : url.endsWith("/ping") ? ping() : relay());
  const ids = { mac: "", dot: "dot", form: "", name: "", go: "", status: "" };
  const page = openPage(PAIR, ids, { attrs: { "data-mac": "Ann's <Mac>" }, userAgent, route });
  page.submit = async () => {
    let prevented = false;
    page.el.form.dispatch("submit", { preventDefault: () => (prevented = true) });
    await settle();
    return prevented;
  };
  return page;
}

describe("pairing page", () => {
  test("shows the computer's name as text and names the phone after its kind", () => {
    assert.equal(pairPage().el.mac.textContent, "Ann's <Mac>");
    assert.equal(pairPage().el.name.value, "iPhone");
    assert.equal(pairPage(undefined, { userAgent: "curl/8" }).el.name.value, "Phone");
  });

  test("claims with the typed name, the button disabled meanwhile", async () => {
    const page = pairPage(undefined);
    page.el.name.value = 'Kitchen "iPad"';
    assert.ok(await page.submit(), "the form must not be submitted for real");
    assert.equal(page.el.go.disabled, true);
    const [{ url, options }] = page.requests;
    assert.deepEqual([url, options.method, JSON.parse(options.body)], ["claim", "POST", { name: 'Kitchen "iPad"' }]);
    assert.deepEqual({ ...options.headers }, { "Content-Type": "application/json" });
  });

  test("a refused or failed claim says which, and the form works again", async () => {
    const lines = [];
    for (const answer of [reply(410, { error: "expired" }), new TypeError("Failed to fetch")]) {
      const page = pairPage(answer);
      await page.submit();
      assert.equal(page.el.status.className, "status-line err");
      assert.deepEqual([page.el.go.disabled, page.replaced], [false, []]);
      lines.push(page.el.status.textContent);
    }
    assert.match(lines[0], /ran out/);
    assert.notEqual(lines[0], lines[1]);
  });

  test("asks the relay 12 times, 1000 ms apart, then the local name for 1500 ms, then goes by number", async () => {
    const page = pairPage(CLAIMED, { relay: () => reply(404, {}) });
    await page.submit();
    await page.advance(11000);
    assert.deepEqual(page.requests.slice(1, 13).map((r) => [r.url, r.at, r.options.cache]),
      Array.from({ length: 12 }, (_, i) => ["https://relay.example/api/macs/M1/where?device=T1", i * 1000, "no-store"]));
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
    assert.deepEqual([known.replaced, known.requests.length], [[LAUNCHER + "?new=1"], 4]);
    const silent = pairPage(CLAIMED, { ping: () => reply(204) });
    await silent.submit();
    await silent.advance(11999);
    assert.deepEqual(silent.replaced, []);
    await silent.advance(1);
    assert.deepEqual(silent.replaced, [LOCAL + "?new=1"]);
  });
});

const HELLO = reply(200, { mac: "Studio", device: "Ann's iPhone" });
const UNPAIRED = /^<div class="notice"/;

function phonePage(answers = [], options = {}) {
  const ids = { mac: "", dot: "dot", title: "", sub: "", tip: "hidden", "tip-steps": "", "share-sheet": "hidden",
    "drop-icon": "", pick: "", picker: "", "uploads-label": "hidden", uploads: "hidden", text: "", "send-text": "",
    "text-status": "" };
  return openPage(PHONE, ids, { ...options, route: () => answers.shift() });
}

describe("phone page", () => {
  test("unreachable, then on becoming visible a greeting with both names", async () => {
    const page = phonePage([new TypeError("offline"), HELLO]);
    await settle();
    assert.equal(page.el.dot.className, "dot off");
    page.fire("visibilitychange");
    await settle();
    assert.deepEqual(page.requests.map((r) => [r.url, r.options.cache]), [["api", "no-store"], ["api", "no-store"]]);
    assert.deepEqual([page.el.dot.className, page.el.mac.textContent], ["dot", "Studio"]);
    assert.equal(page.el.sub.textContent, "From Ann's iPhone, over your Wi-Fi.");
  });

  test("404 on api means unpaired, for good", async () => {
    const page = phonePage([reply(404)]);
    await settle();
    page.fire("visibilitychange");
    assert.match(page.main.innerHTML, UNPAIRED);
    assert.equal(page.requests.length, 1);
  });

  test("the Home Screen tip fits how the page was opened", () => {
    for (const [what, options, tip, sheet] of [
      ["relay launcher", { attrs: { "data-launcher": LAUNCHER } }, "link", false],
      ["launcher, opened from the relay's app", { attrs: { "data-launcher": LAUNCHER }, search: "?from=app" }, null, false],
      ["no launcher, installed", { standalone: true, userAgent: IPHONE }, null, true],
      ["no launcher, iPhone", { userAgent: IPHONE }, "Screen", true],
      ["no launcher, iPad as a Mac", { userAgent: MAC_UA, maxTouchPoints: 5 }, "Screen", true],
      ["no launcher, Mac", { userAgent: MAC_UA, attrs: { "data-launcher": "" } }, "screen", false],
    ]) {
      const page = phonePage([], options);
      assert.deepEqual([hidden(page.el["share-sheet"]), hidden(page.el.tip)], [!sheet, tip === null], what);
      if (tip === "link") assert.equal(page.el["tip-steps"].replacedBy.href, LAUNCHER + "?new=1", what);
      else if (tip) assert.match(page.el["tip-steps"].innerHTML, new RegExp(`<li>Tap <b>Add to Home ${tip}</b></li>`), what);
    }
  });

  test("files go one after another to upload; a 404 ends the page and the rest stay", async () => {
    const page = phonePage([HELLO], { userAgent: IPHONE });
    page.el.picker.files = [{ name: "a b.jpg", size: 2048 }, { name: "c.txt", size: 5 }, { name: "d", size: 1 }];
    const batch = page.el.picker.dispatch("change");
    await settle();
    assert.deepEqual([page.el.picker.value, hidden(page.el["uploads-label"]), page.uploads.length], ["", false, 1]);
    assert.deepEqual([page.uploads[0].url, { ...page.uploads[0].headers }],
      ["upload", { "X-Tesk-Name": "a%20b.jpg", "X-Tesk-Device": "iPhone" }]);
    page.uploads[0].respond(201);
    await settle();
    page.uploads[1].respond(404);
    await batch;
    assert.match(page.main.innerHTML, UNPAIRED);
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
    await settle();
    await send("  \n ");
    assert.equal(page.requests.length, 1);
    await send("  https://example.com/a \n", reply(201, { ok: true }));
    const { url, options } = page.requests[1];
    assert.deepEqual([url, options.method, options.body], ["text", "POST", "https://example.com/a"]);
    assert.deepEqual({ ...options.headers }, { "Content-Type": "text/plain;charset=utf-8" });
    assert.deepEqual([page.el.text.value, page.el["text-status"].className], ["", "status-line ok"]);
    await send("again", reply(400));
    assert.deepEqual([page.el.text.value, page.el["text-status"].className], ["again", "status-line err"]);
    await send("again", reply(404));
    assert.match(page.main.innerHTML, UNPAIRED);
  });
});
