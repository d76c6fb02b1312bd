// The explorer's page, its second half: the cell under the pointer, a click
// for the best alignment through a cell, the alignment shown below the
// landscape (its message length beside the best one's, the confidence of
// each column) and its download; the start. landscape.js comes first.
"use strict";

// ---- the pointer: the cell under it, and a click for the alignment through it ----
function pointerCell(ev) {
  const c = $("landscape"), r = c.getBoundingClientRect();
  return cellAt(ev.clientX - r.left - c.clientLeft, ev.clientY - r.top - c.clientTop);
}
async function hover(cell) {
  if (state.hoverBusy) { state.hoverNext = cell; return; }
  state.hoverBusy = true;
  try {
    const c = await getJson(`/api/cell?i=${cell[0]}&j=${cell[1]}`);
    const pair = state.pair;
    const res = (x, name) => x ? `${name} ${x.position} ${x.residue}` : `${name} (before its first residue)`;
    const bits = c.bits === null ? "no alignment passes" : `${c.bits.toFixed(2)} bits above the best cell`;
    $("hover").textContent =
      `cell (${c.i}, ${c.j}) · ${res(c.s, pair.s.name || "S")} · ${res(c.t, pair.t.name || "T")} · ${bits}`;
  } catch (e) {
    $("hover").textContent = e.message;
  } finally {
    state.hoverBusy = false;
    if (state.hoverNext) { const next = state.hoverNext; state.hoverNext = null; hover(next); }
  }
}
async function choose(cell) {
  const started = performance.now();
  try {
    const a = await getJson(`/api/through?i=${cell[0]}&j=${cell[1]}`);
    state.chosenCell = cell;
    state.chosenPath = pathPoints(a.path);
    state.chosenRegion = a.region;
    show(a, { of: "cell", i: cell[0], j: cell[1] });
    draw();
    marks.throughMs = performance.now() - started;
    document.body.dataset.throughMs = marks.throughMs.toFixed(1);
    document.body.dataset.shownCell = `${cell[0]},${cell[1]}`;
  } catch (e) {
    showError(e.message);
  }
}
async function showCriterion(which) {
  try {
    show(await getJson(`/api/alignment?of=${which}`), { of: which });
  } catch (e) {
    showError(e.message);
  }
}

// ---- the hypothesis and the regions of local alignments ----
// A region's residues in each sequence, 1-based and inclusive.
function regionText(r) {
  const pair = state.pair;
  const part = (x, name) => (x[1] > x[0] ? `${name} ${x[0] + 1}–${x[1]}` : `no residue of ${name}`);
  return `${part(r.s, pair.s.name || "S")}, ${part(r.t, pair.t.name || "T")}`;
}
function hypothesisLine(pair) {
  return pair.mode === pair.sent ? `${pair.mode} alignment` : `${pair.mode}: ${pair.sent} alignment sent`;
}
function showHypothesis(pair) {
  if (pair.mode === "global") return;  // the page as it has always been
  const h = $("hypothesis");
  h.hidden = false;
  $("regions-row").hidden = false;
  const sent = pair.mode === "auto" ? ` (the automatic choice: the ${pair.sent} hypothesis sent)` : "";
  const lines = [`Hypothesis: ${pair.mode}${sent}.`];
  for (const r of pair.regions) lines.push(`${r.title[0].toUpperCase() + r.title.slice(1)}: ${regionText(r)}.`);
  if (pair.sent === "local") lines.push("Regions: 1-based, inclusive; the residues outside them are the flanks.");
  h.textContent = lines.join(" ");
}

