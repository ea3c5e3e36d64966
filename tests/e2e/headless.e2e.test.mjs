// The tesk executable itself, as a user starts it, over an index written by hand: a share link works
// in Chromium. Run through tests/e2e/run.sh (TESK_EXECUTABLE names the built tesk).
import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import readline from "node:readline";
import { test } from "node:test";
import { launchBrowser, repo } from "./harness.mjs";

const tesk = path.resolve(process.env.TESK_EXECUTABLE || path.join(repo, "build/ui/tesk"));

test("a share written into the index works from Chromium against tesk --headless", { timeout: 30000 }, async (t) => {
  assert.ok(fs.existsSync(tesk), `no tesk at ${tesk}`);
  // A library holding one stored file, one note and a share of the whole library.
  const dataHome = fs.mkdtempSync(path.join(os.tmpdir(), "tesk-headless-"));
  const root = path.join(dataHome, "Tesk"), fileID = "11111111-2222-4333-8444-555555555555";
  fs.mkdirSync(path.join(root, "files", fileID), { recursive: true });
  fs.writeFileSync(path.join(root, "files", fileID, "hello.txt"), "hello from the index\n");
  fs.writeFileSync(path.join(root, "library.json"), JSON.stringify({
    items: [{ id: fileID, kind: "file", name: "hello.txt", size: 21, created: 786000000 },
      { id: "66666666-7777-4888-9999-000000000000", kind: "text", name: "Pick up milk", size: 12, created: 786000001,
        content: "Pick up milk" }],
    shares: [{ token: "handwritten", target: { folder: {} }, created: 786000000, duration: "untilStopped", downloads: 0 }],
  }));
  const child = spawn(tesk, ["--headless", "--port", "0"], {
    env: { ...process.env, XDG_DATA_HOME: dataHome }, stdio: ["ignore", "pipe", "inherit"] });
  const browser = await launchBrowser();
  t.after(async () => {
    await browser.close();
    child.kill("SIGTERM");
    fs.rmSync(dataHome, { recursive: true, force: true });
  });
  const firstLine = await new Promise((resolve, reject) => {
    readline.createInterface({ input: child.stdout }).once("line", resolve);
    child.once("exit", (code) => reject(new Error(`tesk exited with ${code}`)));
  });
  const port = Number(firstLine.match(/:(\d+)$/)[1]);
  assert.ok(port > 0, firstLine);

  const page = await browser.newPage();
  await page.goto(`http://127.0.0.1:${port}/s/handwritten`);
  // The address without its slash is redirected to the page's own address.
  assert.equal(new URL(page.url()).pathname, "/s/handwritten/");
  await page.getByText("hello.txt").waitFor();
  assert.equal(await page.locator("#title").textContent(), "Library");
  assert.equal(await page.locator("#sub").textContent(), "2 items · until they stop it");
  await page.getByText("Pick up milk", { exact: true }).first().waitFor();

  const response = await page.request.get(`http://127.0.0.1:${port}/s/handwritten/f/${fileID}`);
  assert.equal(await response.text(), "hello from the index\n");
  // The download was counted and written back to the index.
  await new Promise((resolve) => setTimeout(resolve, 200));
  assert.equal(JSON.parse(fs.readFileSync(path.join(root, "library.json"), "utf8")).shares[0].downloads, 1);
});
