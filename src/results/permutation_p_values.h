// The family-wise p-values of a result's sets, from the permutation file written beside
// it: a tab-separated header "SNP1 ... SNPk chi_SQ P_value FW_P_value Exceeding
// FW_P_tail", then one row per set of the result, in its order, with the set's indices,
// chi_SQ and P_value as the result file writes them, the family-wise p-value ("%g"), the
// count of permutations that reached the statistic, and the tail p-value ("%g", or NA).
// Files of earlier versions, without FW_P_tail, are read too.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "results/permutation_files.h"
#include "results/result_rows.h"

namespace velk {

struct family_wise_value {
  std::string text;    // as the permutation file writes it ("%g")
  long exceeding = 0;  // permutation maxima at or above the set's chi_SQ; 0: at the
                       // floor 1 / (B + 1), so the p-value is at most that
  std::string tail_text = "NA";  // FW_P_tail as written ("%g"): the p-value of the
                                 // fitted tail; NA where there is none (a file without
                                 // the column too)
};

// The family-wise p-value of every row of `rows`, as the permutation file `name` writes
// it. Nothing, silently, when there is no such file. Nothing, after a line starting
// "Warning: " on standard error, when the file cannot be read or does not belong to the
// result: a row count, SNP indices or chi_SQ text other than the result's (read from
// `result_name`), a p-value other than (1 + Exceeding) / (B + 1) for `permutation_ct` B (the
// [PERMUTES] of the parameter file: one edited since the run would otherwise name a
// B the p-values do not have), a tail p-value where none applies (results/permutation_tail.h),
// or a line of another form. A p-value from another
// result would be worse than none, so the file is taken whole or not at all.
std::optional<std::vector<family_wise_value>> read_family_wise_p_values(const char* name, const char* result_name,
                                                                        const std::vector<result_row>& rows,
                                                                        long long permutation_ct);

}  // namespace velk
