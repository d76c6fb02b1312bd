// The results as Python objects: read-only properties with their units,
// equality, pickling (every field, so that a result crosses a process
// boundary whole) and a repr.
#include <pybind11/stl.h>

#include <cmath>

#include "bindings.h"
#include "numbers.h"
#include "seqcorvane/io.h"

namespace seqcorvane::python {

namespace {

// The version of the pickled state below; a state of another is refused.
constexpr int STATE_VERSION = 3;

py::dict transitionsOf(const Transitions& t) {
  static const char letter[3] = {'M', 'D', 'I'};
  py::dict d;
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 3; ++y) d[py::str(std::string{letter[x], letter[y]})] = t[x][y];
  return d;
}

py::object bitsOrNone(double nits) {
  return std::isfinite(nits) ? py::object(py::float_(nits2bits(nits))) : py::object(py::none());
}
py::object numberOrNone(double x) { return std::isfinite(x) ? py::object(py::float_(x)) : py::object(py::none()); }

// seqcorvane.Region and seqcorvane.Calibrated, named tuples made once with
// the module and kept as long as it lives.
PyObject* regionClass = nullptr;
PyObject* calibratedClass = nullptr;

// A region as two ranges of residue positions; None when it holds no residue at all.
py::object regionObject(const Region& g) {
  if (g.endS == g.beginS && g.endT == g.beginT) return py::none();
  const py::object range = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyRange_Type));
  return py::reinterpret_borrow<py::object>(regionClass)(range(g.beginS, g.endS), range(g.beginT, g.endT));
}

// Equal numbers, NaN equal to NaN (a value that a criterion does not give).
bool same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }
bool same(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k)
    if (!same(a[k], b[k])) return false;
  return true;
}
bool same(const Parameters& a, const Parameters& b) {
  if (a.K != b.K) return false;
  for (int x = 0; x < 3; ++x)
    for (int y = 0; y < 3; ++y)
      if (!same(a.transitions[x][y], b.transitions[x][y])) return false;
  return true;
}
bool same(const Region& a, const Region& b) {
  return a.beginS == b.beginS && a.endS == b.endS && a.beginT == b.beginT && a.endT == b.endT;
}
bool same(const CalibratedVerdict& a, const CalibratedVerdict& b) {
  return a.K == b.K && same(a.nullMsgLen, b.nullMsgLen) && same(a.msgLen, b.msgLen) &&
         same(a.compressionBits, b.compressionBits);
}
bool same(const HypothesisDetails& a, const HypothesisDetails& b) {
  return a.mode == b.mode && a.sent == b.sent && same(a.globalMsgLen, b.globalMsgLen) &&
         same(a.localMsgLen, b.localMsgLen) && same(a.localWeight, b.localWeight) && same(a.region, b.region);
}
bool same(const ScoreResult& a, const ScoreResult& b) {
  return a.sent == b.sent && same(a.region, b.region) && same(a.parameters, b.parameters) &&
         same(a.pathMsgLen, b.pathMsgLen) && same(a.residuesMsgLen, b.residuesMsgLen) && same(a.msgLen, b.msgLen) &&
         same(a.nullMsgLen, b.nullMsgLen) && same(a.compressionBits, b.compressionBits);
}
bool same(const AlignResult& a, const AlignResult& b) {
  const PosteriorDetails &p = a.posterior, &q = b.posterior;
  return a.criterion == b.criterion && a.s.name == b.s.name && a.s.residues == b.s.residues && a.t.name == b.t.name &&
         a.t.residues == b.t.residues && a.path == b.path && a.rowS == b.rowS && a.rowT == b.rowT &&
         same(a.parameters, b.parameters) && same(a.nullMsgLen, b.nullMsgLen) &&
         same(a.alignmentMsgLen, b.alignmentMsgLen) && same(a.search.msgLen, b.search.msgLen) &&
         same(a.compressionBits, b.compressionBits) && same(a.columnConfidence, b.columnConfidence) &&
         a.search.K == b.search.K && same(a.search.parameters, b.search.parameters) &&
         a.search.fastPasses == b.search.fastPasses && a.search.exactPasses == b.search.exactPasses &&
         p.decodedAtOptimalK == q.decodedAtOptimalK && same(p.siteRates, q.siteRates) &&
         p.fittedMatches == q.fittedMatches && p.endGapsAlike == q.endGapsAlike &&
         same(p.gapOpenScale, q.gapOpenScale) && same(p.score, q.score) && same(a.hypothesis, b.hypothesis) &&
         same(a.calibrated, b.calibrated);
}

