// The scanner of the programs' arguments into options and their values.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace seqcorvane::shell {

// The arguments sorted by the option they belong to. Every argument that
// begins with '-' (a lone "-" too, unless positionalDash) is an option.
// Positional values are kept under "-seq", the values of an option the
// scanner does not know under "-X" (the option itself in `unknown`).
//  - sticky: a value belongs to the last option before it, however many
//    follow it, until the next option (so positional values must come
//    first);
//  - otherwise: an option of arity 1 takes the next argument whatever it is
//    (missing: listed in `missingValue`), a flag takes none, and later values
//    are positional again.
struct ArgumentScan {
  std::multimap<std::string, std::string> values;  // equal keys keep their order
  std::vector<std::string> unknown;                // unknown options, in order
  std::vector<std::string> missingValue;           // options of arity 1 at the end
  std::map<std::string, int> seen;                 // how often each known option appeared
  std::vector<std::string> of(const std::string& key) const;
};
struct OptionRule {
  std::string name;
  int arity;  // 0: a flag; 1: one value
};
ArgumentScan scanArguments(int argc, char* argv[], const std::vector<OptionRule>& options, bool sticky,
                           bool positionalDash = false);

}  // namespace seqcorvane::shell
