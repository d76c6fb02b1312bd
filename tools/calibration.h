// Calibration of the alignment machine's gap priors against reference
// pairwise alignments, and the measurement of alignment accuracy.
//
// The pieces, in the order a calibration run uses them:
//  - reading reference alignments (pair_id, dataset, family, percent_identity,
//    row_s, row_t; tab-separated, one header line);
//  - per pair, the distance K that minimises the message length of its match
//    columns alone, and the counts of the machine's transitions along the
//    reference path (insert and delete pooled, as the machine pools them);
//  - smooth curves p_open(K), p_stay(K), p_switch(K) fitted to those counts by
//    maximum likelihood, logistic (multinomial logistic for the gap state) in
//    ln K, and the table of Dirichlet priors built from them;
//  - the accuracy of the machine's optimal alignment against a reference (the
//    fraction of reference residue pairs it reproduces) and the compression of
//    the reference alignment itself, tabulated per identity bin;
//  - folds by family for cross-validation, and a pool of forked worker
//    processes (the machine prints to standard output and keeps process-wide
//    caches, so work is spread over processes, not threads).
//
// Errors in input files are reported by throwing CalibrationError with the
// file, the line and what was expected.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "SubmatClass.h"
#include "nullModelClass.h"

namespace calibration {

struct CalibrationError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// ---- reference alignments ----

struct ReferencePair {
  std::string id;
  std::string dataset;
  std::string family;
  double percentIdentity = 0;
  std::string rowS;  // gapped row of S ('-' for a gap)
  std::string rowT;  // gapped row of T
};

std::vector<ReferencePair> readReferencePairs(const std::string& path);
void writeReferencePairs(const std::string& path, const std::vector<ReferencePair>& pairs);

// The row without its gaps.
std::string ungap(const std::string& row);
// The state string of two gapped rows: 'm' residue over residue, 'd' residue
// of S over a gap, 'i' gap over a residue of T. Throws on rows of unequal
// length or a column of two gaps.
std::string rowsToStates(const std::string& rowS, const std::string& rowT);

// ---- transitions along a path ----

// Counts of the machine's transitions between consecutive columns. The first
// column has no predecessor and is not counted (the machine costs it ln 3).
struct TransitionCounts {
  double matchToMatch = 0;  // M -> M
  double matchToGap = 0;    // M -> D or M -> I
  double gapStay = 0;       // D -> D or I -> I
  double gapToMatch = 0;    // D -> M or I -> M
  double gapSwitch = 0;     // D -> I or I -> D

  double fromMatch() const { return matchToMatch + matchToGap; }
  double fromGap() const { return gapStay + gapToMatch + gapSwitch; }
  TransitionCounts& operator+=(const TransitionCounts& o);
};

TransitionCounts countTransitions(const std::string& fsastr);

// ---- distance of the match columns ----

// counts[a][b]: the number of match columns with residue a of S over residue
// b of T, indices in the substitution model's alphabet.
using PairCounts = std::array<std::array<double, 20>, 20>;

PairCounts countMatchedPairs(const std::string& rowS, const std::string& rowT, const std::string& alphabet);

// The symmetric match cost -ln(0.5 (Pnull(a) Pr(b|a) + Pnull(b) Pr(a|b))) of
// every residue pair at every distance K = 1..1000, from the models of the
// data directory in use.
class MatchCostTables {
 public:
  static constexpr int MAX_K = 1000;
  explicit MatchCostTables(const nullModelClass_t& nullMdl);
  // A table given directly (for tests): costs[K-1][a][b].
  MatchCostTables(std::string alphabet, std::vector<PairCounts> costs);

  const std::string& alphabet() const { return alphabet_; }
  int maxK() const { return static_cast<int>(costs_.size()); }
  double cost(int K, int a, int b) const { return costs_[K - 1][a][b]; }
  // The message length (nits) of the counted match columns at distance K.
  double matchMsgLen(int K, const PairCounts& counts) const;
  // The K of least matchMsgLen; the smallest such K on ties.
  int bestK(const PairCounts& counts) const;

