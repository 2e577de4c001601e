#include "search/pair_search.h"

#include <libalglib/specialfunctions.h>

#include <cmath>
#include <limits>

#include "base/fail.h"
#include "data/genotype_store.h"
#include "search/candidate_rules.h"
#include "search/progress.h"
#include "stats/major_cell_table.h"

namespace velk {

double* X2table1 = nullptr;

class_split loaded_split() { return {pgeno, X2table1}; }

size_t single_locus_entries() { return static_cast<size_t>(store_blocks()) * kLanes; }

double corrected_bound() {
  const double pairs = static_cast<double>(p) * static_cast<double>(p - 1);
  const double corrected = 2 * Max_chi_pv_in / pairs;
  const double y = (MAX_Genome_PV < corrected) ? corrected : MAX_Genome_PV;
  // The library's inverse does not return for 0: no finite statistic has that tail.
  if (y == 0) return std::numeric_limits<double>::infinity();
  return alglib::invchisquaredistribution(2, y);
}

void cal_single_loci(const uint64_t* store, double* table) {
  for (long s = 0; s < p; ++s) {
    major_cell_table t;
    for (int g = 0; g < 3; ++g) {
      const genotype_slot cell[1] = {slot(store, s, g)};
      const cell_count c = count_cell(cell, 1);
      classify_cell(t, c.cases, c.ctrls);
    }
    complete_table(t, ncase, nctrl);
    table[s] = chi_square(t.cell, 3, 2);
  }
}

void find_top_k_single_loci_2(disModel& model, const class_split& split) {
  if (model.ndisloci != 1) fail(kStatusFatal, "Something is wrong!\n");
  double bound = corrected_bound();
  int64_t locus[1];
  for (long s = 0; s < p; ++s) {
    if (split.X2table1[s] < bound) continue;
    // Only the case threshold counts here, the rule's first test.
    int nmajor = 0;
    for (int g = 0; g < 3; ++g) {
      const genotype_slot cell[1] = {slot(split.store, s, g)};
      const cell_count c = count_cell(cell, 1);
      if (c.cases >= Table_t.T1[c.cases + c.ctrls]) ++nmajor;
    }
    locus[0] = s;
    offer(*model.result_list, bound, split.X2table1[s], locus, nmajor);
  }
}

void cal_TList1_major(disModel& model, int final_mode, const class_split& split) {
  double bound = final_mode ? corrected_bound() : 2.0;
  const double* single = split.X2table1;
  int64_t loci[2];
  level_progress progress(2, static_cast<double>(p) * (p - 1) / 2);
  double done = 0;
  for (long i = 0; i + 1 < p; ++i) {
    for (long j = i + 1; j < p; ++j) {
      major_cell_table t;
      for (int gi = 0; gi < 3; ++gi) {
        for (int gj = 0; gj < 3; ++gj) {
          const genotype_slot cell[2] = {slot(split.store, i, gi), slot(split.store, j, gj)};
          const cell_count c = count_cell(cell, 2);
          classify_cell(t, c.cases, c.ctrls);
        }
      }
      complete_table(t, ncase, nctrl);
      const double s = chi_square(t.cell, 3, 2);
      if (!admitted(s, bound, single[i], single[j])) continue;
      loci[0] = i;
      loci[1] = j;
      offer(*model.result_list, bound, s, loci, t.nmajor);
    }
    done += static_cast<double>(p - 1 - i);
    progress.advance(done);
  }
}

}  // namespace velk
