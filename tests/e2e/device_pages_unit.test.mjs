// The pairing and phone pages' scripts, run for real through page_scripts.mjs (the phone page's with its
// share-sheet line): node --test tests/e2e/device_pages_unit.test.mjs
// pairing.e2e.test.mjs pairs and sends in Chromium; these are the timings, the relay and the failures it
// cannot stage cheaply.
import assert from "node:assert/strict";
import { describe, test } from "node:test";
import { openPage, pageScript, reply, settle } from "./page_scripts.mjs";

const LAUNCHER = "https://relay.example/d/M1/T1/";
const LOCAL = "http://studio.local:47470/d/T1/";
const IP = "http://192.168.1.20:47470/d/T1/";
const CLAIMED = reply(200, { token: "T1", ip: IP, local: LOCAL, launcher: LAUNCHER });

describe("pairing page", () => {
  // Claimed at 0 ms; the relay is asked 1000 ms apart, 12 times at most; a local name gets 1500 ms.
  const learnsAtThirdTry = [reply(404, {}), new TypeError("offline"), reply(200, {})];
  for (const [what, relay, ping, at, address] of [
    ["a relay that never learns of the phone, a local name that never answers", () => reply(404, {}), () => undefined,
      12500, IP],
    ["a relay that knows the phone at the third try", () => learnsAtThirdTry.shift(), () => reply(204), 2000, LAUNCHER],
    ["a relay that never answers", () => undefined, () => reply(204), 12000, LOCAL],
  ]) {
    test(`${what}: the phone page at ${at} ms, not before`, async () => {
      const route = (url) => (url === "claim" ? CLAIMED : url.endsWith("/ping") ? ping() : relay());
      const page = openPage(pageScript("pair_page.js"), { route });
      page.el.form.dispatch("submit", { preventDefault: () => {} });
      await page.advance(at - 1);
      assert.deepEqual([page.replaced, page.requests[1].url], [[], "https://relay.example/api/macs/M1/where?device=T1"]);
      await page.advance(1);
      assert.deepEqual(page.replaced, [address + "?new=1"]);
      assert.ok(page.requests.every((r) => !r.url.endsWith("ping") || r.options.mode === "cors"), "ping without cors");
    });
  }
});

const HELLO = reply(200, { mac: "Studio", device: "Ann's iPhone" });
const UNPAIRED = /^<div class="notice"/;
const phonePage = (answers = [], options = {}) =>
  openPage(pageScript("phone_page.js"), { ...options, route: () => answers.shift() });

describe("phone page", () => {
  test("shows the computer unreachable, and asks again on becoming visible", async () => {
    const page = phonePage([new TypeError("offline"), HELLO]);
    await settle();
    assert.equal(page.el.dot.className, "dot off");
    page.document.dispatch("visibilitychange");
    await settle();
    assert.deepEqual([page.el.dot.className, page.el.mac.textContent], ["dot", "Studio"]);
  });

  test("the Home Screen tip fits how the page was opened", () => {
    for (const [what, options, tip, sheet] of [
      ["relay launcher", { attrs: { "data-launcher": LAUNCHER } }, "link", false],
      ["launcher, opened from the relay's app", { attrs: { "data-launcher": LAUNCHER }, search: "?from=app" }, null, false],
      ["no launcher, installed", { standalone: true, userAgent: "(iPhone; CPU iPhone OS 17_5 like Mac OS X)" }, null, true],
      ["no launcher, iPad as a Mac", { userAgent: "(Macintosh; Intel Mac OS X 10_15_7)", maxTouchPoints: 5 }, "Screen", true],
    ]) {
      const page = phonePage([], { ...options, classes: { tip: "hidden", "share-sheet": "hidden" } });
      assert.deepEqual([page.el["share-sheet"].className, page.el.tip.className], [sheet ? "" : "hidden", tip ? "" : "hidden"], what);
      if (tip === "link") assert.equal(page.el["tip-steps"].replacedBy.href, LAUNCHER + "?new=1", what);
      else if (tip) assert.match(page.el["tip-steps"].innerHTML, new RegExp(`<li>Tap <b>Add to Home ${tip}</b></li>`), what);
    }
  });

  test("files go one after another; a 404 ends the page for good and the rest stay", async () => {
    const page = phonePage([HELLO]);
    page.el.picker.files = [{ name: "a", size: 2048 }, { name: "b", size: 5 }, { name: "c", size: 1 }];
    page.el.picker.dispatch("change");
    await settle();
    assert.deepEqual(page.uploads.map((u) => u.url), ["upload"]);
    await page.uploads[0].respond(201);
    await page.uploads[1].respond(404);
    assert.match(page.main.innerHTML, UNPAIRED);
    page.document.dispatch("visibilitychange");
    assert.deepEqual([page.uploads.length, page.requests.length], [2, 1], "went on after the phone was unpaired");
  });

  test("text: nothing sent when blank; a refusal keeps it; a 404 means unpaired", async () => {
    const page = phonePage([HELLO, reply(400), reply(404)]);
    const send = (text) => ((page.el.text.value = text), page.el["send-text"].dispatch("click"));
    await send("  \n ");
    assert.equal(page.requests.length, 1);
    await send("again");
    assert.deepEqual([page.el.text.value, page.el["text-status"].className], ["again", "status-line err"]);
    await send("again");
    assert.match(page.main.innerHTML, UNPAIRED);
  });
});
