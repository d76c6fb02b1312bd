// The null-model table reader (the library's insides: the models are cached
// by file, so the reader is fuzzed directly).
#include "fuzzTarget.h"
#include "nullModelClass.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::scratch().write("protSeqNullMMLEstimatesOrderF.txt", data, size);
  try {
    const nullModelClass_t m("F", fuzz::scratch().directory());
    if (m.getAlphabetSize() > 0) m.pr(std::string(m.getOrder() + 1, m.getAlphabet()[0]));
  } catch (const seqcorvane::Error&) {
  }
  return 0;
}
