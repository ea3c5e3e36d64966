// A large upload from the share page that survives its connection being cut, in a real Chromium against
// the real server, through a proxy in this test that cuts the first connection partway through a piece.
import assert from "node:assert/strict";
import crypto from "node:crypto";
import fs from "node:fs";
import net from "node:net";
import path from "node:path";
import { describe, test } from "node:test";
import { browserForEachTest, waitText } from "./harness.mjs";

const open = browserForEachTest();
const MiB = 1024 * 1024;

// Forwards to `port`, counting what the browser sends; the connection that carries byte `cutAt` is cut there.
function cuttingProxy(port, cutAt) {
  const proxy = { sent: 0, cuts: 0 };
  proxy.server = net.createServer((client) => {
    const upstream = net.connect(port, "127.0.0.1");
    client.on("data", (chunk) => {
      proxy.sent += chunk.length;
      if (!proxy.cuts && proxy.sent >= cutAt) {
        proxy.cuts++;
        client.destroy();
        upstream.destroy();
        return;
      }
      upstream.write(chunk);
    });
    upstream.on("data", (chunk) => client.write(chunk));
    for (const [a, b] of [[client, upstream], [upstream, client]]) {
      a.on("error", () => b.destroy());
      a.on("close", () => b.destroy());
    }
  });
  return new Promise((resolve) => proxy.server.listen(0, "127.0.0.1", () => resolve(proxy)));
}

describe("uploads in pieces in Chromium", () => {
  test("a 200 MiB file whose connection is cut partway arrives whole, sent about once", { timeout: 120000 }, async (t) => {
    const { server, page } = await open(t);
    const proxy = await cuttingProxy(server.info.port, 90 * MiB);
    t.after(() => proxy.server.close());
    const file = path.join(server.dir, "holiday.mov");
    const bytes = crypto.randomBytes(200 * MiB);
    fs.writeFileSync(file, bytes);

    await page.goto(`http://127.0.0.1:${proxy.server.address().port}/s/${server.info.shares.inbox}/`);
    await page.setInputFiles("#picker", file);
    await waitText(page, "#uploads .status-line", "Sent · 200.0 MB", 90000);

    const item = (await server.snapshot()).items.find((i) => i.name === "holiday.mov");
    const digest = (data) => crypto.createHash("sha256").update(data).digest("hex");
    assert.equal(digest(server.storedBytes(item)), digest(bytes));
    assert.equal(proxy.cuts, 1);
    assert.ok(proxy.sent < 1.5 * bytes.length, `${proxy.sent} bytes sent for ${bytes.length}`);
    t.diagnostic(`${(proxy.sent / bytes.length).toFixed(3)} of the file went over the wire`);
  });
});
