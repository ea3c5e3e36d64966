// A page's script as the server sends it: the shared script, then on the next line the page's own.
import fs from "node:fs";

const pages = new URL("../../server/pages/", import.meta.url);
const read = (name) => fs.readFileSync(new URL(name, pages), "utf8");

export function pageScript(name) {
  return read("shared_script.js") + "\n" + read(name);
}
