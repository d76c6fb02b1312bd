// The three-state alignment machine (match M, delete D, insert I) over a pair
// of protein sequences, as a value: the pair, the distance K with the
// transitions at it, the costs every pass reads, and what the hypothesis adds
// to the substitution model (how matches are emitted, how gaps open). It is
// built by makeMachine, or moved to another distance by atDistance, and never
// changes afterwards; every criterion is a function over it:
//   optimal.h      the best-path fills, the traces, the alternation EM
//   estimation.h   the distance of an alignment, a given alignment's length
//   marginal.h     the sums over all paths, the distance search, the landscape
//   cellPaths.h    the best alignment through a cell
//   posterior.h    posterior decoding and column confidences
// The recurrences themselves are dp/'s (dpKernels.h), the costs dpCosts.h's.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "SubmatClass.h"
#include "dpCosts.h"
#include "matchJoints.h"
#include "models.h"
#include "seqcorvane/seqcorvane.h"

namespace seqcorvane::detail {

// What a hypothesis adds to the substitution model's costs: the posterior
// criterion's matches (fitted joint tables, else the substitution model
// averaged over site rates) and its gap opening. The default is the machine
// of the other criteria.
struct MachineModel {
  double gapOpenScale = 1;                   // the priors' gap-opening probability times this, in (0, 1]
  std::vector<double> siteRates;             // match costs averaged over these rates (empty: one rate)
  const MatchJoints* matchJoints = nullptr;  // match costs from these fitted tables (then no rates)
  bool fittedMatches() const { return matchJoints != nullptr; }
  // The local hypothesis: a region of each sequence aligned, the residues
  // outside it under the null model. The region's first match cell is
  // stated uniform over the grid; after each match column the region ends
  // with probability regionEndProbability.
  bool local = false;
  double regionEndProbability = 0.01;
  // Both hypotheses send each sequence's residues with its own composition,
  // its counts stated first (alike in both), and the match joint adjusted to
  // the two compositions (composition.h): the calibrated verdict's machine,
  // whose compression composition alone cannot earn.
  bool ownComposition = false;
};

// How the passes over a machine run; results never depend on it.
struct RunSettings {
  int threads = 1;                   // the probes of one step of a distance search at once
  SimdLevel simd = bestSimdLevel();  // the row routines' instruction set
};

class threeStateDPAClass_t {
 public:
  const std::string& S() const { return s; }
  const std::string& T() const { return t; }
  int K() const { return pam.getK(); }
  // The transition probabilities [from][to] at K.
  const TransitionTable& fsaPr() const { return transitions; }
  Parameters parameters() const { return {pam.getK(), transitions}; }
  // The costs every pass reads.
  const CostTable& costs() const { return table; }
  const SubmatClass_t& substitution() const { return pam; }
  const ModelData& models() const { return *data; }
  const MachineModel& model() const { return hypothesis; }
  const RunSettings& settings() const { return run; }
  bool local() const { return hypothesis.local; }
  // I(S) + I(T) under the null hypothesis (with their own compositions, the
  // counts' statements included, when the model sends them).
  double nullMsgLen() const { return pairNullMsgLen; }
  // The statements of the two sequences' counts under ownComposition, else 0.
  double compositionStatements() const { return statements; }

 private:
  friend threeStateDPAClass_t makeMachine(const std::string& S, const std::string& T, const ModelData& models, int K,
                                          const MachineModel& model, const RunSettings& run);
  threeStateDPAClass_t(const std::string& S, const std::string& T, const ModelData& models, int K,
                       const MachineModel& model, const RunSettings& run);
  std::string s, t;
  const ModelData* data;
  SubmatClass_t pam;
  MachineModel hypothesis;
  RunSettings run;
  TransitionTable transitions;
  CostTable table;
  double pairNullMsgLen;
  double statements = 0;
};

// The machine over S and T (both non-empty) at distance K (1..1000) with the
// transitions of the priors' modes there (the gap opening scaled as the model
// says).
threeStateDPAClass_t makeMachine(const std::string& S, const std::string& T, const ModelData& models, int K,
                                 const MachineModel& model = {}, const RunSettings& run = {});
// The same machine at the models' starting distance.
threeStateDPAClass_t makeMachine(const std::string& S, const std::string& T, const ModelData& models,
                                 const MachineModel& model = {}, const RunSettings& run = {});
// The same pair, model and settings at distance K.
threeStateDPAClass_t atDistance(const threeStateDPAClass_t& m, int K);
// The machine of the same pair, distance and settings under another model.
threeStateDPAClass_t withModel(const threeStateDPAClass_t& m, const MachineModel& model);

// The code length of the longer sequence's length, which every sum over whole
// paths adds after the cost of K.
double lengthMsgLen(const threeStateDPAClass_t& m);

// The message length of the paths whose costs sum (or least cost is) to
// pathCosts: with the cost of K and what the hypothesis states beside its
// paths. Global: the code length of the longer sequence's length (that of
// the path's own length for one path: see optimal.h), and the statements of
// the compositions where the model sends them. Local (whose costs are
// log-odds against the null model): the region's first cell, uniform over
// the |S| |T| cells, and the null message length of the pair.
double summedMsgLen(const threeStateDPAClass_t& m, double pathCosts);

}  // namespace seqcorvane::detail
