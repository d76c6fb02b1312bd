// The posterior criterion: the distance of least marginal message length
// under its model, the posterior probability of every pair of residues at
// the distance it decodes at, and the alignment of maximum expected accuracy
// with a confidence for every column.
#pragma once

#include <string>
#include <vector>

#include "machine.h"
#include "marginal.h"

namespace seqcorvane::detail {

// The posterior criterion's model on the pair of a machine: matches from the
// fitted joint tables (when the options ask for them and the models have
// them), else from the substitution model averaged over gamma rate
// categories; the gap opening scaled.
MachineModel posteriorModel(const ModelData& models, const PosteriorOptions& options);

struct PosteriorDecoding {
  MarginalSearchOutcome search;  // at the distance of least marginal message length
  threeStateDPAClass_t machine;  // at the distance decoded at
  std::string fsastr;
  std::vector<double> confidence;  // the posterior of each column
};
// The search from the machine (which carries the criterion's model), then
// the decoding at the marginal distance or, where that is at the top of the
// range (the pair looks unrelated at every distance and the posteriors are
// flat), at the optimal criterion's distance; at most the cap.
PosteriorDecoding decodePosterior(const threeStateDPAClass_t& m, const PosteriorOptions& options, double nullMsgLen);

// The posterior of each column of an alignment at the machine: the pair
// posterior of a matched column, the unpaired posterior of a gap's residue.
std::vector<double> columnConfidence(const threeStateDPAClass_t& m, const std::string& fsastr);

// The distance the optimal criterion settles on from the machine's distance,
// under its own model (one rate, the priors' gap opening).
int optimalDistance(const threeStateDPAClass_t& m);

}  // namespace seqcorvane::detail
