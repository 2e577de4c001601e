// A random study held in memory, for the benchmarks: genotypes under Hardy-Weinberg
// proportions with minor allele frequencies from 0.05 to 0.5, 1 % missing, cases and
// controls alternating. Sets the process-wide counts and fills the store, the
// thresholds and the single-locus statistics, as a run would before its search.
#pragma once

#include <random>

#include "data/genotype_store.h"
#include "search/pair_search.h"
#include "stats/talpha.h"

namespace velk::bench {

inline void make_synthetic_study(int individuals, int snps, unsigned seed, double alpha = 0.05) {
  static bool table_filled = false;
  if (!table_filled) fill_wordbits();
  table_filled = true;
  release_store();
  n = individuals;
  p = snps;
  ncase = (individuals + 1) / 2;
  nctrl = individuals / 2;
  create_store();
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  for (long s = 0; s < p; ++s) {
    const double maf = 0.05 + 0.45 * unit(rng);
    long case_index = 0, ctrl_index = 0;
    for (int d = 0; d < n; ++d) {
      const bool is_case = d % 2 == 0;
      const long index = is_case ? case_index++ : ctrl_index++;
      if (unit(rng) < 0.01) continue;  // missing
      const int g = (unit(rng) < maf) + (unit(rng) < maf);
      set_individual(is_case ? slot(s, g).pcase : slot(s, g).pctrl, index);
    }
  }
  Table_t.destroy();
  Table_t.init(n, static_cast<double>(ncase) / static_cast<double>(ncase + nctrl), alpha);
  Table_t.cul_T();
  delete[] X2table1;
  X2table1 = new double[single_locus_entries()]();
  cal_single_loci(pgeno, X2table1);
}

}  // namespace velk::bench
