// How the fast searches walk their units (rows of the pair search, parents of a level
// or of the exhaustive search) in bands: each band screened on every thread and rank
// against the store's blocks with the counting kernels, its survivors gathered on rank
// 0 and offered there in the order of the straightforward search.
#pragma once

#include <algorithm>
#include <vector>

#include "search/kernels/block_kernel.h"
#include "search/kernels/complete_cells.h"
#include "search/fast_search.h"
#include "search/search_input.h"
#include "stats/major_cell_table.h"

namespace velk {

constexpr unsigned kAllLanes = (1u << kLanes) - 1u;

// A candidate that passed the screen, with its exact statistic and case-major count.
struct survivor {
  long snp;
  double chisq;
  int case_major_ct;
};

// The survivors of one band, per unit (a row of the pair search, a parent of a level
// or of the exhaustive search) in the order the units are offered.
using band_survivors = std::vector<std::vector<survivor>>;

// The fields of a kernel job that every job of a search shares.
block_job base_job(const search_engine& engine, const search_input& in);

// Appends the survivors of block b, each with the exact statistic of its exact table, as
// the straightforward search computes it.
inline void append_survivors(const block_result& result, long b, std::vector<survivor>& out) {
  for (unsigned mask = result.survivors; mask != 0; mask &= mask - 1) {
    const int l = __builtin_ctz(mask);
    int table[6];
    for (int c = 0; c < 6; ++c) table[c] = static_cast<int>(result.table[c][l]);
    out.push_back({b * kLanes + l, chi_square(table, 3, 2), static_cast<int>(result.case_major_ct[l])});
  }
}

// Screens one row set against the blocks first_block ... end_block - 1 and appends the
// survivors in increasing SNP order. `excluded(b)` gives the lanes of block b that are
// no candidates; `level` is the larger of the screening bound and the statistic a
// candidate must exceed besides its SNP's own. The exact statistic of a survivor comes
// from its exact table, as the straightforward search computes it. Blocks of complete
// SNPs are counted in fewer cells.
template <class Excluded>
void screen_row(block_job job, const search_input& in, const split_completeness& complete, long first_block,
                long end_block, double level, Excluded excluded, const search_engine& engine,
                std::vector<survivor>& out) {
  job.level = level;
  block_result result;
  for (long b = first_block; b < end_block; ++b) {
    job.excluded = excluded(b);
    if (job.excluded == kAllLanes) continue;
    job.block = store_block(*in.store, b);
    job.snp_floor = in.single + b * kLanes;
    for (int k = 0; k < kClasses; ++k) job.lanes_complete[k] = (complete.complete_blocks[b] >> k & 1u) != 0;
    job.genotype_total = block_genotype_counts(complete, b);
    engine.kernel(job, result);
    append_survivors(result, b, out);
  }
}

// Lanes of block b that lie at or beyond the last SNP.
inline unsigned lanes_beyond_snps(long b, long snp_ct) {
  const long valid = snp_ct - b * kLanes;
  return valid >= kLanes ? 0u : kAllLanes & ~((1u << valid) - 1u);
}

// Threads pay off once a band holds this many word operations (about a millisecond
// of work); smaller bands, as in small studies, run on the calling thread alone.
constexpr double kParallelWork = 1 << 22;

inline bool worth_threads(double candidates, int cells, const store_shape& shape) {
  return candidates * cells * static_cast<double>(shape.slot_words()) >= kParallelWork;
}

// Bands start small, while the list fills and the bound climbs fastest, and double up
// to the size that holds about band_candidates candidates per rank.
inline long next_band(long band, long full_band) { return std::min(full_band, band * 2); }

// After every rank has screened its units [first, end) of a band of `units` units:
// rank 0 receives all survivors in unit order, and shares its bound as it stands
// before the band's offers, and its `stop`; the other ranks screen the next band with
// the bound.
void exchange_band(const team& t, band_survivors& kept, long first, long end, long units, double bound,
                   double& screen, bool& stop, band_traffic* traffic);

// The level's starting point: where rank 0 resumes it, or its start; every rank
// learns it.
level_mark level_start(const search_context& context, int order, long first, double bound);

// The band loop of every fast search. A search walks its units (rows of the pair
// search upwards, parents of a level downwards, parents of the exhaustive search in
// lexicographic order) from its start; `walk_ct` units remain. Each band of units is
// split among the ranks by `part`, screened by
// `screen_units` (this rank's units [u0, u1) of the band starting at walk position w0,
// with the screening bound), gathered on rank 0 and offered there unit by unit, in
// walk order, by `offer_unit`; `after_band` then gets the walk position reached. When
// rank 0 is asked to stop, every rank throws search_stopped after that band: the one
// exception the program throws, so that every rank leaves the nested searches at once,
// at the same band (fast_search.h).
template <class Part, class Screen, class Offer, class After>
void walk_in_bands(const search_context& context, long walk_ct, long full_band, double& bound, Part part,
                   Screen screen_units, Offer offer_unit, After after_band) {
  const team& t = *context.processes;
  band_survivors kept(full_band);
  double screen = bound;  // the bound this rank screens with
  long band = std::min(context.tuning.first_band_rows * t.size, full_band);
  for (long w0 = 0; w0 < walk_ct; w0 += band, band = next_band(band, full_band)) {
    const long units = std::min(band, walk_ct - w0);
    long u0, u1;
    part(w0, units, t.rank, t.size, u0, u1);
    screen_units(w0, u0, u1, screen, kept);
    bool stop = leads(t) && context.stop_requested && context.stop_requested();
    exchange_band(t, kept, u0, u1, units, bound, screen, stop, context.traffic);
    if (leads(t)) {
      for (long u = 0; u < units; ++u) offer_unit(w0 + u, kept[u]);
      screen = bound;
      after_band(w0 + units);
    }
    if (stop) throw search_stopped{};
  }
}

}  // namespace velk
