// The driver: start-up banner, sequence input, null encoding of a pair, and
// the two modes of the program (aligning two FASTA files, scoring one given
// alignment).
//
// Standard output's formatting state is shared by the whole run and never
// restored. The banner leaves it left-adjusted with a minimum width of 82
// pending for the next formatted item; the null-model block switches it to
// fixed notation with 3 decimals, which later numbers keep.
#include "main.h"

#include <csignal>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "SubmatClass.h"
#include "check.h"
#include "cmdLineParser.h"
#include "config.h"
#include "dataFiles.h"
#include "inputFiles.h"
#include "memoryBudget.h"
#include "outputFiles.h"
#include "misc.h"
#include "threeStateDPAClass.h"

namespace {

const std::string RESIDUES = "ACDEFGHIKLMNPQRSTVWY";
const std::string RULE = "----------------------------+=o0o=+-------------------------------\n";

bool isResidue(char c) { return RESIDUES.find(c) != std::string::npos; }

// Characters the filter drops without a word: blanks, line ends and digits
// (the numbering of some sequence formats).
bool droppedQuietly(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || (c >= '0' && c <= '9'); }

// A notice on standard error when the filter dropped anything else from the
// text read from the file; the report on standard output does not change.
void noteDropped(const std::string& fileName, const std::string& raw) {
  size_t dropped = 0;
  for (char c : raw)
    if (!isResidue(c) && !droppedQuietly(c)) ++dropped;
  if (dropped == 0) return;
  std::cout.flush();
  std::cerr << "seqcorvane: notice: '" << fileName << "': dropped " << dropped << " character"
            << (dropped == 1 ? "" : "s") << " that are not upper-case residue letters (ACDEFGHIKLMNPQRSTVWY)"
            << std::endl;
}

// Ends the run rather than print a verdict on a message length that is not a number.
void requireFinite(double value, const std::string& what) {
  if (!std::isfinite(value))
    fatalError(what + " is not finite (" + formatFixed(value, 3) + " nits); no verdict can be given");
}

// The longest sequence whose length the tree code can state.
constexpr size_t MAX_SEQUENCE_LENGTH = 656043856;

// Refuses, before any work, a run whose dynamic programming cannot fit in
// the memory this process may use.
void checkMemoryFor(size_t nS, size_t nT, const std::string& criterion) {
  const double slack = 32.0 * 1024 * 1024;
  const double needed = threeStateDPAClass_t::bytesNeeded(nS, nT, criterion) + slack;
  const double available = memoryAvailable();
  if (needed > available)
    fatalError("aligning sequences of " + std::to_string(nS) + " and " + std::to_string(nT) + " residues with the " +
               criterion + " criterion needs " + gibText(needed) + " of memory; " + gibText(available) +
               " available");
}

// Bits per residue; an empty sequence has no residues to share the cost and
// shows 0.
double perResidue(double bits, size_t n) { return n == 0 ? 0.0 : bits / static_cast<double>(n); }

void printCompressionLine(double compression) {
  std::ostringstream value;  // default format: 6 significant digits
  value << nits2bits(compression);
  std::cout << getTerminalColorString("COMPRESSION", 46) << "wrt null =   "
            << getTerminalColorString(value.str(), compression > 0 ? 42 : 41) << " bits\n";
}

// <prefix>.confidence.tsv: per column of the alignment its number, the
// positions of its residues in S and T (counted from 1; - for a gap), its
// state and its posterior probability.
void writeConfidence(const std::string& outPrefix, const std::string& fsastr, const std::vector<double>& posterior) {
  SC_CHECK(posterior.size() == fsastr.size());
  std::string text = "column\tposition_s\tposition_t\tstate\tposterior\n";
  size_t i = 0, j = 0;
  for (size_t l = 0; l < fsastr.size(); ++l) {
    const char st = fsastr[l];
    i += st != 'i';
    j += st != 'd';
    text += std::to_string(l + 1) + "\t" + (st == 'i' ? "-" : std::to_string(i)) + "\t" +
            (st == 'd' ? "-" : std::to_string(j)) + "\t" + st + "\t" + formatFixed(posterior[l], 4) + "\n";
  }
  const std::string name = outPrefix + ".confidence.tsv";
  writeWholeFile(name, text);
  std::cout << "Column confidences written to:             " << getTerminalColorString(name, 43) << "\n";
}

// Part of the report after the alignment machine has run in alignment mode:
// the afasta file (criterion "optimal") and the verdict.
void reportAlignment(threeStateDPAClass_t& dpa, const std::string& S, const std::string& T, double INull,
                     const std::string& criterion, const std::string& outPrefix, bool confidence) {
  const bool optimal = criterion == "optimal";
  const bool posterior = criterion == "posterior";
  const double IAlgn = optimal ? dpa.getOptAlignMsgLen() : dpa.getMarginalProbMsgLen();
  requireFinite(INull, "the null message length");
  requireFinite(IAlgn, optimal ? "the optimal alignment's message length" : "the marginal message length");
  const double compression = INull - IAlgn;
  const double bits = nits2bits(compression);

  if (optimal) {
    const std::string fsastr = dpa.getOptAlignFSAstr();
    const std::vector<std::string> algn = fsastr2Algn(fsastr, S, T);
    SC_CHECK(algn.size() == 2);
    SC_CHECK(algn[0].length() == fsastr.length());
    SC_CHECK(algn[1].length() == fsastr.length());
    const std::string afastaName = outPrefix + ".afasta";
    writeAfastaFile(afastaName, algn);
    std::cout << "Alignment fasta (afasta) file written to:  " << getTerminalColorString(afastaName, 43) << "\n";
    if (confidence) writeConfidence(outPrefix, fsastr, dpa.columnConfidence(fsastr));

    std::cout << "\n" << RULE;
    printCompressionLine(compression);
    if (compression > 0) {
      std::cout << " According to MML, this alignment hypothesis is 2^{" << bits << "} times"
                << getTerminalColorString("MORE LIKELY", 42) << " than null.\n";
    } else {
      std::cout << "According to MML, this alignment hypothesis is worse than null, so should be"
                << getTerminalColorString("REJECTED", 41) << "\n";
      std::cout << "Suggestion: check the marginal probability of <S,T> by running in '"
                << getTerminalColorString("--criterion marginal", 45) << "' mode.\n";
    }
    std::cout << RULE;
  } else if (criterion == "marginal" || posterior) {
    if (posterior) {
      const std::string fsastr = dpa.getPosteriorFSAstr();
      const std::string afastaName = outPrefix + ".afasta";
      writeAfastaFile(afastaName, fsastr2Algn(fsastr, S, T));
      std::cout << "Alignment fasta (afasta) file written to:  " << getTerminalColorString(afastaName, 43) << "\n";
      writeConfidence(outPrefix, fsastr, dpa.getPosteriorConfidence());
    }
    std::cout << "\n" << RULE;
    printCompressionLine(compression);
    if (compression > 0 && bits > 6.0)
      std::cout << "According to MML, the hypothesis that <S,T> are related is 2^{" << bits
                << "} times MORE LIKELY than null.\n";
    else if (compression > 0)
      std::cout << "According to MML, the hypothesis that <S,T> are related is very weak but positive.\n";
    else
      std::cout << "According to MML, the hypothesis that <S,T> are related is worse than null, so NOT related.\n";
    std::cout << RULE;
  } else {
    // marginal-interactive: the dialogue was the report; no verdict
    std::cout << RULE;
  }
  std::cout.flush();
}

// Scoring mode: the message length of the alignment held in algnfn.
void scoreAlignment(const std::string& algnfn, nullModelClass_t& nullMdl, SubmatClass_t& pam) {
  // The first formatted item after the banner: it takes the pending width 82.
  std::cout << "\n-------------IVALUE STATISTICS OF A GIVEN ALIGNMENT---------------\n";

  const std::vector<std::string> algn = readAlignmentFile(algnfn);
  std::string fsastr = algn2Fsastr(algn);
  std::string S = removeNonStandardAA(algn[0]);
  std::string T = removeNonStandardAA(algn[1]);

  printSeq2Term(algn[0], "Alignment String of S");
  printSeq2Term(algn[1], "Alignment String of T");

  const double INull = computeINullST(S, T, nullMdl);
  threeStateDPAClass_t dpa(S, T, fsastr, nullMdl, pam);
  requireFinite(INull, "the null message length");
  requireFinite(dpa.getOptAlignMsgLen(), "the alignment's message length");
  const double compression = INull - dpa.getOptAlignMsgLen();

  std::cout << "\n" << RULE;
  std::cout << "COMPRESSION wrt null =   " << nits2bits(compression) << " bits" << std::endl;
  std::cout << RULE;
  std::cout.flush();
}

}  // namespace

