// The entry of the search: runs the search of the requested order and, for three and
// four loci, moves the locus sets that pass the p-value bounds into the final list.
#pragma once

#include <functional>
#include <optional>

#include "base/team.h"
#include "search/fast_search.h"
#include "search/search_input.h"
#include "search/search_model.h"

namespace velk {

// Which implementation searches: both give the same bytes; the straightforward one is
// kept as the reference that the fast one is tested against.
enum class search_path { straightforward, fast_table, fast_popcnt, fast_avx2, fast_avx512, fast };

// How a search runs; none of it changes the result.
struct search_context {
  search_path path = search_path::fast;
  search_tuning tuning;
  const team* processes = &single_process();
  // Rank 0, after each band's offers (fast path only): where the level stands.
  std::function<void(const level_mark&)> after_band;
  // Rank 0 (fast path only), once per band and permutation round: whether the run is
  // asked to stop; every rank then throws search_stopped (fast_search.h).
  std::function<bool()> stop_requested;
  // The level to resume (fast path only), its lists restored by the caller.
  std::optional<level_mark> resume;
};

// The kernel a path asks for, or the best one when this CPU cannot run it (the
// straightforward path: the best one).
kernel_level kernel_of(search_path path);

// Runs the search of the model's order on `in`. With a team of several ranks every
// rank calls it; only rank 0's lists fill.
void run_search(const search_model& model, const search_input& in, const search_context& context = {});

}  // namespace velk
