// The substitution matrix file reader.
#include "SubmatClass.h"
#include "fuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static SubmatClass_t model = (fuzz::scratch(), SubmatClass_t(1));
  fuzz::scratch().write("matrix.txt", data, size);
  try {
    const Matrix m = model.readMatrix(fuzz::scratch().path("matrix.txt"));
    if (m.size() != 20) std::abort();
  } catch (const fuzz::Rejected&) {
  }
  return 0;
}
