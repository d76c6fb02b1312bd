// Posterior probabilities of the three-state machine at the parameters of a
// cost table: for every pair of residues the probability that an alignment
// pairs them, for every residue the probability that it stays unpaired, and
// the alignment of maximum expected accuracy built from them.
//
// The forward sums and the sums to the sink of the same row are met row by
// row: the pass to the sink keeps a checkpoint every k rows (k about the
// square root of |S|), and the rows between two checkpoints are summed again
// when the forward pass reaches them. Memory: about 2 sqrt(|S|) rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dpCosts.h"
#include "largeAllocator.h"

namespace seqcorvane::detail {

// Row i of the forward sums F and of the sums to the sink G, both indexed by
// the column j of the pair.
struct RowOfBothSums {
  std::size_t i;
  const double* fwd[3];
  const double* sink[3];
  double allPaths;  // the message length of all paths, from the pass to the sink
};

// Visits rows 0..|S| in order; returns the message length of all paths
// (nits, -ln of their summed probability, without the cost of K and of the length).
double forEachRowOfBothSums(const CostTable& c, const std::function<void(const RowOfBothSums&)>& visit);

struct Posteriors {
  std::size_t nS = 0, nT = 0;
  // P(i ~ j), residues counted from 1, at (i - 1) |T| + (j - 1); empty unless kept.
  std::vector<float, LargeAllocator<float>> pair;
  std::vector<double> unpairedS, unpairedT;  // by residue, counted from 0
  float pairOf(std::size_t i, std::size_t j) const { return pair[(i - 1) * nT + (j - 1)]; }
};

// The posteriors; the pair posteriors of every cell only when keepPairs (4
// bytes a cell). With path, also the pair posterior of each of its matched
// columns (NaN for its gap columns) in pathPairs. From the log-space sums:
// the reference.
Posteriors computePosteriors(const CostTable& c, bool keepPairs, const std::string* path = nullptr,
                             std::vector<double>* pathPairs = nullptr);

// The same from the probability-space sums (fastSums.h), within about 1e-10
// of the reference and many times faster; the log-space sums where the
// costs are too steep for them.
Posteriors computePosteriorsFast(const CostTable& c, bool keepPairs, const std::string* path = nullptr,
                                 std::vector<double>* pathPairs = nullptr);

// The alignment that maximises the summed pair posteriors of its matched
// columns plus gapWeight times the unpaired posteriors of the residues it
// leaves unpaired; equal scores prefer a match, then a delete. Needs the pair
// posteriors of every cell.
std::string meaAlignment(const Posteriors& p, double gapWeight);

// The posterior of each column of an alignment: the pair posterior of a
// matched column, the unpaired posterior of the residue of a gap column.
std::vector<double> columnPosteriors(const Posteriors& p, const std::string& fsastr,
                                     const std::vector<double>* pathPairs = nullptr);

}  // namespace seqcorvane::detail
