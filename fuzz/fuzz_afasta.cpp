// The alignment (afasta) reader of the scoring mode, and the state string of
// what it accepts.
#include "fuzzTarget.h"
#include "main.h"
#include "misc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::scratch().write("a.afasta", data, size);
  try {
    const std::vector<std::string> rows = readAlignmentFile(fuzz::scratch().path("a.afasta"));
    const std::string fsastr = algn2Fsastr(rows);
    const std::vector<std::string> back = fsastr2Algn(fsastr, removeNonStandardAA(rows[0]), removeNonStandardAA(rows[1]));
    if (back != rows) std::abort();
  } catch (const fuzz::Rejected&) {
  }
  return 0;
}