// ---- the alignment below the landscape ----
function confidenceChar(p) {
  if (p >= 0.95) return "*";
  return String(Math.max(0, Math.min(9, Math.round(p * 10))));
}
const escapeHtml = (t) => t.replace(/&/g, "&amp;").replace(/</g, "&lt;").replace(/>/g, "&gt;");
function show(a, what) {
  const pair = state.pair;
  state.shown = what;
  const before = `: ${a.i} residues of ${pair.s.name || "S"} and ${a.j} of ${pair.t.name || "T"} before it`;
  $("alignment-title").textContent = a.title[0].toUpperCase() + a.title.slice(1) + (a.kind === "cell" ? before : "");
  const [rowS, rowT] = a.rows;
  const n = a.path.length;
  let same = 0, opens = 0;
  for (let k = 0; k < n; k++) {
    if (a.path[k] === "m" && rowS[k] === rowT[k]) same++;
    if (a.path[k] !== "m" && (k === 0 || a.path[k - 1] !== a.path[k])) opens++;
  }
  const mean = a.confidence.reduce((x, y) => x + y, 0) / Math.max(1, n);
  const d = a.difference_bits;
  const fig = $("alignment-figures");
  fig.textContent = "";
  const own = a.kind === "cell" ? `at K=${a.K}` : `as the ${a.kind} criterion states it, at its K=${a.own_K}`;
  fig.append(`I(A,<S,T>) = ${a.bits.toFixed(2)} bits ${own}; ` +
             `the best alignment at K=${a.K}: ${a.best_bits.toFixed(2)} bits; difference `);
  const diff = document.createElement("b");
  diff.textContent = `${d >= 0 ? "+" : "−"}${Math.abs(d).toFixed(2)} bits`;
  diff.className = d > 0.005 ? "worse" : "better";
  fig.append(diff, document.createElement("br"),
    `${n} columns, ${(100 * same / Math.max(1, n)).toFixed(1)}% identical pairs, ${opens} gap openings; ` +
    `column confidence (posterior probability at K=${a.K}, * for 0.95 and above): mean ${mean.toFixed(3)}`);
  if (a.region) {
    const region = document.createElement("span");
    region.id = "alignment-region";
    region.textContent = `local alignment: region ${regionText(a.region)} (1-based, inclusive)`;
    fig.append(document.createElement("br"), region);
  }

  const names = [pair.s.name || "S", pair.t.name || "T"];
  const width = Math.max(names[0].length, names[1].length, "confidence".length) + 2;
  const digits = String(Math.max(pair.s.residues.length, pair.t.residues.length)).length;
  const pad = (s, w) => s + " ".repeat(Math.max(0, w - s.length));
  const num = (x) => " ".repeat(Math.max(0, digits - String(x).length)) + String(x);
  // One string of HTML: the confidence line in runs of one character, each a
  // span of the class that colours it (c0..c9, cs for *); the exact value of
  // a column shows where the pointer rests (see wire).
  const html = [];
  const done = [0, 0];
  for (let start = 0; start < n; start += LINE) {
    const end = Math.min(n, start + LINE);
    [rowS, rowT].forEach((row, k) => {
      const part = row.slice(start, end);
      const residues = part.replace(/-/g, "").length;
      const first = residues ? done[k] + 1 : done[k];
      done[k] += residues;
      html.push(escapeHtml(`${pad(names[k], width)}${num(first)} ${part} ${done[k]}\n`));
    });
    html.push(`${pad("confidence", width)}${" ".repeat(digits)} `);
    for (let k = start; k < end;) {
      const c = confidenceChar(a.confidence[k]);
      let to = k + 1;
      while (to < end && confidenceChar(a.confidence[to]) === c) to++;
      html.push(`<span class="c c${c === "*" ? "s" : c}" data-from="${k}">${c.repeat(to - k)}</span>`);
      k = to;
    }
    html.push("\n\n");
  }
  state.shownConfidence = a.confidence;
  $("alignment-text").innerHTML = html.join("");
  $("download").disabled = false;
}
function download() {
  const w = state.shown;
  if (!w) return;
  const cell = w.of === "cell" ? `&i=${w.i}&j=${w.j}` : "";
  const link = document.createElement("a");
  link.href = `/api/alignment?of=${w.of}${cell}&format=${$("format").value}`;
  link.download = "";
  document.body.append(link);
  link.click();
  link.remove();
}

