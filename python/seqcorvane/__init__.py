"""SeqCorvane: pairwise alignment of protein sequences in the Minimum Message
Length (MML) framework.

    import seqcorvane
    r = seqcorvane.align("MVLSPADKTNVKAAWGKVGAHAGEYGAEALERMFLSFPTTKTYFPHF",
                         "MVHLTPEEKSAVTALWGKVNVDEVGGEALGRLLVVYPWTQRFFESFG")
    r.rows, r.K, r.compression_bits, r.verdict, r.column_confidence

    for r in seqcorvane.iter_align(pairs):      # in order, as they finish
        ...

    r = seqcorvane.align(domain, protein, mode="local")   # a region of each
    r.region.t, r.local_bits                              # range(150, 291), ...

mode= names the hypothesis sent beside the null one: "global" (the default:
the two sequences aligned end to end), "local" (a region of each aligned,
the residues outside it, the flanks, under the null model) or "auto" (both,
the message saying which). A result's mode, sent, global_bits, local_bits,
local_weight and region say what the hypotheses gave.

Sequences are str, bytes, Biopython Seq or SeqRecord objects (a record's id
names it). As the programs do, the residue filter keeps the twenty
upper-case residue letters; other characters (lower case, X, *, ...) are
dropped with a ResidueWarning saying how many, and a sequence with no residue
left is a ValueError. Models load once and are shared; iter_align() and
align_many() run many pairs on every core without the global interpreter
lock. Problems raise TypeError or ValueError (arguments, sequences,
alignments), ModelError (model files), OSError or MemoryError.
"""
from __future__ import annotations

import operator
import os
import re
import warnings
from typing import Any, Iterable, Iterator, List, Optional, Tuple, Union

from . import _seqcorvane
from ._biopython import to_biopython as _to_biopython
from ._paths import DATA_RELATIVE
from ._seqcorvane import (Calibrated, CellPaths, ColumnConfidence, Landscape, ModelError, Models, Region, Result,
                          Score, Through, __version__)

__all__ = ["Models", "ModelError", "Result", "Score", "Region", "Calibrated", "PairError", "PairResults", "ResidueWarning",
           "align", "iter_align", "align_many", "score", "default_models", "RESIDUES", "MODES", "CellPaths",
           "ColumnConfidence", "Landscape", "Through", "__version__"]

#: The residue letters the models know; the filter keeps these only.
RESIDUES = "ACDEFGHIKLMNPQRSTVWY"
CRITERIA = ("optimal", "marginal", "posterior")
#: The hypotheses mode= takes: aligned end to end, a region of each, or both (the message says which).
MODES = ("global", "local", "auto")

_NOT_RESIDUE = re.compile(f"[^{RESIDUES}]")
# Dropped without a word, as the programs drop them: blanks, line ends, digits.
_QUIET = frozenset(" \t\r\n0123456789")
_BLANKS = re.compile(r"[ \t\r\n]")
_default: Optional[Models] = None


class ResidueWarning(UserWarning):
    """Characters that are not residue letters were dropped from a sequence,
    or columns holding them from an alignment."""


def default_models() -> Models:
    """The models every call uses unless given others: those installed with
    the package (its data directory), else found as the programs find them;
    loaded once."""
    global _default
    if _default is None:
        here = os.path.dirname(os.path.abspath(__file__))
        installed = os.path.normpath(os.path.join(here, DATA_RELATIVE)) if DATA_RELATIVE else ""
        _default = Models(installed if installed and os.path.isdir(installed) else None)
    return _default


# ---- arguments: their types checked first, named in every error ----

def _kind(value: Any) -> str:
    return type(value).__name__


def _choice(value: Any, name: str, choices: Tuple[str, ...]) -> str:
    listed = ", ".join(repr(c) for c in choices[:-1]) + " or " + repr(choices[-1])
    if not isinstance(value, str):
        raise TypeError(f"{name} is a str ({listed}), not {_kind(value)}")
    if value not in choices:
        raise ValueError(f"{name} is {listed}, not {value!r}")
    return value


