// Single-locus statistics, the single-locus search and the straightforward pair search.
#pragma once

#include "search/search_input.h"
#include "search/top_k_list.h"

namespace velk {

// The search for one disease locus: the best single SNPs into `into` (the final list).
void single_snp_search(top_k_list& into, const search_input& in);

// The pair search, one pair at a time: the reference the fast pair search is tested
// against. `final_mode` fills the final list under the corrected bound; otherwise the
// list (the level list of pairs) fills from a bound of 2.0.
void pair_search(top_k_list& into, bool final_mode, const search_input& in);

}  // namespace velk
