// seqcorvane-dpcells: the alignment machine's speed per DP cell, and the model
// work of a full run.
//
//   seqcorvane-dpcells [--reps N] [--counts optimal,marginal] S.fa T.fa
//
// For the pair in S.fa and T.fa (one record each, filtered to the twenty
// standard residues as the program does) it prints lines "key value":
//
//   nS, nT, cells          |S|, |T| and the number of interior grid cells |S| x |T|
//   fill_ns_per_cell       one optimal fill (fillDPMatrices) at the starting
//                          parameters, wall-clock nanoseconds per grid cell
//                          (each grid cell computes its three states M, D, I);
//                          the least of N repetitions, the matrices reset
//                          between them outside the timed region
//   fill_ns_per_cell_median  the median of the same N repetitions
//   fwd_ns_per_cell        one forward pass (computeTotalProbOfST at K = 250),
//   fwd_ns_per_cell_median likewise
//   matrix_bytes           bytes of the machine's three DP matrices
//   <criterion>_models     substitution models constructed
//                          (SubmatClass_t::modelsBuilt()) in a full run of the
//                          program with that criterion on the pair
//   <criterion>_files      data files read (dataFilesRead()) in that run
//   <criterion>_seconds    wall time of that in-process run
//
// Each full run happens in a child process of its own (so that it starts
// with no model data cached), in a scratch directory (so that the files it
// writes go nowhere), with std::cout sent to a stream that discards
// everything.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "SubmatClass.h"
#include "dataFiles.h"
#include "main.h"
#include "nullModelClass.h"
#include "threeStateDPAClass.h"

