#include "stats/thresholds.h"

#include <libalglib/specialfunctions.h>

#include <algorithm>

#include "base/memory_budget.h"

namespace velk {

namespace {

// The working arrays of one build: a row of binomial coefficients and the powers of
// the two class fractions, each of n + 1 entries.
struct binomial_terms {
  std::vector<double> binom;     // binom[j] = C(row, j) for j = 0 ... row
  std::vector<double> case_pow;  // case_pow[i] = a^i
  std::vector<double> ctrl_pow;  // ctrl_pow[i] = (1 - a)^i
  int row = 1;                   // the binomial row that binom holds

  void advance_to_row(int m);
};

// Makes binom hold row m of the binomial coefficients.
void binomial_terms::advance_to_row(int m) {
  const int h = (m - 1) / 2;
  if (row == m - 1) {
    // Downward, so that binom[k - 1] still holds C(m - 1, k - 1) when it is read.
    for (int k = m - 1; k >= h + 1; --k) binom[k] = (static_cast<double>(m) * binom[k - 1]) / static_cast<double>(k);
    for (int k = h; k >= 1; --k) binom[k] = binom[m - k];
  } else {
    for (int j = 0; j <= h; ++j)
      binom[j + 1] = (static_cast<double>(m - j) * binom[j]) / static_cast<double>(j + 1);
    for (int k = h + 2; k <= m; ++k) binom[k] = binom[m - k];
  }
  row = m;
}

// P(X > j) for X ~ Binomial(m, q).
double upper_tail(int j, int m, double q) { return alglib::binomialcdistribution(j, m, q); }

// Thresholds of cells from `first` to `last` individuals (first > 1020) for one class
// with probability q. The quantile of Binomial(m, q) moves by at most one from m - 1 to
// m: P(X_m > c - 1) >= P(X_(m-1) > c - 1) and P(X_m > c + 1) <= P(X_(m-1) > c). So once
// the first size is found by bisection, one tail evaluation per size decides between
// the previous threshold c and c + 1, with the same result as the bisection.
void fill_large_cells(int* t, int first, int last, double q, double alpha) {
  if (!(alpha > 0.0)) {  // zero, negative or not a number: no cell can be major
    for (int m = first; m <= last; ++m) t[m] = m + 1;
    return;
  }
  t[first] = binomial_threshold_by_bisection(first, q, alpha);
  for (int m = first + 1; m <= last; ++m) {
    const int c = t[m - 1];
    t[m] = upper_tail(c, m, q) < alpha ? c : c + 1;
  }
}

}  // namespace

int binomial_threshold_by_bisection(int m, double q, double alpha) {
  int lo = 0;
  int hi = m;  // P(X > m) is exactly 0, below any positive alpha
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    if (upper_tail(mid, m, q) < alpha)
      hi = mid;
    else
      lo = mid + 1;
  }
  return lo;
}

thresholds build_thresholds(int sample_ct, double a, double alpha) {
  const int n = sample_ct;
  const size_t size = static_cast<size_t>(n) + 1;
  binomial_terms terms;
  // Row 1 at indices 0 and 1; entries not yet derived stay 1.0.
  terms.binom.assign(size, 1.0);
  terms.case_pow.resize(size);
  terms.ctrl_pow.resize(size);
  terms.ctrl_pow[0] = terms.case_pow[0] = 1.0;
  const double b = 1.0 - a;
  for (int i = 0; i < n; ++i) {
    terms.case_pow[i + 1] = a * terms.case_pow[i];
    terms.ctrl_pow[i + 1] = terms.ctrl_pow[i] * b;
  }
  const std::vector<double>& binom = terms.binom;
  const std::vector<double>& case_pow = terms.case_pow;
  const std::vector<double>& ctrl_pow = terms.ctrl_pow;
  thresholds out;
  out.case_min.resize(size);
  out.ctrl_min.resize(size);
  int* case_min = out.case_min.data();
  int* ctrl_min = out.ctrl_min.data();
  case_min[0] = 1;
  ctrl_min[0] = 1;
  if (n > 0) {
    case_min[1] = 2;
    ctrl_min[1] = 2;
  }
  const int last_summed = std::min(n, kLargestSummedCell);
  for (int m = 2; m <= last_summed; ++m) {
    terms.advance_to_row(m);
    const double bar = 1.0 - alpha;
    // The sums run in this order and this grouping; a NaN sum never passes the bar.
    double s = 0.0;
    case_min[m] = m + 1;
    for (int j = 0; j <= m; ++j) {
      s = s + (binom[j] * case_pow[j]) * ctrl_pow[m - j];
      if (s > bar) {
        case_min[m] = j;
        break;
      }
    }
    s = 0.0;
    ctrl_min[m] = m + 1;
    for (int j = 0; j <= m; ++j) {
      s = s + (binom[j] * ctrl_pow[j]) * case_pow[m - j];
      if (s > bar) {
        ctrl_min[m] = j;
        break;
      }
    }
  }
  if (n > kLargestSummedCell) {
    fill_large_cells(case_min, kLargestSummedCell + 1, n, a, alpha);
    if (b == a)
      std::copy(case_min + kLargestSummedCell + 1, case_min + n + 1, ctrl_min + kLargestSummedCell + 1);
    else
      fill_large_cells(ctrl_min, kLargestSummedCell + 1, n, b, alpha);
  }
  return out;
}

status build_study_thresholds(int case_ct, int ctrl_ct, double alpha, memory_budget& budget, thresholds& out) {
  const int sample_ct = case_ct + ctrl_ct;
  // Five arrays of n + 1 entries: a tall study needs more for them than for its store.
  const size_t claimed = (3 * sizeof(double) + 2 * sizeof(int)) * (static_cast<size_t>(sample_ct) + 1);
  if (!budget.try_claim(claimed)) return out_of_memory();
  out = build_thresholds(sample_ct, static_cast<double>(case_ct) / static_cast<double>(case_ct + ctrl_ct), alpha);
  budget.release(claimed);
  return ok_status();
}

}  // namespace velk
