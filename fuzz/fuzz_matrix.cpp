// The substitution matrix file reader (the library's insides: the models are cached by file, so
// the reader is fuzzed directly).
#include "SubmatClass.h"
#include "fuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static SubmatClass_t model = SubmatClass_t(1, fuzz::scratch().directory());
  fuzz::scratch().write("matrix.txt", data, size);
  try {
    const Matrix m = model.readMatrix(fuzz::scratch().path("matrix.txt"));
    if (m.size() != 20) std::abort();
  } catch (const seqcorvane::Error&) {
  }
  return 0;
}
