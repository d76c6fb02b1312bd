// The explorer's page, its first half: the landscape drawn on a canvas from
// pictures the server makes at the size of the view (the least value of each
// block, so that the band of near-best alignments shows at any scale), zoom
// and pan, and the criteria's alignments and the chosen one as paths over it.
// explore.js (loaded after it) handles the pointer and the alignment shown.
"use strict";

// matplotlib's viridis, 256 colours (public domain), as the plot tool colours the landscape.
const VIRIDIS =
  "44015444025645045745055946075a46085c460a5d460b5e470d60470e61471063471164471365481467481668481769" +
  "48186a481a6c481b6d481c6e481d6f481f70482071482173482374482475482576482677482878482979472a7a472c7a" +
  "472d7b472e7c472f7d46307e46327e46337f463480453581453781453882443983443a83443b84433d84433e85423f85" +
  "4240864241864142874144874045884046883f47883f48893e49893e4a893e4c8a3d4d8a3d4e8a3c4f8a3c508b3b518b" +
  "3b528b3a538b3a548c39558c39568c38588c38598c375a8c375b8d365c8d365d8d355e8d355f8d34608d34618d33628d" +
  "33638d32648e32658e31668e31678e31688e30698e306a8e2f6b8e2f6c8e2e6d8e2e6e8e2e6f8e2d708e2d718e2c718e" +
  "2c728e2c738e2b748e2b758e2a768e2a778e2a788e29798e297a8e297b8e287c8e287d8e277e8e277f8e27808e26818e" +
  "26828e26828e25838e25848e25858e24868e24878e23888e23898e238a8d228b8d228c8d228d8d218e8d218f8d21908d" +
  "21918c20928c20928c20938c1f948c1f958b1f968b1f978b1f988b1f998a1f9a8a1e9b8a1e9c891e9d891f9e891f9f88" +
  "1fa0881fa1881fa1871fa28720a38620a48621a58521a68522a78522a88423a98324aa8325ab8225ac8226ad8127ad81" +
  "28ae8029af7f2ab07f2cb17e2db27d2eb37c2fb47c31b57b32b67a34b67935b77937b87838b9773aba763bbb753dbc74" +
  "3fbc7340bd7242be7144bf7046c06f48c16e4ac16d4cc26c4ec36b50c46a52c56954c56856c66758c7655ac8645cc863" +
  "5ec96260ca6063cb5f65cb5e67cc5c69cd5b6ccd5a6ece5870cf5773d05675d05477d1537ad1517cd2507fd34e81d34d" +
  "84d44b86d54989d5488bd6468ed64590d74393d74195d84098d83e9bd93c9dd93ba0da39a2da37a5db36a8db34aadc32" +
  "addc30b0dd2fb2dd2db5de2bb8de29bade28bddf26c0df25c2df23c5e021c8e020cae11fcde11dd0e11cd2e21bd5e21a" +
  "d8e219dae319dde318dfe318e2e418e5e419e7e419eae51aece51befe51cf1e51df4e61ef6e620f8e621fbe723fde725";
const COLOURS = (() => {
  const c = new Uint8Array(256 * 3);
  for (let k = 0; k < 256 * 3; k++) c[k] = parseInt(VIRIDIS.substr(2 * k, 2), 16);
  return c;
})();
const PATH_COLOURS = { optimal: "#ff3b3b", posterior: "#ffffff", chosen: "#ff5ce1", region: "#ffd400" };
const MARGIN = { left: 74, right: 92, top: 14, bottom: 46 };
const LINE = 60;  // alignment columns per block of text

