// The share page's script, run for real through page_scripts.mjs: node --test tests/e2e/share_page_unit.test.mjs
// share_page.e2e.test.mjs drives rendering, navigation and uploads in Chromium; these are the boundaries,
// timings and failures a real server cannot stage cheaply.
import assert from "node:assert/strict";
import { test } from "node:test";
import { openPage, pageScript, reply, settle } from "./page_scripts.mjs";

const NOW = Date.UTC(2025, 2, 1, 9, 30, 0);
const isoIn = (seconds) => new Date(NOW + seconds * 1000).toISOString();

// `answers` are fetch's replies in order; without one, fetch hangs until aborted.
function open({ answers = [], ...options } = {}) {
  const page = openPage(pageScript("receiver_page.js"), { ...options, route: () => answers.shift() });
  page.run(`Date.now = () => ${NOW};`);
  return page;
}
const payload = (overrides = {}) => ({ mac: "Studio", title: "Trip", folders: [], items: [], ...overrides });

test("formatting switches units at its thresholds and escapes the five markup characters", () => {
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
    ["esc", String, [[`<a href="x">Tom & 'Jerry'</a> ü`, "&lt;a href=&quot;x&quot;&gt;Tom &amp; &#39;Jerry&#39;&lt;/a&gt; ü"],
      ["&amp;", "&amp;amp;"]]],
  ]) {
    for (const [given, expected] of cases) assert.equal(page.run(name)(input(given)), expected, `${name}(${given})`);
  }
});

test("a follow link comes first; a link that is no web address gets no open button", async () => {
  const page = open({ answers: [reply(200, payload({ followURL: "https://relay.example/k/follow", items: [
    { id: "j", kind: "link", name: "trap", size: 0, created: isoIn(-1), content: "javascript:alert(1)" }] }))] });
  await settle();
  assert.ok(page.el.content.innerHTML.startsWith('<a class="card" href="https://relay.example/k/follow">'));
  assert.ok(!page.el.content.innerHTML.includes('href="javascript:'));
});

test("410 ends the page and its polling for good", async () => {
  const page = open({ answers: [reply(410)] });
  await settle();
  assert.match(page.main.innerHTML, /^<div class="notice"/);
  page.document.dispatch("visibilitychange");
  await page.advance(60000);
  assert.equal(page.requests.length, 1);
});

for (const [what, answer] of [["a network failure", new TypeError("Failed to fetch")],
  ["a document it cannot draw", reply(200, {})], ["no answer within 10 s", undefined]]) {
  test(`${what} shows the offline state, and the next answer restores the page`, async () => {
    const page = open({ answers: [answer, reply(200, payload())] });
    await page.advance(answer === undefined ? 9999 : 0);
    if (answer === undefined) assert.equal(page.el.dot.className, "", "gave up before 10 s");
    await page.advance(1);
    assert.equal(page.el.dot.className, "dot off");
    await page.advance(4000);
    assert.deepEqual([page.el.dot.className, page.el.mac.textContent], ["dot", "Studio"]);
  });
}

test("an answer older than the one on screen is dropped", async () => {
  let answerFirst;
  const page = open({ answers: [() => new Promise((resolve) => (answerFirst = resolve)), reply(200, payload({ title: "New" }))] });
  await page.run("load()");
  answerFirst(reply(200, payload({ title: "Old" })));
  await settle();
  assert.equal(page.el.title.textContent, "New");
});

test("polls every 4000 ms while visible and idle, and at once on becoming visible", async () => {
  const page = open({ answers: [reply(200, payload()), reply(200, payload())] });
  const after = async (ms) => (await page.advance(ms), page.requests.length);
  assert.deepEqual([await after(3999), await after(1)], [1, 2]);
  page.document.hidden = true;
  assert.equal(await after(4000), 2, "polled while hidden");
  page.document.hidden = false;
  page.document.dispatch("visibilitychange");
  assert.equal(await after(4000), 3, "polled while a load was still waiting");
});

test("uploads go one at a time to the query's folder; a failure stops none; one reload ends the batch", async () => {
  const page = open({ search: "?folder=Q", answers: [reply(200, payload({ folderID: "F9" }))] });
  await settle();
  page.el.picker.files = [{ name: "a", size: 2048 }, { name: "b", size: 5 }, { name: "c", size: 1 }];
  page.el.picker.value = "C:\\fakepath\\a";
  page.el.picker.dispatch("change");
  await settle();
  assert.equal(page.el.picker.value, "", "the picker must be cleared to take the same file again");
  assert.deepEqual(page.uploads.map((u) => u.url), ["upload?folder=Q"]);
  const status = () => page.el.uploads.children[0].querySelector(".status-line");
  page.uploads[0].upload.onprogress({ lengthComputable: true, loaded: 1, total: 3 });
  assert.equal(status().textContent, "Sending\u2026 33%");
  await page.uploads[0].respond(500);
  await page.uploads[1].fail();
  await page.uploads[2].respond(201);
  assert.deepEqual(page.el.uploads.children.map((r) => r.querySelector(".status-line").className),
    ["status-line ok", "status-line err", "status-line err"]);
  assert.equal(page.requests.length, 2, "one reload after the batch");
});
