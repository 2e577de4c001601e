// The Anderson-Darling test of a generalized Pareto fit whose shape and scale were both
// estimated from the data (Choulakian and Stephens 2001).
#pragma once

#include <vector>

#include "stats/generalized_pareto.h"

namespace velk {

// A^2 = -n - (1/n) sum_i (2i - 1) [log z_(i) + log(1 - z_(n+1-i))], z_(i) = F(y_(i)) for
// `ascending` exceedances sorted from the smallest up. Infinite when an exceedance has
// F = 0 or 1 (one at the threshold, or at the end of a bounded tail).
double anderson_darling_statistic(const std::vector<double>& ascending, const pareto_fit& fit);

// The upper-tail p-value of A^2 for a fit of that shape, read from Choulakian and
// Stephens's table of critical values by linear interpolation, in the shape between
// its rows and in the critical values between its columns. The table covers shapes
// from -0.9 to 0.5; beyond, the nearest row is read. A statistic below the column of
// p = 0.5 gives 0.5, which means at least 0.5; one above the column of p = 0.001 gives
// 0.001, which means at most 0.001 (as does an infinite one).
double anderson_darling_p(double statistic, double shape);

}  // namespace velk
