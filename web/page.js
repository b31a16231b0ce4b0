// The page: every chosen or dropped file is converted here, by lyric2sysex itself compiled to
// WebAssembly (the global Lyric2sysex of lyric2sysex.js). Nothing leaves the computer.
import { zipSync } from "fflate";
import runLyric2sysex from "./program.js";

const COMMANDS = ["ADD_UP", "ADD_LO", "DEL_UL", "DEL_UP", "DEL_LO"];
// A long song's display is cut here, so that the page stays quick; the trace holds everything.
const SHOWN_COMMANDS = 1000;
const INPUT = "input.mid";
const OUTPUT = "output.mid";
const ENCODINGS = [
  ["utf-8", "UTF-8"],
  ["shift_jis", "Shift-JIS"],
  ["latin1", "Latin-1"],
];

const chooser = document.getElementById("files");
const dropZone = document.getElementById("drop");
const statusLine = document.getElementById("status");
const all = document.getElementById("all");
const zipLink = document.getElementById("zip");
const results = document.getElementById("results");
let objectUrls = [];
let converted = [];

function element(tag, properties, ...children) {
  const node = Object.assign(document.createElement(tag), properties);
  node.append(...children);
  return node;
}

const counted = (count, word) => `${count} ${word}${count === 1 ? "" : "s"}`;

function run(args, bytes) {
  return runLyric2sysex(Lyric2sysex, args, (FS) => FS.writeFile(INPUT, bytes));
}

function joined(blocks) {
  const whole = new Uint8Array(blocks.reduce((sum, block) => sum + block.length, 0));
  let at = 0;
  for (const block of blocks) {
    whole.set(block, at);
    at += block.length;
  }
  return whole;
}

function split(bytes, separator) {
  const parts = [];
  let start = 0;
  for (let at; (at = bytes.indexOf(separator, start)) >= 0; start = at + 1) {
    parts.push(bytes.subarray(start, at));
  }
  parts.push(bytes.subarray(start));
  return parts;
}

const lines = (bytes) => split(bytes, 10).slice(0, -1);
const ascii = (bytes) => String.fromCharCode(...bytes);

// A failed run ends with its message, then ERR; both come in the last block or the two last.
function failure(stdout) {
  const last = lines(joined(stdout.slice(-2)));
  return last.length > 1 ? ascii(last[last.length - 2]) : "the converter stopped";
}

// The text of an add command as --list writes it: \\ and \xNN stand for bytes.
function unescaped(field) {
  const bytes = [];
  for (let at = 0; at < field.length; at++) {
    if (field[at] !== 92) {
      bytes.push(field[at]);
    } else if (field[at + 1] === 92) {
      bytes.push(92);
      at += 1;
    } else {
      bytes.push(parseInt(ascii(field.subarray(at + 2, at + 4)), 16));
      at += 3;
    }
  }
  return Uint8Array.from(bytes);
}

// --list: TRACK, TICKS, COMMAND and for an add command its TEXT, separated by tabs.
function lyricCommands(stdout) {
  return lines(joined(stdout)).map((line) => {
    const fields = split(line, 9);
    return {
      track: Number(ascii(fields[0])),
      ticks: Number(ascii(fields[1])),
      command: ascii(fields[2]),
      text: fields.length > 3 ? unescaped(fields[3]) : null,
    };
  });
}

// The first of the encodings in which every text is valid; Latin-1 accepts any byte.
function encodingOf(texts) {
  for (const [label, name] of ENCODINGS) {
    const decoder = new TextDecoder(label, { fatal: true });
    try {
      texts.forEach((text) => decoder.decode(text));
      return { decoder, name };
    } catch {
      // not this one
    }
  }
}

// Control characters shown as their pictures, so that they stay visible in a line.
const visible = (text) =>
  text.replace(/[\x00-\x1f\x7f]/g, (c) =>
    c === "\x7f" ? "\u2421" : String.fromCharCode(0x2400 + c.charCodeAt(0)),
  );

// The lines the instrument shows after each command. The tracks of a format 2 file are songs
// of their own; in the others all tracks play together.
function lyricDisplay(commands, format, decoder) {
  const ordered = format === 2 ? commands : [...commands].sort((a, b) => a.ticks - b.ticks);
  let upper = "";
  let lower = "";
  return ordered.slice(0, SHOWN_COMMANDS).map((command) => {
    const text = command.text && visible(decoder.decode(command.text));
    if (command.command === "ADD_UP") upper = text;
    if (command.command === "ADD_LO") lower = text;
    if (command.command === "DEL_UL" || command.command === "DEL_UP") upper = "";
    if (command.command === "DEL_UL" || command.command === "DEL_LO") lower = "";
    return { ...command, upper, lower };
  });
}

function size(bytes) {
  const units = ["bytes", "KB", "MB", "GB"];
  let unit = 0;
  for (; bytes >= 1000 && unit < units.length - 1; unit++) bytes /= 1000;
  return `${unit ? bytes.toFixed(1) : bytes} ${units[unit]}`;
}

function download(blob, name, text, className) {
  const url = URL.createObjectURL(blob);
  objectUrls.push(url);
  return element(
    "li",
    {},
    element("a", { href: url, download: name, textContent: text, className }),
    ` (${name}, ${size(blob.size)})`,
  );
}

function renamed(name, suffix, extension) {
  const dot = name.lastIndexOf(".");
  return dot > 0 ? name.slice(0, dot) + suffix + (extension ?? name.slice(dot)) : name + suffix;
}

