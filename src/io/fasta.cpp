#include "fasta.h"

#include "check.h"
#include "residues.h"

namespace seqcorvane {

using namespace detail;

namespace {

// Characters the filter drops without a word: blanks, line ends and digits.
bool droppedQuietly(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || (c >= '0' && c <= '9'); }

// The first word of a header line.
std::string firstWord(const std::string& header) {
  const size_t start = header.find_first_not_of(" \t\r");
  if (start == std::string::npos) return "";
  const size_t end = header.find_first_of(" \t\r", start);
  return header.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

}  // namespace

std::string standardResidues(const std::string& text) {
  std::string kept;
  kept.reserve(text.size());
  for (char c : text)
    if (isResidue(c)) kept.push_back(c);
  return kept;
}

std::size_t droppedCharacters(const std::string& text) {
  std::size_t dropped = 0;
  for (char c : text)
    if (!isResidue(c) && !droppedQuietly(c)) ++dropped;
  return dropped;
}

std::vector<Record> readFasta(const std::string& path, std::size_t* leadingCharacters) {
  return fastaRecords(readTextLines(path), leadingCharacters);
}

std::vector<Record> detail::fastaRecords(const std::vector<std::string>& lines, std::size_t* leadingCharacters) {
  std::vector<Record> records;
  std::string before;
  for (const std::string& line : lines) {
    if (!line.empty() && line[0] == '>') {
      const std::string header = line.substr(1);
      records.push_back(Record{firstWord(header), header, ""});
    } else if (records.empty()) {
      before += line;
    } else {
      records.back().text += line;
    }
  }
  // A file without a header is one record of all its text, unless the text
  // is nothing but blanks and line ends: an empty file holds no record.
  if (records.empty() && before.find_first_not_of(" \t\r\n\v\f") != std::string::npos) {
    records.push_back(Record{"", "", before});
    before.clear();
  }
  if (leadingCharacters != nullptr) {
    *leadingCharacters = 0;
    for (char c : before) *leadingCharacters += !droppedQuietly(c);
  }
  return records;
}

}  // namespace seqcorvane