def _criterion(value: Any) -> str:
    return _choice(value, "criterion", CRITERIA)


def _mode(value: Any) -> str:
    return _choice(value, "mode", MODES)


def _flag(value: Any, name: str) -> bool:
    if isinstance(value, bool) or _kind(value) == "bool_":  # numpy's too
        return bool(value)
    if isinstance(value, int) and value in (0, 1):
        return bool(value)
    raise TypeError(f"{name} is True or False, not {_kind(value)}")


def _count(value: Any, name: str, none_means: str = "", most: int = 1024) -> int:
    if value is None and none_means:
        return 0
    try:
        n = operator.index(value) if not isinstance(value, bool) else None
    except TypeError:
        n = None
    if n is None:
        raise TypeError(f"{name} is a whole number{' or None (' + none_means + ')' if none_means else ''}, "
                        f"not {_kind(value)}")
    if n < 0 or n > most:
        raise ValueError(f"{name} is 0 (the default) to {most}, not {n}")
    return n


def _models(value: Any) -> Models:
    if value is None:
        return default_models()
    if not isinstance(value, Models):
        raise TypeError(f"models is a seqcorvane.Models or None, not {_kind(value)}")
    return value


def _is_biopython_seq(value: Any) -> bool:
    return any(c.__module__ == "Bio.Seq" for c in type(value).__mro__[:-1])


def _text(value: Any, name: str) -> Tuple[Optional[str], str]:
    """(the record's name or None, the text) of what a user hands over as a
    sequence or a row: str, bytes, a Biopython Seq or SeqRecord."""
    if isinstance(value, str):
        return None, value
    if isinstance(value, (bytes, bytearray, memoryview)):
        return None, bytes(value).decode("latin-1")  # a byte a character; all but residues are dropped
    if hasattr(value, "seq") and hasattr(value, "id") and not _is_biopython_seq(value):  # a SeqRecord
        _, text = _text(value.seq, name)
        return (None if value.id is None else str(value.id)), text
    if _is_biopython_seq(value):
        try:
            return None, str(value)
        except Exception as e:  # a Seq of undefined contents
            raise ValueError(f"{name} is a Seq whose residues cannot be read: {e}") from None
    raise TypeError(f"{name} is a str, bytes, Bio.Seq.Seq or Bio.SeqRecord.SeqRecord, not {_kind(value)}")


def _excerpt(value: Any) -> str:
    if isinstance(value, (bytearray, memoryview)):
        value = bytes(value)
    return repr(value[:40]) + ("..." if len(value) > 40 else "")


def _who(name: str, record: Optional[str]) -> str:
    return name if record is None else f"{name} ({record!r})"


def _filtered(text: str, who: str, given: Any) -> Tuple[str, int]:
    """The residues of the text and the count of dropped characters that
    deserve a word; ValueError (showing what was given) when no residue is left."""
    dropped = 0
    if _NOT_RESIDUE.search(text):
        dropped = sum(1 for c in _NOT_RESIDUE.findall(text) if c not in _QUIET)
        text = _NOT_RESIDUE.sub("", text)
        if not text:
            raise ValueError(f"{who} holds no standard residues (upper-case {RESIDUES}) to align: {_excerpt(given)}")
    elif not text:
        raise ValueError(f"{who} holds no standard residues (upper-case {RESIDUES}) to align: it is empty")
    return text, dropped


def _dropped_words(n: int) -> str:
    return f"dropped {n} character{' that is' if n == 1 else 's that are'} not upper-case residue letters ({RESIDUES})"


def _sequence(value: Any, name: str, default_name: str, where: str = "") -> Tuple[str, str, int, str]:
    """(name, residues, dropped count, who) of a sequence argument."""
    record, text = _text(value, where + name)
    who = where + _who(name, record)
    given = value if isinstance(value, (bytes, bytearray, memoryview)) else text
    residues, dropped = _filtered(text, who, given)
    return (default_name if record is None else record), residues, dropped, who