// ---- FASTA input and residue filtering ----

std::vector<std::string> readAlignmentFile(const std::string& algnfn) {
  const std::vector<std::string> records = readFastaFile(algnfn.c_str());
  if (records.size() != 2)
    fatalError("alignment file '" + algnfn + "' holds " + std::to_string(records.size()) +
               (records.size() == 1 ? " record" : " records") + "; expected two");
  if (records[0].size() != records[1].size())
    fatalError("alignment file '" + algnfn + "': its two records differ in length (" +
               std::to_string(records[0].size()) + " and " + std::to_string(records[1].size()) +
               " characters)");
  const std::vector<std::string> algn = removeNonStandardAAColumnsInAlgn(records);
  size_t dropped = 0;
  for (size_t k = 0; k < records[0].size(); ++k) {
    const char a = records[0][k], b = records[1][k];
    if ((a != '-' && !isResidue(a)) || (b != '-' && !isResidue(b))) ++dropped;
  }
  if (dropped != 0) {
    std::cout.flush();
    std::cerr << "seqcorvane: notice: '" << algnfn << "': dropped " << dropped << " column"
              << (dropped == 1 ? "" : "s")
              << " holding characters that are not upper-case residue letters (ACDEFGHIKLMNPQRSTVWY) or gaps"
              << std::endl;
  }
  for (int r = 0; r < 2; ++r)
    if (removeNonStandardAA(algn[r]).empty())
      fatalError("alignment file '" + algnfn + "': no standard residues left in its " + (r == 0 ? "first" : "second") +
                 " row");
  return algn;
}