const $ = (id) => document.getElementById(id);
const state = {
  pair: null,
  view: null,        // the cells shown: rows i0..i1 and columns j0..j1 (fractional)
  tile: null,        // the last picture: its region, blocks, values and image
  range: 200,
  chosenCell: null,  // [i, j]
  chosenPath: null,
  chosenRegion: null,  // the region of the alignment through the chosen cell (local), or null
  drawnRegions: [],    // the region boxes of the last drawing: {of, x0, y0, x1, y1} in the plot's pixels
  shown: null,       // the alignment below: {of, i, j}
  drag: null,
  tileTimer: 0,
  tileAbort: null,
  hoverBusy: false,
  hoverNext: null,
};
// Figures the page keeps for anyone measuring it (the browser test reads
// them): when the first picture was drawn (ms since the epoch), how long the
// last alignment through a cell took from the click to its text, and where a
// cell's centre lies in the window.
const marks = { firstPicture: null, throughMs: null };
window.seqcorvaneExplore = marks;

function showError(message) {
  const e = $("error");
  e.textContent = message;
  e.hidden = false;
  clearTimeout(showError.timer);
  showError.timer = setTimeout(() => { e.hidden = true; }, 6000);
}

async function getJson(url) {
  const r = await fetch(url);
  const body = await r.json();
  if (!r.ok) throw new Error(body.error || `${r.status}`);
  return body;
}

// ---- geometry: cells and pixels ----
function plotRect() {
  const c = $("landscape");
  return { x: MARGIN.left, y: MARGIN.top, w: c.clientWidth - MARGIN.left - MARGIN.right,
           h: c.clientHeight - MARGIN.top - MARGIN.bottom };
}
function xOf(j, p) { const v = state.view; return p.x + (j - v.j0) / (v.j1 - v.j0) * p.w; }
function yOf(i, p) { const v = state.view; return p.y + (i - v.i0) / (v.i1 - v.i0) * p.h; }
function cellAt(px, py) {
  const p = plotRect(), v = state.view;
  if (px < p.x || px >= p.x + p.w || py < p.y || py >= p.y + p.h) return null;
  const j = Math.floor(v.j0 + (px - p.x) / p.w * (v.j1 - v.j0));
  const i = Math.floor(v.i0 + (py - p.y) / p.h * (v.i1 - v.i0));
  const g = state.pair.grid;
  if (i < 0 || j < 0 || i >= g.rows || j >= g.cols) return null;
  return [i, j];
}

marks.pixelOf = (i, j) => {
  const c = $("landscape"), r = c.getBoundingClientRect(), p = plotRect();
  return { x: r.left + c.clientLeft + xOf(j + 0.5, p), y: r.top + c.clientTop + yOf(i + 0.5, p) };
};
marks.view = () => Object.assign({}, state.view);
// The region boxes drawn, in the window's pixels: {of: "best" or "chosen", x0, y0, x1, y1}.
marks.regionBoxes = () => {
  const c = $("landscape"), r = c.getBoundingClientRect(), dx = r.left + c.clientLeft, dy = r.top + c.clientTop;
  return state.drawnRegions.map((b) => ({ of: b.of, x0: b.x0 + dx, y0: b.y0 + dy, x1: b.x1 + dx, y1: b.y1 + dy }));
};

