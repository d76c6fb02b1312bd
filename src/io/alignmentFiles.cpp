// Alignment files: the reader of an alignment to score, and the column
// confidences (the writers of the formats are alignmentFormats.cpp's).
#include <algorithm>
#include <cctype>
#include <cstddef>
#include <sstream>

#include "check.h"
#include "fasta.h"
#include "numberText.h"
#include "residues.h"
#include "seqcorvane/io.h"

namespace seqcorvane {

using namespace detail;

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

// Clustal: a header line, then blocks of "name row [count]" lines; lines
// that begin with a blank mark conservation; blank lines part the blocks.
NamedRows clustalRows(const std::vector<std::string>& lines, size_t first, const std::string& path) {
  NamedRows r;
  for (size_t k = first + 1; k < lines.size(); ++k) {
    const std::string& line = lines[k];
    if (line.find_first_not_of(" \t\r") == std::string::npos || line[0] == ' ' || line[0] == '\t') continue;
    std::istringstream words(line);
    std::string name, row, rest;
    words >> name >> row;
    if (row.empty()) notAnAlignment(path, k + 1, "'" + name + "' without a row of the alignment");
    if (words >> rest &&
        !std::all_of(rest.begin(), rest.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
      notAnAlignment(path, k + 1, "more than a name, a row and a count");
    r.add(name, row);
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
    if (line.find_first_not_of(" \t\r") == std::string::npos || line[0] == '#') continue;
    std::istringstream words(line);
    std::string name, row, rest;
    words >> name >> row;
    if (row.empty() || words >> rest) notAnAlignment(path, k + 1, "not a line of a name and a row");
    std::replace(row.begin(), row.end(), '.', '-');
    r.add(name, row);
  }
  return r;
}

}  // namespace

AlignmentFile readAlignmentFile(const std::string& path) {
  const std::vector<std::string> lines = readTextLines(path);
  size_t first = 0;
  while (first < lines.size() && lines[first].find_first_not_of(" \t\r") == std::string::npos) ++first;
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
      read.rows.push_back(rec.text);
    }
  }
  const std::vector<std::string>& records = read.rows;
  if (records.size() != 2)
    inputError("alignment file '" + path + "' holds " + std::to_string(records.size()) +
               (records.size() == 1 ? " record" : " records") + "; expected two");
  if (records[0].size() != records[1].size())
    inputError("alignment file '" + path + "': its two records differ in length (" + std::to_string(records[0].size()) +
               " and " + std::to_string(records[1].size()) + " characters)");
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
