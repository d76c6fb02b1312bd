"""seqcorvane-explore under the local hypothesis (--mode local) on a real
domain inside unrelated flanks: the page's data names the hypothesis and the
best alignment's region, the alignments through cells carry theirs, all as
the library's calls through the module give them; the corners no region
passes; downloads carry the hypothesis and read back through --ivalue
--mode local; the automatic choice takes the hypothesis the criterion sent;
the global default states no region."""
import json
import os
import re
import subprocess

import pytest

import seqcorvane
from seqcorvane import _seqcorvane
from seqcorvane.explore import Exploration, read_sequence
from test_server import BINARY, DATA, SOURCE, Explorer

EXAMPLES = os.path.join(SOURCE, "examples")


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    """HBB_HUMAN, and HBA_MACFA inside stretches of the fruit fly's sevenless
    receptor, which the beta globin has nothing in common with."""
    read = lambda name: read_sequence(os.path.join(EXAMPLES, name), [])[1]  # noqa: E731
    hbb, hba, sevenless = read("hbb_human.fa"), read("hba_macfa.fa"), read("7less_drome.fa")
    d = tmp_path_factory.mktemp("local")
    (d / "s.fa").write_text(f">HBB_HUMAN\n{hbb}\n")
    (d / "t.fa").write_text(f">EMBEDDED_HBA\n{sevenless[200:350]}{hba}{sevenless[1200:1320]}\n")
    return str(d / "s.fa"), str(d / "t.fa"), range(150, 150 + len(hba))


@pytest.fixture(scope="module")
def library(files):
    models = seqcorvane.Models(DATA)
    s, t = read_sequence(files[0], []), read_sequence(files[1], [])
    K = seqcorvane.align(s[1], t[1], criterion="marginal", models=models, mode="local").K
    return {"s": s, "t": t, "models": models, "K": K,
            "paths": seqcorvane.CellPaths(s[1], t[1], K, models, mode="local"),
            "confidence": seqcorvane.ColumnConfidence(s[1], t[1], K, models, mode="local"),
            "landscape": seqcorvane.Landscape(s[1], t[1], K, models, mode="local")}


@pytest.fixture(scope="module")
def explorer(files):
    x = Explorer("--mode", "local", files=files[:2])
    yield x
    code, err = x.stop()
    assert code == 0 and "(marginal criterion, local hypothesis); Ctrl-C stops\n" in err, err


def region_of(library, path):
    """The library's region of a path at K, as the page's data gives it."""
    lib = library
    r = _seqcorvane._cell_alignment_result(*lib["s"], *lib["t"], lib["models"], lib["K"], path, 0.0, 0.0, [],
                                           "local").region
    return {"s": [r.s.start, r.s.stop], "t": [r.t.start, r.t.stop]}


def test_pair_names_the_hypothesis_and_the_best_alignments_region(explorer, library, files):
    pair = explorer.json("/api/pair")
    assert (pair["mode"], pair["sent"], pair["K"]) == ("local", "local", library["K"])
    best = library["paths"].best()
    assert pair["best_at_K"] == {"path": best.path, "bits": best.bits}
    assert pair["best_cell_bits"] == library["landscape"].best_bits
    region = region_of(library, best.path)
    assert pair["regions"] == [dict(region, of="best", title=f"region of the best alignment at K={library['K']}")]
    domain = files[2]
    assert domain.start <= region["t"][0] < region["t"][1] <= domain.stop
    assert region["t"][1] - region["t"][0] > len(domain) - 10
    s, t, m = library["s"][1], library["t"][1], library["models"]
    for which in ("optimal", "posterior"):
        r = seqcorvane.align(s, t, criterion=which, models=m, mode="local")
        got = pair["paths"][which]
        assert (got["path"], got["sent"]) == (r.path, "local")
        assert got["region"] == {"s": [r.region.s.start, r.region.s.stop], "t": [r.region.t.start, r.region.t.stop]}


def test_alignments_through_cells_carry_their_regions(explorer, library):
    rows, cols = library["landscape"].shape
    best = library["paths"].best().bits
    for i, j in ((0, 0), (40, 200), (rows - 1, cols - 1), (73, 230), (140, 20)):
        a = explorer.json(f"/api/through?i={i}&j={j}")
        want = library["paths"].best(i, j)
        assert (a["path"], a["bits"], a["best_bits"]) == (want.path, want.bits, best)
        assert a["region"] == region_of(library, want.path)
        assert a["confidence"] == library["confidence"].of(want.path)
        cell = explorer.json(f"/api/cell?i={i}&j={j}")
        assert cell["bits"] == library["landscape"].bits_above(i, j)
    # No region passes the corners (0, |T|) and (|S|, 0).
    for i, j in ((0, cols - 1), (rows - 1, 0)):
        assert explorer.json(f"/api/cell?i={i}&j={j}")["bits"] is None
        status, _, body = explorer.request(f"/api/through?i={i}&j={j}")
        assert (status, json.loads(body)["error"]) == (
            400, f"no local alignment passes cell ({i},{j}): a region begins with a match and ends after one")


