// Command-line parsing.
//
// The arguments are scanned once into a multimap from a key to the values
// given under it: "-seq" for the positional sequence file names (the key in
// force at the start), "--ivalue", "-o" and "--criterion" for the values after
// those options, and "-X" for the values after an unsupported option. A value
// belongs to the key of the last option before it. Every error is reported
// and the checks go on; the usage text follows once at the end.
#include "cmdLineParser.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <map>

#include "options.h"
#include "seqcorvane/io.h"
#include "seqcorvane/seqcorvane.h"

namespace {

using seqcorvane::shell::ArgumentScan;
using seqcorvane::shell::OptionRule;
using seqcorvane::shell::scanArguments;

const std::string ERR = "::CmdLineError:: ";

void printUsage() {
  const std::string indent(11, ' ');
  std::cerr << std::endl;
  std::cerr << "To find/compute alignment(s) between protein sequences in the MML information framework" << std::endl;
  std::cerr << "    Usage: "
            << "seqcorvane <seq1 fasta> <seq2 fasta>" << std::endl;
  std::cerr << indent << "           (--criterion <optimal/marginal/marginal-interactive>)" << std::endl;
  std::cerr << indent << "           ( -o  <output_prefix_string>) " << std::endl;
  std::cerr << "To score/evaluate any pre-computed alignments in the  MML information framework" << std::endl;
  std::cerr << "    Usage: "
            << "seqcorvane --ivalue <alignment fasta>)" << std::endl;
}

}  // namespace

