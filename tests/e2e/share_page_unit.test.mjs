// The share page's script, run for real through page_scripts.mjs: node --test tests/e2e/share_page_unit.test.mjs
import assert from "node:assert/strict";
import { describe, test } from "node:test";
import { FakeElement, openPage, pageScript, reply, settle } from "./page_scripts.mjs";

const SOURCE = pageScript("receiver_page.js");
const NOW = Date.UTC(2025, 2, 1, 9, 30, 0);
const isoIn = (seconds) => new Date(NOW + seconds * 1000).toISOString();
const IDS = { crumbs: "", title: "", sub: "", content: "", "uploads-label": "label hidden", uploads: "list hidden",
  send: "float hidden", "send-title": "", "send-text": "", pick: "", picker: "", mac: "", dot: "dot" };

// `answers` are fetch's replies in order; without one, fetch hangs until aborted.
function open({ answers = [], ...options } = {}) {
  const page = openPage(SOURCE, IDS, { ...options, route: () => answers.shift() });
  page.run(`Date.now = () => ${NOW};`);
  return page;
}
const payload = (overrides = {}) => ({ mac: "Studio", title: "Trip", inbox: false, canUpload: false,
  path: [{ id: "root", name: "Trip" }], folderID: "root", folders: [], items: [], ...overrides });
async function rendered(overrides, options = {}) {
  const page = open({ ...options, answers: [reply(200, payload(overrides))] });
  await settle();
  return page;
}
const pure = open();
const table = (name, cases, input = (x) => x) => {
  for (const [given, expected] of cases) assert.equal(pure.run(name)(input(given)), expected, String(given));
};

describe("formatting", () => {
  test("until reads the time left in whole minutes, hours or days", () => {
    table("until", [[3569, "link works for 59 more min"], [59, "link works for 1 more min"],
      [3570, "link works for 1 more h"], [84599, "link works for 23 more h"], [84600, "link works for 1 more day"],
      [129600, "link works for 2 more days"], [0, "link expired"], [-600, "link expired"]], isoIn);
    assert.equal(pure.run("until")(undefined), "until they stop it");
  });
  test("ago switches units at its thresholds", () => {
    table("ago", [[59, "just now"], [-120, "just now"], [60, "1 min ago"], [89, "1 min ago"], [90, "2 min ago"],
      [3599, "60 min ago"], [3600, "1 h ago"], [86399, "24 h ago"], [86400, "1 d ago"]], (s) => isoIn(-s));
  });
  test("esc escapes the five markup characters and nothing else", () => {
    table("esc", [[`<a href="x">Tom & 'Jerry'</a> ü`, "&lt;a href=&quot;x&quot;&gt;Tom &amp; &#39;Jerry&#39;&lt;/a&gt; ü"],
      ["&amp;", "&amp;amp;"], [42, "42"]]);
  });
  test("kind goes by the last extension, ignoring case", () => {
    table("kind", [["ARCHIVE.JPEG", "image"], ["a.b.mp4", "video"], ["memo.m4a", "audio"], ["photo.jpg.zip", "doc"],
      ["jpg", "doc"], ["trailing.", "doc"]]);
  });
  test("size switches units at powers of 1024", () => {
    table("size", [[1023, "1023 B"], [1536, "2 KB"], [1048575, "1024 KB"], [1048576, "1.0 MB"], [1073741824, "1.00 GB"]]);
  });
  test("deviceName reads the user agent in order", () => {
    const mac = "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/605.1.15 Version/17.4 Safari";
    for (const [userAgent, maxTouchPoints, expected] of [
      ["Mozilla/5.0 (iPhone; CPU iPhone OS 17_4 like Mac OS X) Mobile/15E148", 0, "iPhone"], [mac, 5, "iPad"],
      [mac, 1, "Mac"], ["Mozilla/5.0 (Linux; Android 14; Pixel 8) Chrome/124.0 Mobile", 5, "Android phone"],
      ["Mozilla/5.0 (X11; Linux x86_64) Gecko/20100101 Firefox/125.0", 0, "a browser"]]) {
      assert.equal(open({ userAgent, maxTouchPoints }).run("deviceName()"), expected, userAgent);
    }
  });
});

