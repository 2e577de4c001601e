// The files of a run with permutations: the family-wise p-value of every reported set,
// the maximum of every permutation, and the fit of their tail.
#pragma once

#include <string>
#include <vector>

#include "results/permutation_tail.h"
#include "search/top_k_list.h"

namespace velk {

inline constexpr const char* kPermutationsFileName = "VELKpermutations.txt";
inline constexpr const char* kPermutationMaximaFileName = "VELKpermutation_maxima.txt";

// What the permutations found: each one's maximum, and the fit of their upper tail.
struct permutation_outcome {
  std::vector<double> maxima;
  permutation_tail tail;
};

// The family-wise p-value of a statistic t, (1 + #{b : max_b >= t}) / (B + 1), and
// the number of maxima at or above it.
double family_wise_p(const std::vector<double>& maxima, double t, long& exceeding);

// VELKpermutations.txt: a tab-separated header SNP1 ... SNPk, chi_SQ, P_value,
// FW_P_value, Exceeding, FW_P_tail, then one row per set of the final list in the order
// of the result file, its loci, statistic and p-value printed exactly as there, its
// family-wise p-value (%g), the number of maxima at or above its statistic, and its
// tail p-value (%g; NA where the tail does not apply, there is no fit, or the statistic
// lies beyond the fitted tail). Written with the result file (results/run_files.h).
std::string permutation_table_text(const top_k_list& list, int order, const permutation_outcome& outcome);

// The console's line on the tail of a run of 99 permutations or more: the fit and the
// sets that got a tail p-value, or why there is no fit. Empty for fewer permutations.
std::string permutation_tail_note(const top_k_list& list, const permutation_outcome& outcome);

// VELKpermutation_maxima.txt: one line per permutation, its number and its maximum (%f).
std::string permutation_maxima_text(const std::vector<double>& maxima);

// Removes the three files, so that none describes another result (a run without
// permutations).
void remove_permutation_files();

}  // namespace velk
