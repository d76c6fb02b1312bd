// The three-state alignment machine (match M, delete D, insert I) over a pair
// of protein sequences: its parameters, the optimal alignment, parameter
// estimation, the message length of a given alignment, the marginal
// probability over all alignments and its landscape, the alignments through
// a cell, and posterior decoding.
//
// The machine computes and keeps its results; it prints nothing (the
// programs report from seqcorvane::AlignResult). It is implemented in one
// file per concern:
//   threeStateDPAClass.cpp     construction, parameters
//   dpaOptimal.cpp             the optimal fills and the traces
//   dpaEstimation.cpp          parameter estimation and a given alignment's length
//   dpaMarginal.cpp            the marginal sums, the distance search, the landscape
//   dpaCell.cpp                the best alignment through a cell
//   dpaPosterior.cpp           posterior decoding
// The recurrences themselves are in dpKernels, the costs they read in dpCosts.
//
// Memory per grid cell (i, j): one byte of trace codes for the optimal
// criterion; 24 bytes of sums to the sink for the landscape; with the best
// totals of every cell kept in both directions (paths through a cell), 50.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "SubmatClass.h"
#include "dpCosts.h"
#include "dpKernels.h"
#include "models.h"
#include "seqcorvane/seqcorvane.h"

class threeStateDPAClass_t {
 public:
  // The machine over S and T (both non-empty) with the models, at their
  // starting distance and the priors' modes there; computes nothing yet.
  // threads: for the two probes of each step of the marginal search (0: the default).
  threeStateDPAClass_t(const std::string& S, const std::string& T, const seqcorvane::Models::Data& models,
                       int threads = 0);

  // Bytes of DP storage a run of the criterion needs for sequences of these lengths.
  static double bytesNeeded(size_t nS, size_t nT, seqcorvane::Criterion criterion);

  // ---- parameters ----
  // The transitions from the priors' modes at the current distance.
  void initParams();
  int getSubmatK() const { return pam.getK(); }
  // The transition probabilities [from][to] (fsaPr).
  const TransitionTable& getFsaPr() const { return fsaPr; }
  seqcorvane::Parameters parameters() const { return {pam.getK(), fsaPr}; }
  // Moves to distance K with the transitions of its priors.
  void setDistance(int K);
  // The posterior criterion's model: matches from the fitted joints when
  // given (not null, not empty), else averaged over the site rates; the gap
  // opening scaled by openScale.
  void setPosteriorModel(std::vector<double> rates, double openScale, const MatchJoints* joints);
  bool usesFittedMatches() const { return matchJoints != nullptr; }
  const std::vector<double>& getSiteRates() const { return siteRates; }
  double getGapOpenScale() const { return gapOpenScale; }
  // The costs every pass reads, at the current parameters, and at distance K
  // with the transitions for K (the machine's parameters unchanged).
  CostTable costs() const;
  CostTable costsAt(int K) const;

  // ---- optimal alignment ----
  // The hard alternation of the optimal criterion: estimate the parameters
  // from the current alignment, then the optimal alignment under them, until
  // an alignment repeats.
  void EM();
  double getOptAlignMsgLen() const { return optAlignMsgLen; }
  const std::string& getOptAlignFSAstr() const { return optAlignFSAstr; }
  void fillDPMatrices();
  void fillDPMatrices_cell2sink();
  // The best path to (i, j) in state (the end: -1, -1, -1), its letters in
  // column order; returns its cost (with the parameters' and the length's
  // for the whole path).
  double traceback(std::string& fsastr, int32_t i, int32_t j, int32_t state);
  // The best path from (i, j) in state to the end (the start: -1, -1, -1).
  double traceforward(std::string& fsastr, int32_t i, int32_t j, int32_t state);
  // Keep the best total of every cell in both fills (for paths through a cell).
  void keepCellTotals(bool keep) { keepTotals = keep; }

  // ---- parameter estimation ----
  void estimateParams(const std::string& fsastr);
  // The distance of least message length for the alignment.
  void estimateSubmatParam(const std::string& fsastr);
  // Sets the transitions to the priors' modes at the current distance.
  void estimate3StateMachineParams_dirichlet();
  // The alignment's whole message length at distance n: K, length, emissions, transitions.
  double evalNegLogMatches_fullAlignment(const std::string& fsastr, int n) const;

  // ---- message length of a given alignment ----
  // I(A): the path's state choices, its length and the parameters.
  double fsa2IA(const std::string& fsastr) const;
  // I(<S,T>|A): the residues given the path, at the current distance.
  double fsa2ISTgA(const std::string& fsastr) const;
  // K estimated for the alignment, then both parts.
  seqcorvane::ScoreResult scoreGiven(const std::string& fsastr);

