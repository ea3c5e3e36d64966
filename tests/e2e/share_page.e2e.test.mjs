// The share page in a real Chromium against the real server (tests/e2e/e2e_server.cpp) over a prepared
// library. Every test gets its own server and library, so a stopped share or an upload cannot leak
// into another test. Run through tests/e2e/run.sh, or by hand after building e2e_server:
//   TESK_E2E_SERVER=build/tests/e2e/e2e_server node --test tests/e2e/share_page.e2e.test.mjs
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import path from "node:path";
import { describe, test } from "node:test";
import { artifacts, browserForEachTest, EACH, IPHONE_UA, waitText } from "./harness.mjs";

const open = browserForEachTest();

const byName = (rows) => [...rows].sort((a, b) => (a.name < b.name ? -1 : a.name > b.name ? 1 : 0));
// The listing as the visitor reads it: each label with the rows under it, by name.
const listing = async (page) => Object.fromEntries(Object.entries(await page.evaluate(() => Object.fromEntries(
  [...document.querySelectorAll("#content > .label")].map((label) => [label.textContent,
    [...label.nextElementSibling.querySelectorAll(":scope > .row")].map((row) =>
      ({ name: row.querySelector(".name").textContent, meta: row.querySelector(".meta").textContent }))]))))
  .map(([label, rows]) => [label, byName(rows)]));
const crumbs = (page) => page.$$eval("#crumbs > *", (els) =>
  els.map((el) => ({ tag: el.tagName.toLowerCase(), text: el.textContent, href: el.getAttribute("href") })));
const row = (page, name) => page.locator("#content .row").filter({ has: page.locator(".name", { hasText: name }) });
const waitForImage = (page, selector) => page.waitForFunction((s) => document.querySelector(s)?.complete &&
  document.querySelector(s).naturalWidth > 0, selector, { timeout: 5000 });
const stamped = (item, meta = `${item.size} B · just now`) => ({ name: item.name, meta });

// The Trips share's top level and its Beach folder as prepared by e2e_server, in the order drawn.
async function expectTripsTop(page, { folders, items }) {
  await waitText(page, "#title", "Trips");
  await waitText(page, "#sub", "5 items · link works for 1 more day");
  assert.deepEqual(await listing(page), {
    Folders: byName([stamped(folders.beach, "4 items"), stamped(folders.empty, "0 items"), stamped(folders.odd, "1 item")]),
    Files: byName([stamped(items.itinerary), stamped(items.marked)]),
  });
  assert.deepEqual(await crumbs(page), [], "the share's own top shows no breadcrumbs");
}

async function expectBeach(page, { items }) {
  await waitText(page, "#title", "Beach");
  await waitText(page, "#sub", "4 items · link works for 1 more day");
  assert.deepEqual(await listing(page), { Files: byName([stamped(items.image, "74 B · just now"), stamped(items.packing),
    stamped(items.note, "Note · just now"), stamped(items.link, "https://example.com/tides?day=1&place=pier")]) });
  assert.deepEqual(await crumbs(page), [{ tag: "a", text: "Trips", href: "./" }, { tag: "svg", text: "", href: null },
    { tag: "span", text: "Beach", href: null }]);
}

