"""The Python module against the single program: the same numbers for the
bundled examples under every criterion, the same scores as --ivalue, the
formats read back by Biopython, json and --ivalue, errors as exceptions,
many pairs at once, the verdict calibrated for composition."""
import json
import os
import pickle
import random
import re
import subprocess

import pytest

import seqcorvane

SOURCE = os.environ.get("SEQCORVANE_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
BINARY = os.environ.get("SEQCORVANE_BINARY", "seqcorvane")
EXAMPLES = os.path.join(SOURCE, "examples")


class Named:
    """A sequence with a name, as a SeqRecord offers one (id, seq)."""

    def __init__(self, name, seq):
        self.id, self.seq = name, seq


def record(name):
    with open(os.path.join(EXAMPLES, name)) as f:
        lines = f.read().splitlines()
    return lines[0][1:].split()[0], "".join(l.strip() for l in lines[1:])


def run(args, cwd):
    env = dict(os.environ, NO_COLOR="1")
    p = subprocess.run([BINARY] + args, cwd=cwd, env=env, capture_output=True, text=True)
    assert p.returncode == 0, p.stderr
    return p.stdout


def after(text, label):
    m = re.search(re.escape(label) + r"\s*(\S+)", text)
    assert m, label
    return m.group(1)


@pytest.mark.parametrize("criterion", ["optimal", "marginal", "posterior"])
def test_results_are_the_single_programs(criterion, tmp_path):
    (ns, s), (nt, t) = record("hbb_human.fa"), record("hba_macfa.fa")
    r = seqcorvane.align(s, t, criterion=criterion)
    out = run([os.path.join(EXAMPLES, "hbb_human.fa"), os.path.join(EXAMPLES, "hba_macfa.fa"), "--criterion",
               criterion, "-o", "p"], tmp_path)
    assert after(out, "COMPRESSION wrt null =") == f"{r.compression_bits:.6g}"
    assert after(out, "NULL(<S,T>)      =") == f"{r.null_bits:.3f}"
    assert r.verdict == ("related" if r.compression_bits > 0 else "not related")
    if criterion == "marginal":
        assert r.path == "" and r.column_confidence is None and r.alignment_bits is None
        assert after(out, "I_marginal(<S,T>) =") == f"{r.marginal_bits:.3f}"
        assert str(r.K) == after(out, "SeqDist n =")
        return
    with open(tmp_path / "p.afasta") as f:
        text = f.read()
    rows = ["".join(part.splitlines()[1:]) for part in text.split("\n\n")]
    assert rows == [r.row_s, r.row_t]
    assert r.row_s.replace("-", "") == s and r.row_t.replace("-", "") == t
    if criterion == "posterior":
        assert len(r.column_confidence) == len(r.path)
        assert after(out, "I(A,<S,T>)   =") == f"{r.score.bits:.3f}"
        assert after(out, "at SeqDist n =").rstrip(":") == str(r.K)
    else:
        assert after(out, "I( best-A ,<S,T>)  =") == f"{r.alignment_bits:.3f}"


def test_scores_are_the_ivalue_modes(tmp_path):
    rows = ("HEAGAWGHE-E", "--P-AW-HEAE")
    (tmp_path / "a.afasta").write_text(f">aligned seq 1\n{rows[0]}\n\n>aligned seq 2\n{rows[1]}\n")
    out = run(["--ivalue", "a.afasta"], tmp_path)
    sc = seqcorvane.score(*rows)
    assert after(out, "I(A,<S,T>)   =") == f"{sc.bits:.3f}"
    assert after(out, "I(A)         =") == f"{sc.path_bits:.3f}"
    assert after(out, "COMPRESSION wrt null =") == f"{sc.compression_bits:.3f}"
    assert after(out, "SeqDist n =") == str(sc.K)


def test_problems_raise_exceptions_not_crashes():
    with pytest.warns(seqcorvane.ResidueWarning, match="dropped 1 character"):
        seqcorvane.align("ACDx", "ACD")
    with pytest.raises(ValueError, match="no standard residues"):
        seqcorvane.align("", "ACD")
    with pytest.raises(ValueError, match="criterion"):
        seqcorvane.align("ACD", "ACD", criterion="fast")
    assert seqcorvane.score("A-C", "A-D") == seqcorvane.score("AC", "AD")  # a column of two gaps, dropped
    with pytest.raises(seqcorvane.ModelError, match="is not a directory"):
        seqcorvane.Models("/nonexistent/models")
    with pytest.raises(TypeError):
        seqcorvane.align(42, "ACD")
    with pytest.raises(ValueError, match="format"):
        seqcorvane.align("ACD", "ACD", criterion="optimal").format("xml")


def test_many_pairs_equal_one_by_one():
    names = ["hbb_human.fa", "hba_macfa.fa", "myg_horse.fa", "hbb_colli.fa"]
    seqs = [record(n)[1] for n in names]
    pairs = [(seqs[i], seqs[j]) for i in range(4) for j in range(i + 1, 4)]
    many = seqcorvane.align_many(pairs, criterion="optimal", threads=2)
    for (s, t), r in zip(pairs, many):
        one = seqcorvane.align(s, t, criterion="optimal")
        assert (r.rows, r.K, r.compression_bits) == (one.rows, one.K, one.compression_bits)
    with pytest.raises(ValueError):
        seqcorvane.align_many([("ACD", "ACD"), ("", "ACD")], criterion="optimal")


def test_biopython_records_in_and_alignments_out():
    SeqRecord = pytest.importorskip("Bio.SeqRecord").SeqRecord
    Seq = pytest.importorskip("Bio.Seq").Seq
    (ns, s), (nt, t) = record("hbb_human.fa"), record("myg_horse.fa")
    r = seqcorvane.align(SeqRecord(Seq(s), id=ns), SeqRecord(Seq(t), id=nt))
    assert (r.name_s, r.name_t) == (ns, nt)
    a = r.to_biopython()
    assert [rec.id for rec in a.sequences] == [ns, nt]
    assert a[0] == r.row_s and a[1] == r.row_t
    with pytest.raises(ValueError):
        seqcorvane.align(s, t, criterion="marginal").to_biopython()


@pytest.mark.parametrize("fmt", ["fasta", "clustal", "stockholm", "json"])
def test_formats_round_trip(fmt, tmp_path):
    """Written by the program, read back by Biopython (or json) and by
    --ivalue: the same rows, names and message length."""
    (ns, s), (nt, t) = record("hbb_human.fa"), record("hba_macfa.fa")
    r = seqcorvane.align(Named(ns, s), Named(nt, t), criterion="posterior")
    out = run([os.path.join(EXAMPLES, "hbb_human.fa"), os.path.join(EXAMPLES, "hba_macfa.fa"), "--criterion",
               "posterior", "--format", fmt, "-o", "p"], tmp_path)
    ext = {"fasta": ".fasta", "clustal": ".aln", "stockholm": ".sto", "json": ".json"}[fmt]
    path = tmp_path / ("p" + ext)
    assert f"Alignment ({fmt}) file written to:" in out
    assert path.read_text() == r.format(fmt)  # the program's file is the module's text
    if fmt == "json":
        d = json.loads(path.read_text())
        assert d["rows"] == [r.row_s, r.row_t]
        assert [x["name"] for x in d["sequences"]] == [ns, nt]
        assert d["compression_bits"] == pytest.approx(r.compression_bits, abs=1e-9)
        assert d["column_confidence"] == pytest.approx(r.column_confidence)
        assert d["verdict"] == r.verdict
        assert d["fitted_matches"] is True and r.fitted_matches and d["site_rates"] == []
        assert d["end_gaps_alike"] is True and r.end_gaps_alike
        return
    AlignIO = pytest.importorskip("Bio.AlignIO")
    a = AlignIO.read(str(path), fmt)
    assert [str(rec.seq) for rec in a] == [r.row_s, r.row_t]
    assert [rec.id for rec in a] == [ns, nt]
    if fmt == "stockholm":
        pp = a[0].letter_annotations["posterior_probability"]
        assert len(pp) == len(r.row_s)
        assert all(c == "." for c, x in zip(pp, r.row_s) if x == "-")
    ivalue = run(["--ivalue", str(path)], tmp_path)
    assert after(ivalue, "I(A,<S,T>)   =") == f"{r.score.bits:.3f}"


def test_end_gaps_priced_as_the_machine_does():
    """end_gaps_alike=False: the pair's last residue goes back in front of the
    trailing gap run; the search and the verdict are the same."""
    s = "VHLTPEEKSAVTALWGKVNVDEVGGEALGRLLVVYPWTQRFFESFGDLSTPDAVMGNPKVKAHGKKVLGA"  # HBB_HUMAN 1-70
    t = "VLSPADKTNVKAAWGKVGGHAGEYGAEALERMFLSFPTTKTYFPHFDLSHGSAQVKGHGKKVADALTLAV"  # HBA_MACFA 1-70
    r = seqcorvane.align(s, t, criterion="posterior")
    m = seqcorvane.align(s, t, criterion="posterior", end_gaps_alike=False)
    assert r.end_gaps_alike and not m.end_gaps_alike
    assert r.row_s.endswith("GA-----") and m.row_s.endswith("G-----A")
    assert (m.K, m.compression_bits) == (r.K, r.compression_bits)
    assert [x.rows for x in seqcorvane.align_many([(s, t)], end_gaps_alike=False)] == [m.rows]


@pytest.mark.parametrize("criterion", ["optimal", "marginal", "posterior"])
def test_calibrated_verdict_as_the_program_writes_it(criterion, tmp_path):
    (_, hbb), (_, hba) = record("hbb_human.fa"), record("hba_macfa.fa")
    r = seqcorvane.align(hbb, hba, criterion=criterion)
    c = r.calibrated
    assert isinstance(c, seqcorvane.Calibrated) and c.related and c.compression_bits > 20
    assert c.compression_bits == pytest.approx(c.null_bits - c.bits, abs=1e-9)
    if criterion == "posterior":  # its verdict is the calibrated one
        assert r.compression_bits == c.compression_bits and r.related == c.related
    for name, text in (("s.fa", hbb), ("t.fa", hba)):
        (tmp_path / name).write_text(f">{name[0]}\n{text}\n")
    program = json.loads(run(["s.fa", "t.fa", "--criterion", criterion, "--format", "json", "--stdout",
                              "--no-landscape"], tmp_path))["calibrated"]
    assert program["K"] == c.K and program["verdict"] == "related"
    for key, value in (("null_bits", c.null_bits), ("bits", c.bits), ("compression_bits", c.compression_bits)):
        assert program[key] == pytest.approx(value, abs=1e-9)
    back = pickle.loads(pickle.dumps(r))
    assert back == r and back.calibrated == c


def test_composition_alone_earns_no_calibrated_compression():
    # Two random sequences, each residue 1/20: far from the null model's
    # frequencies, so its verdict finds them related; the calibrated one not.
    rng = random.Random(7)
    s = "".join(rng.choice(seqcorvane.RESIDUES) for _ in range(1000))
    t = "".join(rng.choice(seqcorvane.RESIDUES) for _ in range(1000))
    r = seqcorvane.align(s, t, criterion="marginal")
    assert r.related and r.calibrated.compression_bits < 0
    assert not seqcorvane.align(s, t, criterion="posterior").related
