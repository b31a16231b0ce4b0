// The page: every chosen or dropped file is converted by the lyric2sysex library compiled to
// WebAssembly, in a worker, and shown as a musician needs it: first a summary of all the files,
// then for each song what the instrument's two-line display shows, command by command, and when.
// Nothing leaves the computer.
import { zipSync } from "fflate";
import { safeName, shown, songsOf, steps, textReader } from "./song.js";
import {
  COMMANDS,
  NEAR_MISSES,
  TECHNICAL_COMMANDS,
  counted,
  plainFailure,
  technicalFailure,
} from "./words.js";

// Near misses are listed up to this many; a song that has more was most likely written that way.
const SHOWN_NEAR_MISSES = 100;

// The worker's source, the module and worker.js, is put here by the build: a page opened from a
// file can start a worker only from a Blob.
const worker = new Worker(
  URL.createObjectURL(new Blob([WORKER_SOURCE], { type: "text/javascript" })),
);
const waiting = new Map();
worker.onmessage = ({ data }) => waiting.get(data.id)(data.report);

const chooser = document.getElementById("files");
const dropZone = document.getElementById("drop");
const statusLine = document.getElementById("status");
const summary = document.getElementById("summary");
const summaryList = document.getElementById("summary-list");
const zipButton = document.getElementById("zip");
const songs = document.getElementById("songs");
let objectUrls = [];
let outputs = [];
// Counts the drops: a drop made while the files of another are converted takes their place.
let drops = 0;

function element(tag, properties, ...children) {
  const node = Object.assign(document.createElement(tag), properties);
  node.append(...children);
  return node;
}

// A file's name as it is shown: no control character acts, and it cannot turn the text around it.
const nameOf = (name) => element("bdi", { className: "name", textContent: shown(name) });

const urlOf = (blob) => {
  const url = URL.createObjectURL(blob);
  objectUrls.push(url);
  return url;
};

const save = (blob, name) => element("a", { href: urlOf(blob), download: name }).click();

let requests = 0;
function converted(file, traced) {
  return new Promise((resolve) => {
    const id = requests++;
    waiting.set(id, (report) => waiting.delete(id) && resolve(report));
    worker.postMessage({ id, file, traced });
  });
}

function renamed(name, suffix, extension) {
  const dot = name.lastIndexOf(".");
  return dot > 0 ? name.slice(0, dot) + suffix + (extension ?? name.slice(dot)) : name + suffix;
}

// Names that differ only in letter case are one file on many systems and in many unzip tools.
function unique(name) {
  const key = (candidate) => candidate.normalize("NFC").toLowerCase();
  let candidate = name;
  for (let copy = 2; outputs.some((output) => key(output.name) === key(candidate)); copy++) {
    candidate = renamed(name, `-${copy}`);
  }
  return candidate;
}

function details(title, ...content) {
  return element("details", {}, element("summary", { textContent: title }), ...content);
}

// What is seldom opened is made when it is opened, so that a long song is shown at once.
function later(title, make) {
  const node = details(title);
  node.addEventListener(
    "toggle",
    () => node.open && node.childElementCount === 1 && node.append(make()),
  );
  return node;
}

const timeOf = ({ time, bar }) => (bar ? `${time} (bar ${bar.bar}, beat ${bar.beat})` : time);