 private:
  std::string alphabet_;
  std::vector<PairCounts> costs_;
};

// What one reference pair contributes to the fit.
struct Observation {
  int K = 1;
  TransitionCounts counts;
};

std::vector<Observation> observePairs(const std::vector<ReferencePair>& pairs, const MatchCostTables& tables);

// ---- curves and priors ----

// Multinomial logistic regression on a polynomial of degree d in x = ln K:
//   eta_j(K) = c_j0 + c_j1 x + ... + c_jd x^d for the outcomes j = 1 .. J-1,
//   eta_0 = 0,  Pr(outcome j | K) = exp(eta_j) / sum_k exp(eta_k).
// Fitted by Newton's method on the log-likelihood of the counts, with a weak
// regulariser that keeps every estimate finite: half a pseudo-count of every
// outcome at the count-weighted mean of ln K, and a Gaussian penalty of
// precision `slopePrecision` on each coefficient beyond the constant (in ln K
// centred on that mean).
struct LogisticFit {
  int degree = 1;
  std::vector<std::vector<double>> coef;  // [j-1][power of ln K], uncentred
  double logLikelihood = 0;               // of the counts alone, at the estimate
  int iterations = 0;
  // Pr(outcome j | K) for j = 0 .. J-1.
  std::vector<double> probabilities(double K) const;
  // The linear predictor of outcome j >= 1 as text, e.g. "-7 + 0.72 ln K".
  std::string formula(int j) const;
};

struct CountsAtDistance {
  double K;
  std::vector<double> counts;  // one per outcome
};

LogisticFit fitLogisticInLogK(const std::vector<CountsAtDistance>& data, int nOutcomes, int degree = 1,
                              double pseudoCount = 0.5, double slopePrecision = 1e-6);

struct GapCurves {
  LogisticFit open;  // outcomes: stay in match, open a gap
  LogisticFit gap;   // outcomes: back to match, stay in the gap state, switch gap state
  double pOpen(int K) const;
  double pStay(int K) const;
  double pSwitch(int K) const;
  double pGapToMatch(int K) const;
};

GapCurves fitGapCurves(const std::vector<Observation>& obs, int degree = 1);

// Concentration of the prior at K: the number of transitions out of the state
// observed in pairs near K, weighted by a Gaussian kernel of width
// `bandwidth` in ln K, plus `floorCount` (the weight of a prior where no data
// lies).
struct ConcentrationRule {
  double bandwidth = 0.25;
  double floorCount = 2.0;
};

struct FitOptions {
  int degree = 1;  // of the polynomial in ln K
  ConcentrationRule concentration;
};

struct PriorRow {
  int K;
  double aM1, aM2, aI1, aI2, aI3;
};

struct PriorsTable {
  GapCurves curves;
  FitOptions options;
  std::vector<double> cMatch;  // per K = 1..1000
  std::vector<double> cGap;
  std::vector<PriorRow> rows;
};

PriorsTable buildPriorsTable(const std::vector<Observation>& obs, const FitOptions& options = {});

// Writes the table in the priors file format: the header lines (each written
// after "# "), then 1000 lines "K aM1 aM2 aI1 aI2 aI3" with 17 significant
// digits.
void writePriorsTable(const std::string& path, const PriorsTable& table, const std::vector<std::string>& header);
// Description of the fit for the header: data, coefficients, concentration.
std::vector<std::string> describePriorsTable(const PriorsTable& table, const std::vector<Observation>& obs);

// Observed transition rates per range of K beside the rates the curves
// expect for the same pairs (a Markdown table).
std::string formatObservedRates(const std::vector<Observation>& obs, const GapCurves& curves);

// ---- accuracy ----

// The residue pairs (i of S, j of T, from 0) that an alignment matches.
std::vector<std::pair<int, int>> matchedResiduePairs(const std::string& fsastr);

struct AlignmentAgreement {
  long referencePairs = 0;  // match columns of the reference
  long reproduced = 0;      // of those, matched by the test alignment too
  double fraction() const { return referencePairs ? double(reproduced) / double(referencePairs) : 1.0; }
};
// Both strings must align the same two sequences.
AlignmentAgreement compareAlignments(const std::string& referenceFsastr, const std::string& testFsastr);

// Identity bins: 0-20, 20-30, 30-40, 40-60, 60-100 (lower bound inclusive).
constexpr int N_BINS = 5;
int identityBin(double percentIdentity);
std::string binLabel(int bin);

struct PairResult {
  std::string id;
  int bin = 0;
  long referencePairs = 0;
  long reproduced = 0;
  double referenceCompressionBits = 0;  // null length minus I(A,<S,T>) of the reference
  double optimalCompressionBits = 0;    // the same for the machine's optimal alignment
  int optimalK = 0;
  int referenceK = 0;
};

// Runs the machine's optimal mode on the ungapped sequences of the pair and
// scores the reference alignment, with the models of the current working
// directory's data. Standard output is silenced for the duration.
PairResult evaluatePair(const ReferencePair& pair, nullModelClass_t& nullMdl, SubmatClass_t& pam);
// Runs fn with standard output sent nowhere.
void withSilentStdout(const std::function<void()>& fn);

std::string formatPairResult(const PairResult& r);
PairResult parsePairResult(const std::string& line);

struct AccuracyRow {
  long pairs = 0;
  long referencePairs = 0;
  long reproduced = 0;
  double sumPairFraction = 0;
  double sumReferenceCompression = 0;
  double sumOptimalCompression = 0;
  // Reference residue pairs reproduced, pooled over the pairs of the row.
  double accuracy() const { return referencePairs ? double(reproduced) / double(referencePairs) : 0.0; }
  double meanPairAccuracy() const { return pairs ? sumPairFraction / double(pairs) : 0.0; }
  double meanReferenceCompression() const { return pairs ? sumReferenceCompression / double(pairs) : 0.0; }
  double meanOptimalCompression() const { return pairs ? sumOptimalCompression / double(pairs) : 0.0; }
};

struct AccuracyTable {
  std::array<AccuracyRow, N_BINS> bins;
  AccuracyRow overall;
};

AccuracyTable tabulate(const std::vector<PairResult>& results);
// A Markdown table, one row per bin and one overall.
std::string formatAccuracyTable(const AccuracyTable& t);
// Whether `candidate` is at least as accurate as `baseline` overall and in
// every bin below 40% identity.
bool atLeastAsAccurate(const AccuracyTable& candidate, const AccuracyTable& baseline);

// ---- cross-validation ----

// Folds by family: FNV-1a hash of the family name, modulo the fold count.
int foldOfFamily(const std::string& family, int nFolds);

// ---- worker processes ----

// Runs job(k) for k = 0 .. nJobs-1 in `nWorkers` forked processes, standard
// output silenced in each. job returns one line of text (no newline); the
// lines come back in job order. Jobs are handed out in the order given by
// `order` (the most expensive first balances the load best), each worker
// taking the next job as it finishes one. Throws if a worker fails.
std::vector<std::string> runInWorkers(const std::vector<size_t>& order, int nWorkers,
                                      const std::function<std::string(size_t)>& job,
                                      const std::function<void(size_t done, size_t total)>& progress = {});

}  // namespace calibration
