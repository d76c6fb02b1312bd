// SeqCorvane: pairwise alignment of protein sequences in the Minimum Message
// Length (MML) framework.
//
// Every hypothesis is the length of a message that sends the pair. The null
// hypothesis sends the two sequences independently; the alignment hypothesis
// sends the parameters (among them the evolutionary distance K, 1..1000), an
// alignment as a path through a three-state machine (match M, delete D,
// insert I) and the sequences given the path. Their difference, the
// compression, says how many times (as a power of two) the pair is more
// likely related than not.
//
// One call aligns a pair and returns its result; nothing here prints, reads
// the terminal or ends the process. A problem with the caller's input or
// models is thrown as seqcorvane::Error with a one-line message; a broken
// internal invariant is a defect and goes to the check handler (which ends
// the process unless replaced, see setCheckHandler).
//
//   seqcorvane::Models models;                       // the model files, loaded once
//   seqcorvane::AlignConfig config;                  // the optimal criterion
//   seqcorvane::AlignResult r = seqcorvane::align({"s", "MVLS..."}, {"t", "MVHL..."}, models, config);
//   double bits = r.compressionBits;                 // > 0: related rather than not
//
// Message lengths are in nits (natural logarithms) unless a name ends in Bits.
// Models is immutable once loaded and may be shared by any number of threads;
// every call keeps its working state to itself.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace seqcorvane {

// The library's version, "MAJOR.MINOR".
const char* version();

// A problem with what the caller gave: an input file or sequence, the model
// files, an output file, or a run larger than the memory it may use. The
// message is one line, unless it ends with a newline: then it is a text of
// several lines to be shown as it stands.
class Error : public std::runtime_error {
 public:
  enum class Kind {
    input,      // a sequence, an alignment, a setting or an input file
    model,      // the model files: missing, malformed, or failing their sense checks
    output,     // an output file that cannot be written
    resources,  // a run that does not fit in the memory this process may use
  };
  Error(Kind kind, const std::string& message);
  Kind kind() const noexcept { return kind_; }

 private:
  Kind kind_;
};

// A broken internal invariant: the handler gets the failed condition and its
// source position. The default prints one line on standard error and ends
// the process with status 2; a replacement must not return (it may throw).
using CheckHandler = void (*)(const std::string& message);
// Installs a handler and returns the one it replaces; nullptr restores the default.
CheckHandler setCheckHandler(CheckHandler handler);

namespace detail {
struct ModelData;
struct ModelsAccess;
}  // namespace detail

// The model data of the install a program is built against: the CMake
// package (find_package(seqcorvane)) defines SEQCORVANE_DATA_DIR for the
// programs it builds; pkg-config gives it as its variable datadir.
#ifndef SEQCORVANE_DATA_DIR
#define SEQCORVANE_DATA_DIR ""
#endif

// The model files (null model, substitution matrix as S, D and S^-1,
// Dirichlet priors per distance, and the posterior criterion's fitted match
// tables where the directory has them), loaded and sense-checked once.
class Models {
 public:
  // From dataDir; when empty, from the first of ./data, the data installed
  // with the running program (<bin>/../share/seqcorvane/data),
  // installedData (the install the program was built against), the data
  // directory of the install the library was configured for, and the source
  // tree's data/, that holds any of the five files. Throws Error (kind
  // model), naming the directories it tried.
  explicit Models(const std::string& dataDir = "", const std::string& installedData = SEQCORVANE_DATA_DIR);
  // The directory the files came from.
  const std::string& directory() const;
  // A digest of the files' contents (FNV-1a, 64 bits, 16 hexadecimal
  // digits): equal digests, the same models.
  const std::string& digest() const;
  // The names of the five files every model directory holds, the null model's first.
  static const std::vector<std::string>& fileNames();

 private:
  friend struct detail::ModelsAccess;
  std::shared_ptr<const detail::ModelData> data_;
};

// How the alignment is chosen.
enum class Criterion {
  optimal,    // the single best alignment, its parameters estimated with it
  marginal,   // no alignment: the message length summed over all alignments
  posterior,  // the alignment of maximum expected accuracy from posterior probabilities
};
// "optimal", "marginal", "posterior".
const char* criterionName(Criterion c);
// false when the name is none of them.
bool parseCriterion(const std::string& name, Criterion& c);

