// Single-locus statistics, the single-locus search and the exhaustive pair search.
#pragma once

#include <cstddef>

#include "search/class_split.h"
#include "search/dis_model.h"

namespace velk {

// Statistic of every SNP alone for the study as loaded; a larger locus set must beat
// each of its SNPs' entries. Allocated with single_locus_entries() entries.
extern double* X2table1;

// Entries of a table of single-locus statistics: p, rounded up to whole store blocks
// (the entries beyond p are 0), so that the fast searches read a block's entries at once.
size_t single_locus_entries();

// The statistic a candidate must reach in the final-mode searches: the chi-square value
// (2 degrees of freedom) whose upper tail is the larger of the raw bound and the
// pair-corrected bound 2 * Max_chi_pv_in / (p * (p - 1)). May raise the library's
// domain error for degenerate inputs.
double corrected_bound();

// Fills `table` (p entries) from `store`.
void cal_single_loci(const uint64_t* store, double* table);

// The search for one disease locus: the best single SNPs into the final list.
void find_top_k_single_loci_2(disModel& model, const class_split& split);

// The pair search. A non-zero `final_mode` fills the final list under the corrected
// bound; zero fills the model's list (the level list for pairs) from a bound of 2.0.
void cal_TList1_major(disModel& model, int final_mode, const class_split& split);

}  // namespace velk
