// A page's script as the server sends it (the shared script, then on the next line the page's own), run
// in a node `vm` context with a small stand-in for the browser and a virtual clock.
import fs from "node:fs";
import vm from "node:vm";

const pages = new URL("../../server/pages/", import.meta.url);
const read = (name) => fs.readFileSync(new URL(name, pages), "utf8");

export function pageScript(name) {
  return read("shared_script.js") + "\n" + read(name);
}

export const settle = () => new Promise((resolve) => setImmediate(resolve));
export const reply = (status, body) => ({ status, ok: status >= 200 && status < 300, json: async () => body });

export class FakeElement {
  constructor(id = "", className = "") {
    Object.assign(this, { id, className, innerHTML: "", textContent: "", value: "", disabled: false, style: {} });
    Object.assign(this, { dataset: {}, attributes: {}, children: [], listeners: {}, parts: new Map() });
  }
  get classList() {
    const names = () => this.className.split(" ").filter(Boolean);
    const set = (list) => (this.className = list.join(" "));
    return {
      contains: (c) => names().includes(c),
      add: (c) => !names().includes(c) && set([...names(), c]),
      remove: (c) => set(names().filter((n) => n !== c)),
      toggle: (c, on) => (on ? this.classList.add(c) : this.classList.remove(c)),
    };
  }
  get firstChild() { return this.children[0] ?? null; }
  insertBefore(child, before) {
    const at = this.children.indexOf(before);
    this.children.splice(at < 0 ? this.children.length : at, 0, child);
  }
  // Markup set through innerHTML is not parsed; the parts a script looks up are stable stand-ins.
  querySelector(s) { return this.parts.get(s) ?? this.parts.set(s, new FakeElement()).get(s); }
  getAttribute(name) { return this.attributes[name] ?? null; }
  // Matches the "[data-…]" selectors a click handler asks for.
  closest(selector) { return selector.slice(1, -1) in this.attributes ? this : null; }
  replaceWith(node) { this.replacedBy = node; }
  click() { this.dispatch("click", { target: this }); }
  addEventListener(type, listener) { (this.listeners[type] ??= []).push(listener); }
  dispatch(type, event = {}) { return Promise.all((this.listeners[type] ?? []).map((l) => l(event))); }
}

// `ids` maps each element's id to its classes. `route(url, options)` answers each fetch: a reply, an Error
// to reject with, a function returning a promise, or undefined to hang until aborted. Timers run only when
// the test advances the clock.
export function openPage(source, ids, { attrs = {}, search = "", userAgent = "", maxTouchPoints = 0,
  standalone = false, clipboard, route = () => undefined } = {}) {
  const el = Object.fromEntries(Object.entries(ids).map(([id, c]) => [id, new FakeElement(id, c)]));
  const main = new FakeElement("main");
  const requests = [], uploads = [], replaced = [], timers = [], listeners = {};
  let now = 0;
  class FakeXHR {
    constructor() { Object.assign(this, { headers: {}, upload: {} }) && uploads.push(this); }
    open(method, url) { Object.assign(this, { method, url }); }
    setRequestHeader(name, value) { this.headers[name] = value; }
    send() {}
    respond(status) { this.status = status; this.onload(); }
  }
  const timer = (callback, ms, every) => timers.push({ at: now + ms, callback, every });
  const clear = (id) => { if (timers[id - 1]) timers[id - 1].cleared = true; };
  const location = { search, replace: (url) => replaced.push(url) };
  const document = {
    title: "Tesk",
    hidden: false,
    documentElement: { getAttribute: (name) => attrs[name] ?? null },
    getElementById: (id) => el[id] ?? null,
    querySelector: (selector) => (selector === "main" ? main : null),
    createElement: () => new FakeElement(),
    addEventListener: (type, listener) => (listeners[type] ??= []).push(listener),
  };
  const context = {
    document, location,
    navigator: { userAgent, maxTouchPoints, clipboard },
    matchMedia: (query) => ({ matches: standalone && query === "(display-mode: standalone)" }),
    history: { pushState: (_state, _title, url) => (location.search = url.startsWith("?") ? url : "") },
    scrollTo: () => {},
    addEventListener: (type, listener) => (listeners["window:" + type] ??= []).push(listener),
    fetch(url, options = {}) {
      requests.push({ url, options, at: now });
      const answer = route(url, options);
      if (typeof answer === "function") return answer();
      return new Promise((resolve, reject) => {
        options.signal?.addEventListener("abort", () => reject(new Error("aborted")));
        if (answer !== undefined) (answer instanceof Error ? reject : resolve)(answer);
      });
    },
    setTimeout: (callback, ms) => timer(callback, ms),
    setInterval: (callback, ms) => timer(callback, ms, ms),
    clearTimeout: clear,
    clearInterval: clear,
    AbortController, URLSearchParams, URL, XMLHttpRequest: FakeXHR,
  };
  context.window = context;
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
      if (due.every) due.at += due.every;
      else due.ran = true;
      due.callback();
    }
    now = end;
  }
  const fire = (type, event = {}) => (listeners[type] ?? []).forEach((listener) => listener(event));
  return { el, main, document, location, requests, uploads, replaced, timers, advance, fire,
    run: (code) => vm.runInContext(code, context) };
}
