// Runs the WebAssembly build the way the native program is run, for the end-to-end tests:
//   node tests/web/wasm_cli.js build-wasm/lyric2sysex.js ARGS...
// The files that ARGS name, and those in the directories they name, are copied into the module's
// in-memory file system at the same paths; the files the run created or changed are copied back.
const fs = require("fs");
const path = require("path");
const runLyric2sysex = require("../../web/program.js");

const [modulePath, ...args] = process.argv.slice(2);
const named = args.map((arg) => path.resolve(arg));
const before = new Map();
// A path's files: itself, or the entries of a directory (hidden ones are the program's own).
const filesOf = (name, isDirectory, list) =>
  isDirectory
    ? list(name)
        .filter((entry) => entry[0] !== ".")
        .map((entry) => path.join(name, entry))
    : [name];

function copyIn(FS) {
  FS.mkdirTree(process.cwd());
  FS.chdir(process.cwd());
  for (const name of named.filter((name) => fs.existsSync(name))) {
    const isDirectory = fs.statSync(name).isDirectory();
    FS.mkdirTree(isDirectory ? name : path.dirname(name));
    for (const file of filesOf(name, isDirectory, fs.readdirSync)) {
      if (fs.statSync(file).isFile()) before.set(file, fs.readFileSync(file));
      if (before.has(file)) FS.writeFile(file, before.get(file));
    }
  }
}

function copyBack(FS) {
  for (const name of named.filter((name) => FS.analyzePath(name).exists)) {
    for (const file of filesOf(name, FS.isDir(FS.stat(name).mode), FS.readdir)) {
      const bytes = FS.isFile(FS.stat(file).mode) && Buffer.from(FS.readFile(file));
      if (bytes && !(before.has(file) && bytes.equals(before.get(file))))
        fs.writeFileSync(file, bytes);
    }
  }
}

runLyric2sysex(require(path.resolve(modulePath)), args, copyIn).then(({ status, stdout, FS }) => {
  copyBack(FS);
  process.stdout.write(Buffer.concat(stdout));
  process.exitCode = status;
});
