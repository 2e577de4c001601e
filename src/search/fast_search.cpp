#include "search/fast_search.h"

#include <omp.h>

#include <algorithm>
#include <cstring>

#include "base/byte_io.h"
#include "data/genotype_store.h"
#include "search/candidate_rules.h"
#include "search/band_walk.h"
#include "search/kernels/complete_cells.h"
#include "search/pair_search.h"
#include "search/progress.h"
#include "stats/major_cell_table.h"

namespace velk {

namespace {

size_t block_bytes(const store_shape& shape) { return sizeof(uint64_t) * shape.block_words(); }

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
      put_value(out, static_cast<int32_t>(s.case_major_ct));
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
      int32_t case_major_ct = 0;
      take_value(at, end, snp);
      take_value(at, end, s.chisq);
      take_value(at, end, case_major_ct);
      s.snp = static_cast<long>(snp);
      s.case_major_ct = case_major_ct;
    }
  }
}

}  // namespace

block_job base_job(const search_engine& engine, const search_input& in) {
  block_job job{};
  job.case_word_ct = in.shape().case_word_ct;
  job.ctrl_word_ct = in.shape().ctrl_word_ct;
  job.case_min = in.cells->case_min.data();
  job.ctrl_min = in.cells->ctrl_min.data();
  job.packed_min = engine.packed_thresholds.data();
  job.case_ct = in.shape().case_ct;
  job.ctrl_ct = in.shape().ctrl_ct;
  job.inv_size = engine.inv_size.data();
  job.inv_case_ctrl = engine.inv_case_ctrl;
  return job;
}

void exchange_band(const team& t, band_survivors& kept, long first, long end, long units, double bound,
                   double& screen, bool& stop, band_traffic* traffic) {
  if (t.size == 1) return;
  std::vector<unsigned char> mine, all;
  pack(kept, first, end, mine);
  t.gather(mine, all);
  if (leads(t)) unpack(all, units, kept);
  if (leads(t) && traffic != nullptr) {
    ++traffic->bands;
    traffic->bytes += static_cast<double>(all.size() - mine.size());
  }
  // One message for both: the stop costs the ranks nothing.
  struct {
    double bound;
    int32_t stop;
  } news = {bound, stop};
  share(t, news);
  stop = news.stop != 0;
  if (!leads(t)) screen = news.bound;
}

level_mark level_start(const search_context& context, int order, long first, double bound) {
  level_mark start{order, first, bound};
  if (leads(*context.processes) && context.resume && context.resume->order == order) start = *context.resume;
  share(*context.processes, start.next);
  share(*context.processes, start.bound);
  return start;
}

