// What every fuzz target shares: the input written to a file (the readers
// read files), failures turned into exceptions that end the one input, and
// the report on standard output dropped.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "check.h"
#include "config.h"
#include "dataFiles.h"
#include "misc.h"

namespace fuzz {

struct Rejected {};

[[noreturn]] inline void reject(FailureKind kind, const std::string& message) {
  // A broken invariant is a finding: let libFuzzer see it.
  if (kind == FailureKind::internalCheck) {
    std::fprintf(stderr, "internal check failed: %s\n", message.c_str());
    std::abort();
  }
  throw Rejected{};
}

// A scratch directory holding a copy of the shipped model files, named as
// the model directory; the input goes to path(name) in it.
class Scratch {
 public:
  Scratch() {
    char tmpl[] = "/tmp/seqcorvane_fuzz_XXXXXX";
    dir = ::mkdtemp(tmpl);
    for (const std::string& f : modelFileNames()) copy(std::string(SEQCORVANE_SOURCE_DATA_DIR) + "/" + f, path(f));
    setModelDirectory(dir);
    setFailureHandler(reject);
    static DiscardBuffer quiet;
    std::cout.rdbuf(&quiet);
  }
  std::string path(const std::string& name) const { return dir + "/" + name; }
  void write(const std::string& name, const uint8_t* data, size_t size) const {
    std::FILE* f = std::fopen(path(name).c_str(), "wb");
    if (f == nullptr || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0) std::abort();
  }

 private:
  static void copy(const std::string& from, const std::string& to) {
    std::FILE* in = std::fopen(from.c_str(), "rb");
    std::FILE* out = std::fopen(to.c_str(), "wb");
    if (in == nullptr || out == nullptr) std::abort();
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) std::fwrite(buf, 1, n, out);
    std::fclose(in);
    std::fclose(out);
  }
  std::string dir;
};

inline const Scratch& scratch() {
  static const Scratch s;
  return s;
}

}  // namespace fuzz
