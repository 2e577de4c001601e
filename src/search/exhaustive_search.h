// The exhaustive three- and four-locus search: every set of k SNPs, i1 < ... < ik, in
// lexicographic order, scored from its full 3^k table and offered to one list of TOP_K
// when it reaches the running bound (from 2.0) and beats each of its SNPs alone.
//
// The greedy levels only extend the best sets of the order below, so an interaction
// without lower-order signal (a parity of three SNPs) is never examined; this search
// examines everything, at the price of C(p, k) sets.
//
// The fast search walks parents, the sets of the first k - 1 SNPs (a pair's 9 combined
// cells, a triple's 27), each against the blocks of SNPs of larger index with the block
// kernels, in bands screened on every thread and dealt to the ranks in consecutive parts
// of equal set count; rank 0 offers the survivors in lexicographic order, so the list
// is the same for any threads, ranks and kernel. The parents are formed on the fly: no
// list of them is held.
#pragma once

#include "search/fast_search.h"
#include "search/search_input.h"
#include "search/top_k_list.h"

namespace velk {

// Parents of the enumeration: the sets of order - 1 SNPs below the last SNP, in
// lexicographic order; a checkpoint's position is the number of parents done.
long exhaustive_parent_count(long snp_ct, int order);

// Every set of `order` (3 or 4) SNPs into `into` (its width `order`), the running bound
// starting at `first_bound`, one set at a time with the straightforward count: the
// reference the fast search is tested against.
void exhaustive_search_straightforward(const search_input& in, int order, double first_bound, top_k_list& into);

// The same with the block kernels of `engine`, on its team: every rank calls it, only
// rank 0's list fills. Resumes at engine.resume when it names this order.
void fast_exhaustive_search(const search_input& in, int order, double first_bound, const search_engine& engine,
                            top_k_list& into);

}  // namespace velk
