// The exhaustive three- and four-locus search: every set of k SNPs, i1 < ... < ik, in
// lexicographic order, scored from its full 3^k table and offered to one list of TOP_K
// when it reaches the running bound (from 2.0) and beats each of its SNPs alone.
//
// The greedy levels only extend the best sets of the order below, so an interaction
// without lower-order signal (a parity of three SNPs) is never examined; this search
// examines everything, at the price of C(p, k) sets.
//
// The fast search walks parents, the sets of the first k - 1 SNPs, each against the
// blocks of SNPs of larger index with the exhaustive kernel (search/exhaustive_kernel.h),
// in bands screened on every thread and dealt to the ranks in consecutive parts
// of equal set count; rank 0 offers the survivors in lexicographic order, so the list
// is the same for any threads, ranks and kernel. The parents are formed on the fly: no
// list of them is held.
#pragma once

#include <cstdint>
#include <vector>

#include "search/kernels/complete_cells.h"
#include "search/kernels/exhaustive_kernel.h"
#include "search/fast_search.h"
#include "search/search_input.h"
#include "search/top_k_list.h"

namespace velk {

// Parents of the enumeration: the sets of order - 1 SNPs below the last SNP, in
// lexicographic order; a checkpoint's position is the number of parents done.
long exhaustive_parent_count(long snp_ct, int order);

// Every set of `order` (3 or 4) SNPs into `into` (its parent_order `order`), the running bound
// starting at `first_bound`, one set at a time with the straightforward count: the
// reference the fast search is tested against.
void exhaustive_search_straightforward(const search_input& in, int order, double first_bound, top_k_list& into);

// The same with the block kernels of `engine`, on the context's team: every rank calls
// it, only rank 0's list fills. Resumes at context.resume when it names this order.
void fast_exhaustive_search(const search_input& in, int order, double first_bound, const search_context& context,
                            const search_engine& engine, top_k_list& into);

// What the exhaustive search knows of complete genotypes on the store it searches (a
// permutation's classes are its own): which SNPs and blocks miss no genotype in a
// class, and the tables from which the kernel derives a complete class's cells with a
// genotype 2 (exhaustive_kernel.h): for triples each SNP's pair tables against the
// blocks above it, for quadruples each pair's triple tables. Not ready (no such class,
// or no room): every cell is counted.
struct complete_tables {
  bool ready = false;
  int order = 0;
  split_completeness split;
  std::vector<uint8_t> snp_complete;  // per SNP: bit k when complete in class k
  std::vector<uint8_t> complete_blocks;  // per block: bit k when its SNPs all are
  // Per SNP s (triples) or pair x < s (quadruples, at pair_unit): where its tables
  // against the blocks from (s + 1) / kLanes on begin in `counts`.
  std::vector<size_t> first;
  long snp_ct = 0;
  std::vector<float> counts;  // exact: a class holds fewer than 2^24 individuals
  budget_claim claim;
};

// The pairs x < s in the order of x, then s: a prefix (a, a') meets the tables of (a, s)
// and (a', s) for s = a' + 1, a' + 2, ..., which lie one after the other.
inline size_t pair_unit(const complete_tables& t, long x, long s) {
  return static_cast<size_t>(x * (2 * t.snp_ct - x - 1) / 2 + (s - x - 1));
}

// Fills `out` for a search of `order` on `in`'s store, the tables counted with `kernel`
// on every thread.
void find_complete_tables(const search_input& in, const exhaustive_kernel& kernel, int order, complete_tables& out);

// What a thread keeps from one parent to the next. The prefix's rows and their counts
// against every block above the prefix serve all the parents of that prefix, which
// follow one another in the enumeration; the rest is rebuilt for each parent. Each on
// cache lines of its own: the threads' workers lie side by side.
struct alignas(64) exhaustive_worker {
  int64_t prefix[2] = {-1, -1};      // the prefix the counts belong to
  long prefix_block = 0;             // the first block counted
  std::vector<uint64_t> prefix_rows;  // Q rows, then room for the prefix's slots
  std::vector<int32_t> prefix_counts; // per block from prefix_block: kClasses * Q * 3 * kLanes
  std::vector<float> prefix_floats;   // the same counts as floats (exhaustive_job)
  std::vector<uint64_t> rows;         // the parent's 2Q counted rows, then the last SNP's slots
  std::vector<missing_in_prefix> middle;
  int prefix_row_ct = 0;              // Q
  bool rows_partial = false;          // only the rows without a genotype 2 are formed
  const uint64_t* row_ptrs[2 * kMaxPrefixRows] = {};
  int64_t last = -1;                  // the parent's last SNP
  int32_t row_sizes[2 * kMaxPrefixRows * kClasses] = {};  // the counted rows': [r * kClasses + k]
  float row_size_floats[2 * kMaxPrefixRows * kClasses] = {};
  // With complete tables: the classes in which the parent's SNPs miss no genotype (bit
  // k), and its lower-order tables, from the block after the parent's last SNP's on.
  unsigned parent_complete = 0;
  const float* parent_tables[2] = {nullptr, nullptr};
  // A focused search's counts of the prefix against its gathered blocks of listed SNPs,
  // from listed_block on, as prefix_counts against the store's.
  int64_t listed_prefix[2] = {-1, -1};
  long listed_block = 0;
  std::vector<int32_t> listed_counts;
};

// Readies a worker for a parent of `parent_order` SNPs: its prefix's counts against every
// block above the prefix (kept while the parents share the prefix), its counted rows
// and its prefix individuals missing at its last SNP; with `complete` ready, the sizes
// of its counted rows too.
void take_parent(exhaustive_worker& me, const search_input& in, const exhaustive_kernel& kernel, const int64_t* parent,
                 int parent_order, const complete_tables* complete = nullptr);

// The job of the worker's parent against block b: `base` with the parent's rows, the
// block and its SNPs' own statistics, and with `complete` (when ready) the classes a
// set's cells may be derived in; its level and excluded lanes are the caller's. Forms
// the parent's rows that take_parent left out when the block needs them.
exhaustive_job parent_block_job(exhaustive_worker& me, const block_job& base, const search_input& in, long b,
                                const complete_tables* complete = nullptr);

}  // namespace velk
