// The posterior criterion: the distance of least marginal message length
// under its model, the posterior probability of every pair of residues at
// the distance it decodes at, and the alignment of maximum expected accuracy
// with a confidence for every column.
#pragma once

#include <string>
#include <vector>

#include "dpPosteriors.h"
#include "machine.h"
#include "marginal.h"

namespace seqcorvane::detail {

// The posterior criterion's model on the pair of a machine: matches from the
// fitted joint tables (when the options ask for them and the models have
// them), else from the substitution model averaged over gamma rate
// categories; the gap opening scaled.
MachineModel posteriorModel(const ModelData& models, const PosteriorOptions& options);

// The posteriors of one hypothesis: the search from the machine (which
// carries the criterion's model), then the posteriors at the marginal
// distance or, where that is at the top of the range (the pair looks
// unrelated at every distance and the posteriors are flat), at the optimal
// criterion's distance (under the local hypothesis, the global hypothesis's
// decoding distance); at most the cap. The global hypothesis prices its end
// gap runs alike when the options ask for it.
struct HypothesisPosteriors {
  MarginalSearchOutcome search;  // at the distance of least marginal message length
  threeStateDPAClass_t machine;  // at the distance decoded at
  Posteriors posteriors;
};
HypothesisPosteriors posteriorsOf(const threeStateDPAClass_t& m, const PosteriorOptions& options, double nullMsgLen);

struct PosteriorDecoding {
  MarginalSearchOutcome search;  // at the distance of least marginal message length
  threeStateDPAClass_t machine;  // at the distance decoded at
  std::string fsastr;
  std::vector<double> confidence;  // the posterior of each column
};
// The alignment of maximum expected accuracy of the hypothesis's posteriors,
// each residue left unpaired weighing gapWeight (under the local
// hypothesis, regionUnpairedWeight: a residue is unpaired in a flank as in a
// gap), and the confidence of each of its columns.
PosteriorDecoding decodePosterior(const threeStateDPAClass_t& m, const PosteriorOptions& options, double nullMsgLen);

// A local alignment's flanks as one block each: the unpaired residues of S
// then of T before the first match, and the same after the last (all of S's
// then all of T's without a match). The
// decoding of maximum expected accuracy leaves them in any order (an
// unpaired residue counts the same wherever it stands); the local message
// does not depend on their order.
std::string flanksInBlocks(const std::string& path);

// The posterior of each column of an alignment at the machine: the pair
// posterior of a matched column, the unpaired posterior of a gap's residue.
std::vector<double> columnConfidence(const threeStateDPAClass_t& m, const std::string& fsastr);

// The distance the optimal criterion settles on from the machine's distance,
// under its own model (one rate, the priors' gap opening).
int optimalDistance(const threeStateDPAClass_t& m);

}  // namespace seqcorvane::detail
