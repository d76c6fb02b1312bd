// The library's calls: one pair aligned under a criterion, a given alignment
// scored, the best alignments through chosen cells.
#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

#include "cellPaths.h"
#include "check.h"
#include "codeLengths.h"
#include "estimation.h"
#include "hypotheses.h"
#include "memoryBudget.h"
#include "numberText.h"
#include "optimal.h"
#include "paths.h"
#include "posterior.h"
#include "residues.h"
#include "settings.h"
#include "text.h"

namespace seqcorvane {

using namespace detail;

namespace {

// The longest sequence whose length the tree code can state.
constexpr std::size_t MAX_SEQUENCE_LENGTH = MAX_TREE_CODE_VALUE;

// The residues of a text: residue letters only (the first other character
// is an error naming what).
void requireResidueLetters(const std::string& residues, const std::string& who) {
  for (std::size_t k = 0; k < residues.size(); ++k)
    if (!isResidue(residues[k]))
      inputError(who + " holds '" + characterAt(residues, k) + "' at position " + std::to_string(k + 1) +
                 ", which is not one of the residue letters ACDEFGHIKLMNPQRSTVWY (filter it with standardResidues)");
}

void requireResidues(const Sequence& s) {
  const std::string who = "sequence '" + excerpt(s.name) + "'";
  if (s.residues.empty()) inputError(who + " holds no standard residues (upper-case ACDEFGHIKLMNPQRSTVWY) to align");
  requireResidueLetters(s.residues, who);
  if (s.residues.size() > MAX_SEQUENCE_LENGTH)
    inputError(who + " holds " + std::to_string(s.residues.size()) + " residues; at most " +
               std::to_string(MAX_SEQUENCE_LENGTH) + " can be aligned");
}

// A setting of the config that is not in its range.
[[noreturn]] void badSetting(const std::string& field, const std::string& value, const std::string& range) {
  inputError(field + " " + value + " is " + range);
}

}  // namespace

void detail::requireConfig(const AlignConfig& c) {
  const int criterion = static_cast<int>(c.criterion);
  if (criterion < 0 || criterion > static_cast<int>(Criterion::posterior))
    badSetting("AlignConfig.criterion", std::to_string(criterion), "none of optimal, marginal and posterior");
  const int mode = static_cast<int>(c.mode);
  if (mode < 0 || mode > static_cast<int>(Hypothesis::automatic))
    badSetting("AlignConfig.mode", std::to_string(mode), "none of global, local and auto");
  if (c.threads < 0 || c.threads > 1024)
    badSetting("AlignConfig.threads", std::to_string(c.threads), "outside 0..1024");
  const int set = static_cast<int>(c.instructionSet);
  if (set < 0 || set > static_cast<int>(InstructionSet::avx512))
    badSetting("AlignConfig.instructionSet", std::to_string(set), "none of best, scalar, sse2, avx2 and avx512");
  if (!(std::isfinite(c.memoryLimit) && c.memoryLimit >= 0))
    badSetting("AlignConfig.memoryLimit", formatGeneral(c.memoryLimit), "not a number of bytes (0 or more)");
  const PosteriorOptions& p = c.posterior;
  if (!(std::isfinite(p.rateShape) && p.rateShape >= 0 && p.rateShape <= 1000))
    badSetting("PosteriorOptions.rateShape", formatGeneral(p.rateShape), "not a gamma shape in 0..1000 (0: one rate)");
  if (p.rateCategories < 1 || p.rateCategories > 1000)
    badSetting("PosteriorOptions.rateCategories", std::to_string(p.rateCategories), "outside 1..1000");
  if (!(std::isfinite(p.gapOpenScale) && p.gapOpenScale > 0 && p.gapOpenScale <= 1))
    badSetting("PosteriorOptions.gapOpenScale", formatGeneral(p.gapOpenScale), "outside (0, 1]");
  if (!(std::isfinite(p.gapWeight) && p.gapWeight >= 0))
    badSetting("PosteriorOptions.gapWeight", formatGeneral(p.gapWeight), "not a finite weight of 0 or more");
  if (!(std::isfinite(p.regionUnpairedWeight) && p.regionUnpairedWeight >= 0))
    badSetting("PosteriorOptions.regionUnpairedWeight", formatGeneral(p.regionUnpairedWeight),
               "not a finite weight of 0 or more");
  if (p.topDistance < 1 || p.topDistance > 1000)
    badSetting("PosteriorOptions.topDistance", std::to_string(p.topDistance), "outside 1..1000");
  if (p.distanceCap < 0 || p.distanceCap > 1000)
    badSetting("PosteriorOptions.distanceCap", std::to_string(p.distanceCap), "outside 0..1000 (0: no cap)");
}

namespace {

void requireDistance(int K) {
  if (K < 1 || K > 1000) inputError("distance " + std::to_string(K) + " is outside 1..1000");
}

double cellsOf(std::size_t nS, std::size_t nT) { return static_cast<double>(nS + 1) * static_cast<double>(nT + 1); }

// Rolling rows, cost tables and sequences: a few hundred bytes per residue.
double rowBytes(std::size_t nS, std::size_t nT) { return 512.0 * static_cast<double>(nS + nT + 2); }

// Refuses a run whose dynamic programming needs more than the config allows.
void requireMemoryFor(double bytes, const std::string& what, const AlignConfig& config) {
  requireMemory(bytes, config.memoryLimit > 0 ? config.memoryLimit : memoryAvailable(), what);
}

std::string aligning(std::size_t nS, std::size_t nT, const std::string& criterion) {
  return "aligning sequences of " + std::to_string(nS) + " and " + std::to_string(nT) + " residues with the " +
         criterion + " criterion";
}

}  // namespace

RunSettings detail::runSettings(const AlignConfig& config) {
  RunSettings run;
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  run.threads = config.threads > 0 ? config.threads : std::min(2, cores);
  run.simd = bestSimdLevel();
  if (config.instructionSet != InstructionSet::best) {
    const SimdLevel wanted = static_cast<SimdLevel>(static_cast<int>(config.instructionSet) - 1);
    if (static_cast<int>(wanted) < static_cast<int>(run.simd)) run.simd = wanted;
  }
  return run;
}

MachineModel detail::singleHypothesis(const AlignConfig& config, const std::string& what) {
  requireConfig(config);
  if (config.mode == Hypothesis::automatic)
    inputError(what +
               " are of the global or the local hypothesis, not auto: take the one an automatic result sent "
               "(its hypothesis.sent)");
  MachineModel model;
  model.local = config.mode == Hypothesis::local;
  return model;
}

const char* criterionName(Criterion c) {
  switch (c) {
    case Criterion::optimal:
      return "optimal";
    case Criterion::marginal:
      return "marginal";
    case Criterion::posterior:
      return "posterior";
  }
  return "unknown";
}

const char* hypothesisName(Hypothesis h) {
  switch (h) {
    case Hypothesis::global:
      return "global";
    case Hypothesis::local:
      return "local";
    case Hypothesis::automatic:
      return "auto";
  }
  return "unknown";
}

bool parseHypothesis(const std::string& name, Hypothesis& h) {
  for (Hypothesis k : {Hypothesis::global, Hypothesis::local, Hypothesis::automatic})
    if (name == hypothesisName(k)) {
      h = k;
      return true;
    }
  return false;
}

bool parseCriterion(const std::string& name, Criterion& c) {
  for (Criterion k : {Criterion::optimal, Criterion::marginal, Criterion::posterior})
    if (name == criterionName(k)) {
      c = k;
      return true;
    }
  return false;
}

double memoryNeeded(std::size_t nS, std::size_t nT, Criterion criterion) {
  double perCell = 1;  // optimal: one byte of trace codes
  // marginal: the sums to the sink of the landscape
  if (criterion == Criterion::marginal) perCell = 3 * sizeof(double);
  // posterior: the pair posterior of every cell and one byte of the decoding's choices
  if (criterion == Criterion::posterior) perCell = sizeof(float) + 1;
  return perCell * cellsOf(nS, nT) + rowBytes(nS, nT);
}

double memoryNeeded(std::size_t nS, std::size_t nT, const AlignConfig& config) {
  // The automatic choice keeps the posterior criterion's pair posteriors of both hypotheses.
  if (config.criterion == Criterion::posterior && config.mode == Hypothesis::automatic)
    return memoryNeeded(nS, nT, config.criterion) + sizeof(float) * cellsOf(nS, nT);
  return memoryNeeded(nS, nT, config.criterion);
}

double CellPaths::memoryNeeded(std::size_t nS, std::size_t nT) {
  // the best totals and the trace codes of both directions
  return 2 * (3 * sizeof(double) + 1) * cellsOf(nS, nT) + rowBytes(nS, nT);
}

AlignResult align(const Sequence& s, const Sequence& t, const Models& models, const AlignConfig& config,
                  const LandscapeVisitor& landscape) {
  requireConfig(config);
  requireResidues(s);
  requireResidues(t);
  const std::size_t nS = s.residues.size(), nT = t.residues.size();
  const bool withLandscape = config.criterion == Criterion::marginal && landscape;
  requireMemoryFor(
      config.criterion == Criterion::marginal && !withLandscape ? rowBytes(nS, nT) : memoryNeeded(nS, nT, config),
      aligning(nS, nT, criterionName(config.criterion)), config);
  const ModelData& data = modelData(models);
  const RunSettings run = runSettings(config);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  AlignResult r;
  r.criterion = config.criterion;
  r.s = s;
  r.t = t;
  r.nullMsgLen = sequenceNullMsgLen(s.residues, data.nullMdl) + sequenceNullMsgLen(t.residues, data.nullMdl);
  r.alignmentMsgLen = nan;
  const PairRun pair{s.residues, t.residues, data, run, r.nullMsgLen};
  double verdictMsgLen = nan;
  switch (config.criterion) {
    case Criterion::optimal:
      verdictMsgLen = alignOptimal(pair, config, r);
      break;
    case Criterion::marginal:
      verdictMsgLen = alignMarginal(pair, config, withLandscape ? &landscape : nullptr, r);
      break;
    case Criterion::posterior:
      verdictMsgLen = alignPosterior(pair, config, r);
      break;
  }
  if (!r.path.empty()) {
    const std::vector<std::string> rows = fsastr2Algn(r.path, s.residues, t.residues);
    r.rowS = rows[0];
    r.rowT = rows[1];
  }
  r.compressionBits = nits2bits(r.nullMsgLen - verdictMsgLen);
  // The posterior criterion gives the verdict composition cannot earn.
  if (config.criterion == Criterion::posterior) r.compressionBits = r.calibrated.compressionBits;
  return r;
}

double nullMsgLen(const std::string& residues, const Models& models) {
  requireResidueLetters(residues, "the sequence");
  if (residues.size() > MAX_SEQUENCE_LENGTH)
    inputError("the sequence holds " + std::to_string(residues.size()) + " residues; the null model states at most " +
               std::to_string(MAX_SEQUENCE_LENGTH));
  return sequenceNullMsgLen(residues, modelData(models).nullMdl);
}

double pairMsgLen(const Models& models, int K, char a, char b) {
  requireDistance(K);
  if (!isResidue(a) || !isResidue(b))
    inputError("'" + excerpt(std::string{a, b}) + "' is not a pair of residue letters ACDEFGHIKLMNPQRSTVWY");
  SubmatClass_t model = modelData(models).pam;
  model.exp(K);
  return matchMsgLen(model, modelData(models).pnull, a, b);
}

ScoreResult scoreAlignment(const std::string& rowS, const std::string& rowT, const Models& models, Hypothesis mode) {
  const int m = static_cast<int>(mode);
  if (m < 0 || m > static_cast<int>(Hypothesis::automatic))
    inputError("hypothesis " + std::to_string(m) + " is none of global, local and auto");
  if (rowS.size() != rowT.size())
    inputError("the two rows of the alignment differ in length (" + std::to_string(rowS.size()) + " and " +
               std::to_string(rowT.size()) + " columns)");
  // The length of the path is stated with the tree code, which has a largest value.
  if (rowS.size() > MAX_SEQUENCE_LENGTH)
    inputError("the alignment has " + std::to_string(rowS.size()) + " columns; at most " +
               std::to_string(MAX_SEQUENCE_LENGTH) + " can be scored");
  for (std::size_t k = 0; k < rowS.size(); ++k) {
    const char a = rowS[k], b = rowT[k];
    if ((a != '-' && !isResidue(a)) || (b != '-' && !isResidue(b)))
      inputError("column " + std::to_string(k + 1) + " of the alignment holds '" + excerpt(std::string{a, b}) +
                 "': only residue letters ACDEFGHIKLMNPQRSTVWY and gaps '-' can be scored");
    if (a == '-' && b == '-') inputError("column " + std::to_string(k + 1) + " of the alignment holds two gaps");
  }
  std::string S = rowS, T = rowT;
  S.erase(std::remove(S.begin(), S.end(), '-'), S.end());
  T.erase(std::remove(T.begin(), T.end(), '-'), T.end());
  if (S.empty() || T.empty())
    inputError(std::string("the ") + (S.empty() ? "first" : "second") + " row of the alignment holds no residues");
  const std::string path = algn2Fsastr({rowS, rowT});
  if (mode == Hypothesis::local && path.find('m') == std::string::npos)
    inputError("a local alignment has at least one matched column: this one has none");
  const ModelData& data = modelData(models);
  const double nullMsgLen = sequenceNullMsgLen(S, data.nullMdl) + sequenceNullMsgLen(T, data.nullMdl);
  return scoreUnder(PairRun{S, T, data, RunSettings{}, nullMsgLen}, path, mode);
}

struct CellPaths::Impl {
  threeStateDPAClass_t machine;
  CellFills fills;
};

CellPaths::CellPaths(const Sequence& s, const Sequence& t, const Models& models, int K, const AlignConfig& config) {
  const MachineModel model = singleHypothesis(config, "the best paths through cells");
  requireResidues(s);
  requireResidues(t);
  requireDistance(K);
  requireMemoryFor(memoryNeeded(s.residues.size(), t.residues.size()),
                   "keeping the best paths through the cells of sequences of " + std::to_string(s.residues.size()) +
                       " and " + std::to_string(t.residues.size()) + " residues",
                   config);
  const threeStateDPAClass_t m = makeMachine(s.residues, t.residues, modelData(models), K, model, runSettings(config));
  impl_ = std::make_unique<Impl>(Impl{m, fillBothDirections(m)});
}

CellPaths::~CellPaths() = default;
CellPaths::CellPaths(CellPaths&&) noexcept = default;
CellPaths& CellPaths::operator=(CellPaths&&) noexcept = default;

CellPaths::Through CellPaths::best(std::size_t i, std::size_t j) const {
  const std::size_t nS = impl_->machine.S().size(), nT = impl_->machine.T().size();
  if (i > nS || j > nT)
    inputError("cell (" + std::to_string(i) + "," + std::to_string(j) + ") is outside the grid of 0.." +
               std::to_string(nS) + " by 0.." + std::to_string(nT));
  const TracedPath p =
      printAlignmentThroughCell(impl_->machine, impl_->fills, static_cast<long>(i), static_cast<long>(j));
  if (p.fsastr.empty())
    inputError("no local alignment passes cell (" + std::to_string(i) + "," + std::to_string(j) +
               "): a region begins with a match and ends after one");
  return {p.fsastr, p.msgLen};
}

CellPaths::Through CellPaths::best() const {
  // Every global alignment passes the first cell; a local one, the cells of its region only.
  if (!impl_->machine.local()) return best(0, 0);
  const TracedPath p = traceback(impl_->machine, impl_->fills.fwd);
  return {p.fsastr, p.msgLen};
}

}  // namespace seqcorvane
