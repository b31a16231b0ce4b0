// The page: every chosen or dropped file is converted here, by the lyric2sysex library compiled
// to WebAssembly (the global Lyric2sysex of lyric2sysex.js), one module for all the files, which
// reports each command, tempo and time signature as the conversion meets it. Nothing leaves the
// computer.
import { zipSync } from "fflate";

const COMMANDS = ["ADD_UP", "ADD_LO", "DEL_UL", "DEL_UP", "DEL_LO"];
// A long song's display is cut here, so that the page stays quick; the trace holds everything.
const SHOWN_COMMANDS = 1000;
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

const converter = Lyric2sysex();

// Everything the conversion of the bytes reports, the converted bytes if it completed.
async function conversionOf(bytes) {
  const module = await converter;
  const report = { commands: [], tempos: [], signatures: [], trace: [] };
  module.page = {
    command: (track, ticks, kind) =>
      report.commands.push({ track, ticks, command: COMMANDS[kind], text: kind < 2 ? [] : null }),
    text: (text) => report.commands.at(-1).text.push(...text),
    tempo: (track, ticks, tempo) => report.tempos.push({ track, ticks, tempo }),
    timeSignature: (track, ticks, numerator, power) =>
      report.signatures.push({ track, ticks, numerator, power }),
    trace: (text) => report.trace.push(text),
    result: (result) => Object.assign(report, result),
  };
  const input = module._malloc(bytes.length);
  module.HEAPU8.set(bytes, input);
  module._pageConvert(input, bytes.length);
  module._free(input);
  const output = module._pageOutput();
  report.output =
    report.status === 0 ? module.HEAPU8.slice(output, output + module._pageOutputSize()) : null;
  report.commands.forEach((command) => command.text && (command.text = Uint8Array.from(command.text)));
  return report;
}

// A failure as the program prints it: the message, the reason, the place.
const failureOf = (report) =>
  report.message +
  (report.reason ? `: ${report.reason}` : "") +
  (report.track ? ` (track ${report.track}, byte ${report.offset})` : "");

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

function lyricTable(commands, { format, division }, id) {
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
  const conversion = await conversionOf(bytes);
  const { output, commands } = conversion;
  const milliseconds = Math.round(performance.now() - started);

  const section = element(
    "section",
    { className: "result" },
    element("h2", { id: `file-${index}`, textContent: file.name }),
  );
  section.setAttribute("aria-labelledby", `file-${index}`);
  const downloads = element("ul");
  const trace = new Blob(conversion.trace, { type: "text/plain" });
  if (output === null) {
    section.append(
      element("p", { className: "error", textContent: `Not converted: ${failureOf(conversion)}.` }),
      downloads,
    );
  } else {
    const name = renamed(file.name, "-sysex");
    converted.push({ name, bytes: output });
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
        ? lyricTable(commands, conversion, `lyrics-${index}`)
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
