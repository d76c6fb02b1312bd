// The driver of the single program: start-up banner, sequence input, the
// null-model block, and the two modes (aligning two FASTA files, scoring one
// given alignment), reported from the library's results.
#include "main.h"

#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>

#include "cmdLineParser.h"
#include "dialogue.h"
#include "environment.h"
#include "numbers.h"
#include "program.h"
#include "report.h"
#include "seqcorvane/io.h"
#include "terminal.h"

using seqcorvane::Criterion;

namespace {

// Where the report goes: standard output, unless the alignment goes there
// (--stdout: the report to standard error) or the report is silenced
// (--quiet).
// A stream of its own over standard error's buffer: the report's formatting
// state (the banner's pending width, the fixed notation) never reaches the
// errors and notices written to std::cerr, and their order is kept.
std::ostream nowhere(nullptr);
std::ostream reportToStandardError(std::cerr.rdbuf());
std::ostream* reportStream = &std::cout;
std::ostream& report() { return *reportStream; }

// A notice on standard error, after the report printed so far.
void notice(const std::string& text) {
  std::cout.flush();
  report().flush();
  std::cerr << "seqcorvane: notice: " << text << std::endl;
}

// A notice on standard error when the filter dropped anything but residues,
// blanks, line ends and digits from the text read from the file; the report
// on standard output does not change.
void noteDropped(const std::string& fileName, const std::string& raw) {
  const size_t dropped = seqcorvane::droppedCharacters(raw);
  if (dropped == 0) return;
  std::cout.flush();
  std::cerr << "seqcorvane: notice: '" << fileName << "': dropped " << dropped << " character"
            << (dropped == 1 ? "" : "s") << " that are not upper-case residue letters (ACDEFGHIKLMNPQRSTVWY)"
            << std::endl;
}

// One record from each of the two files (exactly one each); a notice for
// text before the first header, which belongs to no record.
std::vector<seqcorvane::Record> getAASeqs(const std::vector<std::string>& fileNames) {
  std::vector<seqcorvane::Record> seqs;
  for (const std::string& name : fileNames) {
    std::size_t leading = 0;
    std::vector<seqcorvane::Record> records = seqcorvane::readFasta(name, &leading);
    if (leading != 0)
      std::cerr << "seqcorvane: notice: '" << name << "': dropped " << leading
                << " characters before the first header ('>'), which belong to no record" << std::endl;
    if (records.empty())
      throw seqcorvane::Error(seqcorvane::Error::Kind::input,
                              "sequence file '" + name + "' is empty: it holds no FASTA record");
    if (records.size() != 1)
      throw seqcorvane::Error(
          seqcorvane::Error::Kind::input,
          "sequence file '" + name + "' holds " + std::to_string(records.size()) + " records; expected exactly one");
    seqs.push_back(records[0]);
  }
  return seqs;
}

// Refuses, before any work, an output file that is one of the input files:
// writing it would destroy the input.
void checkOutputsAreNotInputs(const std::vector<std::string>& outputs, const std::vector<std::string>& inputs) {
  for (const std::string& out : outputs) {
    const std::string in = seqcorvane::sameFileAmong(out, inputs);
    if (!in.empty())
      throw seqcorvane::Error(seqcorvane::Error::Kind::output, "the output file '" + out + "' is the input file '" +
                                                                   in + "': choose another prefix with -o");
  }
}

// Refuses, before any work, a run whose dynamic programming cannot fit in
// the memory this process may use; the interactive criterion keeps the
// landscape and the paths through every cell.
void checkMemoryFor(size_t nS, size_t nT, const seqcorvane::AlignConfig& config, bool interactive) {
  const double cells = static_cast<double>(nS + 1) * static_cast<double>(nT + 1);
  const double needed = interactive ? seqcorvane::CellPaths::memoryNeeded(nS, nT) + sizeof(double) * cells
                                    : seqcorvane::memoryNeeded(nS, nT, config);
  seqcorvane::shell::requireMemory(
      needed, seqcorvane::shell::memoryAvailable(),
      "aligning sequences of " + std::to_string(nS) + " and " + std::to_string(nT) + " residues with the " +
          (interactive ? "marginal-interactive" : seqcorvane::criterionName(config.criterion)) + " criterion");
}

// The null-model block of the pair; returns I(S) and I(T).
std::pair<double, double> computeINullST(const std::string& S, const std::string& T, const seqcorvane::Models& models) {
  const double IS = seqcorvane::nullMsgLen(S, models), IT = seqcorvane::nullMsgLen(T, models);
  printNullReport(report(), S.size(), T.size(), IS, IT);
  return {IS, IT};
}

// Scoring mode: the message length of the alignment held in algnfn.
void scoreAlignmentFile(const std::string& algnfn, const seqcorvane::Models& models, seqcorvane::Hypothesis mode) {
  // The first formatted item after the banner: it takes the pending width 82.
  report() << "\n-------------IVALUE STATISTICS OF A GIVEN ALIGNMENT---------------\n";
  const seqcorvane::AlignmentFile a = seqcorvane::readAlignmentFile(algnfn);
  for (const std::string& pair : a.droppedPairs) report() << pair << std::endl;
  if (a.droppedColumns != 0) {
    std::cout.flush();
    std::cerr << "seqcorvane: notice: '" << algnfn << "': dropped " << a.droppedColumns << " column"
              << (a.droppedColumns == 1 ? "" : "s")
              << " holding characters that are not upper-case residue letters (ACDEFGHIKLMNPQRSTVWY) or gaps"
              << std::endl;
  }
  printSeq2Term(a.rows[0], "Alignment String of S", report());
  printSeq2Term(a.rows[1], "Alignment String of T", report());
  computeINullST(seqcorvane::standardResidues(a.rows[0]), seqcorvane::standardResidues(a.rows[1]), models);
  const seqcorvane::ScoreResult s = seqcorvane::scoreAlignment(a.rows[0], a.rows[1], models, mode);
  printScoreHypothesis(report(), s, mode);
  printParams(report(), s.parameters, false);
  printScore(report(), s);
  printScoreVerdict(report(), s);
}

// The two sequences, one record from each file, filtered to the residues
// (with a notice of what was dropped); a file without residues is an error.
void readPair(const std::vector<std::string>& seqfn, seqcorvane::Sequence& s, seqcorvane::Sequence& t) {
  const std::vector<seqcorvane::Record> records = getAASeqs(seqfn);
  s = {records[0].name, seqcorvane::standardResidues(records[0].text)};
  t = {records[1].name, seqcorvane::standardResidues(records[1].text)};
  for (size_t k = 0; k < 2; ++k) {
    const std::string& seq = k == 0 ? s.residues : t.residues;
    if (seq.empty())
      throw seqcorvane::Error(
          seqcorvane::Error::Kind::input,
          "sequence file '" + seqfn[k] + "' holds no standard residues (upper-case ACDEFGHIKLMNPQRSTVWY) to align");
  }
  noteDropped(seqfn[0], records[0].text);
  noteDropped(seqfn[1], records[1].text);
}

// Before any work: the output directory can be written, no output is an
// input, and notices for the options that have no effect.
void checkOutputs(const std::vector<std::string>& seqfn, const std::string& outPrefix, const CmdLineExtras& extras,
                  Criterion criterion, const std::string& criterionText) {
  seqcorvane::checkOutputDirectory(outPrefix);
  const seqcorvane::AlignmentFormat format = extras.format;
  std::vector<std::string> files{outPrefix + ".confidence.tsv"};
  if (!extras.toStdout) files.push_back(outPrefix + seqcorvane::alignmentFormatExtension(format));
  if (!extras.noLandscape)
    for (const char* f : {"_MarginalProbabilityLandscape.csv", "_MarginalProbabilityLandscape.m"})
      files.push_back(outPrefix + f);
  checkOutputsAreNotInputs(files, seqfn);
  if (criterion == Criterion::marginal && extras.formatGiven && format != seqcorvane::AlignmentFormat::json)
    notice(std::string("--format ") + seqcorvane::alignmentFormatName(format) + " has no effect with the " +
           criterionText +
           " criterion, which gives no alignment: no alignment file is written (json states the result)");
  if (criterion == Criterion::marginal && extras.toStdout && !extras.formatGiven)
    notice("--stdout with the " + criterionText +
           " criterion, which gives no alignment, writes nothing to standard output without --format json");
  if (extras.noLandscape && criterion != Criterion::marginal)
    notice("--no-landscape has no effect with the " + criterionText + " criterion, which writes no landscape");
  if (extras.calibrated && criterion == Criterion::posterior)
    notice("--calibrated has no effect with the posterior criterion, whose verdict is the calibrated one");
}

// A notice where the verdict calibrated for composition says otherwise than
// the one printed: composition alone earned (or cost) the difference.
void noteCalibratedVerdict(const seqcorvane::AlignResult& r) {
  if (r.criterion == Criterion::posterior || r.related() == r.calibrated.related()) return;
  notice(std::string("calibrated for composition, the verdict is ") +
         (r.calibrated.related() ? "related" : "not related") + ": " +
         seqcorvane::shell::formatFixed(r.calibrated.compressionBits, 3) + " bits against " +
         seqcorvane::shell::formatFixed(r.compressionBits, 3) +
         " bits with the null model's frequencies (see --calibrated)");
}

// Alignment mode: the criterion's run on the two sequence files.
void alignFiles(const std::vector<std::string>& seqfn, const std::string& criterionText, const std::string& outPrefix,
                const CmdLineExtras& extras, const seqcorvane::Models& models, seqcorvane::AlignConfig config) {
  // The interactive criterion is the marginal one followed by the dialogue.
  const bool interactive = criterionText == "marginal-interactive";
  Criterion criterion = Criterion::marginal;
  if (!interactive) seqcorvane::parseCriterion(criterionText, criterion);
  config.criterion = criterion;
  config.mode = extras.mode;
  seqcorvane::Sequence s, t;
  readPair(seqfn, s, t);
  checkMemoryFor(s.residues.size(), t.residues.size(), config, interactive);
  checkOutputs(seqfn, outPrefix, extras, criterion, criterionText);

  // Width 1 uses up the width left pending by the banner without padding.
  report() << std::setw(1) << ".................................................Running in"
           << getTerminalColorString(criterionText, 42) << "mode" << std::endl;
  const seqcorvane::AlignmentFormat format = extras.format;
  printSeq2Term(s.residues, "Seq S", report());
  printSeq2Term(t.residues, "Seq T", report());
  computeINullST(s.residues, t.residues, models);

  config.columnConfidence = extras.confidence;
  if (extras.confidence && criterion == Criterion::marginal)
    notice("--confidence has no effect with the " + criterionText +
           " criterion, which gives no alignment: no confidence file is written");
  printCriterionHeading(report(), criterion);
  seqcorvane::AlignResult r;
  const bool writeLandscape = criterion == Criterion::marginal && !extras.noLandscape;
  if (writeLandscape || interactive) {
    // The landscape files are written row by row as the rows are computed;
    // the dialogue keeps the landscape too.
    std::unique_ptr<seqcorvane::LandscapeFiles> files;
    if (writeLandscape)
      files = std::make_unique<seqcorvane::LandscapeFiles>(outPrefix, s.residues.size(), t.residues.size());
    std::vector<double> landscape;
    if (interactive) landscape.reserve((s.residues.size() + 1) * (t.residues.size() + 1));
    r = seqcorvane::align(s, t, models, config, [&](const seqcorvane::LandscapeRow& row) {
      if (files) files->row(row);
      if (interactive) landscape.insert(landscape.end(), row.values, row.values + row.size);
    });
    if (files) files->commit();
    printCriterionReport(report(), r, config, outPrefix, writeLandscape);
    printHypothesis(report(), r);
    if (extras.calibrated) printCalibratedReport(report(), r);
    // The dialogue asks on the report's stream; when the report is silenced, on standard error.
    if (interactive) {
      std::ostream& asking = extras.quiet ? reportToStandardError : report();
      if (extras.quiet) asking << std::fixed << std::setprecision(3);
      interactiveMode(asking, std::cin, r, models, landscape, outPrefix, config);
    }
  } else {
    r = seqcorvane::align(s, t, models, config);
    printCriterionReport(report(), r, config, outPrefix, false);
    printHypothesis(report(), r);
    if (extras.calibrated) printCalibratedReport(report(), r);
  }
  printBlockEnd(report());
  ReportOutputs outputs;
  outputs.format = format;
  outputs.formatGiven = extras.formatGiven;
  outputs.confidence = extras.confidence;
  outputs.interactive = interactive;
  outputs.toStdout = extras.toStdout;
  reportAlignment(report(), r, outPrefix, outputs);
  if (!interactive) noteCalibratedVerdict(r);
}

const char* HELP_TEXT =
    ": aligns two protein sequences, or scores a given pairwise alignment, in the\n"
    "Minimum Message Length (MML) framework, and says by how many bits the pair is more\n"
    "likely related than not.\n"
    "\n"
    "Usage:\n"
    "  seqcorvane <seq1 fasta> <seq2 fasta> [--criterion C] [-o <output_prefix>] [--format F]\n"
    "             [--mode M] [--confidence] [--calibrated] [--stdout] [--quiet] [--no-landscape]\n"
    "             [--data <dir>]\n"
    "  seqcorvane --ivalue <alignment fasta> [--mode M] [--data <dir>]\n"
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
    "  --mode M       the hypothesis beside the null one: global (default), the two\n"
    "                 sequences aligned end to end; local, a region of each aligned and\n"
    "                 the residues outside it (its flanks) sent as unrelated; auto, the\n"
    "                 better of the two (optimal, --ivalue) or both at once (marginal,\n"
    "                 posterior), the message saying which. With --ivalue, local takes\n"
    "                 the columns before the first match and after the last as flanks\n"
    "  --confidence   with optimal: the posterior of every column of the optimal alignment\n"
    "                 too, in <prefix>.confidence.tsv\n"
    "  --format F     the alignment file's format: afasta (default, <prefix>.afasta), fasta\n"
    "                 (.fasta, with the names), clustal (.aln), stockholm (.sto, with the\n"
    "                 posterior of each residue where there is one) or json (.json, the\n"
    "                 whole result; with the marginal criteria, the result without rows)\n"
    "  --calibrated   the verdict calibrated for composition in the report too: both\n"
    "                 hypotheses send each sequence with its own composition, so that\n"
    "                 composition alone earns no compression (the posterior criterion's\n"
    "                 verdict is always this one; a notice says when it disagrees with\n"
    "                 the verdict printed)\n"
    "  --stdout       the alignment (in --format) to standard output instead of a file;\n"
    "                 the report goes to standard error\n"
    "  --quiet        no report (notices and errors still on standard error)\n"
    "  --no-landscape the marginal criteria write no landscape files\n"
    "  -o <prefix>    prefix of the output files (default: output)\n"
    "  --ivalue <file>  score the given alignment: two records of equal length in afasta,\n"
    "                 FASTA, Clustal or Stockholm format\n"
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
  // --help and --version stand alone: no banner.
  for (int a = 1; a < argc; ++a)
    if (std::string(argv[a]) == "--help") {
      std::cout << "seqcorvane " << seqcorvane::version() << HELP_TEXT;
      return 0;
    }
  for (int a = 1; a < argc; ++a)
    if (std::string(argv[a]) == "--version") {
      std::cout << "seqcorvane " << seqcorvane::version() << "\n";
      return 0;
    }
  // --stdout and --quiet decide where the report goes, from the banner on.
  for (int a = 1; a < argc; ++a) {
    const std::string arg = argv[a];
    if (arg == "--stdout" && reportStream == &std::cout) reportStream = &reportToStandardError;
    if (arg == "--quiet") reportStream = &nowhere;
  }
  coutHeader(report());

  std::vector<std::string> seqfn;
  bool ivalueFlag = false;
  std::string algnfn;
  std::string outPrefix;
  std::string criterion = "optimal";
  CmdLineExtras extras;
  parseCmdLine(argc, argv, seqfn, ivalueFlag, algnfn, outPrefix, criterion, &extras);

  seqcorvane::AlignConfig config;
  for (const std::string& note : seqcorvane::shell::settingsFromEnvironment(config))
    std::cerr << "seqcorvane: notice: " << note << std::endl;
  const seqcorvane::Models models(extras.dataDir);
  if (ivalueFlag)
    scoreAlignmentFile(algnfn, models, extras.mode);
  else
    alignFiles(seqfn, criterion, outPrefix, extras, models, config);
  return 0;
}

}  // namespace

int seqcorvaneMain(int argc, char* argv[]) {
  return seqcorvane::shell::runProgram("seqcorvane", [&] { return run(argc, argv); });
}
