// Web Push on tesk-relay's pages in Chromium: the launcher's waiting list and notification card, the
// follow page's card, and the service worker. The computer checks in through X-Forwarded-For from
// elsewhere than the browser. Headless Chromium has no push service, so subscribing fails for real;
// a stand-in subscription then shows what the pages send the relay.
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import crypto from "node:crypto";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import readline from "node:readline";
import { after, before, describe, test } from "node:test";
import { EACH, launchBrowser, repo, waitText } from "./harness.mjs";

const relayBinary = path.resolve(process.env.TESK_RELAY || path.join(repo, "build/relay/tesk-relay"));
const dir = fs.mkdtempSync(path.join(os.tmpdir(), "tesk-e2e-push-"));
const computer = "http://192.0.2.10:47470";
const device = crypto.createHash("sha256").update("phonetoken").digest("hex");
const errors = [];
let relay, origin, macId, secret, browser, context, page, launcher;

const api = (route, body, headers = {}) => fetch(`${origin}/api/macs${route}`, { method: "POST",
  body: JSON.stringify(body), headers: { Authorization: `Bearer ${secret}`, ...headers } });
const checkIn = (headers) => api(`/${macId}/presence`, { name: "Test Mac", ssid: "Home", lan: [computer],
  shares: [{ token: "share1", title: "Holiday" }], devices: [device] }, headers);
const waiting = () => page.$$eval("#waiting .row", (rows) =>
  rows.map((row) => [row.querySelector(".name").textContent, row.getAttribute("href")]));

// Taps "First" in the list; answers where the relay sent the browser on. The computer's address is not
// reachable from here, so the redirect is caught instead of followed.
async function openFirst() {
  let sentOn;
  await page.route(`${origin}/k/**`, async (route) => {
    const response = await route.fetch({ maxRedirects: 0 });
    sentOn = [response.status(), response.headers().location];
    await route.fulfill({ contentType: "text/plain", body: "the computer" });
  });
  await Promise.all([page.waitForURL(`${origin}/k/**`), page.click('#waiting .row:has-text("First")')]);
  await page.unroute(`${origin}/k/**`);
  return sentOn;
}

// Stands in for the push service: what a subscription made for the relay's key would serialise to.
const p256dh = crypto.createECDH("prime256v1").generateKeys("base64url");
async function standInSubscription() {
  await page.evaluate(([key]) => {
    PushManager.prototype.subscribe = async () => ({ toJSON: () => ({ endpoint: "https://push.example.org/send/1",
      expirationTime: null, keys: { p256dh: key, auth: "AAECAwQFBgcICQoLDA0ODw" } }) });
  }, [p256dh]);
}

before(async () => {
  relay = spawn(relayBinary, ["--port", "0", "--store", `sqlite:${dir}/r.sqlite`, "--trusted-proxy", "127.0.0.1",
    "--contact", "mailto:t@example.org"], { stdio: ["ignore", "pipe", "inherit"] });
  const { value: line = "" } = await readline.createInterface({ input: relay.stdout })[Symbol.asyncIterator]().next();
  assert.match(line, /listening on port \d+/, `no tesk-relay at ${relayBinary}, or it did not start`);
  origin = `http://127.0.0.1:${/port (\d+)/.exec(line)[1]}`;
  ({ macId, secret } = await (await fetch(`${origin}/api/macs`, { method: "POST", body: "{}" })).json());
  assert.equal((await checkIn({ "X-Forwarded-For": "203.0.113.5" })).status, 200);
  for (const title of ["First", "Second"]) {
    const sent = await api(`/${macId}/send`, { device, token: "share1", title });
    assert.deepEqual([sent.status, await sent.json()], [200, { sent: 0 }]);
  }
  launcher = `${origin}/d/${macId}/phonetoken/`;
  browser = await launchBrowser();
  context = await browser.newContext();
  context.setDefaultTimeout(8000);
  page = await context.newPage();
  page.on("pageerror", (error) => errors.push(error));
});
after(async () => {
  await browser?.close();
  relay?.kill("SIGTERM");
  fs.rmSync(dir, { recursive: true, force: true });
  assert.deepEqual(errors, [], "the pages threw");
});

