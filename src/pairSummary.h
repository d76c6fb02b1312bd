// One pair under one criterion, computed in-process without a report: the
// numbers the batch program tabulates, the same that the single-pair program
// prints for the pair.
#pragma once

#include <string>

#include "SubmatClass.h"
#include "nullModelClass.h"

struct PairSummary {
  int K = 0;               // the distance chosen
  double nullBits = 0;     // I(S) + I(T), as the null-model block adds them
  double alignmentBits = 0;  // the optimal or posterior alignment's, or the marginal, message length
  double compressionBits = 0;  // null minus the verdict's message length (marginal for posterior)
  std::string fsastr;      // the optimal or posterior alignment; empty for the marginal criterion
  double identity = 0;     // percent of the alignment's columns holding equal residues
  int gapOpenings = 0;     // runs of deletes or inserts in the alignment
};

// The message length, in nits, of one sequence under the null hypothesis,
// its length included.
double sequenceNullMsgLen(const std::string& seq, nullModelClass_t& nullMdl);

// criterion: "optimal", "marginal" or "posterior" (the posterior alignment's
// message length as --ivalue scores it, at the K of its decoding). S and T
// non-empty, standard residues only.
PairSummary summarizePair(std::string S, std::string T, nullModelClass_t& nullMdl, SubmatClass_t& pam,
                          const std::string& criterion);
