// The posterior criterion: the distance of least marginal message length,
// the posterior probability of every pair of residues at it, and the
// alignment of maximum expected accuracy, with a confidence for every
// column.
#include "check.h"
#include "dpPosteriors.h"
#include "siteRates.h"
#include "threeStateDPAClass.h"

std::vector<double> threeStateDPAClass_t::columnConfidence(const std::string& fsastr) const {
  std::vector<double> pathPairs;
  const Posteriors p = computePosteriorsFast(costs(), false, &fsastr, &pathPairs);
  return columnPosteriors(p, fsastr, &pathPairs);
}

int threeStateDPAClass_t::optimalDistance() const {
  // The optimal criterion's model (one rate, the priors' gap opening),
  // starting from this machine's distance.
  threeStateDPAClass_t opt(S, T, *models, threads);
  opt.pam.exp(pam.getK());
  opt.initParams();
  opt.EM();
  return opt.getSubmatK();
}

void threeStateDPAClass_t::decodePosterior(const seqcorvane::PosteriorOptions& options) {
  // The matches of this criterion's model come from the residue-pair tables
  // fitted to structure-based alignments, at the distance of each pass (the
  // search's and the posteriors'); without tables, from the substitution
  // model averaged over site-rate categories. Either way each match table is
  // a distribution, and the marginal message length is that model's.
  setPosteriorModel(
      options.rateShape > 0 ? gammaRateCategories(options.rateShape, options.rateCategories) : std::vector<double>{},
      options.gapOpenScale, options.fittedMatches ? &models->matchJoints : nullptr);
  const int marginalK = searchMarginalDistance(nullptr);
  searchedDistance = marginalK;
  searchedParameters = parameters();
  int posteriorK = marginalK;
  // Where the marginal distance reaches the top of its range the pair looks
  // unrelated at every distance and the posteriors are flat: decoding them
  // would scatter pairs. The optimal criterion's distance is used there.
  if (options.fallbackAtTop && marginalK >= options.topDistance) posteriorK = optimalDistance();
  if (options.distanceCap > 0 && posteriorK > options.distanceCap) posteriorK = options.distanceCap;
  if (posteriorK != pam.getK()) setDistance(posteriorK);
  CostTable c = costs();
  if (options.endGapsAlike) priceEndGapsAlike(c);
  const Posteriors p = computePosteriorsFast(c, true);
  posteriorFSAstr = meaAlignment(p, options.gapWeight);
  posteriorConfidence = columnPosteriors(p, posteriorFSAstr);
}
