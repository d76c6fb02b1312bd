// Helpers shared by the tests: temporary directories, files, capturing
// standard output, and running the seqcorvane binary end to end.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <random>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "seqcorvane/seqcorvane.h"

// The tests reach the library's insides by their own names.
namespace seqcorvane::detail {}
using namespace seqcorvane::detail;
using seqcorvane::nits2bits;
using seqcorvane::stateDelete;
using seqcorvane::stateInsert;
using seqcorvane::stateMatch;

namespace testutil {

inline std::string sourceDir() { return SEQCORVANE_SOURCE_DIR; }
inline std::string binaryPath() { return SEQCORVANE_BINARY; }
inline std::string examplePath(const std::string& name) { return sourceDir() + "/examples/" + name; }
inline std::string dataDir() { return sourceDir() + "/data"; }
// The shipped models, loaded once for all tests.
inline const seqcorvane::Models& models() {
  static const seqcorvane::Models m(dataDir());
  return m;
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

inline void writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path);
}

inline bool fileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// A fresh directory under /tmp, removed with its contents at scope exit.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/seqcorvane_test_XXXXXX";
    char* p = ::mkdtemp(tmpl);
    if (p == nullptr) throw std::runtime_error("mkdtemp failed");
    dir = p;
  }
  ~TempDir() { std::system(("rm -rf '" + dir + "'").c_str()); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return dir; }
  std::string file(const std::string& name) const { return dir + "/" + name; }

 private:
  std::string dir;
};

// Runs fn with std::cout redirected into a string; returns what was printed.
// The stream's formatting state is saved and restored around the call.
inline std::string captureStdout(const std::function<void()>& fn) {
  std::ostringstream buf;
  std::ios saved(nullptr);
  saved.copyfmt(std::cout);
  std::streambuf* old = std::cout.rdbuf(buf.rdbuf());
  try {
    fn();
  } catch (...) {
    std::cout.rdbuf(old);
    std::cout.copyfmt(saved);
    throw;
  }
  std::cout.rdbuf(old);
  std::cout.copyfmt(saved);
  return buf.str();
}

struct RunResult {
  int status = -1;  // exit status, or 128 + signal number when killed by a signal
  bool signaled = false;
  std::string out;
  std::string err;
};

// How a run is started: environment variables to set (an empty value
// unsets), an address-space limit in bytes (0: none), and the program (the
// seqcorvane binary when empty).
struct RunOptions {
  std::vector<std::pair<std::string, std::string>> env;
  long addressSpace = 0;
  std::string program;
};

// Runs the seqcorvane binary with the arguments, feeding stdinText on
// standard input, in the working directory cwd (the current one when empty).
inline RunResult runBinary(const std::vector<std::string>& args, const std::string& stdinText = "",
                           const std::string& cwd = "", const RunOptions& options = {}) {
  const std::string program = options.program.empty() ? binaryPath() : options.program;
  TempDir io;
  const std::string inPath = io.file("stdin"), outPath = io.file("stdout"), errPath = io.file("stderr");
  writeFile(inPath, stdinText);
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(127);
    for (const auto& kv : options.env) {
      if (kv.second.empty())
        ::unsetenv(kv.first.c_str());
      else
        ::setenv(kv.first.c_str(), kv.second.c_str(), 1);
    }
    if (options.addressSpace > 0) {
      struct rlimit rl;
      rl.rlim_cur = rl.rlim_max = static_cast<rlim_t>(options.addressSpace);
      if (::setrlimit(RLIMIT_AS, &rl) != 0) ::_exit(127);
    }
    int in = ::open(inPath.c_str(), O_RDONLY);
    int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    std::vector<std::string> argvStore;
    argvStore.push_back(program);
    argvStore.insert(argvStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvStore) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  RunResult r;
  if (WIFEXITED(wstatus)) {
    r.status = WEXITSTATUS(wstatus);
  } else if (WIFSIGNALED(wstatus)) {
    r.signaled = true;
    r.status = 128 + WTERMSIG(wstatus);
  }
  r.out = readFile(outPath);
  r.err = readFile(errPath);
  return r;
}

// A directory "data" inside dir holding the shipped model files, with the
// named files replaced by the texts given (an empty text removes the file).
inline void makeModelDir(const std::string& dir,
                         const std::vector<std::pair<std::string, std::string>>& replaced = {}) {
  const std::string data = dir + "/data";
  ::mkdir(data.c_str(), 0755);
  for (const char* f : {"protSeqNullMMLEstimatesOrder0.txt", "S_double_precision.txt", "D_double_precision.txt",
                        "S_inv_double_precision.txt", "DirichletPriorsGivenN.txt", "posteriorMatchJoints.txt"})
    writeFile(data + "/" + f, readFile(sourceDir() + "/data/" + f));
  for (const auto& r : replaced) {
    if (r.second.empty())
      ::unlink((data + "/" + r.first).c_str());
    else
      writeFile(data + "/" + r.first, r.second);
  }
}

// The banner the program prints first on standard output in every run.
inline std::string bannerText() {
  return "\x1b[0;33;1;44m   Seq\x1b[0;0m\x1b[0;37;1;44mCorvane (v\x1b[0;31;1;40m1.1\x1b[0;37;1;44m) "
         "\x1b[0;0m\x1b[0;37;1;44mMinimum Message Length (MML) based aligner of protein "
         "\x1b[0;0m\x1b[0;33;1;44mSEQUENCES   \x1b[0;0m\n";
}

// How often piece occurs in text.
inline size_t count(const std::string& text, const std::string& piece) {
  size_t n = 0;
  for (size_t p = text.find(piece); p != std::string::npos; p = text.find(piece, p + 1)) ++n;
  return n;
}

// The names in dir that match the pattern, sorted.
inline std::vector<std::string> filesMatching(const std::string& dir, const std::string& pattern) {
  std::vector<std::string> names;
  const std::regex re(pattern);
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d))
      if (std::regex_match(e->d_name, re)) names.push_back(e->d_name);
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

inline std::string randomProtein(std::mt19937& rng, size_t n) {
  std::string s;
  for (size_t k = 0; k < n; ++k) s.push_back("ACDEFGHIKLMNPQRSTVWY"[rng() % 20]);
  return s;
}

}  // namespace testutil
