#include "dataFiles.h"

#include <climits>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "check.h"
#include "config.h"

namespace {

bool isRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The directory holding the running executable, from /proc/self/exe.
std::string executableDir() {
  char buf[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buf, PATH_MAX);
  if (n <= 0) return "";
  std::string path(buf, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

int filesRead = 0;

}  // namespace

std::vector<std::string> dataSearchDirs() {
  std::vector<std::string> dirs{"./data"};
  // An installed program sits in the install prefix's bin directory; any
  // other copy (the build tree, a test) uses the source tree's data.
  std::string exeDir = executableDir();
  char resolved[PATH_MAX + 1];
  std::string installBin = SEQCORVANE_INSTALL_BIN_DIR;
  if (::realpath(installBin.c_str(), resolved) != nullptr) installBin = resolved;
  if (!exeDir.empty() && exeDir == installBin)
    dirs.push_back(SEQCORVANE_INSTALL_DATA_DIR);
  else
    dirs.push_back(SEQCORVANE_SOURCE_DATA_DIR);
  return dirs;
}

std::string findDataFile(const std::string& name) {
  std::vector<std::string> dirs = dataSearchDirs();
  for (const std::string& dir : dirs) {
    std::string path = dir + "/" + name;
    if (isRegularFile(path)) return path;
  }
  std::string places;
  for (size_t k = 0; k < dirs.size(); ++k) places += (k ? " and " : "") + dirs[k];
  fatalError("model data file '" + name + "' not found (looked in " + places + ")");
}

void noteDataFileRead() { ++filesRead; }
int dataFilesRead() { return filesRead; }
