// Command-line parsing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Fills the settings from the arguments; on any error prints the
// "::CmdLineError::" lines and the usage text on standard error and exits
// with status 1.
// With dataDir given, the option --data <dir> is accepted and its value
// stored there (empty when absent).
void parseCmdLine(int32_t argc, char* argv[], std::vector<std::string>& seqfn, bool& ivalueFlag,
                  std::string& algnfn, std::string& outPrefix, std::string& criterion, std::string* dataDir = nullptr);

// The criteria --criterion accepts.
const std::vector<std::string>& supportedCriteria();

// True when the file can be opened for reading.
bool doesFileExist(std::string fileName);
