// The explorer in a real browser: starts seqcorvane-explore on a pair, opens
// its page in Debian's chromium (driven by playwright-core), zooms, clicks
// cells, and checks that the alignment the page shows, its message length
// and its confidence line are what the library's through-cell call
// (seqcorvane.CellPaths.best through the Python module, at the distance the
// module's marginal criterion gives) gives for the cell the page says it
// shows; downloads the alignment and reads its rows back; takes a
// screenshot; stops the server with Ctrl-C (SIGINT). Prints the figures:
// the first picture after the address was printed, the alignment through a
// clicked cell from the click to its text, the server's peak memory.
// With --mode local (or auto) the explorer runs under that hypothesis and
// the page must also name it, and draw and state the region of the best
// alignment and of the alignment through the clicked cell as the library
// gives them (the box around the region's cells, its colour on the canvas,
// its residues 1-based and inclusive).
//
//   node explore_test.mjs --explore PROGRAM --python PYTHON --pythonpath DIR
//        --playwright DIR --s S.fa --t T.fa --out DIR [--clicks N] [--json]
//        [--mode global|local|auto]
import { spawn, spawnSync } from "node:child_process";
import { createRequire } from "node:module";
import fs from "node:fs";
import path from "node:path";

const args = {};
for (let k = 2; k < process.argv.length; k += 2) args[process.argv[k].replace(/^--/, "")] = process.argv[k + 1];
for (const name of ["explore", "python", "pythonpath", "playwright", "s", "t", "out"])
  if (!args[name]) throw new Error(`--${name} is missing`);
const clicks = Number(args.clicks || 3);
const mode = args.mode || "global";
const require = createRequire(path.resolve(args.playwright, "package.json"));
const { chromium } = require("playwright-core");

const failures = [];
function check(ok, message) {
  if (!ok) failures.push(message);
}

// The server: started after the browser, so that its address is opened as
// soon as it is printed.
function startServer() {
  const spawned = Date.now();
  const options = mode === "global" ? [] : ["--mode", mode];
  const child = spawn(args.explore, [args.s, args.t, "--port", "0", ...options], { stdio: ["ignore", "pipe", "pipe"] });
  let err = "";
  child.stderr.on("data", (d) => { err += d; });
  const address = new Promise((resolve, reject) => {
    let out = "";
    child.stdout.on("data", (d) => {
      out += d;
      const m = out.match(/^(http:\/\/127\.0\.0\.1:\d+\/)\n/m);
      if (m) resolve({ url: m[1], printed: Date.now(), startupMs: Date.now() - spawned });
    });
    child.on("exit", (code) => reject(new Error(`the explorer ended (${code}) before its address: ${err}`)));
  });
  return { child, address, stderr: () => err };
}

function peakMemoryMiB(pid) {
  const status = fs.readFileSync(`/proc/${pid}/status`, "utf8");
  const m = status.match(/^VmHWM:\s+(\d+) kB/m);
  return m ? Number(m[1]) / 1024 : NaN;
}

