// The Dirichlet distribution: moments, densities, parameter checks and the
// printed summary.
#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <vector>

#include "DirichletClass.h"
#include "testUtil.h"

TEST(Dirichlet, MeanAndModeOfTwoThree) {
  DirichletClass_t d(2, {2, 3});
  EXPECT_EQ(d.getAlphas(), (std::vector<double>{2, 3}));
  const std::vector<double> mean = d.getMean(), mode = d.getMode();
  ASSERT_EQ(mean.size(), 2u);
  ASSERT_EQ(mode.size(), 2u);
  EXPECT_DOUBLE_EQ(mean[0], 0.4);
  EXPECT_DOUBLE_EQ(mean[1], 0.6);
  EXPECT_DOUBLE_EQ(mode[0], 1.0 / 3);
  EXPECT_DOUBLE_EQ(mode[1], 2.0 / 3);
}

TEST(Dirichlet, AllOnesIsFlatWithoutMode) {
  DirichletClass_t d(3, {1, 1, 1});
  for (double m : d.getMode()) EXPECT_TRUE(std::isnan(m));
  EXPECT_DOUBLE_EQ(d.getPrDensity({0.2, 0.3, 0.5}), 2.0);
  EXPECT_DOUBLE_EQ(d.getPrDensity({4, 5, 6}), 2.0);  // off the simplex too
  EXPECT_NEAR(d.getLogPrDensity({0.2, 0.3, 0.5}), std::log(2.0), 1e-15);
}

TEST(Dirichlet, DensityOfTwoTwoAtCentre) {
  DirichletClass_t d(2, {2, 2});
  EXPECT_DOUBLE_EQ(d.getPrDensity({0.5, 0.5}), 1.5);
  EXPECT_NEAR(d.getLogPrDensity({0.5, 0.5}), std::log(1.5), 1e-15);
  EXPECT_DOUBLE_EQ(d.getPrDensity({0.25, 0.75}), 6 * 0.25 * 0.75);
}

TEST(Dirichlet, ZeroAlphaIsAccepted) {
  DirichletClass_t d(2, {0, 2});
  EXPECT_EQ(d.getMean(), (std::vector<double>{0, 1}));
}

TEST(DirichletDeathTest, InvalidParametersStop) {
  EXPECT_EXIT(DirichletClass_t(2, {1, -0.5}), ::testing::ExitedWithCode(2), "isValidConcparams");
  EXPECT_EXIT(DirichletClass_t(1, {1}), ::testing::ExitedWithCode(2), "order >= 2");
  EXPECT_EXIT(DirichletClass_t(3, {1, 2}), ::testing::ExitedWithCode(2), "concparams\\.size\\(\\) == order");
  DirichletClass_t d(2, {2, 2});
  EXPECT_EXIT(d.getPrDensity({0.5}), ::testing::ExitedWithCode(2), "x\\.size\\(\\) == nFreeParams");
  EXPECT_EXIT(d.getLogPrDensity({0.2, 0.3, 0.5}), ::testing::ExitedWithCode(2), "x\\.size\\(\\) == nFreeParams");
}

TEST(Dirichlet, PrintParamsTextAndPrecision) {
  DirichletClass_t d(2, {2, 2});
  std::streamsize after = 0;
  const std::string out = testutil::captureStdout([&] {
    std::cout.flags(std::ios::fmtflags{});
    std::cout.setf(std::ios::dec | std::ios::skipws);
    std::cout.precision(6);
    d.printParams();
    after = std::cout.precision();
  });
  EXPECT_EQ(out,
            "Printing DirichletClass params....\n"
            "nFreeParams = 2\n"
            "kappa   = 4\n"
            "meanvec =   0.5  0.5\n"
            "sanity check -- evaluating pdf at mean\n"
            "pdf value at mean:\n"
            "1.5\n"
            "0.41\n");
  EXPECT_EQ(after, 2);
}
