// The files of a run with permutations: the family-wise p-value of every reported set,
// and the maximum of every permutation.
#pragma once

#include <string>
#include <vector>

#include "search/top_k_list.h"

namespace velk {

inline constexpr const char* kPermutationsFileName = "VELKpermutations.txt";
inline constexpr const char* kPermutationMaximaFileName = "VELKpermutation_maxima.txt";

// The family-wise p-value of a statistic t, (1 + #{b : max_b >= t}) / (B + 1), and
// the number of maxima at or above it.
double family_wise_p(const std::vector<double>& maxima, double t, long& exceeding);

// VELKpermutations.txt: a tab-separated header SNP1 ... SNPk, chi_SQ, P_value,
// FW_P_value, Exceeding, then one row per set of the final list in the order of the
// result file, its loci, statistic and p-value printed exactly as there, its family-wise
// p-value (%g) and the number of maxima at or above its statistic. Written with the
// result file (results/run_files.h).
std::string permutation_table_text(const top_k_list& list, int order, const std::vector<double>& maxima);

// VELKpermutation_maxima.txt: one line per permutation, its number and its maximum (%f).
std::string permutation_maxima_text(const std::vector<double>& maxima);

// Removes both files, so that none describes another result (a run without permutations).
void remove_permutation_files();

}  // namespace velk
