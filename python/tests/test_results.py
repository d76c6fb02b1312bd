"""Results as Python objects: pickled whole (for multiprocessing), compared
field by field, shown by repr, documented and typed; and as Biopython
alignments that carry the score and format as Stockholm with the PP line."""
import ast
import inspect
import io
import multiprocessing
import os
import pickle

import pytest

import seqcorvane

SOURCE = os.environ.get("SEQCORVANE_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
S = "MVHLTPEEKSAVTALWGKVNVDEVGGEALGRLLVVYPWTQRFFESFGDLSTPDAVMGNPKVKAHGKKVLGA"
T = "MVLSPADKTNVKAAWGKVGAHAGEYGAEALERMFLSFPTTKTYFPHFDLSHGSAQVKGHGKKVADALTLAV"


def fields(r):
    """Every public property's value."""
    names = [n for n, v in vars(type(r)).items() if isinstance(v, property)]
    return {n: getattr(r, n) for n in names}


@pytest.mark.parametrize("criterion", ["optimal", "marginal", "posterior"])
def test_results_pickle_whole_and_compare(criterion):
    r = seqcorvane.align(S, T, criterion=criterion, confidence=True)
    back = pickle.loads(pickle.dumps(r))
    assert back == r and not (back != r) and back is not r
    assert fields(back) == fields(r)  # None (NaN inside) and all
    assert back.format("json") == r.format("json")
    if r.score is not None:
        assert pickle.loads(pickle.dumps(r.score)) == r.score
    other = seqcorvane.align(S, T[:-1], criterion=criterion)
    assert other != r and r != "a result"
    if r.score is not None:
        assert r.score != other.score
    with pytest.raises(TypeError):
        hash(r)
    with pytest.raises(ValueError, match="another version"):
        seqcorvane.Result.__new__(seqcorvane.Result).__setstate__((99,))


def align_in_child(pair):
    return seqcorvane.align(*pair, criterion="optimal")


def test_results_cross_processes():
    pairs = [(S, T), (T, S)]
    with multiprocessing.get_context("fork").Pool(1) as pool:
        there = pool.map(align_in_child, pairs)
    assert there == [align_in_child(p) for p in pairs]


def test_score_repr_names_its_numbers():
    sc = seqcorvane.score("HEAGAWGHE-E", "--P-AW-HEAE")
    assert repr(sc) == (f"Score(K={sc.K}, bits={sc.bits:.3f}, null_bits={sc.null_bits:.3f}, "
                        f"compression_bits={sc.compression_bits:.3f})")
    r = seqcorvane.align(S, T, criterion="posterior")
    assert repr(r) == f"<Result posterior s/t K={r.K} {r.compression_bits:.3f} bits>"


def public_members(cls):
    return {n: v for n, v in vars(cls).items() if not n.startswith("_")}


def described(doc, name):
    """A docstring with a sentence beyond pybind11's signature lines."""
    lines = [l for l in (doc or "").splitlines() if l.strip() and not l.lstrip().startswith(name + "(")]
    return any(len(l.split()) >= 2 for l in lines)


def test_every_function_and_property_has_a_docstring():
    missing = []
    for name in seqcorvane.__all__:
        if name.startswith("_") or name in ("RESIDUES",):
            continue
        obj = getattr(seqcorvane, name)
        if inspect.isclass(obj):
            if not described(obj.__doc__, name):
                missing.append(name)
            for member, value in public_members(obj).items():
                if not described(inspect.getdoc(value), member):
                    missing.append(f"{name}.{member}")
        elif callable(obj) and not described(obj.__doc__, name):
            missing.append(name)
    assert not missing


def test_type_hints_ship_with_the_package():
    here = os.path.dirname(seqcorvane.__file__)
    assert os.path.isfile(os.path.join(here, "py.typed"))
    with open(os.path.join(here, "_seqcorvane.pyi")) as f:
        stub = ast.parse(f.read())
    # Methods and properties, and the fields of named tuples.
    classes = {c.name: {n.name for n in c.body if isinstance(n, ast.FunctionDef)} |
               {n.target.id for n in c.body if isinstance(n, ast.AnnAssign)}
               for c in stub.body if isinstance(c, ast.ClassDef)}
    functions = {n.name for n in stub.body if isinstance(n, ast.FunctionDef)}
    compiled = seqcorvane._seqcorvane
    for name, obj in vars(compiled).items():
        if name.startswith("__"):
            continue
        if inspect.isclass(obj):
            assert name in classes, name
            for member in public_members(obj):
                assert member in classes[name], f"{name}.{member}"
        elif callable(obj):
            assert name in functions, name
    # The package's own functions are annotated.
    for name in ("align", "iter_align", "align_many", "score", "default_models"):
        assert inspect.signature(getattr(seqcorvane, name)).return_annotation is not inspect.Signature.empty


def test_biopython_alignment_carries_the_score_and_writes_stockholm_with_pp():
    Align = pytest.importorskip("Bio.Align")
    r = seqcorvane.align(S, T, criterion="posterior")
    a = r.to_biopython()
    assert [rec.id for rec in a.sequences] == ["s", "t"] and (a[0], a[1]) == r.rows
    assert a.score == r.compression_bits
    assert a.annotations["comment"] == (f"K {r.K}; I(A,<S,T>) {r.score.bits:.3f} bits; null {r.null_bits:.3f} bits; "
                                        f"compression {r.compression_bits:.3f} bits: related")
    text = format(a, "stockholm")
    # The PP lines are the program's, read back by Biopython as written.
    program = [l.split()[-1] for l in r.format("stockholm").splitlines() if l.startswith("#=GR")]
    ours = [l.split()[-1] for l in text.splitlines() if l.startswith("#=GR")]
    assert ours == program and len(ours) == 2
    back = Align.read(io.StringIO(text), "stockholm")
    assert (back[0], back[1]) == r.rows
    assert back.annotations["author"] == [f"seqcorvane {seqcorvane.__version__} (posterior criterion)"]
    assert back.annotations["comment"] == a.annotations["comment"]
    pp = [rec.letter_annotations["posterior probability"] for rec in back.sequences]
    assert pp == [p.replace(".", "") for p in program]
    for fmt in ("fasta", "clustal", "stockholm"):
        handle = io.StringIO()
        Align.write(a, handle, fmt)
        assert Align.read(io.StringIO(handle.getvalue()), fmt)[0] == r.row_s


def test_biopython_alignment_without_confidences_and_with_equal_names():
    pytest.importorskip("Bio.Align")
    SeqRecord = pytest.importorskip("Bio.SeqRecord").SeqRecord
    r = seqcorvane.align(SeqRecord(S, id="X"), SeqRecord(T, id="X"), criterion="optimal")
    a = r.to_biopython()
    assert [rec.id for rec in a.sequences] == ["X/1", "X/2"]
    assert a.annotations["comment"].startswith(f"K {r.K}; I(A,<S,T>) {r.alignment_bits:.3f} bits")
    text = format(a, "stockholm")
    assert "#=GR" not in text and text.count("X/") >= 2
    with pytest.raises(ValueError, match="the marginal criterion gives no alignment"):
        seqcorvane.align(S, T, criterion="marginal").to_biopython()