std::vector<std::string> readFastaFile(const char* fileName) {
  std::vector<std::string> records;
  std::string current;
  int nHeaders = 0;
  for (const std::string& line : readTextLines(fileName)) {
    if (!line.empty() && line[0] == '>') {
      if (nHeaders > 0) records.push_back(current);
      ++nHeaders;
      current.clear();
    } else {
      current += line;
    }
  }
  records.push_back(current);
  return records;
}

std::vector<std::string> getAASeqs(std::vector<std::string> fileNames) {
  SC_CHECK(fileNames.size() == 2);
  std::vector<std::string> seqs;
  for (const std::string& name : fileNames) {
    std::vector<std::string> records = readFastaFile(name.c_str());
    if (records.size() != 1)
      fatalError("sequence file '" + name + "' holds " + std::to_string(records.size()) +
                 " records; expected exactly one");
    seqs.push_back(records[0]);
  }
  return seqs;
}

std::string removeNonStandardAA(std::string seq) {
  std::string kept;
  kept.reserve(seq.size());
  for (char c : seq)
    if (isResidue(c)) kept.push_back(c);
  return kept;
}

std::vector<std::string> removeNonStandardAAColumnsInAlgn(std::vector<std::string> algn) {
  SC_CHECK(algn.size() >= 2);
  SC_CHECK(algn[1].size() >= algn[0].size());
  std::vector<std::string> rows(2);
  for (size_t i = 0; i < algn[0].size(); ++i) {
    const char c0 = algn[0][i], c1 = algn[1][i];
    bool usable = true;
    for (char c : {c0, c1}) {
      if (c != '-' && !isResidue(c)) {
        std::cout << c0 << c1 << std::endl;
        usable = false;
      }
    }
    if (!usable || (c0 == '-' && c1 == '-')) continue;
    rows[0].push_back(c0);
    rows[1].push_back(c1);
  }
  return rows;
}

// ---- null encoding ----

double getNullEncodingLength(std::string seq, nullModelClass_t& nullMdl) {
  const uint64_t k = nullMdl.getOrder();
  const double A = static_cast<double>(nullMdl.getAlphabetSize());
  const size_t n = seq.size();
  double len = 0;
  // The first k residues have no full context: 1/A each, whatever n is.
  for (uint64_t p = 0; p < k; ++p) len += -std::log(1.0 / A);
  for (size_t p = k; p < n; ++p) len += -std::log(nullMdl.pr(seq.substr(p - k, k + 1)));
  return len;
}

