// Alignment files: the afasta writer, the reader of an alignment to score,
// and the column confidences.
#include <cstddef>

#include "check.h"
#include "fasta.h"
#include "numberText.h"
#include "seqcorvane/io.h"

namespace {

// afasta rows are wrapped at this width.
constexpr std::size_t LINE_WIDTH = 60;

}  // namespace

namespace seqcorvane {

// An empty row writes no lines: its header is followed directly by what comes
// next (the empty separator line, or the end of the file).
void writeAfastaFile(const std::string& path, const std::vector<std::string>& rows) {
  SC_CHECK(rows.size() == 2);
  std::string text = ">aligned seq 1\n";
  for (std::size_t r = 0; r < 2; ++r) {
    if (r == 1) text += "\n>aligned seq 2\n";
    for (std::size_t start = 0; start < rows[r].length(); start += LINE_WIDTH) {
      text += rows[r].substr(start, LINE_WIDTH);
      text += '\n';
    }
  }
  writeWholeFile(path, text);
}

void writeConfidenceFile(const std::string& path, const std::string& fsastr, const std::vector<double>& posterior) {
  SC_CHECK(posterior.size() == fsastr.size());
  std::string text = "column\tposition_s\tposition_t\tstate\tposterior\n";
  std::size_t i = 0, j = 0;
  for (std::size_t l = 0; l < fsastr.size(); ++l) {
    const char st = fsastr[l];
    i += st != 'i';
    j += st != 'd';
    text += std::to_string(l + 1) + "\t" + (st == 'i' ? "-" : std::to_string(i)) + "\t" +
            (st == 'd' ? "-" : std::to_string(j)) + "\t" + st + "\t" + formatFixed(posterior[l], 4) + "\n";
  }
  writeWholeFile(path, text);
}

AlignmentFile readAlignmentFile(const std::string& path) {
  const std::vector<std::string> records = readFastaFile(path);
  if (records.size() != 2)
    fatalError("alignment file '" + path + "' holds " + std::to_string(records.size()) +
               (records.size() == 1 ? " record" : " records") + "; expected two");
  if (records[0].size() != records[1].size())
    fatalError("alignment file '" + path + "': its two records differ in length (" + std::to_string(records[0].size()) +
               " and " + std::to_string(records[1].size()) + " characters)");
  // The columns the models can use: residues and gaps, not two gaps.
  AlignmentFile a;
  a.rows.resize(2);
  for (std::size_t k = 0; k < records[0].size(); ++k) {
    const char c0 = records[0][k], c1 = records[1][k];
    bool usable = true;
    for (char c : {c0, c1}) {
      if (c != '-' && !isResidue(c)) {
        a.droppedPairs.push_back(std::string{c0, c1});  // once per character that is neither
        usable = false;
      }
    }
    a.droppedColumns += !usable;
    if (!usable || (c0 == '-' && c1 == '-')) continue;
    a.rows[0].push_back(c0);
    a.rows[1].push_back(c1);
  }
  for (int r = 0; r < 2; ++r)
    if (removeNonStandardAA(a.rows[r]).empty())
      fatalError("alignment file '" + path + "': no standard residues left in its " + (r == 0 ? "first" : "second") +
                 " row");
  return a;
}

}  // namespace seqcorvane
