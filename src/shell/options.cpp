#include "options.h"

namespace seqcorvane::shell {

std::vector<std::string> ArgumentScan::of(const std::string& key) const {
  std::vector<std::string> out;
  auto range = values.equal_range(key);
  for (auto it = range.first; it != range.second; ++it) out.push_back(it->second);
  return out;
}

ArgumentScan scanArguments(int argc, char* argv[], const std::vector<OptionRule>& options, bool sticky,
                           bool positionalDash) {
  ArgumentScan scan;
  std::string key = "-seq";
  for (int a = 1; a < argc; ++a) {
    const std::string arg = argv[a];
    const bool isOption = !arg.empty() && arg[0] == '-' && !(positionalDash && arg == "-");
    if (!isOption) {
      scan.values.emplace(key, arg);
      if (!sticky) key = "-seq";
      continue;
    }
    const OptionRule* rule = nullptr;
    for (const OptionRule& o : options)
      if (o.name == arg) rule = &o;
    if (rule == nullptr) {
      scan.unknown.push_back(arg);
      key = "-X";
      continue;
    }
    ++scan.seen[arg];
    if (sticky) {
      key = arg;
    } else if (rule->arity == 0) {
      key = "-seq";
    } else if (a + 1 < argc) {
      scan.values.emplace(arg, argv[++a]);
      key = "-seq";
    } else {
      scan.missingValue.push_back(arg);
    }
  }
  return scan;
}

}  // namespace seqcorvane::shell