// What the library gives for these cells, through the Python module alone:
// at the marginal criterion's distance under the hypothesis it sent.
function libraryThrough(cells) {
  const script = `
import json, sys
import seqcorvane
def read(p):
    lines = open(p).read().splitlines()
    return lines[0][1:].split()[0], seqcorvane._seqcorvane._standard_residues("".join(lines[1:]))
(ns, s), (nt, t) = read(sys.argv[1]), read(sys.argv[2])
m = seqcorvane.default_models()
r = seqcorvane.align(s, t, criterion="marginal", models=m, mode=sys.argv[4])
K, sent = r.K, r.sent
paths = seqcorvane.CellPaths(s, t, K, m, mode=sent)
conf = seqcorvane.ColumnConfidence(s, t, K, m, mode=sent)
def region(path):
    if sent != "local":
        return None
    g = seqcorvane._seqcorvane._cell_alignment_result(ns, s, nt, t, m, K, path, 0.0, 0.0, [], sent).region
    return {"s": [g.s.start, g.s.stop], "t": [g.t.start, g.t.stop]}
out = []
for i, j in json.loads(sys.argv[3]):
    b = paths.best(i, j)
    a, c, x, y = [], [], 0, 0
    for st in b.path:
        a.append(s[x] if st != "i" else "-")
        c.append(t[y] if st != "d" else "-")
        x += st != "i"
        y += st != "d"
    out.append({"cell": [i, j], "rows": ["".join(a), "".join(c)], "bits": b.bits, "confidence": conf.of(b.path),
                "best_bits": paths.best().bits, "region": region(b.path)})
print(json.dumps({"K": K, "sent": sent, "names": [ns, nt], "through": out, "best_region": region(paths.best().path)}))
`;
  const r = spawnSync(args.python, ["-c", script, args.s, args.t, JSON.stringify(cells), mode],
                      { env: { ...process.env, PYTHONPATH: args.pythonpath }, encoding: "utf8" });
  if (r.status !== 0) throw new Error(`the library's through-cell call failed: ${r.stderr}`);
  return JSON.parse(r.stdout);
}

// The alignment as the page shows it: blocks of a row of each sequence
// (name, first position, residues, last position) and a confidence line.
function shownAlignment(text) {
  const rows = ["", ""], names = ["", ""];
  let confidence = "";
  for (const block of text.split("\n\n").filter((b) => b.trim())) {
    const lines = block.split("\n");
    lines.slice(0, 2).forEach((line, k) => {
      const f = line.trim().split(/\s+/);
      names[k] = f[0];
      rows[k] += f[2];
    });
    confidence += lines[2].trim().split(/\s+/)[1];
  }
  return { rows, names, confidence };
}
const confidenceChar = (p) => (p >= 0.95 ? "*" : String(Math.max(0, Math.min(9, Math.round(p * 10)))));

// The hypothesis and the regions on the page (the whole grid in view): the
// label names the hypothesis and the best alignment's region, the figures
// of the clicked cell's alignment its region, and each region is a box
// around the cells from (begin_s, begin_t) to (end_s, end_t) drawn in its
// colour on the canvas.
// Each path's switch hides it: the pixels of its colour on the canvas (the
// optimal path's red, the chosen cell's pink: colours the landscape never
// has) are there with the switch on and gone with it off.
async function checkSwitches(page) {
  const counts = await page.evaluate(() => {
    const c = document.getElementById("landscape");
    const count = (rgb) => {
      const d = c.getContext("2d").getImageData(0, 0, c.width, c.height).data;
      let n = 0;
      for (let k = 0; k < d.length; k += 4) n += d[k] === rgb[0] && d[k + 1] === rgb[1] && d[k + 2] === rgb[2];
      return n;
    };
    const out = {};
    for (const [id, rgb] of [["show-optimal", [0xff, 0x3b, 0x3b]], ["show-chosen", [0xff, 0x5c, 0xe1]]]) {
      const on = count(rgb);
      document.getElementById(id).click();
      const off = count(rgb);
      document.getElementById(id).click();
      out[id] = [on, off, count(rgb)];
    }
    return out;
  });
  for (const [id, [on, off, again]] of Object.entries(counts))
    check(on > 20 && off === 0 && again === on, `the switch ${id}: ${on} pixels of its path, ${off} off, ${again} on again`);
}

