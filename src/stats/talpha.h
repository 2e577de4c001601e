// Major-cell thresholds: for every cell size m = 0 ... n, the number of cases at which a
// cell is case-major (T1) and the number of controls at which it is control-major (T2).
//
// They are binomial quantiles, and up to cell size 1020 they are defined by a fixed
// order of double operations: binomial coefficients derived row by row, powers built
// by repeated multiplication, and a running sum that must exceed 1 - alpha. Changing
// that order changes thresholds, and with them statistics and ties.
#pragma once

#include <cstddef>

#include "base/team.h"

namespace velk {

class Talpha {
 public:
  int* T1 = nullptr;          // case threshold for each cell size 0 ... n
  int* T2 = nullptr;          // control threshold for each cell size 0 ... n
  int size = 0;               // n + 1, the length of all five arrays
  double* binom = nullptr;    // binom[j] = C(row, j) for j = 0 ... row
  double* case_pow = nullptr; // case_pow[i] = a^i
  double* ctrl_pow = nullptr; // ctrl_pow[i] = (1 - a)^i
  int row = 0;                // the binomial row that binom holds
  double alpha = 0.0;         // the tail level
  size_t claimed = 0;         // bytes claimed from the memory budget for the arrays

  // Sizes and fills the working arrays for n individuals, case fraction a and tail
  // level alpha; leaves T1 and T2 unset.
  void init(int n, double a, double alpha);
  // Fills T1 and T2 for every cell size.
  void cul_T();
  // Makes binom hold row m of the binomial coefficients.
  void cal_ch_t(int m);
  // Releases the arrays.
  void destroy();
};

// The one table of the run; zero until built, read-only afterwards.
extern Talpha Table_t;

// Rank 0's thresholds T1 and T2 on every rank (after Talpha::init on each).
void share_thresholds(const team& t, Talpha& table);

// The largest cell size whose thresholds come from the summed binomial terms: from
// 1021 on, the unscaled coefficients overflow the double range.
inline constexpr int kLargestSummedCell = 1020;

// For larger cells: the smallest j in 0 ... m with P(X > j) < alpha, X ~ Binomial(m, q),
// found by bisection over the library's upper binomial tail (alpha > 0).
int binomial_threshold_by_bisection(int m, double q, double alpha);

}  // namespace velk