// The instrument's screen, stepped through by its buttons or, on the slider, by the arrow keys.
function display(rows, label) {
  const upper = element("span", { className: "line" });
  const lower = element("span", { className: "line" });
  const screen = element("div", { className: "screen" }, upper, lower);
  const when = element("p", { className: "when" });
  const slider = element("input", { type: "range", min: 1, max: rows.length, value: 1 });
  slider.setAttribute("aria-label", `Step, ${label}`);
  const show = (step) => {
    const row = rows[step - 1];
    slider.value = step;
    slider.setAttribute("aria-valuetext", `Step ${step} of ${rows.length}, ${row.time}`);
    upper.textContent = row.upper;
    lower.textContent = row.lower;
    const what = COMMANDS[row.command];
    when.textContent = `Step ${step} of ${rows.length}, at ${timeOf(row)}: ${what}.`;
  };
  const button = (text, move) =>
    element("button", {
      type: "button",
      textContent: text,
      onclick: () => show(Math.min(Math.max(Number(slider.value) + move, 1), rows.length)),
    });
  slider.addEventListener("input", () => show(Number(slider.value)));
  const live = element("div", {}, screen, when);
  live.setAttribute("aria-live", "polite");
  const controls = element(
    "div",
    { className: "controls" },
    button("Previous", -1),
    slider,
    button("Next", 1),
  );
  const region = element("div", { className: "display" }, live, controls);
  region.setAttribute("role", "group");
  region.setAttribute("aria-label", label);
  show(1);
  return region;
}

function table(caption, heads, rows) {
  const cells = (tag, values, properties) =>
    element(
      "tr",
      {},
      ...values.map((value) => element(tag, { textContent: value, ...properties })),
    );
  const scroll = element(
    "div",
    { className: "scroll", tabIndex: 0 },
    element(
      "table",
      {},
      element("caption", { textContent: caption }),
      element("thead", {}, cells("th", heads, { scope: "col" })),
      element("tbody", {}, ...rows.map((row) => cells("td", row))),
    ),
  );
  scroll.setAttribute("role", "region");
  scroll.setAttribute("aria-label", caption);
  return scroll;
}

function stepsTable(rows, label) {
  const heads = "Time|Bar:beat|What changes|Upper line|Lower line|Track|Ticks|Command".split("|");
  return table(
    `Every step, ${label}`,
    heads,
    rows.map((row) => [
      row.time,
      row.bar ? `${row.bar.bar}:${row.bar.beat}` : "",
      COMMANDS[row.command],
      row.upper,
      row.lower,
      row.track,
      row.ticks,
      TECHNICAL_COMMANDS[row.command],
    ]),
  );
}

function nearMissList(nearMisses, read) {
  const items = nearMisses
    .slice(0, SHOWN_NEAR_MISSES)
    .map((near) =>
      element(
        "li",
        { className: "near" },
        `At ${timeOf(near)}: `,
        element("q", { className: "text", textContent: read(near.text) }),
        ` is no lyric command, because ${NEAR_MISSES[near.reason]}. It was left as it is.`,
      ),
    );
  const more = nearMisses.length - items.length;
  if (more > 0)
    items.push(element("li", { textContent: `and ${more.toLocaleString("en")} more.` }));
  return [element("h3", { textContent: "Almost lyric commands" }), element("ul", {}, ...items)];
}

function songView(song, read, name) {
  const label = song.track === null ? `for ${name}` : `for track ${song.track} of ${name}`;
  const rows = steps(song.commands, read);
  return element(
    "div",
    { className: "song" },
    ...(song.track === null
      ? []
      : [element("h3", { textContent: `Track ${song.track}, a song of its own` })]),
    ...(rows.length ? [display(rows, `What the instrument shows ${label}`)] : []),
    ...(song.nearMisses.length ? nearMissList(song.nearMisses, read) : []),
    ...(rows.length ? [later("Every step in a table", () => stepsTable(rows, label))] : []),
  );
}

function encodingNote({ fallback, others }, cut) {
  const read = fallback
    ? `, but for ${counted(others, "text")} that ${others === 1 ? "is" : "are"} not: ` +
      `read as ${fallback}`
    : "";
  const shortened = cut ? ` The display shows the first ${cut} commands and near misses.` : "";
  return `Lyrics read as UTF-8${read}.${shortened}`;
}

function technical(file, report) {
  const trace = element("button", {
    type: "button",
    className: "trace",
    textContent: "Download the conversion log (trace)",
  });
  trace.onclick = async () =>
    save((await converted(file, true)).trace, renamed(safeName(file.name), "-trace", ".txt"));
  const { format, division } = report;
  const took = Math.round(report.milliseconds);
  const facts = `MIDI format ${format}, division ${division}, converted in ${took} ms.`;
  return details("Technical details", element("p", { textContent: facts }), trace);
}

