#include "report.h"

#include <cmath>
#include <iomanip>
#include <sstream>

#include "numbers.h"
#include "seqcorvane/io.h"
#include "terminal.h"

using seqcorvane::AlignResult;
using seqcorvane::Criterion;
using seqcorvane::nits2bits;
using seqcorvane::shell::formatFixed;
using seqcorvane::shell::formatGeneral;

namespace {

const std::string RULE = "----------------------------+=o0o=+-------------------------------\n";

// Bits per residue; an empty sequence has no residues to share the cost and
// shows 0.
double perResidue(double bits, size_t n) { return n == 0 ? 0.0 : bits / static_cast<double>(n); }

void printCompressionLine(std::ostream& out, double compressionBits) {
  out << getTerminalColorString("COMPRESSION", 46)
      << "wrt null =   " << getTerminalColorString(formatGeneral(compressionBits), compressionBits > 0 ? 42 : 41)
      << " bits\n";
}

// The block that reports the marginal message length at its parameters.
void printMarginalReport(std::ostream& out, const seqcorvane::Parameters& p, double marginalMsgLen) {
  out << "......................................" << std::endl;
  printParams(out, p, false);
  out << "Information measure:\n";
  out << "-log(" << getTerminalColorString("marginal probability", 46)
      << ") = I_marginal(<S,T>) = " << getTerminalColorString(formatFixed(nits2bits(marginalMsgLen), 3), 43) << " bits."
      << std::endl;
}

// A region as the field writes ranges: 1-based, inclusive.
std::string regionText(const seqcorvane::Region& g) {
  if (g.endS == g.beginS && g.endT == g.beginT) return "no region: the alignment pairs no residues";
  auto range = [](std::size_t begin, std::size_t end) {
    return end == begin ? std::string("none") : std::to_string(begin + 1) + "-" + std::to_string(end);
  };
  return "region S " + range(g.beginS, g.endS) + ", T " + range(g.beginT, g.endT) + " (1-based, inclusive)";
}

// A message length in bits, for the hypothesis lines.
std::string bitsText(double nits) { return formatFixed(nits2bits(nits), 3) + " bits"; }

// The verdict calibrated for composition: its two message lengths.
void printCalibrated(std::ostream& out, const seqcorvane::CalibratedVerdict& v) {
  out << "Verdict calibrated for composition at SeqDist n = " << v.K << " (both hypotheses send each sequence with\n"
      << "its own composition, its counts stated, and pair residues by a joint adjusted to the two):\n";
  out << "I_null = " << bitsText(v.nullMsgLen) << ", I_alignment = " << bitsText(v.msgLen)
      << ", compression = " << formatFixed(v.compressionBits, 3) << " bits\n";
}

void printPosteriorReport(std::ostream& out, const AlignResult& r, const seqcorvane::AlignConfig& config) {
  const seqcorvane::PosteriorDetails& p = r.posterior;
  if (p.fittedMatches)
    out << "Match emissions: residue-pair probabilities fitted to structure-based alignments, interpolated at the "
           "distance\n";
  if (!p.siteRates.empty()) {
    out << "Site rates: " << p.siteRates.size() << " equally likely categories of a gamma distribution of shape "
        << formatGeneral(config.posterior.rateShape) << ", mean rates";
    for (const double rate : p.siteRates) out << " " << formatFixed(rate, 3);
    out << "\n";
  }
  if (p.gapOpenScale != 1)
    out << "Gap opening: the priors' probability times " << formatGeneral(p.gapOpenScale) << "\n";
  if (p.endGapsAlike)
    out << "End gaps: in the posteriors a gap run that ends the alignment costs what one that opens it costs\n";
  printMarginalReport(out, r.search.parameters, r.search.msgLen);
  out << "......................................    [OK]" << std::endl;
  out << "Posterior decoding (maximum expected accuracy) at SeqDist n = " << r.parameters.K
      << (p.decodedAtOptimalK ? " (the optimal criterion's distance: the marginal one is the top of the range)" : "")
      << ":\n";
  printFSAstr2Algn(r.path, r.s.residues, r.t.residues, out, &r.columnConfidence);
  out << "Confidence: the posterior probability of each column in tenths (0 to 9), * for 0.95 and above.\n\n";
  out << "The message length of this alignment, as --ivalue scores it:\n";
  if (!std::isfinite(p.score.msgLen)) {
    out << "none: under the local hypothesis an alignment that pairs no residues has no message\n";
    return;
  }
  printParams(out, p.score.parameters, false);
  printScore(out, p.score);
  out << "\n";
  printCalibrated(out, r.calibrated);
  out << "The verdict below is this one; with the null model's frequencies the compression would be "
      << formatFixed(nits2bits(r.nullMsgLen - r.search.msgLen), 3) << " bits.\n";
}

}  // namespace

