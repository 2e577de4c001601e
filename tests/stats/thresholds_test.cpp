#include "stats/thresholds.h"

#include <gtest/gtest.h>
#include <libalglib/specialfunctions.h>

#include <cmath>
#include <vector>

namespace velk {
namespace {

struct tables {
  std::vector<int> t1, t2;
};

tables build(int n, double a, double alpha) {
  thresholds t = build_thresholds(n, a, alpha);
  return {t.case_min, t.ctrl_min};
}

TEST(Thresholds, WorkedTablesForTenIndividuals) {
  struct row {
    double a, alpha;
    std::vector<int> t1, t2;
  };
  const row rows[] = {
      {0.5, 0.05, {1, 2, 2, 3, 4, 4, 5, 6, 6, 7, 8}, {1, 2, 2, 3, 4, 4, 5, 6, 6, 7, 8}},
      {0.5, 0.01, {1, 2, 2, 3, 4, 5, 6, 6, 7, 8, 9}, {1, 2, 2, 3, 4, 5, 6, 6, 7, 8, 9}},
      {0.3, 0.05, {1, 2, 2, 2, 3, 3, 4, 4, 5, 5, 5}, {1, 2, 2, 3, 4, 5, 6, 7, 8, 8, 9}},
      {0.5, 0.6, {1, 2, 1, 1, 2, 2, 3, 3, 4, 4, 5}, {1, 2, 1, 1, 2, 2, 3, 3, 4, 4, 5}},
  };
  for (const row& r : rows) {
    const tables t = build(10, r.a, r.alpha);
    EXPECT_EQ(t.t1, r.t1) << "a=" << r.a << " alpha=" << r.alpha;
    EXPECT_EQ(t.t2, r.t2) << "a=" << r.a << " alpha=" << r.alpha;
  }
}

// The table of doc/statistics.md for a balanced study at 0.05, beyond the ten individuals above and
// past the 1020 of the summed terms: a user quotes it in a Methods section.
TEST(Thresholds, TableOfTheReadme) {
  const tables t = build(2000, 0.5, 0.05);
  const int sizes[][2] = {{15, 11},   {20, 14},   {30, 19},   {50, 31},     {100, 58},
                          {200, 112}, {500, 268}, {1000, 526}, {1020, 536}, {2000, 1037}};
  for (const auto& [m, j] : sizes) {
    EXPECT_EQ(t.t1[m], j) << m;
    EXPECT_EQ(t.t2[m], j) << m;
  }
}

TEST(Thresholds, TinyPopulations) {
  EXPECT_EQ(build(0, 0.5, 0.05).t1, std::vector<int>({1}));
  EXPECT_EQ(build(1, 0.5, 0.05).t2, std::vector<int>({1, 2}));
}

// With alpha = 0 the bar is 1.0, and only the rounding of the running sum can pass it,
// so these values pin down the order and grouping of every operation.
TEST(Thresholds, AlphaZero) {
  const tables half = build(1100, 0.5, 0.0);
  const tables third = build(242, 1.0 / 3.0, 0.0);
  const tables twofifths = build(1020, 0.4, 0.0);
  struct row {
    const tables* t;
    int m, t1, t2;
  };
  const row rows[] = {{&half, 73, 68, 68},    {&half, 1019, 636, 636}, {&third, 2, 2, 3},
                      {&third, 3, 3, 4},      {&third, 44, 40, 44},    {&third, 242, 138, 213},
                      {&twofifths, 6, 6, 7},  {&twofifths, 9, 9, 9},   {&twofifths, 22, 23, 22}};
  for (const row& r : rows) {
    EXPECT_EQ(r.t->t1[r.m], r.t1) << r.m;
    EXPECT_EQ(r.t->t2[r.m], r.t2) << r.m;
  }
  EXPECT_EQ(half.t1, half.t2);
  for (int m = 2; m <= 72; ++m) EXPECT_EQ(half.t1[m], m + 1) << m;
  for (int m = 1021; m <= 1100; ++m) EXPECT_EQ(half.t1[m], m + 1) << m;
  int reachable[3] = {0, 0, 0};
  for (int m = 2; m <= 1020; ++m) {
    reachable[0] += half.t1[m] <= m;
    reachable[1] += twofifths.t1[m] <= m;
    reachable[2] += twofifths.t2[m] <= m;
  }
  EXPECT_EQ(reachable[0], 250);
  EXPECT_EQ(reachable[1], 385);
  EXPECT_EQ(reachable[2], 386);
}

TEST(Thresholds, NoPositiveAlphaMeansNoMajorCells) {
  for (double alpha : {0.0, -0.5, std::nan("")}) {
    const tables t = build(1300, 0.3, alpha);
    for (int m = 1021; m <= 1300; ++m) {
      ASSERT_EQ(t.t1[m], m + 1) << "alpha=" << alpha << " m=" << m;
      ASSERT_EQ(t.t2[m], m + 1) << "alpha=" << alpha << " m=" << m;
    }
    if (alpha != 0.0) {  // the bar is above 1 or not a number: no sum passes it
      for (int m = 2; m <= 1020; ++m) ASSERT_EQ(t.t1[m], m + 1) << "alpha=" << alpha << " m=" << m;
    }
  }
}

TEST(Thresholds, NoCases) {
  const tables t = build(1500, 0.0, 0.05);
  for (int m = 2; m <= 1500; ++m) {
    ASSERT_EQ(t.t1[m], 0) << m;
    ASSERT_EQ(t.t2[m], m) << m;
  }
}

// Cells past 1020 individuals are binomial quantiles again rather than artefacts of
// overflowing coefficients.
TEST(Thresholds, LargeCells) {
  const tables half = build(2000, 0.5, 0.05);
  const tables skew = build(1100, 0.3, 0.05);
  struct row {
    const tables* t;
    int m, t1, t2;
  };
  const row rows[] = {
      {&half, 1020, 536, 536}, {&half, 1021, 537, 537}, {&half, 1100, 577, 577},
      {&half, 1500, 782, 782}, {&half, 2000, 1037, 1037}, {&skew, 1100, 355, 795},
  };
  for (const row& r : rows) {
    EXPECT_EQ(r.t->t1[r.m], r.t1) << r.m;
    EXPECT_EQ(r.t->t2[r.m], r.t2) << r.m;
  }
  // A larger population does not change the thresholds of the smaller sizes.
  EXPECT_EQ(std::vector<int>(half.t1.begin(), half.t1.begin() + 11), build(10, 0.5, 0.05).t1);
}

// The smallest j with P(X > j) < alpha, by the plain bisection over the library's tail.
int bisect(int m, double q, double alpha) {
  int lo = 0, hi = m;
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    if (alglib::binomialcdistribution(mid, m, q) < alpha)
      hi = mid;
    else
      lo = mid + 1;
  }
  return lo;
}

// The per-size walk must give what a bisection at every size gives, including at the
// extremes of a and alpha where the tail rounds to 0 or 1.
TEST(Thresholds, WalkAgreesWithBisection) {
  constexpr int kLast = 3000;
  const double third = 1.0 / 3.0;
  const struct {
    double a, alpha;
  } cases[] = {{0.5, 0.05}, {0.3, 1e-12}, {third, 0.999999}, {0.01, 0.5}, {0.99, 1e-300},
               {0.0, 1.0},  {1.0, 0.05}, {0.5, 1.0},        {0.3, 2.0}};
  for (const auto& c : cases) {
    const tables t = build(kLast, c.a, c.alpha);
    const double b = 1.0 - c.a;
    for (int m = 1021; m <= kLast; ++m) {
      ASSERT_EQ(t.t1[m], bisect(m, c.a, c.alpha)) << "a=" << c.a << " alpha=" << c.alpha << " m=" << m;
      ASSERT_EQ(t.t2[m], bisect(m, b, c.alpha)) << "b=" << b << " alpha=" << c.alpha << " m=" << m;
    }
    for (int m : {1021, 1777, kLast}) {
      EXPECT_EQ(binomial_threshold_by_bisection(m, c.a, c.alpha), t.t1[m]) << "a=" << c.a << " m=" << m;
      EXPECT_EQ(binomial_threshold_by_bisection(m, b, c.alpha), t.t2[m]) << "b=" << b << " m=" << m;
    }
  }
}

}  // namespace
}  // namespace velk
