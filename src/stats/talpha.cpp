#include "stats/talpha.h"

#include <libalglib/specialfunctions.h>

#include <algorithm>

#include "base/memory_budget.h"

namespace velk {

Talpha Table_t;

void Talpha::init(int n, double a, double alpha_in) {
  row = 1;
  size = n + 1;
  // Five arrays of n + 1 entries: a tall study needs more for them than for its store.
  claimed = (3 * sizeof(double) + 2 * sizeof(int)) * static_cast<size_t>(size);
  claim_memory(claimed);
  binom = new double[size];
  case_pow = new double[size];
  ctrl_pow = new double[size];
  T1 = new int[size];
  T2 = new int[size];
  binom[0] = ctrl_pow[0] = case_pow[0] = 1.0;
  alpha = alpha_in;
  const double b = 1.0 - a;
  for (int i = 0; i < n; ++i) {
    binom[i + 1] = 1.0;  // row 1 at indices 0 and 1; untouched entries stay 1.0
    case_pow[i + 1] = a * case_pow[i];
    ctrl_pow[i + 1] = ctrl_pow[i] * b;
  }
}

void Talpha::cal_ch_t(int m) {
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

namespace {

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

void Talpha::cul_T() {
  T1[0] = 1;
  T2[0] = 1;
  if (size > 1) {
    T1[1] = 2;
    T2[1] = 2;
  }
  const int n = size - 1;
  const int last_summed = std::min(n, kLargestSummedCell);
  for (int m = 2; m <= last_summed; ++m) {
    cal_ch_t(m);
    const double bar = 1.0 - alpha;
    // The sums run in this order and this grouping; a NaN sum never passes the bar.
    double s = 0.0;
    T1[m] = m + 1;
    for (int j = 0; j <= m; ++j) {
      s = s + (binom[j] * case_pow[j]) * ctrl_pow[m - j];
      if (s > bar) {
        T1[m] = j;
        break;
      }
    }
    s = 0.0;
    T2[m] = m + 1;
    for (int j = 0; j <= m; ++j) {
      s = s + (binom[j] * ctrl_pow[j]) * case_pow[m - j];
      if (s > bar) {
        T2[m] = j;
        break;
      }
    }
  }
  if (n > kLargestSummedCell) {
    // case_pow[1] and ctrl_pow[1] are exactly a and 1.0 - a as init computed them.
    const double a = case_pow[1];
    const double b = ctrl_pow[1];
    fill_large_cells(T1, kLargestSummedCell + 1, n, a, alpha);
    if (b == a)
      std::copy(T1 + kLargestSummedCell + 1, T1 + n + 1, T2 + kLargestSummedCell + 1);
    else
      fill_large_cells(T2, kLargestSummedCell + 1, n, b, alpha);
  }
}

void share_thresholds(const team& t, Talpha& table) {
  share_bytes(t, table.T1, sizeof(int) * static_cast<size_t>(table.size));
  share_bytes(t, table.T2, sizeof(int) * static_cast<size_t>(table.size));
}

void Talpha::destroy() {
  delete[] binom;
  delete[] case_pow;
  delete[] ctrl_pow;
  delete[] T1;
  delete[] T2;
  binom = case_pow = ctrl_pow = nullptr;
  T1 = T2 = nullptr;
  release_memory(claimed);
  claimed = 0;
}

}  // namespace velk
