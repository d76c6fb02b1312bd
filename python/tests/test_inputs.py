"""What a user hands the module: every kind of sequence gives the result of
the same residues as str; the residue filter drops what the programs drop,
with a warning that counts it, and fails only when nothing is left; every
error names the module's own parameter, never a private call or a
program's option, and no message loses a character."""
import os
import pickle
import re
import subprocess
import warnings

import pytest

import seqcorvane

SOURCE = os.environ.get("SEQCORVANE_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
S = "MVHLTPEEKSAVTALWGKVNVDEVGGEALGRLLVVYPWTQRFFESFGDLSTPDAVMGNPKVKAHGKKVLGA"
T = "MVLSPADKTNVKAAWGKVGAHAGEYGAEALERMFLSFPTTKTYFPHFDLSHGSAQVKGHGKKVADALTLAV"
FILTER = "upper-case residue letters (ACDEFGHIKLMNPQRSTVWY)"


def same_alignment(a, b):
    return (a.rows, a.K, a.compression_bits) == (b.rows, b.K, b.compression_bits)


def no_warning(call, *args, **kwargs):
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        return call(*args, **kwargs)


def test_every_kind_of_sequence_aligns_as_its_residues():
    Seq = pytest.importorskip("Bio.Seq")
    SeqRecord = pytest.importorskip("Bio.SeqRecord").SeqRecord
    plain = seqcorvane.align(S, T, criterion="optimal")
    kinds = [S.encode(), bytearray(S.encode()), memoryview(S.encode()), Seq.Seq(S), Seq.MutableSeq(S),
             SeqRecord(Seq.Seq(S), id="HBB")]
    for kind in kinds:
        r = no_warning(seqcorvane.align, kind, T, criterion="optimal")
        assert same_alignment(r, plain), type(kind)
        assert r.name_s == ("HBB" if isinstance(kind, SeqRecord) else "s")
    # Both sides, and the scoring of rows.
    r = seqcorvane.align(SeqRecord(Seq.Seq(S), id="A"), Seq.Seq(T.encode()), criterion="optimal")
    assert same_alignment(r, plain) and (r.name_s, r.name_t) == ("A", "t")
    rows = plain.rows
    assert seqcorvane.score(*rows) == seqcorvane.score(rows[0].encode(), Seq.Seq(rows[1]))
    assert seqcorvane.score(*rows) == seqcorvane.score(SeqRecord(Seq.Seq(rows[0]), id="a"), rows[1])


def test_the_filter_drops_what_the_program_drops_with_a_warning(tmp_path):
    plain = seqcorvane.align(S, T, criterion="optimal")
    # Blanks, line ends and digits go without a word, as in a FASTA file.
    numbered = "1 " + S[:30] + "\n31 \t" + S[30:] + "\r\n"
    assert same_alignment(no_warning(seqcorvane.align, numbered, T, criterion="optimal"), plain)
    # Lower case, X, *, a letter outside the alphabet and a character of
    # another script are counted.
    dirty = "xx" + S[:10] + "*B" + S[10:] + "Å" + "\0"
    with pytest.warns(seqcorvane.ResidueWarning) as w:
        r = seqcorvane.align(dirty, T, criterion="optimal")
    assert same_alignment(r, plain)
    assert [str(x.message) for x in w] == [f"s: dropped 6 characters that are not {FILTER}"]
    assert w[0].filename == __file__  # it points at the caller's line
    SeqRecord = pytest.importorskip("Bio.SeqRecord").SeqRecord
    with pytest.warns(seqcorvane.ResidueWarning, match=re.escape(f"t ('HBA'): dropped 1 character that is not {FILTER}")):
        seqcorvane.align(S, SeqRecord(T + "X", id="HBA"), criterion="optimal")
    # The program's notice counts the same characters (of one byte each).
    ascii_dirty = dirty[:-2]
    (tmp_path / "s.fa").write_text(">s\n" + ascii_dirty + "\n")
    (tmp_path / "t.fa").write_text(">t\n" + T + "\n")
    binary = os.environ.get("SEQCORVANE_BINARY")
    if binary:
        p = subprocess.run([binary, "s.fa", "t.fa", "-o", "x"], cwd=tmp_path, capture_output=True, text=True)
        assert "'s.fa': dropped 4 characters that are not upper-case residue letters" in p.stderr
        with pytest.warns(seqcorvane.ResidueWarning, match="s: dropped 4 characters"):
            seqcorvane.align(ascii_dirty, T, criterion="optimal")
    # Nothing left: an error naming the parameter and showing the text.
    for bad, shown in (("acdx*", "'acdx*'"), ("", "it is empty"), (b"\xff\xfe", "b'\\xff\\xfe'"), ("12 34\n", "'12 34\\n'")):
        with pytest.raises(ValueError) as e:
            seqcorvane.align(S, bad)
        assert str(e.value) == f"t holds no standard residues (upper-case ACDEFGHIKLMNPQRSTVWY) to align: {shown}"


def test_score_drops_columns_as_ivalue_does():
    rows = ("HEAGAWGHE-E", "--P-AW-HEAE")
    plain = seqcorvane.score(*rows)
    # Stockholm's '.' gaps, line ends, a column of two gaps.
    assert no_warning(seqcorvane.score, "HEAGAW.GHE-E-", "--P-AW\n--HEAE-") == plain
    with pytest.warns(seqcorvane.ResidueWarning) as w:
        assert seqcorvane.score("HEAGxAWGHE-E*", "--P-AAW-HEAEA") == plain
    assert [str(x.message) for x in w] == ["row_s and row_t: dropped 2 columns holding characters that are not "
                                           f"{FILTER} or gaps"]
    with pytest.raises(ValueError, match=r"row_s and row_t differ in length \(3 and 2 characters\)"):
        seqcorvane.score("ACD", "AC")
    with pytest.raises(ValueError, match="row_t holds no standard residues"):
        seqcorvane.score("ACD", "---")


BAD_CALLS = [
    # (call, exception, its message)
    (lambda: seqcorvane.score(None, None), TypeError,
     "row_s is a str, bytes, Bio.Seq.Seq or Bio.SeqRecord.SeqRecord, not NoneType"),
    (lambda: seqcorvane.score("AC", 5), TypeError, "row_t is a str, bytes, Bio.Seq.Seq or Bio.SeqRecord.SeqRecord, not int"),
    (lambda: seqcorvane.align(None, T), TypeError, "s is a str, bytes, Bio.Seq.Seq or Bio.SeqRecord.SeqRecord, not NoneType"),
    (lambda: seqcorvane.align(S, 42), TypeError, "t is a str, bytes, Bio.Seq.Seq or Bio.SeqRecord.SeqRecord, not int"),
    (lambda: seqcorvane.align(S, T, models="data"), TypeError, "models is a seqcorvane.Models or None, not str"),
    (lambda: seqcorvane.align(S, T, criterion=2), TypeError,
     "criterion is a str ('optimal', 'marginal' or 'posterior'), not int"),
    (lambda: seqcorvane.align(S, T, criterion="fast"), ValueError,
     "criterion is 'optimal', 'marginal' or 'posterior', not 'fast'"),
    (lambda: seqcorvane.align(S, T, threads="2"), TypeError, "threads is a whole number, not str"),
    (lambda: seqcorvane.align(S, T, threads=-1), ValueError, "threads is 0 (the default) to 1024, not -1"),
    (lambda: seqcorvane.align(S, T, threads=2000), ValueError, "threads is 0 (the default) to 1024, not 2000"),
    (lambda: seqcorvane.align(S, T, confidence="yes"), TypeError, "confidence is True or False, not str"),
    (lambda: seqcorvane.align(S, T, end_gaps_alike=None), TypeError, "end_gaps_alike is True or False, not NoneType"),
    (lambda: seqcorvane.iter_align([], threads=1.5), TypeError,
     "threads is a whole number or None (every core), not float"),
    (lambda: seqcorvane.iter_align([], models=1), TypeError, "models is a seqcorvane.Models or None, not int"),
    (lambda: seqcorvane.align_many([], errors="ignore"), ValueError, "errors is 'raise' or 'keep', not 'ignore'"),
    (lambda: seqcorvane.Models(3), TypeError,
     "data_dir is the path of a directory of model files (str or os.PathLike) or None, not int"),
    (lambda: seqcorvane.Models("da\0ta"), ValueError, "data_dir holds a NUL character"),
    (lambda: seqcorvane.align(S, T, criterion="marginal").format("afasta"), ValueError,
     "the marginal criterion gives no alignment to write as afasta (only as json)"),
    (lambda: seqcorvane.align(S, T, criterion="optimal").format("xml"), ValueError,
     "format is 'afasta', 'fasta', 'clustal', 'stockholm' or 'json', not 'xml'"),
]


@pytest.mark.parametrize("call,kind,message", BAD_CALLS)
def test_errors_name_the_modules_parameters(call, kind, message):
    with pytest.raises(kind) as e:
        call()
    assert type(e.value) is kind and str(e.value) == message


def test_model_errors_name_no_programs_option_and_lose_no_byte(tmp_path):
    with pytest.raises(seqcorvane.ModelError) as e:
        seqcorvane.Models(tmp_path / "absent")  # os.PathLike
    assert str(e.value) == f"model directory '{tmp_path / 'absent'}' is not a directory"
    # A byte that is not UTF-8 in the path: shown escaped, the message whole.
    with pytest.raises(seqcorvane.ModelError) as e:
        seqcorvane.Models(os.fsencode(str(tmp_path)) + b"/caf\xe9")
    assert str(e.value).endswith("/caf\\xe9' is not a directory")
    (tmp_path / "half").mkdir()
    (tmp_path / "half" / "S_double_precision.txt").write_text("1\n")
    with pytest.raises(seqcorvane.ModelError) as e:
        seqcorvane.Models(str(tmp_path / "half"))
    assert "--data" not in str(e.value) and str(tmp_path / "half") in str(e.value)
    # The models pickle as their directory, loaded again.
    m = seqcorvane.Models(os.path.join(SOURCE, "data"))
    assert pickle.loads(pickle.dumps(m)) == m and hash(pickle.loads(pickle.dumps(m))) == hash(m)


def test_no_message_names_a_private_call_or_a_programs_option():
    for call, _, _ in BAD_CALLS:
        try:
            call()
        except Exception as e:  # noqa: BLE001
            text = str(e)
            assert text and not re.search(r"standardResidues|--data|_align|incompatible function arguments", text)
