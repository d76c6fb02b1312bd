// The substitution model M = S D S^-1, its powers M^K and the Dirichlet priors
// of the machine's transitions per distance K.
//
// Data files. Each is validated as it is read; a defect ends the run with one
// line naming the file (as found) and, where it applies, the line:
//  - a matrix file holds exactly 20 x 20 numbers separated by any whitespace,
//    row-major; a token that is not a number, too few numbers and too many
//    (any text after the 400th number) are all rejected;
//  - the priors file holds comment lines (first character '#') and exactly
//    1000 data lines "K a_M1 a_M2 a_I1 a_I2 a_I3": six fields, no more and no
//    fewer, K = 1, 2, ..., 1000 in order, every alpha a number >= 0, every line
//    at most 999 characters; a blank line is an error; the last line is read
//    whether or not a newline ends it.
//
// Each file is read and parsed once per process: the parsed contents are kept
// in a process-wide cache keyed by the file's resolved path, so that the many
// models a distance search builds cost no file reading, and a file that
// changes on disk while the program runs cannot change the model half way
// through the run. Every model still owns its matrices; the priors table,
// which is read-only, is shared between the models through a shared pointer.
#include "SubmatClass.h"

#include <climits>
#include <cstdlib>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <locale>
#include <sstream>

#include "check.h"
#include "dataFiles.h"

namespace {

constexpr std::size_t MAX_PRIORS_LINE_LENGTH = 999;
constexpr std::size_t N_PRIORS = 1000;

long modelCount = 0;

template <typename T>
bool parseWhole(const std::string& token, T& value) {
  std::istringstream in(token);
  in.imbue(std::locale::classic());
  in >> value;
  return !in.fail() && in.peek() == std::char_traits<char>::eof();
}

// A number in the stream's usual floating-point notation, the whole token.
bool parseNumber(const std::string& token, double& value) { return parseWhole(token, value); }
// A decimal integer, the whole token.
bool parseInteger(const std::string& token, long& value) { return parseWhole(token, value); }

// The cache key of a data file: its resolved path, which also tells apart the
// files that one relative path names from different working directories.
std::string fileKey(const std::string& path) {
  char resolved[PATH_MAX + 1];
  if (::realpath(path.c_str(), resolved) == nullptr) fatalError(path + ": cannot open for reading");
  return resolved;
}

std::map<std::string, Matrix>& matrixCache() {
  static std::map<std::string, Matrix> cache;
  return cache;
}

std::map<std::string, std::shared_ptr<const SubmatClass_t::PriorsTable>>& priorsCache() {
  static std::map<std::string, std::shared_ptr<const SubmatClass_t::PriorsTable>> cache;
  return cache;
}

Matrix parseMatrixFile(const std::string& path, std::size_t n) {
  std::ifstream infile(path);
  if (!infile) fatalError(path + ": cannot open for reading");
  noteDataFileRead();
  std::vector<double> values;
  values.reserve(n * n);
  std::string line, token;
  long lineNo = 0;
  while (std::getline(infile, line)) {
    ++lineNo;
    std::istringstream tokens(line);
    while (tokens >> token) {
      double v = 0;
      if (!parseNumber(token, v)) fatalError(path + ":" + std::to_string(lineNo) + ": '" + token + "' is not a number");
      values.push_back(v);
    }
  }
  if (infile.bad()) fatalError(path + ": read error");
  if (values.size() != n * n)
    fatalError(path + ": expected " + std::to_string(n * n) + " numbers, found " + std::to_string(values.size()));
  Matrix m(n, std::vector<double>(n));
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) m[i][j] = values[i * n + j];
  return m;
}