describe("render", () => {
  test("a nested folder: crumbs lead back, counts, and names never become markup", async () => {
    const page = await rendered({
      path: [{ id: "root", name: "Trip" }, { id: "d 1", name: "Day <1>" }, { id: "b", name: "Beach & Sea" }],
      folderID: "b",
      folders: [{ id: "x/1", name: "<img src=x onerror=alert(1)>", count: 1 }, { id: "z", name: "Empty", count: 0 }],
    });
    assert.equal(page.document.title, "Trip · Tesk");
    assert.equal(page.el.title.textContent, "Beach & Sea");
    assert.equal(page.el.sub.textContent, "2 items · until they stop it");
    const crumbs = page.el.crumbs.innerHTML;
    assert.match(crumbs, /^<a href="\.\/" data-nav>Trip<\/a><svg/, "the first crumb leads to ./ despite its id");
    assert.match(crumbs, /<a href="\?folder=d%201" data-nav>Day &lt;1&gt;<\/a>/);
    assert.match(crumbs, /<span>Beach &amp; Sea<\/span>$/);
    const content = page.el.content.innerHTML;
    assert.ok(!content.includes("<img src=x"), "a name became markup");
    assert.match(content, /href="\?folder=x%2F1" data-nav>/);
    assert.match(content, /&lt;img src=x onerror=alert\(1\)&gt;<\/div><div class="meta">1 item<\/div>/);
    assert.match(content, />Empty<\/div><div class="meta">0 items<\/div>/);
  });

  test("one crumb: no breadcrumbs, and the count and time left in the subtitle", async () => {
    const page = await rendered({ expires: isoIn(7200), items: [{ id: "n", kind: "file", name: "a", size: 1, created: isoIn(0) }] });
    assert.equal(page.el.crumbs.innerHTML, "");
    assert.equal(page.el.sub.textContent, "1 item · link works for 2 more h");
  });

  test("rows: image thumbnails, kind glyphs, size and age, escaped downloads, notes and links", async () => {
    const note = `Door <1234> & "hi"`;
    const page = await rendered({ items: [
      { id: "p 1", kind: "file", name: "ARCHIVE.JPEG", size: 2048, created: isoIn(-300) },
      { id: "v", kind: "file", name: "clip.mov", size: 3 * 1048576, created: isoIn(-7200) },
      { id: "d", kind: "file", name: `Q&A "draft".pdf`, size: 10, created: isoIn(-3 * 86400) },
      { id: "t", kind: "text", name: "Door", size: 30, created: isoIn(-120), content: note },
      { id: "l", kind: "link", name: "ex", size: 0, created: isoIn(-1), content: "https://example.com/a?b=1&c=2" },
      { id: "j", kind: "link", name: "trap", size: 0, created: isoIn(-1), content: "javascript:alert(1)" },
    ] });
    const content = page.el.content.innerHTML;
    assert.match(content, /<div class="tile"><img src="f\/p%201\?inline=1" alt="" loading="lazy"><\/div>/);
    assert.match(content, /<div class="meta">2 KB · 5 min ago<\/div>/);
    assert.ok(content.includes(`<div class="tile">${page.run("ICON").video}</div>`));
    assert.match(content, /<div class="meta">3\.0 MB · 2 h ago<\/div>/);
    assert.match(content, /href="f\/d" download aria-label="Download Q&amp;A &quot;draft&quot;\.pdf">/);
    const escaped = "Door &lt;1234&gt; &amp; &quot;hi&quot;";
    assert.ok(content.includes(`data-copy="${escaped}">`) && content.includes(`<div class="note">${escaped}</div>`));
    assert.match(content, /href="https:\/\/example\.com\/a\?b=1&amp;c=2" target="_blank" rel="noopener noreferrer"/);
    assert.ok(!content.includes('href="javascript:'), "only web addresses get an open button");
  });

  test("a follow link comes first; the send bar shows exactly when uploads are allowed", async () => {
    const page = await rendered({ followURL: "https://relay.example/k/follow", folders: [{ id: "f", name: "F", count: 2 }],
      canUpload: true, mac: "Ann's <Mac>" });
    assert.ok(page.el.content.innerHTML.startsWith('<a class="card" href="https://relay.example/k/follow">'));
    assert.ok(!page.el.send.classList.contains("hidden"));
    assert.equal(page.el["send-title"].innerHTML, "<b>Send to Ann&#39;s &lt;Mac&gt;</b>");
    assert.ok((await rendered({ canUpload: false })).el.send.classList.contains("hidden"));
  });

  test("the inbox is a drop zone with a pick button, and no send bar or crumbs", async () => {
    const page = await rendered({ inbox: true, canUpload: true, path: [] });
    assert.equal(page.el.crumbs.innerHTML, "");
    assert.match(page.el.content.innerHTML, /^<div class="drop">[^]*data-pick>/);
    assert.ok(page.el.send.classList.contains("hidden"));
  });
});

