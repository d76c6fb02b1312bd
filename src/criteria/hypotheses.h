// Each criterion under the hypothesis the config names: global, local, or
// the automatic choice between them, the result filled in.
#pragma once

#include <string>

#include "machine.h"

namespace seqcorvane::detail {

// The pair and what every run over it shares.
struct PairRun {
  const std::string& S;
  const std::string& T;
  const ModelData& data;
  RunSettings run;
  double nullMsgLen;
};

// Each fills the result's alignment, parameters, search, hypothesis and
// details, and returns the message length the verdict compares with the
// null one.
double alignOptimal(const PairRun& p, const AlignConfig& config, AlignResult& r);
double alignMarginal(const PairRun& p, const AlignConfig& config, const LandscapeVisitor* landscape, AlignResult& r);
double alignPosterior(const PairRun& p, const AlignConfig& config, AlignResult& r);

// A given alignment's message length under the hypothesis (automatic: the
// shorter, ln 2 more).
ScoreResult scoreUnder(const PairRun& p, const std::string& fsastr, Hypothesis mode);

}  // namespace seqcorvane::detail
