// The marginal probability over all alignments: the sums from the start and
// to the sink, the search for the distance of least marginal message length,
// and the landscape of marginal probabilities through every cell.
//
// The marginal message length of a machine is -ln of the probability of all
// its paths, plus the cost of K and the code length of the longer sequence's
// length.
#pragma once

#include "dpKernels.h"
#include "machine.h"

namespace seqcorvane::detail {

// The marginal message length from the sums from the start (exact, log
// space); the rows of the sums are handed to visit when given.
double computeTotalProbOfST(const threeStateDPAClass_t& m, const SumRowVisitor& visit = {});
// The same from the sums to the sink, which are kept in sinkSums (the
// reversed frame: the sums of cell (i, j) at (|S| - i, |T| - j)).
double computeTotalProbOfST_2sink(const threeStateDPAClass_t& m, StatePlanes& sinkSums);
// The same from the probability-space pass: within about 1e-10 nits of the
// exact one, many times faster.
double marginalMsgLenFast(const threeStateDPAClass_t& m);
// How far the fast pass's message length may lie from the exact one's.
double fastSumMargin(double msgLen);

// The landscape at the machine: row by row, -ln of the probability of all
// alignments through each cell, with the costs of K and of the length (the
// marginal message length at the two corners), from the sums to the sink of
// computeTotalProbOfST_2sink (released afterwards) and the sums from the start,
// whose marginal message length it returns.
double printTotalFwdPlusBwd(const threeStateDPAClass_t& m, StatePlanes& sinkSums, const LandscapeVisitor& visit);

// The search for the distance of least marginal message length from the
// machine's model: the machine at that distance, its marginal message length
// and the passes the search made. Its passes sum in probability space;
// wherever two costs lie too close to tell apart, and where the compression
// against nullMsgLen lies too close to 0 to tell the verdict, exact ones
// decide. With a visitor, the landscape at the chosen distance is handed to
// it (and the message length is the exact one).
struct MarginalSearchOutcome {
  threeStateDPAClass_t machine;
  double msgLen;
  int fastPasses = 0, exactPasses = 0;
};
MarginalSearchOutcome searchMarginalDistance(const threeStateDPAClass_t& m, double nullMsgLen,
                                             const LandscapeVisitor* landscape = nullptr);

}  // namespace seqcorvane::detail
