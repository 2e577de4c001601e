#include "search/exhaustive_search.h"

#include <omp.h>

#include <algorithm>
#include <bit>
#include <string>
#include <vector>

#include "search/band_walk.h"
#include "search/candidate_rules.h"
#include "search/progress.h"
#include "stats/major_cell_table.h"

namespace velk {

namespace {

// ---- The enumeration of parents ----------------------------------------------------------
//
// A parent is a set of width = order - 1 SNPs below the last SNP; its sets are itself
// with each SNP above its last one. Parents in lexicographic order, each with its SNPs
// above in increasing order, give every set once, in lexicographic order.

// C(n, k) for k <= 3, 0 when n < k.
long choose(long n, int k) {
  if (n < k) return 0;
  long c = 1;
  for (int i = 0; i < k; ++i) c = c * (n - i) / (i + 1);  // exact: each step is C(n, i + 1) * (i + 1)! / (i + 1)!
  return c;
}

// The parent of lexicographic position `rank` among the width-subsets of 0 ... m - 1.
void unrank_parent(long rank, int width, long m, int64_t* parent) {
  long lo = 0;
  for (int pos = 0; pos < width; ++pos) {
    const int after = width - pos - 1;
    for (long v = lo;; ++v) {
      const long with_v = choose(m - 1 - v, after);  // parents whose SNP at pos is v
      if (rank < with_v) {
        parent[pos] = v;
        lo = v + 1;
        break;
      }
      rank -= with_v;
    }
  }
}

// The next parent in lexicographic order among the width-subsets of 0 ... m - 1.
void next_parent(int64_t* parent, int width, long m) {
  int pos = width - 1;
  while (pos > 0 && parent[pos] == m - width + pos) --pos;
  ++parent[pos];
  for (int i = pos + 1; i < width; ++i) parent[i] = parent[i - 1] + 1;
}

// Sets of `order` SNPs before the first set of a parent, in lexicographic order: the
// progress of a search that resumes there.
double sets_before(const int64_t* parent, int width, long snp_ct) {
  const int order = width + 1;
  double before = 0;
  long lo = 0;
  for (int pos = 0; pos < width; ++pos) {
    for (long v = lo; v < parent[pos]; ++v) before += static_cast<double>(choose(snp_ct - 1 - v, order - 1 - pos));
    lo = parent[pos] + 1;
  }
  return before;
}

double all_sets(long snp_ct, int order) {
  double sets = 1;
  for (int i = 0; i < order; ++i) sets = sets * static_cast<double>(snp_ct - i) / (i + 1);
  return sets > 0 ? sets : 0;
}

long sets_of_parent(long snp_ct, const int64_t* parent, int width) { return snp_ct - 1 - parent[width - 1]; }

// Admission against the parent's SNPs and the added one: beating the largest of the
// parent's statistics is beating each of them.
double parent_floor(const search_input& in, const int64_t* parent, int width) {
  double floor = in.single[parent[0]];
  for (int i = 1; i < width; ++i) floor = std::max(floor, in.single[parent[i]]);
  return floor;
}

}  // namespace

long exhaustive_parent_count(long snp_ct, int order) { return choose(snp_ct - 1, order - 1); }

void exhaustive_search_straightforward(const search_input& in, int order, double first_bound, top_k_list& into) {
  const store_shape& shape = in.shape();
  const long snp_ct = shape.snp_ct;
  const int width = order - 1;
  const int cells = cell_total(width);
  const size_t words = shape.slot_words();
  const long parents = exhaustive_parent_count(snp_ct, order);
  std::vector<uint64_t> combined(static_cast<size_t>(cells) * words), scratch(3 * static_cast<size_t>(width) * words);
  int64_t loci[4];
  double bound = first_bound;
  double done = 0;
  level_progress progress(std::to_string(order) + "-locus sets", "sets", all_sets(snp_ct, order));
  if (parents > 0) unrank_parent(0, width, snp_ct - 1, loci);
  for (long r = 0; r < parents; ++r, next_parent(loci, width, snp_ct - 1)) {
    fill_combined_cells(*in.store, loci, width, scratch.data(), combined.data());
    const double floor = parent_floor(in, loci, width);
    for (long x = loci[width - 1] + 1; x < snp_ct; ++x) {
      const major_cell_table t = cells_against_snp(in, combined.data(), cells, x);
      const double s = chi_square(t.cell, 3, 2);
      if (!admitted(s, bound, floor, in.single[x])) continue;
      loci[width] = x;
      offer(into, bound, s, loci, t.nmajor);
    }
    done += static_cast<double>(sets_of_parent(snp_ct, loci, width));
    progress.advance(done);
  }
}

void fast_exhaustive_search(const search_input& in, int order, double first_bound, const search_engine& engine,
                            top_k_list& into) {
  const team& t = *engine.processes;
  const bool lead = leads(t);
  const store_shape& shape = in.shape();
  const long snp_ct = shape.snp_ct;
  const int width = order - 1;
  const int cells = cell_total(width);
  const size_t words = shape.slot_words();
  const long m = snp_ct - 1;  // parents lie below the last SNP
  const long parents = exhaustive_parent_count(snp_ct, order);
  const long blocks = shape.block_ct();
  split_completeness complete;
  find_completeness(*in.store, false, complete);
  const level_mark start = level_start(engine, order, 0, first_bound);
  double bound = start.bound;  // the running bound, as rank 0 holds it
  const search_tuning& tuning = engine.tuning;
  // Bands of parents: about band_candidates sets per rank once grown (a parent has about
  // a third of the SNPs above it), never more parents than there are.
  const long full_band = std::min<long>(
      std::max(tuning.first_band_rows, 3 * tuning.band_candidates / std::max<long>(snp_ct, 1)) * t.size,
      std::max(parents, 1L));
  std::vector<int64_t> band_parents(static_cast<size_t>(full_band) * width);
  std::vector<double> sets_upto(static_cast<size_t>(full_band) + 1);  // sets of the band's first u parents
  // Per thread: the combined cells, then room for the parent's slots.
  const size_t thread_words = static_cast<size_t>(cells + 3 * width) * words;
  std::vector<uint64_t> combined(static_cast<size_t>(omp_get_max_threads()) * thread_words);
  std::vector<int32_t> cell_totals(static_cast<size_t>(omp_get_max_threads()) * cells * kClasses);
  const block_job base = base_job(engine, in);
  int64_t next[3] = {0, 0, 0};  // the next band's first parent
  if (start.next < parents) unrank_parent(start.next, width, m, next);
  double done = start.next < parents ? sets_before(next, width, snp_ct) : all_sets(snp_ct, order);
  level_progress progress(std::to_string(order) + "-locus sets", "sets", all_sets(snp_ct, order),
                          lead && engine.show_progress, done);
  // Every rank walks the band's parents (its part, and rank 0 all of them to offer), and
  // takes consecutive parts of about equal set count: rank r the parents whose sets
  // begin in its share.
  long band_first = 0;  // the walk position of the band's first parent
  const auto part = [&](long w0, long units, int rank, int parts, long& u0, long& u1) {
    band_first = w0;
    sets_upto[0] = 0;
    for (long u = 0; u < units; ++u) {
      std::copy(next, next + width, band_parents.begin() + u * width);
      sets_upto[u + 1] = sets_upto[u] + static_cast<double>(sets_of_parent(snp_ct, next, width));
      if (start.next + w0 + u + 1 < parents) next_parent(next, width, m);
    }
    const auto boundary = [&](int r) {
      if (r == 0) return 0L;
      if (r == parts) return units;
      const double share_start = sets_upto[units] * r / parts;
      return static_cast<long>(std::lower_bound(sets_upto.begin(), sets_upto.begin() + units, share_start) -
                               sets_upto.begin());
    };
    u0 = boundary(rank);
    u1 = boundary(rank + 1);
  };
  const auto screen_parents = [&](long, long u0, long u1, double screen, band_survivors& kept) {
    const bool threaded = (sets_upto[u1] - sets_upto[u0]) * 3 * cells * static_cast<double>(words) >= kParallelWork;
#pragma omp parallel for schedule(dynamic, 1) if (threaded)
    for (long u = u0; u < u1; ++u) {
      const int64_t* parent = band_parents.data() + u * width;
      std::vector<survivor>& out = kept[u];
      out.clear();
      const int me = omp_get_thread_num();
      uint64_t* mine = combined.data() + static_cast<size_t>(me) * thread_words;
      fill_combined_cells(*in.store, parent, width, mine + static_cast<size_t>(cells) * words, mine);
      const uint64_t* rows[27];
      for (int c = 0; c < cells; ++c) rows[c] = mine + static_cast<size_t>(c) * words;
      int32_t* totals = cell_totals.data() + static_cast<size_t>(me) * cells * kClasses;
      const long last = parent[width - 1];
      // The rows' sizes serve only against blocks of complete SNPs; a parent near the
      // end meets few blocks, and counting its 27 rows would cost as much as they do.
      const long first_block = (last + 1) / kLanes;
      if (std::any_of(complete.complete_blocks.begin() + first_block, complete.complete_blocks.end(),
                      [](uint8_t c) { return c != 0; }))
        count_rows(rows, cells, shape.case_word_ct, shape.ctrl_word_ct, totals);
      block_job job = base;
      job.rows = rows;
      job.nrows = cells;
      job.row_total = totals;
      // Lanes at or below the parent's last SNP, and beyond the last SNP, hold no set.
      const auto excluded = [last, snp_ct](long b) {
        const long below = last + 1 - b * kLanes;
        const unsigned low = below <= 0 ? 0u : below >= kLanes ? kAllLanes : (1u << below) - 1u;
        return low | lanes_beyond_snps(b, snp_ct);
      };
      screen_row(job, in, complete, first_block, blocks, std::max(screen, parent_floor(in, parent, width)),
                 excluded, engine, out);
    }
  };
  int64_t loci[4];
  const auto offer_parent = [&](long w, const std::vector<survivor>& kept) {
    const int64_t* parent = band_parents.data() + (w - band_first) * width;
    const double floor = parent_floor(in, parent, width);
    std::copy(parent, parent + width, loci);
    for (const survivor& s : kept) {
      if (!admitted(s.chisq, bound, floor, in.single[s.snp])) continue;
      loci[width] = s.snp;
      offer(into, bound, s.chisq, loci, s.nmajor);
    }
  };
  const auto after_band = [&](long w) {
    done += sets_upto[w - band_first];
    progress.advance(done);
    if (engine.after_band) engine.after_band({order, start.next + w, bound});
  };
  walk_in_bands(engine, parents - start.next, full_band, bound, part, screen_parents, offer_parent, after_band);
}

}  // namespace velk
