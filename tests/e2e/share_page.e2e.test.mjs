// The share page in a real Chromium against the real server (tests/e2e/e2e_server.cpp) over a prepared
// library. Every test gets its own server and library, so a stopped share or an upload cannot leak
// into another test. Run through tests/e2e/run.sh, or by hand after building e2e_server:
//   TESK_E2E_SERVER=build/tests/e2e/e2e_server node --test tests/e2e/share_page.e2e.test.mjs
import assert from "node:assert/strict";
import fs from "node:fs";
import path from "node:path";
import { after, before, describe, test } from "node:test";
import { artifacts, EACH, IPHONE_UA, launchBrowser, ONE_POLL_MS, PHONE, Server } from "./harness.mjs";

// ---- the browser ----

let browser;

before(async () => {
  browser = await launchBrowser();
  fs.mkdirSync(artifacts, { recursive: true });
});

after(async () => {
  await browser?.close();
});

// A fresh server and a fresh phone-sized browser context, both torn down when the test ends, pass or fail.
async function open(t, { userAgent } = {}) {
  const server = await Server.start();
  t.after(() => server.close());
  const context = await browser.newContext({ viewport: PHONE, userAgent, acceptDownloads: true });
  t.after(() => context.close());
  // Failures should be quick and say what was awaited, well inside the whole run's minute.
  context.setDefaultTimeout(8000);
  const page = await context.newPage();
  const errors = [];
  page.on("pageerror", (error) => errors.push(error));
  t.after(() => assert.deepEqual(errors, [], "the page threw"));
  return { server, context, page };
}

// Waits until the element's text is exactly `expected`; on timeout fails with what was there instead.
async function waitText(page, selector, expected, timeout = 5000) {
  try {
    await page.waitForFunction(([s, e]) => document.querySelector(s)?.textContent === e, [selector, expected],
      { timeout });
  } catch (error) {
    const actual = await page.evaluate((s) => document.querySelector(s)?.textContent ?? null, selector);
    assert.equal(actual, expected, `text of ${selector} after ${timeout} ms`);
    throw error;
  }
}

// The listing as the visitor reads it: each label with the rows under it.
function listing(page) {
  return page.evaluate(() => {
    const sections = {};
    for (const label of document.querySelectorAll("#content > .label")) {
      const list = label.nextElementSibling;
      sections[label.textContent] = Array.from(list.querySelectorAll(":scope > .row"), (row) => ({
        name: row.querySelector(".name").textContent,
        meta: row.querySelector(".meta").textContent,
      }));
    }
    return sections;
  });
}

const byName = (rows) => [...rows].sort((a, b) => (a.name < b.name ? -1 : a.name > b.name ? 1 : 0));

async function crumbs(page) {
  return page.$$eval("#crumbs > *", (els) =>
    els.map((el) => ({ tag: el.tagName.toLowerCase(), text: el.textContent, href: el.getAttribute("href") })));
}

// The Trips share's top level as prepared by e2e_server.
function tripsTop(info) {
  const { folders, items } = info;
  return {
    Folders: byName([
      { name: folders.beach.name, meta: "4 items" },
      { name: folders.empty.name, meta: "0 items" },
      { name: folders.odd.name, meta: "1 item" },
    ]),
    Files: byName([
      { name: items.itinerary.name, meta: `${items.itinerary.size} B · just now` },
      { name: items.marked.name, meta: `${items.marked.size} B · just now` },
    ]),
  };
}

async function expectTripsTop(page, info) {
  await waitText(page, "#title", "Trips");
  await waitText(page, "#sub", "5 items · link works for 1 more day");
  const sections = await listing(page);
  assert.deepEqual(Object.keys(sections), ["Folders", "Files"]);
  assert.deepEqual({ Folders: byName(sections.Folders), Files: byName(sections.Files) }, tripsTop(info));
  assert.deepEqual(await crumbs(page), [], "the share's own top shows no breadcrumbs");
}

async function expectBeach(page, info) {
  await waitText(page, "#title", "Beach");
  await waitText(page, "#sub", "4 items · link works for 1 more day");
  const { items } = info;
  const sections = await listing(page);
  assert.deepEqual(Object.keys(sections), ["Files"]);
  assert.deepEqual(byName(sections.Files), byName([
    { name: items.image.name, meta: "74 B · just now" },
    { name: items.packing.name, meta: `${items.packing.size} B · just now` },
    { name: items.note.name, meta: "Note · just now" },
    { name: items.link.name, meta: "https://example.com/tides?day=1&place=pier" },
  ]));
  assert.deepEqual(await crumbs(page), [
    { tag: "a", text: "Trips", href: "./" },
    { tag: "svg", text: "", href: null },
    { tag: "span", text: "Beach", href: null },
  ]);
}

const row = (page, name) => page.locator("#content .row").filter({
  has: page.locator(".name", { hasText: name }),
});

