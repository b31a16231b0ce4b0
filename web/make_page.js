// Makes the page one file that works opened from a file, with no network:
//   node web/make_page.js MODULE OUTPUT
// The style and the script are inlined and allowed by their hashes alone; the script carries the
// worker's source, the WebAssembly module (a single file with the binary inlined) and worker.js.
const crypto = require("crypto");
const esbuild = require("esbuild");
const fs = require("fs");
const path = require("path");

const [modulePath, outputPath] = process.argv.slice(2);
const source = (name) => path.join(__dirname, name);
const bundle = (entry, define) =>
  esbuild.buildSync({
    entryPoints: [source(entry)],
    bundle: true,
    minify: true,
    format: "iife",
    target: "es2022",
    define,
    write: false,
    logLevel: "warning",
  }).outputFiles[0].text;

const workerSource = fs.readFileSync(modulePath, "utf8") + bundle("worker.js");
const script = bundle("page.js", { WORKER_SOURCE: JSON.stringify(workerSource) });
const { code: style } = esbuild.transformSync(fs.readFileSync(source("style.css"), "utf8"), {
  loader: "css",
  minify: true,
});
// Text that would end the element early, or change how the parser reads it.
for (const [text, ending] of [
  [script, /<\/script|<!--/i],
  [style, /<\/style/i],
]) {
  if (ending.test(text)) throw new Error(`make_page: ${ending} in inlined text`);
}

const hash = (text) => `'sha256-${crypto.createHash("sha256").update(text).digest("base64")}'`;
const policy = [
  "default-src 'none'",
  `script-src ${hash(script)} 'wasm-unsafe-eval'`,
  `style-src ${hash(style)}`,
  "worker-src blob:",
  "base-uri 'none'",
  "form-action 'none'",
].join("; ");

// Replaced by functions, so that no "$" in the inlined text is read as a pattern.
const page = fs
  .readFileSync(source("index.html"), "utf8")
  .replace(/<meta charset="utf-8" \/>/, (charset) =>
    [charset, `<meta http-equiv="Content-Security-Policy" content="${policy}" />`].join("\n    "),
  )
  .replace('<link rel="stylesheet" href="style.css" />', () => `<style>${style}</style>`)
  .replace('<script src="page.js"></script>', () => `<script>${script}</script>`);
fs.writeFileSync(outputPath, page);