// ---- the pickled state: tuples of plain values ----

py::tuple stateOf(const Parameters& p) {
  py::list t;
  for (const auto& row : p.transitions)
    for (double x : row) t.append(x);
  return py::make_tuple(p.K, py::tuple(t));
}
Parameters parametersOf(const py::tuple& state) {
  Parameters p;
  p.K = state[0].cast<int>();
  const py::tuple t = state[1].cast<py::tuple>();
  if (t.size() != 9) throw py::value_error("a pickled result holds transitions of another shape");
  for (int k = 0; k < 9; ++k) p.transitions[k / 3][k % 3] = t[k].cast<double>();
  return p;
}

py::tuple stateOf(const Region& g) { return py::make_tuple(g.beginS, g.endS, g.beginT, g.endT); }
Region regionOf(const py::tuple& state) {
  return {state[0].cast<std::size_t>(), state[1].cast<std::size_t>(), state[2].cast<std::size_t>(),
          state[3].cast<std::size_t>()};
}
Hypothesis hypothesisOf(int h) {
  if (h < 0 || h > static_cast<int>(Hypothesis::automatic))
    throw py::value_error("a pickled result holds an unknown hypothesis");
  return static_cast<Hypothesis>(h);
}

py::tuple stateOf(const HypothesisDetails& h) {
  return py::make_tuple(static_cast<int>(h.mode), static_cast<int>(h.sent), h.globalMsgLen, h.localMsgLen,
                        h.localWeight, stateOf(h.region));
}
HypothesisDetails hypothesisDetailsOf(const py::tuple& state) {
  HypothesisDetails h;
  h.mode = hypothesisOf(state[0].cast<int>());
  h.sent = hypothesisOf(state[1].cast<int>());
  h.globalMsgLen = state[2].cast<double>();
  h.localMsgLen = state[3].cast<double>();
  h.localWeight = state[4].cast<double>();
  h.region = regionOf(state[5].cast<py::tuple>());
  return h;
}

py::tuple stateOf(const ScoreResult& s) {
  return py::make_tuple(stateOf(s.parameters), s.pathMsgLen, s.residuesMsgLen, s.msgLen, s.nullMsgLen,
                        s.compressionBits, static_cast<int>(s.sent), stateOf(s.region));
}
ScoreResult scoreOf(const py::tuple& state) {
  ScoreResult s;
  if (state.size() != 8) throw py::value_error("a pickled score of another version of seqcorvane");
  s.sent = hypothesisOf(state[6].cast<int>());
  s.region = regionOf(state[7].cast<py::tuple>());
  s.parameters = parametersOf(state[0].cast<py::tuple>());
  s.pathMsgLen = state[1].cast<double>();
  s.residuesMsgLen = state[2].cast<double>();
  s.msgLen = state[3].cast<double>();
  s.nullMsgLen = state[4].cast<double>();
  s.compressionBits = state[5].cast<double>();
  return s;
}

