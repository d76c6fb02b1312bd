// The substitution model M = S D S^-1, its powers M^K and the Dirichlet priors
// of the machine's transitions per distance K.
//
// Data files, each checked as it is read; a defect ends the run with one line
// naming the file and, where it applies, the line:
//  - a matrix file: its first 20 x 20 whitespace-separated numbers, row-major,
//    make the matrix; what follows them is ignored. Fewer numbers, or a token
//    among them that is not a number, are errors; so is a number that is not
//    finite.
//  - the priors file: comment lines (first character '#') and exactly 1000
//    data lines "K a_M1 a_M2 a_I1 a_I2 a_I3", K = 1, 2, ..., 1000 in order,
//    every alpha finite and above 1, so that every mode the machine takes
//    from them lies strictly between 0 and 1; at most 999 characters a line.
// Every power M^K is checked as it is formed: finite entries in [0, 1] (within
// 1e-9); the error names the three matrix files and the distance.
//
// The parsed files and the powers are kept once per process for each model
// directory, shared read-only by every model built from it: a file that
// changes on disk while the program runs cannot change the model half way.
#include "SubmatClass.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

#include "check.h"
#include "dataFiles.h"
#include "numberText.h"
#include "text.h"

namespace seqcorvane::detail {

struct SubstitutionData {
  std::string files;  // the three matrix files, for messages
  Matrix S, D, Sinv, M;
  bool diagonalD = false;  // D without off-diagonal entries: its powers scale rows
  std::shared_ptr<const SubmatClass_t::PriorsTable> priors;

  // M^K for K = 1..1000, formed on first use.
  std::shared_ptr<const SubmatClass_t::Power> power(int K) const;

