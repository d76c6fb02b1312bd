"""One pair computed once for looking at it: the landscape at one distance K,
the best alignments through every cell at K, the column confidences of any
alignment at K, and the optimal and posterior criteria's alignments.

Which K: with criterion "marginal", the marginal criterion's distance (the
distance of least marginal message length); with "posterior", the distance the
posterior criterion decodes at. Either way the landscape, the alignments
through cells and the confidences are those of the three-state machine at K
(the substitution model at K, the transitions of the priors at K), so that
they agree with one another: the best alignment through the best cell is the
best alignment at K, and every cell's value is the message length of all
alignments through it.

Which hypothesis: mode "global" (the default) aligns the sequences end to
end; "local" a region of each, the residues outside it (the flanks) sent
under the null model: the landscape is then of the alignments whose region
passes each cell, and the best alignment through a cell the best whose
region passes it. Under "auto" the criteria choose, and the landscape and the
paths are of the hypothesis the criterion's result sent (for the marginal
criterion the one of greater share, as its landscape is). A region is given
as {"s": [begin, end], "t": [begin, end]}: the residues it holds, counted
from 0, the end excluded (its path runs from cell (begin_s, begin_t) to cell
(end_s, end_t)).
"""
import concurrent.futures
import re

from .. import _seqcorvane, default_models

FORMATS = ("afasta", "fasta", "clustal", "stockholm", "json")
EXTENSIONS = {"afasta": ".afasta", "fasta": ".fasta", "clustal": ".aln", "stockholm": ".sto", "json": ".json"}
CRITERIA = ("marginal", "posterior")
MODES = ("global", "local", "auto")
# Bytes beyond the dynamic programming: the interpreter, the module, the page.
SLACK = 64 * 1024 * 1024


class InputError(Exception):
    """An input the explorer cannot use: one line for the user."""


def read_sequence(path, notices):
    """(name, residues) of the one FASTA record of the file (plain or
    gzip-compressed); notices on what the residue filter dropped go to the
    list."""
    try:
        records, leading = _seqcorvane._read_fasta(path)
    except ValueError as e:
        raise InputError(str(e)) from None
    if leading:
        notices.append(f"'{path}': dropped {leading} characters before the first header ('>'), "
                       "which belong to no record")
    if len(records) != 1:
        raise InputError(f"sequence file '{path}' holds {len(records)} records; expected exactly one")
    name, _header, text = records[0]
    dropped = _seqcorvane._dropped_characters(text)
    if dropped:
        notices.append(f"'{path}': dropped {dropped} character{'' if dropped == 1 else 's'} that are not "
                       "upper-case residue letters (ACDEFGHIKLMNPQRSTVWY)")
    residues = _seqcorvane._standard_residues(text)
    if not residues:
        raise InputError(f"sequence '{name}' in '{path}' holds no standard residues (upper-case "
                         "ACDEFGHIKLMNPQRSTVWY) to align")
    return name, residues


def memory_check(n_s, n_t, mode="global"):
    """Refuses, before any work, a pair whose exploration cannot fit in the
    memory this process may use (under the automatic choice the posterior
    criterion keeps both hypotheses' posteriors, 4 bytes a cell more)."""
    needed = _seqcorvane._explorer_memory_needed(n_s, n_t) + SLACK
    if mode == "auto":
        needed += 4.0 * (n_s + 1) * (n_t + 1)
    available = _seqcorvane._memory_available()
    if needed > available:
        raise InputError(f"exploring sequences of {n_s} and {n_t} residues needs {_seqcorvane._memory_text(needed)} "
                         f"of memory; {_seqcorvane._memory_text(available)} available")


def safe_name(text):
    """A name for a file offered for download: letters, digits, '.', '-', '_'."""
    return re.sub(r"[^A-Za-z0-9._-]", "_", text)[:60] or "S"


def rows_of(path, s, t):
    """The two gapped rows along a path of 'm', 'd', 'i'."""
    a, b = [], []
    i = j = 0
    for c in path:
        a.append(s[i] if c != "i" else "-")
        b.append(t[j] if c != "d" else "-")
        i += c != "i"
        j += c != "d"
    return "".join(a), "".join(b)


def region_of(path):
    """The region of a local alignment's path, from its first matched column
    to its last, as {"s": [begin, end], "t": [begin, end]} (0-based, the end
    excluded); None for a path without a match."""
    first, last = path.find("m"), path.rfind("m")
    if first < 0:
        return None
    before, inside = path[:first], path[first:last + 1]
    i, j = sum(c != "i" for c in before), sum(c != "d" for c in before)
    return {"s": [i, i + sum(c != "i" for c in inside)], "t": [j, j + sum(c != "d" for c in inside)]}


