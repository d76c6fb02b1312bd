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

#include "check.h"

namespace {

const std::string ERR = "::CmdLineError:: ";

void printUsage() {
  const std::string indent(11, ' ');
  std::cerr << std::endl;
  std::cerr << "To find/compute alignment(s) between protein sequences in the MML information framework"
            << std::endl;
  std::cerr << "    Usage: " << "seqcorvane <seq1 fasta> <seq2 fasta>" << std::endl;
  std::cerr << indent << "           (--criterion <optimal/marginal/marginal-interactive>)" << std::endl;
  std::cerr << indent << "           ( -o  <output_prefix_string>) " << std::endl;
  std::cerr << "To score/evaluate any pre-computed alignments in the  MML information framework" << std::endl;
  std::cerr << "    Usage: " << "seqcorvane --ivalue <alignment fasta>)" << std::endl;
}

std::vector<std::string> valuesOf(const std::multimap<std::string, std::string>& args, const std::string& key) {
  std::vector<std::string> values;
  auto range = args.equal_range(key);
  for (auto it = range.first; it != range.second; ++it) values.push_back(it->second);
  return values;
}

}  // namespace

// Asks the file system rather than opening the file: opening a named pipe to
// look would take what a writer sends, or wait for one.
bool doesFileExist(std::string fileName) {
  struct stat st;
  return ::stat(fileName.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) && ::access(fileName.c_str(), R_OK) == 0;
}

const std::vector<std::string>& supportedCriteria() {
  static const std::vector<std::string> criteria{"optimal", "marginal", "marginal-interactive", "posterior"};
  return criteria;
}

void parseCmdLine(int32_t argc, char* argv[], std::vector<std::string>& seqfn, bool& ivalueFlag,
                  std::string& algnfn, std::string& outPrefix, std::string& criterion, CmdLineExtras* extras) {
  std::multimap<std::string, std::string> args;  // equal keys keep their insertion order
  std::string key = "-seq";
  bool success = true;

  for (int32_t a = 1; a < argc; ++a) {
    const std::string arg = argv[a];
    if (!arg.empty() && arg[0] == '-') {
      if (arg == "--ivalue") {
        ivalueFlag = true;
        key = arg;
      } else if (arg == "-o" || arg == "--criterion" ||
                 (extras != nullptr && (arg == "--data" || arg == "--confidence"))) {
        key = arg;
        if (arg == "--confidence") extras->confidence = true;
      } else {
        std::cerr << ERR << "Unsupported option: " << arg << std::endl;
        key = "-X";
        success = false;
      }
    } else {
      args.emplace(key, arg);
    }
  }

  const std::vector<std::string> seqs = valuesOf(args, "-seq");
  const std::vector<std::string> ivalue = valuesOf(args, "--ivalue");
  const std::vector<std::string> outs = valuesOf(args, "-o");
  const std::vector<std::string> criteria = valuesOf(args, "--criterion");
  const std::vector<std::string> unknown = valuesOf(args, "-X");
  const std::vector<std::string> dirs = valuesOf(args, "--data");
  const std::vector<std::string> flagValues = valuesOf(args, "--confidence");

  if (ivalueFlag) {
    if (ivalue.size() != 1) {
      std::cerr << ERR << "Option '--ivalue' takes an alignment fasta file as an argument" << std::endl;
      success = false;
    }
  } else if (seqs.size() != 2) {
    std::cerr << ERR
              << "Expecting two sequences (in fasta format) as arguments to align, or one alignment (in fasta "
                 "format) to score. See usage below"
              << std::endl;
    success = false;
  }
  if (outs.size() > 1) {
    std::cerr << ERR << "Option '-o' takes one output_afasta_string as an argument" << std::endl;
    success = false;
  }
  if (criteria.size() > 1) {
    std::cerr << ERR << "Option '--criterion' takes exactly one argument" << std::endl;
    success = false;
  }
  if (extras != nullptr && std::count(argv + 1, argv + argc, std::string("--data")) > 0 && dirs.size() != 1) {
    std::cerr << ERR << "Option '--data' takes one model directory as an argument" << std::endl;
    success = false;
  }
  if (!flagValues.empty()) {
    std::cerr << ERR << "Option '--confidence' takes no argument" << std::endl;
    success = false;
  }
  if (!unknown.empty()) {
    std::cerr << ERR << "The following arguments cannot be processed:" << std::endl;
    for (const std::string& v : unknown) std::cerr << std::string(18, ' ') << v << std::endl;
    success = false;
  }
  if (!ivalueFlag && seqs.size() == 2) {
    for (const std::string& name : seqs) {
      if (!doesFileExist(name)) {
        std::cerr << ERR << "File '" << name << "' does not exist" << std::endl;
        success = false;
      }
      seqfn.push_back(name);
    }
  }
  if (ivalue.size() == 1) {
    algnfn = ivalue[0];
    if (!doesFileExist(algnfn)) {
      std::cerr << ERR << "File '" << algnfn << "' does not exist" << std::endl;
      success = false;
    }
  }
  if (criteria.size() == 1) {
    criterion = criteria[0];
    const auto& known = supportedCriteria();
    if (std::find(known.begin(), known.end(), criterion) == known.end()) {
      std::cerr << ERR << "Invalid option for --criterion: " << criterion << std::endl;
      success = false;
    }
  }

  if (!success || argc < 2) {
    printUsage();
    std::exit(1);
  }

  if (!ivalueFlag) SC_CHECK(seqfn.size() == 2);
  outPrefix = outs.size() == 1 ? outs[0] : "output";
  if (extras != nullptr) extras->dataDir = dirs.size() == 1 ? dirs[0] : "";
}