SubmatClass_t::PriorsTable parsePriorsFile(const std::string& path) {
  std::ifstream infile(path);
  if (!infile) fatalError(path + ": cannot open for reading");
  noteDataFileRead();
  std::vector<DirichletClass_t> priors_Mstate, priors_Istate;
  priors_Mstate.reserve(N_PRIORS);
  priors_Istate.reserve(N_PRIORS);
  long cntr = 1;  // the K expected on the next data line
  long lineNo = 0;
  std::string line, token;
  while (std::getline(infile, line)) {
    ++lineNo;
    const std::string where = path + ":" + std::to_string(lineNo) + ": ";
    if (line.size() > MAX_PRIORS_LINE_LENGTH)
      fatalError(where + "line longer than " + std::to_string(MAX_PRIORS_LINE_LENGTH) + " characters");
    if (!line.empty() && line[0] == '#') continue;
    std::vector<std::string> fields;
    std::istringstream tokens(line);
    while (tokens >> token) fields.push_back(token);
    if (fields.empty()) fatalError(where + "blank line (expected K and five concentration parameters)");
    if (fields.size() != 6)
      fatalError(where + "expected 6 fields (K and five concentration parameters), found " +
                 std::to_string(fields.size()));
    long pamK = 0;
    if (!parseInteger(fields[0], pamK)) fatalError(where + "K '" + fields[0] + "' is not an integer");
    if (cntr > static_cast<long>(N_PRIORS))
      fatalError(where + "more than " + std::to_string(N_PRIORS) + " data lines (K runs from 1 to " +
                 std::to_string(N_PRIORS) + ")");
    if (pamK != cntr) fatalError(where + "expected K = " + std::to_string(cntr) + ", found " + fields[0]);
    ++cntr;
    std::vector<double> alpha(5);
    for (std::size_t f = 1; f < 6; ++f) {
      if (!parseNumber(fields[f], alpha[f - 1])) fatalError(where + "'" + fields[f] + "' is not a number");
      if (alpha[f - 1] < 0) fatalError(where + "negative concentration parameter " + fields[f]);
    }
    priors_Mstate.emplace_back(2, std::vector<double>{alpha[0], alpha[1]});
    priors_Istate.emplace_back(3, std::vector<double>{alpha[2], alpha[3], alpha[4]});
  }
  if (infile.bad()) fatalError(path + ": read error");
  if (priors_Mstate.size() != N_PRIORS)
    fatalError(path + ": expected " + std::to_string(N_PRIORS) + " data lines (K = 1 to " + std::to_string(N_PRIORS) +
               "), found " + std::to_string(priors_Mstate.size()));
  SC_CHECK(priors_Istate.size() == 1000);
  SubmatClass_t::PriorsTable table;
  table.push_back(std::move(priors_Mstate));
  table.push_back(std::move(priors_Istate));
  return table;
}

std::shared_ptr<const SubmatClass_t::PriorsTable> sharedPriors(const std::string& path) {
  auto& cache = priorsCache();
  const std::string key = fileKey(path);
  auto it = cache.find(key);
  if (it == cache.end())
    it = cache.emplace(key, std::make_shared<const SubmatClass_t::PriorsTable>(parsePriorsFile(path))).first;
  return it->second;
}

}  // namespace

SubmatClass_t::SubmatClass_t(int K0) {
  alphabet = "ARNDCQEGHILKMFPSTWYV";
  std::fill(std::begin(idx), std::end(idx), -1);
  for (std::size_t i = 0; i < alphabet.size(); ++i) {
    aa2idx[alphabet[i]] = static_cast<int>(i);
    idx[static_cast<unsigned char>(alphabet[i])] = static_cast<int>(i);
  }
  K = 1;
  S = readMatrix(findDataFile("S_double_precision.txt"));
  D = readMatrix(findDataFile("D_double_precision.txt"));
  Sinv = readMatrix(findDataFile("S_inv_double_precision.txt"));
  M = matrixMultiply(S, matrixMultiply(D, Sinv));
  exp(K0);
  priors = sharedPriors(findDataFile("DirichletPriorsGivenN.txt"));
  ++modelCount;
}

long SubmatClass_t::modelsBuilt() { return modelCount; }

Matrix SubmatClass_t::readMatrix(std::string fileName) {
  const std::size_t n = alphabet.length();
  auto& cache = matrixCache();
  const std::string key = fileKey(fileName) + '\n' + std::to_string(n);
  auto it = cache.find(key);
  if (it == cache.end()) it = cache.emplace(key, parseMatrixFile(fileName, n)).first;
  return it->second;
}

SubmatClass_t::PriorsTable SubmatClass_t::readDirichletPriors(std::string fileName) { return *sharedPriors(fileName); }

void SubmatClass_t::exp(int K) {
  // The conditions' text is what a failure reports; kept as written.
  // clang-format off
  SC_CHECK(K>0);
  SC_CHECK(K<=1000);
  // clang-format on
  this->K = K;
  if (K == 1) {
    MpowK = M;
  } else {
    Matrix DpowK = D;
    const double k = static_cast<double>(K);
    for (std::size_t i = 0; i < DpowK.size(); ++i) DpowK[i][i] = std::pow(DpowK[i][i], k);
    MpowK = matrixMultiply(S, matrixMultiply(DpowK, Sinv));
  }
  normalizeMpowK();
}

