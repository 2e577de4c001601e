#include "stats/anderson_darling.h"

#include <algorithm>
#include <cmath>

namespace velk {

namespace {

// Upper-tail critical values of A^2 for the generalized Pareto distribution, scale and
// shape both estimated: Choulakian V, Stephens MA. Goodness-of-fit tests for the
// generalized Pareto distribution. Technometrics 2001;43(4):478-484, Table 2, case 3.
// Its rows are the shape k of F(y) = 1 - (1 - k y / a)^(1/k), so k = -xi.
constexpr int kRows = 10;
constexpr int kColumns = 8;
constexpr double kRowK[kRows] = {0.9, 0.5, 0.2, 0.1, 0.0, -0.1, -0.2, -0.3, -0.4, -0.5};
constexpr double kColumnP[kColumns] = {0.5, 0.25, 0.1, 0.05, 0.025, 0.01, 0.005, 0.001};
constexpr double kCritical[kRows][kColumns] = {
    {0.339, 0.471, 0.641, 0.771, 0.905, 1.086, 1.226, 1.559},
    {0.356, 0.499, 0.685, 0.830, 0.978, 1.180, 1.336, 1.707},
    {0.376, 0.534, 0.741, 0.903, 1.069, 1.296, 1.471, 1.893},
    {0.386, 0.550, 0.766, 0.935, 1.110, 1.348, 1.532, 1.966},
    {0.397, 0.569, 0.796, 0.974, 1.158, 1.409, 1.603, 2.064},
    {0.410, 0.591, 0.831, 1.020, 1.215, 1.481, 1.687, 2.176},
    {0.426, 0.617, 0.873, 1.074, 1.283, 1.567, 1.788, 2.314},
    {0.445, 0.649, 0.924, 1.140, 1.365, 1.672, 1.909, 2.475},
    {0.468, 0.688, 0.985, 1.221, 1.465, 1.799, 2.058, 2.674},
    {0.496, 0.735, 1.061, 1.321, 1.590, 1.958, 2.243, 2.922},
};

// (1 - w) a + w b: a at w = 0 and b at w = 1 exactly, so the table's own numbers come
// back at its nodes.
double between(double a, double b, double w) { return (1.0 - w) * a + w * b; }

// The critical values for shape k = -xi, between the two rows around it.
void critical_values(double k, double (&out)[kColumns]) {
  int r = 0;  // kRowK[r] >= k >= kRowK[r + 1]
  while (r + 2 < kRows && k < kRowK[r + 1]) ++r;
  const double w = (kRowK[r] - k) / (kRowK[r] - kRowK[r + 1]);
  for (int c = 0; c < kColumns; ++c) out[c] = between(kCritical[r][c], kCritical[r + 1][c], w);
}

}  // namespace

double anderson_darling_statistic(const std::vector<double>& ascending, const pareto_fit& fit) {
  const size_t n = ascending.size();
  double sum = 0;
  for (size_t i = 0; i < n; ++i) {
    // log F from log(1 - F), which the distribution gives exactly.
    const double log_f = std::log(-std::expm1(pareto_log_survival(fit.shape, fit.scale, ascending[i])));
    const double log_s = pareto_log_survival(fit.shape, fit.scale, ascending[n - 1 - i]);
    sum += (2.0 * static_cast<double>(i) + 1.0) * (log_f + log_s);
  }
  return -static_cast<double>(n) - sum / static_cast<double>(n);
}

double anderson_darling_p(double statistic, double shape) {
  // Outside the table's shapes, its nearest row.
  const double k = std::clamp(-shape, kRowK[kRows - 1], kRowK[0]);
  double critical[kColumns];
  critical_values(k, critical);
  if (statistic <= critical[0]) return kColumnP[0];  // at least 0.5
  // Also an infinite statistic, or NaN: the fit is refused.
  if (!(statistic < critical[kColumns - 1])) return kColumnP[kColumns - 1];  // at most 0.001
  int c = 0;  // critical[c] < statistic <= critical[c + 1]
  while (statistic > critical[c + 1]) ++c;
  const double w = (statistic - critical[c]) / (critical[c + 1] - critical[c]);
  return between(kColumnP[c], kColumnP[c + 1], w);
}

}  // namespace velk