// ---- start ----
function wire() {
  const c = $("landscape");
  c.addEventListener("wheel", (ev) => {
    ev.preventDefault();
    const r = c.getBoundingClientRect();
    zoom(ev.deltaY < 0 ? 1.25 : 0.8, ev.clientX - r.left - c.clientLeft, ev.clientY - r.top - c.clientTop);
  }, { passive: false });
  c.addEventListener("pointerdown", (ev) => {
    state.drag = { x: ev.clientX, y: ev.clientY, moved: 0 };
    c.setPointerCapture(ev.pointerId);
  });
  c.addEventListener("pointermove", (ev) => {
    if (state.drag) {
      const dx = ev.clientX - state.drag.x, dy = ev.clientY - state.drag.y;
      state.drag.moved += Math.abs(dx) + Math.abs(dy);
      state.drag.x = ev.clientX;
      state.drag.y = ev.clientY;
      if (state.drag.moved > 4) {
        c.classList.add("dragging");
        pan(dx, dy);
      }
      return;
    }
    const cell = pointerCell(ev);
    if (cell) hover(cell);
  });
  c.addEventListener("pointerup", (ev) => {
    const d = state.drag;
    state.drag = null;
    c.classList.remove("dragging");
    if (d && d.moved <= 4) {
      const cell = pointerCell(ev);
      if (cell) choose(cell);
    }
  });
  c.addEventListener("keydown", (ev) => {
    const keys = {
      "+": () => zoom(1.25), "=": () => zoom(1.25), "-": () => zoom(0.8), "0": () => { wholeGrid(); viewChanged(); },
      ArrowLeft: () => pan(60, 0), ArrowRight: () => pan(-60, 0), ArrowUp: () => pan(0, 60), ArrowDown: () => pan(0, -60),
    };
    if (keys[ev.key]) { ev.preventDefault(); keys[ev.key](); }
  });
  $("zoom-in").onclick = () => zoom(1.6);
  $("zoom-out").onclick = () => zoom(1 / 1.6);
  $("zoom-all").onclick = () => { wholeGrid(); viewChanged(); };
  for (const id of ["show-optimal", "show-posterior", "show-chosen", "show-regions"]) $(id).onchange = draw;
  $("open-optimal").onclick = () => showCriterion("optimal");
  $("open-posterior").onclick = () => showCriterion("posterior");
  $("range").onchange = () => {
    const x = Number($("range").value);
    if (!(x > 0)) { $("range").value = state.range; return; }
    state.range = x;
    if (state.tile) colour(state.tile);
    draw();
  };
  $("download").onclick = download;
  $("alignment-text").addEventListener("mousemove", (ev) => {
    const span = ev.target.closest && ev.target.closest("span.c");
    if (!span) return;
    const r = document.caretRangeFromPoint ? document.caretRangeFromPoint(ev.clientX, ev.clientY) : null;
    const offset = r && span.contains(r.startContainer) ? Math.min(r.startOffset, span.textContent.length - 1) : 0;
    const k = Number(span.dataset.from) + offset;
    span.title = `column ${k + 1}: ${state.shownConfidence[k].toFixed(3)}`;
  });
  window.addEventListener("resize", viewChanged);
}

async function start() {
  wire();
  try {
    const pair = await getJson("/api/pair");
    state.pair = pair;
    state.range = pair.range;
    $("range").value = pair.range;
    state.paths = { optimal: pathPoints(pair.paths.optimal.path), posterior: pathPoints(pair.paths.posterior.path) };
    const ns = pair.s.residues.length, nt = pair.t.residues.length;
    document.title = `${pair.s.name || "S"} / ${pair.t.name || "T"} · seqcorvane-explore`;
    $("title").textContent = `${pair.s.name || "S"} (${ns}) and ${pair.t.name || "T"} (${nt})`;
    $("summary").textContent =
      `landscape at distance K=${pair.K} (${pair.criterion} criterion, ${hypothesisLine(pair)}); ` +
      `best cell ${pair.best_cell_bits.toFixed(2)} bits; ` +
      `best alignment at K=${pair.K} ${pair.best_at_K.bits.toFixed(2)} bits`;
    $("label-optimal").textContent = `optimal (K=${pair.paths.optimal.K}, ${pair.paths.optimal.bits.toFixed(1)} bits)`;
    const post = pair.paths.posterior;
    $("label-posterior").textContent = `posterior (K=${post.K}, ${post.bits.toFixed(1)} bits)`;
    showHypothesis(pair);
    for (const f of pair.formats) {
      const o = document.createElement("option");
      o.value = o.textContent = f;
      $("format").append(o);
    }
    wholeGrid();
    draw();
    await fetchTile();
  } catch (e) {
    showError(`the pair could not be loaded: ${e.message}`);
  }
}
start();