# ---- one pair ----

def align(s: Any, t: Any, criterion: str = "posterior", models: Optional[Models] = None, confidence: bool = False,
          threads: int = 0, end_gaps_alike: bool = True, mode: str = "global") -> Result:
    """Aligns s and t under the criterion ('posterior', 'optimal' or
    'marginal') and the hypothesis (mode) and returns the Result.

    s, t: str, bytes, Bio.Seq.Seq or Bio.SeqRecord.SeqRecord (its id names
    it); characters other than the residue letters are dropped with a
    ResidueWarning. models: a Models (default: default_models()).
    confidence: column confidences for the optimal criterion too.
    threads: threads for this one pair (0: 2, at most the cores).
    end_gaps_alike: the posterior criterion prices the gap runs at the two
    ends of the alignment alike (False: as the machine does).
    mode: 'global' (the sequences aligned end to end), 'local' (a region of
    each; the residues outside it are sent under the null model and shown
    as gap columns, the flanks) or 'auto' (both: the optimal criterion sends
    the shorter message, the others both at half the prior each); the
    result's sent, region, global_bits, local_bits and local_weight say what
    they gave."""
    criterion = _criterion(criterion)
    mode = _mode(mode)
    models = _models(models)
    confidence = _flag(confidence, "confidence")
    end_gaps_alike = _flag(end_gaps_alike, "end_gaps_alike")
    threads = _count(threads, "threads")
    name_s, seq_s, dropped_s, who_s = _sequence(s, "s", "s")
    name_t, seq_t, dropped_t, who_t = _sequence(t, "t", "t")
    for who, dropped in ((who_s, dropped_s), (who_t, dropped_t)):
        if dropped:
            warnings.warn(f"{who}: {_dropped_words(dropped)}", ResidueWarning, stacklevel=2)
    return _seqcorvane._align(name_s, seq_s, name_t, seq_t, models, criterion, confidence, threads, end_gaps_alike,
                              mode)


def score(row_s: Any, row_t: Any, models: Optional[Models] = None, mode: str = "global") -> Score:
    """The message length of the alignment of two gapped rows ('-' or '.'
    for a gap), as the program's --ivalue scores a file: blanks and line
    ends are not part of a row; columns holding other characters than
    residue letters and gaps are dropped with a ResidueWarning, columns of
    two gaps silently. The rows are str, bytes, Seq or SeqRecord.
    mode: 'global', 'local' (the leading and trailing columns without a
    match are the flanks, sent under the null model; it needs a matched
    column) or 'auto' (the shorter of the two, with a bit for the choice);
    the Score's sent and region say which and where."""
    _, a = _text(row_s, "row_s")
    _, b = _text(row_t, "row_t")
    mode = _mode(mode)
    models = _models(models)
    a, b = _BLANKS.sub("", a).replace(".", "-"), _BLANKS.sub("", b).replace(".", "-")
    if len(a) != len(b):
        raise ValueError(f"row_s and row_t differ in length ({len(a)} and {len(b)} characters): the two rows of an "
                         "alignment are of equal length")
    usable = f"[{RESIDUES}-]"
    if not (re.fullmatch(usable + "*", a) and re.fullmatch(usable + "*", b) and ("-", "-") not in zip(a, b)):
        kept, dropped = [], 0
        for x, y in zip(a, b):
            if (x != "-" and x not in RESIDUES) or (y != "-" and y not in RESIDUES):
                dropped += 1
            elif x != "-" or y != "-":
                kept.append((x, y))
        if dropped:
            warnings.warn(f"row_s and row_t: dropped {dropped} column{'' if dropped == 1 else 's'} holding "
                          f"characters that are not upper-case residue letters ({RESIDUES}) or gaps",
                          ResidueWarning, stacklevel=2)
        a, b = "".join(x for x, _ in kept), "".join(y for _, y in kept)
    for name, row in (("row_s", a), ("row_t", b)):
        if not row.strip("-"):
            raise ValueError(f"{name} holds no standard residues (upper-case {RESIDUES}) to score")
    return _seqcorvane._score(a, b, models, mode)


