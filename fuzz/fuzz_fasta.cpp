// The FASTA reader (plain or gzip-compressed) and the residue filter.
#include "fuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::scratch().write("seq.fa", data, size);
  try {
    for (const seqcorvane::Record& r : seqcorvane::readFasta(fuzz::scratch().path("seq.fa")))
      for (char c : seqcorvane::standardResidues(r.text))
        if (c < 'A' || c > 'Y') std::abort();
  } catch (const seqcorvane::Error&) {
  }
  return 0;
}