function lyricTable(commands, header, id) {
  const format = (header[8] << 8) | header[9];
  const division = (header[12] << 8) | header[13];
  const perBeat = division > 0 && division < 0x8000;
  const { decoder, name } = encodingOf(commands.filter((c) => c.text).map((c) => c.text));
  const cut =
    commands.length > SHOWN_COMMANDS ? `, the first ${SHOWN_COMMANDS} of ${commands.length}` : "";
  const beats = perBeat
    ? `a beat is ${division} ticks`
    : "no beats: the file counts time in SMPTE frames";
  const note = `The lines shown after each command${cut}. Text read as ${name}; ${beats}.`;
  const heads = ["Track", "Ticks", "Beats", "Command", "Upper line", "Lower line"];
  const rows = lyricDisplay(commands, format, decoder).map((row) =>
    element(
      "tr",
      {},
      element("td", { className: "number", textContent: row.track }),
      element("td", { className: "number", textContent: row.ticks }),
      element("td", {
        className: "number",
        textContent: perBeat ? Number((row.ticks / division).toFixed(3)) : "",
      }),
      element("td", { className: "command", textContent: row.command }),
      element("td", { textContent: row.upper }),
      element("td", { textContent: row.lower }),
    ),
  );
  const table = element(
    "table",
    { className: "lyrics" },
    element(
      "thead",
      {},
      element("tr", {}, ...heads.map((head) => element("th", { scope: "col", textContent: head }))),
    ),
    element("tbody", {}, ...rows),
  );
  table.setAttribute("aria-labelledby", id);
  // A narrow screen scrolls the table alone, by keyboard too.
  const region = element("div", { className: "scroll", tabIndex: 0 }, table);
  region.setAttribute("role", "region");
  region.setAttribute("aria-labelledby", id);
  return [element("p", { className: "note", id, textContent: note }), region];
}

// Converts one file and shows its result; true when it was converted.
async function convert(file, index) {
  const bytes = new Uint8Array(await file.arrayBuffer());
  const started = performance.now();
  const list = await run(["--list", INPUT], bytes);
  const conversion = await run([INPUT, OUTPUT], bytes);
  const output =
    list.status === 0 && conversion.status === 0 ? conversion.FS.readFile(OUTPUT) : null;
  const milliseconds = Math.round(performance.now() - started);

  const section = element(
    "section",
    { className: "result" },
    element("h2", { id: `file-${index}`, textContent: file.name }),
  );
  section.setAttribute("aria-labelledby", `file-${index}`);
  const downloads = element("ul");
  const trace = new Blob(conversion.stdout, { type: "text/plain" });
  if (output === null) {
    const message = failure(list.status !== 0 ? list.stdout : conversion.stdout);
    section.append(
      element("p", { className: "error", textContent: `Not converted: ${message}.` }),
      downloads,
    );
  } else {
    const name = renamed(file.name, "-sysex");
    converted.push({ name, bytes: output });
    const commands = lyricCommands(list.stdout);
    const counts = COMMANDS.map(
      (kind) => `${kind} ${commands.filter((c) => c.command === kind).length}`,
    );
    section.append(
      element("p", {
        className: "summary",
        textContent: `Converted in ${milliseconds} ms: ${counted(commands.length, "lyric command")} (${counts.join(", ")}).`,
      }),
      downloads,
    );
    downloads.append(
      download(new Blob([output], { type: "audio/midi" }), name, `Download ${name}`, "output"),
    );
    section.append(
      ...(commands.length
        ? lyricTable(commands, bytes, `lyrics-${index}`)
        : [
            element("p", {
              textContent: "No lyric commands: the converted file is a copy of the input.",
            }),
          ]),
    );
  }
  downloads.append(
    download(trace, renamed(file.name, "-trace", ".txt"), "Download the trace", "trace"),
  );
  results.append(section);
  return output !== null;
}

async function convertAll(fileList) {
  const files = [...fileList];
  if (files.length === 0) return;
  objectUrls.forEach((url) => URL.revokeObjectURL(url));
  objectUrls = [];
  converted = [];
  results.replaceChildren();
  all.hidden = true;
  zipLink.href = "#";
  statusLine.textContent = `Converting ${counted(files.length, "file")}…`;
  let failed = 0;
  for (const [index, file] of files.entries()) {
    // Lets the page show each result before the next file starts.
    await new Promise((resolve) => setTimeout(resolve));
    failed += (await convert(file, index)) ? 0 : 1;
  }
  all.hidden = converted.length < 2;
  statusLine.textContent = `Done: ${files.length - failed} converted, ${failed} not converted.`;
}

// The ZIP is made when it is asked for; the link then leads to it.
zipLink.addEventListener("click", () => {
  if (zipLink.getAttribute("href") !== "#") return;
  const entries = {};
  for (const { name, bytes } of converted) {
    let unique = name;
    for (let copy = 2; unique in entries; copy++) unique = renamed(name, `-${copy}`);
    entries[unique] = bytes;
  }
  const url = URL.createObjectURL(new Blob([zipSync(entries)], { type: "application/zip" }));
  objectUrls.push(url);
  zipLink.href = url;
});

chooser.addEventListener("change", () => convertAll(chooser.files));
document.addEventListener("dragover", (event) => {
  event.preventDefault();
  dropZone.classList.add("over");
});
document.addEventListener("dragleave", () => dropZone.classList.remove("over"));
document.addEventListener("drop", (event) => {
  event.preventDefault();
  dropZone.classList.remove("over");
  convertAll(event.dataTransfer.files);
});
