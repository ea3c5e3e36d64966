// The share page's script, run for real through page_scripts.mjs: node --test tests/e2e/share_page_unit.test.mjs
// share_page.e2e.test.mjs drives rendering, navigation and uploads in Chromium; these are the boundaries,
// timings and failures a real server cannot stage cheaply.
import assert from "node:assert/strict";
import { test } from "node:test";
import { EPOCH, THREE_FILES, openPage, reply, settle } from "./page_scripts.mjs";

const isoIn = (seconds) => new Date(EPOCH + seconds * 1000).toISOString();
const open = (options) => openPage("receiver_page.js", options);
const drawn = (more) => reply(200, { mac: "Studio", title: "Trip", folders: [], items: [], ...more });

// Escaping is staged in Chromium, with names and a note full of markup (share_page.e2e.test.mjs).
test("formatting switches units at its thresholds", () => {
  const page = open();
  for (const [name, input, cases] of [
    ["until", isoIn, [[3569, "link works for 59 more min"], [59, "link works for 1 more min"],
      [3570, "link works for 1 more h"], [84599, "link works for 23 more h"], [84600, "link works for 1 more day"],
      [129600, "link works for 2 more days"], [0, "link expired"]]],
    ["ago", (s) => isoIn(-s), [[59, "just now"], [-120, "just now"], [60, "1 min ago"], [90, "2 min ago"],
      [3599, "60 min ago"], [3600, "1 h ago"], [86399, "24 h ago"], [86400, "1 d ago"]]],
    ["size", Number, [[1023, "1023 B"], [1536, "2 KB"], [1048575, "1024 KB"], [1048576, "1.0 MB"], [1073741824, "1.00 GB"]]],
    ["kind", String, [["ARCHIVE.JPEG", "image"], ["a.b.mp4", "video"], ["memo.m4a", "audio"], ["x.jpg.zip", "doc"],
      ["jpg", "doc"]]],
  ]) {
    for (const [given, expected] of cases) assert.equal(page.run(name)(input(given)), expected, `${name}(${given})`);
  }
});

test("the newest answer is drawn: a follow link first, and no open button for a link that is no web address", async () => {
  let answerFirst;
  const page = open({ answers: [() => new Promise((resolve) => (answerFirst = resolve)), drawn({ title: "New",
    followURL: "https://k.example/", items: [{ id: "j", kind: "link", name: "trap", content: "javascript:x" }] })] });
  await page.run("load()");
  answerFirst(drawn({ title: "Old" }));
  await settle();
  assert.equal(page.el.title.textContent, "New");
  assert.match(page.el.content.innerHTML, /^<a class="card" href="https:\/\/k.example\/">(?!.*href="javascript:)/s);
});

test("polls every 4000 ms while visible and idle, at once on becoming visible, and never again after a 410", async () => {
  const page = open({ answers: [drawn(), drawn(), undefined, reply(410)] });
  const visible = (shown) => ((page.document.hidden = !shown), shown && page.document.dispatch("visibilitychange"));
  // [what happens, ms then run, requests made by then]; the third load hangs until its 10 s limit.
  for (const [what, step, ms, made] of [["first poll", null, 3999, 1], ["at 4000 ms", null, 1, 2],
    ["hidden", () => visible(false), 4000, 2], ["shown; polls wait for the hung load", () => visible(true), 9999, 3],
    ["the poll after it gave up gets 410", null, 2001, 4], ["nothing after 410", () => visible(true), 60000, 4]]) {
    step?.();
    await page.advance(ms);
    assert.equal(page.requests.length, made, what);
  }
});

for (const [what, answer] of [["a network failure", new TypeError("Failed to fetch")],
  ["a document it cannot draw", reply(200, {})], ["no answer within 10 s", undefined]]) {
  test(`${what} shows the offline state, and the next answer restores the page`, async () => {
    const page = open({ answers: [answer, drawn()] });
    await page.advance(answer === undefined ? 9999 : 0);
    if (answer === undefined) assert.equal(page.el.dot.className, "", "gave up before 10 s");
    await page.advance(1);
    assert.equal(page.el.dot.className, "dot off");
    await page.advance(4000);
    assert.deepEqual([page.el.dot.className, page.el.mac.textContent], ["dot", "Studio"]);
  });
}

test("uploads go one at a time to the query's folder; a failure stops none; one reload ends the batch", async () => {
  const page = open({ search: "?folder=Q", answers: [drawn({ folderID: "F9" })] });
  await settle();
  await page.pick(THREE_FILES);
  assert.equal(page.el.picker.value, "", "the picker must be cleared to take the same file again");
  assert.deepEqual(page.uploads.map((u) => u.url), ["upload?folder=Q"]);
  const status = (row) => row.querySelector(".status-line");
  page.uploads[0].upload.onprogress({ lengthComputable: true, loaded: 1024, total: 2048 });
  assert.equal(status(page.el.uploads.children[0]).textContent, "Sending\u2026 50%");
  for (const status of [500, 0]) await page.uploads.at(-1).respond(status);
  // A cut connection: the piece goes again a second later, the same upload from the same offset.
  assert.equal(status(page.el.uploads.children[0]).textContent, "Waiting for the computer\u2026 0%");
  await page.advance(1000);
  assert.deepEqual(page.uploads.slice(1).map((u) => [u.headers["X-Tesk-Upload"], u.headers["X-Tesk-Offset"], u.body]),
    [["07".repeat(12), "0", "b[0,5)"], ["07".repeat(12), "0", "b[0,5)"]]);
  for (const status of [201, 201]) await page.uploads.at(-1).respond(status);
  assert.deepEqual(page.el.uploads.children.map((r) => status(r).className),
    ["status-line ok", "status-line ok", "status-line err"]);
  assert.equal(page.requests.length, 2, "one reload after the batch");
});