// The posterior criterion's model and decoding.
struct PosteriorOptions {
  double rateShape = 1;        // gamma shape of the site rates, 0..1000 (0: every site at one rate)
  int rateCategories = 4;      // equally likely rate categories, 1..1000
  double gapOpenScale = 0.35;  // the priors' gap-opening probability times this, in (0, 1]
  double gapWeight = 0;        // weight of unpaired residues in the expected accuracy
  // The same under the local hypothesis, where a residue is unpaired in a
  // flank as in a gap: 1 keeps the alignment from reaching into the flanks.
  double regionUnpairedWeight = 1;
  bool fallbackAtTop = true;  // decode at the optimal criterion's distance where the marginal one is >= topDistance
  int topDistance = 999;      // 1..1000
  int distanceCap = 0;        // decode at no more than this distance, 0..1000 (0: no cap)
  // Match emissions from the models' fitted joint residue-pair tables, where
  // the model directory has them (then the site rates are not used).
  bool fittedMatches = true;
  // Price the gap runs at the two ends of the alignment alike in the
  // posteriors: a run that ends the alignment costs what one that opens it
  // costs (its close instead of its opening). The message lengths and the
  // compression stay those of the machine.
  bool endGapsAlike = true;
};

// The hypothesis sent beside the null one: the two sequences aligned end to
// end (global); a region of each sequence aligned and the residues outside
// it under the null model (local: the region's first matched cell uniform
// over the grid, its end after a match with probability 0.01); or both, the
// message stating which (automatic: the shorter is sent by the optimal
// criterion, both at half the prior each by the summed ones).
enum class Hypothesis { global, local, automatic };
// "global", "local", "auto".
const char* hypothesisName(Hypothesis h);
// false when the name is none of them.
bool parseHypothesis(const std::string& name, Hypothesis& h);

// The widest instruction set the dynamic programmes may use; results do not
// depend on it.
enum class InstructionSet { best, scalar, sse2, avx2, avx512 };

struct AlignConfig {
  Criterion criterion = Criterion::optimal;
  Hypothesis mode = Hypothesis::global;
  PosteriorOptions posterior;
  // With the optimal criterion, also the posterior probability of every
  // column of the alignment (the posterior criterion always gives them).
  bool columnConfidence = false;
  // Threads for the distance search of one pair, 0..1024; 0: 2, at most the cores.
  // Results do not depend on it.
  int threads = 0;
  // best: the widest this CPU has.
  InstructionSet instructionSet = InstructionSet::best;
  // The bytes a call may use for its dynamic programming; 0: what this
  // process may still use (its address-space limit, its cgroup's limit, the
  // memory available). A run that needs more is refused (Error, resources).
  double memoryLimit = 0;
};

// A sequence with its name; residues are the twenty upper-case letters
// ACDEFGHIKLMNPQRSTVWY only (see standardResidues in io.h).
struct Sequence {
  std::string name;
  std::string residues;
};

// Machine states, as indices of a transition table.
enum State { stateMatch = 0, stateDelete = 1, stateInsert = 2 };
// Transition probabilities [from][to], indexed by State.
using Transitions = std::array<std::array<double, 3>, 3>;

// The parameters of one hypothesis: the distance K and the transitions at it.
struct Parameters {
  int K = 0;
  Transitions transitions{};
};

// Residues [beginS, endS) of S and [beginT, endT) of T, counted from 0.
struct Region {
  std::size_t beginS = 0, endS = 0, beginT = 0, endT = 0;
};

// The message length of a given alignment (what --ivalue computes): K
// estimated for it, the transitions at K.
struct ScoreResult {
  Hypothesis sent = Hypothesis::global;  // global or local: the hypothesis of the message (automatic: the shorter)
  Region region;  // the region the message aligns: the whole pair (global), first to last match (local)
  Parameters parameters;
  double pathMsgLen = 0;       // I(A): K, the length and the path's state choices
  double residuesMsgLen = 0;   // I(<S,T>|A): the residues given the path
  double msgLen = 0;           // I(A,<S,T>) = I(A) + I(<S,T>|A)
  double nullMsgLen = 0;       // I(S) + I(T) under the null hypothesis
  double compressionBits = 0;  // (nullMsgLen - msgLen) in bits
};

