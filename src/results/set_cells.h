// The genotype cells of one reported set, counted again from the store, and the check
// that they give the set's row of the result file.
//
// Cells are numbered in genotype order, the first SNP's genotype varying slowest:
// for a pair 0,0 / 0,1 / 0,2 / 1,0 ... 2,2, as the pair search visits them. The order
// does not change the statistic (the major-cell table sums integers).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "data/genotype_store.h"
#include "results/result_rows.h"
#include "stats/thresholds.h"

namespace velk {

enum class cell_class { other, case_major, control_major };

struct set_cells {
  int order = 0;                  // SNPs in the set
  std::vector<cell_count> cells;  // 3^order cells in genotype order
  std::vector<cell_class> kinds;  // each cell's class, as the searches classify it
  cell_count missing = {0, 0};    // individuals with a missing genotype at any of the SNPs
  cell_count present = {0, 0};    // individuals with all genotypes, counted apart from the cells
  int case_major_ct = 0;          // case-major cells
  double chisq = 0.0;             // the statistic of the major-cell table
};

// The genotype of SNP `snp` (0-based within the set) in cell `cell`.
int cell_genotype(int cell, int snp, int order);

// The class of a cell by the thresholds, as the searches classify it.
cell_class classify(const thresholds& limits, const cell_count& c);

// Counts the cells of the `order` SNPs `loci` from the store and scores them.
set_cells count_set_cells(const genotype_store& store, const thresholds& limits, const int64_t* loci, int order);

// Whether the cells give the result row: they and the missing individuals sum to the
// study's cases and controls (of `shape`), they hold the row's #Major_cells case-major cells, and
// their statistic and its p-value print as the row's. Fails on the first difference,
// naming the line of `result_name`; `tail_level` names the thresholds' level.
status cells_match_row(const set_cells& cells, const result_row& row, const char* result_name, double tail_level,
                       const store_shape& shape);

}  // namespace velk
