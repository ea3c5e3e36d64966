// The pairing and phone pages' scripts, run for real through page_scripts.mjs (the phone page's with its
// share-sheet line): node --test tests/e2e/device_pages_unit.test.mjs
// pairing.e2e.test.mjs pairs and sends in Chromium; these are the timings, the relay and the failures it
// cannot stage cheaply.
import assert from "node:assert/strict";
import { describe, test } from "node:test";
import { THREE_FILES, openPage, reply, settle } from "./page_scripts.mjs";

// The claim's reply: the phone page at its three addresses.
const CLAIMED = { token: "T1", ip: "http://192.168.1.20:47470/d/T1/", local: "http://studio.local:47470/d/T1/",
  launcher: "https://relay.example/d/M1/T1/" };

describe("pairing page", () => {
  // Claimed at 0 ms; the relay is asked 1000 ms apart, 12 times at most; a local name gets 1500 ms.
  const learnsAtThirdTry = [reply(404, {}), new TypeError("offline"), reply(200, {})];
  for (const [what, relay, ping, at, address] of [
    ["a relay that never learns of the phone, a local name that never answers", () => reply(404, {}), () => undefined,
      12500, "ip"],
    ["a relay that knows the phone at the third try", () => learnsAtThirdTry.shift(), () => reply(204), 2000, "launcher"],
    ["a relay that never answers", () => undefined, () => reply(204), 12000, "local"],
  ]) {
    test(`${what}: the phone page at ${at} ms, not before`, async () => {
      const route = (url) => (url === "claim" ? reply(200, CLAIMED) : url.endsWith("/ping") ? ping() : relay());
      const page = openPage("pair_page.js", { route });
      page.el.form.dispatch("submit", { preventDefault: () => {} });
      await page.advance(at - 1);
      assert.deepEqual([page.replaced, page.requests[1].url], [[], "https://relay.example/api/macs/M1/where?device=T1"]);
      await page.advance(1);
      assert.deepEqual(page.replaced, [CLAIMED[address] + "?new=1"]);
      assert.ok(page.requests.every((r) => !r.url.endsWith("ping") || r.options.mode === "cors"), "ping without cors");
    });
  }
});

describe("phone page", () => {
  const HELLO = reply(200, { mac: "Studio", device: "Ann's iPhone" });
  const unpaired = (page) => page.main.innerHTML.startsWith('<div class="notice"');
  const sendText = (page, text) => ((page.el.text.value = text), page.el["send-text"].dispatch("click"));

  test("the Home Screen tip fits how the page was opened", () => {
    for (const [what, options, tip, sheet] of [
      ["relay launcher", { attrs: { "data-launcher": CLAIMED.launcher } }, "link", false],
      ["launcher, from the relay's app", { attrs: { "data-launcher": CLAIMED.launcher }, search: "?from=app" }, null, false],
      ["no launcher, installed", { navigator: { standalone: true, userAgent: "(iPhone; CPU iPhone OS 17_5)" } }, null, true],
      ["no launcher, iPad as a Mac", { navigator: { userAgent: "(Macintosh; Intel Mac OS X)", maxTouchPoints: 5 } },
        "Screen", true],
    ]) {
      const page = openPage("phone_page.js", { ...options, classes: { tip: "hidden", "share-sheet": "hidden" } });
      assert.deepEqual([page.el["share-sheet"].className, page.el.tip.className], [sheet ? "" : "hidden", tip ? "" : "hidden"], what);
      if (tip === "link") assert.equal(page.el["tip-steps"].replacedBy.href, CLAIMED.launcher + "?new=1", what);
      else if (tip) assert.match(page.el["tip-steps"].innerHTML, new RegExp(`<li>Tap <b>Add to Home ${tip}</b></li>`), what);
    }
  });

  test("unreachable until asked again on becoming visible; a blank text is not sent, a refused one stays", async () => {
    const page = openPage("phone_page.js", { answers: [new TypeError("offline"), HELLO, reply(400)] });
    await settle();
    assert.equal(page.el.dot.className, "dot off");
    await page.document.dispatch("visibilitychange");
    assert.deepEqual([page.el.dot.className, page.el.mac.textContent], ["dot", "Studio"]);
    await sendText(page, "  \n ");
    assert.equal(page.requests.length, 2);
    await sendText(page, "again");
    assert.deepEqual([page.el.text.value, page.el["text-status"].className], ["again", "status-line err"]);
  });

  test("a 404 to a text means unpaired; to a file too, and the files after it stay unsent for good", async () => {
    const byText = openPage("phone_page.js", { answers: [HELLO, reply(404)] });
    await sendText(byText, "hi");
    assert.ok(unpaired(byText));
    const byFile = openPage("phone_page.js", { answers: [HELLO] });
    await byFile.pick(THREE_FILES);
    assert.deepEqual(byFile.uploads.map((u) => u.url), ["upload"]);
    for (const status of [201, 404]) await byFile.uploads.at(-1).respond(status);
    assert.ok(unpaired(byFile));
    byFile.document.dispatch("visibilitychange");
    assert.deepEqual([byFile.uploads.length, byFile.requests.length], [2, 1], "went on after the phone was unpaired");
  });
});
