// The page, lyric2sysex.html opened from a file with the network refused, in Debian's headless
// chromium: node tests/web/browser_test.js PAGE NATIVE_PROGRAM SCREENSHOT_DIR
// Drops songs and broken files in one go and holds what the page shows and saves against the
// native program: downloads, commands and their times, near misses, failures, text decoding,
// names, the narrow screen, the keyboard and axe-core's accessibility rules.
const assert = require("assert/strict");
const { execFileSync, spawnSync } = require("child_process");
const fs = require("fs");
const os = require("os");
const path = require("path");
const web = { paths: [path.join(__dirname, "../../web")] };
const puppeteer = require(require.resolve("puppeteer-core", web));
const axe = fs.readFileSync(require.resolve("axe-core/axe.min.js", web), "utf8");

const [page, native, screenshots] = process.argv.slice(2);
const work = fs.mkdtempSync(path.join(os.tmpdir(), "lyric2sysex-web-"));

const vlq = (n) => [...(n > 127 ? vlq(n >> 7).map((b) => b | 0x80) : []), n & 0x7f];
const u32 = (n) => [n >>> 24, (n >> 16) & 255, (n >> 8) & 255, n & 255];
const meta = (type, bytes) => [0xff, type, ...vlq(bytes.length), ...bytes];
const lyric = (text) => meta(0x05, [...Buffer.from(text, "latin1")]);
const tempo = (microseconds) => meta(0x51, u32(microseconds).slice(1));
const chunk = (tag, bytes) => [...Buffer.from(tag), ...u32(bytes.length), ...bytes];
// A track of its events, each after its time in ticks.
function track(...events) {
  const body = [];
  for (let i = 0, now = 0; i < events.length; now = events[i], i += 2) {
    body.push(...vlq(events[i] - now), ...events[i + 1]);
  }
  return chunk("MTrk", [...body, 0, ...meta(0x2f, [])]);
}
const midi = (format, division, ...tracks) =>
  Buffer.from([
    ...chunk("MThd", [0, format, 0, tracks.length, division >> 8, division & 255]),
    ...tracks.flat(),
  ]);

const twinkle = fs.readFileSync(path.join(__dirname, "../../examples/twinkle.mid"));
// Three beats a bar from the start; the tempo doubles on the third beat, in another track.
const near = midi(
  1,
  480,
  track(0, meta(0x58, [3, 2, 24, 8]), 0, lyric("$ADD_UP$one"), 960, lyric("$ADD_LO$two")),
  track(480, lyric("  $ADD_LO$ x"), 960, tempo(250000)),
  track(1440, lyric("$add_up$ 3"), 1920, lyric("$DEL_UL$"), 2400, lyric("$ADD_LOx")),
  track(2880, lyric("$ADD_UQ$ y")),
);
// 25 frames a second of 40 ticks; an invalid UTF-8 byte, a direction override and a control.
const latin = midi(
  0,
  0xe728,
  track(1500, lyric("$ADD_UP$caf\xe9"), 2000, lyric("$ADD_LO$\xe2\x98\x86\xe2\x80\xae\x01")),
);
// Each track a song of its own, with its own tempo.
const sjis = midi(
  2,
  96,
  track(0, tempo(1000000), 96, lyric("$ADD_UP$\x89\xcc")),
  track(192, lyric("$ADD_UP$x")),
);
// Every file dropped, in order: its name, its bytes and then, if it is converted, its name in the
// ZIP, its commands' (or near misses') times and bar:beat, its lines where they are no UTF-8 text,
// and its note; if not, what the page must say.
const FILES = [
  ["twinkle.mid", twinkle, "twinkle-sysex.mid"],
  ["a/Song.mid", near, "Song-sysex.mid", "0:00.00 1:1|0:01.00 1:3|0:01.50 2:2"],
  ["b/song.mid", latin, "song-sysex-2.mid", "0:01.50 |0:02.00 ", "café|☆[U+202E]␁", "Latin-1."],
  ["sjis.mid", sjis, "sjis-sysex.mid", "0:01.00 1:2|0:01.00 1:3", "歌|x", "Shift-JIS."],
  ["Frère Jacques – é.mid", twinkle, "Frère Jacques – é-sysex.mid"],
  ["x\u202egnp.mid", midi(0, 96, track(0, lyric("hello"))), "x_gnp-sysex.mid"],
  ["cut.mid", twinkle.subarray(0, 100), /^Not converted\. The file ends too early: it may be/],
  ["empty.mid", Buffer.alloc(0), /^Not converted\. The file is empty/],
  [
    "notes.txt",
    Buffer.from("This is a note."),
    /This is not a MIDI file \(it starts with 54 68 69 73 20 69 73 20, “This is ”\)/,
  ],
].map(([name, bytes, ...expected]) => {
  const file = path.join(work, "dropped", name);
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.writeFileSync(file, bytes);
  return { name: path.basename(name), file, expected };
});
const converted = FILES.filter(({ expected }) => typeof expected[0] === "string");
const NO_NETWORK = "--host-resolver-rules=MAP * ~NOTFOUND";
const NEAR_TIMES =
  "0:00.50 (bar 1, beat 2)|0:01.25 (bar 2, beat 1)|0:01.75 (bar 2, beat 3)|0:02.00 (bar 3, beat 1)";

