// Command-line parsing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Fills the settings from the arguments; on any error prints the
// "::CmdLineError::" lines and the usage text on standard error and exits
// with status 1.
// The options beyond the original command line.
struct CmdLineExtras {
  std::string dataDir;      // --data <dir>: the model directory ("" when absent)
  bool confidence = false;  // --confidence: the column posteriors of the optimal alignment too
};

// With extras given, --data <dir> and --confidence are accepted too.
void parseCmdLine(int32_t argc, char* argv[], std::vector<std::string>& seqfn, bool& ivalueFlag,
                  std::string& algnfn, std::string& outPrefix, std::string& criterion,
                  CmdLineExtras* extras = nullptr);

// The criteria --criterion accepts.
const std::vector<std::string>& supportedCriteria();

// True when the file can be opened for reading.
bool doesFileExist(std::string fileName);