describe("load", () => {
  test("asks api for the folder in the query, without caching", () => {
    assert.deepEqual([open().requests[0].url, open().requests[0].options.cache], ["api", "no-store"]);
    assert.equal(open({ search: "?folder=a%20b%2Fc" }).requests[0].url, "api?folder=a%20b%2Fc");
  });

  test("410 ends the page and its polling for good", async () => {
    const page = open({ answers: [reply(410)] });
    await settle();
    assert.match(page.main.innerHTML, /^<div class="notice"/);
    page.fire("visibilitychange");
    await page.advance(60000);
    assert.equal(page.requests.length, 1);
  });

  for (const [what, answer] of [["a network failure", new TypeError("Failed to fetch")],
    ["a document it cannot draw", reply(200, {})], ["no answer within 10 s", undefined]]) {
    test(`${what} shows the offline state, and the next answer restores the page`, async () => {
      const page = open({ answers: [answer, reply(200, payload())] });
      if (answer === undefined) {
        await page.advance(9999);
        assert.equal(page.el.dot.className, "dot");
        await page.advance(1);
      } else await settle();
      assert.equal(page.el.dot.className, "dot off");
      assert.match(page.el.content.innerHTML, /^<div class="empty">/);
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
    await page.advance(3999);
    assert.equal(page.requests.length, 1);
    await page.advance(1);
    assert.equal(page.requests.length, 2);
    page.document.hidden = true;
    await page.advance(4000);
    assert.equal(page.requests.length, 2, "polled while hidden");
    page.document.hidden = false;
    page.fire("visibilitychange");
    await page.advance(4000);
    assert.equal(page.requests.length, 3, "polled while a load was still waiting");
  });

  test("folder links change the query through history and reload; back reloads too", async () => {
    const page = await rendered({});
    const link = Object.assign(new FakeElement(), { attributes: { "data-nav": "", href: "?folder=f%201" } });
    let prevented = false;
    page.fire("click", { target: link, button: 0, preventDefault: () => (prevented = true) });
    assert.deepEqual([prevented, page.location.search, page.requests.at(-1).url], [true, "?folder=f%201", "api?folder=f%201"]);
    page.fire("click", { target: link, button: 0, metaKey: true, preventDefault: () => assert.fail("new tab taken") });
    page.location.search = "?folder=g";
    page.fire("window:popstate");
    assert.equal(page.requests.at(-1).url, "api?folder=g");
    assert.equal(page.requests.length, 3);
  });

  test("copy writes the note to the clipboard, or says to select it when there is none", async () => {
    const written = [];
    for (const [clipboard, text] of [[{ writeText: async (t) => void written.push(t) }, "Copied"],
      [undefined, "Select the text to copy"]]) {
      const button = Object.assign(new FakeElement(), { attributes: { "data-copy": "" }, dataset: { copy: "a & b" } });
      open({ clipboard }).fire("click", { target: button, button: 0 });
      await settle();
      assert.equal(button.textContent, text);
    }
    assert.deepEqual(written, ["a & b"]);
  });
});

describe("uploads", () => {
  async function choose(page, files) {
    page.el.picker.files = files;
    page.el.picker.value = "C:\\fakepath\\" + files[0].name;
    page.el.picker.dispatch("change");
    await settle();
  }

  test("files go one after another to the listed folder, each with its own progress and result", async () => {
    const page = await rendered({ folderID: "F9", canUpload: true }, { userAgent: "(iPhone)" });
    await choose(page, [{ name: "a b&.jpg", size: 2048 }, { name: "c", size: 5 }, { name: "d", size: 1 }]);
    assert.equal(page.el.picker.value, "", "the picker must be cleared to take the same file again");
    assert.ok(!page.el["uploads-label"].classList.contains("hidden"));
    assert.equal(page.uploads.length, 1, "the second file started before the first ended");
    const [first] = page.uploads;
    assert.deepEqual([first.method, first.url], ["POST", "upload?folder=F9"]);
    assert.deepEqual({ ...first.headers }, { "X-Tesk-Name": "a%20b%26.jpg", "X-Tesk-Device": "iPhone" });
    const row = page.el.uploads.children[0];
    assert.ok(row.innerHTML.includes('<div class="name">a b&amp;.jpg</div>'));
    const [bar, status] = [row.querySelector(".bar-track > span"), row.querySelector(".status-line")];
    first.upload.onprogress({ lengthComputable: true, loaded: 1, total: 3 });
    assert.deepEqual([bar.style.width, status.textContent], ["33%", "Sending\u2026 33%"]);
    first.respond(201);
    await settle();
    assert.deepEqual([bar.style.width, status.className, status.textContent], ["100%", "status-line ok", "Sent · 2 KB"]);
    const second = page.el.uploads.children[0];
    assert.ok(second.innerHTML.includes(">c<"), "the newest row goes first");
    page.uploads[1].respond(500);
    await settle();
    page.uploads[2].onerror();
    await settle();
    const failed = [second, page.el.uploads.children[0]].map((r) => r.querySelector(".status-line").className);
    assert.deepEqual(failed, ["status-line err", "status-line err"], "a failure does not stop the rest");
    assert.equal(page.requests.length, 2, "one reload after the batch");
  });

  test("the query's folder wins; without any folder the upload goes to the share's top", async () => {
    for (const [search, folderID, url] of [["?folder=Q", "F9", "upload?folder=Q"], ["", undefined, "upload"]]) {
      const page = await rendered({ folderID }, { search });
      await choose(page, [{ name: "x", size: 1 }]);
      assert.equal(page.uploads[0].url, url);
    }
  });
});
