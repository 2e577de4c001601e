// The fast pair search and level extension: the same candidates, statistics, tests and
// order of offers as the straightforward searches, computed kLanes candidates at a
// time, on every core and every rank of the team.
//
// Candidates are screened in bands: the workers of a band compute every candidate's
// exact table and keep those whose statistic may reach the running bound as it stood
// when the band began (the bound only rises, so a lagging bound keeps a superset).
// The kept candidates are then offered one by one, on rank 0, in the order of the
// straightforward search, under the same tests with the real bound, so the lists end
// up identical. Under MPI the rows (or parents) of a band are dealt to the ranks in
// consecutive parts of equal work; each rank sends its survivors, in order, to rank 0,
// which shares its bound before it offers, so that the others screen the next band
// (with a bound one band older, still a superset) while it offers this one.
#pragma once

#include <cstdint>
#include <vector>

#include "search/kernels/block_kernel.h"
#include "search/kernels/exhaustive_kernel.h"
#include "search/search_context.h"
#include "search/search_input.h"
#include "search/top_k_list.h"

namespace velk {

// Thrown on every rank at the end of the band (or of the permutation round) at which
// rank 0 found the run asked to stop; rank 0 has offered that band's survivors and
// passed its mark to after_band, so a checkpoint taken then resumes exactly. (A
// permutation's search, which each rank runs alone, throws it on its own rank; the
// permutations catch it and stop together at the end of the round.) The one
// exception the program itself throws (the statistics library's domain error is the
// other one the run sequence catches): a stop is decided deep in the band walk, inside the
// searches' nested levels, and every rank must unwind from it at once, at the same band,
// to the run sequence, which writes the checkpoint; no failure travels this way.
struct search_stopped {};

// What the fast searches derive from the kernel level and the input's thresholds, once
// per search (or permutation): the kernels and the lookup tables they read.
struct search_engine {
  block_kernel kernel = nullptr;
  exhaustive_kernel exhaustive = {};        // of the same level
  std::vector<double> inv_size;             // 1.0 / r by row size r
  std::vector<uint64_t> packed_thresholds;  // case_min | ctrl_min << 32 by cell size
  double inv_case_ctrl = 0.0;
};

// Picks the kernel and derives the lookup tables of the input's thresholds.
void prepare_engine(search_engine& engine, kernel_level level, const search_input& in);

// Same contract as pair_search; every rank of the context's team calls it, only rank
// 0's list fills.
void fast_pair_search(top_k_list& into, bool final_mode, const search_input& in, const search_context& context,
                      const search_engine& engine);

// Extends every parent of `from` (sorted worst first, walked best first) into `into`;
// every rank calls it with the same parents, only rank 0's `into` fills.
void fast_extend_level(const top_k_list& from, top_k_list& into, int order, const search_input& in,
                       const search_context& context, const search_engine& engine);

}  // namespace velk
