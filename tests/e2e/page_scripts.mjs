// A page's script as the server sends it (the shared script, then on the next line the page's own), run
// in a node `vm` context with a small stand-in for the browser and a virtual clock.
import fs from "node:fs";
import vm from "node:vm";

const read = (name) => fs.readFileSync(new URL("../../server/pages/" + name, import.meta.url), "utf8");
export const pageScript = (name) => read("shared_script.js") + "\n" + read(name);
export const settle = () => new Promise((resolve) => setImmediate(resolve));
export const reply = (status, body) => ({ status, ok: status >= 200 && status < 300, json: async () => body });

export class FakeElement {
  constructor(attributes = {}, className = "") {
    Object.assign(this, { attributes, className, value: "", style: {}, children: [], listeners: {}, parts: {} });
  }
  get classList() {
    const names = () => this.className.split(" ").filter(Boolean);
    const toggle = (c, on) => (this.className = [...names().filter((n) => n !== c), ...(on ? [c] : [])].join(" "));
    return { contains: (c) => names().includes(c), add: (c) => toggle(c, true), remove: (c) => toggle(c, false), toggle };
  }
  get firstChild() { return this.children[0] ?? null; }
  insertBefore(child, before) { this.children.splice(before ? this.children.indexOf(before) : this.children.length, 0, child); }
  // Markup set through innerHTML is not parsed; the parts a script looks up are stable stand-ins.
  querySelector(selector) { return (this.parts[selector] ??= new FakeElement()); }
  replaceWith(node) { this.replacedBy = node; }
  addEventListener(type, listener) { (this.listeners[type] ??= []).push(listener); }
  dispatch(type, event = {}) { return Promise.all((this.listeners[type] ?? []).map((l) => l(event))); }
}

// Every id the script asks for exists, with its class from `classes`. `route(url, options)` answers each
// fetch: a reply, an Error to reject with, a function returning a promise, or undefined to hang until
// aborted. Timers run only when the test advances the clock.
export function openPage(source, { classes = {}, attrs = {}, search = "", userAgent = "", maxTouchPoints = 0,
  standalone = false, route = () => undefined } = {}) {
  const el = new Proxy({}, { get: (made, id) => (made[id] ??= new FakeElement({}, classes[id])) });
  const requests = [], uploads = [], replaced = [], timers = [];
  let now = 0;
  class FakeXHR {
    upload = {};
    constructor() { uploads.push(this); }
    open(method, url) { this.url = url; }
    setRequestHeader() {} send() {}
    respond(status) { this.status = status; this.onload(); return settle(); }
    fail() { this.onerror(); return settle(); }
  }
  const timer = (callback, ms, every) => timers.push({ at: now + ms, callback, every });
  const clear = (id) => timers[id - 1] && (timers[id - 1].cleared = true);
  // Its listeners are fired with document.dispatch; its "main" is a stand-in like any element's part.
  const document = Object.assign(new FakeElement(), { hidden: false, getElementById: (id) => el[id],
    documentElement: { getAttribute: (name) => attrs[name] ?? null }, createElement: () => new FakeElement() });
  const context = {
    document, location: { search, replace: (url) => replaced.push(url) },
    navigator: { userAgent, maxTouchPoints, standalone },
    fetch(url, options = {}) {
      requests.push({ url, options, at: now });
      const answer = route(url, options);
      return typeof answer === "function" ? answer() : new Promise((resolve, reject) => {
        options.signal?.addEventListener("abort", () => reject(new Error("aborted")));
        if (answer !== undefined) (answer instanceof Error ? reject : resolve)(answer);
      });
    },
    setTimeout: (callback, ms) => timer(callback, ms), setInterval: (callback, ms) => timer(callback, ms, ms),
    clearTimeout: clear, clearInterval: clear,
    AbortController, URLSearchParams, URL, XMLHttpRequest: FakeXHR,
  };
  context.window = Object.assign(context, { addEventListener: () => {} });
  vm.createContext(context);
  vm.runInContext(source, context);
  // Runs every timer due within `ms`, in time order, letting the script react after each.
  async function advance(ms) {
    const end = now + ms;
    for (;;) {
      await settle();
      const due = timers.filter((t) => !t.cleared && !t.ran && t.at <= end).sort((a, b) => a.at - b.at)[0];
      if (!due) break;
      now = due.at;
      due.every ? (due.at += due.every) : (due.ran = true);
      due.callback();
    }
    now = end;
  }
  const run = (code) => vm.runInContext(code, context);
  return { el, main: document.querySelector("main"), document, requests, uploads, replaced, advance, run };
}