 private:
  mutable std::mutex mutex;
  mutable std::array<std::shared_ptr<const SubmatClass_t::Power>, 1001> powers;
};

namespace {

constexpr std::size_t N = 20;
constexpr std::size_t MAX_PRIORS_LINE_LENGTH = 999;
constexpr std::size_t N_PRIORS = 1000;

std::atomic<long> modelCount{0};
std::atomic<long> powerCount{0};

// The resolved path of a data file: the key of the caches.
std::string fileKey(const std::string& path) {
  char resolved[PATH_MAX + 1];
  if (::realpath(path.c_str(), resolved) == nullptr) modelError(path + ": cannot open for reading");
  return resolved;
}

std::mutex cacheMutex;

Matrix parseMatrixFile(const std::string& path) {
  std::ifstream infile(path);
  if (!infile) modelError(path + ": cannot open for reading");
  noteDataFileRead();
  std::vector<double> values;
  values.reserve(N * N);
  std::string line, token;
  long lineNo = 0;
  while (values.size() < N * N && std::getline(infile, line)) {
    ++lineNo;
    std::istringstream tokens(line);
    while (values.size() < N * N && tokens >> token) {
      double v = 0;
      if (!parseNumber(token, v))
        modelError(path + ":" + std::to_string(lineNo) + ": '" + excerpt(token) + "' is not a number");
      if (!std::isfinite(v))
        modelError(path + ":" + std::to_string(lineNo) + ": '" + excerpt(token) + "' is not finite");
      values.push_back(v);
    }
  }
  if (infile.bad()) modelError(path + ": read error");
  if (values.size() != N * N)
    modelError(path + ": expected " + std::to_string(N * N) + " numbers, found " + std::to_string(values.size()));
  Matrix m(N, std::vector<double>(N));
  for (std::size_t i = 0; i < N; ++i)
    for (std::size_t j = 0; j < N; ++j) m[i][j] = values[i * N + j];
  return m;
}

SubmatClass_t::PriorsTable parsePriorsFile(const std::string& path) {
  std::ifstream infile(path);
  if (!infile) modelError(path + ": cannot open for reading");
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
      modelError(where + "line longer than " + std::to_string(MAX_PRIORS_LINE_LENGTH) + " characters");
    if (!line.empty() && line[0] == '#') continue;
    std::vector<std::string> fields;
    std::istringstream tokens(line);
    while (tokens >> token) fields.push_back(token);
    if (fields.empty()) modelError(where + "blank line (expected K and five concentration parameters)");
    if (fields.size() != 6)
      modelError(where + "expected 6 fields (K and five concentration parameters), found " +
                 std::to_string(fields.size()));
    long pamK = 0;
    if (!parseInteger(fields[0], pamK)) modelError(where + "K '" + excerpt(fields[0]) + "' is not an integer");
    if (cntr > static_cast<long>(N_PRIORS))
      modelError(where + "more than " + std::to_string(N_PRIORS) + " data lines (K runs from 1 to " +
                 std::to_string(N_PRIORS) + ")");
    if (pamK != cntr) modelError(where + "expected K = " + std::to_string(cntr) + ", found " + fields[0]);
    ++cntr;
    std::vector<double> alpha(5);
    for (std::size_t f = 1; f < 6; ++f) {
      if (!parseNumber(fields[f], alpha[f - 1])) modelError(where + "'" + excerpt(fields[f]) + "' is not a number");
      if (!(std::isfinite(alpha[f - 1]) && alpha[f - 1] > 1))
        modelError(where + "concentration parameter " + fields[f] + " is not a finite number above 1");
    }
    priors_Mstate.emplace_back(2, std::vector<double>{alpha[0], alpha[1]});
    priors_Istate.emplace_back(3, std::vector<double>{alpha[2], alpha[3], alpha[4]});
    // The modes must lie strictly between 0 and 1 (parameters so large that
    // their sum overflows would give modes of 0).
    for (const DirichletClass_t* prior : {&priors_Mstate.back(), &priors_Istate.back()})
      for (double m : prior->getMode())
        if (!(m > 0 && m < 1)) modelError(where + "the parameters give a mode outside (0, 1)");
  }
  if (infile.bad()) modelError(path + ": read error");
  if (priors_Mstate.size() != N_PRIORS)
    modelError(path + ": expected " + std::to_string(N_PRIORS) + " data lines (K = 1 to " + std::to_string(N_PRIORS) +
               "), found " + std::to_string(priors_Mstate.size()));
  SC_CHECK(priors_Istate.size() == 1000);
  SubmatClass_t::PriorsTable table;
  table.push_back(std::move(priors_Mstate));
  table.push_back(std::move(priors_Istate));
  return table;
}

// The parsed files of each model directory, by the resolved paths of its files.
std::shared_ptr<const SubstitutionData> sharedData(const std::string& dir) {
  const std::string sPath = dir + "/S_double_precision.txt";
  const std::string dPath = dir + "/D_double_precision.txt";
  const std::string sinvPath = dir + "/S_inv_double_precision.txt";
  const std::string priorsPath = dir + "/DirichletPriorsGivenN.txt";
  const std::string key =
      fileKey(sPath) + '\n' + fileKey(dPath) + '\n' + fileKey(sinvPath) + '\n' + fileKey(priorsPath);
  static std::map<std::string, std::shared_ptr<const SubstitutionData>> cache;
  std::lock_guard<std::mutex> lock(cacheMutex);
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  auto d = std::make_shared<SubstitutionData>();
  d->files = sPath + ", " + dPath + " and " + sinvPath;
  d->S = parseMatrixFile(sPath);
  d->D = parseMatrixFile(dPath);
  d->Sinv = parseMatrixFile(sinvPath);
  d->M = matrixMultiply(d->S, matrixMultiply(d->D, d->Sinv));
  d->diagonalD = true;
  for (std::size_t i = 0; i < N; ++i)
    for (std::size_t j = 0; j < N; ++j) d->diagonalD = d->diagonalD && (i == j || d->D[i][j] == 0.0);
  d->priors = std::make_shared<const SubmatClass_t::PriorsTable>(parsePriorsFile(priorsPath));
  return cache.emplace(key, std::move(d)).first->second;
}

}  // namespace

