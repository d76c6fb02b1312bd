"""Many pairs from Python: results in the order of the pairs as they are
done, read from any iterable as the work goes; a failed pair is an error
object of its own while the others complete; Ctrl-C stops the work within a
second; the old list form stays."""
import os
import pickle
import signal
import subprocess
import sys
import textwrap
import time

import pytest

import seqcorvane

SOURCE = os.environ.get("SEQCORVANE_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))


def globins(n):
    records, name = [], None
    with open(os.path.join(SOURCE, "bench", "pairs", "globins100.fa")) as f:
        for line in f:
            line = line.strip()
            if line.startswith(">"):
                records.append([line[1:].split()[0], ""])
            else:
                records[-1][1] += line
    return records[:n]


def same(a, b):
    """Results equal but for the names."""
    return (a.rows, a.K, a.compression_bits, a.null_bits, a.column_confidence) == \
        (b.rows, b.K, b.compression_bits, b.null_bits, b.column_confidence)


def test_results_stream_in_order_and_equal_one_by_one():
    recs = globins(8)
    pairs = [(recs[i][1], recs[j][1]) for i in range(8) for j in range(i + 1, 8)]
    read = []

    def lazily():
        for k, p in enumerate(pairs * 10):
            read.append(k)
            yield p

    results = seqcorvane.iter_align(lazily(), criterion="optimal", threads=2)
    first = next(results)
    # The first result comes while most pairs are still unread.
    assert len(read) < len(pairs) * 10
    rest = [first] + list(results)
    assert len(rest) == len(pairs) * 10 and len(read) == len(pairs) * 10
    for k, r in enumerate(rest):
        one = seqcorvane.align(*pairs[k % len(pairs)], criterion="optimal")
        assert same(r, one), k
        assert (r.name_s, r.name_t) == (f"s{k + 1}", f"t{k + 1}")
    # len() for progress bars, where the pairs have one.
    assert len(seqcorvane.iter_align(pairs)) == len(pairs)
    with pytest.raises(TypeError, match="no len"):
        len(seqcorvane.iter_align(iter(pairs)))
    tqdm = pytest.importorskip("tqdm").tqdm
    bar = tqdm(seqcorvane.iter_align(pairs[:3], criterion="optimal"), disable=False, file=open(os.devnull, "w"))
    assert bar.total == 3 and len(list(bar)) == 3


def test_a_bad_pair_is_an_error_object_and_the_others_complete():
    (ns, s), (nt, t) = globins(2)
    SeqRecord = pytest.importorskip("Bio.SeqRecord").SeqRecord
    huge = "A" * 1_000_000  # a pair that cannot fit in memory: refused by the library, not by Python
    pairs = [(s, t), ("", t), (SeqRecord(s, id=ns), SeqRecord(t, id=nt)), 17, (huge, huge), (s, None), (t, s)]
    out = list(seqcorvane.iter_align(pairs, criterion="posterior", threads=2))
    kinds = [type(x).__name__ for x in out]
    assert kinds == ["Result", "PairError", "Result", "PairError", "PairError", "PairError", "Result"]
    assert [x.index for x in out if isinstance(x, seqcorvane.PairError)] == [1, 3, 4, 5]
    e = out[1]
    assert (e.name_s, e.name_t, type(e.error)) == ("s2", "t2", ValueError)
    assert e.message == "pairs[1]: s holds no standard residues (upper-case ACDEFGHIKLMNPQRSTVWY) to align: it is empty"
    assert type(out[3].error) is TypeError and out[3].message == "pairs[3]: a pair is (s, t), not int"
    assert type(out[4].error) is MemoryError
    assert out[4].message.startswith("aligning sequences of 1000000 and 1000000 residues with the posterior "
                                     "criterion needs ")
    assert out[5].message == "pairs[5]: t is a str, bytes, Bio.Seq.Seq or Bio.SeqRecord.SeqRecord, not NoneType"
    assert (out[2].name_s, out[2].name_t) == (ns, nt) and out[2].rows == out[0].rows
    assert pickle.loads(pickle.dumps(out[4])) == out[4]
    assert repr(out[3]) == "<PairError pairs[3] s4/t4: TypeError: pairs[3]: a pair is (s, t), not int>"
    # The list form: the same, or the first failure raised with the pair named.
    assert seqcorvane.align_many(pairs, errors="keep") == out
    with pytest.raises(ValueError, match=r"^pairs\[1\]: s holds no standard residues"):
        seqcorvane.align_many(pairs)
    with pytest.raises(MemoryError, match=r"^pairs\[0\] \(s1 / t1\): aligning sequences of 1000000"):
        seqcorvane.align_many([(huge, huge)])


def test_warnings_of_many_pairs_come_once_and_summed():
    (_, s), (_, t) = globins(2)
    pairs = [(s.lower()[:5] + s, t), (s, t), (s + "XX", t + "*")]
    with pytest.warns(seqcorvane.ResidueWarning) as w:
        out = seqcorvane.align_many(pairs, criterion="optimal")
    assert [str(x.message) for x in w] == [
        "pairs[0]: s: dropped 5 characters that are not upper-case residue letters (ACDEFGHIKLMNPQRSTVWY)",
        "dropped 8 characters that are not upper-case residue letters (ACDEFGHIKLMNPQRSTVWY) from the sequences "
        "of 2 pairs"]
    assert same(out[0], out[1]) and same(out[1], out[2])
    assert {x.filename for x in w} == {__file__}  # the caller's line
    with pytest.raises(TypeError, match=r"^pairs is an iterable of \(s, t\) pairs, not int$"):
        seqcorvane.iter_align(5)


def test_closing_the_stream_stops_the_work():
    (_, s), (_, t) = globins(2)
    read = []

    def pairs():
        for k in range(100_000):
            read.append(k)
            yield s, t

    with seqcorvane.iter_align(pairs(), criterion="optimal", threads=2) as results:
        for k, r in enumerate(results):
            if k == 5:
                break
    assert len(read) < 1000
    results = seqcorvane.iter_align([(s, t)] * 3)
    results.close()
    assert list(results) == []


CHILD = textwrap.dedent("""
    import os, sys, time
    sys.path[:0] = {path!r}
    import seqcorvane
    s = "MVHLTPEEKSAVTALWGKVNVDEVGGEALGRLLVVYPWTQRFFESFGDLSTPDAVMGNPKVKAHGKKVLGANFSHDHSK"
    t = "MVLSPADKTNVKAAWGKVGAHAGEYGAEALERMFLSFPTTKTYFPHFDLSHGSAQVKGHGKKVADALTLAVAHVDDMP"
    tasks = lambda: len(os.listdir("/proc/self/task"))
    before = tasks()
    print("running", flush=True)
    try:
        for r in seqcorvane.{call}([(s, t)] * 100000, criterion="posterior", threads=2):
            pass
    except KeyboardInterrupt:
        print("interrupted", tasks() - before, flush=True)
        sys.exit(0)
    print("finished", flush=True)
""")


@pytest.mark.parametrize("call", ["iter_align", "align_many"])
def test_ctrl_c_stops_the_work_within_a_second(call):
    path = [p for p in sys.path if p]
    child = subprocess.Popen([sys.executable, "-c", CHILD.format(path=path, call=call)], stdout=subprocess.PIPE,
                             text=True)
    try:
        assert child.stdout.readline() == "running\n"
        time.sleep(1.0)  # mid-work
        sent = time.monotonic()
        child.send_signal(signal.SIGINT)
        out, _ = child.communicate(timeout=30)
        elapsed = time.monotonic() - sent
    finally:
        child.kill()
    # Stopped, its worker threads gone, within a second of the signal.
    assert out == "interrupted 0\n"
    assert elapsed < 1.0, elapsed
