#include "memoryBudget.h"

#include <sys/resource.h>

#include <algorithm>
#include <fstream>
#include <limits>
#include <sstream>

#include "check.h"
#include "numberText.h"

namespace seqcorvane::detail {

namespace {

// A "Key:   123 kB" line of a /proc file, in bytes; -1 when absent.
double procField(const char* file, const std::string& key) {
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, key.size(), key) == 0 && line.size() > key.size() && line[key.size()] == ':') {
      std::istringstream fields(line.substr(key.size() + 1));
      double kb = 0;
      if (fields >> kb) return kb * 1024.0;
    }
  }
  return -1;
}

// A number in a one-line file ("max" counts as no limit); -1 when absent.
double fileNumber(const std::string& path) {
  std::ifstream in(path);
  std::string word;
  if (!(in >> word) || word == "max") return -1;
  try {
    return std::stod(word);
  } catch (...) {
    return -1;
  }
}

// The cgroup (v2, else v1 memory controller) limit less its use; -1 when unlimited.
double cgroupRoom() {
  std::ifstream in("/proc/self/cgroup");
  std::string line;
  while (std::getline(in, line)) {
    std::string path;
    if (line.compare(0, 3, "0::") == 0) {
      path = "/sys/fs/cgroup" + line.substr(3);
      const double limit = fileNumber(path + "/memory.max"), used = fileNumber(path + "/memory.current");
      if (limit > 0) return std::max(0.0, limit - std::max(0.0, used));
    } else if (line.find(":memory:") != std::string::npos) {
      path = "/sys/fs/cgroup/memory" + line.substr(line.find(":memory:") + 8);
      const double limit = fileNumber(path + "/memory.limit_in_bytes");
      const double used = fileNumber(path + "/memory.usage_in_bytes");
      if (limit > 0 && limit < 1e18) return std::max(0.0, limit - std::max(0.0, used));
    }
  }
  return -1;
}

}  // namespace

double memoryAvailable() {
  double room = std::numeric_limits<double>::infinity();
  struct rlimit rl;
  if (::getrlimit(RLIMIT_AS, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) {
    const double mapped = std::max(0.0, procField("/proc/self/status", "VmSize"));
    room = std::min(room, std::max(0.0, static_cast<double>(rl.rlim_cur) - mapped));
  }
  const double cg = cgroupRoom();
  if (cg >= 0) room = std::min(room, cg);
  const double avail = procField("/proc/meminfo", "MemAvailable");
  if (avail >= 0) room = std::min(room, avail + std::max(0.0, procField("/proc/meminfo", "SwapFree")));
  return room;
}

std::string memoryText(double bytes) {
  static const char* const units[] = {"KiB", "MiB", "GiB", "TiB"};
  if (!(bytes >= 1024)) return std::to_string(static_cast<long long>(bytes > 0 ? bytes : 0)) + " bytes";
  int u = 0;
  double x = bytes / 1024;
  while (x >= 1024 && u < 3) {
    x /= 1024;
    ++u;
  }
  return formatFixed(x, 1) + " " + units[u];
}

void requireMemory(double bytes, double available, const std::string& what) {
  const double needed = bytes + 32.0 * 1024 * 1024;
  if (needed > available)
    throw Error(Error::Kind::resources,
                what + " needs " + memoryText(needed) + " of memory; " + memoryText(available) + " available");
}

}  // namespace seqcorvane::detail