std::shared_ptr<const SubmatClass_t::Power> SubstitutionData::power(int K) const {
  std::lock_guard<std::mutex> lock(mutex);
  if (powers[K]) return powers[K];
  // M^K = S D^K S^-1: the diagonal of D raised to K, the off-diagonal entries
  // as read.
  Matrix MpowK;
  if (K == 1) {
    MpowK = M;
  } else {
    Matrix DpowK = D;
    const double k = static_cast<double>(K);
    for (std::size_t i = 0; i < DpowK.size(); ++i) DpowK[i][i] = std::pow(DpowK[i][i], k);
    if (diagonalD) {
      // D^K S^-1 row by row: each element the one product the full sum from
      // k = 0 adds to zeros, so the same value to the last bit.
      Matrix scaled = Sinv;
      for (std::size_t i = 0; i < N; ++i)
        for (std::size_t j = 0; j < N; ++j) scaled[i][j] = 0.0 + DpowK[i][i] * Sinv[i][j];
      MpowK = matrixMultiply(S, scaled);
    } else {
      MpowK = matrixMultiply(S, matrixMultiply(DpowK, Sinv));
    }
  }
  SubmatClass_t::normalizeMpowK(MpowK);
  auto p = std::make_shared<SubmatClass_t::Power>();
  for (std::size_t i = 0; i < N; ++i)
    for (std::size_t j = 0; j < N; ++j) {
      const double v = MpowK[i][j];
      if (!(std::isfinite(v) && v >= 0 && v <= 1 + 1e-9))
        modelError("the substitution matrix files " + files + " give M^" + std::to_string(K) +
                   " an entry that is not a probability (" + formatFixed(v, 6) + ")");
      (*p)[i * N + j] = v;
    }
  ++powerCount;
  powers[K] = p;
  return p;
}

SubmatClass_t::SubmatClass_t(int K0, const std::string& dir) {
  alphabet = "ARNDCQEGHILKMFPSTWYV";
  idx.fill(-1);
  for (std::size_t i = 0; i < alphabet.size(); ++i) {
    aa2idx[alphabet[i]] = static_cast<int>(i);
    idx[static_cast<unsigned char>(alphabet[i])] = static_cast<int>(i);
  }
  K = 1;
  data = sharedData(dir);
  exp(K0);
  ++modelCount;
}

long SubmatClass_t::modelsBuilt() { return modelCount.load(); }
long SubmatClass_t::powersFormed() { return powerCount.load(); }

Matrix SubmatClass_t::readMatrix(const std::string& fileName) { return parseMatrixFile(fileName); }

SubmatClass_t::PriorsTable SubmatClass_t::readDirichletPriors(const std::string& fileName) {
  return parsePriorsFile(fileName);
}

void SubmatClass_t::exp(int K) {
  // The conditions' text is what a failure reports; kept as written.
  // clang-format off
  SC_CHECK(K>0);
  SC_CHECK(K<=1000);
  // clang-format on
  this->K = K;
  MpowK = data->power(K);
}

void SubmatClass_t::normalizeMpowK(Matrix& MpowK) {
  const std::size_t n = MpowK.size();
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
  return (*MpowK)[x * N + y];
}

double SubmatClass_t::pr(unsigned int x, unsigned int y) const {
  const unsigned int n = static_cast<unsigned int>(alphabet.length());
  SC_CHECK(x < n);
  SC_CHECK(y < n);
  return (*MpowK)[x * N + y];
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

DirichletClass_t SubmatClass_t::getDirichlet(std::string state) const {
  if (state == "match") return (*data->priors)[0][K - 1];
  if (state == "insert") return (*data->priors)[1][K - 1];
  checkFailed("getDirichlet state string invalid", __FILE__, __LINE__);
}

}  // namespace seqcorvane::detail