py::tuple stateOf(const AlignResult& r) {
  const PosteriorDetails& p = r.posterior;
  return py::make_tuple(
      STATE_VERSION, criterionName(r.criterion), py::make_tuple(py::bytes(r.s.name), py::bytes(r.s.residues)),
      py::make_tuple(py::bytes(r.t.name), py::bytes(r.t.residues)), py::bytes(r.path), py::bytes(r.rowS),
      py::bytes(r.rowT), stateOf(r.parameters), r.nullMsgLen, r.alignmentMsgLen, r.search.msgLen, r.compressionBits,
      py::cast(r.columnConfidence),
      py::make_tuple(r.search.K, stateOf(r.search.parameters), r.search.fastPasses, r.search.exactPasses),
      py::make_tuple(p.decodedAtOptimalK, py::cast(p.siteRates), p.fittedMatches, p.endGapsAlike, p.gapOpenScale,
                     stateOf(p.score)),
      stateOf(r.hypothesis),
      py::make_tuple(r.calibrated.K, r.calibrated.nullMsgLen, r.calibrated.msgLen, r.calibrated.compressionBits));
}
AlignResult resultOf(const py::tuple& state) {
  if (state.size() != 17 || state[0].cast<int>() != STATE_VERSION)
    throw py::value_error("a pickled result of another version of seqcorvane");
  AlignResult r;
  r.criterion = criterionOf(state[1].cast<std::string>());
  const auto s = state[2].cast<py::tuple>(), t = state[3].cast<py::tuple>();
  r.s = {s[0].cast<std::string>(), s[1].cast<std::string>()};
  r.t = {t[0].cast<std::string>(), t[1].cast<std::string>()};
  r.path = state[4].cast<std::string>();
  r.rowS = state[5].cast<std::string>();
  r.rowT = state[6].cast<std::string>();
  r.parameters = parametersOf(state[7].cast<py::tuple>());
  r.nullMsgLen = state[8].cast<double>();
  r.alignmentMsgLen = state[9].cast<double>();
  r.search.msgLen = state[10].cast<double>();
  r.compressionBits = state[11].cast<double>();
  r.columnConfidence = state[12].cast<std::vector<double>>();
  const auto search = state[13].cast<py::tuple>();
  r.search.K = search[0].cast<int>();
  r.search.parameters = parametersOf(search[1].cast<py::tuple>());
  r.search.fastPasses = search[2].cast<int>();
  r.search.exactPasses = search[3].cast<int>();
  const auto p = state[14].cast<py::tuple>();
  r.posterior.decodedAtOptimalK = p[0].cast<bool>();
  r.posterior.siteRates = p[1].cast<std::vector<double>>();
  r.posterior.fittedMatches = p[2].cast<bool>();
  r.posterior.endGapsAlike = p[3].cast<bool>();
  r.posterior.gapOpenScale = p[4].cast<double>();
  r.posterior.score = scoreOf(p[5].cast<py::tuple>());
  r.hypothesis = hypothesisDetailsOf(state[15].cast<py::tuple>());
  const auto v = state[16].cast<py::tuple>();
  r.calibrated.K = v[0].cast<int>();
  r.calibrated.nullMsgLen = v[1].cast<double>();
  r.calibrated.msgLen = v[2].cast<double>();
  r.calibrated.compressionBits = v[3].cast<double>();
  return r;
}

template <typename T>
py::object equal(const T& a, const py::object& b) {
  if (!py::isinstance<T>(b)) return py::reinterpret_borrow<py::object>(Py_NotImplemented);
  return py::bool_(same(a, b.cast<const T&>()));
}

std::string bitsText(double nits) { return std::isfinite(nits) ? shell::formatFixed(nits2bits(nits), 3) : "None"; }

