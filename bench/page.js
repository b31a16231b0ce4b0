// Times the page and measures its memory in Debian's headless Chromium, for bench/page.sh:
//   node bench/page.js PAGE RUNS FILE...
// For each file, RUNS times on a freshly opened page: the time from the choice of the file to the
// page's "Done" (the file converted and shown), and the peak memory of all of Chromium's
// processes (their proportional set size, so that shared pages count once) above what the open
// page took before the file was chosen. Prints a line per file, its fields apart by tabs: the
// name, the size, the median time in milliseconds, the largest peak in bytes, and that peak as a
// multiple of the size.
const fs = require("fs");
const os = require("os");
const path = require("path");
const puppeteer = require(
  require.resolve("puppeteer-core", { paths: [path.join(__dirname, "../web")] }),
);

const [page, runs, ...files] = process.argv.slice(2);

// The proportional set size of the process and its descendants, in bytes.
function memoryOf(pid) {
  const children = fs
    .readdirSync(`/proc/${pid}/task`)
    .flatMap((task) => fs.readFileSync(`/proc/${pid}/task/${task}/children`, "utf8").split(" "))
    .filter(Boolean);
  const pss = Number(
    /^Pss:\s+(\d+)/m.exec(fs.readFileSync(`/proc/${pid}/smaps_rollup`, "utf8"))[1],
  );
  return pss * 1024 + children.reduce((sum, child) => sum + safely(() => memoryOf(child)), 0);
}

function safely(measure) {
  try {
    return measure();
  } catch {
    return 0; // a process that ended while it was measured
  }
}

async function once(browser, file) {
  const tab = await browser.newPage();
  await tab.goto(`file://${path.resolve(page)}`);
  // The worker compiles the module as the page opens; a person takes longer to choose a file.
  await new Promise((resolve) => setTimeout(resolve, 1000));
  const pid = browser.process().pid;
  const before = memoryOf(pid);
  let peak = before;
  const sampler = setInterval(
    () =>
      (peak = Math.max(
        peak,
        safely(() => memoryOf(pid)),
      )),
    20,
  );
  await tab.evaluate(() => {
    const status = document.getElementById("status");
    document
      .getElementById("files")
      .addEventListener("change", () => (window.chosen = performance.now()));
    new MutationObserver(
      () => status.textContent.startsWith("Done") && (window.done = performance.now()),
    ).observe(status, { childList: true });
  });
  await (await tab.$("#files")).uploadFile(file);
  await tab.waitForFunction(() => window.done, { timeout: 600000, polling: 10 });
  const milliseconds = await tab.evaluate(() => window.done - window.chosen);
  clearInterval(sampler);
  await tab.close();
  return { milliseconds, peak: peak - before };
}

(async () => {
  const browser = await puppeteer.launch({
    executablePath: "/usr/bin/chromium",
    userDataDir: fs.mkdtempSync(path.join(os.tmpdir(), "lyric2sysex-bench-")),
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--no-first-run"],
  });
  try {
    for (const file of files) {
      const measured = [];
      for (let run = 0; run < Number(runs); run++) measured.push(await once(browser, file));
      const times = measured.map((m) => m.milliseconds).sort((a, b) => a - b);
      const peak = Math.max(...measured.map((m) => m.peak));
      const size = fs.statSync(file).size;
      const median = Math.round(times[times.length >> 1]);
      const fields = [path.basename(file), size, median, peak, (peak / size).toFixed(2)];
      console.log(fields.join("\t"));
    }
  } finally {
    await browser.close();
  }
})();
