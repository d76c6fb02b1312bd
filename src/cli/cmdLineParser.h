// The single program's command line: its settings, with the "::CmdLineError::"
// reports and the usage text (the arguments scanned by the shell's scanner).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "seqcorvane/io.h"
#include "seqcorvane/seqcorvane.h"

// The options beyond the original command line.
struct CmdLineExtras {
  std::string dataDir;      // --data <dir>: the model directory ("" when absent)
  bool confidence = false;  // --confidence: the column posteriors of the optimal alignment too
  seqcorvane::AlignmentFormat format = seqcorvane::AlignmentFormat::afasta;  // --format F: of the alignment file
  bool formatGiven = false;                                                  // --format was given
  bool toStdout = false;     // --stdout: the alignment file's text to standard output, the report to standard error
  bool quiet = false;        // --quiet: no report
  bool noLandscape = false;  // --no-landscape: the marginal criteria write no landscape files
  bool calibrated = false;   // --calibrated: the verdict calibrated for composition in the report
  seqcorvane::Hypothesis mode = seqcorvane::Hypothesis::global;  // --mode M: global, local or auto
  bool modeGiven = false;                                        // --mode was given
};

// Fills the settings from the arguments; on any error prints the
// "::CmdLineError::" lines and the usage text on standard error and exits
// with status 1. With extras given, --data <dir>, --confidence, --format F,
// --mode M, --stdout, --quiet, --no-landscape and --calibrated are accepted too.
void parseCmdLine(int32_t argc, char* argv[], std::vector<std::string>& seqfn, bool& ivalueFlag, std::string& algnfn,
                  std::string& outPrefix, std::string& criterion, CmdLineExtras* extras = nullptr);

// True when the file can be opened for reading.
bool doesFileExist(std::string fileName);