void coutHeader(std::ostream& out) {
  out << ansi("\033[0;33;1;44m") << "   Seq" << ansi("\033[0;0m") << ansi("\033[0;37;1;44m") << "Corvane (v"
      << ansi("\033[0;31;1;40m") << seqcorvane::version() << ansi("\033[0;37;1;44m") << ") " << ansi("\033[0;0m")
      << ansi("\033[0;37;1;44m") << "Minimum Message Length (MML) based aligner of protein " << ansi("\033[0;0m")
      << ansi("\033[0;33;1;44m") << "SEQUENCES   " << ansi("\033[0;0m") << "\n";
  out << ansi("\033[0;1;37;1;45m") << "    Authors:" << ansi("\033[0;1;37;1;45m") << " the SeqCorvane developers"
      << ansi("\033[0m") << "\n";
  out << ansi("\033[1;37;1;45m") << "    Reference:" << ansi("\033[0;1;37;1;45m")
      << " see README.md of the SeqCorvane distribution" << ansi("\033[0m") << "\n";
  // Left adjustment for the rest of the run; the width of 82 stays pending
  // for the next formatted item (a newline written by endl does not use it).
  out << std::left << std::setw(82) << std::endl;
}

void printNullReport(std::ostream& out, std::size_t nS, std::size_t nT, double IS, double IT) {
  const double bitsS = nits2bits(IS), bitsT = nits2bits(IT);
  out << "-------------------" << getTerminalColorString("NULL MODEL STATS (SEQUENCE)", 45) << "--------------------\n";
  out << std::fixed << std::setprecision(3);
  out << "NULL(S)          = " << std::setw(10) << bitsS << " bits "
      << "(" << std::setw(5) << perResidue(bitsS, nS) << " bits-per-aa "
      << "over " << nS << " a.a.)" << std::endl;
  out << "NULL(T)          = " << std::setw(10) << bitsT << " bits "
      << "(" << std::setw(5) << perResidue(bitsT, nT) << " bits-per-aa "
      << "over " << nT << " a.a.)" << std::endl;
  std::ostringstream pair;
  pair << std::fixed << std::setprecision(3) << bitsS + bitsT;
  out << "NULL(<S,T>)      =" << getTerminalColorString(pair.str(), 43) << "bits "
      << "(" << std::setw(5) << perResidue(bitsS + bitsT, nS + nT) << " bits-per-aa "
      << "over " << nS + nT << " a.a.)" << std::endl
      << std::endl;
  out << std::string(68, '-') << "\n" << std::endl;
}

void printParams(std::ostream& out, const seqcorvane::Parameters& p, bool optimal) {
  out << "Inferred params ";
  if (optimal)
    out << "(biased estimates for a single best alignment):\n";
  else
    out << "(unbaised estimates over all alignments):\n";
  out << "SeqDist n = " << std::setw(3) << p.K << "\n";
  out << std::fixed;
  // In the order of their keys: DD, DI, DM, ID, II, IM, MD, MI, MM.
  static const char letter[3] = {'M', 'D', 'I'};
  for (int x : {seqcorvane::stateDelete, seqcorvane::stateInsert, seqcorvane::stateMatch})
    for (int y : {seqcorvane::stateDelete, seqcorvane::stateInsert, seqcorvane::stateMatch})
      out << "Pr(" << letter[x] << letter[y] << ") = " << std::setprecision(3) << std::setw(6) << p.transitions[x][y]
          << std::endl;
  out << "\n";
}