// The search for the distance of least marginal message length (the
// marginal and posterior criteria).
struct MarginalSearch {
  int K = 0;              // the distance found
  Parameters parameters;  // the parameters there
  // -ln of the probability of the pair summed over all alignments at K, with
  // the costs of K and of the length: the marginal message length (NaN for
  // the optimal criterion).
  double msgLen = std::numeric_limits<double>::quiet_NaN();
  int fastPasses = 0;   // passes over the whole grid in probability space
  int exactPasses = 0;  // and exact ones in log space
};

// How the posterior criterion modelled and decoded the pair.
struct PosteriorDetails {
  bool decodedAtOptimalK = false;  // not at the marginal distance (its top of the range, or the cap)
  std::vector<double> siteRates;   // the rate categories' mean rates (empty: one rate)
  bool fittedMatches = false;      // match emissions from the models' fitted joint tables
  bool endGapsAlike = false;       // the posteriors priced the end gap runs alike
  double gapOpenScale = 1;
  ScoreResult score;  // the posterior alignment scored as scoreAlignment scores it
};

// What the hypotheses gave.
struct HypothesisDetails {
  Hypothesis mode = Hypothesis::global;  // as the config asked
  Hypothesis sent = Hypothesis::global;  // global or local: the one the alignment, its parameters and the search are of
  // Each hypothesis's message length as the criterion takes it (its optimal
  // alignment's, or summed over all alignments), in nits; NaN where not
  // computed. The automatic choice states which is sent (ln 2 more) and
  // sends the shorter (optimal) or both at once (the summed criteria).
  double globalMsgLen = std::numeric_limits<double>::quiet_NaN();
  double localMsgLen = std::numeric_limits<double>::quiet_NaN();
  // The automatic choice of the summed criteria: the local hypothesis's
  // share of the pair's probability.
  double localWeight = std::numeric_limits<double>::quiet_NaN();
  // The alignment's region: a local alignment's from its first matched
  // column to its last (the residues outside it are its flanks), the whole
  // pair for a global one; empty without an alignment.
  Region region;
};

// The verdict calibrated for composition: a second pair of hypotheses from
// which composition alone cannot earn compression. Both send each sequence's
// residues with its own composition (its residue counts stated first, alike
// in both) instead of the null model's frequencies, and the alignment
// hypothesis emits its matched pairs from its joint adjusted to the two
// compositions (the distribution nearest to it with those marginals, which
// keeps its odds ratios), so that a chance pairing of two residues earns
// nothing on average whatever the sequences are made of. Over the
// criterion's own alignment at the distance estimated for it (optimal), or
// over all alignments at the criterion's distance (marginal, posterior),
// under its hypothesis and model; the automatic choice states its choice as
// the criterion does.
struct CalibratedVerdict {
  int K = 0;                                                     // the distance it was computed at
  double nullMsgLen = std::numeric_limits<double>::quiet_NaN();  // in nits, the counts' statements included
  double msgLen = std::numeric_limits<double>::quiet_NaN();      // the alignment hypothesis, in nits
  double compressionBits = std::numeric_limits<double>::quiet_NaN();
  bool related() const { return compressionBits > 0; }
};

// The result of align().
struct AlignResult {
  Criterion criterion = Criterion::optimal;
  Sequence s, t;
  // The alignment, one letter per column ('m' pairs a residue of S with one
  // of T, 'd' a residue of S with a gap, 'i' a gap with a residue of T), and
  // its two gapped rows. Empty for the marginal criteria.
  std::string path;
  std::string rowS, rowT;
  // The alignment's parameters: the optimal criterion's estimates; the
  // distance the posterior alignment was decoded at; the marginal distance.
  Parameters parameters;
  // Null hypothesis: I(S) + I(T), each sequence with its length (see nullMsgLen).
  double nullMsgLen = 0;
  // I(A,<S,T>) of the optimal alignment (NaN for the marginal criteria; for
  // the posterior criterion see score).
  double alignmentMsgLen = 0;
  // The verdict: null less the optimal alignment's message length (optimal),
  // or less the marginal message length (search.msgLen, marginal), in bits;
  // the posterior criterion's is its calibrated verdict's (calibrated).
  double compressionBits = 0;
  bool related() const { return compressionBits > 0; }
  // Per column of path: the posterior probability of its pair (match) or of
  // its residue being unpaired (gap). Posterior criterion, or asked for.
  std::vector<double> columnConfidence;