async function checkRegions(page, pair, lib, last) {
  const regionText = (r) => `${lib.names[0]} ${r.s[0] + 1}–${r.s[1]}, ${lib.names[1]} ${r.t[0] + 1}–${r.t[1]}`;
  check(pair.mode === mode && pair.sent === lib.sent, `the page's hypothesis is ${pair.mode}/${pair.sent}`);
  const label = await page.evaluate(() => {
    const h = document.getElementById("hypothesis");
    return h.hidden ? null : h.textContent;
  });
  check(label !== null && label.startsWith(`Hypothesis: ${mode}`), `the hypothesis label reads '${label}'`);
  if (lib.sent !== "local") return;
  const want = `Region of the best alignment at K=${lib.K}: ${regionText(lib.best_region)}.`;
  check(label.includes(want), `the label '${label}' does not state '${want}'`);
  const figures = last.figures.match(/local alignment: region (.*) \(1-based, inclusive\)/);
  const wantLast = lib.through[lib.through.length - 1].region;
  check(figures && figures[1] === regionText(wantLast), `the clicked cell's region reads '${figures && figures[1]}'`);
  // The boxes: each around the region's first and last cells.
  const px = (i, j) => page.evaluate(([a, b]) => window.seqcorvaneExplore.pixelOf(a, b), [i, j]);
  const boxes = await page.evaluate(() => window.seqcorvaneExplore.regionBoxes());
  for (const [of, r] of [["best", lib.best_region], ["chosen", wantLast]]) {
    const box = boxes.find((b) => b.of === of);
    const first = await px(r.s[0], r.t[0]), end = await px(r.s[1], r.t[1]);
    check(box && box.x0 < first.x && first.x < box.x0 + (end.x - first.x) / 2 && box.y0 < first.y &&
          box.x1 > end.x && box.y1 > end.y && box.x1 - end.x < end.x - first.x,
          `the ${of} region's box ${JSON.stringify(box)} is not around cells ${r.s[0]},${r.t[0]} to ${r.s[1]},${r.t[1]}`);
  }
  // Its colour on the canvas, the paths hidden: the dashes of a box begin at
  // its top left corner, along its top edge (2 pixels wide, so one row of
  // pixels there is wholly the region's yellow, #ffd400, which the
  // landscape's colours never are: their yellows hold some blue).
  const colour = await page.evaluate(() => {
    const ids = ["show-optimal", "show-posterior", "show-chosen"];
    for (const id of ids) document.getElementById(id).click();
    const c = document.getElementById("landscape"), ratio = window.devicePixelRatio || 1;
    const b = window.seqcorvaneExplore.regionBoxes().find((x) => x.of === "best"), r = c.getBoundingClientRect();
    const x = Math.round((b.x0 + 3 - r.left - c.clientLeft) * ratio);
    const y = Math.floor((b.y0 - r.top - c.clientTop) * ratio);
    const out = [];
    for (let dy = -2; dy <= 2; dy++) out.push(Array.from(c.getContext("2d").getImageData(x, y + dy, 1, 1).data));
    for (const id of ids) document.getElementById(id).click();
    return out;
  });
  const yellow = colour.some(([r, g, b]) => r > 235 && g > 190 && g < 230 && b < 25);
  check(yellow, `no region colour on the best region's box edge: ${JSON.stringify(colour)}`);
}

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
  args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--disable-dev-shm-usage"],
});
const server = startServer();
let status = 1;
try {
  const page = await (await browser.newContext({ viewport: { width: 1400, height: 1000 }, acceptDownloads: true }))
    .newPage();
  const consoleErrors = [];
  page.on("console", (m) => { if (m.type() === "error") consoleErrors.push(m.text()); });
  page.on("pageerror", (e) => consoleErrors.push(String(e)));
  const { url, printed, startupMs } = await server.address;
  await page.goto(url);
  await page.waitForFunction(() => document.body.dataset.firstPicture, null, { timeout: 20000 });
  const firstPictureMs = Number(await page.evaluate(() => document.body.dataset.firstPicture)) - printed;
  const pair = await page.evaluate(async () => (await fetch("/api/pair")).json());
  const rows = pair.grid.rows, cols = pair.grid.cols;

  // Zoom in around a point off the main diagonal, then click cells there:
  // each click's alignment is checked against the library's.
  const aim = [Math.round(rows * 0.62), Math.round(cols * 0.35)];
  const at = await page.evaluate(([i, j]) => window.seqcorvaneExplore.pixelOf(i, j), aim);
  await page.mouse.move(at.x, at.y);
  for (let k = 0; k < 6; k++) await page.mouse.wheel(0, -120);
  await page.waitForTimeout(300);
  const view = await page.evaluate(() => window.seqcorvaneExplore.view());
  check(view.i1 - view.i0 < rows / 2 && view.j1 - view.j0 < cols / 2, `the wheel did not zoom: ${JSON.stringify(view)}`);

  const shown = [];
  const throughMs = [];
  for (let k = 0; k < clicks; k++) {
    const target = [aim[0] + 3 * k, aim[1] - 2 * k];
    const p = await page.evaluate(([i, j]) => window.seqcorvaneExplore.pixelOf(i, j), target);
    const before = await page.evaluate(() => document.body.dataset.shownCell || "");
    const started = Date.now();
    await page.mouse.click(p.x, p.y);
    await page.waitForFunction((b) => (document.body.dataset.shownCell || "") !== b, before, { timeout: 10000 });
    const elapsed = Date.now() - started;
    const cell = (await page.evaluate(() => document.body.dataset.shownCell)).split(",").map(Number);
    check(Math.abs(cell[0] - target[0]) <= 1 && Math.abs(cell[1] - target[1]) <= 1,
          `a click on cell ${target} showed cell ${cell}`);
    const pageMs = Number(await page.evaluate(() => document.body.dataset.throughMs));
    throughMs.push(Math.max(elapsed, pageMs));
    const text = await page.evaluate(() => document.getElementById("alignment-text").textContent);
    const figures = await page.evaluate(() => document.getElementById("alignment-figures").textContent);
    shown.push({ cell, text, figures });
  }

  // The line under the picture names the cell under the pointer; a drag pans
  // without choosing a cell.
  const over = [aim[0] - 4, aim[1] + 5];
  const q = await page.evaluate(([i, j]) => window.seqcorvaneExplore.pixelOf(i, j), over);
  await page.mouse.move(q.x, q.y);
  await page.waitForFunction((c) => document.getElementById("hover").textContent.startsWith(c),
                             `cell (${over[0]}, ${over[1]}) · `, { timeout: 10000 });
  const hoverText = await page.evaluate(() => document.getElementById("hover").textContent);
  check(new RegExp(` · ${pair.s.name} ${over[0]} ${pair.s.residues[over[0] - 1]} · ` +
                   `${pair.t.name} ${over[1]} ${pair.t.residues[over[1] - 1]} · [0-9.]+ bits above the best cell$`)
          .test(hoverText), `the pointer's line reads '${hoverText}'`);
  const shownBefore = await page.evaluate(() => document.body.dataset.shownCell);
  await page.mouse.down();
  await page.mouse.move(q.x + 60, q.y + 20, { steps: 6 });
  await page.mouse.move(q.x + 120, q.y + 40, { steps: 6 });
  await page.mouse.up();
  const panned = await page.evaluate(() => window.seqcorvaneExplore.view());
  const after = await page.evaluate(() => document.body.dataset.shownCell);
  check(panned.j0 < view.j0 && panned.i0 < view.i0 && after === shownBefore,
        `a drag did not pan the view alone: ${JSON.stringify(view)} to ${JSON.stringify(panned)}, cell ${after}`);

  const lib = libraryThrough(shown.map((x) => x.cell));
  check(lib.K === pair.K, `the page shows distance K=${pair.K}, the library's marginal criterion K=${lib.K}`);
  shown.forEach((x, k) => {
    const want = lib.through[k];
    const got = shownAlignment(x.text);
    check(got.rows[0] === want.rows[0] && got.rows[1] === want.rows[1],
          `cell ${x.cell}: the page shows another alignment than the library's through-cell call`);
    check(got.names[0] === lib.names[0] && got.names[1] === lib.names[1], `cell ${x.cell}: names ${got.names}`);
    check(got.confidence === want.confidence.map(confidenceChar).join(""), `cell ${x.cell}: the confidence line differs`);
    const bits = x.figures.match(/I\(A,<S,T>\) = ([0-9.]+) bits/);
    check(bits && bits[1] === want.bits.toFixed(2), `cell ${x.cell}: ${bits && bits[1]} bits, the library ${want.bits}`);
    const best = x.figures.match(/the best alignment at K=\d+: ([0-9.]+) bits; difference ([+−])([0-9.]+) bits/);
    const diff = want.bits - want.best_bits;
    check(best && best[1] === want.best_bits.toFixed(2) && best[3] === Math.abs(diff).toFixed(2),
          `cell ${x.cell}: the best alignment's length or the difference is not the library's: ${x.figures}`);
  });

  // Where the pointer rests on the confidence line, the column's value.
  await page.hover("#alignment-text span.c >> nth=1");
  const title = await page.evaluate(() => document.querySelectorAll("#alignment-text span.c")[1].title);
  const col = title.match(/^column (\d+): ([0-9.]+)$/);
  const lastWant = lib.through[lib.through.length - 1];
  check(col && col[2] === lastWant.confidence[Number(col[1]) - 1].toFixed(3),
        `the confidence under the pointer reads '${title}'`);

  // The shown alignment downloads; its rows are the shown ones.
  await page.selectOption("#format", "stockholm");
  const [download] = await Promise.all([page.waitForEvent("download"), page.click("#download")]);
  const file = path.join(args.out, download.suggestedFilename());
  await download.saveAs(file);
  const sto = fs.readFileSync(file, "utf8").split("\n").filter((l) => l && !l.startsWith("#") && l !== "//");
  const last = shownAlignment(shown[shown.length - 1].text);
  check(sto.length === 2 && sto[0].split(/\s+/)[1] === last.rows[0] && sto[1].split(/\s+/)[1] === last.rows[1],
        `the downloaded ${path.basename(file)} holds other rows than the page shows`);

  // The picture with the last alignment through a cell, for a person to look at.
  await page.evaluate(() => document.getElementById("zoom-all").click());
  await page.waitForTimeout(400);
  await checkSwitches(page);
  if (mode !== "global") await checkRegions(page, pair, lib, shown[shown.length - 1]);
  const shot = path.join(args.out, mode === "global" ? "explore.png" : `explore-${mode}.png`);
  await page.screenshot({ path: shot });
  await page.screenshot({ path: shot.replace(/\.png$/, "-full.png"), fullPage: true });
  check(consoleErrors.length === 0, `the page reported errors: ${consoleErrors.join("; ")}`);

  const memory = peakMemoryMiB(server.child.pid);
  const stopped = new Promise((resolve) => server.child.on("exit", (code, signal) => resolve({ code, signal })));
  server.child.kill("SIGINT");
  const end = await stopped;
  check(end.code === 0 && /stopped/.test(server.stderr()), `Ctrl-C: exit ${end.code} ${end.signal}: ${server.stderr()}`);

  const figures = {
    pair: `${pair.s.name} (${pair.s.residues.length}) and ${pair.t.name} (${pair.t.residues.length})`,
    startup_ms: startupMs,
    first_picture_ms: Math.round(firstPictureMs),
    through_cell_ms: Math.round(Math.max(...throughMs)),
    through_cell_ms_each: throughMs,
    server_peak_mib: Math.round(memory),
    screenshot: shot,
  };
  if (args.json) console.log(JSON.stringify(figures));
  else
    console.log(`${figures.pair}: address printed ${startupMs} ms after the start; ` +
                `first picture ${figures.first_picture_ms} ms after the address was printed; ` +
                `alignment through a clicked cell ${figures.through_cell_ms} ms at most (${throughMs.join(", ")}); ` +
                `server peak memory ${figures.server_peak_mib} MiB; screenshot ${shot}`);
  if (failures.length) {
    for (const f of failures) console.log(`FAILED: ${f}`);
  } else {
    status = 0;
  }
} finally {
  if (server.child.exitCode === null) server.child.kill("SIGINT");
  await browser.close();
}
process.exit(status);
