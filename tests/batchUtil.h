// What the tests of seqcorvane-batch share: its table's header, a run of its
// binary, a line split into fields, a table read back, the example sequences
// written out.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "testUtil.h"

namespace batchtest {

// The header of a table an earlier version wrote, and of today's.
inline const std::string EARLIER_HEADER =
    "id_s\tid_t\tlength_s\tlength_t\tcriterion\tK\tnull_bits\talignment_bits\tcompression_bits\tidentity\t"
    "gap_openings\tseconds\tstatus\tpair_digest";
inline const std::string HEADER = EARLIER_HEADER + "\tcalibrated_bits";

inline testutil::RunResult batch(const std::vector<std::string>& args, const std::string& cwd,
                                 testutil::RunOptions o = {}) {
  o.program = SEQCORVANE_BATCH_BINARY;
  return testutil::runBinary(args, "", cwd, o);
}

inline std::vector<std::string> split(const std::string& text, char by) {
  std::vector<std::string> parts;
  std::istringstream in(text);
  for (std::string x; std::getline(in, x, by);) parts.push_back(x);
  return parts;
}

// A table's '#' lines and header (head, the header last) and its rows' fields.
struct Table {
  std::string head;
  std::vector<std::vector<std::string>> rows;
};
inline Table readTable(const std::string& path) {
  Table t;
  for (const std::string& line : split(testutil::readFile(path), '\n')) {
    if (line[0] == '#' || line.compare(0, 5, "id_s\t") == 0)
      t.head += line + "\n";
    else
      t.rows.push_back(split(line, '\t'));
  }
  return t;
}

// The four globin examples, one file each and all four in all.fa.
inline void writeExamples(const testutil::TempDir& dir) {
  std::string all;
  for (const char* f : {"hbb_human.fa", "hba_macfa.fa", "myg_horse.fa", "hbb_colli.fa"}) {
    const std::string text = testutil::readFile(testutil::examplePath(f));
    testutil::writeFile(dir.file(f), text);
    all += text;
  }
  testutil::writeFile(dir.file("all.fa"), all);
}

}  // namespace batchtest
