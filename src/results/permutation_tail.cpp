#include "results/permutation_tail.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

#include "stats/anderson_darling.h"

namespace velk {

namespace {

constexpr long kMostExceedances = 250;
constexpr long kExceedanceStep = 10;
constexpr long kFewestExceedances = 10;
constexpr double kRefusedAdP = 0.05;  // a fit whose test gives this p-value or less is refused

// The fit to the `count` largest of the maxima (`descending`, longer than `count`), into
// `tail` when its test passes.
bool fit_largest(const std::vector<double>& descending, long count, permutation_tail& tail) {
  const double threshold = 0.5 * (descending[count - 1] + descending[count]);
  std::vector<double> ascending(static_cast<size_t>(count));
  for (long i = 0; i < count; ++i) ascending[i] = descending[count - 1 - i] - threshold;
  const std::optional<pareto_fit> fit = fit_generalized_pareto(ascending);
  if (!fit) return false;
  const double statistic = anderson_darling_statistic(ascending, *fit);
  const double p = anderson_darling_p(statistic, fit->shape);
  if (p <= kRefusedAdP) return false;
  tail.exceedance_ct = count;
  tail.threshold = threshold;
  tail.fit = *fit;
  tail.ad_statistic = statistic;
  tail.ad_p = p;
  return true;
}

void append(std::string& out, const char* format, auto... values) {
  char line[96];
  snprintf(line, sizeof line, format, values...);
  out += line;
}

}  // namespace

permutation_tail fit_permutation_tail(const std::vector<double>& maxima) {
  permutation_tail tail;
  tail.permutation_ct = static_cast<long long>(maxima.size());
  if (tail.permutation_ct < kTailLeastPermutations) {
    tail.no_fit = "fewer than 99 permutations";
    return tail;
  }
  std::vector<double> descending = maxima;
  std::sort(descending.begin(), descending.end(), std::greater<>());
  const long first = std::min(kMostExceedances, static_cast<long>(tail.permutation_ct / 4));
  for (long count = first; count >= kFewestExceedances; count -= kExceedanceStep)
    if (fit_largest(descending, count, tail)) return tail;
  tail.no_fit = "no fit to 10 or more of the largest maxima passed the Anderson-Darling test (p above 0.05)";
  return tail;
}

bool tail_applies(long exceeding, long long permutation_ct) {
  return permutation_ct >= kTailLeastPermutations && exceeding < kTailExceedingLimit;
}

std::optional<double> tail_p_value(const permutation_tail& tail, double t) {
  if (!tail.no_fit.empty() || !(t > tail.threshold)) return std::nullopt;
  const double survival = std::exp(pareto_log_survival(tail.fit.shape, tail.fit.scale, t - tail.threshold));
  const double p =
      static_cast<double>(tail.exceedance_ct) / static_cast<double>(tail.permutation_ct) * survival;
  if (!(p > 0)) return std::nullopt;
  return p;
}

std::string permutation_tail_text(const permutation_tail& tail) {
  std::string out;
  if (!tail.no_fit.empty()) return "no_fit\t" + tail.no_fit + "\n";
  append(out, "N_exc\t%ld\n", tail.exceedance_ct);
  append(out, "threshold\t%.17g\n", tail.threshold);
  append(out, "shape\t%.17g\n", tail.fit.shape);
  append(out, "scale\t%.17g\n", tail.fit.scale);
  append(out, "AD_statistic\t%.17g\n", tail.ad_statistic);
  append(out, "AD_p\t%.17g\n", tail.ad_p);
  return out;
}

}  // namespace velk