describe("Web Push on the relay's pages", () => {
  test("the launcher elsewhere lists what waits, newest first, and keeps what it cannot open yet", EACH, async () => {
    await page.goto(launcher);
    assert.ok(await page.isVisible("#elsewhere"));
    const listed = await waiting();
    assert.deepEqual(listed.map(([title]) => title), ["Second", "First"]);
    for (const [, href] of listed) assert.match(href, new RegExp(`^/k/${macId}/share1\\?item=[a-z0-9]{16}$`));
    assert.notEqual(listed[0][1], listed[1][1]);
    assert.equal(await page.textContent("#waiting .meta"), "Sent just now");
    // Without permission the browser refuses at once, and the card says so instead of its button.
    await page.click("#notify");
    await waitText(page, "#notify-status", "Notifications are blocked for this page in the browser’s settings.");
    assert.equal(await page.isVisible("#notify"), false);

    assert.deepEqual(await openFirst(), [302, `${computer}/s/share1/`]);
    await page.goto(launcher);
    assert.deepEqual(await waiting(), listed, "away from the computer, opening it reached nothing");
  });

  test("with permission, the worker registers; the subscription goes to the relay when there is one", EACH, async () => {
    await context.grantPermissions(["notifications"], { origin });
    await page.goto(launcher);
    const registered = context.waitForEvent("serviceworker");
    await page.click("#notify");
    assert.equal((await registered).url(), `${origin}/push-worker.js`);
    await waitText(page, "#notify-status", "Notifications couldn’t be turned on here.");
    // The page keeps working, and the button stays for another try.
    assert.ok(await page.isVisible("#notify"));
    assert.ok(await page.isVisible("#waiting .row"));

    await standInSubscription();
    await page.click("#notify");
    await waitText(page, "#notify-status", "Notifications are on.");
    assert.equal(await page.isVisible("#notify"), false);
  });

  test("the follow page posts the subscription for this browser's follow", EACH, async () => {
    await page.goto(`${origin}/k/${macId}/share1/follow`);
    assert.equal(await page.getAttribute("html", "data-push-key"),
      await (await fetch(launcher)).text().then((html) => /data-push-key="([^"]+)"/.exec(html)[1]));
    await standInSubscription();
    await page.click("#notify");
    await waitText(page, "#notify-status", "Notifications are on.");
  });

  test("on the computer's network with something waiting, the launcher offers the way on", EACH, async () => {
    assert.equal((await checkIn({})).status, 200);
    await page.goto(launcher);
    assert.deepEqual((await waiting()).map(([title]) => title), ["Second", "First"]);
    assert.equal(await page.getAttribute("#open-tesk", "href"), `${computer}/d/phonetoken/?from=app`);
    assert.equal(await page.isVisible("#elsewhere"), false);
    await openFirst();
    await page.goto(launcher);
    assert.deepEqual((await waiting()).map(([title]) => title), ["Second"], "opened from here, it waits no more");
  });

  test("the worker shows a push and opens its address on the relay", EACH, async () => {
    const [worker] = context.serviceWorkers();
    const url = `/k/${macId}/share1?item=abcdefghjkmnpqrs`;
    const shown = await worker.evaluate(async (url) => {
      await self.showPush({ title: "Beach.jpg", body: "Sent from Test Mac", url });
      await self.showPush(self.payloadOf("Not JSON"));
      const all = await self.registration.getNotifications();
      return all.map((notification) => [notification.title, notification.body, self.targetOf(notification)]);
    }, url);
    assert.deepEqual(shown, [["Beach.jpg", "Sent from Test Mac", origin + url], ["Tesk", "Not JSON", `${origin}/`]]);

    // A subscription the push service replaced moves on the relay: then the old one is unknown there.
    const renewals = await worker.evaluate(async ([p256dh]) => {
      const old = { endpoint: "https://push.example.org/send/1" };
      const renewed = { endpoint: "https://push.example.org/send/2", keys: { p256dh, auth: "AAECAwQFBgcICQoLDA0ODw" } };
      return [await self.renewSubscription(old, renewed), await self.renewSubscription(old, renewed)];
    }, [p256dh]);
    assert.deepEqual(renewals, [200, 404]);
  });
});
