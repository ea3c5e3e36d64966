// What the browser tests share: where things are, how Chromium is started, and the e2e_server
// process (tests/e2e/e2e_server.cpp), which answers one line per command on its standard input.
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import readline from "node:readline";
import { after, before } from "node:test";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";

export const repo = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../..");
const serverBinary = path.resolve(process.env.TESK_E2E_SERVER || path.join(repo, "build/tests/e2e/e2e_server"));
export const artifacts = path.resolve(process.env.TESK_E2E_ARTIFACTS || path.join(repo, "build/e2e-artifacts"));

export const IPHONE_UA = "Mozilla/5.0 (iPhone; CPU iPhone OS 17_5 like Mac OS X) AppleWebKit/605.1.15 " +
  "(KHTML, like Gecko) Version/17.5 Mobile/15E148 Safari/604.1";
// Per test: the slowest waits for one poll; a hang must not stall the run.
export const EACH = { timeout: 30000 };

export class Server {
  // With `netns`, the server runs in that network namespace.
  static async start({ netns } = {}) {
    assert.ok(fs.existsSync(serverBinary), `no e2e_server at ${serverBinary}; build the e2e_server target`);
    const server = new Server(fs.mkdtempSync(path.join(os.tmpdir(), "tesk-e2e-")), netns);
    server.info = JSON.parse(await server.nextLine(10000));
    return server;
  }

  constructor(dir, netns) {
    this.dir = dir;
    const command = [serverBinary, path.join(dir, "library")];
    if (netns) command.unshift("ip", "netns", "exec", netns);
    this.child = spawn(command[0], command.slice(1), { stdio: ["pipe", "pipe", "inherit"] });
    this.child.stdin.on("error", () => {}); // a server that died is reported by the next read
    this.exited = new Promise((resolve) => this.child.on("exit", resolve));
    this.lines = readline.createInterface({ input: this.child.stdout })[Symbol.asyncIterator]();
  }

  async nextLine(timeout = 5000) {
    let timer;
    const line = await Promise.race([this.lines.next(), new Promise((_, reject) => (timer = setTimeout(
      () => reject(new Error(`e2e_server said nothing for ${timeout} ms`)), timeout)))]).finally(() => clearTimeout(timer));
    if (line.done) throw new Error("e2e_server has exited");
    return line.value;
  }

  async command(line) {
    this.child.stdin.write(line + "\n");
    return this.nextLine();
  }

  async stopShare(token) { assert.equal(await this.command("stop " + token), "ok"); }
  async snapshot() { return JSON.parse(await this.command("snapshot")); }
  async newCode() { return JSON.parse(await this.command("pair")).code; }
  async devices() { return (await this.snapshot()).devices; }
  async removeDevice(id) { assert.equal(await this.command("remove " + id), "ok"); }
  pairingURL(code) { return `http://127.0.0.1:${this.info.port}/p/${code}/`; }
  url(share, folder) {
    return `http://127.0.0.1:${this.info.port}/s/${this.info.shares[share]}/${folder ? `?folder=${encodeURIComponent(folder)}` : ""}`;
  }
  // Where the store keeps a file item's copy.
  storedBytes(item) { return fs.readFileSync(path.join(this.info.root, "files", item.id, item.name)); }

  async close() {
    const timer = setTimeout(() => this.child.kill("SIGKILL"), 3000);
    if (this.child.exitCode === null) this.child.stdin.end("quit\n");
    await this.exited;
    clearTimeout(timer);
    fs.rmSync(this.dir, { recursive: true, force: true });
  }
}

/// Chromium as every browser test starts it; `executablePath` and `args` for one started otherwise.
export function launchBrowser({ executablePath = "/usr/bin/chromium", args = [] } = {}) {
  return chromium.launch({ executablePath, args: ["--headless", "--no-sandbox", "--disable-gpu",
    "--disable-background-networking", "--disable-component-update", "--disable-sync", "--no-first-run", ...args] });
}

/// One Chromium for the test file. The open(t) it answers gives a test a fresh server and a fresh
/// phone-sized context, torn down when the test ends, pass or fail; the page must not throw meanwhile.
/// With `at`, the page first goes to the address it answers for the server.
export function browserForEachTest() {
  let browser;
  before(async () => { fs.mkdirSync(artifacts, { recursive: true }); browser = await launchBrowser(); });
  after(() => browser?.close());
  return async (t, { userAgent, at } = {}) => {
    const server = await Server.start();
    t.after(() => server.close());
    const context = await browser.newContext({ viewport: { width: 390, height: 844 }, userAgent, acceptDownloads: true });
    t.after(() => context.close());
    // Failures should be quick and say what was awaited, well inside the whole run's minute.
    context.setDefaultTimeout(8000);
    const page = await context.newPage();
    const errors = [];
    page.on("pageerror", (error) => errors.push(error));
    t.after(() => assert.deepEqual(errors, [], "the page threw"));
    if (at) await page.goto(await at(server));
    return { server, context, page };
  };
}

// Waits until the element's text is exactly `expected`; on timeout fails with what was there instead.
export async function waitText(page, selector, expected, timeout = 5000) {
  try {
    await page.waitForFunction(([s, e]) => document.querySelector(s)?.textContent === e, [selector, expected],
      { timeout });
  } catch (error) {
    const actual = await page.evaluate((s) => document.querySelector(s)?.textContent ?? null, selector);
    assert.equal(actual, expected, `text of ${selector} after ${timeout} ms`);
    throw error;
  }
}