describe("share page in Chromium", () => {
  test("a folder share lists its content, opens a subfolder and comes back by crumbs and by Back", EACH, async (t) => {
    const { server, page } = await open(t);
    const { info } = server;
    // Fake timers, paused once the page has drawn: the 4 s poll would otherwise redraw the right folder
    // sooner or later even if a click or Back did nothing.
    await page.clock.install();
    await page.goto(server.url("folder"));
    await expectTripsTop(page, info);
    await page.clock.pauseAt(Date.now() + 500);
    // A share that takes uploads shows the send bar.
    assert.deepEqual([await page.title(), await page.locator("#mac").textContent(), await page.locator("#send").isVisible()],
      ["Trips · Tesk", "Test Mac", true]);

    // Folder links change the query only; a marker on window shows the document was never replaced.
    await page.evaluate(() => (window.sameDocument = true));
    const toBeach = () => row(page, "Beach").click(), toTop = () => page.locator("#crumbs a", { hasText: "Trips" }).click();
    const beach = [expectBeach, `?folder=${info.folders.beach.id}`], top = [expectTripsTop, ""];
    for (const [move, [expected, search]] of [[toBeach, beach], [toTop, top], [toBeach, beach],
      [() => page.goBack(), top], [() => page.goForward(), beach]]) {
      await move();
      await expected(page, info);
      assert.equal(new URL(page.url()).search, search);
    }

    await toTop();
    await row(page, "Empty").click();
    await waitText(page, "#title", "Empty");
    await waitText(page, "#sub", "0 items · link works for 1 more day");
    await waitText(page, "#content", "Nothing here yet.");
    assert.equal(await page.evaluate(() => window.sameDocument), true, "navigation reloaded the document");
  });

  test("an item share shows that one item, no crumbs and no send bar", EACH, async (t) => {
    const { server, page } = await open(t, { at: (s) => s.url("item") });
    const { packing } = server.info.items;
    await waitText(page, "#title", packing.name);
    await waitText(page, "#sub", "1 item · link works for 1 more h");
    assert.deepEqual([await listing(page), await crumbs(page), await page.locator("#send").isHidden()],
      [{ Files: [stamped(packing)] }, [], true]);
  });

  test("a download carries the stored bytes and an image tile loads inline", EACH, async (t) => {
    // Opened straight at the subfolder: the page reads its own query.
    const { server, page } = await open(t, { at: (s) => s.url("folder", s.info.folders.beach.id) });
    const { image, packing } = server.info.items;
    await expectBeach(page, server.info);

    const link = page.getByLabel(`Download ${packing.name}`, { exact: true });
    assert.equal(await link.getAttribute("href"), `f/${packing.id}`);
    const [download] = await Promise.all([page.waitForEvent("download"), link.click()]);
    assert.equal(download.suggestedFilename(), packing.name);
    assert.deepEqual(fs.readFileSync(await download.path()), server.storedBytes(packing));

    // The whole folder as one archive, named after it, holding its files, notes and links ("/" cannot be in
    // a name there).
    const [archive] = await Promise.all([page.waitForEvent("download"), page.click("#download-all")]);
    assert.equal(archive.suggestedFilename(), "Beach.zip");
    const zip = await archive.path();
    assert.deepEqual(execFileSync("unzip", ["-Z1", zip], { encoding: "utf8" }).trim().split("\n").sort(),
      [image.name, packing.name, ...["note", "link"].map((k) => server.info.items[k].name.replaceAll("/", "_") + ".txt")].sort());
    assert.deepEqual(execFileSync("unzip", ["-p", zip, packing.name]), server.storedBytes(packing));

    const tile = row(page, image.name).locator(".tile img");
    assert.equal(await tile.getAttribute("src"), `f/${image.id}?inline=1`);
    await waitForImage(page, "#content .tile img");
    assert.equal(await tile.evaluate((img) => img.naturalWidth), 8);

    const href = await page.getByLabel(`Download ${image.name}`, { exact: true }).getAttribute("href");
    const response = await page.request.get(new URL(href, page.url()).href);
    assert.deepEqual([response.headers()["content-type"], await response.body()], ["image/png", server.storedBytes(image)]);
  });

  test("two files sent through the send bar both arrive and stay listed after a reload", EACH, async (t) => {
    const { server, page } = await open(t, { at: (s) => s.url("folder") });
    const { info } = server;
    await expectTripsTop(page, info);

    const files = [
      { name: "first & <one>.txt", mimeType: "text/plain", buffer: Buffer.from("the first file\n") },
      { name: "second.bin", mimeType: "application/octet-stream", buffer: Buffer.alloc(3000, 7) },
    ];
    await page.setInputFiles("#picker", files);
    // Newest row on top.
    await page.waitForFunction((expected) => JSON.stringify([...document.querySelectorAll("#uploads .up")].map((r) =>
      [r.querySelector(".name").textContent, r.querySelector(".status-line").textContent])) === expected,
    JSON.stringify([["second.bin", "Sent · 3 KB"], ["first & <one>.txt", "Sent · 15 B"]]), { timeout: 10000 });
    assert.ok(await page.locator("#uploads-label").isVisible());

    await page.reload();
    await waitText(page, "#sub", "7 items · link works for 1 more day");
    const names = (await listing(page)).Files.map((r) => r.name);
    const { items } = await server.snapshot();
    for (const file of files) {
      assert.ok(names.includes(file.name), `${file.name} missing from ${names}`);
      const item = items.find((i) => i.name === file.name);
      assert.deepEqual([item.folderID, item.size, server.storedBytes(item)], [info.folders.trips.id, file.buffer.length,
        file.buffer], "filed where listed, whole");
    }
  });

  test("an inbox link shows only the drop zone and files what it receives under From iPhone", EACH, async (t) => {
    const { server, page } = await open(t, { userAgent: IPHONE_UA, at: (s) => s.url("inbox") });
    await waitText(page, "#title", "Send to Test Mac");
    await waitText(page, "#sub", "Files go straight to the computer over this Wi\u2011Fi · until they stop it");
    // No rows, no crumbs and no send bar.
    assert.deepEqual([await page.locator("#content .drop").isVisible(), await page.locator("#content .row").count(),
      await crumbs(page), await page.locator("#send").isHidden()], [true, 0, [], true]);

    // Through the drop zone's own button, as a visitor would.
    const [chooser] = await Promise.all([page.waitForEvent("filechooser"), page.click("[data-pick]")]);
    assert.ok(chooser.isMultiple());
    const photo = { name: "IMG_0001.txt", mimeType: "text/plain", buffer: Buffer.from("pretend photo") };
    await chooser.setFiles([photo]);
    await waitText(page, "#uploads .status-line", "Sent · 13 B", 10000);

    const library = await server.snapshot();
    const item = library.items.find((i) => i.name === photo.name);
    assert.deepEqual([item?.folder, item?.receivedFrom, item?.size], ["From iPhone", "iPhone", photo.buffer.length]);
    assert.equal(library.folders.find((f) => f.id === item.folderID).parentID, null, "the sender's folder sits at the root");
    assert.deepEqual(server.storedBytes(item), photo.buffer);
  });

  test("stopping the share turns the open page into the stopped notice within one poll", EACH, async (t) => {
    const { server, page } = await open(t, { at: (s) => s.url("folder") });
    await expectTripsTop(page, server.info);

    const stoppedAt = Date.now();
    await server.stopShare(server.info.shares.folder);
    // The page polls every 4 s: within one poll and some slack.
    await waitText(page, "main h1", "This link has stopped working", 6000);
    t.diagnostic(`stopped notice after ${Date.now() - stoppedAt} ms`);
    assert.deepEqual([await page.locator("#content").count(), await page.locator("#send").isHidden()], [0, true],
      "the listing and the send bar must be gone");

    await page.reload();
    await waitText(page, ".notice h1", "This link was turned off");
  });

  test("names holding <, & and quotes show as text and inject nothing", EACH, async (t) => {
    const { server, page } = await open(t, { at: (s) => s.url("folder") });
    const { folders, items } = server.info;
    await expectTripsTop(page, server.info);

    for (const name of [items.marked.name, folders.odd.name]) {
      const shown = await page.$$eval("#content .row .name", (els, n) =>
        els.filter((el) => el.textContent === n).map((el) => el.childElementCount), name);
      assert.deepEqual(shown, [0], `${name} must be one plain-text name`);
    }
    assert.deepEqual([await page.getByLabel(`Download ${items.marked.name}`, { exact: true }).count(),
      await page.locator('#content img[src="x"]').count(), await page.evaluate(() => window.injected)], [1, 0, undefined]);

    await row(page, folders.odd.name).click();
    await waitText(page, "#title", folders.odd.name);
    // The tab keeps the share's title; the heading names the folder.
    assert.deepEqual([await page.title(), await page.locator("#crumbs span").textContent()], ["Trips · Tesk", folders.odd.name]);

    await page.goto(server.url("folder", folders.beach.id));
    await expectBeach(page, server.info);
    const note = row(page, items.note.name), opener = row(page, items.link.name).locator("a.icon-btn");
    const said = "Meet at the pier at 9 & bring <snacks>";
    assert.deepEqual([await note.locator(".note").textContent(), await note.locator("[data-copy]").getAttribute("data-copy"),
      await page.locator("snacks").count()], [said, said, 0]);
    assert.deepEqual([await opener.getAttribute("href"), await opener.getAttribute("target")],
      ["https://example.com/tides?day=1&place=pier", "_blank"]);
  });

  test("the share page in light and dark at phone size", EACH, async (t) => {
    const { server, page } = await open(t);
    const backgrounds = {};
    for (const scheme of ["light", "dark"]) {
      await page.emulateMedia({ colorScheme: scheme });
      await page.goto(server.url("folder"));
      await expectTripsTop(page, server.info);
      await page.screenshot({ path: path.join(artifacts, `share-page-top-${scheme}.png`) });

      await page.goto(server.url("folder", server.info.folders.beach.id));
      await expectBeach(page, server.info);
      await waitForImage(page, "#content .tile img");
      backgrounds[scheme] = await page.evaluate(() => getComputedStyle(document.body).backgroundColor);
      const file = path.join(artifacts, `share-page-${scheme}.png`);
      await page.screenshot({ path: file });
      assert.ok(fs.statSync(file).size > 1000, `${file} is too small to hold the page`);

      await page.goto(server.url("inbox"));
      await waitText(page, "#title", "Send to Test Mac");
      await page.screenshot({ path: path.join(artifacts, `share-page-inbox-${scheme}.png`) });
    }
    assert.deepEqual(backgrounds, { light: "rgb(255, 255, 255)", dark: "rgb(30, 30, 30)" });
  });
});