namespace {

// Rows [r0, r1) of the band [i0, i1) that rank `r` of `parts` screens: consecutive
// parts holding about equal numbers of pairs (row i holds snp_ct - 1 - i of them).
void pair_part(long snp_ct, long i0, long i1, int r, int parts, long& r0, long& r1) {
  const auto pairs_before = [i0, snp_ct](long i) {  // pairs of rows i0 ... i - 1
    return static_cast<double>(i - i0) * (static_cast<double>(snp_ct) - 1 - 0.5 * static_cast<double>(i0 + i - 1));
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

}  // namespace

void prepare_engine(search_engine& engine, kernel_level level, const search_input& in) {
  const int n = in.shape().sample_ct();
  const int case_ct = in.shape().case_ct;
  const int ctrl_ct = in.shape().ctrl_ct;
  const thresholds& limits = *in.cells;
  engine.kernel = kernel_for(level);
  engine.exhaustive = exhaustive_kernel_for(level);
  engine.packed_thresholds.resize(static_cast<size_t>(n) + 1);
  for (int m = 0; m <= n; ++m)
    engine.packed_thresholds[m] = static_cast<uint32_t>(limits.case_min[m]) |
                                  static_cast<uint64_t>(static_cast<uint32_t>(limits.ctrl_min[m])) << 32;
  engine.inv_size.assign(static_cast<size_t>(n) + 1, 0.0);
  for (int r = 1; r <= n; ++r) engine.inv_size[r] = 1.0 / r;
  engine.inv_case_ctrl =
      (case_ct > 0 && ctrl_ct > 0) ? 1.0 / (static_cast<double>(case_ct) * static_cast<double>(ctrl_ct)) : 0.0;
}

void fast_pair_search(top_k_list& into, bool final_mode, const search_input& in, const search_context& context,
                      const search_engine& engine) {
  const team& t = *context.processes;
  const bool lead = leads(t);
  const store_shape& shape = in.shape();
  const long snp_ct = shape.snp_ct;
  // Only rank 0 computes the corrected bound: a domain error is then reported once.
  const level_mark start =
      level_start(context, 2, 0, lead ? (final_mode ? corrected_bound(in) : 2.0) : 0.0);
  double bound = start.bound;  // the running bound, as rank 0 holds it
  const search_tuning& tuning = context.tuning;
  // No band holds more rows than the study: the buffers below are sized by it.
  const long full_band = std::min<long>(
      std::max(tuning.first_band_rows, tuning.band_candidates / std::max<long>(snp_ct, 1)) * t.size, std::max(snp_ct, 1L));
  const size_t row_words = 3 * shape.slot_words();
  std::vector<uint64_t> rows(static_cast<size_t>(full_band) * row_words);
  std::vector<int32_t> row_totals(static_cast<size_t>(full_band) * 3 * kClasses);
  const block_job base = base_job(engine, in);
  split_completeness complete;
  find_completeness(*in.store, true, *in.budget, complete);
  // The blocks are visited in tiles that stay in a core's cache while every row of the
  // band meets them; rows are dealt to the threads in turn, and each row still meets
  // the blocks in increasing order, so its survivors come out in SNP order.
  const long blocks = shape.block_ct();
  const long tile = std::max<long>(1, static_cast<long>(tuning.tile_bytes / std::max<size_t>(block_bytes(shape), 1)));
  int64_t loci[2];
  double done = static_cast<double>(start.next) * (static_cast<double>(snp_ct) - 1 - 0.5 * (start.next - 1));
  level_progress progress(2, static_cast<double>(snp_ct) * (snp_ct - 1) / 2, lead && context.show_progress, done);
  // Walk position w is row start.next + w; the last row with a pair is snp_ct - 2.
  const long first_row = start.next;
  const auto part = [&](long w0, long units, int rank, int parts, long& u0, long& u1) {
    long r0, r1;
    pair_part(snp_ct, first_row + w0, first_row + w0 + units, rank, parts, r0, r1);
    u0 = r0 - first_row - w0;
    u1 = r1 - first_row - w0;
  };
  const auto screen_rows = [&](long w0, long u0, long u1, double screen, band_survivors& kept) {
    const long i0 = first_row + w0;
    const long r0 = i0 + u0, r1 = i0 + u1;
    const bool threaded = worth_threads(static_cast<double>(r1 - r0) * static_cast<double>(snp_ct - r0), 9, shape);
#pragma omp parallel if (threaded)
    {
      const long threads = omp_get_num_threads();
      const long me = omp_get_thread_num();
      for (long i = r0 + me; i < r1; i += threads) {
        kept[i - i0].clear();
        uint64_t* row = rows.data() + static_cast<size_t>(i - r0) * row_words;
        copy_snp_out(*in.store, i, row);
        const uint64_t* row_slots[3] = {row, row + shape.slot_words(), row + 2 * shape.slot_words()};
        count_rows(row_slots, 3, shape.case_word_ct, shape.ctrl_word_ct,
                   row_totals.data() + static_cast<size_t>(i - r0) * 3 * kClasses);
      }
      for (long t0 = (r0 + 1) / kLanes; t0 < blocks; t0 += tile) {
        const long t1 = std::min(t0 + tile, blocks);
        for (long i = r0 + me; i < r1; i += threads) {
          const long first = std::max(t0, (i + 1) / kLanes);
          if (first >= t1) continue;
          const uint64_t* row = rows.data() + static_cast<size_t>(i - r0) * row_words;
          const uint64_t* row_slots[3] = {row, row + shape.slot_words(), row + 2 * shape.slot_words()};
          block_job job = base;
          job.rows = row_slots;
          job.row_ct = 3;
          job.row_total = row_totals.data() + static_cast<size_t>(i - r0) * 3 * kClasses;
          for (int k = 0; k < kClasses; ++k) job.rows_complete[k] = rows_take_rule(complete, job.row_total, k);
          // Lanes at or below i hold no pair with i; a focused search's rules exclude more.
          const set_rules* rules = in.rules;
          const int64_t row_snp = i;
          if (rules != nullptr && !set_allowed(*rules, &row_snp, 1)) continue;  // no allowed pair holds it
          const auto excluded = [i, snp_ct, rules, &row_snp](long b) {
            const long below = i + 1 - b * kLanes;
            const unsigned low = below <= 0 ? 0u : below >= kLanes ? kAllLanes : (1u << below) - 1u;
            return low | lanes_beyond_snps(b, snp_ct) | (rules != nullptr ? excluded_lanes(*rules, &row_snp, 1, b) : 0u);
          };
          const double level = std::max(screen, in.single[i]);
          if (rules == nullptr || !grows_only_with_listed(*rules, &row_snp, 1)) {
            screen_row(job, in, complete, first, t1, level, excluded, engine, kept[i - i0]);
            continue;
          }
          // A row that pairs only with listed SNPs meets only their blocks: a candidate
          // SNP against the genome then costs what its own pairs cost.
          const std::vector<long>& listed = rules->listed_blocks;
          for (auto b = std::lower_bound(listed.begin(), listed.end(), first); b != listed.end() && *b < t1; ++b)
            screen_row(job, in, complete, *b, *b + 1, level, excluded, engine, kept[i - i0]);
        }
      }
    }
  };
  const auto offer_row = [&](long w, const std::vector<survivor>& kept) {
    const long i = first_row + w;
    for (const survivor& s : kept) {
      if (!admitted(s.chisq, bound, in.single[i], in.single[s.snp])) continue;
      loci[0] = i;
      loci[1] = s.snp;
      if (!may_offer(in, loci, 2)) continue;
      offer(into, bound, s.chisq, loci, s.case_major_ct);
    }
    done += static_cast<double>(snp_ct - 1 - i);
  };
  const auto after_band = [&](long w) {
    progress.advance(done);
    if (context.after_band) context.after_band({2, first_row + w, bound});
  };
  walk_in_bands(context, std::max(0L, snp_ct - 1 - first_row), full_band, bound, part, screen_rows, offer_row,
                after_band);
}

void fast_extend_level(const top_k_list& from, top_k_list& into, int order, const search_input& in,
                       const search_context& context, const search_engine& engine) {
  const team& t = *context.processes;
  const bool lead = leads(t);
  const store_shape& shape = in.shape();
  const long snp_ct = shape.snp_ct;
  const int parent_order = order - 1;
  const int cells = cell_total(parent_order);
  const size_t cell_words = shape.slot_words();
  const search_tuning& tuning = context.tuning;
  // No band holds more parents than the list.
  const long full_band = std::min<long>(
      std::max(tuning.first_band_rows, tuning.band_candidates / std::max<long>(snp_ct, 1)) * t.size,
      std::max(from.count, 1));
  // Per thread: the combined cells, then room for the parent's slots.
  const size_t thread_words = static_cast<size_t>(cells + 3 * parent_order) * cell_words;
  std::vector<uint64_t> combined(static_cast<size_t>(omp_get_max_threads()) * thread_words);
  std::vector<int32_t> cell_totals(static_cast<size_t>(omp_get_max_threads()) * cells * kClasses);
  const block_job base = base_job(engine, in);
  split_completeness complete;
  find_completeness(*in.store, false, *in.budget, complete);
  const long blocks = shape.block_ct();
  int64_t loci[4];
  // Parents best first: positions count - 1 down to 0; walk position w is the parent at
  // start.next - w. The bound is set once per level and only rises.
  const level_mark start = level_start(context, order, from.count - 1, 2.0);
  double bound = start.bound;
  const long first_parent = start.next;
  const double per_parent = static_cast<double>(snp_ct - parent_order);
  level_progress progress(order, from.count * per_parent, lead && context.show_progress,
                          (from.count - (first_parent + 1)) * per_parent);
  const auto part = [](long, long units, int rank, int parts, long& u0, long& u1) {
    u0 = part_start(units, rank, parts);
    u1 = part_start(units, rank + 1, parts);
  };
  const auto screen_parents = [&](long w0, long u0, long u1, double screen, band_survivors& kept) {
    const bool threaded = worth_threads(static_cast<double>(u1 - u0) * static_cast<double>(snp_ct), 3 * cells, shape);
#pragma omp parallel for schedule(dynamic, 1) if (threaded)
    for (long u = u0; u < u1; ++u) {
      const multi_locus_node& parent = from.nodes[first_parent - w0 - u];
      std::vector<survivor>& out = kept[u];
      out.clear();
      uint64_t* mine = combined.data() + static_cast<size_t>(omp_get_thread_num()) * thread_words;
      fill_combined_cells(*in.store, parent.loci, parent_order, mine + static_cast<size_t>(cells) * cell_words, mine);
      const uint64_t* rows[27];
      for (int c = 0; c < cells; ++c) rows[c] = mine + static_cast<size_t>(c) * cell_words;
      int32_t* totals = cell_totals.data() + static_cast<size_t>(omp_get_thread_num()) * cells * kClasses;
      count_rows(rows, cells, shape.case_word_ct, shape.ctrl_word_ct, totals);
      block_job job = base;
      job.rows = rows;
      job.row_ct = cells;
      job.row_total = totals;
      const int64_t* parent_loci = parent.loci;
      const auto excluded = [parent_loci, parent_order, snp_ct](long b) {
        unsigned mask = lanes_beyond_snps(b, snp_ct);
        for (int i = 0; i < parent_order; ++i)
          if (parent_loci[i] / kLanes == b) mask |= 1u << (parent_loci[i] % kLanes);
        return mask;
      };
      screen_row(job, in, complete, 0, blocks, std::max(screen, parent.chisq), excluded, engine, out);
    }
  };
  const auto offer_parent = [&](long w, const std::vector<survivor>& kept) {
    const multi_locus_node& parent = from.nodes[first_parent - w];
    for (const survivor& s : kept) {
      if (!admitted(s.chisq, bound, parent.chisq, in.single[s.snp])) continue;
      insert_sorted(parent.loci, parent_order, s.snp, loci);
      if (!may_offer(in, loci, parent_order + 1)) continue;
      offer(into, bound, s.chisq, loci, s.case_major_ct);
    }
  };
  const auto after_band = [&](long w) {
    const long next = first_parent - w;  // the next parent's position, -1 after the last
    progress.advance((from.count - (next + 1)) * per_parent);
    if (context.after_band) context.after_band({order, next, bound});
  };
  walk_in_bands(context, first_parent + 1, full_band, bound, part, screen_parents, offer_parent, after_band);
}

}  // namespace velk