  // ---- marginal probability ----
  // The marginal message length at distance K (the parameters move there).
  double computeTotalProbOfST(int K);
  // The sums from every cell to the sink, kept for the landscape.
  void computeTotalProbOfST_2sink();
  double getMarginalProbMsgLen() const { return marginalProbMsgLen; }
  double getMarginalProbMsgLen_2sink() const { return marginalProbMsgLen_2sink; }
  // The marginal message length at distance K from the exact log-space pass,
  // or from the fast one (within about 1e-8 nits of it); changes nothing.
  double marginalMsgLenAt(int K, bool exact) const;
  // The distance of least marginal message length, with the parameters and
  // marginalProbMsgLen left at it; with a visitor, the landscape's rows are
  // handed to it. Returns the distance.
  int searchMarginalDistance(const seqcorvane::LandscapeVisitor* landscape);
  // The passes the last search made: fast ones, and exact ones (near ties,
  // the check of the chosen distance).
  int getFastPasses() const { return fastPasses; }
  int getExactPasses() const { return exactPasses; }
  // Hands the landscape's rows to visit, from the sums to the sink and the
  // forward sums at the current parameters (the name is the historical one:
  // it prints nothing).
  void printTotalFwdPlusBwd(const seqcorvane::LandscapeVisitor& visit);

  // ---- alignments through a cell ----
  // The best path through (i, j) after both fills (with cell totals kept);
  // returns the path (it prints nothing) and sets its message length.
  std::string printAlignmentThroughCell(int i, int j, double& msgLen);

  // ---- posterior decoding ----
  // The marginal search, then the maximum expected accuracy alignment and its
  // column posteriors at the distance the options settle on; the parameters
  // are left at that distance and marginalProbMsgLen at the marginal one's.
  void decodePosterior(const seqcorvane::PosteriorOptions& options);
  const std::string& getPosteriorFSAstr() const { return posteriorFSAstr; }
  const std::vector<double>& getPosteriorConfidence() const { return posteriorConfidence; }
  int getSearchedDistance() const { return searchedDistance; }
  const seqcorvane::Parameters& getSearchedParameters() const { return searchedParameters; }
  // The posterior of each column of an alignment at the current parameters.
  std::vector<double> columnConfidence(const std::string& fsastr) const;
  // The distance the optimal criterion settles on for this pair.
  int optimalDistance() const;

 private:
  double forwardSum(const SumRowVisitor& visit);
  // The posterior criterion's match costs at the model's distance, over those
  // of makeCostTable: from the fitted joints, else averaged over the site
  // rates; nothing for the other criteria.
  void setPosteriorMatches(CostTable& c, const SubmatClass_t& model) const;
  // traceback (towards the start) and traceforward (towards the sink).
  double trace(bool towardsSink, std::string& fsastr, int32_t i, int32_t j, int32_t state);
  double pnullOf(char c) const { return pnull[static_cast<unsigned char>(c)]; }
  // A trace that met a cell without predecessor.
  [[noreturn]] void corruptPath(const TraceWalk& w) const;
  double bestPathMsgLen(const TraceCodes& codes, const std::array<PathCost, 3>& end) const;
  // The transitions at the model's distance: the priors' modes, with the gap opening scaled.
  TransitionTable modelTransitions(const SubmatClass_t& model) const;

  std::string S;
  std::string T;
  const seqcorvane::Models::Data* models;
  SubmatClass_t pam;
  NullProbs pnull{};
  int threads = 0;
  TransitionTable fsaPr{};
  double paramMsgLen = 0;
  double optAlignMsgLen = std::numeric_limits<double>::infinity();
  double optAlignMsgLen_cell2sink = std::numeric_limits<double>::infinity();
  double marginalProbMsgLen = std::numeric_limits<double>::infinity();
  double marginalProbMsgLen_2sink = std::numeric_limits<double>::infinity();
  std::string optAlignFSAstr;
  std::string cell2sinkFSAstr;

  std::vector<double> siteRates;             // empty: every site at one rate
  double gapOpenScale = 1;                   // the posterior criterion's model; 1 for the others
  const MatchJoints* matchJoints = nullptr;  // the posterior criterion's fitted match emissions

  // Best-path trace codes from the start (dpmat) and from the sink
  // (dpmat_cell2sink, in the reversed frame of reversedForSink).
  TraceCodes dpmat;
  TraceCodes dpmat_cell2sink;
  std::array<PathCost, 3> fwdEnd{}, sinkEnd{};
  bool fwdFilled = false, sinkFilled = false;
  bool keepTotals = false;
  StatePlanes fwdTotals, sinkTotals;  // best totals of every cell, both directions
  StatePlanes sinkSums;               // sums to the sink of every cell, reversed frame

  std::string posteriorFSAstr;
  std::vector<double> posteriorConfidence;
  int searchedDistance = 0;
  int fastPasses = 0, exactPasses = 0;
  seqcorvane::Parameters searchedParameters;
};