double computeINullST(std::string& S, std::string& T, nullModelClass_t& nullMdl) {
  const double IS = wtCodeLen_nits(static_cast<int>(S.size())) + getNullEncodingLength(S, nullMdl);
  const double IT = wtCodeLen_nits(static_cast<int>(T.size())) + getNullEncodingLength(T, nullMdl);
  const double bitsS = nits2bits(IS), bitsT = nits2bits(IT);
  const size_t nS = S.size(), nT = T.size();

  std::cout << "-------------------" << getTerminalColorString("NULL MODEL STATS (SEQUENCE)", 45)
            << "--------------------\n";
  std::cout << std::fixed << std::setprecision(3);
  std::cout << "NULL(S)          = " << std::setw(10) << bitsS << " bits " << "(" << std::setw(5)
            << perResidue(bitsS, nS) << " bits-per-aa " << "over " << nS << " a.a.)" << std::endl;
  std::cout << "NULL(T)          = " << std::setw(10) << bitsT << " bits " << "(" << std::setw(5)
            << perResidue(bitsT, nT) << " bits-per-aa " << "over " << nT << " a.a.)" << std::endl;

  std::ostringstream pair;
  pair << std::fixed << std::setprecision(3) << bitsS + bitsT;
  std::cout << "NULL(<S,T>)      =" << getTerminalColorString(pair.str(), 43) << "bits " << "(" << std::setw(5)
            << perResidue(bitsS + bitsT, nS + nT) << " bits-per-aa " << "over " << nS + nT << " a.a.)" << std::endl
            << std::endl;
  std::cout << std::string(68, '-') << "\n" << std::endl;
  return IS + IT;
}

// ---- driver ----

void coutHeader() {
  std::cout << ansi("\033[0;33;1;44m") << "   Seq" << ansi("\033[0;0m") << ansi("\033[0;37;1;44m") << "Corvane (v"
            << ansi("\033[0;31;1;40m") << SEQCORVANE_VERSION << ansi("\033[0;37;1;44m") << ") " << ansi("\033[0;0m")
            << ansi("\033[0;37;1;44m") << "Minimum Message Length (MML) based aligner of protein " << ansi("\033[0;0m")
            << ansi("\033[0;33;1;44m") << "SEQUENCES   " << ansi("\033[0;0m") << "\n";
  std::cout << ansi("\033[0;1;37;1;45m") << "    Authors:" << ansi("\033[0;1;37;1;45m") << " the SeqCorvane developers"
            << ansi("\033[0m") << "\n";
  std::cout << ansi("\033[1;37;1;45m") << "    Reference:" << ansi("\033[0;1;37;1;45m")
            << " see README.md of the SeqCorvane distribution" << ansi("\033[0m") << "\n";
  // Left adjustment for the rest of the run; the width of 82 stays pending
  // for the next formatted item (a newline written by endl does not use it).
  std::cout << std::left << std::setw(82) << std::endl;
}

