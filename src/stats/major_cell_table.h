// The major-cell table of a locus set and its chi-square statistic.
//
// Each genotype cell with x cases and y controls is case-major when x reaches
// case_min[x + y], otherwise control-major when y reaches ctrl_min[x + y], otherwise
// neither. The table sums
// the individuals of the case-major cells (row 0) and of the control-major cells
// (row 2); row 1 is the rest of the population, missing genotypes included.
#pragma once

#include "stats/thresholds.h"

namespace velk {

// Six counts, row-major: rows case-major, other, control-major; columns cases, controls.
struct major_cell_table {
  int cell[6] = {0, 0, 0, 0, 0, 0};
  int case_major_ct = 0;  // case-major cells; control-major cells are not counted
};

// Adds one cell. The case test comes first: a cell reaching both thresholds is case-major.
inline void classify_cell(major_cell_table& t, const thresholds& limits, int x, int y) {
  const int m = x + y;
  if (x >= limits.case_min[m]) {
    t.cell[0] += x;
    t.cell[1] += y;
    ++t.case_major_ct;
  } else if (y >= limits.ctrl_min[m]) {
    t.cell[4] += x;
    t.cell[5] += y;
  }
}

// Forms the middle row from the class totals.
inline void complete_table(major_cell_table& t, int cases, int ctrls) {
  t.cell[2] = cases - t.cell[0] - t.cell[4];
  t.cell[3] = ctrls - t.cell[1] - t.cell[5];
}

// Pearson's chi-square of a row-major table. The additions run row by row and, within
// a row, column by column; statistics are compared on exact equality, so this order is
// part of the definition. Cells with expected count 0 (or NaN, for an empty table) add
// nothing.
double chi_square(const int* table, long rows, int cols);

// Upper-tail probability of a chi-square statistic (the library's own function).
double p_value_chisq(double df, double chisq);

}  // namespace velk