void SubmatClass_t::normalizeMpowK() {
  // clang-format off
  SC_CHECK(K>0);
  // clang-format on
  const std::size_t n = alphabet.length();
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j)
      if (MpowK[i][j] < 0) MpowK[i][j] = 0;
  std::vector<double> colsum(n, 0.0);
  for (std::size_t j = 0; j < n; ++j)
    for (std::size_t i = 0; i < n; ++i) colsum[j] += MpowK[i][j];
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) MpowK[i][j] /= colsum[j];
}

double SubmatClass_t::pr(char a, char b) const {
  const int x = idx[static_cast<unsigned char>(a)];
  if (x < 0) checkFailed("it != aa2idx.end()", __FILE__, __LINE__);
  const int y = idx[static_cast<unsigned char>(b)];
  if (y < 0) checkFailed("it != aa2idx.end()", __FILE__, __LINE__);
  return MpowK[x][y];
}

double SubmatClass_t::pr(unsigned int x, unsigned int y) const {
  const unsigned int n = static_cast<unsigned int>(alphabet.length());
  SC_CHECK(x < n);
  SC_CHECK(y < n);
  return MpowK[x][y];
}

int SubmatClass_t::getK() const { return K; }

std::string SubmatClass_t::getAlphabet() const { return alphabet; }

int SubmatClass_t::getIndx(char x) const {
  using std::string;
  // clang-format off
  SC_CHECK(alphabet.find(x)!=string::npos);
  // clang-format on
  return aa2idx.at(x);
}

double SubmatClass_t::getS(int x, int y) const {
  const int n = static_cast<int>(alphabet.length());
  SC_CHECK(x < n && x >= 0);
  SC_CHECK(y < n && y >= 0);
  return S[x][y];
}

double SubmatClass_t::getSinv(int x, int y) const {
  const int n = static_cast<int>(alphabet.length());
  SC_CHECK(x < n && x >= 0);
  SC_CHECK(y < n && y >= 0);
  return Sinv[x][y];
}

double SubmatClass_t::getD(int x, int y) const {
  const int n = static_cast<int>(alphabet.length());
  SC_CHECK(x < n && x >= 0);
  SC_CHECK(y < n && y >= 0);
  return D[x][y];
}

DirichletClass_t SubmatClass_t::getDirichlet(std::string state) const {
  if (state == "match") return (*priors)[0][K - 1];
  if (state == "insert") return (*priors)[1][K - 1];
  checkFailed("getDirichlet state string invalid", __FILE__, __LINE__);
}

// Diagnostic: M^K with its row and column sums, and the priors at K. Leaves
// standard output in fixed notation (precision 2 after the priors).
void SubmatClass_t::printMpowK() const {
  // clang-format off
  SC_CHECK(K>0);
  // clang-format on
  const std::size_t n = alphabet.length();
  std::cout << "Printing details of M^K when K=" << K << std::endl;
  std::cout << std::fixed << std::setprecision(3);
  std::cout << std::setw(7) << "";
  for (char c : alphabet) std::cout << std::setw(7) << c;
  std::cout << " | "
            << "rowsum" << std::endl;
  for (std::size_t i = 0; i < n; ++i) {
    std::cout << std::setw(7) << alphabet[i];
    double rowsum = 0;
    for (std::size_t j = 0; j < n; ++j) {
      rowsum += MpowK[i][j];
      std::cout << std::setw(7) << MpowK[i][j];
    }
    std::cout << " | " << std::setw(7) << rowsum << std::endl;
  }
  std::cout << "------" << std::endl;
  std::cout << std::setw(7) << "colsum";
  for (std::size_t j = 0; j < n; ++j) {
    double colsum = 0;
    for (std::size_t i = 0; i < n; ++i) colsum += MpowK[i][j];
    std::cout << std::setw(7) << colsum;
  }
  std::cout << std::endl;
  std::cout << "Printing associated Dirichlet priors for K=" << K << std::endl;
  std::cout << "Params for M-state priors: " << std::endl;
  getDirichlet("match").printParams();
  std::cout << "Params for I-state priors: " << std::endl;
  getDirichlet("insert").printParams();
}