async function waitForImage(page, selector) {
  await page.waitForFunction((s) => {
    const img = document.querySelector(s);
    return img && img.complete && img.naturalWidth > 0;
  }, selector, { timeout: 5000 });
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
    assert.equal(await page.title(), "Trips · Tesk");
    assert.equal(await page.locator("#mac").textContent(), "Test Mac");
    assert.ok(await page.locator("#send").isVisible(), "a share that takes uploads shows the send bar");
    assert.equal(await page.locator("#send-title").textContent(), "Send to Test Mac");

    // Folder links change the query only; a marker on window shows the document was never replaced.
    await page.evaluate(() => (window.sameDocument = true));
    await row(page, "Beach").click();
    await expectBeach(page, info);
    assert.equal(new URL(page.url()).searchParams.get("folder"), info.folders.beach.id);

    await page.locator("#crumbs a", { hasText: "Trips" }).click();
    await expectTripsTop(page, info);
    assert.equal(new URL(page.url()).search, "");

    await row(page, "Beach").click();
    await expectBeach(page, info);
    await page.goBack();
    await expectTripsTop(page, info);
    await page.goForward();
    await expectBeach(page, info);

    await page.locator("#crumbs a", { hasText: "Trips" }).click();
    await row(page, "Empty").click();
    await waitText(page, "#title", "Empty");
    await waitText(page, "#sub", "0 items · link works for 1 more day");
    await waitText(page, "#content", "Nothing here yet.");
    assert.equal(await page.evaluate(() => window.sameDocument), true, "navigation reloaded the document");
  });

  test("an item share shows that one item, no crumbs and no send bar", EACH, async (t) => {
    const { server, page } = await open(t);
    const { packing } = server.info.items;
    await page.goto(server.url("item"));
    await waitText(page, "#title", packing.name);
    await waitText(page, "#sub", "1 item · link works for 1 more h");
    assert.deepEqual(await listing(page), { Files: [{ name: packing.name, meta: `${packing.size} B · just now` }] });
    assert.deepEqual(await crumbs(page), []);
    assert.equal(await page.locator("#send").isHidden(), true, "a share without uploads hides the send bar");
  });

  test("a download carries the stored bytes and an image tile loads inline", EACH, async (t) => {
    const { server, page } = await open(t);
    const { image, packing } = server.info.items;
    // Opened straight at the subfolder: the page reads its own query.
    await page.goto(server.url("folder", server.info.folders.beach.id));
    await expectBeach(page, server.info);

    const link = page.getByLabel(`Download ${packing.name}`, { exact: true });
    assert.equal(await link.getAttribute("href"), `f/${packing.id}`);
    const [download] = await Promise.all([page.waitForEvent("download"), link.click()]);
    assert.equal(download.suggestedFilename(), packing.name);
    const downloaded = fs.readFileSync(await download.path());
    assert.ok(downloaded.length > 0);
    assert.deepEqual(downloaded, server.storedBytes(packing));

    const tile = row(page, image.name).locator(".tile img");
    assert.equal(await tile.getAttribute("src"), `f/${image.id}?inline=1`);
    await waitForImage(page, "#content .tile img");
    assert.equal(await tile.evaluate((img) => img.naturalWidth), 8);

    const href = await page.getByLabel(`Download ${image.name}`, { exact: true }).getAttribute("href");
    const response = await page.request.get(new URL(href, page.url()).href);
    assert.equal(response.status(), 200);
    assert.equal(response.headers()["content-type"], "image/png");
    assert.deepEqual(await response.body(), server.storedBytes(image));
  });

  test("two files sent through the send bar both arrive and stay listed after a reload", EACH, async (t) => {
    const { server, page } = await open(t);
    const { info } = server;
    await page.goto(server.url("folder"));
    await expectTripsTop(page, info);

    const files = [
      { name: "first & <one>.txt", mimeType: "text/plain", buffer: Buffer.from("the first file\n") },
      { name: "second.bin", mimeType: "application/octet-stream", buffer: Buffer.alloc(3000, 7) },
    ];
    await page.setInputFiles("#picker", files);
    await page.waitForFunction(() => {
      const lines = document.querySelectorAll("#uploads .up .status-line");
      return lines.length === 2 && [...lines].every((l) => !l.textContent.startsWith("Sending"));
    }, null, { timeout: 10000 });
    const statuses = await page.$$eval("#uploads .up", (rows) => rows.map((r) => ({
      name: r.querySelector(".name").textContent,
      status: r.querySelector(".status-line").textContent,
    })));
    // Newest row on top.
    assert.deepEqual(statuses, [
      { name: "second.bin", status: "Sent · 3 KB" },
      { name: "first & <one>.txt", status: "Sent · 15 B" },
    ]);
    assert.ok(statuses.every((s) => s.status.startsWith("Sent · ")));
    assert.ok(await page.locator("#uploads-label").isVisible());

    await page.reload();
    await waitText(page, "#sub", "7 items · link works for 1 more day");
    const names = (await listing(page)).Files.map((r) => r.name);
    for (const file of files) assert.ok(names.includes(file.name), `${file.name} missing from ${names}`);

    const stored = (await server.snapshot()).items.filter((i) => files.some((f) => f.name === i.name));
    assert.equal(stored.length, 2);
    for (const item of stored) {
      const sent = files.find((f) => f.name === item.name);
      assert.equal(item.folderID, info.folders.trips.id, `${item.name} filed outside the listed folder`);
      assert.equal(item.size, sent.buffer.length);
      assert.deepEqual(server.storedBytes(item), sent.buffer);
    }
  });

  test("an inbox link shows only the drop zone and files what it receives under From iPhone", EACH, async (t) => {
    const { server, page } = await open(t, { userAgent: IPHONE_UA });
    await page.goto(server.url("inbox"));
    await waitText(page, "#title", "Send to Test Mac");
    await waitText(page, "#sub", "Files go straight to the computer over this Wi\u2011Fi · until they stop it");
    assert.ok(await page.locator("#content .drop").isVisible());
    assert.equal(await page.locator("#content .drop h2").textContent(), "Choose what to send");
    assert.equal(await page.locator("#content .row").count(), 0);
    assert.equal(await page.locator("#send").isHidden(), true, "the inbox must not show the send bar");
    assert.deepEqual(await crumbs(page), []);

    // Through the drop zone's own button, as a visitor would.
    const [chooser] = await Promise.all([page.waitForEvent("filechooser"), page.click("[data-pick]")]);
    assert.ok(chooser.isMultiple());
    const photo = { name: "IMG_0001.txt", mimeType: "text/plain", buffer: Buffer.from("pretend photo") };
    await chooser.setFiles([photo]);
    await page.waitForFunction(() => document.querySelector("#uploads .status-line")?.textContent.startsWith("Sent · "),
      null, { timeout: 10000 });

    const library = await server.snapshot();
    const item = library.items.find((i) => i.name === photo.name);
    assert.ok(item, "the upload is not in the library");
    assert.equal(item.folder, "From iPhone");
    assert.equal(item.receivedFrom, "iPhone");
    assert.equal(item.size, photo.buffer.length);
    const folder = library.folders.find((f) => f.id === item.folderID);
    assert.equal(folder.parentID, null, "the sender's folder sits at the root");
    assert.deepEqual(server.storedBytes(item), photo.buffer);
  });

  test("stopping the share turns the open page into the stopped notice within one poll", EACH, async (t) => {
    const { server, page } = await open(t);
    await page.goto(server.url("folder"));
    await expectTripsTop(page, server.info);

    const stoppedAt = Date.now();
    await server.stopShare(server.info.shares.folder);
    await waitText(page, "main h1", "This link has stopped working", ONE_POLL_MS);
    t.diagnostic(`stopped notice after ${Date.now() - stoppedAt} ms`);
    assert.equal(await page.locator("main p").textContent(), "Ask the person who shared it to send a new one.");
    assert.equal(await page.locator("#content").count(), 0, "the listing must be gone");
    assert.equal(await page.locator("#send").isHidden(), true);

    await page.reload();
    await waitText(page, ".notice h1", "This link was turned off");
  });

  test("names holding <, & and quotes show as text and inject nothing", EACH, async (t) => {
    const { server, page } = await open(t);
    const { folders, items } = server.info;
    await page.goto(server.url("folder"));
    await expectTripsTop(page, server.info);

    for (const name of [items.marked.name, folders.odd.name]) {
      const shown = await page.$$eval("#content .row .name", (els, n) =>
        els.filter((el) => el.textContent === n).map((el) => el.childElementCount), name);
      assert.deepEqual(shown, [0], `${name} must be one plain-text name`);
    }
    assert.equal(await page.getByLabel(`Download ${items.marked.name}`, { exact: true }).count(), 1);
    assert.equal(await page.locator('#content img[src="x"]').count(), 0);
    assert.equal(await page.evaluate(() => window.injected), undefined);

    await row(page, folders.odd.name).click();
    await waitText(page, "#title", folders.odd.name);
    // The tab keeps the share's title; the heading names the folder.
    assert.equal(await page.title(), "Trips · Tesk");
    assert.equal(await page.locator("#crumbs span").textContent(), folders.odd.name);

    await page.goto(server.url("folder", folders.beach.id));
    await expectBeach(page, server.info);
    const note = row(page, items.note.name);
    assert.equal(await note.locator(".note").textContent(), "Meet at the pier at 9 & bring <snacks>");
    assert.equal(await note.locator("[data-copy]").getAttribute("data-copy"), "Meet at the pier at 9 & bring <snacks>");
    assert.equal(await page.locator("snacks").count(), 0);
    const opener = row(page, items.link.name).locator("a.icon-btn");
    assert.equal(await opener.getAttribute("href"), "https://example.com/tides?day=1&place=pier");
    assert.equal(await opener.getAttribute("target"), "_blank");
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
