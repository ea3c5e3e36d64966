// tesk-relay's Web Push delivery against a fake push service on loopback (push_service.mjs), which checks
// each message's VAPID signature and decrypts it as a browser would. No browser.
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import crypto from "node:crypto";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import readline from "node:readline";
import { after, before, describe, test } from "node:test";
import { fileURLToPath } from "node:url";
import { startPushService } from "./push_service.mjs";

const repo = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../..");
const relayBinary = path.resolve(process.env.TESK_RELAY || path.join(repo, "build/relay/tesk-relay"));
const EACH = { timeout: 20000 };
const sha256hex = (text) => crypto.createHash("sha256").update(text).digest("hex");
// Each case has its own phone, so one case's subscriptions never answer another's sends.
const phones = ["phonetoken", "gone410", "gone404", "busy429", "busy500", "twice"];
let dir, service, relay, base, macId, secret;

async function call(method, address, body, headers = {}) {
  const response = await fetch(base + address, { method, headers, body: body && JSON.stringify(body), redirect: "manual" });
  const text = await response.text();
  return { status: response.status, headers: response.headers, json: text.startsWith("{") ? JSON.parse(text) : text };
}
const asMac = (action, body) => call("POST", `/api/macs/${macId}/${action}`, body, { Authorization: `Bearer ${secret}` });
const send = (phone, title) => asMac("send", { device: sha256hex(phone), token: "share1", title });

// Subscribes `phone` to pushes at the service's /push/<name>.
async function subscribePhone(phone, name) {
  const answer = await call("POST", `/d/${macId}/${phone}/subscription`, service.newSubscription(name));
  assert.equal(answer.status, 201, JSON.stringify(answer.json));
}
const arrivals = (name) => service.received.filter((entry) => entry.path === name);

// tesk-relay on a store of its own in `dir`, trusting the fake service's certificate; answers the process
// and its base address.
async function startRelay(name, extra) {
  const child = spawn(relayBinary, ["--port", "0", "--store", `sqlite:${dir}/${name}.sqlite`, "--contact",
    "mailto:ops@example.org", ...extra], { env: { ...process.env, SSL_CERT_FILE: service.caFile },
    stdio: ["ignore", "pipe", "inherit"] });
  child.exited = new Promise((resolve) => child.on("exit", resolve));
  const lines = readline.createInterface({ input: child.stdout });
  const address = await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error("tesk-relay did not say where it listens")), 5000);
    child.on("exit", (code) => reject(new Error(`tesk-relay exited (${code}) before listening`)));
    lines.on("line", (line) => {
      const port = /^tesk-relay listening on port (\d+)$/.exec(line)?.[1];
      if (!port) return;
      clearTimeout(timer);
      resolve(`http://127.0.0.1:${port}`);
    });
  });
  return { child, address };
}

// Signs a computer up on the relay at `base` with the phones above and one share.
async function signUp() {
  ({ macId, secret } = (await call("POST", "/api/macs", {})).json);
  const presence = await asMac("presence", { name: "Test Mac", lan: ["http://192.168.1.20:47470"],
    shares: [{ token: "share1", title: "Holiday" }], devices: phones.map(sha256hex) });
  assert.equal(presence.status, 200);
}

before(async () => {
  service = await startPushService();
  dir = fs.mkdtempSync(path.join(os.tmpdir(), "tesk-e2e-push-"));
  ({ child: relay, address: base } = await startRelay("relay", ["--allow-private-push"]));
  await signUp();
});
after(async () => {
  relay?.kill();
  await relay?.exited;
  await service?.close();
  fs.rmSync(dir, { recursive: true, force: true });
});

describe("pushes from the relay", () => {
  test("a send reaches the phone, a new item in a share reaches its follower", EACH, async () => {
    await subscribePhone("phonetoken", "phone");
    const follow = await call("GET", `/k/${macId}/share1/follow`);
    const cookie = /^tesk_visitor=[^;]+/.exec(follow.headers.get("set-cookie"))?.[0];
    assert.ok(cookie, "the follow page sets the visitor cookie");
    const followed = await call("POST", `/k/${macId}/share1/subscription`, service.newSubscription("follower"),
      { Cookie: cookie });
    assert.equal(followed.status, 201);

    assert.deepEqual((await send("phonetoken", "Beach.jpg")).json, { sent: 1 });
    const [sent] = arrivals("phone");
    assert.equal(sent.error, undefined);
    assert.deepEqual({ ...sent.message, url: undefined }, { title: "Beach.jpg", body: "Sent from Test Mac", url: undefined });
    assert.match(sent.message.url, new RegExp(`^/k/${macId}/share1\\?item=[a-z0-9]{16}$`));
    assert.deepEqual(arrivals("follower"), [], "a send goes to the phone only");

    assert.equal((await asMac("notify", { token: "share1", title: "New in Holiday", body: "a.jpg and 2 more" })).status, 200);
    const news = await service.waitFor((entry) => entry.path === "follower");
    assert.deepEqual([news.error, news.message], [undefined,
      { title: "New in Holiday", body: "a.jpg and 2 more", url: `/k/${macId}/share1` }]);
    assert.equal(arrivals("phone").length, 1, "a share's news goes to its followers only");
  });

  test("a subscription its push service calls gone (410, 404) gets nothing more", EACH, async () => {
    for (const status of [410, 404]) {
      const phone = `gone${status}`;
      await subscribePhone(phone, phone);
      service.answerNext(phone, status);
      assert.deepEqual((await send(phone, "first")).json, { sent: 0 });
      assert.deepEqual((await send(phone, "second")).json, { sent: 0 });
      assert.deepEqual(arrivals(phone).map((entry) => entry.message.title), ["first"]);
    }
  });

  test("a busy push service (429, 500) gets the same message again after its Retry-After", EACH, async () => {
    for (const status of [429, 500]) {
      const phone = `busy${status}`;
      await subscribePhone(phone, phone);
      service.answerNext(phone, status, { "Retry-After": "1" });
      assert.deepEqual((await send(phone, `waited for ${status}`)).json, { sent: 0 });
      const first = arrivals(phone)[0];
      const again = await service.waitFor((entry) => entry.path === phone && entry.index > first.index, 4000);
      assert.deepEqual(again.message, first.message);
      assert.ok(again.at - first.at >= 900, `again after ${again.at - first.at} ms`);
    }
  });

  test("a relay left as it is does not post into its own network", EACH, async () => {
    const guarded = await startRelay("guarded", []);
    const [mainBase, mainMac, mainSecret] = [base, macId, secret];
    try {
      base = guarded.address;
      await signUp();
      await subscribePhone("phonetoken", "loopback");
      assert.deepEqual((await send("phonetoken", "Inside")).json, { sent: 0 });
      assert.deepEqual(arrivals("loopback"), [], "no connection reached the service");
    } finally {
      [base, macId, secret] = [mainBase, mainMac, mainSecret];
      guarded.child.kill();
      await guarded.child.exited;
    }
  });

  test("a phone with two subscriptions counts the one that took the message", EACH, async () => {
    await subscribePhone("twice", "twice-ok");
    await subscribePhone("twice", "twice-busy");
    service.answerNext("twice-busy", 500);
    assert.deepEqual((await send("twice", "Both")).json, { sent: 1 });
    assert.deepEqual(["twice-ok", "twice-busy"].map((name) => arrivals(name).map((entry) => entry.message.title)),
      [["Both"], ["Both"]]);
  });
});
