// The batch program's command line: its settings, usage and help texts.
#pragma once

#include <string>
#include <thread>
#include <vector>

#include "seqcorvane/io.h"
#include "seqcorvane/seqcorvane.h"

namespace batch {

extern const char* const USAGE;
extern const char* const HELP;

struct Settings {
  std::vector<std::string> files;
  std::string out, criterionName = "optimal", alignments, pairsList, dataDir;
  bool jsonLines = false;
  seqcorvane::Criterion criterion = seqcorvane::Criterion::optimal;
  seqcorvane::Hypothesis mode = seqcorvane::Hypothesis::global;
  seqcorvane::AlignmentFormat format = seqcorvane::AlignmentFormat::afasta;
  int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  long shardK = 1, shardN = 1;
};

// The settings of the arguments; a usage error is one line and the usage
// text on standard error, and exit status 1.
Settings parse(int argc, char* argv[]);

}  // namespace batch
