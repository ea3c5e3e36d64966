// What the browser tests share: where things are, how Chromium is started, and the e2e_server
// process (tests/e2e/e2e_server.cpp), which answers one line per command on its standard input.
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import readline from "node:readline";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";

export const repo = path.resolve(path.dirname(fileURLToPath(import.meta.url)), "../..");
const serverBinary = path.resolve(process.env.TESK_E2E_SERVER || path.join(repo, "build/tests/e2e/e2e_server"));
export const artifacts = path.resolve(process.env.TESK_E2E_ARTIFACTS || path.join(repo, "build/e2e-artifacts"));

export const CHROMIUM_FLAGS = [
  "--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
  "--disable-component-update", "--disable-sync", "--no-first-run",
];
export const PHONE = { width: 390, height: 844 };
export const IPHONE_UA = "Mozilla/5.0 (iPhone; CPU iPhone OS 17_5 like Mac OS X) AppleWebKit/605.1.15 " +
  "(KHTML, like Gecko) Version/17.5 Mobile/15E148 Safari/604.1";
// The page polls every 4 s; one poll plus slack.
export const ONE_POLL_MS = 6000;
// Per test: the slowest waits for one poll; a hang must not stall the run.
export const EACH = { timeout: 30000 };

// ---- the server process ----

export class Server {
  static async start() {
    assert.ok(fs.existsSync(serverBinary), `no e2e_server at ${serverBinary}; build the e2e_server target`);
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), "tesk-e2e-"));
    const server = new Server(dir);
    server.info = JSON.parse(await server.nextLine(10000));
    return server;
  }

  constructor(dir) {
    this.dir = dir;
    this.lines = [];
    this.waiters = [];
    this.exited = false;
    this.child = spawn(serverBinary, [path.join(dir, "library")], { stdio: ["pipe", "pipe", "inherit"] });
    this.child.on("exit", (code, signal) => {
      this.exited = true;
      for (const waiter of this.waiters.splice(0)) waiter.reject(new Error(`e2e_server exited (${code ?? signal})`));
    });
    this.child.on("error", (error) => {
      for (const waiter of this.waiters.splice(0)) waiter.reject(error);
    });
    readline.createInterface({ input: this.child.stdout }).on("line", (line) => {
      const waiter = this.waiters.shift();
      if (waiter) waiter.resolve(line);
      else this.lines.push(line);
    });
  }

  nextLine(timeout = 5000) {
    if (this.lines.length) return Promise.resolve(this.lines.shift());
    if (this.exited) return Promise.reject(new Error("e2e_server has exited"));
    return new Promise((resolve, reject) => {
      const waiter = { resolve, reject };
      const timer = setTimeout(() => {
        this.waiters.splice(this.waiters.indexOf(waiter), 1);
        reject(new Error(`e2e_server said nothing for ${timeout} ms`));
      }, timeout);
      waiter.resolve = (line) => (clearTimeout(timer), resolve(line));
      waiter.reject = (error) => (clearTimeout(timer), reject(error));
      this.waiters.push(waiter);
    });
  }

  async command(line) {
    this.child.stdin.write(line + "\n");
    return this.nextLine();
  }

  async stopShare(token) {
    assert.equal(await this.command("stop " + token), "ok");
  }

  async snapshot() {
    return JSON.parse(await this.command("snapshot"));
  }

  url(share, folder) {
    const token = this.info.shares[share];
    return `http://127.0.0.1:${this.info.port}/s/${token}/` + (folder ? `?folder=${encodeURIComponent(folder)}` : "");
  }

  // Where the store keeps a file item's copy.
  storedBytes(item) {
    return fs.readFileSync(path.join(this.info.root, "files", item.id, item.name));
  }

  async newCode() { return JSON.parse(await this.command("pair")).code; }
  async devices() { return JSON.parse(await this.command("devices")).devices; }
  async removeDevice(id) { assert.equal(await this.command("remove " + id), "ok"); }
  pairingURL(code) { return `http://127.0.0.1:${this.info.port}/p/${code}/`; }

  async close() {
    if (!this.exited) {
      const gone = new Promise((resolve) => this.child.once("exit", resolve));
      this.child.stdin.end("quit\n");
      const timer = setTimeout(() => this.child.kill("SIGKILL"), 3000);
      await gone;
      clearTimeout(timer);
    }
    fs.rmSync(this.dir, { recursive: true, force: true });
  }
}

/// Chromium as every browser test starts it.
export function launchBrowser() {
  return chromium.launch({ executablePath: "/usr/bin/chromium", args: CHROMIUM_FLAGS });
}
