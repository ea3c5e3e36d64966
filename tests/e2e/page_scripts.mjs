// A page's script as the server sends it (the shared script, then on the next line the page's own), run
// in a node `vm` context with a small stand-in for the browser and a virtual clock.
import fs from "node:fs";
import vm from "node:vm";

const read = (name) => fs.readFileSync(new URL("../../server/pages/" + name, import.meta.url), "utf8");
export const settle = () => new Promise((resolve) => setImmediate(resolve));
export const reply = (status, body) => ({ status, ok: status >= 200 && status < 300, json: async () => body });
export const EPOCH = Date.UTC(2025, 2, 1, 9, 30, 0);  // the page's Date.now() before the clock moves
export const THREE_FILES = [{ name: "a", size: 2048 }, { name: "b", size: 5 }, { name: "c", size: 1 }]
  .map((file) => ({ ...file, slice: (start, end) => `${file.name}[${start},${end})` }));

// Only what the pages call. Markup set through innerHTML is not parsed; the parts a script looks up are
// stable stand-ins, and rows always go on top as the scripts put them.
const element = (className = "") => ({
  className, style: {}, children: [], listeners: {}, parts: {}, firstChild: null,
  get classList() {
    const toggle = (c, on) =>
      (this.className = [...this.className.split(" ").filter((n) => n && n !== c), ...(on ? [c] : [])].join(" "));
    return { add: (c) => toggle(c, true), remove: (c) => toggle(c, false), toggle };
  },
  insertBefore(child) { this.children.unshift(child); },
  querySelector(selector) { return (this.parts[selector] ??= element()); },
  replaceWith(node) { this.replacedBy = node; },
  addEventListener(type, listener) { (this.listeners[type] ??= []).push(listener); },
  removeEventListener(type, listener) { this.listeners[type] = (this.listeners[type] ?? []).filter((l) => l !== listener); },
  // Resolves once the listeners are done and what they started without awaiting has had its turn.
  dispatch(type, event = {}) { return Promise.all((this.listeners[type] ?? []).map((l) => l(event))).then(settle); },
});

// Every id the script asks for exists, with its class from `classes`. `route(url, options)` answers each
// fetch (by default the next of `answers`): a reply, an Error to reject with, a function returning a
// promise, or undefined to hang until aborted. Timers run only when the test advances the clock.
export function openPage(name, { classes = {}, attrs = {}, search = "", navigator = {}, answers = [],
  route = () => answers.shift() } = {}) {
  const el = new Proxy({}, { get: (made, id) => (made[id] ??= element(classes[id])) });
  const requests = [], uploads = [], replaced = [], timers = [];
  let now = 0;
  // An upload stays open until the test calls respond(status); status 0 is a network failure, as in browsers.
  function FakeXHR() {
    uploads.push(Object.assign(this, { upload: {}, headers: {}, open: (method, url) => (this.url = url),
      setRequestHeader: (name, value) => (this.headers[name] = value), send: (body) => (this.body = body),
      respond: (status) => ((this.status = status), status ? this.onload() : this.onerror(), settle()) }));
  }
  const timer = (callback, ms, every) => timers.push({ at: now + ms, callback, every });
  const clear = (id) => timers[id - 1] && (timers[id - 1].cleared = true);
  // Its listeners are fired with document.dispatch; its "main" is a stand-in like any element's part.
  const document = Object.assign(element(), { hidden: false, getElementById: (id) => el[id],
    documentElement: { getAttribute: (attr) => attrs[attr] ?? null }, createElement: () => element() });
  const context = vm.createContext({
    document, navigator, location: { search, replace: (url) => replaced.push(url) },
    fetch(url, options = {}) {
      requests.push({ url, options });
      const answer = route(url, options);
      return typeof answer === "function" ? answer() : new Promise((resolve, reject) => {
        options.signal?.addEventListener("abort", () => reject(new Error("aborted")));
        if (answer !== undefined) (answer instanceof Error ? reject : resolve)(answer);
      });
    },
    setTimeout: (callback, ms) => timer(callback, ms), setInterval: (callback, ms) => timer(callback, ms, ms),
    clearTimeout: clear, clearInterval: clear,
    AbortController, URLSearchParams, URL, XMLHttpRequest: FakeXHR, crypto: { getRandomValues: (a) => a.fill(7) }, addEventListener() {}, get window() { return context; },
  });
  const run = (code) => vm.runInContext(code, context);
  run("Date").now = () => EPOCH + now;
  run(read("shared_script.js") + "\n" + read(name));
  // Runs every timer due within `ms`, in time order, letting the script react after each.
  async function advance(ms) {
    const end = now + ms;
    const next = () => timers.filter((t) => !t.cleared && !t.ran && t.at <= end).sort((a, b) => a.at - b.at)[0];
    for (let due; (await settle(), (due = next())); due.callback()) {
      now = due.at;
      due.every ? (due.at += due.every) : (due.ran = true);
    }
    now = end;
  }
  // Chooses the files in the page's picker as the file dialog would, a fake path and all; resolves once the
  // first is on its way.
  const pick = (files) => ((el.picker.files = files), (el.picker.value = "C:\\fakepath\\" + files[0].name),
    el.picker.dispatch("change"), settle());
  return { el, main: document.querySelector("main"), document, requests, uploads, replaced, advance, run, pick };
}
