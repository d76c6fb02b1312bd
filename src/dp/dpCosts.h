// The costs, in nits, that every dynamic programme over a pair reads: the
// gap cost of each residue, the match cost of every pair of residues, and the
// nine transition costs. One value is built for the parameters of one pass
// and handed to it; a pass keeps nothing of it afterwards.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "SubmatClass.h"
#include "codeLengths.h"
#include "matchJoints.h"
#include "nullModelClass.h"
#include "seqcorvane/seqcorvane.h"
#include "simdRows.h"
#include "transitions.h"

namespace seqcorvane::detail {

// The match cost of residue a of S and residue b of T:
//   -ln matchPr(a, b),  matchPr(a, b) = 0.5 (Pnull(a) Pr(b|a) + Pnull(b) Pr(a|b)),
// the mean of the two directions, so that the cost of a pair does not depend
// on which sequence is S.
double matchMsgLen(const SubmatClass_t& pam, const NullProbs& pnull, char a, char b);

struct CostTable {
  std::size_t nS = 0, nT = 0;
  std::vector<double> gapS, gapT;                  // -ln Pnull of each residue of S and of T
  std::vector<std::uint8_t> resS, resT;            // substitution-model index of each residue
  std::array<std::array<double, 20>, 20> match{};  // [residue of S][residue of T]
  TransitionTable trans{};                         // -ln fsaPr, [from][to]
  // Nits taken off every path whose first column (start) or last column
  // (end) is a gap, by the state of that column (the M entries stay 0). Zero
  // in the machine's own tables, whose message lengths they would no longer
  // keep proper; only the posterior decoding sets them (priceEndGapsAlike).
  std::array<double, 3> startGapDiscount{}, endGapDiscount{};
  // The local hypothesis: a region of each sequence aligned, the residues
  // outside it under the null model. The costs are then log-odds against the
  // null model (a gap's residue costs 0, a match its cost less the null
  // costs of its two residues), a path begins with a match at any cell, at
  // beginCost, and ends after a match at any cell, at endCost; it has no
  // columns outside the region. The passes then return, in place of the end
  // cells, the sum over every cell's end in M.
  bool local = false;
  double beginCost = 0, endCost = 0;
  SimdLevel simd = bestSimdLevel();  // the instruction set of the row routines of passes over this table
};

// The costs of S against T under the model at its current distance and the
// transition probabilities fsaPr.
CostTable makeCostTable(const std::string& S, const std::string& T, const NullProbs& pnull, const SubmatClass_t& pam,
                        const TransitionTable& fsaPr);

// The match costs of the table with the substitution model averaged over
// site-rate categories: Pr(a | b) is the mean over the rates r of M^(rK)(a | b)
// at the model's distance K, each rK rounded and kept within 1..1000.
void averageMatchOverRates(CostTable& c, const SubmatClass_t& pam, const NullProbs& pnull,
                           const std::vector<double>& rates);

// The match costs of the table from a joint distribution over residue pairs
// (PairTable, [residue of S][residue of T], the substitution model's order):
// -ln of each pair's probability.
void setMatchFromJoint(CostTable& c, const PairTable& joint);

// A path's first column is charged ln 3 whatever its state, so a run of gaps
// that opens the alignment pays its extensions and its close (X->M) but no
// opening, while a run that ends it pays the opening (M->X). This discounts
// every path ending in a gap by the opening less the close, so that the runs
// at both ends are priced alike.
void priceEndGapsAlike(CostTable& c);

// The local hypothesis's costs from the global ones (see CostTable::local):
// each residue's unpaired cost (its null cost, the table's gap cost) taken
// out of every column it stands in, and a region that ends after each match column with probability
// endProbability: the transitions out of M cost -ln(1 - endProbability)
// more, the end -ln endProbability; the begin costs nothing here (the
// region's first cell, uniform over the grid, is a constant of the message).
void makeLocal(CostTable& c, double endProbability);

// The costs with each sequence's residues sent under its own composition
// (frequencies by substitution-model index): an unpaired residue costs
// -ln f, a matched pair -ln Q(a, b), Q the table's match joint exp(-match)
// adjusted to the two compositions (composition.h).
void sendOwnCompositions(CostTable& c, const std::vector<double>& fS, const std::vector<double>& fT);

// The same costs for the passes towards the sink: both sequences reversed and
// the transitions transposed, the start's and the end's gap discounts (and
// the local begin's and end's costs) swapped. A start-to-cell pass over this
// table computes, at (|S| - i, |T| - j), what a cell-to-sink pass computes at
// (i, j).
CostTable reversedForSink(const CostTable& forward);

}  // namespace seqcorvane::detail