void bindScore(py::module_& m) {
  using S = ScoreResult;
  py::class_<S>(m, "Score", "The message length of a given alignment (seqcorvane.score), in bits.")
      .def_property_readonly(
          "K", [](const S& s) { return s.parameters.K; }, "The distance estimated for the alignment (1..1000).")
      .def_property_readonly(
          "transitions", [](const S& s) { return transitionsOf(s.parameters.transitions); },
          "The machine's transition probabilities at K: {'MM': p, 'MD': p, ...}, from-state then to-state.")
      .def_property_readonly(
          "path_bits", [](const S& s) { return bitsOrNone(s.pathMsgLen); },
          "I(A): K, the length and the path's state choices.")
      .def_property_readonly(
          "residues_bits", [](const S& s) { return bitsOrNone(s.residuesMsgLen); },
          "I(<S,T>|A): the residues given the path.")
      .def_property_readonly(
          "bits", [](const S& s) { return bitsOrNone(s.msgLen); }, "I(A,<S,T>) = I(A) + I(<S,T>|A).")
      .def_property_readonly(
          "null_bits", [](const S& s) { return bitsOrNone(s.nullMsgLen); }, "I(S) + I(T) under the null hypothesis.")
      .def_property_readonly(
          "compression_bits", [](const S& s) { return s.compressionBits; },
          "null_bits less bits: above 0, the alignment says the pair is related.")
      .def_property_readonly(
          "sent", [](const S& s) { return hypothesisName(s.sent); },
          "'global' or 'local': the hypothesis of the message (under mode='auto', the shorter).")
      .def_property_readonly(
          "region", [](const S& s) { return regionObject(s.region); },
          "The residues the message aligns, a Region of two ranges: the whole of both sequences (global), from "
          "the first matched column to the last (local; the columns outside it are the flanks).")
      .def("__eq__", &equal<S>, py::is_operator(), "Scores of equal values are equal.")
      .def(py::pickle([](const S& s) { return py::make_tuple(STATE_VERSION, stateOf(s)); },
                      [](const py::tuple& state) {
                        if (state.size() != 2 || state[0].cast<int>() != STATE_VERSION)
                          throw py::value_error("a pickled score of another version of seqcorvane");
                        return scoreOf(state[1].cast<py::tuple>());
                      }))
      .def("__repr__", [](const S& s) {
        return "Score(K=" + std::to_string(s.parameters.K) + ", bits=" + bitsText(s.msgLen) +
               ", null_bits=" + bitsText(s.nullMsgLen) +
               ", compression_bits=" + shell::formatFixed(s.compressionBits, 3) +
               (s.sent == Hypothesis::global ? "" : ", sent='" + std::string(hypothesisName(s.sent)) + "'") + ")";
      });
}

}  // namespace

