// Looking at a pair whole: the landscape at one distance kept for every
// cell, the column confidences of any alignment at it, and an alignment
// through chosen cells stated as a result.
#include "seqcorvane/explore.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "check.h"
#include "codeLengths.h"
#include "dpPosteriors.h"
#include "estimation.h"
#include "machine.h"
#include "marginal.h"
#include "paths.h"
#include "residues.h"
#include "settings.h"

namespace seqcorvane {

using namespace detail;

namespace {

void requirePair(const Sequence& s, const Sequence& t, int K) {
  for (const Sequence* q : {&s, &t}) {
    if (q->residues.empty())
      inputError("sequence '" + q->name + "' holds no standard residues (upper-case ACDEFGHIKLMNPQRSTVWY) to align");
    for (char c : q->residues)
      if (!isResidue(c))
        inputError("sequence '" + q->name + "' holds '" + std::string(1, c) +
                   "', which is not one of the residue letters ACDEFGHIKLMNPQRSTVWY");
  }
  if (K < 1 || K > 1000) inputError("distance " + std::to_string(K) + " is outside 1..1000");
}

// A path of 'm', 'd' and 'i' that uses every residue of both sequences.
void requirePathOf(const std::string& path, std::size_t nS, std::size_t nT) {
  std::size_t i = 0, j = 0;
  for (std::size_t k = 0; k < path.size(); ++k) {
    const char c = path[k];
    if (c != 'm' && c != 'd' && c != 'i')
      inputError("column " + std::to_string(k + 1) + " of the path is '" + std::string(1, c) +
                 "': a path holds only 'm', 'd' and 'i'");
    i += c != 'i';
    j += c != 'd';
  }
  if (i != nS || j != nT)
    inputError("the path uses " + std::to_string(i) + " and " + std::to_string(j) + " residues of sequences of " +
               std::to_string(nS) + " and " + std::to_string(nT));
}

}  // namespace

// The old form: its threads, else one (the landscape's passes take one).
Landscape::Landscape(const Sequence& s, const Sequence& t, const Models& models, int K, const AlignConfig& config)
    : rows_(s.residues.size() + 1), cols_(t.residues.size() + 1), K_(K), hypothesis_(config.mode) {
  const MachineModel model = singleHypothesis(config, "landscapes");
  requirePair(s, t, K);
  bits_.resize(rows_ * cols_);
  const threeStateDPAClass_t m = makeMachine(s.residues, t.residues, modelData(models), K, model, runSettings(config));
  StatePlanes sinkSums;
  // No cell goes below the marginal message length: the values are kept
  // relative to it, where single precision is finest. Under the global
  // hypothesis the corner (0, 0), whose row comes first, holds it.
  double origin = computeTotalProbOfST_2sink(m, sinkSums);
  marginalMsgLen_ = printTotalFwdPlusBwd(m, sinkSums, [&](const LandscapeRow& r) {
    SC_CHECK(r.size == cols_ && r.i < rows_);
    if (r.i == 0 && !model.local) origin = r.values[0];
    float* out = bits_.data() + r.i * cols_;
    for (std::size_t j = 0; j < r.size; ++j) out[j] = static_cast<float>(nits2bits(r.values[j] - origin));
  });
  // The least value is the best: under the global hypothesis the corner's,
  // or a cell a hair below it by rounding; under the local one, above the
  // marginal message length.
  float least = std::numeric_limits<float>::infinity();
  for (float x : bits_)
    if (x < least) least = x;
  if (least != 0)
    for (float& x : bits_) x -= least;
  bestMsgLen_ = origin + static_cast<double>(least) * std::log(2.0);
}

float Landscape::bitsAbove(std::size_t i, std::size_t j) const {
  if (i >= rows_ || j >= cols_)
    inputError("cell (" + std::to_string(i) + "," + std::to_string(j) + ") is outside the grid of 0.." +
               std::to_string(rows_ - 1) + " by 0.." + std::to_string(cols_ - 1));
  return bits_[i * cols_ + j];
}

Landscape::Blocks Landscape::blocks(std::size_t i0, std::size_t i1, std::size_t j0, std::size_t j1, std::size_t maxRows,
                                    std::size_t maxCols) const {
  if (!(i0 < i1 && i1 <= rows_ && j0 < j1 && j1 <= cols_))
    inputError("the region of rows " + std::to_string(i0) + ".." + std::to_string(i1) + " and columns " +
               std::to_string(j0) + ".." + std::to_string(j1) + " is not a part of the grid of " +
               std::to_string(rows_) + " by " + std::to_string(cols_) + " cells");
  if (maxRows == 0 || maxCols == 0) inputError("a region is at least one block high and one block wide");
  Blocks r;
  r.rows = std::min(maxRows, i1 - i0);
  r.cols = std::min(maxCols, j1 - j0);
  r.values.assign(r.rows * r.cols, std::numeric_limits<float>::infinity());
  // Block b of n holds the cells from floor(b * size / n) on; the columns'
  // blocks are looked up once for every row.
  std::vector<std::size_t> blockOfColumn(j1 - j0);
  for (std::size_t b = 0; b < r.cols; ++b) {
    const std::size_t from = b * (j1 - j0) / r.cols, to = (b + 1) * (j1 - j0) / r.cols;
    for (std::size_t j = from; j < to; ++j) blockOfColumn[j] = b;
  }
  for (std::size_t b = 0; b < r.rows; ++b) {
    float* out = r.values.data() + b * r.cols;
    const std::size_t from = i0 + b * (i1 - i0) / r.rows, to = i0 + (b + 1) * (i1 - i0) / r.rows;
    for (std::size_t i = from; i < to; ++i) {
      const float* row = bits_.data() + i * cols_ + j0;
      for (std::size_t j = 0; j < j1 - j0; ++j) {
        float& x = out[blockOfColumn[j]];
        x = std::min(x, row[j]);
      }
    }
  }
  return r;
}

struct ColumnConfidence::Impl {
  Posteriors posteriors;
};

ColumnConfidence::ColumnConfidence(const Sequence& s, const Sequence& t, const Models& models, int K,
                                   const AlignConfig& config) {
  const MachineModel model = singleHypothesis(config, "column confidences");
  requirePair(s, t, K);
  const threeStateDPAClass_t m = makeMachine(s.residues, t.residues, modelData(models), K, model, runSettings(config));
  impl_ = std::make_unique<Impl>(Impl{computePosteriorsFast(m.costs(), true)});
}

ColumnConfidence::~ColumnConfidence() = default;
ColumnConfidence::ColumnConfidence(ColumnConfidence&&) noexcept = default;
ColumnConfidence& ColumnConfidence::operator=(ColumnConfidence&&) noexcept = default;

std::vector<double> ColumnConfidence::of(const std::string& path) const {
  requirePathOf(path, impl_->posteriors.nS, impl_->posteriors.nT);
  return columnPosteriors(impl_->posteriors, path);
}

namespace {

// The result's rows, parameters and message lengths, before its hypothesis.
AlignResult cellResult(const Sequence& s, const Sequence& t, const Models& models, int K, const std::string& path,
                       double msgLen, double marginalMsgLen, const std::vector<double>& confidence) {
  requirePair(s, t, K);
  requirePathOf(path, s.residues.size(), t.residues.size());
  if (!confidence.empty() && confidence.size() != path.size())
    inputError("the path has " + std::to_string(path.size()) + " columns and " + std::to_string(confidence.size()) +
               " confidences");
  const threeStateDPAClass_t m = makeMachine(s.residues, t.residues, modelData(models), K);
  AlignResult r;
  r.criterion = Criterion::marginal;
  r.s = s;
  r.t = t;
  r.path = path;
  const std::vector<std::string> rows = fsastr2Algn(path, s.residues, t.residues);
  r.rowS = rows[0];
  r.rowT = rows[1];
  r.parameters = r.search.parameters = m.parameters();
  r.search.K = K;
  r.nullMsgLen = sequenceNullMsgLen(s.residues, modelData(models).nullMdl) +
                 sequenceNullMsgLen(t.residues, modelData(models).nullMdl);
  r.alignmentMsgLen = msgLen;
  r.search.msgLen = marginalMsgLen;
  r.compressionBits = nits2bits(r.nullMsgLen - marginalMsgLen);
  r.columnConfidence = confidence;
  return r;
}

}  // namespace

AlignResult cellAlignmentResult(const Sequence& s, const Sequence& t, const Models& models, int K,
                                const std::string& path, double msgLen, double marginalMsgLen,
                                const std::vector<double>& confidence, const AlignConfig& config) {
  singleHypothesis(config, "alignments through cells");
  AlignResult r = cellResult(s, t, models, K, path, msgLen, marginalMsgLen, confidence);
  HypothesisDetails& h = r.hypothesis;
  h.mode = h.sent = config.mode;
  if (config.mode == Hypothesis::global) {
    h.globalMsgLen = marginalMsgLen;
    h.region = {0, s.residues.size(), 0, t.residues.size()};
    return r;
  }
  const PathRegion g = regionOfPath(path);
  if (!g.any) inputError("a local alignment has at least one matched column: this path has none");
  h.localMsgLen = marginalMsgLen;
  h.region = {g.beforeS, g.beforeS + g.inS, g.beforeT, g.beforeT + g.inT};
  return r;
}

double explorerMemoryNeeded(std::size_t nS, std::size_t nT) {
  const double cells = static_cast<double>(nS + 1) * static_cast<double>(nT + 1);
  const double landscapeBuilt = 3 * sizeof(double) + sizeof(float);  // the sums to the sink and the kept values
  const double cellPaths = 2 * (3 * sizeof(double) + 1);             // best totals and trace codes, both ways
  const double confidence = sizeof(float);                           // the pair posteriors
  const double criterion = sizeof(float) + 1;                        // the posterior criterion's, the largest
  // Rolling rows, cost tables and checkpoints: a few kilobytes per residue.
  return (landscapeBuilt + cellPaths + confidence + criterion) * cells + 4096.0 * static_cast<double>(nS + nT + 2);
}

}  // namespace seqcorvane