@pytest.mark.parametrize("fmt", ["afasta", "stockholm", "json"])
def test_downloads_carry_the_hypothesis_and_read_back_locally(explorer, library, fmt, tmp_path):
    want = library["paths"].best(73, 230)
    region = region_of(library, want.path)
    status, headers, body = explorer.request(f"/api/alignment?of=cell&i=73&j=230&format={fmt}")
    assert status == 200
    text = body.decode()
    if fmt == "json":
        h = json.loads(text)["hypothesis"]
        assert (h["mode"], h["sent"], h["global_bits"]) == ("local", "local", None)
        assert h["local_bits"] == pytest.approx(library["landscape"].marginal_bits, abs=5e-4)
        assert h["region"] == {"s": [region["s"][0] + 1, region["s"][1]], "t": [region["t"][0] + 1, region["t"][1]]}
        return
    if fmt == "stockholm":
        assert "#=GF HY local, local sent\n" in text
        assert f"#=GS EMBEDDED_HBA RG {region['t'][0] + 1}-{region['t'][1]}\n" in text
    path = tmp_path / re.fullmatch(r'attachment; filename="(.+)"', headers["Content-Disposition"]).group(1)
    path.write_bytes(body)
    p = subprocess.run([BINARY, "--ivalue", str(path), "--mode", "local", "--data", DATA], capture_output=True,
                       text=True, env=dict(os.environ, NO_COLOR="1"))
    assert p.returncode == 0, p.stderr
    rows = explorer.json("/api/through?i=73&j=230")["rows"]
    score = seqcorvane.score(*rows, models=library["models"], mode="local")
    assert re.search(r"I\(A,<S,T>\)\s*=\s*(\S+)", p.stdout).group(1) == f"{score.bits:.3f}"


def test_the_automatic_choice_shows_the_hypothesis_the_criterion_sent(files, library):
    x = Explorer("--mode", "auto", "--criterion", "posterior", files=files[:2])
    try:
        s, t, m = library["s"], library["t"], library["models"]
        r = seqcorvane.align(s[1], t[1], criterion="posterior", models=m, mode="auto")
        pair = x.json("/api/pair")
        assert (pair["mode"], pair["sent"], pair["K"]) == ("auto", r.sent, r.K) and r.sent == "local"
        paths = seqcorvane.CellPaths(s[1], t[1], r.K, m, mode=r.sent)
        assert x.json("/api/through?i=30&j=200")["path"] == paths.best(30, 200).path
        assert pair["regions"][0]["s"] == region_of(dict(library, K=r.K), paths.best().path)["s"]
    finally:
        code, err = x.stop()
    assert code == 0 and "(posterior criterion, auto hypothesis, local sent); Ctrl-C stops\n" in err, err


def test_the_global_default_states_no_region_and_bad_modes_are_refused(library):
    hbb = read_sequence(os.path.join(EXAMPLES, "hbb_human.fa"), [])
    hba = read_sequence(os.path.join(EXAMPLES, "hba_macfa.fa"), [])
    x = Exploration(hbb, hba, models=library["models"])
    pair = x.pair()
    assert (pair["mode"], pair["sent"], pair["regions"]) == ("global", "global", [])
    assert x.through(12, 9)["region"] is None and x.criterion_alignment("optimal")["region"] is None
    with pytest.raises(ValueError, match="mode is 'global', 'local' or 'auto', not 'glocal'"):
        Exploration(hbb, hba, models=library["models"], mode="glocal")
    p = subprocess.run([os.environ.get("SEQCORVANE_EXPLORE", "seqcorvane-explore"),
                        os.path.join(EXAMPLES, "hbb_human.fa"), os.path.join(EXAMPLES, "hba_macfa.fa"),
                        "--mode", "glocal"], capture_output=True, text=True, timeout=60)
    assert p.returncode == 1 and p.stderr.splitlines()[-1].startswith(
        "seqcorvane-explore: error: argument --mode: invalid choice: 'glocal'")
    with pytest.raises(ValueError, match="landscapes are of the global or the local hypothesis, not auto"):
        seqcorvane.Landscape(hbb[1], hba[1], 50, library["models"], mode="auto")
