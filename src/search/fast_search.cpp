#include "search/fast_search.h"

#include <omp.h>

#include <algorithm>
#include <cstring>

#include "base/byte_io.h"
#include "data/genotype_store.h"
#include "search/candidate_rules.h"
#include "search/complete_cells.h"
#include "search/pair_search.h"
#include "search/progress.h"
#include "stats/major_cell_table.h"
#include "stats/talpha.h"

namespace velk {

namespace {

constexpr unsigned kAllLanes = (1u << kLanes) - 1u;

block_job base_job(const search_engine& engine) {
  block_job job{};
  job.nlc = nlongintcase;
  job.nlt = nlongintctrl;
  job.T1 = Table_t.T1;
  job.T2 = Table_t.T2;
  job.T12 = engine.thresholds.data();
  job.ncase = ncase;
  job.nctrl = nctrl;
  job.inv_size = engine.inv_size.data();
  job.inv_case_ctrl = engine.inv_case_ctrl;
  return job;
}

// Screens one row set against the blocks first_block ... end_block - 1 and appends the
// survivors in increasing SNP order. `excluded(b)` gives the lanes of block b that are
// no candidates; `level` is the larger of the screening bound and the statistic a
// candidate must exceed besides its SNP's own. The exact statistic of a survivor comes
// from its exact table, as the straightforward search computes it. Blocks of complete
// SNPs are counted in fewer cells.
template <class Excluded>
void screen_row(block_job job, const class_split& split, const split_completeness& complete, long first_block,
                long end_block, double level, Excluded excluded, const search_engine& engine,
                std::vector<survivor>& out) {
  job.level = level;
  block_result result;
  for (long b = first_block; b < end_block; ++b) {
    job.excluded = excluded(b);
    if (job.excluded == kAllLanes) continue;
    job.block = store_block(split.store, b);
    job.snp_floor = split.X2table1 + b * kLanes;
    for (int k = 0; k < kClasses; ++k) job.lanes_complete[k] = (complete.complete_blocks[b] >> k & 1u) != 0;
    job.genotype_total = block_genotype_counts(complete, b);
    engine.kernel(job, result);
    for (unsigned mask = result.survivors; mask != 0; mask &= mask - 1) {
      const int l = __builtin_ctz(mask);
      int table[6];
      for (int c = 0; c < 6; ++c) table[c] = static_cast<int>(result.table[c][l]);
      out.push_back({b * kLanes + l, chi_square(table, 3, 2), static_cast<int>(result.nmajor[l])});
    }
  }
}

// Lanes of block b that lie at or beyond p.
unsigned lanes_beyond_p(long b) {
  const long valid = p - b * kLanes;
  return valid >= kLanes ? 0u : kAllLanes & ~((1u << valid) - 1u);
}

// Threads pay off once a band holds this many word operations (about a millisecond
// of work); smaller bands, as in small studies, run on the calling thread alone.
constexpr double kParallelWork = 1 << 22;

bool worth_threads(double candidates, int cells) {
  return candidates * cells * static_cast<double>(slot_words()) >= kParallelWork;
}

// Bands start small, while the list fills and the bound climbs fastest, and double up
// to the size that holds about band_candidates candidates per rank.
long next_band(long band, long full_band) { return std::min(full_band, band * 2); }

size_t block_bytes() { return sizeof(uint64_t) * block_words(); }

// ---- Survivors across the team ---------------------------------------------------------
//
// A rank's part of a band travels as, per unit in order, a 32-bit count followed by
// that many (64-bit SNP index, statistic, 32-bit case-major count) records.

void pack(const band_survivors& kept, long first, long end, std::vector<unsigned char>& out) {
  out.clear();
  for (long u = first; u < end; ++u) {
    put_value(out, static_cast<uint32_t>(kept[u].size()));
    for (const survivor& s : kept[u]) {
      put_value(out, static_cast<int64_t>(s.snp));
      put_value(out, s.chisq);
      put_value(out, static_cast<int32_t>(s.nmajor));
    }
  }
}

void unpack(const std::vector<unsigned char>& in, long units, band_survivors& kept) {
  const unsigned char* at = in.data();
  const unsigned char* end = at + in.size();
  for (long u = 0; u < units; ++u) {
    uint32_t count = 0;
    take_value(at, end, count);
    kept[u].resize(count);
    for (survivor& s : kept[u]) {
      int64_t snp = 0;
      int32_t nmajor = 0;
      take_value(at, end, snp);
      take_value(at, end, s.chisq);
      take_value(at, end, nmajor);
      s.snp = static_cast<long>(snp);
      s.nmajor = nmajor;
    }
  }
}

}  // namespace

void exchange_band(const team& t, band_survivors& kept, long first, long end, long units, double bound,
                   double& screen, band_traffic* traffic) {
  if (t.size == 1) return;
  std::vector<unsigned char> mine, all;
  pack(kept, first, end, mine);
  t.gather(mine, all);
  if (leads(t)) unpack(all, units, kept);
  if (leads(t) && traffic != nullptr) {
    ++traffic->bands;
    traffic->bytes += static_cast<double>(all.size() - mine.size());
  }
  share(t, bound);
  if (!leads(t)) screen = bound;
}

namespace {

// Rows [r0, r1) of the band [i0, i1) that rank `r` of `parts` screens: consecutive
// parts holding about equal numbers of pairs (row i holds p - 1 - i of them).
void pair_part(long i0, long i1, int r, int parts, long& r0, long& r1) {
  const auto pairs_before = [i0](long i) {  // pairs of rows i0 ... i - 1
    return static_cast<double>(i - i0) * (static_cast<double>(p) - 1 - 0.5 * static_cast<double>(i0 + i - 1));
  };
  const double total = pairs_before(i1);
  const auto boundary = [&](int k) {
    if (k == 0) return i0;
    if (k == parts) return i1;
    long lo = i0, hi = i1;  // the first row with pairs_before >= total * k / parts
    while (lo < hi) {
      const long mid = lo + (hi - lo) / 2;
      if (pairs_before(mid) >= total * k / parts)
        hi = mid;
      else
        lo = mid + 1;
    }
    return lo;
  };
  r0 = boundary(r);
  r1 = boundary(r + 1);
}

// The level's starting point: where rank 0 resumes it, or its start; every rank
// learns it.
level_mark level_start(const search_engine& engine, int order, long first, double bound) {
  level_mark start{order, first, bound};
  if (leads(*engine.processes) && engine.resume && engine.resume->order == order) start = *engine.resume;
  share(*engine.processes, start.next);
  share(*engine.processes, start.bound);
  return start;
}

}  // namespace

void prepare_engine(search_engine& engine, kernel_level level, const search_tuning& tuning) {
  engine.kernel = kernel_for(level);
  engine.tuning = tuning;
  engine.thresholds.resize(static_cast<size_t>(n) + 1);
  for (int m = 0; m <= n; ++m)
    engine.thresholds[m] =
        static_cast<uint32_t>(Table_t.T1[m]) | static_cast<uint64_t>(static_cast<uint32_t>(Table_t.T2[m])) << 32;
  engine.inv_size.assign(static_cast<size_t>(n) + 1, 0.0);
  for (int r = 1; r <= n; ++r) engine.inv_size[r] = 1.0 / r;
  engine.inv_case_ctrl =
      (ncase > 0 && nctrl > 0) ? 1.0 / (static_cast<double>(ncase) * static_cast<double>(nctrl)) : 0.0;
}

void fast_pair_search(disModel& model, int final_mode, const class_split& split, const search_engine& engine) {
  const team& t = *engine.processes;
  const bool lead = leads(t);
  // Only rank 0 computes the corrected bound: a domain error is then reported once.
  const level_mark start = level_start(engine, 2, 0, lead ? (final_mode ? corrected_bound() : 2.0) : 0.0);
  double bound = start.bound;   // the running bound, as rank 0 holds it
  double screen = start.bound;  // the bound this rank screens with
  const search_tuning& tuning = engine.tuning;
  // No band holds more rows than the study: the buffers below are sized by it.
  const long full_band = std::min<long>(
      std::max(tuning.first_band_rows, tuning.band_candidates / std::max<long>(p, 1)) * t.size, std::max(p, 1));
  band_survivors kept(full_band);
  const size_t row_words = 3 * slot_words();
  std::vector<uint64_t> rows(static_cast<size_t>(full_band) * row_words);
  std::vector<int32_t> row_totals(static_cast<size_t>(full_band) * 3 * kClasses);
  const block_job base = base_job(engine);
  split_completeness complete;
  find_completeness(split.store, true, complete);
  // The blocks are visited in tiles that stay in a core's cache while every row of the
  // band meets them; rows are dealt to the threads in turn, and each row still meets
  // the blocks in increasing order, so its survivors come out in SNP order.
  const long blocks = store_blocks();
  const long tile = std::max<long>(1, static_cast<long>(tuning.tile_bytes / std::max<size_t>(block_bytes(), 1)));
  int64_t loci[2];
  level_progress progress(2, static_cast<double>(p) * (p - 1) / 2, lead && engine.show_progress);
  double done = static_cast<double>(start.next) * (static_cast<double>(p) - 1 - 0.5 * (start.next - 1));
  long band = std::min(tuning.first_band_rows * t.size, full_band);
  for (long i0 = start.next; i0 + 1 < p; i0 += band, band = next_band(band, full_band)) {
    const long i1 = std::min<long>(i0 + band, p - 1);
    long r0, r1;
    pair_part(i0, i1, t.rank, t.size, r0, r1);
    const bool threaded = worth_threads(static_cast<double>(r1 - r0) * static_cast<double>(p - r0), 9);
#pragma omp parallel if (threaded)
    {
      const long threads = omp_get_num_threads();
      const long me = omp_get_thread_num();
      for (long i = r0 + me; i < r1; i += threads) {
        kept[i - i0].clear();
        uint64_t* row = rows.data() + static_cast<size_t>(i - r0) * row_words;
        copy_snp_out(split.store, i, row);
        const uint64_t* row_slots[3] = {row, row + slot_words(), row + 2 * slot_words()};
        count_rows(row_slots, 3, nlongintcase, nlongintctrl,
                   row_totals.data() + static_cast<size_t>(i - r0) * 3 * kClasses);
      }
      for (long t0 = (r0 + 1) / kLanes; t0 < blocks; t0 += tile) {
        const long t1 = std::min(t0 + tile, blocks);
        for (long i = r0 + me; i < r1; i += threads) {
          const long first = std::max(t0, (i + 1) / kLanes);
          if (first >= t1) continue;
          const uint64_t* row = rows.data() + static_cast<size_t>(i - r0) * row_words;
          const uint64_t* row_slots[3] = {row, row + slot_words(), row + 2 * slot_words()};
          block_job job = base;
          job.rows = row_slots;
          job.nrows = 3;
          job.row_total = row_totals.data() + static_cast<size_t>(i - r0) * 3 * kClasses;
          for (int k = 0; k < kClasses; ++k) job.rows_complete[k] = rows_take_rule(complete, job.row_total, k);
          // Lanes at or below i hold no pair with i.
          const auto excluded = [i](long b) {
            const long below = i + 1 - b * kLanes;
            const unsigned low = below <= 0 ? 0u : below >= kLanes ? kAllLanes : (1u << below) - 1u;
            return low | lanes_beyond_p(b);
          };
          screen_row(job, split, complete, first, t1, std::max(screen, split.X2table1[i]), excluded, engine,
                     kept[i - i0]);
        }
      }
    }
    exchange_band(t, kept, r0 - i0, r1 - i0, i1 - i0, bound, screen, engine.traffic);
    if (!lead) continue;
    for (long i = i0; i < i1; ++i) {
      for (const survivor& s : kept[i - i0]) {
        if (!admitted(s.chisq, bound, split.X2table1[i], split.X2table1[s.snp])) continue;
        loci[0] = i;
        loci[1] = s.snp;
        offer(*model.result_list, bound, s.chisq, loci, s.nmajor);
      }
      done += static_cast<double>(p - 1 - i);
    }
    screen = bound;
    progress.advance(done);
    if (engine.after_band) engine.after_band({2, i1, bound});
  }
}

void fast_extend_level(const top_k_list& from, top_k_list& into, int order, const class_split& split,
                       const search_engine& engine) {
  const team& t = *engine.processes;
  const bool lead = leads(t);
  const int width = order - 1;
  int cells = 1;
  for (int i = 0; i < width; ++i) cells *= 3;
  const size_t cell_words = slot_words();
  const search_tuning& tuning = engine.tuning;
  // No band holds more parents than the list.
  const long full_band = std::min<long>(
      std::max(tuning.first_band_rows, tuning.band_candidates / std::max<long>(p, 1)) * t.size,
      std::max(from.count, 1));
  band_survivors kept(full_band);
  std::vector<uint64_t> combined(static_cast<size_t>(omp_get_max_threads()) * cells * cell_words);
  std::vector<int32_t> cell_totals(static_cast<size_t>(omp_get_max_threads()) * cells * kClasses);
  const block_job base = base_job(engine);
  split_completeness complete;
  find_completeness(split.store, false, complete);
  const long blocks = store_blocks();
  int64_t loci[4];
  // Parents best first: positions count - 1 down to 0. The bound is set once per level
  // and only rises.
  const level_mark start = level_start(engine, order, from.count - 1, 2.0);
  double bound = start.bound;
  double screen = start.bound;
  const double per_parent = static_cast<double>(p - width);
  level_progress progress(order, from.count * per_parent, lead && engine.show_progress);
  long band = std::min(tuning.first_band_rows * t.size, full_band);
  for (long hi = start.next; hi >= 0; hi -= band, band = next_band(band, full_band)) {
    // Unit u of the band is the parent at position hi - u.
    const long units = std::min(band, hi + 1);
    const long u0 = part_start(units, t.rank, t.size);
    const long u1 = part_start(units, t.rank + 1, t.size);
    const bool threaded = worth_threads(static_cast<double>(u1 - u0) * static_cast<double>(p), 3 * cells);
#pragma omp parallel for schedule(dynamic, 1) if (threaded)
    for (long u = u0; u < u1; ++u) {
      const multi_locus_node& parent = from.nodes[hi - u];
      std::vector<survivor>& out = kept[u];
      out.clear();
      uint64_t* mine = combined.data() + static_cast<size_t>(omp_get_thread_num()) * cells * cell_words;
      fill_combined_cells(split.store, parent.loci, width, mine);
      const uint64_t* rows[27];
      for (int c = 0; c < cells; ++c) rows[c] = mine + static_cast<size_t>(c) * cell_words;
      int32_t* totals = cell_totals.data() + static_cast<size_t>(omp_get_thread_num()) * cells * kClasses;
      count_rows(rows, cells, nlongintcase, nlongintctrl, totals);
      block_job job = base;
      job.rows = rows;
      job.nrows = cells;
      job.row_total = totals;
      const int64_t* parent_loci = parent.loci;
      const auto excluded = [parent_loci, width](long b) {
        unsigned mask = lanes_beyond_p(b);
        for (int i = 0; i < width; ++i)
          if (parent_loci[i] / kLanes == b) mask |= 1u << (parent_loci[i] % kLanes);
        return mask;
      };
      screen_row(job, split, complete, 0, blocks, std::max(screen, parent.chisq), excluded, engine, out);
    }
    exchange_band(t, kept, u0, u1, units, bound, screen, engine.traffic);
    if (!lead) continue;
    for (long u = 0; u < units; ++u) {
      const multi_locus_node& parent = from.nodes[hi - u];
      for (const survivor& s : kept[u]) {
        if (!admitted(s.chisq, bound, parent.chisq, split.X2table1[s.snp])) continue;
        insert_sorted(parent.loci, width, s.snp, loci);
        offer(into, bound, s.chisq, loci, s.nmajor);
      }
    }
    screen = bound;
    progress.advance((from.count - (hi - units + 1)) * per_parent);
    if (engine.after_band) engine.after_band({order, hi - units, bound});
  }
}

}  // namespace velk
