// The generalized Pareto distribution of the exceedances y >= 0 over a threshold, and
// its maximum-likelihood fit. With shape xi and scale sigma > 0,
//
//   1 - F(y) = (1 + xi y / sigma)^(-1 / xi),   exp(-y / sigma) at xi = 0,
//
// a heavy tail for xi > 0, an exponential one at 0, and for xi < 0 a tail that ends at
// y = -sigma / xi. Every sum runs over the exceedances in the order given, so a fit
// depends on its data alone, not on threads or machine.
#pragma once

#include <optional>
#include <vector>

namespace velk {

struct pareto_fit {
  double shape = 0;           // xi
  double scale = 0;           // sigma
  double log_likelihood = 0;  // of the exceedances fitted
};

// log(1 - F(y)); minus infinity at and beyond the end of a bounded tail.
double pareto_log_survival(double shape, double scale, double y);

// The log-likelihood of the exceedances `y`: minus infinity when one of them lies at or
// beyond the end of the tail.
double pareto_log_likelihood(const std::vector<double>& y, double shape, double scale);

// The maximum-likelihood fit to `ascending`, exceedances sorted from the smallest up.
// Nothing when there are fewer than two, when they are all equal, or when the
// likelihood has no local maximum with a shape above -1 (beyond it the likelihood
// grows without bound as the end of the tail meets the largest exceedance).
std::optional<pareto_fit> fit_generalized_pareto(const std::vector<double>& ascending);

}  // namespace velk
