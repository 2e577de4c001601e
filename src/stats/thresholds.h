// Major-cell thresholds: for every cell size m = 0 ... n, the number of cases at which a
// cell is case-major and the number of controls at which it is control-major.
//
// They are binomial quantiles, and up to cell size 1020 they are defined by a fixed
// order of double operations: binomial coefficients derived row by row, powers built
// by repeated multiplication, and a running sum that must exceed 1 - alpha. Changing
// that order changes thresholds, and with them statistics and ties.
#pragma once

#include <vector>

#include "base/memory_budget.h"
#include "base/status.h"

namespace velk {

struct thresholds {
  std::vector<int> case_min;  // by cell size: cases that make a cell case-major
  std::vector<int> ctrl_min;  // by cell size: controls that make it control-major
};

// The thresholds of a study of `sample_ct` individuals with case fraction
// `case_fraction`, at tail level `alpha`.
thresholds build_thresholds(int sample_ct, double case_fraction, double alpha);

// The thresholds of a study of `case_ct` cases and `ctrl_ct` controls at tail level
// `alpha`, as the search and the report both take them, into `out`. Their working
// memory is claimed from `budget` while they are built (a tall study needs more for it
// than for its store): "Cannot allocate memory!" when it has no room.
status build_study_thresholds(int case_ct, int ctrl_ct, double alpha, memory_budget& budget, thresholds& out);

// The largest cell size whose thresholds come from the summed binomial terms: from
// 1021 on, the unscaled coefficients overflow the double range.
inline constexpr int kLargestSummedCell = 1020;

// For larger cells: the smallest j in 0 ... m with P(X > j) < alpha, X ~ Binomial(m, q),
// found by bisection over the library's upper binomial tail (alpha > 0).
int binomial_threshold_by_bisection(int m, double q, double alpha);

}  // namespace velk
