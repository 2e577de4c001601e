// The Anderson-Darling test of a generalized Pareto fit: the statistic against its
// formula on small samples worked by hand, and the p-value against Choulakian and
// Stephens's table as printed: its own numbers at the nodes, linear between them,
// clamped outside.
#include "stats/anderson_darling.h"

#include <gtest/gtest.h>

#include <limits>

namespace velk {
namespace {

TEST(AndersonDarling, StatisticByItsFormula) {
  // A^2 = -n - (1/n) sum (2i - 1) [log z_(i) + log(1 - z_(n+1-i))]; e.g. for the first,
  // z = 1 - exp(-y) = 0.39347, 0.63212, 0.86466 and
  // A^2 = -3 - (1/3) [1 (-0.93275 - 2) + 3 (-0.45868 - 1) + 5 (-0.14541 - 0.5)] = 0.51195.
  const struct {
    double shape, scale;
    std::vector<double> ascending;
    double statistic;
  } cases[] = {
      {0.0, 1.0, {0.5, 1.0, 2.0}, 0.5119482850242432},
      {0.5, 2.0, {0.1, 0.7, 3.0}, 0.736152018812954},
      {-0.25, 4.0, {0.2, 1.5, 2.5, 9.0}, 0.4610067781129734},
  };
  for (const auto& c : cases)
    EXPECT_NEAR(anderson_darling_statistic(c.ascending, {c.shape, c.scale, 0.0}), c.statistic, 1e-13) << c.shape;
  // An exceedance on the threshold (F = 0) or at the end of a bounded tail (F = 1).
  EXPECT_EQ(anderson_darling_statistic({0.0, 1.0}, {0.0, 1.0, 0.0}), std::numeric_limits<double>::infinity());
  EXPECT_EQ(anderson_darling_statistic({1.0, 4.0}, {-0.25, 1.0, 0.0}), std::numeric_limits<double>::infinity());
}

TEST(AndersonDarling, PValueFromTheTable) {
  const double inf = std::numeric_limits<double>::infinity();
  // The table's k is -shape.
  const struct {
    const char* what;
    double statistic, shape, p;
  } cases[] = {
      {"node: k = 0, p = 0.05", 0.974, 0.0, 0.05},
      {"node: k = 0.9, p = 0.001", 1.559, -0.9, 0.001},
      {"node: k = -0.5, p = 0.5", 0.496, 0.5, 0.5},
      {"node: k = 0.2, p = 0.01", 1.296, -0.2, 0.01},
      {"node: k = -0.3, p = 0.25", 0.649, 0.3, 0.25},
      {"between rows k = 0.2 and 0.1, at p = 0.05", 0.5 * (0.903 + 0.935), -0.15, 0.05},
      {"between columns p = 0.05 and 0.025, at k = 0", 0.5 * (0.974 + 1.158), 0.0, 0.0375},
      {"between both", 0.5 * (0.5 * (0.534 + 0.550) + 0.5 * (0.741 + 0.766)), -0.15, 0.175},
      {"k beyond 0.9: its row", 0.771, -3.0, 0.05},
      {"k below -0.5: its row", 1.321, 2.0, 0.05},
      {"below the column of 0.5: at least 0.5", 0.1, 0.0, 0.5},
      {"above the column of 0.001: at most 0.001", 10.0, 0.0, 0.001},
      {"infinite", inf, 0.0, 0.001},
  };
  for (const auto& c : cases) EXPECT_NEAR(anderson_darling_p(c.statistic, c.shape), c.p, 1e-12) << c.what;
  // The nodes themselves come back exactly.
  EXPECT_EQ(anderson_darling_p(0.974, 0.0), 0.05);
  EXPECT_EQ(anderson_darling_p(1.296, -0.2), 0.01);
}

}  // namespace
}  // namespace velk
