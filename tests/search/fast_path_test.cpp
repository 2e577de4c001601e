// The fast searches against the straightforward one, byte for byte: random studies
// (missing genotypes, duplicated SNPs for ties, several files, every order, greedy and
// exhaustive, small and large lists), every kernel this CPU runs, one and several threads, and tiny work
// units so that the bound lags across many bands and tiles.
#include <gtest/gtest.h>

#include <random>

#include "random_study.h"

namespace velk::testing {
namespace {

TEST(FastPath, GivesTheBytesOfTheStraightforwardSearch) {
  std::mt19937_64 rng(20261208);
  // Implementation with work sizes (band candidates, first band, tile bytes), threads.
  const std::vector<std::pair<std::string, int>> variants = {
      {"table:40:1:1", 1}, {"popcnt:40:1:1", 2}, {"avx2:40:1:1", 1}, {"avx512:40:1:1", 3},
      {"avx512:300:2:3000", 2}, {"fast", 1}, {"fast", 2},
  };
  int compared = 0;
  // Then rounds that search every set of order 3 or 4, and focused searches (a sets
  // file, distances) of every order, greedy and exhaustive.
  constexpr int kRounds = 60, kExhaustiveRounds = 24, kFocusedRounds = 24;
  for (int round = 0; round < kRounds + kExhaustiveRounds + kFocusedRounds; ++round) {
    study_shape shape;
    if (round >= kRounds) shape = {.order = 3 + round % 2, .long_result = round % 3 == 0, .exhaustive = true};
    if (round >= kRounds + kExhaustiveRounds) {
      // Exhaustive ones of enough SNPs that listed SNPs lie in several blocks.
      const int order = 1 + round % 4;
      const bool exhaustive = order >= 3 && round % 3 != 2;
      shape = {.order = order, .snps = exhaustive ? 40 : 0, .long_result = exhaustive || round % 3 == 0,
               .exhaustive = exhaustive, .focused = true, .positions = round % 2 == 0};
    }
    const random_study s = make_random_study(rng, shape);
    study_dir dir;
    s.write(dir);
    const run_result want = dir.run({"straightforward", s.top_k}, VELK_REFERENCE_BINARY);
    const std::string want_file = result_or_none(dir);
    for (const auto& [variant, threads] : variants) {
      std::filesystem::remove(dir.path() / "VELKResult.txt");
      // Passive waiting: more threads than cores must not spin against each other.
      const run_result got = dir.run({variant, s.top_k}, VELK_REFERENCE_BINARY,
                                     {"OMP_NUM_THREADS=" + std::to_string(threads), "OMP_WAIT_POLICY=passive"});
      SCOPED_TRACE("round " + std::to_string(round) + ", " + variant + ", threads " + std::to_string(threads) +
                   "\n" + s.parameters);
      EXPECT_EQ(got.status, want.status);
      EXPECT_EQ(without_banner(got.out), without_banner(want.out));
      EXPECT_EQ(got.err, want.err);
      EXPECT_EQ(result_or_none(dir), want_file);
      ++compared;
    }
  }
  EXPECT_EQ(compared, (kRounds + kExhaustiveRounds + kFocusedRounds) * 7);
}

}  // namespace
}  // namespace velk::testing
