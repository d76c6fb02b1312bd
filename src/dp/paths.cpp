#include "paths.h"

#include <cstddef>
#include <cstdint>

#include "check.h"
#include "seqcorvane/seqcorvane.h"
#include "text.h"

namespace seqcorvane::detail {

std::string algn2Fsastr(const std::vector<std::string>& algn) {
  SC_CHECK(algn.size() >= 2);
  SC_CHECK(algn[0].length() == algn[1].length());
  std::string fsastr(algn[0].length(), 'm');
  for (std::size_t col = 0; col < fsastr.length(); ++col) {
    if (algn[0][col] == '-') {
      fsastr[col] = 'i';
    } else if (algn[1][col] == '-') {
      fsastr[col] = 'd';
    }
  }
  return fsastr;
}

std::vector<std::string> fsastr2Algn(const std::string& fsastr, const std::string& S, const std::string& T) {
  std::vector<std::string> algn(2);
  algn[0].reserve(fsastr.length());
  algn[1].reserve(fsastr.length());
  std::size_t i = 0, j = 0;
  for (const char state : fsastr) {
    SC_CHECK(state == 'm' || state == 'd' || state == 'i');
    // A state that consumes a residue must find one left in its sequence.
    if (state != 'i') SC_CHECK(i < S.length());
    if (state != 'd') SC_CHECK(j < T.length());
    algn[0].push_back(state == 'i' ? '-' : S[i++]);
    algn[1].push_back(state == 'd' ? '-' : T[j++]);
  }
  // The conditions' text is what a failure reports; kept as written.
  // clang-format off
  SC_CHECK(S.length()==i);
  SC_CHECK(T.length()==j);
  // clang-format on
  SC_CHECK(algn[0].length() == fsastr.length());
  SC_CHECK(algn[1].length() == fsastr.length());
  return algn;
}

std::string flanks(std::size_t nS, std::size_t nT) { return std::string(nS, 'd') + std::string(nT, 'i'); }

int stateOfLetter(char c) {
  switch (c) {
    case 'm':
      return stateMatch;
    case 'd':
      return stateDelete;
    case 'i':
      return stateInsert;
    default:
      return -1;
  }
}

namespace {

// A path of the letters m, d and i only, for the public calls.
void requirePathLetters(const std::string& path) {
  for (std::size_t k = 0; k < path.size(); ++k)
    if (stateOfLetter(path[k]) < 0)
      inputError("column " + std::to_string(k + 1) + " of the path holds '" + characterAt(path, k) +
                 "': a path holds only 'm', 'd' and 'i'");
}

}  // namespace

}  // namespace seqcorvane::detail

std::vector<std::string> seqcorvane::pathRows(const std::string& path, const std::string& s, const std::string& t) {
  detail::requirePathLetters(path);
  std::size_t i = 0, j = 0;
  for (const char c : path) i += c != 'i', j += c != 'd';
  if (i != s.size() || j != t.size())
    detail::inputError("the path takes " + std::to_string(i) + " and " + std::to_string(j) +
                       " residues; the sequences hold " + std::to_string(s.size()) + " and " +
                       std::to_string(t.size()));
  return detail::fsastr2Algn(path, s, t);
}

std::string seqcorvane::rowsPath(const std::string& rowS, const std::string& rowT) {
  if (rowS.size() != rowT.size())
    detail::inputError("the two rows differ in length (" + std::to_string(rowS.size()) + " and " +
                       std::to_string(rowT.size()) + " columns)");
  for (std::size_t k = 0; k < rowS.size(); ++k)
    if (rowS[k] == '-' && rowT[k] == '-') detail::inputError("column " + std::to_string(k + 1) + " holds two gaps");
  return detail::algn2Fsastr({rowS, rowT});
}

int seqcorvane::gapOpenings(const std::string& path) {
  detail::requirePathLetters(path);
  int n = 0;
  for (std::size_t l = 0; l < path.size(); ++l)
    if (path[l] != 'm' && (l == 0 || path[l - 1] != path[l])) ++n;
  return n;
}

double seqcorvane::percentIdentity(const std::vector<std::string>& rows) {
  if (rows.size() != 2) detail::inputError("an alignment has two rows, not " + std::to_string(rows.size()));
  if (rows[0].size() != rows[1].size())
    detail::inputError("the two rows differ in length (" + std::to_string(rows[0].size()) + " and " +
                       std::to_string(rows[1].size()) + " columns)");
  long same = 0;
  for (std::size_t l = 0; l < rows[0].size(); ++l) same += rows[0][l] == rows[1][l];
  return rows[0].empty() ? 0.0 : static_cast<double>(100 * same) / static_cast<double>(rows[0].size());
}
