#include "stats/major_cell_table.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

namespace velk {
namespace {

TEST(ChiSquare, WorkedTables) {
  struct row {
    std::array<int, 6> table;
    double expected;
  };
  const row rows[] = {
      {{4, 0, 1, 2, 0, 3}, 7.333333333333334},
      // Summed cell by cell this lands one step below 28.90909090909091, the double
      // nearest to 318/11; the exact value is what ties are decided on.
      {{40, 10, 50, 60, 10, 30}, 28.909090909090907},
      // Summing column by column, or grouping a term as d * (d / E) or E as
      // c * (r / total), gives a neighbouring double for this one.
      {{6, 8, 10, 1, 2, 10}, 12.965127465127464},
      {{3, 0, 0, 0, 0, 3}, 6.0},  // the empty middle row adds nothing
      {{0, 0, 5, 7, 0, 0}, 0.0},  // everyone in the middle row
      {{0, 0, 0, 0, 0, 0}, 0.0},  // no individuals: expected counts are not numbers
      {{7, 0, 5, 0, 2, 0}, 0.0},  // no controls at all
  };
  for (const row& r : rows) EXPECT_EQ(chi_square(r.table.data(), 3, 2), r.expected) << r.table[0] << "," << r.table[1];
  EXPECT_NE(28.909090909090907, 318.0 / 11.0);
}

TEST(ChiSquare, NoRowsOrNoColumns) {
  const int table[6] = {4, 0, 1, 2, 0, 3};
  EXPECT_EQ(chi_square(table, 0, 2), 0.0);
  EXPECT_EQ(chi_square(table, -1, 2), 0.0);
  EXPECT_EQ(chi_square(table, 3, 0), 0.0);
  EXPECT_EQ(chi_square(table, 3, -2), 0.0);
}

TEST(PValue, UpperTailWithTwoDegreesOfFreedom) {
  EXPECT_EQ(p_value_chisq(2, 0.0), 1.0);
  // With 2 degrees of freedom the upper tail is exp(-x / 2).
  for (double x : {0.5, 6.0, 7.333333333333334, 25.0, 28.909090909090907, 100.0})
    EXPECT_NEAR(p_value_chisq(2, x) / std::exp(-x / 2), 1.0, 1e-12) << x;
}

TEST(MajorCells, WorkedSnp) {
  const thresholds limits = build_thresholds(10, 0.5, 0.05);
  major_cell_table t;
  classify_cell(t, limits, 4, 0);  // 4 >= case_min[4] = 4: case-major
  classify_cell(t, limits, 1, 2);  // 1 < 3 and 2 < 3: neither
  classify_cell(t, limits, 0, 3);  // 3 >= ctrl_min[3] = 3: control-major
  complete_table(t, 5, 5);
  EXPECT_EQ(std::vector<int>(t.cell, t.cell + 6), std::vector<int>({4, 0, 1, 2, 0, 3}));
  EXPECT_EQ(t.case_major_ct, 1);
  EXPECT_EQ(chi_square(t.cell, 3, 2), 7.333333333333334);
}

TEST(MajorCells, CellReachingBothThresholdsIsCaseMajor) {
  const thresholds limits = build_thresholds(10, 0.5, 0.6);
  ASSERT_EQ(limits.case_min[4], 2);
  ASSERT_EQ(limits.ctrl_min[4], 2);
  major_cell_table t;
  classify_cell(t, limits, 2, 2);
  complete_table(t, 5, 5);
  EXPECT_EQ(std::vector<int>(t.cell, t.cell + 6), std::vector<int>({2, 2, 3, 3, 0, 0}));
  EXPECT_EQ(t.case_major_ct, 1);
}

// Cells of 0 or 1 individuals are never major; two cases are, unless alpha is 0.
// Individuals outside every cell (missing genotypes) end in the middle row.
TEST(MajorCells, SmallCellsAndMissingGenotypes) {
  for (double alpha : {0.05, 0.0}) {
    const thresholds limits = build_thresholds(10, 0.5, alpha);
    major_cell_table t;
    for (auto [x, y] : {std::pair{0, 0}, {1, 0}, {0, 1}, {2, 0}, {0, 2}}) classify_cell(t, limits, x, y);
    complete_table(t, 6, 4);
    const std::vector<int> expected = alpha > 0 ? std::vector<int>{2, 0, 4, 2, 0, 2} : std::vector<int>{0, 0, 6, 4, 0, 0};
    EXPECT_EQ(std::vector<int>(t.cell, t.cell + 6), expected) << alpha;
    EXPECT_EQ(t.case_major_ct, alpha > 0 ? 1 : 0);
  }
}

}  // namespace
}  // namespace velk
