// A random study held in memory, for the benchmarks: genotypes under Hardy-Weinberg
// proportions with minor allele frequencies from 0.05 to 0.5, 1 % missing, cases and
// controls alternating; with the thresholds and the single-locus statistics, as a run
// has them before its search.
#pragma once

#include <random>
#include <vector>

#include "data/study.h"
#include "search/search_input.h"
#include "stats/thresholds.h"

namespace velk::bench {

struct synthetic_study {
  memory_budget budget;  // before the store, which gives its claim back to it
  study data;
  thresholds cells;
  std::vector<double> single;

  search_input input() { return {&data, &data.store, single.data(), &cells, {}, &budget}; }
};

inline void make_synthetic_study(synthetic_study& out, int individuals, int snps, unsigned seed, double alpha = 0.05) {
  const int cases = (individuals + 1) / 2;
  if (!new_store(make_shape(snps, cases, individuals / 2), out.budget, out.data.store).ok()) abort();
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (long s = 0; s < snps; ++s) {
    const double maf = 0.05 + 0.45 * unit(rng);
    long case_index = 0, ctrl_index = 0;
    for (int d = 0; d < individuals; ++d) {
      const bool is_case = d % 2 == 0;
      const long index = is_case ? case_index++ : ctrl_index++;
      if (unit(rng) < 0.01) continue;  // missing
      const int g = (unit(rng) < maf) + (unit(rng) < maf);
      const genotype_slot at = slot(out.data.store, s, g);
      set_individual(is_case ? at.cases : at.ctrls, index);
    }
  }
  out.cells = build_thresholds(individuals, static_cast<double>(cases) / individuals, alpha);
  out.single = single_snp_statistics(out.data.store, out.cells);
}

}  // namespace velk::bench
