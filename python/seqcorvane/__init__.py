"""SeqCorvane: pairwise alignment of protein sequences in the Minimum Message
Length (MML) framework.

    import seqcorvane
    r = seqcorvane.align("MVLSPADKTNVKAAWGKVGAHAGEYGAEALERMFLSFPTTKTYFPHF",
                         "MVHLTPEEKSAVTALWGKVNVDEVGGEALGRLLVVYPWTQRFFESFG")
    r.rows, r.K, r.compression_bits, r.verdict, r.column_confidence

Sequences are str (only the twenty upper-case residue letters) or
Biopython SeqRecord objects (their id names them). Models load once and are
shared; align_many() runs many pairs on every core without the global
interpreter lock. Problems raise ValueError (sequences, alignments),
ModelError (model files), OSError (files written) or MemoryError.
"""
import os

from ._seqcorvane import CellPaths, ColumnConfidence, Landscape, Models, ModelError, Result, Score, Through, __version__
from . import _seqcorvane
from ._paths import DATA_RELATIVE

__all__ = ["Models", "ModelError", "Result", "Score", "align", "align_many", "score", "default_models",
           "CellPaths", "ColumnConfidence", "Landscape", "Through", "__version__"]

_default = None


def default_models():
    """The models of an install (share/seqcorvane/data beside it), else found
    as the programs find them; loaded once."""
    global _default
    if _default is None:
        here = os.path.dirname(os.path.abspath(__file__))
        installed = os.path.normpath(os.path.join(here, DATA_RELATIVE)) if DATA_RELATIVE else ""
        _default = Models(installed if installed and os.path.isdir(installed) else None)
    return _default


def _named(seq, default_name):
    """(name, residues) of a str or a SeqRecord."""
    if isinstance(seq, str):
        return default_name, seq
    if hasattr(seq, "seq") and hasattr(seq, "id"):
        return str(seq.id), str(seq.seq)
    raise TypeError(f"a sequence is a str or a Bio.SeqRecord.SeqRecord, not {type(seq).__name__}")


def align(s, t, criterion="posterior", models=None, confidence=False, threads=0, end_gaps_alike=True):
    """Aligns s and t under the criterion ('posterior', 'optimal' or
    'marginal'); confidence: column confidences for the optimal criterion too;
    end_gaps_alike: the posterior criterion prices the gap runs at the two
    ends of the alignment alike (False: as the machine does)."""
    name_s, seq_s = _named(s, "s")
    name_t, seq_t = _named(t, "t")
    return _seqcorvane._align(name_s, seq_s, name_t, seq_t, models or default_models(), criterion, bool(confidence),
                              int(threads), bool(end_gaps_alike))


def score(row_s, row_t, models=None):
    """The message length of the alignment of two gapped rows ('-' for a gap), as --ivalue scores it."""
    return _seqcorvane._score(str(row_s), str(row_t), models or default_models())


def align_many(pairs, criterion="posterior", threads=None, models=None, confidence=False, end_gaps_alike=True):
    """Every (s, t) of pairs, on threads (default: every core), in order; the
    other arguments as align() takes them."""
    named = []
    for k, (s, t) in enumerate(pairs):
        name_s, seq_s = _named(s, f"s{k + 1}")
        name_t, seq_t = _named(t, f"t{k + 1}")
        named.append((name_s, seq_s, name_t, seq_t))
    return _seqcorvane._align_many(named, models or default_models(), criterion, bool(confidence), int(threads or 0),
                                   bool(end_gaps_alike))


def _to_biopython(result):
    """The alignment as a Bio.Align.Alignment (Biopython 1.80 or later)."""
    from Bio.Align import Alignment
    from Bio.Seq import Seq
    from Bio.SeqRecord import SeqRecord

    if not result.path:
        raise ValueError(f"the {result.criterion} criterion gives no alignment")
    records = [SeqRecord(Seq(result.s), id=result.name_s or "S"), SeqRecord(Seq(result.t), id=result.name_t or "T")]
    return Alignment(records, Alignment.infer_coordinates([result.row_s, result.row_t]))


Result.to_biopython = _to_biopython
