"""Results as Biopython alignments (Result.to_biopython): the records, the
posterior probabilities as the PP line of Stockholm, the score and the
annotations. Biopython is imported only when a result is converted."""
from typing import Optional

from ._seqcorvane import Result, __version__


def _pp_char(p: float) -> str:
    """The posterior-probability character of Stockholm files: 0-9 for the
    probability rounded to tenths, * for 0.95 and above."""
    if p >= 0.95:
        return "*"
    return str(min(9, max(0, int(p * 10 + 0.5))))


def _coordinates(row_s: str, row_t: str):
    """The alignment's coordinates as Bio.Align.Alignment takes them: the
    positions in S and T where the columns change between pairs, gaps in T
    and gaps in S."""
    import numpy

    points, i, j, state = [(0, 0)], 0, 0, None
    for x, y in zip(row_s, row_t):
        now = (x != "-", y != "-")
        if state is not None and now != state:
            points.append((i, j))
        state = now
        i += x != "-"
        j += y != "-"
    points.append((i, j))
    return numpy.array(points, dtype=int).T


def _message_bits(result: Result) -> Optional[float]:
    if result.criterion == "posterior":
        return result.score.bits
    return result.alignment_bits


def to_biopython(result: Result):
    """The alignment as a Bio.Align.Alignment (Biopython 1.80 or later): its
    records named as the program's files name them, the posterior
    probabilities of the residues (where the result has column
    confidences) as the records' 'posterior probability' letter annotations
    (the PP line of Stockholm), score = compression_bits, and annotations
    'author' (the program and criterion) and 'comment' (K, the message
    lengths, the compression and the verdict). format(a, 'stockholm') writes
    it."""
    from Bio.Align import Alignment
    from Bio.Seq import Seq
    from Bio.SeqRecord import SeqRecord

    if not result.path:
        raise ValueError(f"the {result.criterion} criterion gives no alignment to convert")
    name_s, name_t = result.name_s or "S", result.name_t or "T"
    if name_s == name_t:
        name_s, name_t = name_s + "/1", name_t + "/2"
    records = [SeqRecord(Seq(result.s), id=name_s), SeqRecord(Seq(result.t), id=name_t)]
    confidence = result.column_confidence
    if confidence is not None:
        for record, row in zip(records, result.rows):
            record.letter_annotations["posterior probability"] = "".join(
                _pp_char(p) for p, x in zip(confidence, row) if x != "-")
    a = Alignment(records, _coordinates(result.row_s, result.row_t))
    a.score = result.compression_bits
    bits = _message_bits(result)
    a.annotations = {
        "author": [f"seqcorvane {__version__} ({result.criterion} criterion)"],
        "comment": f"K {result.K}; I(A,<S,T>) {bits:.3f} bits; null {result.null_bits:.3f} bits; "
                   f"compression {result.compression_bits:.3f} bits: {result.verdict}",
    }
    if not hasattr(a, "column_annotations"):  # Biopython 1.80's Stockholm writer reads it
        a.column_annotations = {}
    return a

