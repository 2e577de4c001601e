// What a search reads: the study, the genotypes as split into cases and controls (as
// loaded, or by a permutation of the classes), each SNP's statistic alone for that
// split, the thresholds and the p-value bounds. A permutation is another input of the
// same study; the counts, the thresholds and the bounds are the same for every split.
#pragma once

#include <cstddef>
#include <vector>

#include "base/memory_budget.h"
#include "data/parameter_file.h"  // p_value_bounds
#include "data/study.h"
#include "search/set_rules.h"
#include "stats/thresholds.h"

namespace velk {

struct search_input {
  const study* loaded = nullptr;          // the study as loaded
  const genotype_store* store = nullptr;  // this split's genotypes
  const double* single = nullptr;         // each SNP's statistic alone on this split,
                                          // zero up to whole store blocks
  const thresholds* cells = nullptr;      // the major-cell thresholds
  p_value_bounds bounds;
  memory_budget* budget = nullptr;        // what the searches claim their counts from
  const set_rules* rules = nullptr;       // which sets a focused search may offer; none: all
  double allowed_sets = 0;                // with rules: the sets of the order they allow

  const store_shape& shape() const { return store->shape; }
  int snp_ct() const { return store->shape.snp_ct; }
};

// Each SNP's statistic alone on `store`: snp_ct entries, then zeros up to whole store
// blocks, so that the fast searches read a block's entries at once. A larger locus set
// must beat each of its SNPs' entries.
std::vector<double> single_snp_statistics(const genotype_store& store, const thresholds& cells);

// The statistic a candidate must reach in the final-mode searches: the chi-square value
// (2 degrees of freedom) whose upper tail is the larger of the raw bound and the
// pair-corrected bound 2 * corrected / (p * (p - 1)), or corrected / N for a focused
// search that allows N sets. May raise the library's domain error for degenerate inputs.
double corrected_bound(const search_input& in);

}  // namespace velk
