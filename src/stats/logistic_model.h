// Logistic regression of case status, fitted as R's glm(family = binomial) fits it, and
// the likelihood-ratio test of two nested fits, as anova(..., test = "LRT") gives it.
//
// The design comes in two parts: columns with a value per individual (the intercept,
// the covariates), then columns whose value depends only on the individual's group
// (its genotype cell), given once per group. Every model of a set's interaction tests
// has that shape, and it lets a weighted cross-product be summed per group: the cost
// of an iteration grows with the square of the individual columns only.
#pragma once

#include <Eigen/Dense>
#include <cmath>
#include <cstdint>
#include <vector>

namespace velk {

struct logistic_fit {
  double deviance = 0.0;
  int rank = 0;                  // columns estimated
  std::vector<bool> aliased;     // per column: dropped, as R drops it (coefficient NA)
  Eigen::VectorXd coefficients;  // NaN where aliased
  Eigen::VectorXd std_errors;    // Wald standard errors, NaN where aliased
  int iterations = 0;
  bool converged = false;        // the deviance settled within the iterations allowed
  bool separation = false;       // a fitted probability numerically 0 or 1
};

// Iterations allowed and the convergence rule, as glm.control's defaults: the fit has
// converged once |dev - dev_old| / (|dev| + 0.1) < kGlmEpsilon.
inline constexpr int kGlmMaxIterations = 25;
inline constexpr double kGlmEpsilon = 1e-8;

// Fits case status `is_case` (one per row) on the columns of `individual` (rows ×
// a) followed by the columns of `by_group` (groups × b), row r taking row group[r] of
// `by_group`. Starts, iterates, drops aliased columns and stops as R's glm.fit does.
logistic_fit fit_logistic(const Eigen::MatrixXd& individual, const std::vector<int>& group,
                          const Eigen::MatrixXd& by_group, const std::vector<uint8_t>& is_case);

struct lr_test {
  int df = 0;          // estimated columns the full model adds
  double chisq = NAN;  // the drop in deviance; NaN when df is 0
  double p = NAN;      // its upper chi-square tail; NaN when df is 0
};

lr_test likelihood_ratio(const logistic_fit& null, const logistic_fit& full);

}  // namespace velk