// ---- the view: zoom and pan within the grid ----
function wholeGrid() {
  const g = state.pair.grid;
  state.view = { i0: 0, i1: g.rows, j0: 0, j1: g.cols };
}
function clampView() {
  const g = state.pair.grid, v = state.view;
  const fit = (a0, a1, n) => {
    let w = Math.min(Math.max(a1 - a0, Math.min(8, n)), n);
    let s = Math.min(Math.max(a0, 0), n - w);
    return [s, s + w];
  };
  [v.i0, v.i1] = fit(v.i0, v.i1, g.rows);
  [v.j0, v.j1] = fit(v.j0, v.j1, g.cols);
}
function zoom(factor, px, py) {
  const p = plotRect(), v = state.view;
  const fx = px === undefined ? 0.5 : Math.min(Math.max((px - p.x) / p.w, 0), 1);
  const fy = py === undefined ? 0.5 : Math.min(Math.max((py - p.y) / p.h, 0), 1);
  const cj = v.j0 + fx * (v.j1 - v.j0), ci = v.i0 + fy * (v.i1 - v.i0);
  const wj = (v.j1 - v.j0) / factor, wi = (v.i1 - v.i0) / factor;
  state.view = { i0: ci - fy * wi, i1: ci + (1 - fy) * wi, j0: cj - fx * wj, j1: cj + (1 - fx) * wj };
  clampView();
  viewChanged();
}
function pan(dx, dy) {  // in pixels
  const p = plotRect(), v = state.view;
  const di = dy / p.h * (v.i1 - v.i0), dj = dx / p.w * (v.j1 - v.j0);
  v.i0 -= di; v.i1 -= di; v.j0 -= dj; v.j1 -= dj;
  clampView();
  viewChanged();
}
function viewChanged() {
  draw();
  clearTimeout(state.tileTimer);
  state.tileTimer = setTimeout(fetchTile, 60);
}

// ---- the picture: blocks of the visible region at the view's resolution ----
async function fetchTile() {
  const g = state.pair.grid, v = state.view, p = plotRect();
  const ratio = window.devicePixelRatio || 1;
  const i0 = Math.max(0, Math.floor(v.i0)), i1 = Math.min(g.rows, Math.ceil(v.i1));
  const j0 = Math.max(0, Math.floor(v.j0)), j1 = Math.min(g.cols, Math.ceil(v.j1));
  const rows = Math.max(1, Math.min(4096, Math.ceil(p.h * ratio)));
  const cols = Math.max(1, Math.min(4096, Math.ceil(p.w * ratio)));
  if (state.tileAbort) state.tileAbort.abort();
  const abort = new AbortController();
  state.tileAbort = abort;
  try {
    const r = await fetch(`/api/landscape?i0=${i0}&i1=${i1}&j0=${j0}&j1=${j1}&rows=${rows}&cols=${cols}`,
                          { signal: abort.signal });
    if (!r.ok) throw new Error((await r.json()).error);
    const values = new Float32Array(await r.arrayBuffer());
    const tile = { i0, i1, j0, j1, rows: +r.headers.get("X-Rows"), cols: +r.headers.get("X-Cols"), values };
    tile.image = document.createElement("canvas");
    tile.image.width = tile.cols;
    tile.image.height = tile.rows;
    colour(tile);
    state.tile = tile;
    draw();
    if (marks.firstPicture === null) {
      marks.firstPicture = performance.timeOrigin + performance.now();
      document.body.dataset.firstPicture = String(marks.firstPicture);
    }
  } catch (e) {
    if (e.name !== "AbortError") showError(`the landscape could not be drawn: ${e.message}`);
  }
}
function colour(tile) {
  const ctx = tile.image.getContext("2d");
  const img = ctx.createImageData(tile.cols, tile.rows);
  const d = img.data, range = state.range;
  for (let k = 0; k < tile.values.length; k++) {
    const x = tile.values[k];
    const c = Number.isFinite(x) ? Math.max(0, Math.min(255, Math.floor(x / range * 255.999))) : 255;
    d[4 * k] = COLOURS[3 * c];
    d[4 * k + 1] = COLOURS[3 * c + 1];
    d[4 * k + 2] = COLOURS[3 * c + 2];
    d[4 * k + 3] = 255;
  }
  ctx.putImageData(img, 0, 0);
}

