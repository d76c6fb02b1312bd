// The FASTA reader (plain or gzip-compressed) and the residue filter.
#include "fuzzTarget.h"
#include "main.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::scratch().write("seq.fa", data, size);
  try {
    for (const std::string& r : readFastaFile(fuzz::scratch().path("seq.fa").c_str()))
      for (char c : removeNonStandardAA(r))
        if (c < 'A' || c > 'Y') std::abort();
  } catch (const fuzz::Rejected&) {
  }
  return 0;
}
