#include "search/pair_search.h"

#include <libalglib/specialfunctions.h>

#include <cmath>
#include <limits>

#include "base/fail.h"
#include "data/genotype_store.h"
#include "search/progress.h"
#include "stats/major_cell_table.h"

namespace velk {

double* X2table1 = nullptr;

double corrected_bound() {
  const double pairs = static_cast<double>(p) * static_cast<double>(p - 1);
  const double corrected = 2 * Max_chi_pv_in / pairs;
  const double y = (MAX_Genome_PV < corrected) ? corrected : MAX_Genome_PV;
  // The library's inverse does not return for 0: no finite statistic has that tail.
  if (y == 0) return std::numeric_limits<double>::infinity();
  return alglib::invchisquaredistribution(2, y);
}

void cal_single_loci(double* table) {
  for (long s = 0; s < p; ++s) {
    major_cell_table t;
    for (int g = 0; g < 3; ++g) {
      const genotype_slot* cell[1] = {&slot(s, g)};
      const cell_count c = count_cell(cell, 1);
      classify_cell(t, c.cases, c.ctrls);
    }
    complete_table(t, ncase, nctrl);
    table[s] = chi_square(t.cell, 3, 2);
  }
}

namespace {

// After each offer the running bound rises to the root of a full list.
void raise_bound(const top_k_list& list, double& bound) {
  if (has_full_root(list) && list.nodes[0].chisq > bound) bound = list.nodes[0].chisq;
}

}  // namespace

void find_top_k_single_loci_2(disModel& model) {
  if (model.ndisloci != 1) fail(kStatusFatal, "Something is wrong!\n");
  double bound = corrected_bound();
  int64_t locus[1];
  for (long s = 0; s < p; ++s) {
    if (X2table1[s] < bound) continue;
    // Only the case threshold counts here, the rule's first test.
    int nmajor = 0;
    for (int g = 0; g < 3; ++g) {
      const genotype_slot* cell[1] = {&slot(s, g)};
      const cell_count c = count_cell(cell, 1);
      if (c.cases >= Table_t.T1[c.cases + c.ctrls]) ++nmajor;
    }
    locus[0] = s;
    const multi_locus_node node{X2table1[s], locus, nmajor};
    insert_top_k_list(model.result_list, &node);
    raise_bound(*model.result_list, bound);
  }
}

void cal_TList1_major(disModel& model, int final_mode) {
  double bound = final_mode ? corrected_bound() : 2.0;
  int64_t loci[2];
  level_progress progress(2, static_cast<double>(p) * (p - 1) / 2);
  double done = 0;
  for (long i = 0; i + 1 < p; ++i) {
    for (long j = i + 1; j < p; ++j) {
      major_cell_table t;
      for (int gi = 0; gi < 3; ++gi) {
        for (int gj = 0; gj < 3; ++gj) {
          const genotype_slot* cell[2] = {&slot(i, gi), &slot(j, gj)};
          const cell_count c = count_cell(cell, 2);
          classify_cell(t, c.cases, c.ctrls);
        }
      }
      complete_table(t, ncase, nctrl);
      const double s = chi_square(t.cell, 3, 2);
      // A pair must strictly beat both of its SNPs alone and reach the bound.
      if (s < bound || s <= X2table1[i] || s <= X2table1[j]) continue;
      loci[0] = i;
      loci[1] = j;
      const multi_locus_node node{s, loci, t.nmajor};
      insert_top_k_list(model.result_list, &node);
      raise_bound(*model.result_list, bound);
    }
    done += static_cast<double>(p - 1 - i);
    progress.advance(done);
  }
}

}  // namespace velk
