#include "matchJoints.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "check.h"
#include "dataFiles.h"
#include "numberText.h"
#include "text.h"

namespace seqcorvane::detail {

const char* matchJointsFileName() { return "posteriorMatchJoints.txt"; }

PairTable MatchJoints::at(double k) const {
  SC_CHECK(!K.empty() && K.size() == joints.size());
  if (k <= K.front()) return joints.front();
  if (k >= K.back()) return joints.back();
  const size_t hi = static_cast<size_t>(std::upper_bound(K.begin(), K.end(), k) - K.begin());
  const double w = (std::log(k) - std::log(K[hi - 1])) / (std::log(K[hi]) - std::log(K[hi - 1]));
  PairTable t{};
  for (int a = 0; a < 20; ++a)
    for (int b = 0; b < 20; ++b) t[a][b] = (1 - w) * joints[hi - 1][a][b] + w * joints[hi][a][b];
  return t;
}

namespace {

[[noreturn]] void fault(const std::string& path, int line, const std::string& what) {
  modelError(path + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + what);
}

}  // namespace

MatchJoints readMatchJoints(const std::string& path, const std::string& alphabet) {
  std::ifstream in(path);
  if (!in) fault(path, 0, "cannot open for reading");
  noteDataFileRead();
  MatchJoints m;
  std::array<int, 20> index{};  // file position -> model index
  bool haveAlphabet = false;
  int lineNo = 0, row = 20;
  std::string line;
  while (std::getline(in, line)) {
    ++lineNo;
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    if (row < 20) {
      for (int col = 0; col < 20; ++col) {
        double p;
        if (!(words >> p)) fault(path, lineNo, "expected 20 probabilities in row " + std::to_string(row + 1));
        if (!(p > 0) || !std::isfinite(p))
          fault(path, lineNo, "a probability that is not positive: " + formatGeneral(p));
        m.joints.back()[index[row]][index[col]] = p;
      }
      std::string extra;
      if (words >> extra) fault(path, lineNo, "more than 20 probabilities in a row");
      ++row;
      continue;
    }
    std::string key;
    words >> key;
    if (key == "alphabet") {
      std::string letters;
      words >> letters;
      if (letters.size() != 20) fault(path, lineNo, "the alphabet must have 20 letters");
      for (int x = 0; x < 20; ++x) {
        const size_t at = alphabet.find(letters[x]);
        if (at == std::string::npos || letters.find(letters[x]) != static_cast<size_t>(x))
          fault(path, lineNo,
                "the alphabet '" + excerpt(letters) + "' is not the substitution model's '" + alphabet + "'");
        index[x] = static_cast<int>(at);
      }
      haveAlphabet = true;
    } else if (key == "K") {
      double k;
      if (!haveAlphabet) fault(path, lineNo, "a table before the alphabet line");
      if (!(words >> k) || !(k >= 1 && k <= 1000)) fault(path, lineNo, "the distance must be a number in 1..1000");
      if (!m.K.empty() && !(k > m.K.back())) fault(path, lineNo, "the distances must increase");
      m.K.push_back(k);
      m.joints.emplace_back();
      row = 0;
    } else {
      fault(path, lineNo, "unexpected line: " + line);
    }
  }
  if (row < 20) fault(path, lineNo, "the last table is cut short");
  if (m.K.empty()) fault(path, 0, "no tables");
  for (size_t t = 0; t < m.K.size(); ++t) {
    const PairTable& j = m.joints[t];
    double sum = 0;
    for (int a = 0; a < 20; ++a)
      for (int b = 0; b < 20; ++b) {
        sum += j[a][b];
        if (std::fabs(j[a][b] - j[b][a]) > 1e-9 * j[a][b])
          fault(path, 0, "the table at K " + formatGeneral(m.K[t]) + " is not symmetric");
      }
    if (std::fabs(sum - 1) > 1e-9)
      fault(path, 0, "the table at K " + formatGeneral(m.K[t]) + " sums to " + formatGeneral(sum) + ", not 1");
  }
  return m;
}

}  // namespace seqcorvane::detail
