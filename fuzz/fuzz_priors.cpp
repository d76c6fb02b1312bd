// The Dirichlet priors table reader (the library's insides: the models are cached by file, so
// the reader is fuzzed directly).
#include "SubmatClass.h"
#include "fuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static SubmatClass_t model = SubmatClass_t(1, fuzz::scratch().directory());
  fuzz::scratch().write("priors.txt", data, size);
  try {
    const SubmatClass_t::PriorsTable t = model.readDirichletPriors(fuzz::scratch().path("priors.txt"));
    for (const auto& state : t)
      for (const DirichletClass_t& d : state)
        for (double m : d.getMode())
          if (!(m > 0 && m < 1)) std::abort();  // the reader promises modes inside (0, 1)
  } catch (const seqcorvane::Error&) {
  }
  return 0;
}
