// velk_interaction_timing: times velk-report's interaction tests (four logistic fits
// per set) on a synthetic study, with one thread and with all of them.
//   velk_interaction_timing [SETS [INDIVIDUALS [COVARIATES [WIDTH]]]]
// Defaults: 10,000 pairs of 2,000 individuals with 5 covariates. Prints
// "interactions WIDTH THREADS SECONDS" lines, then "interactions_same 1" when every
// thread count gave the same numbers.
#include <omp.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <random>
#include <vector>

#include "results/interaction_tests.h"

namespace {

using namespace velk;

struct synthetic {
  std::vector<uint8_t> is_case;
  std::vector<std::vector<int8_t>> snps;  // per SNP, per individual
  std::vector<double> covariates;         // individual-major
  int covariate_ct = 0;
};

// SNPs with allele frequencies 0.1 to 0.5 and 1 % missing genotypes; normal
// covariates with 1 % missing; classes drawn from the first covariate and SNP 0.
synthetic make(long individuals, int snp_ct, int covariate_ct) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::normal_distribution<double> normal(0.0, 1.0);
  synthetic s;
  s.covariate_ct = covariate_ct;
  s.snps.assign(snp_ct, std::vector<int8_t>(individuals));
  for (int k = 0; k < snp_ct; ++k) {
    const double f = 0.1 + 0.4 * unit(rng);
    for (long d = 0; d < individuals; ++d)
      s.snps[k][d] = static_cast<int8_t>(unit(rng) < 0.01 ? -1 : (unit(rng) < f) + (unit(rng) < f));
  }
  for (long d = 0; d < individuals; ++d) {
    double eta = 0.0;
    for (int c = 0; c < covariate_ct; ++c) {
      const double v = normal(rng);
      if (c == 0) eta += 0.5 * v;
      s.covariates.push_back(unit(rng) < 0.01 ? NAN : v);
    }
    if (s.snps[0][d] > 0) eta += 0.3 * s.snps[0][d];
    s.is_case.push_back(unit(rng) < 1 / (1 + std::exp(-eta)));
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  const long sets = argc > 1 ? atol(argv[1]) : 10000;
  const long individuals = argc > 2 ? atol(argv[2]) : 2000;
  const int covariate_ct = argc > 3 ? atoi(argv[3]) : 5;
  const int order = argc > 4 ? atoi(argv[4]) : 2;
  const int snp_ct = 200;
  const synthetic s = make(individuals, snp_ct, covariate_ct);
  // The sets: consecutive SNP indices from a fixed stream, as a result's sets share SNPs.
  std::mt19937 rng(11);
  std::vector<std::vector<int>> loci(sets);
  for (auto& set : loci)
    for (int k = 0; k < order; ++k) set.push_back(static_cast<int>(rng() % snp_ct));
  std::vector<std::vector<interaction_result>> runs;
  const int thread_counts[] = {1, omp_get_max_threads()};
  for (int threads : thread_counts) {
    std::vector<interaction_result> results(sets);
    const auto start = std::chrono::steady_clock::now();
#pragma omp parallel for schedule(dynamic, 16) num_threads(threads)
    for (long i = 0; i < sets; ++i) {
      std::vector<std::vector<int8_t>> genotypes;
      for (int k : loci[i]) genotypes.push_back(s.snps[k]);
      results[i] = test_interaction(s.is_case, genotypes, s.covariates, s.covariate_ct);
    }
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("interactions %d %d %.3f\n", order, threads, took);
    fflush(stdout);
    runs.push_back(std::move(results));
  }
  const auto bits = [](const interaction_result& r) {
    return std::vector<double>{r.additive.chisq, r.additive.null_deviance, r.additive.full_deviance,
                               r.genotypic.chisq, r.genotypic.null_deviance, r.genotypic.full_deviance,
                               r.odds_ratio, r.odds_ratio_low, r.odds_ratio_high};
  };
  bool same = true;
  for (long i = 0; i < sets; ++i) {
    const std::vector<double> a = bits(runs[0][i]), b = bits(runs[1][i]);
    same = same && memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
  }
  printf("interactions_same %d\n", same ? 1 : 0);
  return 0;
}
