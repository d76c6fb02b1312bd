// The machine's construction and parameters.
#include "threeStateDPAClass.h"

#include "check.h"

threeStateDPAClass_t::threeStateDPAClass_t(const std::string& S_, const std::string& T_,
                                           const seqcorvane::Models::Data& models_, int threads_)
    : S(S_), T(T_), models(&models_), pam(models_.pam), pnull(models_.pnull), threads(threads_) {
  SC_CHECK(S.length() > 0);
  SC_CHECK(T.length() > 0);
  initParams();
}

double threeStateDPAClass_t::bytesNeeded(size_t nS, size_t nT, seqcorvane::Criterion criterion) {
  using seqcorvane::Criterion;
  const double cells = static_cast<double>(nS + 1) * static_cast<double>(nT + 1);
  // Rolling rows, cost tables and sequences: a few hundred bytes per residue.
  const double rows = 512.0 * static_cast<double>(nS + nT + 2);
  double perCell = 1;  // optimal: one byte of trace codes
  if (criterion == Criterion::marginal) perCell = 3 * sizeof(double);
  // the landscape, then the best totals and codes of both directions
  if (criterion == Criterion::marginalInteractive) perCell = 2 * (3 * sizeof(double) + 1) + sizeof(double);
  // posterior: the pair posterior of every cell and one byte of the decoding's choices
  if (criterion == Criterion::posterior) perCell = sizeof(float) + 1;
  return perCell * cells + rows;
}

void threeStateDPAClass_t::initParams() {
  const std::vector<double> m = pam.getDirichlet("match").getMode();
  const std::vector<double> g = pam.getDirichlet("insert").getMode();
  fsaPr[STATE_M][STATE_M] = m[0];
  fsaPr[STATE_M][STATE_I] = (1 - m[0]) * 0.5;
  fsaPr[STATE_M][STATE_D] = (1 - m[0]) * 0.5;
  fsaPr[STATE_I][STATE_M] = g[1];
  fsaPr[STATE_I][STATE_I] = g[0];
  fsaPr[STATE_I][STATE_D] = 1 - g[0] - g[1];
  fsaPr[STATE_D][STATE_M] = g[1];
  fsaPr[STATE_D][STATE_I] = 1 - g[0] - g[1];
  fsaPr[STATE_D][STATE_D] = g[0];
}

void threeStateDPAClass_t::setDistance(int K) {
  pam.exp(K);
  estimate3StateMachineParams_dirichlet();
}

void threeStateDPAClass_t::setPosteriorModel(std::vector<double> rates, double openScale, const MatchJoints* joints) {
  SC_CHECK(openScale > 0 && openScale <= 1);
  matchJoints = joints != nullptr && !joints->empty() ? joints : nullptr;
  siteRates = matchJoints != nullptr ? std::vector<double>{} : std::move(rates);
  gapOpenScale = openScale;
}

CostTable threeStateDPAClass_t::costs() const {
  CostTable c = makeCostTable(S, T, pnull, pam, fsaPr);
  setPosteriorMatches(c, pam);
  return c;
}

CostTable threeStateDPAClass_t::costsAt(int K) const {
  SubmatClass_t model = pam;
  model.exp(K);
  CostTable c = makeCostTable(S, T, pnull, model, modelTransitions(model));
  setPosteriorMatches(c, model);
  return c;
}

void threeStateDPAClass_t::setPosteriorMatches(CostTable& c, const SubmatClass_t& model) const {
  if (matchJoints != nullptr)
    setMatchFromJoint(c, matchJoints->at(model.getK()));
  else if (!siteRates.empty())
    averageMatchOverRates(c, model, pnull, siteRates);
}

TransitionTable threeStateDPAClass_t::modelTransitions(const SubmatClass_t& model) const {
  TransitionTable p = transitionsAt(model);
  if (gapOpenScale != 1) {
    const double open = (1 - p[STATE_M][STATE_M]) * gapOpenScale;
    p[STATE_M][STATE_M] = 1 - open;
    p[STATE_M][STATE_I] = p[STATE_M][STATE_D] = open * 0.5;
  }
  return p;
}

void threeStateDPAClass_t::corruptPath(const TraceWalk& w) const {
  throw seqcorvane::CorruptPathError(w.letters, w.i, w.j, w.state);
}