function songSection(file, report, index) {
  const id = `song-${index}`;
  const texts = [...report.commands, ...report.nearMisses].map((event) => event.text);
  const reader = textReader(texts);
  const cut = texts.length < commandCount(report) + report.nearMissCount ? texts.length : 0;
  const section = element(
    "section",
    { className: "result", id },
    element("h2", { id: `${id}-title` }, nameOf(file.name)),
    element("p", { className: "note", textContent: encodingNote(reader, cut) }),
    ...songsOf(report).map((song) => songView(song, reader.read, shown(file.name))),
    technical(file, report),
  );
  section.setAttribute("aria-labelledby", `${id}-title`);
  return section;
}

const commandCount = (report) => report.counts.reduce((sum, count) => sum + count, 0);

function found(report) {
  const nearMisses = counted(report.nearMissCount, "near miss", "near misses");
  if (commandCount(report)) {
    return `Converted: ${counted(commandCount(report), "lyric command")}, ${nearMisses}.`;
  }
  const also = report.nearMissCount ? ` (${nearMisses})` : "";
  return `Converted, but no lyric commands in this file${also}: the converted song is the same.`;
}

function summaryItem(file, report, output, index) {
  const item = element(
    "li",
    { className: output ? "converted" : "failed" },
    element("h3", {}, nameOf(file.name)),
  );
  if (!output) {
    item.append(
      element("p", {
        className: "error",
        textContent: `Not converted. ${plainFailure(report, file.size)}`,
      }),
      details(
        "Details",
        element("p", { className: "technical", textContent: technicalFailure(report) }),
      ),
    );
    return item;
  }
  const link = element(
    "a",
    { className: "output", href: urlOf(output.blob), download: output.name },
    `Download ${output.name}`,
  );
  const more = commandCount(report) ? "What the instrument shows" : "Almost lyric commands";
  const links = element("p", {}, link);
  if (commandCount(report) || report.nearMissCount) {
    links.append(" · ", element("a", { href: `#song-${index}`, textContent: more }));
  }
  item.append(element("p", { textContent: found(report) }), links);
  return item;
}

// Shows a file's result; true when it was converted.
function showResult(file, report, index) {
  const output = report.output && {
    name: unique(renamed(safeName(file.name), "-sysex")),
    blob: report.output,
  };
  if (output) outputs.push(output);
  const item = summaryItem(file, report, output, index);
  // Failures come first.
  summaryList.insertBefore(item, output ? null : summaryList.querySelector(".converted"));
  if (output && (report.commands.length || report.nearMisses.length))
    songs.append(songSection(file, report, index));
  return Boolean(output);
}

async function convertAll(fileList) {
  const files = [...fileList];
  if (files.length === 0) return;
  const drop = ++drops;
  objectUrls.forEach((url) => URL.revokeObjectURL(url));
  objectUrls = [];
  outputs = [];
  summaryList.replaceChildren();
  songs.replaceChildren();
  summary.hidden = false;
  zipButton.hidden = true;
  let failed = 0;
  for (const [index, file] of files.entries()) {
    statusLine.textContent = `Converting ${index + 1} of ${counted(files.length, "file")}…`;
    const report = await converted(file, false);
    if (drop !== drops) return;
    failed += showResult(file, report, index) ? 0 : 1;
  }
  zipButton.hidden = outputs.length === 0;
  statusLine.textContent = `Done: ${files.length - failed} converted, ${failed} not converted.`;
}

// Made as readable files (mode 644) on a Unix system, so that unzip takes their UTF-8 names.
zipButton.addEventListener("click", async () => {
  const entries = {};
  for (const { name, blob } of outputs) {
    entries[name] = [
      new Uint8Array(await blob.arrayBuffer()),
      { os: 3, attrs: 0o100644 * 0x10000 },
    ];
  }
  save(new Blob([zipSync(entries)], { type: "application/zip" }), "lyric2sysex.zip");
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
