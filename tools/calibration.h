// Calibration against reference pairwise alignments: reading them, how
// closely an alignment reproduces one, the distance and the transitions
// along each reference path, and gap curves fitted to them by maximum
// likelihood with the priors table they give. Built on the program's own
// library: its models, its alignments, its state strings and its failures
// (seqcorvane::Error).
#pragma once

#include <array>
#include <string>
#include <vector>

#include "seqcorvane/seqcorvane.h"

namespace calibration {

// ---- reference alignments ----

struct ReferencePair {
  std::string id, dataset, family;
  double percentIdentity = 0;
  std::string rowS, rowT;  // gapped rows, '-' for a gap
};

// The TSV of reference pairs: a header naming pair_id, dataset, family,
// percent_identity, row_s and row_t, then one pair a line.
std::vector<ReferencePair> readReferencePairs(const std::string& path);

// Folds by family: FNV-1a (64 bits) of the family name, modulo the number of folds.
int foldOfFamily(const std::string& family, int nFolds);

// Identity bins: 0-20, 20-30, 30-40, 40-60, 60-100 (lower bound inclusive).
constexpr int N_BINS = 5;
int identityBin(double percentIdentity);
const char* binLabel(int bin);

// ---- how closely an alignment reproduces the reference ----

struct Agreement {
  long referencePairs = 0;  // match columns of the reference
  long reproduced = 0;      // of those, matched by the test alignment too
  long testPairs = 0;       // match columns of the test alignment
  long gapOpenings = 0;     // of the test alignment: runs of deletes or inserts
  long referenceGapOpenings = 0;
};
// Both state strings must align the same two sequences.
Agreement compareAlignments(const std::string& referenceFsastr, const std::string& testFsastr);

// ---- the reference paths ----

// Transitions between consecutive columns (the first column has none), with
// delete and insert pooled as the machine pools them.
struct TransitionCounts {
  double matchToMatch = 0, matchToGap = 0, gapStay = 0, gapToMatch = 0, gapSwitch = 0;
  double fromMatch() const { return matchToMatch + matchToGap; }
  double fromGap() const { return gapStay + gapToMatch + gapSwitch; }
};
TransitionCounts countTransitions(const std::string& fsastr);

// The distance K in 1..1000 at which the match columns of the pair cost
// least under the machine's match probability (the smallest K on ties).
int matchDistance(const ReferencePair& pair, const seqcorvane::Models& models);

// ---- gap curves and the priors table ----

// Multinomial logistic regression on a polynomial of degree d in x = ln K:
// Pr(outcome j | K) = exp(eta_j) / sum_k exp(eta_k), eta_0 = 0, eta_j a
// polynomial in ln K. Newton's method; half a pseudo-count of every outcome at
// the count-weighted mean of ln K keeps every estimate finite.
struct LogisticFit {
  std::vector<std::vector<double>> coef;  // [j - 1][power of ln K]
  std::vector<double> probabilities(double K) const;
  std::string formula(int j) const;
};
struct CountsAtDistance {
  double K;
  std::vector<double> counts;
};
LogisticFit fitLogisticInLogK(const std::vector<CountsAtDistance>& data, int nOutcomes, int degree);

struct Observation {
  int K = 1;
  TransitionCounts counts;
};

// Writes the priors table whose modes are the fitted curves: p_open from
// match, and back to match / stay / switch from a gap state; each prior's
// concentration is the count of transitions out of its state observed near K
// (Gaussian kernel of width 0.25 in ln K) plus 2. header lines go after "# ".
void writeFittedPriors(const std::string& path, const std::vector<Observation>& obs, int degree,
                       const std::vector<std::string>& header);

}  // namespace calibration
