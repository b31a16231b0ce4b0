// The page in Debian's chromium, headless: node tests/web/browser_test.js URL NATIVE_PROGRAM DIR
// Chooses the example, a truncated copy and two files at once, and holds the page's downloads,
// lyric display and failure message against the native program's. Screenshots go to DIR.
const assert = require("assert/strict");
const { spawnSync } = require("child_process");
const fs = require("fs");
const os = require("os");
const path = require("path");
const web = { paths: [path.join(__dirname, "../../web")] };
const puppeteer = require(require.resolve("puppeteer-core", web));
const { unzipSync } = require(require.resolve("fflate", web));

const [url, native, screenshots] = process.argv.slice(2);
const work = fs.mkdtempSync(path.join(os.tmpdir(), "lyric2sysex-web-"));
const example = path.resolve(__dirname, "../../examples/twinkle.mid");
const truncated = path.join(work, "truncated.mid");
const second = path.join(work, "second.kar");
fs.writeFileSync(truncated, fs.readFileSync(example).subarray(0, 100));
fs.copyFileSync(example, second);

const nativeLines = (...args) => spawnSync(native, args).stdout.toString().split("\n");
function nativeOutput(input) {
  const output = path.join(work, `native-${path.basename(input)}`);
  return { trace: spawnSync(native, [input, output]).stdout, bytes: fs.readFileSync(output) };
}

// Chromium names the file when it is complete; until then it is NAME.crdownload.
async function downloaded(directory, name) {
  const file = path.join(directory, name);
  for (let wait = 0; wait < 200 && !fs.existsSync(file); wait++) {
    await new Promise((go) => setTimeout(go, 50));
  }
  return fs.readFileSync(file);
}

async function showsExample(page, downloads) {
  const expected = nativeOutput(example);
  await page.click("a.output");
  assert.deepEqual(await downloaded(downloads, "twinkle-sysex.mid"), expected.bytes);
  await page.click("a.trace");
  assert.deepEqual(await downloaded(downloads, "twinkle-trace.txt"), expected.trace);
  // Each command's row shows its time and the line it set or cleared.
  const listed = nativeLines("--list", example).slice(0, -1).map((line) => line.split("\t"));
  const division = fs.readFileSync(example).readUInt16BE(12);
  const shown = await page.$$eval("table.lyrics tbody tr", (rows) =>
    rows.map((row) => [...row.cells].map((cell) => cell.textContent)),
  );
  assert.equal(shown.length, listed.length);
  listed.forEach(([track, ticks, command, text], index) => {
    const [shownTrack, shownTicks, beats, shownCommand, upper, lower] = shown[index];
    const expected = [track, ticks, ticks / division, command];
    assert.deepEqual([shownTrack, shownTicks, Number(beats), shownCommand], expected);
    if (command.startsWith("ADD")) assert.equal(command === "ADD_UP" ? upper : lower, text);
    if (/DEL_U[LP]/.test(command)) assert.equal(upper, "");
    if (/DEL_(UL|LO)/.test(command)) assert.equal(lower, "");
  });
  assert.match(await page.$eval(".note", (note) => note.textContent), /read as UTF-8/);
}

async function namesFailure(page) {
  const message = nativeLines("--list", truncated).at(-3);
  assert.equal(
    await page.$eval(".error", (error) => error.textContent),
    `Not converted: ${message}.`,
  );
  assert.equal(await page.$("a.output"), null);
}

async function zipsBoth(page, downloads) {
  await page.focus("#zip");
  await page.keyboard.press("Enter");
  const zip = unzipSync(await downloaded(downloads, "lyric2sysex.zip"));
  assert.deepEqual(Object.keys(zip).sort(), ["second-sysex.kar", "twinkle-sysex.mid"]);
  assert.deepEqual(Buffer.from(zip["second-sysex.kar"]), nativeOutput(second).bytes);
  assert.deepEqual(Buffer.from(zip["twinkle-sysex.mid"]), nativeOutput(example).bytes);
}

const states = [
  ["example", [example], showsExample],
  ["truncated", [truncated], namesFailure],
  ["two-files", [example, second], zipsBoth],
];

(async () => {
  const browser = await puppeteer.launch({
    executablePath: "/usr/bin/chromium",
    userDataDir: path.join(work, "profile"),
    args: "--headless --no-sandbox --disable-gpu --disable-background-networking --disable-component-update --disable-sync --no-first-run".split(
      " ",
    ),
  });
  try {
    const page = await browser.newPage();
    const session = await browser.target().createCDPSession();
    await page.goto(url);
    fs.mkdirSync(screenshots, { recursive: true });
    // The first state that fails ends the test with its error.
    for (const [name, files, check] of states) {
      const downloadPath = path.join(work, name);
      await session.send("Browser.setDownloadBehavior", { behavior: "allow", downloadPath });
      await page.$eval("#status", (status) => (status.textContent = ""));
      await (await page.$("#files")).uploadFile(...files);
      await page.waitForFunction(() =>
        document.getElementById("status").textContent.startsWith("Done"),
      );
      await page.screenshot({ path: path.join(screenshots, `${name}.png`), fullPage: true });
      await check(page, downloadPath);
      console.log(`web: ${name} passed`);
    }
  } finally {
    await browser.close();
    fs.rmSync(work, { recursive: true, force: true });
  }
})();
