#include "machine.h"

#include <algorithm>
#include <cmath>

#include "check.h"
#include "codeLengths.h"
#include "composition.h"
#include "transitions.h"

namespace seqcorvane::detail {

threeStateDPAClass_t::threeStateDPAClass_t(const std::string& S, const std::string& T, const ModelData& models, int K,
                                           const MachineModel& model, const RunSettings& settings)
    : s(S), t(T), data(&models), pam(models.pam), hypothesis(model), run(settings) {
  SC_CHECK(!s.empty() && !t.empty());
  SC_CHECK(K >= 1 && K <= 1000);
  SC_CHECK(hypothesis.gapOpenScale > 0 && hypothesis.gapOpenScale <= 1);
  // Fitted match tables replace the site rates.
  if (hypothesis.matchJoints != nullptr && hypothesis.matchJoints->empty()) hypothesis.matchJoints = nullptr;
  if (hypothesis.fittedMatches()) hypothesis.siteRates.clear();
  pam.exp(K);
  transitions = estimate3StateMachineParams_dirichlet(pam, hypothesis.gapOpenScale);
  table = makeCostTable(s, t, models.pnull, pam, transitions);
  // The posterior criterion's match costs at K, over those of the
  // substitution model: from the fitted joints, else averaged over the rates.
  if (hypothesis.fittedMatches())
    setMatchFromJoint(table, hypothesis.matchJoints->at(K));
  else if (!hypothesis.siteRates.empty())
    averageMatchOverRates(table, pam, models.pnull, hypothesis.siteRates);
  if (!hypothesis.ownComposition) {
    pairNullMsgLen = sequenceNullMsgLen(s, models.nullMdl) + sequenceNullMsgLen(t, models.nullMdl);
  } else {
    const std::string alphabet = pam.getAlphabet();
    const ResidueCounts cS = residueCounts(s, alphabet), cT = residueCounts(t, alphabet);
    const std::vector<double> fS = countFrequencies(cS), fT = countFrequencies(cT);
    sendOwnCompositions(table, fS, fT);
    statements = compositionStatementMsgLen(static_cast<long>(s.size()), 20) +
                 compositionStatementMsgLen(static_cast<long>(t.size()), 20);
    pairNullMsgLen = wtCodeLen_nits(static_cast<int>(s.size())) + wtCodeLen_nits(static_cast<int>(t.size())) +
                     statements + iidMsgLen(cS, fS) + iidMsgLen(cT, fT);
  }
  if (hypothesis.local) makeLocal(table, hypothesis.regionEndProbability);
  table.simd = run.simd;
}

threeStateDPAClass_t makeMachine(const std::string& S, const std::string& T, const ModelData& models, int K,
                                 const MachineModel& model, const RunSettings& run) {
  return threeStateDPAClass_t(S, T, models, K, model, run);
}

threeStateDPAClass_t makeMachine(const std::string& S, const std::string& T, const ModelData& models,
                                 const MachineModel& model, const RunSettings& run) {
  return makeMachine(S, T, models, models.pam.getK(), model, run);
}

threeStateDPAClass_t withModel(const threeStateDPAClass_t& m, const MachineModel& model) {
  return makeMachine(m.S(), m.T(), m.models(), m.K(), model, m.settings());
}

threeStateDPAClass_t atDistance(const threeStateDPAClass_t& m, int K) {
  return makeMachine(m.S(), m.T(), m.models(), K, m.model(), m.settings());
}

double lengthMsgLen(const threeStateDPAClass_t& m) {
  return wtCodeLen_nits(static_cast<int>(std::max(m.S().size(), m.T().size())));
}

double summedMsgLen(const threeStateDPAClass_t& m, double pathCosts) {
  if (!m.local()) return pathCosts + LN1000 + lengthMsgLen(m) + m.compositionStatements();
  const double cells = static_cast<double>(m.S().size()) * static_cast<double>(m.T().size());
  return pathCosts + LN1000 + std::log(cells) + m.nullMsgLen();
}

}  // namespace seqcorvane::detail