namespace {

using R = AlignResult;
using ResultClass = py::class_<R>;

// The pair and its alignment.
void addAlignment(ResultClass& c) {
  c.def_property_readonly(
       "criterion", [](const R& r) { return criterionName(r.criterion); }, "'optimal', 'marginal' or 'posterior'.")
      .def_property_readonly(
          "name_s", [](const R& r) { return r.s.name; }, "The name of S (a record's id, else 's').")
      .def_property_readonly(
          "name_t", [](const R& r) { return r.t.name; }, "The name of T (a record's id, else 't').")
      .def_property_readonly(
          "s", [](const R& r) { return r.s.residues; }, "The residues of S aligned (after the filter).")
      .def_property_readonly(
          "t", [](const R& r) { return r.t.residues; }, "The residues of T aligned (after the filter).")
      .def_property_readonly(
          "path", [](const R& r) { return r.path; },
          "The alignment, a letter per column: 'm' pairs residues, 'd' a residue of S with a gap, 'i' a gap with a "
          "residue of T; '' for the marginal criterion.")
      .def_property_readonly(
          "row_s", [](const R& r) { return r.rowS; }, "The gapped row of S ('-' for a gap).")
      .def_property_readonly(
          "row_t", [](const R& r) { return r.rowT; }, "The gapped row of T ('-' for a gap).")
      .def_property_readonly(
          "rows", [](const R& r) { return py::make_tuple(r.rowS, r.rowT); }, "(row_s, row_t).");
}

// The parameters, the message lengths and the verdict.
void addMessageLengths(ResultClass& c) {
  c.def_property_readonly(
       "K", [](const R& r) { return r.parameters.K; },
       "The distance of the alignment's parameters: the optimal criterion's estimate, the posterior "
       "alignment's decoding distance, the marginal distance.")
      .def_property_readonly(
          "transitions", [](const R& r) { return transitionsOf(r.parameters.transitions); },
          "The machine's transition probabilities at K: {'MM': p, 'MD': p, ...}, from-state then to-state.")
      .def_property_readonly(
          "null_bits", [](const R& r) { return bitsOrNone(r.nullMsgLen); }, "I(S) + I(T) under the null hypothesis.")
      .def_property_readonly(
          "alignment_bits", [](const R& r) { return bitsOrNone(r.alignmentMsgLen); },
          "I(A,<S,T>) of the optimal alignment (None for the other criteria; for the posterior one see score).")
      .def_property_readonly(
          "marginal_bits", [](const R& r) { return bitsOrNone(r.search.msgLen); },
          "The message length summed over all alignments at the marginal distance (None for the optimal criterion).")
      .def_property_readonly(
          "compression_bits", [](const R& r) { return r.compressionBits; },
          "null_bits less the optimal alignment's message length (optimal) or the marginal one (the others): "
          "above 0, related.")
      .def_property_readonly("related", &R::related, "compression_bits > 0.")
      .def_property_readonly(
          "calibrated",
          [](const R& r) -> py::object {
            const CalibratedVerdict& v = r.calibrated;
            if (!std::isfinite(v.compressionBits)) return py::none();
            return py::reinterpret_borrow<py::object>(calibratedClass)(
                v.K, nits2bits(v.nullMsgLen), nits2bits(v.msgLen), v.compressionBits, v.related());
          },
          "The verdict calibrated for composition, a Calibrated named tuple (K, null_bits, bits, compression_bits, "
          "related): both hypotheses state the pair's own residue frequencies, so that composition alone earns "
          "no compression. The posterior criterion's compression_bits is this one.")
      .def_property_readonly(
          "verdict", [](const R& r) { return r.related() ? "related" : "not related"; },
          "'related' or 'not related', as the report says.");
}

// The hypotheses: the one asked for, the one sent, their message lengths, the region.
void addHypothesis(ResultClass& c) {
  c.def_property_readonly(
       "mode", [](const R& r) { return hypothesisName(r.hypothesis.mode); },
       "'global', 'local' or 'auto': the hypothesis asked for (mode=).")
      .def_property_readonly(
          "sent", [](const R& r) { return hypothesisName(r.hypothesis.sent); },
          "'global' or 'local': the hypothesis the alignment, its parameters and the distance search are of "
          "(under mode='auto' the one chosen: the shorter message for the optimal criterion, the greater share "
          "of the pair's probability for the others).")
      .def_property_readonly(
          "global_bits", [](const R& r) { return bitsOrNone(r.hypothesis.globalMsgLen); },
          "The global hypothesis's message length as the criterion takes it (its optimal alignment's, or summed "
          "over all alignments); None where it was not computed (mode='local').")
      .def_property_readonly(
          "local_bits", [](const R& r) { return bitsOrNone(r.hypothesis.localMsgLen); },
          "The local hypothesis's message length as the criterion takes it; None where it was not computed "
          "(mode='global').")
      .def_property_readonly(
          "local_weight", [](const R& r) { return numberOrNone(r.hypothesis.localWeight); },
          "The local hypothesis's share of the pair's probability (0 to 1), which the marginal and posterior "
          "criteria compute under mode='auto'; None otherwise.")
      .def_property_readonly(
          "region",
          [](const R& r) -> py::object {
            if (r.path.empty()) return py::none();
            return regionObject(r.hypothesis.region);
          },
          "The residues the alignment aligns, a Region of two ranges (region.s, region.t: 0-based, end "
          "exclusive, as slices): the whole of both sequences for a global alignment, from the first matched "
          "column to the last for a local one (the residues outside it are its flanks); None without an "
          "alignment (the marginal criterion) or for a local one without a matched column.");
}

// The confidences, the criteria's details, formats, comparison, pickling.
void addDetailsAndMethods(ResultClass& c) {
  c.def_property_readonly(
       "column_confidence",
       [](const R& r) -> py::object {
         if (r.columnConfidence.empty()) return py::none();
         return py::cast(r.columnConfidence);
       },
       "Per column of path the posterior probability of its pair or unpaired residue (posterior criterion, or "
       "confidence=True); None otherwise.")
      .def_property_readonly(
          "marginal_K", [](const R& r) { return r.search.K; },
          "The distance of least marginal message length (marginal and posterior criteria; 0 for optimal).")
      .def_property_readonly(
          "fitted_matches", [](const R& r) { return r.posterior.fittedMatches; },
          "The posterior criterion's match emissions came from the models' fitted tables.")
      .def_property_readonly(
          "end_gaps_alike", [](const R& r) { return r.posterior.endGapsAlike; },
          "The posterior criterion priced the gap runs at the two ends alike.")
      .def_property_readonly(
          "score",
          [](const R& r) -> py::object {
            if (r.criterion != Criterion::posterior) return py::none();
            return py::cast(r.posterior.score);
          },
          "The posterior alignment scored as seqcorvane.score scores it (a Score); None for the other criteria.")
      .def(
          "format",
          [](const R& r, const std::string& name) {
            AlignmentFormat f;
            if (!parseAlignmentFormat(name, f))
              throw py::value_error("format is 'afasta', 'fasta', 'clustal', 'stockholm' or 'json', not '" + name +
                                    "'");
            if (r.path.empty() && f != AlignmentFormat::json)
              throw py::value_error("the " + std::string(criterionName(r.criterion)) +
                                    " criterion gives no alignment to write as " + name + " (only as json)");
            return formatAlignment(r, f);
          },
          py::arg("format"),
          "The text of an alignment file in the format: 'afasta', 'fasta', 'clustal', 'stockholm' or 'json' (the "
          "program's --format).")
      .def("__eq__", &equal<R>, py::is_operator(), "Results of equal fields are equal.")
      .def(py::pickle([](const R& r) { return stateOf(r); }, [](const py::tuple& state) { return resultOf(state); }))
      .def("__repr__", [](const R& r) {
        const HypothesisDetails& h = r.hypothesis;
        std::string mode;
        if (h.mode != Hypothesis::global) mode = " mode=" + std::string(hypothesisName(h.mode));
        if (h.mode == Hypothesis::automatic) mode += " sent=" + std::string(hypothesisName(h.sent));
        return "<Result " + std::string(criterionName(r.criterion)) + " " + r.s.name + "/" + r.t.name + mode +
               " K=" + std::to_string(r.parameters.K) + " " + shell::formatFixed(r.compressionBits, 3) + " bits>";
      });
}

}  // namespace

