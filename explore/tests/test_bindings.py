"""The module's calls the explorer stands on: the landscape at a distance and
its regions, the best alignments through cells, the column confidences of
any path, a path through a cell as a result; refusals as ValueError."""
import gc
import json
import os
import struct

import pytest

import seqcorvane
from seqcorvane import _seqcorvane

SOURCE = os.environ.get("SEQCORVANE_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
S = "MVHLTPEEKSAVTALWGKVNVDEVGGEALGRLLVVYPWTQRFFESFGDLSTPDAVMGNPKVKAHGKKVLGAFSDGLAHL"
T = "MVLSPADKTNVKAAWGKVGAHAGEYGAEALERMFLSFPTTKTYFPHFDLSHGSAQVKGHGKKVADALTNAVAHV"


@pytest.fixture(scope="module")
def models():
    return seqcorvane.Models(os.path.join(SOURCE, "data"))


def test_landscape_at_the_marginal_distance(models):
    r = seqcorvane.align(S, T, criterion="marginal", models=models)
    land = seqcorvane.Landscape(S, T, r.K, models)
    assert land.shape == (len(S) + 1, len(T) + 1) and land.K == r.K
    assert land.best_bits == pytest.approx(r.marginal_bits, rel=1e-12)
    rows, cols, data = land.blocks(0, len(S) + 1, 0, len(T) + 1, 10, 7)
    values = struct.unpack(f"={rows * cols}f", data)
    assert (rows, cols) == (10, 7) and min(values) == 0 and all(v >= 0 for v in values)
    # Each block holds the least value of its cells.
    full = land.blocks(0, len(S) + 1, 0, len(T) + 1, len(S) + 1, len(T) + 1)
    cells = struct.unpack(f"={(len(S) + 1) * (len(T) + 1)}f", full[2])
    assert cells[5 * (len(T) + 1) + 9] == land.bits_above(5, 9)
    assert values[0] == min(cells[i * (len(T) + 1) + j] for i in range((len(S) + 1) // 10)
                            for j in range((len(T) + 1) // 7))
    with pytest.raises(ValueError, match=rf"cell \({len(S) + 1},0\) is outside the grid of 0..{len(S)} by 0..{len(T)}"):
        land.bits_above(len(S) + 1, 0)
    with pytest.raises(ValueError, match="is not a part of the grid"):
        land.blocks(0, 0, 0, 5, 1, 1)


def test_cell_paths_keep_their_models_and_refuse_cells_outside(models):
    paths = seqcorvane.CellPaths(S, T, 60, seqcorvane.Models(os.path.join(SOURCE, "data")))
    gc.collect()
    b = paths.best(40, 30)
    assert isinstance(b, seqcorvane.Through) and b.bits == pytest.approx(b.msg_len / 0.6931471805599453)
    assert b.path.count("m") + b.path.count("d") == len(S) and b.path.count("m") + b.path.count("i") == len(T)
    assert paths.best(0, 0).bits <= b.bits
    with pytest.raises(ValueError, match=rf"cell \(0,{len(T) + 1}\) is outside the grid of 0..{len(S)} by 0..{len(T)}"):
        paths.best(0, len(T) + 1)
    with pytest.raises(ValueError, match="distance 0 is outside 1..1000"):
        seqcorvane.CellPaths(S, T, 0, models)


def test_column_confidences_and_a_path_as_a_result(models):
    opt = _seqcorvane._align("s", S, "t", T, models, "optimal", True, 1, True)
    conf = seqcorvane.ColumnConfidence(S, T, opt.K, models)
    assert conf.of(opt.path) == pytest.approx(opt.column_confidence, abs=1e-6)
    with pytest.raises(ValueError, match=f"the path uses {len(S)} and {len(T) + 1} residues of sequences of "
                                         f"{len(S)} and {len(T)}"):
        conf.of(opt.path + "i")
    with pytest.raises(ValueError, match="column 1 of the path is 'x'"):
        conf.of("x" + opt.path[1:])
    land = seqcorvane.Landscape(S, T, opt.K, models)
    b = seqcorvane.CellPaths(S, T, opt.K, models).best(20, 50)
    r = _seqcorvane._cell_alignment_result("HBB", S, "HBA", T, models, opt.K, b.path, b.msg_len,
                                           land.best_msg_len, conf.of(b.path))
    j = json.loads(r.format("json"))
    assert j["criterion"] == "marginal" and j["marginal_K"] == opt.K
    assert j["alignment_bits"] == b.bits and j["marginal_bits"] == land.best_bits
    assert j["column_confidence"] == conf.of(b.path)
    assert j["compression_bits"] == pytest.approx(j["null_bits"] - land.best_bits, abs=1e-9)


def test_local_landscape_paths_and_confidences(models):
    flanked = "PNGSWQRTEDCSTMNA" + T + "GGSPTWQRNDSEKC"
    r = seqcorvane.align(S, flanked, criterion="marginal", models=models, mode="local")
    land = seqcorvane.Landscape(S, flanked, r.K, models, mode="local")
    assert land.mode == "local" and seqcorvane.Landscape(S, T, 60, models).mode == "global"
    assert land.marginal_bits == pytest.approx(r.marginal_bits, rel=1e-9)
    assert land.best_bits > land.marginal_bits  # no cell lies on every region
    paths = seqcorvane.CellPaths(S, flanked, r.K, models, mode="local")
    best = paths.best()
    rows, cols = land.shape
    assert min(paths.best(i, j).bits for i in range(0, rows, 7) for j in range(0, cols, 7)
               if (i, j) not in ((0, cols - 1), (rows - 1, 0))) >= best.bits
    opt = _seqcorvane._align("s", S, "t", flanked, models, "optimal", True, 1, True, "local")
    conf = seqcorvane.ColumnConfidence(S, flanked, opt.K, models, mode="local")
    assert conf.of(opt.path) == pytest.approx(opt.column_confidence, abs=1e-6)
    j = json.loads(_seqcorvane._cell_alignment_result("s", S, "t", flanked, models, r.K, best.path, best.msg_len,
                                                      land.marginal_msg_len, conf.of(best.path), "local")
                   .format("json"))
    assert j["hypothesis"]["mode"] == "local" and j["hypothesis"]["region"]["t"][0] > 1
    for make in (lambda: seqcorvane.CellPaths(S, T, 60, models, mode="auto"),
                 lambda: seqcorvane.ColumnConfidence(S, T, 60, models, mode="auto")):
        with pytest.raises(ValueError, match="are of the global or the local hypothesis, not auto"):
            make()
    with pytest.raises(ValueError, match="mode is 'global', 'local' or 'auto', not 'x'"):
        seqcorvane.CellPaths(S, T, 60, models, mode="x")
