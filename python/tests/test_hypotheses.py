"""The hypotheses from Python (mode=): a real domain placed inside unrelated
flanking residues found as a local region, against the single program's JSON
and its own rows; a local alignment scored locally; the automatic choice's
numbers against the rule it follows; the global default untouched; local
results pickled whole; many pairs under a mode; bad modes refused."""
import json
import math
import os
import pickle
import subprocess

import pytest

import seqcorvane

SOURCE = os.environ.get("SEQCORVANE_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
BINARY = os.environ.get("SEQCORVANE_BINARY", "seqcorvane")
EXAMPLES = os.path.join(SOURCE, "examples")


def residues(name):
    with open(os.path.join(EXAMPLES, name)) as f:
        return "".join(line.strip() for line in f.read().splitlines()[1:])


HBB, HBA, SEVENLESS = residues("hbb_human.fa"), residues("hba_macfa.fa"), residues("7less_drome.fa")
# The alpha globin inside stretches of the fruit fly's sevenless receptor,
# which the beta globin has nothing in common with.
LEFT, RIGHT = SEVENLESS[200:350], SEVENLESS[1200:1320]
EMBEDDED = LEFT + HBA + RIGHT
DOMAIN = range(len(LEFT), len(LEFT) + len(HBA))


def fields(r):
    return {n: getattr(r, n) for n, v in vars(type(r)).items() if isinstance(v, property)}


@pytest.fixture(scope="module")
def local():
    return {c: seqcorvane.align(HBB, EMBEDDED, criterion=c, mode="local") for c in ("optimal", "posterior")}


@pytest.mark.parametrize("criterion", ["optimal", "posterior"])
def test_an_embedded_domain_is_found_as_a_region_inside_its_flanks(local, criterion, tmp_path):
    r = local[criterion]
    assert (r.mode, r.sent, r.global_bits, r.local_weight) == ("local", "local", None, None)
    assert isinstance(r.region, seqcorvane.Region) and isinstance(r.region.t, range)
    s, t = r.region
    # Inside the flanks, holding nearly all of the domain and of the beta globin.
    assert DOMAIN.start <= t.start < t.stop <= DOMAIN.stop and len(t) >= len(HBA) - 5
    assert len(s) >= len(HBB) - 5 and s.stop <= len(HBB)
    # The flanks are gap columns around the region: the residues outside it unpaired.
    first, last = r.path.index("m"), r.path.rindex("m")
    assert set(r.path[:first]) <= {"d", "i"} and set(r.path[last + 1:]) <= {"d", "i"}
    assert r.row_t[first:last + 1].replace("-", "") == EMBEDDED[t.start:t.stop]
    assert r.row_s[first:last + 1].replace("-", "") == HBB[s.start:s.stop]
    assert r.local_bits == pytest.approx(r.alignment_bits if criterion == "optimal" else r.marginal_bits, rel=1e-12)
    assert r.compression_bits > 50 and repr(r).startswith(f"<Result {criterion} s/t mode=local K=")
    # The single program says the same, 1-based and inclusive.
    for name, text in (("s.fa", HBB), ("t.fa", EMBEDDED)):
        (tmp_path / name).write_text(f">{name[0]}\n{text}\n")
    p = subprocess.run([BINARY, "s.fa", "t.fa", "--criterion", criterion, "--mode", "local", "--format", "json",
                        "--stdout"], cwd=tmp_path, capture_output=True, text=True, env=dict(os.environ, NO_COLOR="1"))
    assert p.returncode == 0, p.stderr
    program = json.loads(p.stdout)["hypothesis"]
    assert program["region"] == {"s": [s.start + 1, s.stop], "t": [t.start + 1, t.stop]}
    assert program["local_bits"] == pytest.approx(r.local_bits, abs=5e-4)


def test_a_local_alignment_scores_locally_as_it_was_aligned(local):
    r = local["optimal"]
    sc = seqcorvane.score(*r.rows, mode="local")
    assert sc.bits == pytest.approx(r.alignment_bits, rel=1e-12) and sc.K == r.K
    assert (sc.sent, sc.region) == ("local", r.region)
    assert repr(sc).endswith(", sent='local')")
    # Globally the flanks are gaps to pay for; automatically the shorter, one bit more for the choice.
    whole = seqcorvane.score(*r.rows)
    assert (whole.sent, whole.region) == ("global", seqcorvane.Region(range(len(HBB)), range(len(EMBEDDED))))
    assert whole.bits > sc.bits + 50
    auto = seqcorvane.score(*r.rows, mode="auto")
    assert auto.sent == "local" and auto.bits == pytest.approx(sc.bits + 1, rel=1e-12)
    with pytest.raises(ValueError, match="a local alignment has at least one matched column"):
        seqcorvane.score("AC--", "--DE", mode="local")


def test_the_automatic_choice_gives_both_hypotheses_and_the_local_share():
    # A pair whose two hypotheses are close: the share lies inside (0, 1).
    s, t = HBB, HBA[:90]
    for criterion in ("marginal", "posterior"):
        r = seqcorvane.align(s, t, criterion=criterion, mode="auto")
        g, l = r.global_bits, r.local_bits
        assert r.mode == "auto" and g is not None and l is not None
        assert r.local_weight == pytest.approx(1 / (1 + 2 ** (l - g)), rel=1e-9)
        assert r.sent == ("local" if r.local_weight > 0.5 else "global")
        # Both sent at half the prior each.
        both = 1 - math.log2(2 ** -(g - min(g, l)) + 2 ** -(l - min(g, l))) + min(g, l)
        assert r.marginal_bits == pytest.approx(both, rel=1e-12)
        assert repr(r).startswith(f"<Result {criterion} s/t mode=auto sent={r.sent} K=")
        # The distance is the sent hypothesis's own.
        assert r.K == seqcorvane.align(s, t, criterion=criterion, mode=r.sent).K
    r = seqcorvane.align(s, t, criterion="optimal", mode="auto")
    assert r.local_weight is None and r.alignment_bits == pytest.approx(min(r.global_bits, r.local_bits) + 1)
    assert r.sent == ("local" if r.local_bits < r.global_bits else "global")


@pytest.mark.parametrize("criterion", ["optimal", "marginal", "posterior"])
def test_the_global_default_is_unchanged(criterion):
    r = seqcorvane.align(HBB, HBA, criterion=criterion)
    assert r == seqcorvane.align(HBB, HBA, criterion=criterion, mode="global")
    assert (r.mode, r.sent, r.local_bits, r.local_weight) == ("global", "global", None, None)
    assert r.global_bits == pytest.approx(r.marginal_bits if criterion != "optimal" else r.alignment_bits,
                                          rel=1e-12)
    if criterion == "marginal":
        assert r.region is None
    else:
        assert r.region == (range(0, len(HBB)), range(0, len(HBA)))
    assert " mode=" not in repr(r)
    sc = seqcorvane.score(*seqcorvane.align(HBB, HBA, criterion="optimal").rows)
    assert sc.sent == "global" and "sent" not in repr(sc)


@pytest.mark.parametrize("criterion", ["optimal", "marginal", "posterior"])
def test_local_and_automatic_results_pickle_whole(criterion):
    for mode in ("local", "auto"):
        r = seqcorvane.align(HBB, EMBEDDED[100:330], criterion=criterion, mode=mode)
        back = pickle.loads(pickle.dumps(r))
        assert back == r and fields(back) == fields(r) and back.format("json") == r.format("json")
        assert back != seqcorvane.align(HBB, EMBEDDED[100:330], criterion=criterion)
        if r.region is not None:
            assert pickle.loads(pickle.dumps(r.region)) == r.region
            assert type(pickle.loads(pickle.dumps(r.region))) is seqcorvane.Region
        if r.score is not None:
            assert pickle.loads(pickle.dumps(r.score)) == r.score and r.score.sent == r.sent


def test_many_pairs_under_a_mode_equal_one_by_one():
    pairs = [(HBB, EMBEDDED), (HBA, EMBEDDED[120:330]), (HBB, HBA)]
    many = seqcorvane.align_many(pairs, criterion="posterior", threads=2, mode="local")
    for (s, t), r in zip(pairs, many):
        one = seqcorvane.align(s, t, criterion="posterior", mode="local")
        assert (r.rows, r.K, r.compression_bits, r.region, r.local_bits) == \
            (one.rows, one.K, one.compression_bits, one.region, one.local_bits)
    auto = list(seqcorvane.iter_align(pairs[:2], criterion="marginal", threads=2, mode="auto"))
    assert [r.local_weight for r in auto] == [seqcorvane.align(s, t, criterion="marginal", mode="auto").local_weight
                                              for s, t in pairs[:2]]


def test_bad_modes_are_refused_naming_the_accepted_ones():
    message = "mode is 'global', 'local' or 'auto', not 'glocal'"
    for call in (lambda: seqcorvane.align(HBB, HBA, mode="glocal"),
                 lambda: seqcorvane.score("AC", "AD", mode="glocal"),
                 lambda: seqcorvane.iter_align([(HBB, HBA)], mode="glocal"),
                 lambda: seqcorvane.align_many([(HBB, HBA)], mode="glocal"),
                 lambda: seqcorvane._seqcorvane._align("s", HBB, "t", HBA, seqcorvane.default_models(), "optimal",
                                                       False, 1, True, "glocal")):
        with pytest.raises(ValueError) as e:
            call()
        assert str(e.value) == message
    with pytest.raises(TypeError, match=r"mode is a str \('global', 'local' or 'auto'\), not int"):
        seqcorvane.align(HBB, HBA, mode=1)
    with pytest.raises(ValueError, match="mode is 'global', 'local' or 'auto', not 'Local'"):
        seqcorvane.align(HBB, HBA, mode="Local")
