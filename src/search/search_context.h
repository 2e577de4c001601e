// How a search runs: the implementation, the sizes of its units of work, the team of
// ranks, what it shows, where it resumes and whom it tells where it stands. Built once
// by the caller and passed by const reference down to the band walk; none of it
// changes the result, only how and where it is computed.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>

#include "base/team.h"

namespace velk {

// Which implementation searches: both give the same bytes; the straightforward one is
// kept as the reference that the fast one is tested against.
enum class search_path { straightforward, fast_table, fast_popcnt, fast_avx2, fast_avx512, fast };

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

// What rank 0 received from the other ranks, for the benchmarks.
struct band_traffic {
  long bands = 0;
  double bytes = 0;
};

struct search_context {
  search_path path = search_path::fast;
  search_tuning tuning;
  // Every rank of the team calls the search; only rank 0's lists fill.
  const team* processes = &single_process();
  bool show_progress = true;    // the progress line (fast path, rank 0 only)
  bool announce_levels = true;  // the line of each finished lower level
  // Rank 0, after each band's offers (fast path only): where the level stands, for
  // checkpoints.
  std::function<void(const level_mark&)> after_band;
  // Rank 0 (fast path only), once per band: whether the run is asked to stop (SIGTERM,
  // SIGINT); every rank then throws search_stopped (fast_search.h) at the end of that
  // band. In a search that a rank runs alone (a permutation's) each rank calls it.
  // Null: never.
  std::function<bool()> stop_requested;
  // The level to resume (fast path only): its order, next position and bound, its lists
  // restored by the caller. Levels below it are taken as done.
  std::optional<level_mark> resume;
  band_traffic* traffic = nullptr;  // counted on rank 0 when set
};

}  // namespace velk
