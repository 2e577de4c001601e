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

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

#include "base/team.h"
#include "search/kernels/block_kernel.h"
#include "search/kernels/exhaustive_kernel.h"
#include "search/search_input.h"
#include "search/top_k_list.h"

namespace velk {

// Sizes of the units of work; they change the speed, never the result.
struct search_tuning {
  long band_candidates = 1L << 20;  // candidates screened per band and rank, once bands are grown
  long first_band_rows = 8;         // rows (pair search) or parents in the first band;
                                    // bands double from there, so the bound lags little
  size_t tile_bytes = 256 * 1024;   // store blocks met by a band's rows while cached
};

// Where a level stands between two bands: the order of its locus sets, the position
// the next band's offers start at (a row of the pair search, or a parent's position in
// the sorted list below, walked downwards), and the running bound. A position of the
// search's own order, not a band: a run may resume from it with other bands, threads
// or ranks and offer exactly what an uninterrupted run offers.
struct level_mark {
  int order = 0;
  long next = 0;
  double bound = 0.0;
};

// Thrown on every rank at the end of the band (or before the permutation round) at which
// rank 0 found the run asked to stop; rank 0 has offered that band's survivors and
// passed its mark to after_band, so a checkpoint taken then resumes exactly.
struct search_stopped {};

// What rank 0 received from the other ranks, for the benchmarks.
struct band_traffic {
  long bands = 0;
  double bytes = 0;
};

struct search_engine {
  block_kernel kernel = nullptr;
  exhaustive_kernel exhaustive = {};  // of the same level
  search_tuning tuning;
  std::vector<double> inv_size;      // 1.0 / r by row size r
  std::vector<uint64_t> thresholds;  // T1 | T2 << 32 by cell size
  double inv_case_ctrl = 0.0;
  const team* processes = &single_process();
  bool show_progress = true;         // the progress line (rank 0 only)
  bool announce_levels = true;       // the line of each finished lower level
  // Rank 0, after each band's offers: where the level stands (for checkpoints).
  std::function<void(const level_mark&)> after_band;
  // Rank 0, once per band: whether the run is asked to stop (SIGTERM); every rank then
  // throws search_stopped at the end of that band. Null: never.
  std::function<bool()> stop_requested;
  // The level to resume, on rank 0: its order, next position and bound (the lists are
  // restored by the caller). Levels below it are taken as done.
  std::optional<level_mark> resume;
  band_traffic* traffic = nullptr;  // counted on rank 0 when set
};

// Picks the kernel and derives the lookup tables of the input's thresholds.
void prepare_engine(search_engine& engine, kernel_level level, const search_tuning& tuning, const search_input& in);

// Same contract as pair_search; every rank calls it, only rank 0's list fills.
void fast_pair_search(top_k_list& into, bool final_mode, const search_input& in, const search_engine& engine);

// Extends every parent of `from` (sorted worst first, walked best first) into `into`;
// every rank calls it with the same parents, only rank 0's `into` fills.
void fast_extend_level(const top_k_list& from, top_k_list& into, int order, const search_input& in,
                       const search_engine& engine);

}  // namespace velk
