// Integrity of the model data files shipped in data/: counts, formats and the
// numerical properties the program relies on (M = S*D*Sinv is a proper
// column-stochastic substitution matrix, the null model is a distribution that
// matches M's stationary frequencies, the priors table is complete).

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const int n = 20;
const std::string residues = "ARNDCQEGHILKMFPSTWYV";  // row/column order of the matrices
typedef std::vector<std::vector<double>> Mat;

std::string dataPath(const std::string& name) {
    return std::string(SEQCORVANE_SOURCE_DIR) + "/data/" + name;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot open " << path;
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Every whitespace-separated token must be a complete finite number.
std::vector<double> numbers(const std::string& text, const std::string& what) {
    std::istringstream in(text);
    std::vector<double> v;
    std::string tok;
    while (in >> tok) {
        char* end = nullptr;
        double x = std::strtod(tok.c_str(), &end);
        EXPECT_TRUE(*end == '\0' && std::isfinite(x)) << what << ": bad token '" << tok << "'";
        v.push_back(x);
    }
    return v;
}

Mat readMat(const std::string& name) {
    std::vector<double> v = numbers(slurp(dataPath(name)), name);
    EXPECT_EQ(v.size(), 400u) << name;
    v.resize(400, 0.0);
    Mat m(n, std::vector<double>(n));
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) m[i][j] = v[i * n + j];
    return m;
}

Mat mul(const Mat& a, const Mat& b) {
    Mat c(n, std::vector<double>(n, 0.0));
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < n; ++k)
            for (int j = 0; j < n; ++j) c[i][j] += a[i][k] * b[k][j];
    return c;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::string::size_type pos = 0, nl;
    while ((nl = text.find('\n', pos)) != std::string::npos) {
        out.push_back(text.substr(pos, nl - pos));
        pos = nl + 1;
    }
    EXPECT_EQ(pos, text.size()) << "last line lacks its newline";
    return out;
}

}  // namespace

TEST(DataIntegrity, EigenDecompositionGivesColumnStochasticM) {
    Mat S = readMat("S_double_precision.txt");
    Mat D = readMat("D_double_precision.txt");
    Mat Sinv = readMat("S_inv_double_precision.txt");

    Mat I = mul(S, Sinv);
    double devId = 0.0;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            devId = std::fmax(devId, std::fabs(I[i][j] - (i == j ? 1.0 : 0.0)));
            if (i != j) {
                EXPECT_EQ(D[i][j], 0.0) << "D off-diagonal at " << i << "," << j;
            }
        }
    EXPECT_LT(devId, 1e-10);

    Mat M = mul(S, mul(D, Sinv));
    for (int j = 0; j < n; ++j) {
        double colsum = 0.0;
        for (int i = 0; i < n; ++i) {
            EXPECT_GE(M[i][j], -1e-12) << "M(" << i << "," << j << ")";
            colsum += M[i][j];
        }
        EXPECT_NEAR(colsum, 1.0, 1e-12) << "column " << j;
        // One unit of distance is a small step: each residue most likely stays.
        EXPECT_GT(M[j][j], 0.9) << "diagonal " << j;
    }
}

TEST(DataIntegrity, NullModelIsStationaryDistributionOfM) {
    std::string text = slurp(dataPath("protSeqNullMMLEstimatesOrder0.txt"));
    std::vector<std::string> ls = lines(text);
    ASSERT_EQ(ls.size(), 20u);
    const std::string alphabetical = "ACDEFGHIKLMNPQRSTVWY";
    std::vector<double> pi(n, -1.0);
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
        const std::string& l = ls[i];
        ASSERT_GE(l.size(), 3u) << l;
        EXPECT_EQ(l[0], alphabetical[i]) << l;
        EXPECT_EQ(l[1], ' ') << l;
        std::vector<double> v = numbers(l.substr(2), "null model");
        ASSERT_EQ(v.size(), 1u) << l;
        EXPECT_GT(v[0], 0.0) << l;
        pi[residues.find(l[0])] = v[0];
        sum += v[0];
    }
    EXPECT_NEAR(sum, 1.0, 1e-12);

    // Built from the same model, the null frequencies must be M's fixed point.
    Mat M = mul(readMat("S_double_precision.txt"),
                mul(readMat("D_double_precision.txt"), readMat("S_inv_double_precision.txt")));
    for (int i = 0; i < n; ++i) {
        double mpi = 0.0;
        for (int j = 0; j < n; ++j) mpi += M[i][j] * pi[j];
        EXPECT_NEAR(mpi, pi[i], 1e-10) << residues[i];
    }
}

TEST(DataIntegrity, PriorsTableCoversEveryDistance) {
    std::vector<std::string> ls = lines(slurp(dataPath("DirichletPriorsGivenN.txt")));
    int expectedK = 1;
    for (const std::string& l : ls) {
        EXPECT_LT(l.size(), 1000u);
        if (!l.empty() && l[0] == '#') continue;
        std::vector<double> v = numbers(l, "priors line " + std::to_string(expectedK));
        ASSERT_EQ(v.size(), 6u) << "'" << l << "'";
        EXPECT_EQ(l.substr(0, l.find_first_of(" \t")), std::to_string(expectedK)) << l;
        for (int f = 1; f < 6; ++f) EXPECT_GT(v[f], 1.0) << l;
        ++expectedK;
    }
    EXPECT_EQ(expectedK - 1, 1000);
}
