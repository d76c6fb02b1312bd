#include "hypotheses.h"

#include <cmath>
#include <limits>
#include <optional>

#include "calibration.h"
#include "check.h"
#include "codeLengths.h"
#include "estimation.h"
#include "logSpace.h"
#include "marginal.h"
#include "optimal.h"
#include "posterior.h"

namespace seqcorvane::detail {

namespace {

constexpr double INF = std::numeric_limits<double>::infinity();

threeStateDPAClass_t machineOf(const PairRun& p, MachineModel model, bool local) {
  model.local = local;
  return makeMachine(p.S, p.T, p.data, model, p.run);
}

// The region of an alignment's path: the whole pair for a global one, from
// the first matched column to the last for a local one.
Region regionOf(const std::string& path, bool local, std::size_t nS, std::size_t nT) {
  if (path.empty()) return {};
  if (!local) return {0, nS, 0, nT};
  const PathRegion r = regionOfPath(path);
  if (!r.any) return {};
  return {r.beforeS, r.beforeS + r.inS, r.beforeT, r.beforeT + r.inT};
}

Hypothesis hypothesisOf(bool local) { return local ? Hypothesis::local : Hypothesis::global; }

// Both summed hypotheses sent at half the prior each: ln 2 + -ln(e^-g + e^-l).
double bothSent(double global, double local) { return LN2 + neglogSum3(global, local, INF); }

// The calibrated verdict from the alignment hypothesis's message, the
// automatic choice's statement added.
void recordCalibrated(AlignResult& r, const CalibratedMessage& m, double choice) {
  r.calibrated = {m.K, m.nullMsgLen, m.msgLen + choice, nits2bits(m.nullMsgLen - (m.msgLen + choice))};
}

// Both hypotheses summed at their distances, each at half the prior.
void recordCalibratedBoth(AlignResult& r, const threeStateDPAClass_t& global, const threeStateDPAClass_t& local,
                          bool sendLocal) {
  const CalibratedMessage g = calibratedSum(global), l = calibratedSum(local);
  CalibratedMessage both = sendLocal ? l : g;
  both.msgLen = bothSent(g.msgLen, l.msgLen);
  recordCalibrated(r, both, 0);
}

void recordSearch(AlignResult& r, const MarginalSearchOutcome& s) {
  r.search = {s.machine.K(), s.machine.parameters(), s.msgLen, s.fastPasses, s.exactPasses};
}

// The local hypothesis's share of the probability of the two.
double localShare(double global, double local) { return 1 / (1 + std::exp(local - global)); }

// The posteriors of b mixed into a's, b's weighing w.
void mixInto(Posteriors& a, const Posteriors& b, double w) {
  SC_CHECK(a.nS == b.nS && a.nT == b.nT && a.pair.size() == b.pair.size());
  const float wb = static_cast<float>(w), wa = static_cast<float>(1 - w);
  for (std::size_t k = 0; k < a.pair.size(); ++k) a.pair[k] = wa * a.pair[k] + wb * b.pair[k];
  for (std::size_t i = 0; i < a.nS; ++i) a.unpairedS[i] = (1 - w) * a.unpairedS[i] + w * b.unpairedS[i];
  for (std::size_t j = 0; j < a.nT; ++j) a.unpairedT[j] = (1 - w) * a.unpairedT[j] + w * b.unpairedT[j];
}

}  // namespace

double alignOptimal(const PairRun& p, const AlignConfig& config, AlignResult& r) {
  HypothesisDetails& h = r.hypothesis;
  h.mode = config.mode;
  std::optional<OptimalAlignment> global, local;
  if (config.mode != Hypothesis::local) {
    global = EM(machineOf(p, MachineModel{}, false));
    h.globalMsgLen = global->msgLen;
  }
  if (config.mode != Hypothesis::global) {
    local = EM(machineOf(p, MachineModel{}, true));
    h.localMsgLen = local->msgLen;
  }
  // The automatic choice sends the shorter message, stating which.
  const bool sendLocal = !global || (local && local->msgLen < global->msgLen);
  const OptimalAlignment& o = sendLocal ? *local : *global;
  h.sent = hypothesisOf(sendLocal);
  r.path = o.fsastr;
  r.parameters = o.machine.parameters();
  r.alignmentMsgLen = config.mode == Hypothesis::automatic ? o.msgLen + LN2 : o.msgLen;
  if (config.columnConfidence) r.columnConfidence = columnConfidence(o.machine, r.path);
  h.region = regionOf(r.path, sendLocal, p.S.size(), p.T.size());
  recordCalibrated(r, calibratedAlignment(o.machine, r.path), config.mode == Hypothesis::automatic ? LN2 : 0);
  return r.alignmentMsgLen;
}

double alignMarginal(const PairRun& p, const AlignConfig& config, const LandscapeVisitor* landscape, AlignResult& r) {
  HypothesisDetails& h = r.hypothesis;
  h.mode = config.mode;
  if (config.mode != Hypothesis::automatic) {
    const bool local = config.mode == Hypothesis::local;
    const MarginalSearchOutcome s =
        searchMarginalDistance(machineOf(p, MachineModel{}, local), p.nullMsgLen, landscape);
    recordSearch(r, s);
    r.parameters = r.search.parameters;
    h.sent = hypothesisOf(local);
    (local ? h.localMsgLen : h.globalMsgLen) = s.msgLen;
    recordCalibrated(r, calibratedSum(s.machine), 0);
    return s.msgLen;
  }
  const MarginalSearchOutcome g = searchMarginalDistance(machineOf(p, MachineModel{}, false), p.nullMsgLen);
  const MarginalSearchOutcome l = searchMarginalDistance(machineOf(p, MachineModel{}, true), p.nullMsgLen);
  h.globalMsgLen = g.msgLen;
  h.localMsgLen = l.msgLen;
  h.localWeight = localShare(g.msgLen, l.msgLen);
  const bool sendLocal = h.localWeight > 0.5;
  const MarginalSearchOutcome& s = sendLocal ? l : g;
  recordSearch(r, s);
  r.parameters = r.search.parameters;
  h.sent = hypothesisOf(sendLocal);
  // The landscape of the hypothesis of the greater share.
  if (landscape != nullptr) {
    StatePlanes sinkSums;
    computeTotalProbOfST_2sink(s.machine, sinkSums);
    printTotalFwdPlusBwd(s.machine, sinkSums, *landscape);
  }
  r.search.msgLen = bothSent(g.msgLen, l.msgLen);
  recordCalibratedBoth(r, g.machine, l.machine, sendLocal);
  return r.search.msgLen;
}

double alignPosterior(const PairRun& p, const AlignConfig& config, AlignResult& r) {
  const PosteriorOptions& o = config.posterior;
  const MachineModel model = posteriorModel(p.data, o);
  HypothesisDetails& h = r.hypothesis;
  h.mode = config.mode;
  bool sendLocal = config.mode == Hypothesis::local;
  double verdict;
  std::optional<threeStateDPAClass_t> decodedAt;
  if (config.mode != Hypothesis::automatic) {
    const PosteriorDecoding d = decodePosterior(machineOf(p, model, sendLocal), o, p.nullMsgLen);
    recordSearch(r, d.search);
    r.path = d.fsastr;
    r.columnConfidence = d.confidence;
    decodedAt = d.machine;
    verdict = d.search.msgLen;
    (sendLocal ? h.localMsgLen : h.globalMsgLen) = verdict;
    recordCalibrated(r, calibratedSum(d.search.machine), 0);
  } else {
    // Both hypotheses' posteriors, mixed by their shares of the pair's
    // probability; an unpaired residue weighs as much in the expected
    // accuracy as it does in each hypothesis's decoding, mixed alike.
    HypothesisPosteriors g = posteriorsOf(machineOf(p, model, false), o, p.nullMsgLen);
    HypothesisPosteriors l = posteriorsOf(machineOf(p, model, true), o, p.nullMsgLen);
    h.globalMsgLen = g.search.msgLen;
    h.localMsgLen = l.search.msgLen;
    h.localWeight = localShare(g.search.msgLen, l.search.msgLen);
    sendLocal = h.localWeight > 0.5;
    mixInto(g.posteriors, l.posteriors, h.localWeight);
    l.posteriors = Posteriors{};
    r.path = meaAlignment(g.posteriors, (1 - h.localWeight) * o.gapWeight + h.localWeight * o.regionUnpairedWeight);
    if (sendLocal) r.path = flanksInBlocks(r.path);
    r.columnConfidence = columnPosteriors(g.posteriors, r.path);
    recordSearch(r, sendLocal ? l.search : g.search);
    decodedAt = sendLocal ? l.machine : g.machine;
    verdict = bothSent(g.search.msgLen, l.search.msgLen);
    r.search.msgLen = verdict;
    recordCalibratedBoth(r, g.search.machine, l.search.machine, sendLocal);
  }
  h.sent = hypothesisOf(sendLocal);
  r.parameters = decodedAt->parameters();
  PosteriorDetails& d = r.posterior;
  d.decodedAtOptimalK = r.parameters.K != r.search.K;
  d.siteRates = decodedAt->model().siteRates;
  d.fittedMatches = decodedAt->model().fittedMatches();
  d.endGapsAlike = o.endGapsAlike && config.mode != Hypothesis::local;
  d.gapOpenScale = decodedAt->model().gapOpenScale;
  // A local alignment without a matched column has no local message.
  if (config.mode == Hypothesis::local && !regionOfPath(r.path).any) {
    d.score.sent = Hypothesis::local;
    d.score.region = {};
    d.score.parameters = r.parameters;
    d.score.pathMsgLen = d.score.residuesMsgLen = d.score.msgLen = std::numeric_limits<double>::quiet_NaN();
    d.score.nullMsgLen = p.nullMsgLen;
    d.score.compressionBits = std::numeric_limits<double>::quiet_NaN();
  } else {
    d.score = scoreUnder(p, r.path, config.mode);
  }
  r.alignmentMsgLen = d.score.msgLen;
  h.region = regionOf(r.path, sendLocal, p.S.size(), p.T.size());
  return verdict;
}

ScoreResult scoreUnder(const PairRun& p, const std::string& fsastr, Hypothesis mode) {
  auto under = [&](bool local) {
    ScoreResult s = scoreGiven(machineOf(p, MachineModel{}, local), fsastr, p.nullMsgLen);
    s.sent = hypothesisOf(local);
    s.region = regionOf(fsastr, local, p.S.size(), p.T.size());
    return s;
  };
  if (mode != Hypothesis::automatic) return under(mode == Hypothesis::local);
  // The shorter of the two, stating which: ln 2 more.
  ScoreResult s = under(false);
  if (regionOfPath(fsastr).any) {
    const ScoreResult l = under(true);
    if (l.msgLen < s.msgLen) s = l;
  }
  s.pathMsgLen += LN2;
  s.msgLen = s.pathMsgLen + s.residuesMsgLen;
  s.compressionBits = nits2bits(s.nullMsgLen - s.msgLen);
  return s;
}

}  // namespace seqcorvane::detail
