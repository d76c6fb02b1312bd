// The single program's report on standard output, written from the
// library's results, and the output files of a run.
//
// Standard output's formatting state is shared by the whole report and never
// restored: the banner leaves it left-adjusted with a minimum width of 82
// pending for the next formatted item; the null-model block switches it to
// fixed notation with 3 decimals, which later numbers keep.
#pragma once

#include <ostream>
#include <string>

#include "seqcorvane/io.h"
#include "seqcorvane/seqcorvane.h"

// The start-up banner.
void coutHeader(std::ostream& out);
// The null-model block of the pair (I(S) and I(T) in nits).
void printNullReport(std::ostream& out, std::size_t nS, std::size_t nT, double IS, double IT);
// "Inferred params ..." (the optimal criterion's are "biased", the others' "unbaised").
void printParams(std::ostream& out, const seqcorvane::Parameters& p, bool optimal);
// The heading of a criterion's block, and the line that opens a distance search.
void printCriterionHeading(std::ostream& out, seqcorvane::Criterion c);
// The block of the criterion's results, from the search to the alignment;
// the landscape files' names for the marginal criteria (written by then,
// unless landscapeWritten is false).
void printCriterionReport(std::ostream& out, const seqcorvane::AlignResult& r, const seqcorvane::AlignConfig& config,
                          const std::string& outPrefix, bool landscapeWritten = true);
// Under the local or the automatic hypothesis, the lines that name it and
// the region aligned (nothing under the global one).
void printHypothesis(std::ostream& out, const seqcorvane::AlignResult& r);
// The verdict calibrated for composition (--calibrated; the posterior
// criterion's report always has it, as its verdict).
void printCalibratedReport(std::ostream& out, const seqcorvane::AlignResult& r);
void printScoreHypothesis(std::ostream& out, const seqcorvane::ScoreResult& s, seqcorvane::Hypothesis mode);
// I(A), I(<S,T>|A) and I(A,<S,T>) of a scored alignment, after its parameters.
void printScore(std::ostream& out, const seqcorvane::ScoreResult& s);
// The rule that closes a criterion's block.
void printBlockEnd(std::ostream& out);
// Where the results go beside the report.
struct ReportOutputs {
  seqcorvane::AlignmentFormat format = seqcorvane::AlignmentFormat::afasta;
  bool formatGiven = false;  // --format named the format: JSON is written for the marginal criterion too
  bool confidence = false;   // the confidence file of the optimal criterion
  bool interactive = false;  // the dialogue was the report: no verdict
  bool toStdout = false;     // the alignment file's text to standard output instead of <prefix><extension>
};
// The output files of the criterion (the alignment in its format, the
// confidences) and the verdict (none after the dialogue of the interactive
// criterion).
void reportAlignment(std::ostream& out, const seqcorvane::AlignResult& r, const std::string& outPrefix,
                     const ReportOutputs& outputs);
// The scoring mode's closing lines.
void printScoreVerdict(std::ostream& out, const seqcorvane::ScoreResult& s);
// Refuses a verdict on a message length that is not a number.
void requireFinite(double value, const std::string& what);