void printCriterionHeading(std::ostream& out, Criterion c) {
  switch (c) {
    case Criterion::optimal:
      out << "-------------------" << getTerminalColorString("EVALUATING OPTIMAL ALIGNMENT", 45)
          << "------------------\n";
      break;
    case Criterion::marginal:
      out << "------------" << getTerminalColorString("EVALUATING MARGINAL PROBABILITY LANDSCAPE", 45)
          << "------------\n";
      out << "Searching for -log(marginal prob.) of sequences\n" << std::flush;
      break;
    case Criterion::posterior:
      out << "------------------" << getTerminalColorString("EVALUATING POSTERIOR ALIGNMENT", 45)
          << "-----------------\n";
      out << "Searching for -log(marginal prob.) of sequences\n" << std::flush;
      break;
  }
}

void printCalibratedReport(std::ostream& out, const AlignResult& r) {
  if (r.criterion != Criterion::posterior) printCalibrated(out, r.calibrated);
}

void printCriterionReport(std::ostream& out, const AlignResult& r, const seqcorvane::AlignConfig& config,
                          const std::string& outPrefix, bool landscapeWritten) {
  switch (r.criterion) {
    case Criterion::optimal:
      printParams(out, r.parameters, true);
      out << "Information measure:\n";
      out << "I(" << getTerminalColorString("best-A", 46)
          << ",<S,T>)  = " << getTerminalColorString(formatFixed(nits2bits(r.alignmentMsgLen), 3), 43) << " bits "
          << "\n";
      printFSAstr2Algn(r.path, r.s.residues, r.t.residues, out);
      break;
    case Criterion::marginal:
      printMarginalReport(out, r.parameters, r.search.msgLen);
      out << "......................................    [OK]" << std::endl;
      out << "Computing marginal probability landscape: " << std::flush;
      out << "[OK]\n";
      if (!landscapeWritten) {
        out << "Landscape files not written (--no-landscape)\n";
        break;
      }
      out << "Landscape csv file written to:             "
          << getTerminalColorString(outPrefix + "_MarginalProbabilityLandscape.csv", 43) << "\n";
      out << "Landscape Matlab/octave script written to: "
          << getTerminalColorString(outPrefix + "_MarginalProbabilityLandscape.m", 43) << "\n";
      break;
    case Criterion::posterior:
      printPosteriorReport(out, r, config);
      break;
  }
}

void printHypothesis(std::ostream& out, const AlignResult& r) {
  const seqcorvane::HypothesisDetails& h = r.hypothesis;
  if (h.mode == seqcorvane::Hypothesis::global) return;
  const bool alignment = r.criterion != Criterion::marginal;
  const bool summed = r.criterion != Criterion::optimal;
  out << "Hypothesis: " << seqcorvane::hypothesisName(h.mode);
  if (h.mode == seqcorvane::Hypothesis::automatic) {
    if (summed)
      out << " (global and local sent at once, each at half the prior; the local one holds "
          << formatFixed(h.localWeight, 3) << " of the pair's probability)";
    else
      out << " (the shorter sent, with 1 bit to say which: " << seqcorvane::hypothesisName(h.sent) << ")";
  }
  out << "\n";
  if (h.mode == seqcorvane::Hypothesis::automatic)
    out << (summed ? "-log(marginal prob.)" : "I(best-A,<S,T>)") << " global = " << bitsText(h.globalMsgLen)
        << ", local = " << bitsText(h.localMsgLen) << "\n";
  if (alignment) out << "Aligned " << regionText(h.region) << "\n";
}

void printScoreHypothesis(std::ostream& out, const seqcorvane::ScoreResult& s, seqcorvane::Hypothesis mode) {
  if (mode == seqcorvane::Hypothesis::global) return;
  out << "Hypothesis: " << seqcorvane::hypothesisName(mode);
  if (mode == seqcorvane::Hypothesis::automatic)
    out << " (the shorter sent, with 1 bit to say which: " << seqcorvane::hypothesisName(s.sent) << ")";
  out << "\nAligned " << regionText(s.region) << "\n";
}

