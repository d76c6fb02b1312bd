#include "fasta.h"

#include <cstring>

#include "check.h"

namespace {

const char* const RESIDUES = "ACDEFGHIKLMNPQRSTVWY";

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

bool isResidue(char c) { return c != '\0' && std::strchr(RESIDUES, c) != nullptr; }

std::string removeNonStandardAA(const std::string& seq) {
  std::string kept;
  kept.reserve(seq.size());
  for (char c : seq)
    if (isResidue(c)) kept.push_back(c);
  return kept;
}

namespace seqcorvane {

std::string standardResidues(const std::string& text) { return removeNonStandardAA(text); }

std::size_t droppedCharacters(const std::string& text) {
  std::size_t dropped = 0;
  for (char c : text)
    if (!isResidue(c) && !droppedQuietly(c)) ++dropped;
  return dropped;
}

std::vector<Record> readFasta(const std::string& path, std::size_t* leadingCharacters) {
  return fastaRecords(readTextLines(path), leadingCharacters);
}

std::vector<Record> fastaRecords(const std::vector<std::string>& lines, std::size_t* leadingCharacters) {
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
  if (records.empty()) {
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

std::vector<std::string> readFastaFile(const std::string& fileName) {
  std::vector<std::string> texts;
  for (const seqcorvane::Record& r : seqcorvane::readFasta(fileName)) texts.push_back(r.text);
  return texts;
}

std::vector<seqcorvane::Record> getAASeqs(const std::vector<std::string>& fileNames) {
  SC_CHECK(fileNames.size() == 2);
  std::vector<seqcorvane::Record> seqs;
  for (const std::string& name : fileNames) {
    std::vector<seqcorvane::Record> records = seqcorvane::readFasta(name);
    if (records.size() != 1)
      fatalError("sequence file '" + name + "' holds " + std::to_string(records.size()) +
                 " records; expected exactly one");
    seqs.push_back(records[0]);
  }
  return seqs;
}