const run = (...args) => spawnSync(native, args);
// The native program's rows, --list's lines, in time order.
const listed = ({ file }) =>
  run("--list", file)
    .stdout.toString()
    .split("\n")
    .filter((line) => /^\d+\t/.test(line))
    .map((line) => line.split("\t"))
    .sort((a, b) => a[1] - b[1]);
function nativeOutput({ file }) {
  const output = path.join(work, "native.mid");
  return { trace: run(file, output).stdout, bytes: fs.readFileSync(output) };
}

async function downloaded(name) {
  const file = path.join(work, "downloads", name);
  for (let wait = 0; wait < 200 && !fs.existsSync(file); wait++) {
    await new Promise((go) => setTimeout(go, 50));
  }
  return file;
}

const sectionOf = (tab, { name }) =>
  tab.evaluateHandle(
    (name) =>
      [...document.querySelectorAll("#songs h2")].find((h2) => h2.textContent === name).parentNode,
    name,
  );
const tableOf = (section) =>
  section.$$eval("table tbody tr", (rows) =>
    rows.map((row) => [...row.cells].map((cell) => cell.textContent)),
  );
const screenOf = (section) =>
  section.$eval(".screen", (screen) => [...screen.children].map((line) => line.textContent));

const checks = {
  async "failures first, in plain words, with the program's message beside them"(tab) {
    const items = await tab.$$eval("#summary-list > li", (items) =>
      items.map((item) => [
        item.querySelector("p").textContent,
        item.querySelector(".technical")?.textContent,
      ]),
    );
    const failed = FILES.filter((file) => !converted.includes(file));
    failed.forEach(({ file, expected: [wording] }, index) => {
      assert.match(items[index][0], wording);
      assert.equal(items[index][1], run("--list", file).stdout.toString().split("\n")[0]);
    });
    items.slice(failed.length).forEach(([found]) => assert.match(found, /^Converted/));
    assert.match(items.at(-1)[0], /no lyric commands in this file/);
  },
  async "commands in time order, with their lines, times and text"(tab) {
    for (const song of converted.slice(0, 4)) {
      const [, times, lines, note] = song.expected;
      const section = await sectionOf(tab, song);
      await section.$$eval("details", (all) => all.forEach((details) => (details.open = true)));
      const rows = await tableOf(section);
      const expected = listed(song).filter((row) => row[2] !== "near");
      assert.deepEqual(
        rows.map((row) => row.slice(5)),
        expected.map((row) => row.slice(0, 3)),
      );
      const set = rows.map((row) => row[/U[PL]/.test(row[7]) ? 3 : 4]).join("|");
      assert.equal(set, lines ?? expected.map((row) => row[3] ?? "").join("|"));
      const read = await section.$eval(".note", (p) => p.textContent);
      assert.ok(
        note ? read.endsWith(`not: read as ${note}`) : read === "Lyrics read as UTF-8.",
        read,
      );
      if (times) assert.equal(rows.map((row) => `${row[0]} ${row[1]}`).join("|"), times);
    }
  },
  async "near misses with their time and reason"(tab) {
    const section = await sectionOf(tab, converted[1]);
    const near = await section.$$eval("li.near", (items) =>
      items.map((item) => [item.textContent, item.querySelector("q").textContent]),
    );
    const expected = listed(converted[1]).filter((row) => row[2] === "near");
    assert.equal(near.length, expected.length);
    expected.forEach(([, , , reason, text], i) => {
      assert.equal(near[i][1], text);
      assert.ok(
        near[i][0].startsWith(`At ${NEAR_TIMES.split("|")[i]}:`) && near[i][0].includes(reason),
        near[i][0],
      );
    });
  },
  async "no control character acts"(tab) {
    const shown = await tab.evaluate(() => document.body.innerText);
    assert.doesNotMatch(
      shown,
      /[\u061c\u200e\u200f\u202a-\u202e\u2066-\u2069\x00-\x08\x0b-\x1f\x7f-\x9f]/,
    );
    assert.ok(shown.includes("x[U+202E]gnp.mid"));
  },
  async "the display steps by keys and buttons"(tab) {
    const section = await sectionOf(tab, converted[0]);
    const rows = (await tableOf(section)).map((row) => row.slice(3, 5));
    const steps = [
      [null, 0],
      ["ArrowRight", 1],
      ["End", rows.length - 1],
      ["Shift+Tab Enter", rows.length - 2],
    ];
    await (await section.$("input[type=range]")).focus();
    for (const [keys, step] of steps) {
      for (const key of keys?.split(" ") ?? []) {
        for (const part of key.split("+")) await tab.keyboard.down(part);
        for (const part of key.split("+").reverse()) await tab.keyboard.up(part);
      }
      assert.deepEqual(await screenOf(section), rows[step], keys);
    }
    await tab.mouse.click(1, 1);
    await tab.keyboard.press("Tab");
    assert.equal(await tab.evaluate(() => document.activeElement.id), "files");
  },
  async "downloads by keyboard, the same bytes as the program's"(tab) {
    const expected = nativeOutput(converted[0]);
    await tab.focus("#summary-list li.converted a.output");
    await tab.keyboard.press("Enter");
    assert.deepEqual(fs.readFileSync(await downloaded("twinkle-sysex.mid")), expected.bytes);
    await (await (await sectionOf(tab, converted[0])).$("button.trace")).focus();
    await tab.keyboard.press("Enter");
    assert.deepEqual(fs.readFileSync(await downloaded("twinkle-trace.txt")), expected.trace);
    await tab.focus("#zip");
    await tab.keyboard.press(" ");
    const zip = await downloaded("lyric2sysex.zip");
    execFileSync("unzip", ["-q", zip, "-d", path.join(work, "unzipped")]);
    const python =
      "import sys, zipfile; print(*zipfile.ZipFile(sys.argv[1]).namelist(), sep='\\n')";
    const names = converted.map(({ expected: [name] }) => name);
    assert.deepEqual(
      execFileSync("python3", ["-c", python, zip], { encoding: "utf8" }).split("\n").slice(0, -1),
      names,
    );
    for (const [index, song] of converted.entries()) {
      const unzipped = fs.readFileSync(path.join(work, "unzipped", names[index]));
      assert.deepEqual(unzipped, nativeOutput(song).bytes, names[index]);
    }
  },
  async "nothing fetched, no error"(tab, { refused, errors }) {
    assert.deepEqual(refused, []);
    assert.deepEqual(errors, []);
  },
  async "no inline script runs"(tab) {
    const script =
      "document.body.append(Object.assign(document.createElement('script'), " +
      "{ textContent: 'window.injected = 1' }))";
    await tab.evaluate(script);
    assert.equal(await tab.evaluate(() => window.injected), undefined);
  },
  async "no serious accessibility fault, no sideways scrolling on a phone"(tab) {
    await tab.evaluate(() =>
      document.querySelectorAll("details").forEach((details) => (details.open = true)),
    );
    await tab.evaluate(axe);
    const { violations } = await tab.evaluate(() => axe.run());
    const serious = violations.filter((v) => ["serious", "critical"].includes(v.impact));
    assert.deepEqual(
      serious.map((v) => `${v.id}: ${v.nodes.map((node) => node.target).join(", ")}`),
      [],
    );
    await tab.setViewport({ width: 390, height: 844 });
    assert.ok(await tab.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth));
  },
};