namespace {

// A stream buffer that accepts and drops everything.
class NullBuf : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Runs fn with std::cout discarding its output; restores the buffer and format.
template <typename Fn>
void quietly(Fn fn) {
  static NullBuf nullBuf;
  std::ios saved(nullptr);
  saved.copyfmt(std::cout);
  std::streambuf* old = std::cout.rdbuf(&nullBuf);
  fn();
  std::cout.rdbuf(old);
  std::cout.copyfmt(saved);
  std::cout.clear();
}

double secondsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

std::string absolutePath(const std::string& p) {
  char buf[PATH_MAX + 1];
  if (::realpath(p.c_str(), buf) == nullptr) {
    std::cerr << "seqcorvane-dpcells: cannot find '" << p << "'\n";
    std::exit(1);
  }
  return buf;
}

std::string readSequence(const std::string& path) {
  const std::vector<std::string> records = readFastaFile(path.c_str());
  if (records.size() != 1) {
    std::cerr << "seqcorvane-dpcells: '" << path << "' must hold exactly one record\n";
    std::exit(1);
  }
  return removeNonStandardAA(records[0]);
}

// One full run of the program (seqcorvaneMain) with the criterion, in a child
// process. Prints the counts and the run's wall time.
void countFullRun(const std::string& criterion, const std::string& sPath, const std::string& tPath) {
  int fd[2];
  if (::pipe(fd) != 0) {
    std::perror("pipe");
    std::exit(1);
  }
  std::cout.flush();
  const pid_t pid = ::fork();
  if (pid < 0) {
    std::perror("fork");
    std::exit(1);
  }
  if (pid == 0) {
    ::close(fd[0]);
    char tmpl[] = "/tmp/seqcorvane_dpcells_XXXXXX";
    const char* dir = ::mkdtemp(tmpl);
    if (dir == nullptr || ::chdir(dir) != 0) ::_exit(3);
    const long models0 = SubmatClass_t::modelsBuilt();
    const int files0 = dataFilesRead();
    std::vector<std::string> args{"seqcorvane", sPath, tPath, "--criterion", criterion, "-o", "bench"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    int status = 0;
    const auto t0 = std::chrono::steady_clock::now();
    quietly([&] { status = seqcorvaneMain(static_cast<int>(args.size()), argv.data()); });
    const double seconds = secondsSince(t0);
    std::ostringstream line;
    line << criterion << "_models " << SubmatClass_t::modelsBuilt() - models0 << "\n"
         << criterion << "_files " << dataFilesRead() - files0 << "\n"
         << criterion << "_seconds " << seconds << "\n"
         << criterion << "_status " << status << "\n";
    const std::string text = line.str();
    if (::write(fd[1], text.data(), text.size()) != static_cast<ssize_t>(text.size())) ::_exit(4);
    ::close(fd[1]);
    std::system(("rm -rf '" + std::string(dir) + "'").c_str());
    ::_exit(0);
  }
  ::close(fd[1]);
  std::string text;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fd[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  ::close(fd[0]);
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  if (!WIFEXITED(wstatus) || WEXITSTATUS(wstatus) != 0 || text.empty()) {
    std::cerr << "seqcorvane-dpcells: the full " << criterion << " run failed\n";
    std::exit(1);
  }
  std::cout << text << std::flush;
}

void usage() {
  std::cerr << "usage: seqcorvane-dpcells [--reps N] [--counts optimal,marginal] S.fa T.fa\n";
  std::exit(1);
}

}  // namespace

int main(int argc, char* argv[]) {
  int reps = 0;  // 0: chosen from the size of the pair
  std::vector<std::string> countCriteria;
  std::vector<std::string> files;
  for (int a = 1; a < argc; ++a) {
    const std::string arg = argv[a];
    if (arg == "--reps" && a + 1 < argc) {
      reps = std::atoi(argv[++a]);
      if (reps < 1) usage();
    } else if (arg == "--counts" && a + 1 < argc) {
      std::stringstream list(argv[++a]);
      std::string c;
      while (std::getline(list, c, ','))
        if (!c.empty()) countCriteria.push_back(c);
    } else if (!arg.empty() && arg[0] == '-') {
      usage();
    } else {
      files.push_back(arg);
    }
  }
  if (files.size() != 2) usage();
  const std::string sPath = absolutePath(files[0]), tPath = absolutePath(files[1]);

  // The full runs first, before this process has loaded any model data.
  for (const std::string& c : countCriteria) countFullRun(c, sPath, tPath);

  std::string S = readSequence(sPath), T = readSequence(tPath);
  if (S.empty() || T.empty()) {
    std::cerr << "seqcorvane-dpcells: a sequence holds no standard residues\n";
    return 1;
  }
  const double cells = static_cast<double>(S.size()) * static_cast<double>(T.size());
  if (reps == 0) reps = static_cast<int>(std::max(3.0, std::min(15.0, 3e7 / cells)));

  SubmatClass_t pam(250);
  nullModelClass_t nullMdl("0");
  std::vector<double> fillSeconds, fwdSeconds;
  quietly([&] {
    // A criterion outside the three runs nothing: the machine only allocates
    // its matrices and sets its starting parameters (those of K = 250).
    threeStateDPAClass_t dpa(S, T, nullMdl, pam, "none", "bench");
    for (int r = 0; r < reps; ++r) {
      const auto t0 = std::chrono::steady_clock::now();
      dpa.fillDPMatrices();
      fillSeconds.push_back(secondsSince(t0));
      dpa.resetDPMatrices();
    }
    for (int r = 0; r < reps; ++r) {
      const auto t0 = std::chrono::steady_clock::now();
      dpa.computeTotalProbOfST(250, false);
      fwdSeconds.push_back(secondsSince(t0));
    }
  });
  const double perCell = 1e9 / cells;
  std::cout << "nS " << S.size() << "\n"
            << "nT " << T.size() << "\n"
            << "cells " << static_cast<long long>(cells) << "\n"
            << "reps " << reps << "\n"
            << "matrix_bytes " << 3ULL * (S.size() + 1) * (T.size() + 1) * sizeof(dpcell_t) << "\n"
            << "fill_ns_per_cell " << *std::min_element(fillSeconds.begin(), fillSeconds.end()) * perCell << "\n"
            << "fill_ns_per_cell_median " << median(fillSeconds) * perCell << "\n"
            << "fwd_ns_per_cell " << *std::min_element(fwdSeconds.begin(), fwdSeconds.end()) * perCell << "\n"
            << "fwd_ns_per_cell_median " << median(fwdSeconds) * perCell << "\n";
  return 0;
}
