// The tail of the permutation maxima: when it is fitted, its file, the p-value it gives
// against a known tail, and the statistics it gives none (below the threshold, beyond
// the end of a bounded tail).
#include "results/permutation_tail.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace velk {
namespace {

TEST(PermutationTail, NoFitSaysWhy) {
  EXPECT_EQ(permutation_tail_text(fit_permutation_tail(std::vector<double>(98, 5.0))),
            "no_fit\tfewer than 99 permutations\n");
  // Maxima that are all equal have no tail to fit.
  const permutation_tail flat = fit_permutation_tail(std::vector<double>(400, 5.0));
  EXPECT_EQ(permutation_tail_text(flat),
            "no_fit\tno fit to 10 or more of the largest maxima passed the Anderson-Darling test (p above 0.05)\n");
  EXPECT_FALSE(tail_p_value(flat, 6.0).has_value());
  // The tail applies from 99 permutations, to sets that fewer than 10 maxima reach.
  EXPECT_TRUE(tail_applies(9, 99));
  EXPECT_FALSE(tail_applies(10, 99));
  EXPECT_FALSE(tail_applies(0, 98));
}

// Maxima of 5 plus an exponential: P(max >= t) = exp(5 - t). B = 999 fits the 249
// largest, and a statistic that one permutation in 10,000 would reach gets that p-value
// within a factor of 4 (which the fit's standard errors allow ten times beyond 1 / B),
// where the count can say only 0.001.
TEST(PermutationTail, FitsAKnownTail) {
  std::mt19937_64 rng(7);
  std::exponential_distribution<double> exponential(1.0);
  std::vector<double> maxima(999);
  for (double& m : maxima) m = 5.0 + exponential(rng);
  const permutation_tail tail = fit_permutation_tail(maxima);
  ASSERT_EQ(tail.no_fit, "");
  EXPECT_EQ(tail.exceedance_ct, 249);
  EXPECT_NEAR(tail.fit.shape, 0.0, 0.15);
  const std::string text = permutation_tail_text(tail);
  char expected[200];
  snprintf(expected, sizeof expected, "N_exc\t249\nthreshold\t%.17g\nshape\t%.17g\nscale\t%.17g\n", tail.threshold,
           tail.fit.shape, tail.fit.scale);
  EXPECT_EQ(text.rfind(expected, 0), 0u) << text;
  EXPECT_NE(text.find("\nAD_statistic\t"), std::string::npos);
  const std::optional<double> p = tail_p_value(tail, 5.0 + std::log(1e4));
  ASSERT_TRUE(p.has_value());
  EXPECT_GT(*p, 0.25e-4);
  EXPECT_LT(*p, 4e-4);
}

TEST(PermutationTail, NoPValueBelowTheThresholdOrBeyondABoundedTail) {
  // 50 of 1000 maxima above 10, in a tail that ends 2 above it.
  permutation_tail tail;
  tail.permutation_ct = 1000;
  tail.exceedance_ct = 50;
  tail.threshold = 10.0;
  tail.fit = {-0.5, 1.0, 0.0};
  // (50 / 1000) (1 - 0.5 * 1)^2
  EXPECT_DOUBLE_EQ(tail_p_value(tail, 11.0).value_or(-1), 0.0125);
  for (double t : {9.0, 10.0, 12.0, 13.0}) EXPECT_FALSE(tail_p_value(tail, t).has_value()) << t;
}

}  // namespace
}  // namespace velk