(async () => {
  const browser = await puppeteer.launch({
    executablePath: "/usr/bin/chromium",
    userDataDir: path.join(work, "profile"),
    args: [..."--headless --no-sandbox --disable-gpu --no-first-run".split(" "), NO_NETWORK],
  });
  let passed = 0;
  try {
    const tab = await browser.newPage();
    const seen = { refused: [], errors: [] };
    tab.on("console", (message) => message.type() === "error" && seen.errors.push(message.text()));
    tab.on("pageerror", (error) => seen.errors.push(error.message));
    await tab.setRequestInterception(true);
    tab.on("request", (request) =>
      /^(file|data|blob):/.test(request.url())
        ? request.continue()
        : (seen.refused.push(request.url()), request.abort()),
    );
    const session = await browser.target().createCDPSession();
    await session.send("Browser.setDownloadBehavior", {
      behavior: "allow",
      downloadPath: path.join(work, "downloads"),
    });
    await tab.setViewport({ width: 1280, height: 900 });
    await tab.goto(`file://${path.resolve(page)}`);
    await (await tab.$("#files")).uploadFile(...FILES.map(({ file }) => file));
    await tab.waitForFunction(() =>
      document.getElementById("status").textContent.startsWith("Done"),
    );
    fs.mkdirSync(screenshots, { recursive: true });
    await tab.screenshot({ path: path.join(screenshots, "page-1280.png"), fullPage: true });
    await tab.setViewport({ width: 390, height: 844 });
    await tab.screenshot({ path: path.join(screenshots, "page-390.png"), fullPage: true });
    await tab.setViewport({ width: 1280, height: 900 });
    for (const [name, check] of Object.entries(checks)) {
      await check(tab, seen);
      console.log(`web: ${name}: passed`);
      passed++;
    }
  } finally {
    await browser.close();
    fs.rmSync(work, { recursive: true, force: true });
    console.log(`${passed} passed, ${Object.keys(checks).length - passed} failed`);
  }
})().catch((error) => {
  console.error(error);
  process.exitCode = 1;
});
