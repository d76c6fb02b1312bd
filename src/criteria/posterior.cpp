#include "posterior.h"

#include <algorithm>

#include "check.h"
#include "optimal.h"
#include "paths.h"
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

int optimalDistance(const threeStateDPAClass_t& m) { return EM(withModel(m, MachineModel{})).machine.K(); }

namespace {

// The distance a hypothesis decodes at: its marginal distance, or at the
// top of the range the optimal criterion's (the local hypothesis takes the
// global one's decoding distance); at most the cap.
int decodingDistance(const threeStateDPAClass_t& searched, const PosteriorOptions& options, double nullMsgLen) {
  int K = searched.K();
  if (options.fallbackAtTop && K >= options.topDistance) {
    if (searched.local()) {
      MachineModel global = searched.model();
      global.local = false;
      return decodingDistance(searchMarginalDistance(withModel(searched, global), nullMsgLen).machine, options,
                              nullMsgLen);
    }
    K = optimalDistance(searched);
  }
  if (options.distanceCap > 0 && K > options.distanceCap) K = options.distanceCap;
  return K;
}

}  // namespace

HypothesisPosteriors posteriorsOf(const threeStateDPAClass_t& m, const PosteriorOptions& options, double nullMsgLen) {
  MarginalSearchOutcome search = searchMarginalDistance(m, nullMsgLen);
  const int K = decodingDistance(search.machine, options, nullMsgLen);
  threeStateDPAClass_t machine = K == search.machine.K() ? search.machine : atDistance(m, K);
  CostTable c = machine.costs();
  if (options.endGapsAlike && !c.local) priceEndGapsAlike(c);
  Posteriors p = computePosteriorsFast(c, true);
  return {std::move(search), std::move(machine), std::move(p)};
}

std::string flanksInBlocks(const std::string& path) {
  auto block = [](const std::string& part) {
    const auto d = static_cast<std::size_t>(std::count(part.begin(), part.end(), 'd'));
    return flanks(d, part.size() - d);
  };
  const std::size_t first = path.find('m'), last = path.rfind('m');
  if (first == std::string::npos) return block(path);
  return block(path.substr(0, first)) + path.substr(first, last - first + 1) + block(path.substr(last + 1));
}

PosteriorDecoding decodePosterior(const threeStateDPAClass_t& m, const PosteriorOptions& options, double nullMsgLen) {
  HypothesisPosteriors h = posteriorsOf(m, options, nullMsgLen);
  PosteriorDecoding d{std::move(h.search), std::move(h.machine), "", {}};
  d.fsastr = meaAlignment(h.posteriors, m.local() ? options.regionUnpairedWeight : options.gapWeight);
  if (m.local()) d.fsastr = flanksInBlocks(d.fsastr);
  d.confidence = columnPosteriors(h.posteriors, d.fsastr);
  return d;
}

}  // namespace seqcorvane::detail
