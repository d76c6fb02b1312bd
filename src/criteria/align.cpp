// The library's calls: one pair aligned under a criterion, a given alignment
// scored, the best alignments through chosen cells.
#include <cmath>
#include <limits>

#include "check.h"
#include "fasta.h"
#include "parallel.h"
#include "paths.h"
#include "seqcorvane/io.h"
#include "simdRows.h"
#include "threeStateDPAClass.h"

namespace seqcorvane {

namespace {

// The longest sequence whose length the tree code can state.
constexpr std::size_t MAX_SEQUENCE_LENGTH = 656043856;

void requireResidues(const Sequence& s) {
  const std::string who = "sequence '" + s.name + "'";
  if (s.residues.empty()) fatalError(who + " holds no standard residues (upper-case ACDEFGHIKLMNPQRSTVWY) to align");
  for (char c : s.residues)
    if (!isResidue(c))
      fatalError(who + " holds '" + std::string(1, c) +
                 "', which is not one of the residue letters ACDEFGHIKLMNPQRSTVWY (filter it with standardResidues)");
  if (s.residues.size() > MAX_SEQUENCE_LENGTH)
    fatalError(who + " holds " + std::to_string(s.residues.size()) + " residues; at most " +
               std::to_string(MAX_SEQUENCE_LENGTH) + " can be aligned");
}

void requireDistance(int K) {
  if (K < 1 || K > 1000) fatalError("distance " + std::to_string(K) + " is outside 1..1000");
}

}  // namespace

const char* criterionName(Criterion c) {
  switch (c) {
    case Criterion::optimal:
      return "optimal";
    case Criterion::marginal:
      return "marginal";
    case Criterion::marginalInteractive:
      return "marginal-interactive";
    case Criterion::posterior:
      return "posterior";
  }
  return "optimal";
}

bool parseCriterion(const std::string& name, Criterion& c) {
  for (Criterion k : {Criterion::optimal, Criterion::marginal, Criterion::marginalInteractive, Criterion::posterior})
    if (name == criterionName(k)) {
      c = k;
      return true;
    }
  return false;
}

double memoryNeeded(std::size_t nS, std::size_t nT, Criterion criterion) {
  return threeStateDPAClass_t::bytesNeeded(nS, nT, criterion);
}

AlignResult align(const Sequence& s, const Sequence& t, const Models& models, const AlignConfig& config,
                  const LandscapeVisitor& landscape) {
  requireResidues(s);
  requireResidues(t);
  const Models::Data& data = models.data();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  AlignResult r;
  r.criterion = config.criterion;
  r.s = s;
  r.t = t;
  r.nullMsgLenS = sequenceNullMsgLen(s.residues, data.nullMdl);
  r.nullMsgLenT = sequenceNullMsgLen(t.residues, data.nullMdl);
  r.nullMsgLen = r.nullMsgLenS + r.nullMsgLenT;
  r.alignmentMsgLen = r.marginalMsgLen = nan;

  threeStateDPAClass_t m(s.residues, t.residues, data, config.threads);
  double verdictMsgLen = nan;
  switch (config.criterion) {
    case Criterion::optimal:
      m.EM();
      r.path = m.getOptAlignFSAstr();
      r.parameters = m.parameters();
      r.alignmentMsgLen = verdictMsgLen = m.getOptAlignMsgLen();
      if (config.columnConfidence) r.columnConfidence = m.columnConfidence(r.path);
      break;
    case Criterion::marginal:
    case Criterion::marginalInteractive:
      r.marginalK = m.searchMarginalDistance(landscape ? &landscape : nullptr);
      r.parameters = r.marginalParameters = m.parameters();
      r.marginalMsgLen = verdictMsgLen = m.getMarginalProbMsgLen();
      r.searchFastPasses = m.getFastPasses();
      r.searchExactPasses = m.getExactPasses();
      break;
    case Criterion::posterior: {
      m.decodePosterior(config.posterior);
      r.path = m.getPosteriorFSAstr();
      r.parameters = m.parameters();
      r.marginalK = m.getSearchedDistance();
      r.marginalParameters = m.getSearchedParameters();
      r.decodedAtOptimalK = r.parameters.K != r.marginalK;
      r.siteRates = m.getSiteRates();
      r.fittedMatches = m.usesFittedMatches();
      r.gapOpenScale = m.getGapOpenScale();
      r.endGapsAlike = config.posterior.endGapsAlike;
      r.columnConfidence = m.getPosteriorConfidence();
      r.marginalMsgLen = verdictMsgLen = m.getMarginalProbMsgLen();
      r.searchFastPasses = m.getFastPasses();
      r.searchExactPasses = m.getExactPasses();
      threeStateDPAClass_t scorer(s.residues, t.residues, data, config.threads);
      r.score = scorer.scoreGiven(r.path);
      r.alignmentMsgLen = r.score.msgLen;
      break;
    }
  }
  if (!r.path.empty()) {
    const std::vector<std::string> rows = fsastr2Algn(r.path, s.residues, t.residues);
    r.rowS = rows[0];
    r.rowT = rows[1];
  }
  r.compressionBits = nits2bits(r.nullMsgLen - verdictMsgLen);
  return r;
}

std::vector<std::string> ignoredSettings() {
  std::vector<std::string> notes;
  for (const std::string& note : {simdSettingNote(), threadsSettingNote()})
    if (!note.empty()) notes.push_back(note);
  return notes;
}

double pairMsgLen(const Models& models, int K, char a, char b) {
  requireDistance(K);
  if (!isResidue(a) || !isResidue(b))
    fatalError("'" + std::string{a, b} + "' is not a pair of residue letters ACDEFGHIKLMNPQRSTVWY");
  SubmatClass_t model = models.data().pam;
  model.exp(K);
  return matchMsgLen(model, models.data().pnull, a, b);
}

ScoreResult scoreAlignment(const std::string& rowS, const std::string& rowT, const Models& models) {
  if (rowS.size() != rowT.size())
    fatalError("the two rows of the alignment differ in length (" + std::to_string(rowS.size()) + " and " +
               std::to_string(rowT.size()) + " columns)");
  for (std::size_t k = 0; k < rowS.size(); ++k) {
    const char a = rowS[k], b = rowT[k];
    if ((a != '-' && !isResidue(a)) || (b != '-' && !isResidue(b)))
      fatalError("column " + std::to_string(k + 1) + " of the alignment holds '" + std::string{a, b} +
                 "': only residue letters ACDEFGHIKLMNPQRSTVWY and gaps '-' can be scored");
    if (a == '-' && b == '-') fatalError("column " + std::to_string(k + 1) + " of the alignment holds two gaps");
  }
  const std::string S = removeNonStandardAA(rowS), T = removeNonStandardAA(rowT);
  if (S.empty() || T.empty())
    fatalError(std::string("the ") + (S.empty() ? "first" : "second") + " row of the alignment holds no residues");
  threeStateDPAClass_t m(S, T, models.data());
  return m.scoreGiven(algn2Fsastr({rowS, rowT}));
}

struct CellPaths::Impl {
  threeStateDPAClass_t machine;
  std::size_t nS, nT;
};

CellPaths::CellPaths(const Sequence& s, const Sequence& t, const Models& models, int K) {
  requireResidues(s);
  requireResidues(t);
  requireDistance(K);
  impl_ = std::make_unique<Impl>(
      Impl{threeStateDPAClass_t(s.residues, t.residues, models.data()), s.residues.size(), t.residues.size()});
  threeStateDPAClass_t& m = impl_->machine;
  m.setDistance(K);
  m.estimateParams("");  // the parameters' cost, K as it is
  m.keepCellTotals(true);
  m.fillDPMatrices();
  m.fillDPMatrices_cell2sink();
}

CellPaths::~CellPaths() = default;
CellPaths::CellPaths(CellPaths&&) noexcept = default;
CellPaths& CellPaths::operator=(CellPaths&&) noexcept = default;

CellPaths::Through CellPaths::best(std::size_t i, std::size_t j) const {
  if (i > impl_->nS || j > impl_->nT)
    fatalError("cell (" + std::to_string(i) + "," + std::to_string(j) + ") is outside the grid of 0.." +
               std::to_string(impl_->nS) + " by 0.." + std::to_string(impl_->nT));
  Through through;
  through.path = impl_->machine.printAlignmentThroughCell(static_cast<int>(i), static_cast<int>(j), through.msgLen);
  return through;
}

}  // namespace seqcorvane