# ---- many pairs ----

class PairError:
    """The failure of one pair of iter_align() or align_many(): its index in
    the pairs, the names of its sequences and the exception (error) it
    raised; the other pairs are not affected."""

    __slots__ = {"index": "The pair's place in the pairs (from 0).", "name_s": "The name of its S.",
                 "name_t": "The name of its T.", "error": "The exception it raised (raise it with `raise e.error`)."}

    def __init__(self, index: int, name_s: str, name_t: str, error: BaseException):
        self.index, self.name_s, self.name_t, self.error = index, name_s, name_t, error

    @property
    def message(self) -> str:
        """The error's message."""
        return str(self.error)

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, PairError):
            return NotImplemented
        return (self.index, self.name_s, self.name_t, type(self.error), self.message) == \
            (other.index, other.name_s, other.name_t, type(other.error), other.message)

    def __getstate__(self):
        return (self.index, self.name_s, self.name_t, self.error)

    def __setstate__(self, state):
        self.index, self.name_s, self.name_t, self.error = state

    def __repr__(self) -> str:
        return f"<PairError pairs[{self.index}] {self.name_s}/{self.name_t}: {type(self.error).__name__}: " \
               f"{self.message}>"


class PairResults:
    """The results of iter_align(), in the order of the pairs as they
    finish: a Result, or a PairError for a pair that failed. len() is the
    number of pairs when the pairs have one (so that progress bars know
    it); close(), or leaving a with block, stops the work between pairs, as
    does an exception (KeyboardInterrupt) while waiting."""

    def __init__(self, pairs: Iterable[Any], criterion: str, models: Models, confidence: bool, threads: int,
                 end_gaps_alike: bool, mode: str = "global"):
        try:
            self._total: Optional[int] = len(pairs)  # type: ignore[arg-type]
        except TypeError:
            self._total = None
        try:
            items = iter(pairs)
        except TypeError:
            raise TypeError(f"pairs is an iterable of (s, t) pairs, not {_kind(pairs)}") from None
        # Warnings point at the caller's line: the generator, __next__, the caller.
        self._stacklevel = 3
        self._run = self._results(items, (models, criterion, confidence, threads, end_gaps_alike, mode), threads)

    def __iter__(self) -> "PairResults":
        return self

    def __next__(self) -> Union[Result, PairError]:
        return next(self._run)

    def __len__(self) -> int:
        if self._total is None:
            raise TypeError("the pairs given to iter_align have no len()")
        return self._total

    def close(self) -> None:
        """Stops the work: pairs not started are dropped, those running finish."""
        self._run.close()

    def __enter__(self) -> "PairResults":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    @staticmethod
    def _job(index: int, item: Any) -> Tuple[tuple, int, str]:
        where = f"pairs[{index}]: "
        try:
            s, t = item
        except (TypeError, ValueError):
            raise TypeError(f"{where}a pair is (s, t), not {_kind(item)}") from None
        name_s, seq_s, dropped_s, who_s = _sequence(s, "s", f"s{index + 1}", where)
        name_t, seq_t, dropped_t, who_t = _sequence(t, "t", f"t{index + 1}", where)
        first = who_s if dropped_s else who_t
        return (index, name_s, seq_s, name_t, seq_t), dropped_s + dropped_t, first

    def _results(self, pairs: Iterator[Any], settings: tuple, threads: int) -> Iterator[Union[Result, PairError]]:
        workers = threads or os.cpu_count() or 1
        window, chunk = max(64, 16 * workers), max(8, 2 * workers)
        stream = _seqcorvane._PairStream(*settings)
        failed = {}  # index: PairError of a pair refused before it was aligned
        names = {}  # index: (name of S, name of T) while it is aligned
        read = taken = 0
        exhausted = False
        dropped_pairs = dropped_total = 0
        try:
            while True:
                while not exhausted and read - taken < window:
                    batch = []
                    for item in pairs:
                        try:
                            job, dropped, who = self._job(read, item)
                            batch.append(job)
                            names[read] = (job[1], job[3])
                            if dropped:
                                dropped_pairs += 1
                                dropped_total += dropped
                                if dropped_pairs == 1:
                                    warnings.warn(f"{who}: {_dropped_words(dropped)}", ResidueWarning,
                                                  stacklevel=self._stacklevel)
                        except (TypeError, ValueError) as e:
                            failed[read] = PairError(read, f"s{read + 1}", f"t{read + 1}", e)
                        read += 1
                        if len(batch) == chunk:
                            break
                    else:
                        exhausted = True
                    if batch:
                        stream.submit(batch)
                    if exhausted:
                        stream.close()
                if taken == read:
                    return
                if taken in failed:
                    yield failed.pop(taken)
                else:
                    out = stream.take(taken)
                    name_s, name_t = names.pop(taken)
                    yield out if isinstance(out, Result) else PairError(taken, name_s, name_t, out[0](out[1]))
                taken += 1
        finally:
            stream.stop()
            if dropped_pairs > 1:
                warnings.warn(f"{_dropped_words(dropped_total)} from the sequences of {dropped_pairs} pairs",
                              ResidueWarning, stacklevel=self._stacklevel)


