#include "posterior.h"

#include "dpPosteriors.h"
#include "optimal.h"
#include "siteRates.h"

namespace seqcorvane::detail {

MachineModel posteriorModel(const ModelData& models, const PosteriorOptions& options) {
  MachineModel model;
  model.gapOpenScale = options.gapOpenScale;
  if (options.fittedMatches && !models.matchJoints.empty()) model.matchJoints = &models.matchJoints;
  if (!model.fittedMatches() && options.rateShape > 0)
    model.siteRates = gammaRateCategories(options.rateShape, options.rateCategories);
  return model;
}

std::vector<double> columnConfidence(const threeStateDPAClass_t& m, const std::string& fsastr) {
  std::vector<double> pathPairs;
  const Posteriors p = computePosteriorsFast(m.costs(), false, &fsastr, &pathPairs);
  return columnPosteriors(p, fsastr, &pathPairs);
}

int optimalDistance(const threeStateDPAClass_t& m) {
  return EM(makeMachine(m.S(), m.T(), m.models(), m.K(), MachineModel{}, m.settings())).machine.K();
}

PosteriorDecoding decodePosterior(const threeStateDPAClass_t& m, const PosteriorOptions& options, double nullMsgLen) {
  PosteriorDecoding d{searchMarginalDistance(m, nullMsgLen), m, "", {}};
  int K = d.search.machine.K();
  if (options.fallbackAtTop && K >= options.topDistance) K = optimalDistance(d.search.machine);
  if (options.distanceCap > 0 && K > options.distanceCap) K = options.distanceCap;
  d.machine = K == d.search.machine.K() ? d.search.machine : atDistance(m, K);
  CostTable c = d.machine.costs();
  if (options.endGapsAlike) priceEndGapsAlike(c);
  const Posteriors p = computePosteriorsFast(c, true);
  d.fsastr = meaAlignment(p, options.gapWeight);
  d.confidence = columnPosteriors(p, d.fsastr);
  return d;
}

}  // namespace seqcorvane::detail