// Asks the file system rather than opening the file: opening a named pipe to
// look would take what a writer sends, or wait for one.
bool doesFileExist(std::string fileName) {
  struct stat st;
  return ::stat(fileName.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && ::access(fileName.c_str(), R_OK) == 0;
}

namespace {

// The flags, each of which takes no value.
const char* const FLAGS[] = {"--confidence", "--stdout", "--quiet", "--no-landscape", "--calibrated"};

// The values given after flags, each with its flag.
std::vector<std::string> flagValuesOf(const ArgumentScan& args) {
  std::vector<std::string> out;
  for (const char* flag : FLAGS)
    if (!args.of(flag).empty()) out.push_back(flag);
  return out;
}

// What the scan found, by option.
struct Given {
  std::vector<std::string> seqs, ivalue, outs, criteria, unknown, dirs, flagValues, formats, modes;
  explicit Given(const ArgumentScan& args)
      : seqs(args.of("-seq")),
        ivalue(args.of("--ivalue")),
        outs(args.of("-o")),
        criteria(args.of("--criterion")),
        unknown(args.of("-X")),
        dirs(args.of("--data")),
        flagValues(flagValuesOf(args)),
        formats(args.of("--format")),
        modes(args.of("--mode")) {}
};

// Reports every option given the wrong number of values, or a value it does
// not take; false when there was any.
bool optionsWellFormed(const ArgumentScan& args, const Given& g, bool ivalueFlag, seqcorvane::AlignmentFormat& format,
                       seqcorvane::Hypothesis& mode) {
  bool success = true;
  if (ivalueFlag) {
    if (g.ivalue.size() != 1) {
      std::cerr << ERR << "Option '--ivalue' takes an alignment fasta file as an argument" << std::endl;
      success = false;
    }
  } else if (g.seqs.size() != 2) {
    std::cerr << ERR
              << "Expecting two sequences (in fasta format) as arguments to align, or one alignment (in fasta "
                 "format) to score. See usage below"
              << std::endl;
    success = false;
  }
  if (g.outs.size() > 1) {
    std::cerr << ERR << "Option '-o' takes one output_afasta_string as an argument" << std::endl;
    success = false;
  }
  if (g.criteria.size() > 1) {
    std::cerr << ERR << "Option '--criterion' takes exactly one argument" << std::endl;
    success = false;
  }
  if (args.seen.count("--data") && g.dirs.size() != 1) {
    std::cerr << ERR << "Option '--data' takes one model directory as an argument" << std::endl;
    success = false;
  }
  if (args.seen.count("--format") && g.formats.size() != 1) {
    std::cerr << ERR << "Option '--format' takes one alignment format as an argument" << std::endl;
    success = false;
  }
  if (g.formats.size() == 1 && !seqcorvane::parseAlignmentFormat(g.formats[0], format)) {
    std::cerr << ERR << "Invalid option for --format: " << g.formats[0] << std::endl;
    success = false;
  }
  if (args.seen.count("--mode") && g.modes.size() != 1) {
    std::cerr << ERR << "Option '--mode' takes one hypothesis (global, local or auto) as an argument" << std::endl;
    success = false;
  }
  if (g.modes.size() == 1 && !seqcorvane::parseHypothesis(g.modes[0], mode)) {
    std::cerr << ERR << "Invalid option for --mode: " << g.modes[0] << std::endl;
    success = false;
  }
  for (const std::string& flag : g.flagValues) {
    std::cerr << ERR << "Option '" << flag << "' takes no argument" << std::endl;
    success = false;
  }
  if (!g.unknown.empty()) {
    std::cerr << ERR << "The following arguments cannot be processed:" << std::endl;
    for (const std::string& v : g.unknown) std::cerr << std::string(18, ' ') << v << std::endl;
    success = false;
  }
  return success;
}

}  // namespace

void parseCmdLine(int32_t argc, char* argv[], std::vector<std::string>& seqfn, bool& ivalueFlag, std::string& algnfn,
                  std::string& outPrefix, std::string& criterion, CmdLineExtras* extras) {
  std::vector<OptionRule> known{{"--ivalue", 1}, {"-o", 1}, {"--criterion", 1}};
  if (extras != nullptr)
    known.insert(known.end(), {{"--data", 1},
                               {"--confidence", 0},
                               {"--format", 1},
                               {"--mode", 1},
                               {"--stdout", 0},
                               {"--quiet", 0},
                               {"--no-landscape", 0},
                               {"--calibrated", 0}});
  const ArgumentScan args = scanArguments(argc, argv, known, true);
  bool success = true;
  if (args.seen.count("--ivalue")) ivalueFlag = true;
  if (args.seen.count("--confidence")) extras->confidence = true;
  if (args.seen.count("--stdout")) extras->toStdout = true;
  if (args.seen.count("--quiet")) extras->quiet = true;
  if (args.seen.count("--no-landscape")) extras->noLandscape = true;
  if (args.seen.count("--calibrated")) extras->calibrated = true;
  // Each unsupported option is reported as the scan meets it.
  for (const std::string& arg : args.unknown) {
    std::cerr << ERR << "Unsupported option: " << arg << std::endl;
    success = false;
  }
  const Given g(args);
  seqcorvane::AlignmentFormat format = seqcorvane::AlignmentFormat::afasta;
  seqcorvane::Hypothesis mode = seqcorvane::Hypothesis::global;
  success = optionsWellFormed(args, g, ivalueFlag, format, mode) && success;
  if (!ivalueFlag && g.seqs.size() == 2) {
    for (const std::string& name : g.seqs) {
      if (!doesFileExist(name)) {
        std::cerr << ERR << "File '" << name << "' does not exist" << std::endl;
        success = false;
      }
      seqfn.push_back(name);
    }
  }
  if (g.ivalue.size() == 1) {
    algnfn = g.ivalue[0];
    if (!doesFileExist(algnfn)) {
      std::cerr << ERR << "File '" << algnfn << "' does not exist" << std::endl;
      success = false;
    }
  }
  if (g.criteria.size() == 1) {
    criterion = g.criteria[0];
    seqcorvane::Criterion parsed;
    if (criterion != "marginal-interactive" && !seqcorvane::parseCriterion(criterion, parsed)) {
      std::cerr << ERR << "Invalid option for --criterion: " << criterion << std::endl;
      success = false;
    }
  }

  if (!success || argc < 2) {
    printUsage();
    std::exit(1);
  }

  outPrefix = g.outs.size() == 1 ? g.outs[0] : "output";
  if (extras != nullptr) extras->dataDir = g.dirs.size() == 1 ? g.dirs[0] : "";
  if (extras != nullptr && g.formats.size() == 1) extras->format = format, extras->formatGiven = true;
  if (extras != nullptr && g.modes.size() == 1) extras->mode = mode, extras->modeGiven = true;
}
