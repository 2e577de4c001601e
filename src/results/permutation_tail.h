// Tail-approximated family-wise p-values: the upper tail of the permutation maxima
// fitted once per run by a generalized Pareto distribution (Knijnenburg TA, Wessels LFA,
// Reinders MJT, Shmulevich I. Fewer permutations, more accurate P-values.
// Bioinformatics 2009;25(12):i161-i168), so that a set that few or no permutations
// reach gets a p-value below the floor 1 / (B + 1) of the count.
//
// The N_exc largest of the B maxima, N_exc = min(250, floor(B / 4)) to begin with, lie
// above a threshold u halfway between the N_exc-th and the (N_exc + 1)-th largest; their
// exceedances are fitted by maximum likelihood and the fit is tested by Anderson and
// Darling's statistic. While the test's p-value is at most 0.05 (or the likelihood has
// no maximum), N_exc drops by 10 and the fit is made again; below 10 exceedances there
// is no fit. A statistic t then has the p-value (N_exc / B) (1 - F(t - u)).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "stats/generalized_pareto.h"

namespace velk {

inline constexpr const char* kPermutationTailFileName = "VELKpermutation_tail.txt";

// The fewest permutations that are fitted, and the count of maxima at or above a set's
// statistic from which its empirical p-value stands alone.
inline constexpr long long kTailLeastPermutations = 99;
inline constexpr long kTailExceedingLimit = 10;

struct permutation_tail {
  long long permutation_ct = 0;  // B
  std::string no_fit;            // why there is no fit; empty when there is one
  long exceedance_ct = 0;        // N_exc
  double threshold = 0;          // u
  pareto_fit fit;
  double ad_statistic = 0;
  double ad_p = 0;
};

// The fit of the upper tail of `maxima` (one per permutation), or why there is none.
permutation_tail fit_permutation_tail(const std::vector<double>& maxima);

// Whether a set reached by `exceeding` of `permutation_ct` maxima gets a tail p-value:
// B at least 99 and fewer than 10 maxima at or above its statistic. Elsewhere the
// count itself is precise enough.
bool tail_applies(long exceeding, long long permutation_ct);

// The tail p-value of statistic t: nothing without a fit, for t at or below the
// threshold (which a set that applies never is: 10 maxima or more lie above u), and for
// t beyond the fitted tail: at or past the end of a bounded tail (a negative shape), or
// so far out in it that the p-value is below the smallest double. The fit says nothing
// about such t but that no permutation-like maximum reaches it; a 0 would claim more.
std::optional<double> tail_p_value(const permutation_tail& tail, double t);

// VELKpermutation_tail.txt: NAME<TAB>VALUE lines N_exc, threshold, shape, scale,
// AD_statistic and AD_p, the numbers printed with %.17g; or the one line
// no_fit<TAB>REASON.
std::string permutation_tail_text(const permutation_tail& tail);

}  // namespace velk
