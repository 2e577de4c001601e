#include "search/fast_search.h"

#include <omp.h>

#include <algorithm>

#include "data/genotype_store.h"
#include "search/extension.h"
#include "search/pair_search.h"
#include "search/progress.h"
#include "stats/major_cell_table.h"
#include "stats/talpha.h"

namespace velk {

namespace {

constexpr unsigned kAllLanes = (1u << kLanes) - 1u;

// A candidate that passed the screen, with its exact statistic and case-major count.
struct survivor {
  long snp;
  double chisq;
  int nmajor;
};

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
// no candidates; `level` is the larger of the running bound as the band began and the
// statistic a candidate must exceed besides its SNP's own. The exact statistic of a
// survivor comes from its exact table, as the straightforward search computes it.
template <class Excluded>
void screen_row(block_job job, long first_block, long end_block, double level, Excluded excluded,
                const search_engine& engine, std::vector<survivor>& out) {
  job.level = level;
  block_result result;
  for (long b = first_block; b < end_block; ++b) {
    job.excluded = excluded(b);
    if (job.excluded == kAllLanes) continue;
    job.block = engine.lanes.block(b);
    job.snp_floor = engine.snp_floor.data() + b * kLanes;
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

void raise_bound(const top_k_list& list, double& bound) {
  if (has_full_root(list) && list.nodes[0].chisq > bound) bound = list.nodes[0].chisq;
}

// Threads pay off once a band holds this many word operations (about a millisecond
// of work); smaller bands, as in small studies, run on the calling thread alone.
constexpr double kParallelWork = 1 << 22;

bool worth_threads(double candidates, int cells) {
  return candidates * cells * static_cast<double>(slot_words()) >= kParallelWork;
}

// Bands start small, while the list fills and the bound climbs fastest, and double up
// to the size that holds about band_candidates candidates.
long next_band(long band, long full_band) { return std::min(full_band, band * 2); }

size_t block_bytes() {
  return sizeof(uint64_t) * 3 * kLanes * (static_cast<size_t>(nlongintcase) + nlongintctrl);
}

}  // namespace

void prepare_engine(search_engine& engine, kernel_level level, const search_tuning& tuning) {
  build_lane_store(engine.lanes);
  engine.kernel = kernel_for(level);
  engine.tuning = tuning;
  engine.thresholds.resize(static_cast<size_t>(n) + 1);
  for (int m = 0; m <= n; ++m)
    engine.thresholds[m] =
        static_cast<uint32_t>(Table_t.T1[m]) | static_cast<uint64_t>(static_cast<uint32_t>(Table_t.T2[m])) << 32;
  engine.inv_size.assign(static_cast<size_t>(n) + 1, 0.0);
  for (int r = 1; r <= n; ++r) engine.inv_size[r] = 1.0 / r;
  engine.snp_floor.assign(static_cast<size_t>(engine.lanes.blocks) * kLanes, 0.0);
  std::copy(X2table1, X2table1 + p, engine.snp_floor.begin());
  engine.inv_case_ctrl =
      (ncase > 0 && nctrl > 0) ? 1.0 / (static_cast<double>(ncase) * static_cast<double>(nctrl)) : 0.0;
}

void fast_pair_search(disModel& model, int final_mode, const search_engine& engine) {
  double bound = final_mode ? corrected_bound() : 2.0;
  top_k_list& list = *model.result_list;
  const search_tuning& tuning = engine.tuning;
  const long full_band = std::max(tuning.first_band_rows, tuning.band_candidates / std::max<long>(p, 1));
  std::vector<std::vector<survivor>> kept(full_band);
  const block_job base = base_job(engine);
  // The blocks are visited in tiles that stay in a core's cache while every row of the
  // band meets them; rows are dealt to the threads in turn, and each row still meets
  // the blocks in increasing order, so its survivors come out in SNP order.
  const long tile = std::max<long>(1, static_cast<long>(tuning.tile_bytes / std::max<size_t>(block_bytes(), 1)));
  int64_t loci[2];
  level_progress progress(2, static_cast<double>(p) * (p - 1) / 2);
  double done = 0;
  long band = std::min(tuning.first_band_rows, full_band);
  for (long i0 = 0; i0 + 1 < p; i0 += band, band = next_band(band, full_band)) {
    const long i1 = std::min<long>(i0 + band, p - 1);
    const double screen = bound;
    const bool threaded = worth_threads(static_cast<double>(i1 - i0) * static_cast<double>(p - i0), 9);
#pragma omp parallel if (threaded)
    {
      const long threads = omp_get_num_threads();
      const long me = omp_get_thread_num();
      for (long i = i0 + me; i < i1; i += threads) kept[i - i0].clear();
      for (long t0 = (i0 + 1) / kLanes; t0 < engine.lanes.blocks; t0 += tile) {
        const long t1 = std::min(t0 + tile, engine.lanes.blocks);
        for (long i = i0 + me; i < i1; i += threads) {
          const long first = std::max(t0, (i + 1) / kLanes);
          if (first >= t1) continue;
          const uint64_t* rows[3] = {slot(i, 0).pcase, slot(i, 1).pcase, slot(i, 2).pcase};
          block_job job = base;
          job.rows = rows;
          job.nrows = 3;
          // Lanes at or below i hold no pair with i.
          const auto excluded = [i](long b) {
            const long below = i + 1 - b * kLanes;
            const unsigned low = below <= 0 ? 0u : below >= kLanes ? kAllLanes : (1u << below) - 1u;
            return low | lanes_beyond_p(b);
          };
          screen_row(job, first, t1, std::max(screen, X2table1[i]), excluded, engine, kept[i - i0]);
        }
      }
    }
    for (long i = i0; i < i1; ++i) {
      for (const survivor& s : kept[i - i0]) {
        if (s.chisq < bound || s.chisq <= X2table1[i] || s.chisq <= X2table1[s.snp]) continue;
        loci[0] = i;
        loci[1] = s.snp;
        const multi_locus_node node{s.chisq, loci, s.nmajor};
        insert_top_k_list(&list, &node);
        raise_bound(list, bound);
      }
      done += static_cast<double>(p - 1 - i);
    }
    progress.advance(done);
  }
}

namespace {

// The parent's combined cells as rows: cell g0 + 3 g1 (+ 9 g2) is the AND of its
// slots, case words then control words, matching the lane store's slot layout.
void fill_combined(const int64_t* parent, int width, int cells, uint64_t* out) {
  const int words = nlongintcase + nlongintctrl;
  for (int c = 0; c < cells; ++c) {
    int code = c;
    const uint64_t* bits[3];
    for (int i = 0; i < width; ++i) {
      bits[i] = slot(parent[i], code % 3).pcase;  // the control words follow the case words
      code /= 3;
    }
    uint64_t* cell = out + static_cast<size_t>(c) * words;
    for (int w = 0; w < words; ++w) {
      uint64_t word = bits[0][w];
      for (int i = 1; i < width; ++i) word &= bits[i][w];
      cell[w] = word;
    }
  }
}

}  // namespace

void fast_extend_level(const top_k_list& from, top_k_list& into, int order, const search_engine& engine) {
  const int width = order - 1;
  int cells = 1;
  for (int i = 0; i < width; ++i) cells *= 3;
  const size_t cell_words = static_cast<size_t>(nlongintcase) + nlongintctrl;
  const search_tuning& tuning = engine.tuning;
  const long full_band = std::max(tuning.first_band_rows, tuning.band_candidates / std::max<long>(p, 1));
  std::vector<std::vector<survivor>> kept(full_band);
  std::vector<uint64_t> combined(static_cast<size_t>(omp_get_max_threads()) * cells * cell_words);
  const block_job base = base_job(engine);
  int64_t loci[4];
  double bound = 2.0;  // once per level; it only rises
  const double per_parent = static_cast<double>(p - width);
  level_progress progress(order, from.count * per_parent);
  long band = std::min(tuning.first_band_rows, full_band);
  // Parents best first: positions count - 1 down to 0.
  for (long hi = from.count - 1; hi >= 0; hi -= band, band = next_band(band, full_band)) {
    const long lo = std::max(0L, hi - band + 1);
    const double screen = bound;
    const bool threaded = worth_threads(static_cast<double>(hi - lo + 1) * static_cast<double>(p), 3 * cells);
#pragma omp parallel for schedule(dynamic, 1) if (threaded)
    for (long j = hi; j >= lo; --j) {
      const multi_locus_node& parent = from.nodes[j];
      std::vector<survivor>& out = kept[hi - j];
      out.clear();
      uint64_t* mine = combined.data() + static_cast<size_t>(omp_get_thread_num()) * cells * cell_words;
      fill_combined(parent.loci, width, cells, mine);
      const uint64_t* rows[27];
      for (int c = 0; c < cells; ++c) rows[c] = mine + static_cast<size_t>(c) * cell_words;
      block_job job = base;
      job.rows = rows;
      job.nrows = cells;
      const int64_t* parent_loci = parent.loci;
      const auto excluded = [parent_loci, width](long b) {
        unsigned mask = lanes_beyond_p(b);
        for (int i = 0; i < width; ++i)
          if (parent_loci[i] / kLanes == b) mask |= 1u << (parent_loci[i] % kLanes);
        return mask;
      };
      screen_row(job, 0, engine.lanes.blocks, std::max(screen, parent.chisq), excluded, engine, out);
    }
    for (long j = hi; j >= lo; --j) {
      const multi_locus_node& parent = from.nodes[j];
      for (const survivor& s : kept[hi - j]) {
        if (s.chisq < bound || s.chisq <= parent.chisq || s.chisq <= X2table1[s.snp]) continue;
        insert_sorted(parent.loci, width, s.snp, loci);
        const multi_locus_node node{s.chisq, loci, s.nmajor};
        insert_top_k_list(&into, &node);
        raise_bound(into, bound);
      }
    }
    progress.advance((from.count - lo) * per_parent);
  }
}

}  // namespace velk
