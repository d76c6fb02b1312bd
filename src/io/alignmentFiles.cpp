// Alignment files: the reader of an alignment to score, and the column
// confidences (the writers of the formats are alignmentFormats.cpp's).
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>

#include "check.h"
#include "codeLengths.h"
#include "fasta.h"
#include "numberText.h"
#include "residues.h"
#include "seqcorvane/io.h"
#include "text.h"

namespace seqcorvane {

using namespace detail;

void writeConfidenceFile(const std::string& path, const std::string& fsastr, const std::vector<double>& posterior) {
  if (posterior.size() != fsastr.size())
    inputError("the path has " + std::to_string(fsastr.size()) + " columns and " + std::to_string(posterior.size()) +
               " posteriors");
  for (std::size_t l = 0; l < fsastr.size(); ++l) {
    if (fsastr[l] != 'm' && fsastr[l] != 'd' && fsastr[l] != 'i')
      inputError("column " + std::to_string(l + 1) + " of the path holds '" + characterAt(fsastr, l) +
                 "': a path holds only 'm', 'd' and 'i'");
    if (!(posterior[l] >= 0 && posterior[l] <= 1 + 1e-9))
      inputError("the posterior of column " + std::to_string(l + 1) + " is " + formatGeneral(posterior[l]) +
                 ", not a probability");
  }
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

namespace {

struct NamedRows {
  std::vector<std::string> names, rows;
  void add(const std::string& name, const std::string& part) {
    for (size_t k = 0; k < names.size(); ++k)
      if (names[k] == name) {
        rows[k] += part;
        return;
      }
    names.push_back(name);
    rows.push_back(part);
  }
};

[[noreturn]] void notAnAlignment(const std::string& path, size_t lineNo, const std::string& what) {
  inputError("alignment file '" + path + "': line " + std::to_string(lineNo) + ": " + what);
}

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

bool allBlank(const std::string& line) { return std::all_of(line.begin(), line.end(), blank); }

// The blank-separated words of a line, the first `most` of them, and whether
// there are more.
std::vector<std::string> wordsOf(const std::string& line, std::size_t most, bool& more) {
  std::vector<std::string> words;
  more = false;
  for (std::size_t k = 0; k < line.size();) {
    while (k < line.size() && blank(line[k])) ++k;
    if (k == line.size()) break;
    if (words.size() == most) {
      more = true;
      break;
    }
    std::size_t end = k;
    while (end < line.size() && !blank(line[end])) ++end;
    words.emplace_back(line, k, end - k);
    k = end;
  }
  return words;
}

// Line ends and blanks are not part of a row.
std::string withoutBlanks(std::string row) {
  row.erase(std::remove_if(row.begin(), row.end(), blank), row.end());
  return row;
}

// Clustal: a header line, then blocks of "name row [count]" lines; lines
// that begin with a blank mark conservation; blank lines part the blocks.
NamedRows clustalRows(const std::vector<std::string>& lines, size_t first, const std::string& path) {
  NamedRows r;
  for (size_t k = first + 1; k < lines.size(); ++k) {
    const std::string& line = lines[k];
    if (allBlank(line) || blank(line[0])) continue;
    bool more = false;
    const std::vector<std::string> w = wordsOf(line, 3, more);
    if (w.size() < 2) notAnAlignment(path, k + 1, "'" + excerpt(w[0]) + "' without a row of the alignment");
    if (more || (w.size() == 3 && !std::all_of(w[2].begin(), w[2].end(),
                                               [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })))
      notAnAlignment(path, k + 1, "more than a name, a row and a count");
    r.add(w[0], w[1]);
  }
  return r;
}

// Stockholm: '#' lines of annotation, "name row" lines, "//" at the end;
// '.' is a gap as '-' is.
NamedRows stockholmRows(const std::vector<std::string>& lines, size_t first, const std::string& path) {
  NamedRows r;
  for (size_t k = first + 1; k < lines.size(); ++k) {
    const std::string& line = lines[k];
    if (line.compare(0, 2, "//") == 0) break;
    if (allBlank(line) || line[0] == '#') continue;
    bool more = false;
    std::vector<std::string> w = wordsOf(line, 2, more);
    if (w.size() < 2 || more) notAnAlignment(path, k + 1, "not a line of a name and a row");
    std::replace(w[1].begin(), w[1].end(), '.', '-');
    r.add(w[0], w[1]);
  }
  return r;
}

}  // namespace

AlignmentFile readAlignmentFile(const std::string& path) {
  const std::vector<std::string> lines = readTextLines(path);
  size_t first = 0;
  while (first < lines.size() && allBlank(lines[first])) ++first;
  const std::string start = first < lines.size() ? lines[first] : std::string();
  NamedRows read;
  if (start.compare(0, 7, "CLUSTAL") == 0) {
    read = clustalRows(lines, first, path);
  } else if (start.compare(0, 11, "# STOCKHOLM") == 0) {
    read = stockholmRows(lines, first, path);
  } else {
    if (first < lines.size() &&
        std::none_of(lines.begin(), lines.end(), [](const std::string& l) { return !l.empty() && l[0] == '>'; }))
      notAnAlignment(path, first + 1,
                     "not the start of an alignment in FASTA ('>'), Clustal ('CLUSTAL') or Stockholm ('# STOCKHOLM') "
                     "format");
    for (const Record& rec : fastaRecords(lines)) {  // records of equal names stay apart
      read.names.push_back(rec.name);
      read.rows.push_back(withoutBlanks(rec.text));
    }
  }
  const std::vector<std::string>& records = read.rows;
  if (records.size() != 2)
    inputError("alignment file '" + path + "' holds " + std::to_string(records.size()) +
               (records.size() == 1 ? " record" : " records") + "; expected two");
  if (records[0].size() != records[1].size())
    inputError("alignment file '" + path + "': its two records differ in length (" + std::to_string(records[0].size()) +
               " and " + std::to_string(records[1].size()) + " characters)");
  // The length of the path is stated with the tree code, which has a largest value.
  if (records[0].size() > static_cast<std::size_t>(MAX_TREE_CODE_VALUE))
    inputError("alignment file '" + path + "': its rows have " + std::to_string(records[0].size()) +
               " columns; at most " + std::to_string(MAX_TREE_CODE_VALUE) + " can be scored");
  AlignmentFile a;
  a.names = read.names;
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
    if (standardResidues(a.rows[r]).empty())
      inputError("alignment file '" + path + "': no standard residues left in its " + (r == 0 ? "first" : "second") +
                 " row");
  return a;
}

}  // namespace seqcorvane
