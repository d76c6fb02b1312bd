// The batch program's reader of pair lists (two FASTA file names a line).
#include "fuzzTarget.h"
#include "job.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::scratch().write("pairs.tsv", data, size);
  try {
    for (const auto& p : batch::readPairList(fuzz::scratch().path("pairs.tsv"))) {
      // Every pair is two non-empty names without a tab, and no line end.
      if (p.first.empty() || p.second.empty()) std::abort();
      for (const std::string* name : {&p.first, &p.second})
        if (name->find('\t') != std::string::npos || name->find('\n') != std::string::npos) std::abort();
      if (batch::printable(p.first).find('\r') != std::string::npos) std::abort();
    }
  } catch (const seqcorvane::Error&) {
  }
  return 0;
}
