#include "search/pair_search.h"

#include <libalglib/specialfunctions.h>

#include <limits>

#include "search/candidate_rules.h"
#include "search/progress.h"
#include "stats/major_cell_table.h"

namespace velk {

double corrected_bound(const search_input& in) {
  const p_value_bounds& bounds = in.bounds;
  const int snp_ct = in.snp_ct();
  const double pairs = static_cast<double>(snp_ct) * static_cast<double>(snp_ct - 1);
  // A focused search divides by the sets it allows (none allowed: no bound to reach); every
  // other keeps its arithmetic.
  const double focused = in.allowed_sets > 0 ? bounds.corrected / in.allowed_sets : 0.0;
  const double corrected = in.rules != nullptr ? focused : 2 * bounds.corrected / pairs;
  const double y = (bounds.raw < corrected) ? corrected : bounds.raw;
  // The library's inverse does not return for 0: no finite statistic has that tail.
  if (y == 0) return std::numeric_limits<double>::infinity();
  return alglib::invchisquaredistribution(2, y);
}

std::vector<double> single_snp_statistics(const genotype_store& store, const thresholds& cells) {
  const store_shape& shape = store.shape;
  std::vector<double> table(static_cast<size_t>(shape.block_ct()) * kLanes, 0.0);
  for (long s = 0; s < shape.snp_ct; ++s) {
    major_cell_table t;
    for (int g = 0; g < 3; ++g) {
      const genotype_slot cell[1] = {slot(store, s, g)};
      const cell_count c = count_cell(cell, 1, shape);
      classify_cell(t, cells, c.cases, c.ctrls);
    }
    complete_table(t, shape.case_ct, shape.ctrl_ct);
    table[s] = chi_square(t.cell, 3, 2);
  }
  return table;
}

void single_snp_search(top_k_list& into, const search_input& in) {
  const store_shape& shape = in.shape();
  double bound = corrected_bound(in);
  int64_t locus[1];
  for (long s = 0; s < shape.snp_ct; ++s) {
    locus[0] = s;
    if (in.single[s] < bound || !may_offer(in, locus, 1)) continue;
    // Only the case threshold counts here, the rule's first test.
    int case_major_ct = 0;
    for (int g = 0; g < 3; ++g) {
      const genotype_slot cell[1] = {slot(*in.store, s, g)};
      const cell_count c = count_cell(cell, 1, shape);
      if (c.cases >= in.cells->case_min[c.cases + c.ctrls]) ++case_major_ct;
    }
    offer(into, bound, in.single[s], locus, case_major_ct);
  }
}

void pair_search(top_k_list& into, bool final_mode, const search_input& in) {
  const store_shape& shape = in.shape();
  const long snp_ct = shape.snp_ct;
  double bound = final_mode ? corrected_bound(in) : 2.0;
  const double* single = in.single;
  int64_t loci[2];
  level_progress progress(2, static_cast<double>(snp_ct) * (snp_ct - 1) / 2);
  double done = 0;
  for (long i = 0; i + 1 < snp_ct; ++i) {
    for (long j = i + 1; j < snp_ct; ++j) {
      major_cell_table t;
      for (int gi = 0; gi < 3; ++gi) {
        for (int gj = 0; gj < 3; ++gj) {
          const genotype_slot cell[2] = {slot(*in.store, i, gi), slot(*in.store, j, gj)};
          const cell_count c = count_cell(cell, 2, shape);
          classify_cell(t, *in.cells, c.cases, c.ctrls);
        }
      }
      complete_table(t, shape.case_ct, shape.ctrl_ct);
      const double s = chi_square(t.cell, 3, 2);
      if (!admitted(s, bound, single[i], single[j])) continue;
      loci[0] = i;
      loci[1] = j;
      if (!may_offer(in, loci, 2)) continue;
      offer(into, bound, s, loci, t.case_major_ct);
    }
    done += static_cast<double>(snp_ct - 1 - i);
    progress.advance(done);
  }
}

}  // namespace velk