// ---- drawing ----
function niceStep(extent, count) {
  const raw = extent / count, p = Math.pow(10, Math.floor(Math.log10(raw)));
  for (const m of [1, 2, 5, 10]) if (m * p >= raw) return Math.max(1, m * p);
  return Math.max(1, 10 * p);
}
function pathPoints(path) {
  const pts = [[0, 0]];
  let i = 0, j = 0;
  for (const c of path) {
    if (c !== "i") i++;
    if (c !== "d") j++;
    pts.push([i, j]);
  }
  return pts;
}
// Begins a stroke clipped to the picture's plot area p (restore() ends it).
function beginClippedStroke(ctx, p, colour, width) {
  ctx.save();
  ctx.beginPath();
  ctx.rect(p.x, p.y, p.w, p.h);
  ctx.clip();
  ctx.strokeStyle = colour;
  ctx.lineWidth = width;
}
function drawPath(ctx, p, points, colour, width, dashed) {
  beginClippedStroke(ctx, p, colour, width);
  ctx.lineJoin = "round";
  if (dashed) ctx.setLineDash([5, 4]);
  ctx.beginPath();
  points.forEach(([i, j], k) => {
    const x = xOf(j + 0.5, p), y = yOf(i + 0.5, p);
    if (k === 0) ctx.moveTo(x, y); else ctx.lineTo(x, y);
  });
  ctx.stroke();
  ctx.restore();
}
// A region ({s: [begin, end], t: [begin, end]}, residues from 0, the end
// excluded) as a dashed box around the cells its path runs through, from
// (begin_s, begin_t) to (end_s, end_t).
function drawRegion(ctx, p, r, of, colour, width) {
  const box = { of, x0: xOf(r.t[0], p), y0: yOf(r.s[0], p), x1: xOf(r.t[1] + 1, p), y1: yOf(r.s[1] + 1, p) };
  beginClippedStroke(ctx, p, colour, width);
  ctx.setLineDash([6, 4]);
  ctx.strokeRect(box.x0, box.y0, box.x1 - box.x0, box.y1 - box.y0);
  ctx.restore();
  state.drawnRegions.push(box);
}
function draw() {
  const c = $("landscape"), ratio = window.devicePixelRatio || 1;
  if (c.width !== Math.round(c.clientWidth * ratio) || c.height !== Math.round(c.clientHeight * ratio)) {
    c.width = Math.round(c.clientWidth * ratio);
    c.height = Math.round(c.clientHeight * ratio);
  }
  const ctx = c.getContext("2d");
  ctx.setTransform(ratio, 0, 0, ratio, 0, 0);
  ctx.clearRect(0, 0, c.clientWidth, c.clientHeight);
  if (!state.pair) return;
  const p = plotRect(), pair = state.pair, t = state.tile;
  ctx.fillStyle = "#ddd";
  ctx.fillRect(p.x, p.y, p.w, p.h);
  if (t) {
    ctx.save();
    ctx.beginPath();
    ctx.rect(p.x, p.y, p.w, p.h);
    ctx.clip();
    ctx.imageSmoothingEnabled = false;
    ctx.drawImage(t.image, xOf(t.j0, p), yOf(t.i0, p), xOf(t.j1, p) - xOf(t.j0, p), yOf(t.i1, p) - yOf(t.i0, p));
    ctx.restore();
  }
  state.drawnRegions = [];
  if ($("show-regions").checked) {  // the local alignments' regions
    for (const r of pair.regions || []) drawRegion(ctx, p, r, r.of, PATH_COLOURS.region, 2);
    if ($("show-chosen").checked && state.chosenRegion)
      drawRegion(ctx, p, state.chosenRegion, "chosen", PATH_COLOURS.chosen, 1.5);
  }
  if ($("show-optimal").checked) drawPath(ctx, p, state.paths.optimal, PATH_COLOURS.optimal, 3, false);
  if ($("show-posterior").checked) drawPath(ctx, p, state.paths.posterior, PATH_COLOURS.posterior, 1.4, true);
  if ($("show-chosen").checked && state.chosenPath) {
    drawPath(ctx, p, state.chosenPath, PATH_COLOURS.chosen, 1.3, false);
    const [i, j] = state.chosenCell;
    ctx.strokeStyle = PATH_COLOURS.chosen;
    ctx.lineWidth = 2;
    ctx.beginPath();
    ctx.arc(xOf(j + 0.5, p), yOf(i + 0.5, p), 6, 0, 2 * Math.PI);
    ctx.stroke();
  }
  drawAxes(ctx, p);
  drawColourBar(ctx, p);
}
function drawAxes(ctx, p) {
  const v = state.view, pair = state.pair;
  ctx.strokeStyle = "#333";
  ctx.lineWidth = 1;
  ctx.strokeRect(p.x - 0.5, p.y - 0.5, p.w + 1, p.h + 1);
  ctx.fillStyle = "#222";
  ctx.font = "12px 'DejaVu Sans', sans-serif";
  const ticks = (a0, a1, pixels) => {
    const step = niceStep(a1 - a0, Math.max(2, Math.floor(pixels / 70)));
    const out = [];
    for (let k = Math.ceil((a0 - 0.5) / step) * step; k + 0.5 <= a1; k += step) out.push(k);
    return out;
  };
  ctx.textAlign = "center";
  ctx.textBaseline = "top";
  for (const j of ticks(v.j0, v.j1, p.w)) {
    const x = xOf(j + 0.5, p);
    ctx.fillRect(x, p.y + p.h, 1, 5);
    ctx.fillText(String(j), x, p.y + p.h + 7);
  }
  ctx.textAlign = "right";
  ctx.textBaseline = "middle";
  for (const i of ticks(v.i0, v.i1, p.h)) {
    const y = yOf(i + 0.5, p);
    ctx.fillRect(p.x - 5, y, 5, 1);
    ctx.fillText(String(i), p.x - 8, y);
  }
  ctx.font = "13px 'DejaVu Sans', sans-serif";
  ctx.textAlign = "center";
  ctx.textBaseline = "bottom";
  ctx.fillText(`${pair.t.name || "T"}: residues consumed (0 to ${pair.grid.cols - 1})`, p.x + p.w / 2, p.y + p.h + 42);
  ctx.save();
  ctx.translate(16, p.y + p.h / 2);
  ctx.rotate(-Math.PI / 2);
  ctx.textBaseline = "middle";
  ctx.fillText(`${pair.s.name || "S"}: residues consumed (0 to ${pair.grid.rows - 1})`, 0, 0);
  ctx.restore();
}
function drawColourBar(ctx, p) {
  const x = p.x + p.w + 14, w = 14, range = state.range;
  for (let k = 0; k < p.h; k++) {  // 0 at the bottom, as the plot tool's bar
    const c = Math.floor((1 - k / p.h) * 255.999);
    ctx.fillStyle = `rgb(${COLOURS[3 * c]},${COLOURS[3 * c + 1]},${COLOURS[3 * c + 2]})`;
    ctx.fillRect(x, p.y + k, w, 1.5);
  }
  ctx.strokeStyle = "#333";
  ctx.strokeRect(x - 0.5, p.y - 0.5, w + 1, p.h + 1);
  ctx.fillStyle = "#222";
  ctx.font = "11px 'DejaVu Sans', sans-serif";
  ctx.textAlign = "left";
  ctx.textBaseline = "middle";
  const step = niceStep(range, 6);
  for (let b = 0; b <= range + 1e-9; b += step) {
    const y = p.y + p.h - b / range * p.h;
    ctx.fillRect(x + w, y, 4, 1);
    ctx.fillText(b === 0 ? "0" : (b >= range - 1e-9 ? `≥${b}` : String(b)), x + w + 6, y);
  }
  ctx.save();
  ctx.translate(x + w + 44, p.y + p.h / 2);
  ctx.rotate(Math.PI / 2);
  ctx.textAlign = "center";
  ctx.font = "12px 'DejaVu Sans', sans-serif";
  ctx.fillText(`bits above the best cell (${state.pair.best_cell_bits.toFixed(1)} bits)`, 0, 0);
  ctx.restore();
}