def iter_align(pairs: Iterable[Any], criterion: str = "posterior", threads: Optional[int] = None,
               models: Optional[Models] = None, confidence: bool = False, end_gaps_alike: bool = True,
               mode: str = "global") -> PairResults:
    """Aligns every (s, t) of pairs (any iterable, read as the work goes)
    on threads (default: every core), one pair a thread, and yields each
    Result in the order of the pairs as soon as it and those before it are
    done; a pair that fails yields a PairError (its index, names and
    exception) and the others go on. The other arguments as align() takes
    them (mode: 'global', 'local' or 'auto'); pairs without names are named
    s1/t1, s2/t2, ..."""
    criterion = _criterion(criterion)
    mode = _mode(mode)
    models = _models(models)
    confidence = _flag(confidence, "confidence")
    end_gaps_alike = _flag(end_gaps_alike, "end_gaps_alike")
    threads = _count(threads, "threads", "every core")
    return PairResults(pairs, criterion, models, confidence, threads, end_gaps_alike, mode)


def align_many(pairs: Iterable[Any], criterion: str = "posterior", threads: Optional[int] = None,
               models: Optional[Models] = None, confidence: bool = False, end_gaps_alike: bool = True,
               errors: str = "raise", mode: str = "global") -> List[Any]:
    """The list of iter_align()'s results. errors='raise' (the default): the
    first pair that fails, in order, raises its exception (its message
    names the pair) and the work stops; errors='keep': a failed pair's
    place holds its PairError. mode as iter_align() takes it."""
    if errors not in ("raise", "keep"):
        raise ValueError(f"errors is 'raise' or 'keep', not {errors!r}") if isinstance(errors, str) else \
            TypeError(f"errors is 'raise' or 'keep', not {_kind(errors)}")
    out = []
    with iter_align(pairs, criterion, threads, models, confidence, end_gaps_alike, mode) as results:
        results._stacklevel = 4  # and align_many
        for r in results:
            if isinstance(r, PairError) and errors == "raise":
                e = r.error
                text = str(e) if str(e).startswith(f"pairs[{r.index}]") else \
                    f"pairs[{r.index}] ({r.name_s} / {r.name_t}): {e}"
                raise type(e)(text) from None
            out.append(r)
    return out


# The alignment as a Bio.Align.Alignment (see _biopython.py).
Result.to_biopython = _to_biopython
