"""Files the program writes, read back by Biopython with the same rows,
whatever the records' names: names made one word and safe for the format
(Stockholm names that would read as markup or the end get a leading '_'),
name columns padded in characters, JSON valid whatever the header's bytes."""
import json
import os
import subprocess

import pytest

Bio = pytest.importorskip("Bio")
from Bio import AlignIO  # noqa: E402

SOURCE = os.environ.get("SEQCORVANE_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
BINARY = os.environ.get("SEQCORVANE_BINARY", "seqcorvane")
S = "MVLSPADKTNVKAAWGKVGAHAGEYGAEALERMFLSFPTTKTYFPHFDLSHGSAQVKGHGKKVADAL"
T = "MVHLTPEEKSAVTALWGKVNVDEVGGEALGRLLVVYPWTQRFFESFGDLSTPDAVMGNPKVKAHGKKVLG"
EXTENSIONS = {"fasta": ("fasta", "fasta"), "clustal": ("aln", "clustal"), "stockholm": ("sto", "stockholm")}


def write_pair(tmp_path, name_s, name_t):
    (tmp_path / "s.fa").write_bytes(b">" + name_s + b"\n" + S.encode() + b"\n")
    (tmp_path / "t.fa").write_bytes(b">" + name_t + b"\n" + T.encode() + b"\n")


def aligned(tmp_path, fmt):
    env = dict(os.environ, NO_COLOR="1")
    p = subprocess.run([BINARY, "s.fa", "t.fa", "--criterion", "posterior", "--format", fmt], cwd=tmp_path, env=env,
                       capture_output=True)
    assert p.returncode == 0, p.stderr
    return tmp_path / ("output." + (EXTENSIONS[fmt][0] if fmt in EXTENSIONS else "json"))


@pytest.mark.parametrize("names", [(b"\xc3\x85sa", b"Bo"), (b"//", b"#=GS"), (b"caf\xe9", b"x")])
def test_every_reader_reads_back_the_same_rows(tmp_path, names):
    write_pair(tmp_path, *names)
    rows = None
    for fmt, (_, bio) in EXTENSIONS.items():
        path = aligned(tmp_path, fmt)
        a = AlignIO.read(str(path), bio)
        got = [str(r.seq).replace(".", "-") for r in a]
        assert len(got) == 2
        if rows is None:
            rows = got
        assert got == rows, fmt
        for r in a:
            assert r.id and not any(c.isspace() for c in r.id)
            if fmt == "stockholm":
                assert r.id[0] not in "#/", r.id
        # The program reads its own file back too.
        p = subprocess.run([BINARY, "--ivalue", path.name], cwd=tmp_path, capture_output=True)
        assert p.returncode == 0, p.stderr
    assert [r.replace("-", "") for r in rows] == [S, T]
    with open(aligned(tmp_path, "json"), encoding="utf-8") as f:  # valid UTF-8 and valid JSON
        result = json.load(f)
    assert [r for r in result["rows"]] == rows
    assert result["equivalences"] == sum(a == b for a, b in zip(*rows))
