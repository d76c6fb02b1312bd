// The alignment (afasta) reader of the scoring mode, and the state string of
// what it accepts.
#include "fuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::scratch().write("a.afasta", data, size);
  try {
    const std::vector<std::string> rows = seqcorvane::readAlignmentFile(fuzz::scratch().path("a.afasta")).rows;
    const std::string path = seqcorvane::rowsPath(rows[0], rows[1]);
    const std::vector<std::string> back =
        seqcorvane::pathRows(path, seqcorvane::standardResidues(rows[0]), seqcorvane::standardResidues(rows[1]));
    if (back != rows) std::abort();
  } catch (const seqcorvane::Error&) {
  }
  return 0;
}