void printScore(std::ostream& out, const seqcorvane::ScoreResult& s) {
  out << "I(A)         = " << std::fixed << std::setprecision(3) << std::setw(9) << nits2bits(s.pathMsgLen) << " bits"
      << "\n";
  out << "I(<S,T>|A)   = " << std::fixed << std::setprecision(3) << std::setw(9) << nits2bits(s.residuesMsgLen)
      << " bits"
      << "\n";
  out << "I(A,<S,T>)   = " << std::fixed << std::setprecision(3) << std::setw(9) << nits2bits(s.msgLen) << " bits"
      << "\n";
}

void printBlockEnd(std::ostream& out) {
  out << "-----------------------------------------------------------------\n\n";
}

void requireFinite(double value, const std::string& what) {
  if (!std::isfinite(value))
    throw seqcorvane::Error(seqcorvane::Error::Kind::input,
                            what + " is not finite (" + formatFixed(value, 3) + " nits); no verdict can be given");
}

void reportAlignment(std::ostream& out, const AlignResult& r, const std::string& outPrefix, const ReportOutputs& o) {
  const bool optimal = r.criterion == Criterion::optimal;
  const double IAlgn = optimal ? r.alignmentMsgLen : r.search.msgLen;
  requireFinite(r.nullMsgLen, "the null message length");
  requireFinite(IAlgn, optimal ? "the optimal alignment's message length" : "the marginal message length");
  const double bits = r.compressionBits;

  // The marginal criterion has no alignment: JSON states its result when asked for.
  const bool json = o.format == seqcorvane::AlignmentFormat::json;
  if (!r.path.empty() || (json && o.formatGiven)) {
    const std::string name = outPrefix + seqcorvane::alignmentFormatExtension(o.format);
    std::string label = "Alignment fasta (afasta) file written to:  ";
    if (o.format != seqcorvane::AlignmentFormat::afasta) {
      label = std::string(r.path.empty() ? "Result (" : "Alignment (") + seqcorvane::alignmentFormatName(o.format) +
              ") file written to:";
      label += std::string(label.size() < 43 ? 43 - label.size() : 1, ' ');
    }
    if (o.toStdout) {
      std::cout << seqcorvane::formatAlignment(r, o.format) << std::flush;
      out << label << getTerminalColorString("standard output", 43) << "\n";
    } else {
      seqcorvane::writeAlignmentFile(name, r, o.format);
      out << label << getTerminalColorString(name, 43) << "\n";
    }
    if (!r.path.empty() && (o.confidence || r.criterion == Criterion::posterior)) {
      const std::string name = outPrefix + ".confidence.tsv";
      seqcorvane::writeConfidenceFile(name, r.path, r.columnConfidence);
      out << "Column confidences written to:             " << getTerminalColorString(name, 43) << "\n";
    }
  }
  if (o.interactive) {
    // the dialogue was the report; no verdict
    out << RULE;
    out.flush();
    return;
  }
  out << "\n" << RULE;
  printCompressionLine(out, bits);
  if (optimal) {
    if (bits > 0) {
      out << " According to MML, this alignment hypothesis is 2^{" << bits << "} times"
          << getTerminalColorString("MORE LIKELY", 42) << " than null.\n";
    } else {
      out << "According to MML, this alignment hypothesis is worse than null, so should be"
          << getTerminalColorString("REJECTED", 41) << "\n";
      out << "Suggestion: check the marginal probability of <S,T> by running in '"
          << getTerminalColorString("--criterion marginal", 45) << "' mode.\n";
    }
  } else if (bits > 0 && bits > 6.0) {
    out << "According to MML, the hypothesis that <S,T> are related is 2^{" << bits
        << "} times MORE LIKELY than null.\n";
  } else if (bits > 0) {
    out << "According to MML, the hypothesis that <S,T> are related is very weak but positive.\n";
  } else {
    out << "According to MML, the hypothesis that <S,T> are related is worse than null, so NOT related.\n";
  }
  out << RULE;
  out.flush();
}

void printScoreVerdict(std::ostream& out, const seqcorvane::ScoreResult& s) {
  requireFinite(s.nullMsgLen, "the null message length");
  requireFinite(s.msgLen, "the alignment's message length");
  out << "\n" << RULE;
  out << "COMPRESSION wrt null =   " << nits2bits(s.nullMsgLen - s.msgLen) << " bits" << std::endl;
  out << RULE;
  out.flush();
}