  // The hypotheses.
  HypothesisDetails hypothesis;
  // The marginal and posterior criteria's distance search.
  MarginalSearch search;
  // The posterior criterion's model and decoding.
  PosteriorDetails posterior;
  // The verdict calibrated for composition, of every criterion.
  CalibratedVerdict calibrated;
};

// One row i (0..|S|) of the marginal landscape: for every column j (0..|T|)
// -ln of the probability of all alignments through cell (i, j), in nits
// (the marginal message length at the two corners).
struct LandscapeRow {
  std::size_t i;
  const double* values;  // |T| + 1 values, valid during the call only
  std::size_t size;
};
using LandscapeVisitor = std::function<void(const LandscapeRow&)>;

// Aligns s and t (both non-empty, standard residues only) under the
// criterion. For the marginal criterion with a visitor, the landscape's rows
// are handed to it in order as they are computed (24 bytes a cell while the
// call runs). Throws Error on bad input, and (resources) when the run needs
// more memory than the config allows.
AlignResult align(const Sequence& s, const Sequence& t, const Models& models, const AlignConfig& config = {},
                  const LandscapeVisitor& landscape = {});

// The message length of the alignment of two gapped rows of equal length
// (residues and '-', no column of two gaps, a residue in each row), under
// the hypothesis: locally, its leading and trailing columns without a match
// are the flanks (it needs a matched column); automatically, the shorter of
// the two with ln 2 for the choice. Throws Error (kind input) when the rows
// are not such an alignment.
ScoreResult scoreAlignment(const std::string& rowS, const std::string& rowT, const Models& models,
                           Hypothesis mode = Hypothesis::global);

// I(seq) under the null hypothesis: its length and its residues, in nits.
double nullMsgLen(const std::string& residues, const Models& models);
// The message length of residue a of S paired with residue b of T at
// distance K (1..1000), in nits: -ln of the mean of Pnull(a) Pr(b|a) and
// Pnull(b) Pr(a|b) under the substitution model.
double pairMsgLen(const Models& models, int K, char a, char b);

// The best alignments through chosen cells at distance K under the optimal
// criterion's model: the best paths from the start to every cell and from
// every cell to the end, in both states (about 50 bytes a cell). Uses the
// config's hypothesis (global or local: under the local one, the best
// alignment whose region passes the cell; automatic is refused, Error input:
// take the hypothesis an automatic result sent), instruction set and memory
// limit.
class CellPaths {
 public:
  CellPaths(const Sequence& s, const Sequence& t, const Models& models, int K, const AlignConfig& config = {});
  ~CellPaths();
  CellPaths(CellPaths&&) noexcept;
  CellPaths& operator=(CellPaths&&) noexcept;

  struct Through {
    std::string path;  // 'm', 'd', 'i' per column
    double msgLen;     // I(A,<S,T>) of that alignment at K, in nits
  };
  // The best alignment through cell (i, j), 0 <= i <= |S|, 0 <= j <= |T|.
  // Under the local hypothesis no alignment passes (0, |T|) or (|S|, 0)
  // (a region begins with a match and ends after one): Error (input).
  Through best(std::size_t i, std::size_t j) const;
  // The best alignment at K: that through (0, 0) under the global
  // hypothesis (every alignment passes it), the best of all regions under
  // the local one.
  Through best() const;
  // Bytes of storage the paths of sequences of these lengths keep.
  static double memoryNeeded(std::size_t nS, std::size_t nT);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Bytes of dynamic-programming storage that align() needs for sequences of
// these lengths under the criterion (for the marginal one with a landscape
// visitor), under the global or the local hypothesis; and under the config's.
double memoryNeeded(std::size_t nS, std::size_t nT, Criterion criterion);
double memoryNeeded(std::size_t nS, std::size_t nT, const AlignConfig& config);

// Conversions of a path: the gapped rows of s and t along it, and back.
std::vector<std::string> pathRows(const std::string& path, const std::string& s, const std::string& t);
std::string rowsPath(const std::string& rowS, const std::string& rowT);
// Runs of deletes or inserts in a path.
int gapOpenings(const std::string& path);
// Percent of the path's columns that pair equal residues.
double percentIdentity(const std::vector<std::string>& rows);

double nits2bits(double nits);

}  // namespace seqcorvane