// seqcorvane.Region: the residues of each sequence an alignment aligns, as
// two ranges; a named tuple, so that it unpacks, compares and pickles.
void bindRegion(py::module_& m) {
  py::object namedtuple = py::module_::import("collections").attr("namedtuple");
  py::object cls = namedtuple("Region", py::make_tuple("s", "t"), py::arg("module") = "seqcorvane");
  cls.attr("__doc__") =
      "The residues of each sequence an alignment aligns: Region(s=range(b, e), t=range(b, e)), 0-based and end "
      "exclusive as slices are (seq[region.s.start:region.s.stop] is the part of S aligned); an empty range "
      "where the region holds no residue of that sequence. A named tuple: s, t = region unpacks it.";
  cls.attr("s").attr("__doc__") = "The positions of S's residues in the region, a range (0-based, end exclusive).";
  cls.attr("t").attr("__doc__") = "The positions of T's residues in the region, a range (0-based, end exclusive).";
  m.attr("Region") = cls;
  regionClass = cls.release().ptr();  // the module's for as long as the interpreter lives
}

// seqcorvane.Calibrated: the verdict calibrated for composition.
void bindCalibrated(py::module_& m) {
  py::object namedtuple = py::module_::import("collections").attr("namedtuple");
  py::object cls = namedtuple("Calibrated", py::make_tuple("K", "null_bits", "bits", "compression_bits", "related"),
                              py::arg("module") = "seqcorvane");
  cls.attr("__doc__") =
      "The verdict calibrated for composition: the two hypotheses each state the pair's own residue "
      "frequencies. K is the distance it was computed at; null_bits and bits are the two message lengths "
      "(the frequencies' statements included); compression_bits = null_bits - bits; related = compression_bits > 0.";
  m.attr("Calibrated") = cls;
  calibratedClass = cls.release().ptr();  // the module's for as long as the interpreter lives
}

void bindResults(py::module_& m) {
  bindRegion(m);
  bindCalibrated(m);
  bindScore(m);
  ResultClass c(m, "Result", "The result of align(): the alignment, its parameters and message lengths (in bits).");
  addAlignment(c);
  addMessageLengths(c);
  addHypothesis(c);
  addDetailsAndMethods(c);
}

}  // namespace seqcorvane::python
