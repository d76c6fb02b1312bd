// The posterior criterion: the distance of least marginal message length,
// the posterior probability of every pair of residues at it, and the
// alignment of maximum expected accuracy, with a confidence for every
// column.
#include <iomanip>
#include <ostream>
#include <sstream>

#include "check.h"
#include "dpPosteriors.h"
#include "misc.h"
#include "siteRates.h"
#include "threeStateDPAClass.h"

std::vector<double> threeStateDPAClass_t::columnConfidence(const std::string& fsastr) const {
  std::vector<double> pathPairs;
  const Posteriors p = computePosteriors(costs(), false, &fsastr, &pathPairs);
  return columnPosteriors(p, fsastr, &pathPairs);
}

int threeStateDPAClass_t::optimalDistance() const {
  NullStream quiet;
  std::string s = S, t = T;
  nullModelClass_t n = nullMdl;
  SubmatClass_t p = pam;
  const threeStateDPAClass_t opt(s, t, n, p, "optimal", "unused", quiet);
  return opt.getSubmatK();
}

void threeStateDPAClass_t::decodePosterior(const PosteriorOptions& options) {
  // The model of this criterion lets sites change at different rates: each
  // match averages the substitution model over the rate categories. Its
  // marginal message length is that model's.
  siteRates = options.rateShape > 0 ? gammaRateCategories(options.rateShape, options.rateCategories)
                                    : std::vector<double>{};
  SC_CHECK(options.gapOpenScale > 0 && options.gapOpenScale <= 1);
  gapOpenScale = options.gapOpenScale;
  const int marginalK = searchMarginalDistance(false);
  searchedDistance = marginalK;
  posteriorK = marginalK;
  // Where the marginal distance reaches the top of its range the pair looks
  // unrelated at every distance and the posteriors are flat: decoding them
  // would scatter pairs. The optimal criterion's distance is used there.
  if (options.fallbackAtTop && marginalK >= options.topDistance) posteriorK = optimalDistance();
  if (options.distanceCap > 0 && posteriorK > options.distanceCap) posteriorK = options.distanceCap;
  const int searchedK = pam.getK();
  if (posteriorK != searchedK) {
    pam.exp(posteriorK);
    estimate3StateMachineParams_dirichlet();
  }
  const Posteriors p = computePosteriors(costs(), true);
  posteriorFSAstr = meaAlignment(p, options.gapWeight);
  posteriorConfidence = columnPosteriors(p, posteriorFSAstr);
}

void threeStateDPAClass_t::runPosterior() {
  *out << "Searching for -log(marginal prob.) of sequences\n" << std::flush;
  const PosteriorOptions options;
  decodePosterior(options);
  auto plain = [](double x) {  // as few digits as the value needs
    std::ostringstream t;
    t << x;
    return t.str();
  };
  if (!siteRates.empty()) {
    *out << "Site rates: " << siteRates.size() << " equally likely categories of a gamma distribution of shape "
         << plain(options.rateShape) << ", mean rates";
    for (const double r : siteRates) *out << " " << formatFixed(r, 3);
    *out << "\n";
  }
  if (gapOpenScale != 1) *out << "Gap opening: the priors' probability times " << plain(gapOpenScale) << "\n";
  // The report of the marginal search, at its distance.
  const int decodedK = pam.getK();
  if (decodedK != searchedDistance) {
    pam.exp(searchedDistance);
    estimate3StateMachineParams_dirichlet();
  }
  printMarginalReport();
  *out << "......................................    [OK]" << std::endl;
  if (decodedK != searchedDistance) {
    pam.exp(decodedK);
    estimate3StateMachineParams_dirichlet();
  }
  *out << "Posterior decoding (maximum expected accuracy) at SeqDist n = " << decodedK
       << (decodedK != searchedDistance ? " (the optimal criterion's distance: the marginal one is the top of the range)"
                                        : "")
       << ":\n";
  printFSAstr2Algn(posteriorFSAstr, S, T, *out, &posteriorConfidence);
  *out << "Confidence: the posterior probability of each column in tenths (0 to 9), * for 0.95 and above.\n\n";
  *out << "The message length of this alignment, as --ivalue scores it:\n";
  std::string s = S, t = T, f = posteriorFSAstr;
  nullModelClass_t n = nullMdl;
  SubmatClass_t p = pam;
  const threeStateDPAClass_t scored(s, t, f, n, p, *out);
  optAlignMsgLen = scored.getOptAlignMsgLen();
  optAlignFSAstr = posteriorFSAstr;
}
