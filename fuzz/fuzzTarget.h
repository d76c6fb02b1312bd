// What every fuzz target shares: the input written to a file in a scratch
// directory that holds a copy of the shipped model files (the readers read
// files); a rejected input is a seqcorvane::Error, a broken invariant a
// finding that libFuzzer sees.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config.h"
#include "seqcorvane/io.h"
#include "seqcorvane/seqcorvane.h"

using namespace seqcorvane::detail;  // the readers under test

namespace fuzz {

[[noreturn]] inline void finding(const std::string& message) {
  std::fprintf(stderr, "internal check failed: %s\n", message.c_str());
  std::abort();
}

class Scratch {
 public:
  Scratch() {
    char tmpl[] = "/tmp/seqcorvane_fuzz_XXXXXX";
    dir = ::mkdtemp(tmpl);
    for (const std::string& f : seqcorvane::Models::fileNames())
      copy(std::string(SEQCORVANE_SOURCE_DATA_DIR) + "/" + f, path(f));
    seqcorvane::setCheckHandler(finding);
  }
  const std::string& directory() const { return dir; }
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
