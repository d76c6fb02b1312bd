#include "dataFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>

#include "check.h"
#include "config.h"

namespace seqcorvane::detail {

namespace {

std::atomic<int> filesRead{0};

// The directory holding the running executable, from /proc/self/exe.
std::string executableDir() {
  char buf[PATH_MAX + 1];
  const ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return "";
  const std::string path(buf, static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Whether the name exists in the directory (a broken link counts: the place
// holds it, and opening it will tell what is wrong).
bool holds(const std::string& dir, const std::string& name) {
  struct stat st;
  return ::lstat((dir + "/" + name).c_str(), &st) == 0;
}

std::string list(const std::vector<std::string>& names) {
  std::string s;
  for (size_t k = 0; k < names.size(); ++k) s += (k ? ", " : "") + names[k];
  return s;
}

// Ends the run unless dir holds all five files.
void requireWholeSet(const std::string& dir, const std::string& how) {
  std::vector<std::string> missing;
  for (const std::string& f : modelFileNames())
    if (!holds(dir, f)) missing.push_back(f);
  if (!missing.empty())
    modelError("model directory '" + dir + "'" + how + " lacks " + list(missing) +
               " (all five model files must come from one directory)");
}

}  // namespace

const std::vector<std::string>& modelFileNames() {
  static const std::vector<std::string> names{"protSeqNullMMLEstimatesOrder0.txt", "S_double_precision.txt",
                                              "D_double_precision.txt", "S_inv_double_precision.txt",
                                              "DirichletPriorsGivenN.txt"};
  return names;
}

std::vector<std::string> modelDirectoryCandidates(const std::string& installedData) {
  std::vector<std::string> dirs{"./data"};
  auto add = [&](const std::string& dir) {
    if (!dir.empty() && std::find(dirs.begin(), dirs.end(), dir) == dirs.end()) dirs.push_back(dir);
  };
  const std::string exeDir = executableDir();
  if (!exeDir.empty()) add(exeDir + "/../" + SEQCORVANE_DATA_SUBDIR);
  add(installedData);
  add(SEQCORVANE_INSTALL_DATA_DIR);
  add(SEQCORVANE_SOURCE_DATA_DIR);
  return dirs;
}

std::string modelDirectory(const std::string& named, const std::string& installedData) {
  if (!named.empty()) {
    struct stat st;
    if (::stat(named.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
      modelError("model directory '" + named + "' is not a directory");
    requireWholeSet(named, "");
    return named;
  }
  const std::vector<std::string> dirs = modelDirectoryCandidates(installedData);
  for (const std::string& dir : dirs) {
    bool any = false;
    for (const std::string& f : modelFileNames()) any = any || holds(dir, f);
    if (!any) continue;
    requireWholeSet(dir, "");
    return dir;
  }
  modelError("model data not found: none of the model files is in " + list(dirs) + " (name the model directory)");
}

void noteDataFileRead() { ++filesRead; }
int dataFilesRead() { return filesRead.load(); }

}  // namespace seqcorvane::detail
