// Pairing a phone and using its phone page, in a real Chromium against the real server
// (tests/e2e/e2e_server.cpp). Every test gets its own server and library. Run through tests/e2e/run.sh,
// or by hand after building e2e_server:
//   TESK_E2E_SERVER=build/tests/e2e/e2e_server node --test tests/e2e/pairing.e2e.test.mjs
import assert from "node:assert/strict";
import fs from "node:fs";
import path from "node:path";
import { describe, test } from "node:test";
import { artifacts, browserForEachTest, EACH, IPHONE_UA, waitText } from "./harness.mjs";

const open = browserForEachTest();
const text = (page, selector) => page.locator(selector).textContent();

// Names the phone on the pairing page and follows it to its phone page; answers the new device.
async function pair(page, server, name) {
  await page.locator("#name").fill(name);
  await Promise.all([page.waitForURL(/\/d\/[^/]+\/\?new=1$/), page.click("#go")]);
  const device = (await server.devices()).find((d) => d.name === name);
  // No local host name and no relay here, so the page must go to the address by number.
  assert.equal(page.url(), `http://127.0.0.1:${server.info.port}/d/${device?.token}/?new=1`);
  await waitText(page, "#title", `Send to ${server.info.mac}`);
  return device;
}

describe("pairing and the phone page in Chromium", () => {
  test("a phone pairs by name, lands on its page and sends a text and a file into its folder", EACH, async (t) => {
    const { server, page } = await open(t, { at: async (s) => s.pairingURL(await s.newCode()) });
    // Headless Chromium is no phone the page knows, so the name falls back to "Phone".
    assert.deepEqual([await page.title(), await page.locator("#name").inputValue()], [`Pair with ${server.info.mac}`, "Phone"]);

    await pair(page, server, "Kitchen iPad");
    // Only iOS gets the share-sheet card.
    assert.deepEqual([await text(page, "#sub"), await text(page, "#mac"), await page.locator("#share-sheet").isHidden()],
      ["From Kitchen iPad, over your Wi-Fi.", server.info.mac, true]);
    assert.deepEqual(await page.locator("#tip-steps li").allTextContents(),
      ["Open the browser menu ⋮", "Tap Add to Home screen", "Next time, just tap Tesk"]);

    const note = "Milk & eggs <2 dozen>";
    await page.locator("#text").fill(`  ${note}\n`);
    await page.click("#send-text");
    await waitText(page, "#text-status", "Sent to the computer.");
    assert.equal(await page.locator("#text").inputValue(), "", "a sent text leaves the box empty");

    const photo = { name: "IMG_0042.jpg", mimeType: "image/jpeg", buffer: Buffer.alloc(2048, 9) };
    await page.setInputFiles("#picker", [photo]);
    await waitText(page, "#uploads .up .status-line", "Sent · 2 KB", 10000);

    const library = await server.snapshot();
    const received = library.items.filter((i) => i.receivedFrom === "Kitchen iPad");
    // The text arrives trimmed and otherwise unchanged.
    assert.deepEqual(received.map((i) => [i.folder, i.content ?? i.name]).sort(),
      [["From Kitchen iPad", "IMG_0042.jpg"], ["From Kitchen iPad", note]]);
    assert.equal(library.folders.find((f) => f.name === "From Kitchen iPad").parentID, null, "the phone's folder sits at the root");
    assert.deepEqual([server.storedBytes(received.find((i) => i.content === null)), library.devices.length], [photo.buffer, 1]);

    // The pairing page replaced itself, so Back cannot return to a used-up code.
    await page.goBack();
    assert.ok(!page.url().includes("/p/"), `Back went to ${page.url()}`);
  });

  test("removing the phone turns its open page into the not-paired notice at its next check", EACH, async (t) => {
    const { server, page } = await open(t, { at: async (s) => s.pairingURL(await s.newCode()) });
    const device = await pair(page, server, "Hall phone");
    // A check while paired keeps the page as it is (device_pages_unit.test.mjs).
    await server.removeDevice(device.id);
    const removedAt = Date.now();
    // The page checks again whenever it becomes visible, as when the phone returns to it.
    await page.evaluate(() => document.dispatchEvent(new Event("visibilitychange")));
    await waitText(page, "main .notice h1", "This phone isn’t paired anymore", 6000);
    t.diagnostic(`not-paired notice after ${Date.now() - removedAt} ms`);
    assert.equal(await page.locator("#drop, #text").count(), 0, "nothing to send with is left");
  });

  test("a used pairing code shows the ran-out notice and refuses a second claim", EACH, async (t) => {
    const { server, context, page } = await open(t);
    const code = await server.newCode();
    await page.goto(server.pairingURL(code));
    // A second phone that opened the same code before it was used.
    const late = await context.newPage();
    await late.goto(server.pairingURL(code));
    await pair(page, server, "First phone");

    await late.click("#go");
    await waitText(late, "#status", "This pairing code ran out. Make a new one in Tesk on the computer.");
    assert.equal(await late.locator("#status").getAttribute("class"), "status-line err");
    assert.deepEqual([await late.locator("#go").isEnabled(), await text(late, "#go")], [true, "Pair"], "the button is back");
    assert.deepEqual((await server.devices()).map((d) => d.name), ["First phone"]);

    // Opened again, the page is the server's ran-out notice (its wording is the routes' to check).
    await late.goto(server.pairingURL(code));
    assert.deepEqual([await text(late, ".notice h1"), await late.locator("#form").count()], ["This pairing code ran out", 0]);
  });

  test("on an iPhone the phone page offers the share sheet and the iOS Home Screen steps", EACH, async (t) => {
    const { server, page } = await open(t, { userAgent: IPHONE_UA });
    const backgrounds = {};
    for (const scheme of ["light", "dark"]) {
      await page.emulateMedia({ colorScheme: scheme });
      await page.goto(server.pairingURL(await server.newCode()));
      assert.equal(await page.locator("#name").inputValue(), "iPhone");
      await page.screenshot({ path: path.join(artifacts, `pairing-page-${scheme}.png`) });

      await pair(page, server, `iPhone ${scheme}`);
      assert.deepEqual([await page.locator("#share-sheet").isVisible(), await page.locator("#tip").isVisible(),
        await page.locator("#share-sheet a").getAttribute("href")], [true, true, "Send%20to%20Tesk.shortcut"]);
      assert.deepEqual(await page.locator("#tip-steps li").allTextContents(),
        ["Tap Share at the bottom of Safari", "Tap Add to Home Screen", "Next time, just tap Tesk"]);
      backgrounds[scheme] = await page.evaluate(() => getComputedStyle(document.body).backgroundColor);
      const file = path.join(artifacts, `phone-page-${scheme}.png`);
      await page.screenshot({ path: file, fullPage: true });
      assert.ok(fs.statSync(file).size > 1000, `${file} is too small to hold the page`);
    }
    assert.deepEqual(backgrounds, { light: "rgb(255, 255, 255)", dark: "rgb(30, 30, 30)" });
  });
});
