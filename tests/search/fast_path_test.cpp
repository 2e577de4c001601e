// The fast searches against the straightforward one, byte for byte: random studies
// (missing genotypes, duplicated SNPs for ties, several files, every order, small and
// large lists), every kernel this CPU runs, one and several threads, and tiny work
// units so that the bound lags across many bands and tiles.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "e2e.h"

namespace velk::testing {
namespace {

struct study {
  std::string list;
  std::vector<std::pair<std::string, std::string>> files;
  std::string parameters;
  std::string top_k;
};

study random_study(std::mt19937_64& rng) {
  auto uniform = [&](int lo, int hi) { return static_cast<int>(lo + rng() % (hi - lo + 1)); };
  auto chance = [&](double q) { return std::uniform_real_distribution<double>(0, 1)(rng) < q; };
  const int individuals = chance(0.1) ? uniform(1021, 1200) : uniform(4, 260);
  const int snps = uniform(2, 30);
  const double missing = chance(0.3) ? 0.0 : std::uniform_real_distribution<double>(0, 0.3)(rng);
  const double case_share = std::uniform_real_distribution<double>(0.2, 0.8)(rng);
  std::vector<int> status(individuals);
  for (int& s : status) s = chance(case_share) ? 1 : 0;
  // Each SNP either copies an earlier one (exact ties), follows the status with some
  // noise (strong statistics) or is random.
  std::vector<std::vector<int>> genotype(snps, std::vector<int>(individuals));
  for (int s = 0; s < snps; ++s) {
    const int kind = s > 0 && chance(0.15) ? 0 : chance(0.3) ? 1 : 2;
    const int source = s > 0 ? uniform(0, s - 1) : 0;
    for (int d = 0; d < individuals; ++d) {
      int g = kind == 0 ? genotype[source][d] : kind == 1 ? (status[d] ? uniform(1, 2) : uniform(0, 1)) : uniform(0, 2);
      if (kind != 0 && chance(missing)) g = 9;
      genotype[s][d] = g;
    }
  }
  study out;
  const int nfiles = uniform(1, 3);
  int first = 0;
  for (int f = 0; f < nfiles; ++f) {
    const int last = f + 1 == nfiles ? snps : std::min(snps, first + uniform(1, snps));
    std::ostringstream text;
    for (int d = 0; d < individuals; ++d) {
      text << status[d];
      for (int s = first; s < last; ++s) text << ' ' << genotype[s][d];
      text << '\n';
    }
    if (last > first) {
      out.files.push_back({"g" + std::to_string(f) + ".txt", text.str()});
      out.list += out.files.back().first + "\n";
      if (chance(0.15)) out.list += out.files.back().first + "\n";  // listed twice
    }
    first = last;
  }
  const double alphas[] = {0.0, 0.01, 0.05, 0.2, 0.6};
  std::ostringstream params;
  params << "[DISEASEN]\t" << uniform(1, 4) << "\n[ALPHA_RF]\t" << alphas[uniform(0, 4)] << "\n";
  if (chance(0.8)) params << "[MULFACTR]\t" << uniform(1, 20) << "\n";
  params << "[MAX_PVAL]\t" << (chance(0.5) ? "0.9" : "1e-3") << "\n";
  if (chance(0.4)) params << "[MAXGWPVL]\t" << (chance(0.5) ? "0.5" : "1e-4") << "\n";
  out.parameters = params.str();
  out.top_k = std::to_string(chance(0.2) ? uniform(0, 1) : uniform(2, 60));
  return out;
}

TEST(FastPath, GivesTheBytesOfTheStraightforwardSearch) {
  std::mt19937_64 rng(20261208);
  // Implementation with work sizes (band candidates, first band, tile bytes), threads.
  const std::vector<std::pair<std::string, int>> variants = {
      {"table:40:1:1", 1}, {"popcnt:40:1:1", 2}, {"avx2:40:1:1", 1}, {"avx512:40:1:1", 3},
      {"avx512:300:2:3000", 2}, {"fast", 1}, {"fast", 2},
  };
  int compared = 0;
  for (int round = 0; round < 60; ++round) {
    const study s = random_study(rng);
    study_dir dir;
    dir.write("VELKinputfiles.txt", s.list);
    for (const auto& [name, text] : s.files) dir.write(name, text);
    dir.write("VELKparameters.txt", s.parameters);
    const run_result want = dir.run({"straightforward", s.top_k}, VELK_REFERENCE_BINARY);
    const std::string want_file = dir.exists("VELKResult.txt") ? dir.read("VELKResult.txt") : "<none>";
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
      EXPECT_EQ(dir.exists("VELKResult.txt") ? dir.read("VELKResult.txt") : "<none>", want_file);
      ++compared;
    }
  }
  EXPECT_EQ(compared, 60 * 7);
}

}  // namespace
}  // namespace velk::testing