class Exploration:
    """The pair (name, residues) s and t computed once under the criterion
    ("marginal" or "posterior") and the hypothesis (mode "global", "local" or
    "auto"); thread-safe to read."""

    def __init__(self, s, t, criterion="marginal", models=None, mode="global"):
        if criterion not in CRITERIA:
            raise ValueError(f"criterion is 'marginal' or 'posterior', not '{criterion}'")
        if mode not in MODES:
            raise ValueError(f"mode is 'global', 'local' or 'auto', not '{mode}'")
        self.models = models or default_models()
        self.name_s, self.s = s
        self.name_t, self.t = t
        self.criterion, self.mode = criterion, mode
        memory_check(len(self.s), len(self.t), mode)
        m = self.models
        # On two threads, kept busy: the criterion's alignment (which settles
        # K and, under the automatic choice, the hypothesis) beside the other
        # criteria's, then at K the landscape (the longest), the cell paths
        # and the confidences.
        with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
            first = pool.submit(self._align, criterion, 1)
            posterior = pool.submit(self._align, "posterior", 1) if criterion != "posterior" else first
            optimal = pool.submit(self._align, "optimal", 1)
            self.K, self.sent = first.result().K, first.result().sent
            landscape = pool.submit(_seqcorvane.Landscape, self.s, self.t, self.K, m, 1, self.sent)
            paths = pool.submit(_seqcorvane.CellPaths, self.s, self.t, self.K, m, self.sent)
            confidence = pool.submit(_seqcorvane.ColumnConfidence, self.s, self.t, self.K, m, self.sent)
            self.results = {"optimal": optimal.result(), "posterior": posterior.result()}
            self.landscape = landscape.result()
            self.paths = paths.result()
            self.confidence = confidence.result()
        self.best = self.paths.best()

    def _align(self, criterion, threads):
        return _seqcorvane._align(self.name_s, self.s, self.name_t, self.t, self.models, criterion, False, threads,
                                  True, self.mode)

    def path_region(self, path):
        """The region of a path at K under the landscape's hypothesis: None
        under the global one."""
        return region_of(path) if self.sent == "local" else None

    @property
    def shape(self):
        """(rows, columns) of the grid: |S| + 1 by |T| + 1."""
        return self.landscape.shape

    def check_cell(self, i, j):
        rows, cols = self.shape
        if not (0 <= i < rows and 0 <= j < cols):
            raise ValueError(f"cell ({i},{j}) is outside the grid of 0..{rows - 1} by 0..{cols - 1}")

    def cell(self, i, j):
        """What lies under the pointer: the cell, its residue pair, its bits."""
        self.check_cell(i, j)
        return {
            "i": i, "j": j,
            "s": {"position": i, "residue": self.s[i - 1]} if i > 0 else None,
            "t": {"position": j, "residue": self.t[j - 1]} if j > 0 else None,
            "bits": float(self.landscape.bits_above(i, j)),
        }

    def _described(self, path, bits):
        row_s, row_t = rows_of(path, self.s, self.t)
        return {
            "path": path, "rows": [row_s, row_t], "bits": bits,
            "best_bits": self.best.bits, "difference_bits": bits - self.best.bits,
            "confidence": self.confidence.of(path), "K": self.K, "region": self.path_region(path),
        }

    def through(self, i, j):
        """The best alignment through cell (i, j) at K, its rows, message
        length beside the best at K, and column confidences."""
        self.check_cell(i, j)
        b = self.paths.best(i, j)
        out = self._described(b.path, b.bits)
        out.update(i=i, j=j, kind="cell", title=f"best alignment through cell ({i}, {j})")
        return out

    def criterion_alignment(self, which):
        """The optimal or the posterior criterion's alignment, described as
        through() describes one (its message length as that criterion
        states it, at its own distance)."""
        r = self.results[which]
        bits = r.alignment_bits if which == "optimal" else r.score.bits
        out = self._described(r.path, bits)
        out.update(kind=which, own_K=r.K, title=f"{which} alignment (K={r.K})",
                   region=region_of(r.path) if r.sent == "local" else None)
        return out

    def pair(self):
        """What the page needs first: the names, the sequences, the grid,
        the distance and the criteria's paths."""
        rows, cols = self.shape
        paths = {}
        for which in ("optimal", "posterior"):
            r = self.results[which]
            paths[which] = {"path": r.path, "K": r.K,
                            "bits": r.alignment_bits if which == "optimal" else r.score.bits,
                            "sent": r.sent, "region": region_of(r.path) if r.sent == "local" else None}
        best = self.path_region(self.best.path)
        regions = [dict(best, of="best", title=f"region of the best alignment at K={self.K}")] if best else []
        return {
            "program": f"seqcorvane-explore {_seqcorvane.__version__}",
            "criterion": self.criterion, "mode": self.mode, "sent": self.sent, "regions": regions,
            "s": {"name": self.name_s, "residues": self.s}, "t": {"name": self.name_t, "residues": self.t},
            "grid": {"rows": rows, "cols": cols}, "K": self.K,
            "best_cell_bits": self.landscape.best_bits,
            "best_at_K": {"path": self.best.path, "bits": self.best.bits},
            "paths": paths, "formats": list(FORMATS),
        }

    def blocks(self, i0, i1, j0, j1, max_rows, max_cols):
        """(rows, cols, float32 bytes): the landscape's bits above the best
        cell over the region, the least of each block."""
        return self.landscape.blocks(i0, i1, j0, j1, max_rows, max_cols)

    def alignment_file(self, which, fmt, i=None, j=None):
        """(file name, text) of an alignment in a format: which is "cell"
        (the best through cell (i, j)), "optimal" or "posterior"."""
        if fmt not in FORMATS:
            raise ValueError(f"format is afasta, fasta, clustal, stockholm or json, not '{fmt}'")
        stem = f"{safe_name(self.name_s)}_{safe_name(self.name_t)}"
        if which == "cell":
            self.check_cell(i, j)
            b = self.paths.best(i, j)
            # Under the global hypothesis every alignment passes the first
            # cell, whose value is the least; under the local one the
            # landscape's own sum over all regions.
            marginal = self.landscape.best_msg_len if self.sent == "global" else self.landscape.marginal_msg_len
            result = _seqcorvane._cell_alignment_result(self.name_s, self.s, self.name_t, self.t, self.models, self.K,
                                                        b.path, b.msg_len, marginal, self.confidence.of(b.path), self.sent)
            stem += f"_cell_{i}_{j}"
        else:
            result = self.results[which]
            stem += "_" + which
        return stem + EXTENSIONS[fmt], result.format(fmt)
