// The phone's Home Screen launcher on tesk-relay, served over HTTPS by nginx (tls_relay.sh), in Chromium.
// The computer (e2e_server) runs in a network namespace at 10.231.76.2 and checks in from there; a phone
// in that namespace is on its network, one outside is elsewhere. Needs root; run through run.sh.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { after, before, describe, test } from "node:test";
import { artifacts, EACH, launchBrowser, repo, Server, waitText } from "./harness.mjs";

const relayBinary = path.resolve(process.env.TESK_RELAY || path.join(repo, "build/relay/tesk-relay"));
const script = path.join(repo, "tests/e2e/tls_relay.sh");
const dir = fs.mkdtempSync(path.join(os.tmpdir(), "tesk-e2e-relay-"));
let relay, server, computer, launcherPath, token;

// Runs a script in Node inside the namespace, trusting the test's certificate; answers its output.
const inNamespace = (source) => execFileSync("ip", ["netns", "exec", relay.ns, process.execPath, "--input-type=module",
  "-e", source], { env: { ...process.env, NODE_EXTRA_CA_CERTS: relay.ca }, encoding: "utf8" });

before(async () => {
  fs.mkdirSync(artifacts, { recursive: true });
  execFileSync("bash", [script, "start", dir, relayBinary], { stdio: "inherit" });
  relay = JSON.parse(fs.readFileSync(path.join(dir, "relay.json"), "utf8"));
  server = await Server.start({ netns: relay.ns });
  computer = `http://10.231.76.2:${server.info.port}`;
  const claim = await fetch(`${computer}/p/${await server.newCode()}/claim`, { method: "POST", body: '{"name":"Phone"}' });
  token = (await claim.json()).token;
  // The computer signs up and checks in through the proxy, as the app does.
  const base = `https://10.231.76.1:${relay.port}/api/macs`;
  const presence = { name: "Test Mac", ssid: "Home", lan: [computer], devices: [execFileSync("sha256sum",
    { input: token, encoding: "utf8" }).slice(0, 64)] };
  const macId = inNamespace(`const m = await (await fetch("${base}", { method: "POST", body: "{}" })).json();
    const r = await fetch("${base}/" + m.macId + "/presence", { method: "POST", body: ${JSON.stringify(JSON.stringify(presence))},
      headers: { Authorization: "Bearer " + m.secret } });
    if (r.status !== 200) throw new Error("check-in: " + r.status);
    process.stdout.write(m.macId);`);
  launcherPath = `/d/${macId}/${token}/`;
});
after(async () => {
  await server?.close();
  execFileSync("bash", [script, "stop", dir]);
  fs.rmSync(dir, { recursive: true, force: true });
});

// Opens the launcher in a Chromium that trusts the certificate; `wrapper` starts it in the namespace.
async function openLauncher(t, host, wrapper) {
  const browser = await launchBrowser({ executablePath: wrapper, args: [`--ignore-certificate-errors-spki-list=${relay.spki}`] });
  t.after(() => browser.close());
  const page = await browser.newPage();
  const seen = { console: [], fromRelay: [] };
  page.on("console", (message) => seen.console.push(`${message.text()} ${message.location().url}`));
  page.on("request", (request) => {
    if (request.frame().url().startsWith("https:") && !request.isNavigationRequest()) seen.fromRelay.push(request.url());
  });
  const response = await page.goto(`https://${host}:${relay.port}${launcherPath}`);
  return { page, seen, response };
}

describe("the launcher behind HTTPS", () => {
  test("a phone on the computer's network lands on its phone page, with no request across schemes", EACH, async (t) => {
    const wrapper = path.join(dir, "chromium-in-namespace");
    fs.writeFileSync(wrapper, `#!/bin/sh\nexec ip netns exec ${relay.ns} /usr/bin/chromium "$@"\n`, { mode: 0o755 });
    const { page, seen, response } = await openLauncher(t, "10.231.76.1", wrapper);
    assert.deepEqual([response.request().redirectedFrom()?.url(), page.url()],
      [`https://10.231.76.1:${relay.port}${launcherPath}`, `${computer}/d/${token}/?from=app`]);
    await waitText(page, "#title", "Send to Test Mac");
    assert.deepEqual(seen.fromRelay.filter((url) => url.startsWith("http:")), []);
    assert.deepEqual(seen.console.filter((text) => /mixed content/i.test(text)), []);
  });

  test("a phone elsewhere is told where the computer is and given its address", EACH, async (t) => {
    const { page, seen } = await openLauncher(t, "127.0.0.1");
    assert.equal(await page.evaluate(() => window.isSecureContext), true);
    await waitText(page, "#elsewhere .sub", "On the “Home” Wi-Fi");
    const direct = page.locator("#elsewhere a");
    assert.deepEqual([await direct.textContent(), await direct.getAttribute("href")],
      [`Open ${computer} anyway`, `${computer}/d/${token}/?from=app`]);
    await Promise.all([page.waitForEvent("load"), page.click("#retry")]);
    await waitText(page, "#elsewhere .sub", "On the “Home” Wi-Fi");
    await page.screenshot({ path: path.join(artifacts, "launcher-elsewhere.png") });
    assert.deepEqual(seen.fromRelay.filter((url) => !url.startsWith("https:")), []);
    assert.deepEqual(seen.console.filter((text) => !text.includes("favicon")), []);
  });
});