namespace {

const char* HELP_TEXT =
    "seqcorvane " SEQCORVANE_VERSION
    ": aligns two protein sequences, or scores a given pairwise alignment, in the\n"
    "Minimum Message Length (MML) framework, and says by how many bits the pair is more\n"
    "likely related than not.\n"
    "\n"
    "Usage:\n"
    "  seqcorvane <seq1 fasta> <seq2 fasta> [--criterion C] [-o <output_prefix>] [--data <dir>]\n"
    "  seqcorvane --ivalue <alignment fasta> [--data <dir>]\n"
    "  seqcorvane --help | --version\n"
    "\n"
    "The two sequence files come first, one FASTA record each (plain or gzip-compressed).\n"
    "\n"
    "Options:\n"
    "  --criterion C  optimal (default): the optimal alignment, written to <prefix>.afasta\n"
    "                 marginal: the message length over all alignments, and the landscape\n"
    "                   of every cell in <prefix>_MarginalProbabilityLandscape.csv and .m\n"
    "                 marginal-interactive: as marginal, then pick cells on standard input\n"
    "                   and see or save the best alignment through each\n"
    "                 posterior: the alignment of maximum expected accuracy from the\n"
    "                   posterior probabilities of a model whose sites change at different\n"
    "                   rates, at its marginal distance, with a confidence for every\n"
    "                   column (<prefix>.afasta, <prefix>.confidence.tsv)\n"
    "  --confidence   with optimal: the posterior of every column of the optimal alignment\n"
    "                 too, in <prefix>.confidence.tsv\n"
    "  -o <prefix>    prefix of the output files (default: output)\n"
    "  --ivalue <afasta>  score the given alignment (two records of equal length)\n"
    "  --data <dir>   the directory of the five model files (default: ./data, else the\n"
    "                 data installed with the program)\n"
    "  --help         this text;  --version  the version\n"
    "\n"
    "Environment:\n"
    "  SEQCORVANE_THREADS  threads for one alignment (default 2, at most the cores)\n"
    "  SEQCORVANE_SIMD     widest instruction set to use: scalar, sse2, avx2, avx512\n"
    "  NO_COLOR            when set and not empty, no colour codes are written\n"
    "\n"
    "Exit status: 0 done, 1 a usage or input error (one line on standard error), 2 an\n"
    "internal error.\n";

int run(int argc, char* argv[]) {
  // A file size limit makes a write fail (and say so) rather than end the process.
  ::signal(SIGXFSZ, SIG_IGN);
  // --help and --version stand alone: no banner.
  for (int a = 1; a < argc; ++a)
    if (std::string(argv[a]) == "--help") {
      std::cout << HELP_TEXT;
      return 0;
    }
  for (int a = 1; a < argc; ++a)
    if (std::string(argv[a]) == "--version") {
      std::cout << "seqcorvane " << SEQCORVANE_VERSION << "\n";
      return 0;
    }
  coutHeader();

  std::vector<std::string> seqfn;
  bool ivalueFlag = false;
  std::string algnfn;
  std::string outPrefix;
  const std::string nullMdlOrder = "0";
  std::string criterion = "optimal";

  CmdLineExtras extras;
  parseCmdLine(argc, argv, seqfn, ivalueFlag, algnfn, outPrefix, criterion, &extras);
  if (!extras.dataDir.empty()) setModelDirectory(extras.dataDir);

  SubmatClass_t pam(250);
  nullModelClass_t nullMdl(nullMdlOrder);
  if (!nullMdl.isCompatible(pam.getAlphabet()))
    fatalError("the null model's alphabet '" + nullMdl.getAlphabet() +
               "' does not hold every letter of the substitution model's alphabet '" + pam.getAlphabet() + "'");
  // The alignment machine costs residues and pairs with single-residue
  // contexts; a table of longer contexts cannot be used.
  if (nullMdl.getOrder() != 0)
    fatalError("the null model table holds contexts of " + std::to_string(nullMdl.getOrder() + 1) +
               " residues (order " + std::to_string(nullMdl.getOrder()) + "); only order 0 is supported");

  if (ivalueFlag) {
    scoreAlignment(algnfn, nullMdl, pam);
    return 0;
  }

  const std::vector<std::string> seqs = getAASeqs(seqfn);
  std::string S = removeNonStandardAA(seqs[0]);
  std::string T = removeNonStandardAA(seqs[1]);
  for (size_t k = 0; k < 2; ++k) {
    const std::string& seq = k == 0 ? S : T;
    if (seq.empty())
      fatalError("sequence file '" + seqfn[k] +
                 "' holds no standard residues (upper-case ACDEFGHIKLMNPQRSTVWY) to align");
    if (seq.size() > MAX_SEQUENCE_LENGTH)
      fatalError("sequence file '" + seqfn[k] + "' holds " + std::to_string(seq.size()) +
                 " residues; at most " + std::to_string(MAX_SEQUENCE_LENGTH) + " can be aligned");
  }
  noteDropped(seqfn[0], seqs[0]);
  noteDropped(seqfn[1], seqs[1]);
  checkMemoryFor(S.size(), T.size(), criterion);
  checkOutputDirectory(outPrefix);

  // Width 1 uses up the width left pending by the banner without padding.
  std::cout << std::setw(1) << ".................................................Running in"
            << getTerminalColorString(criterion, 42) << "mode" << std::endl;
  printSeq2Term(S, "Seq S");
  printSeq2Term(T, "Seq T");

  const double INull = computeINullST(S, T, nullMdl);
  {
    threeStateDPAClass_t dpa(S, T, nullMdl, pam, criterion, outPrefix);
    reportAlignment(dpa, S, T, INull, criterion, outPrefix, extras.confidence);
  }
  return 0;
}

}  // namespace

int seqcorvaneMain(int argc, char* argv[]) {
  // Nothing thrown reaches the user as a signal: one line and exit status 1.
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    fatalError("out of memory: a memory allocation failed");
  } catch (const std::exception& e) {
    fatalError(std::string("unexpected failure: ") + e.what());
  } catch (...) {
    fatalError("unexpected failure");
  }
}
