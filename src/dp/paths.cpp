#include "paths.h"

#include <cstddef>
#include <cstdint>

#include "check.h"
#include "seqcorvane/seqcorvane.h"

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

}  // namespace seqcorvane::detail

std::vector<std::string> seqcorvane::pathRows(const std::string& path, const std::string& s, const std::string& t) {
  return detail::fsastr2Algn(path, s, t);
}

std::string seqcorvane::rowsPath(const std::string& rowS, const std::string& rowT) {
  return detail::algn2Fsastr({rowS, rowT});
}

int seqcorvane::gapOpenings(const std::string& path) {
  int n = 0;
  for (std::size_t l = 0; l < path.size(); ++l)
    if (path[l] != 'm' && (l == 0 || path[l - 1] != path[l])) ++n;
  return n;
}

double seqcorvane::percentIdentity(const std::vector<std::string>& rows) {
  SC_CHECK(rows.size() == 2 && rows[0].size() == rows[1].size());
  long same = 0;
  for (std::size_t l = 0; l < rows[0].size(); ++l) same += rows[0][l] == rows[1][l];
  return rows[0].empty() ? 0.0 : static_cast<double>(100 * same) / static_cast<double>(rows[0].size());
}
