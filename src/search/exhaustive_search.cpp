#include "search/exhaustive_search.h"

#include <omp.h>

#include <algorithm>
#include <string>
#include <vector>

#include "data/genotype_store.h"
#include "search/candidate_rules.h"
#include "search/progress.h"
#include "stats/major_cell_table.h"
#include "stats/talpha.h"

namespace velk {

namespace {

constexpr unsigned kAllLanes = (1u << kLanes) - 1u;

// ---- The study through the input alone ---------------------------------------------------

long slot_word_ct(const exhaustive_input& in) { return static_cast<long>(in.case_word_ct) + in.ctrl_word_ct; }

// Word 0 of slot (s, g); word w lies at [w * kLanes] (case words, then control words).
const uint64_t* slot_words_of(const exhaustive_input& in, long s, int g) {
  return in.store + (static_cast<size_t>(s / kLanes) * 3 + g) * slot_word_ct(in) * kLanes + static_cast<size_t>(s % kLanes);
}

const uint64_t* block_of(const exhaustive_input& in, long b) {
  return in.store + static_cast<size_t>(b) * 3 * slot_word_ct(in) * kLanes;
}

long block_ct(const exhaustive_input& in) { return (in.snp_ct + kLanes - 1) / kLanes; }

// The 3^width combined cells of a parent, cell g0 + 3 g1 (+ 9 g2) the AND of its
// slots, each slot_word_ct words (case words, then control words) at out + c * words.
// The parent's slots are first copied out of the store's interleaved blocks, so that
// every AND runs over contiguous words; `scratch` holds 3 * width slots.
void fill_cells(const exhaustive_input& in, const int64_t* parent, int width, uint64_t* scratch, uint64_t* out) {
  const long words = slot_word_ct(in);
  const auto slot_copy = [&](int i, int g) { return scratch + static_cast<size_t>(3 * i + g) * words; };
  for (int i = 0; i < width; ++i)
    for (int g = 0; g < 3; ++g) {
      const uint64_t* from = slot_words_of(in, parent[i], g);
      uint64_t* to = slot_copy(i, g);
      for (long w = 0; w < words; ++w) to[w] = from[w * kLanes];
    }
  for (int c = 0; c < 9; ++c) {
    const uint64_t* a = slot_copy(0, c % 3);
    const uint64_t* b = slot_copy(1, c / 3);
    uint64_t* cell = out + static_cast<size_t>(c) * words;
    for (long w = 0; w < words; ++w) cell[w] = a[w] & b[w];
  }
  if (width < 3) return;
  // Cells 9 g2 + c from the pair's cell c, genotype 0 last since it overwrites it.
  for (int g2 = 2; g2 >= 0; --g2) {
    const uint64_t* b = slot_copy(2, g2);
    for (int c = 0; c < 9; ++c) {
      const uint64_t* a = out + static_cast<size_t>(c) * words;
      uint64_t* cell = out + static_cast<size_t>(9 * g2 + c) * words;
      for (long w = 0; w < words; ++w) cell[w] = a[w] & b[w];
    }
  }
}

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

long sets_of_parent(const exhaustive_input& in, const int64_t* parent, int width) {
  return in.snp_ct - 1 - parent[width - 1];
}

// Admission against the parent's SNPs and the added one: beating the largest of the
// parent's statistics is beating each of them.
double parent_floor(const exhaustive_input& in, const int64_t* parent, int width) {
  double floor = in.snp_statistic[parent[0]];
  for (int i = 1; i < width; ++i) floor = std::max(floor, in.snp_statistic[parent[i]]);
  return floor;
}

// Threads pay off once a part holds this many word operations (about a millisecond).
constexpr double kParallelWork = 1 << 22;

}  // namespace

exhaustive_input exhaustive_input_of(const class_split& split, split_completeness& complete) {
  find_completeness(split.store, false, complete);
  exhaustive_input in;
  in.store = split.store;
  in.snp_statistic = split.X2table1;
  in.snp_ct = p;
  in.case_ct = ncase;
  in.ctrl_ct = nctrl;
  in.case_word_ct = nlongintcase;
  in.ctrl_word_ct = nlongintctrl;
  in.T1 = Table_t.T1;
  in.T2 = Table_t.T2;
  in.complete = &complete;
  return in;
}

long exhaustive_parent_count(long snp_ct, int order) { return choose(snp_ct - 1, order - 1); }

void exhaustive_search_straightforward(const exhaustive_input& in, int order, double first_bound,
                                       top_k_list& into) {
  const int width = order - 1;
  int cells = 1;
  for (int i = 0; i < width; ++i) cells *= 3;
  const long words = slot_word_ct(in);
  const long parents = exhaustive_parent_count(in.snp_ct, order);
  std::vector<uint64_t> combined(static_cast<size_t>(cells) * words), scratch(9 * static_cast<size_t>(words));
  int64_t loci[4];
  double bound = first_bound;
  double done = 0;
  level_progress progress(std::to_string(order) + "-locus sets", "sets", all_sets(in.snp_ct, order));
  if (parents > 0) unrank_parent(0, width, in.snp_ct - 1, loci);
  for (long r = 0; r < parents; ++r, next_parent(loci, width, in.snp_ct - 1)) {
    fill_cells(in, loci, width, scratch.data(), combined.data());
    const double floor = parent_floor(in, loci, width);
    for (long x = loci[width - 1] + 1; x < in.snp_ct; ++x) {
      major_cell_table t;
      for (int c = 0; c < cells; ++c) {
        const uint64_t* cell = combined.data() + static_cast<size_t>(c) * words;
        for (int g = 0; g < 3; ++g) {
          const uint64_t* bits = slot_words_of(in, x, g);
          int cases = 0, ctrls = 0;
          for (long w = 0; w < in.case_word_ct; ++w) cases += popcount(static_cast<int64_t>(cell[w] & bits[w * kLanes]));
          for (long w = in.case_word_ct; w < words; ++w) ctrls += popcount(static_cast<int64_t>(cell[w] & bits[w * kLanes]));
          const int m = cases + ctrls;
          if (cases >= in.T1[m]) {
            t.cell[0] += cases;
            t.cell[1] += ctrls;
            ++t.nmajor;
          } else if (ctrls >= in.T2[m]) {
            t.cell[4] += cases;
            t.cell[5] += ctrls;
          }
        }
      }
      complete_table(t, in.case_ct, in.ctrl_ct);
      const double s = chi_square(t.cell, 3, 2);
      if (!admitted(s, bound, floor, in.snp_statistic[x])) continue;
      loci[width] = x;
      offer(into, bound, s, loci, t.nmajor);
    }
    done += static_cast<double>(sets_of_parent(in, loci, width));
    progress.advance(done);
  }
}

void fast_exhaustive_search(const exhaustive_input& in, int order, double first_bound, const search_engine& engine,
                            top_k_list& into) {
  const team& t = *engine.processes;
  const bool lead = leads(t);
  const int width = order - 1;
  int cells = 1;
  for (int i = 0; i < width; ++i) cells *= 3;
  const long words = slot_word_ct(in);
  const long m = in.snp_ct - 1;  // parents lie below the last SNP
  const long parents = exhaustive_parent_count(in.snp_ct, order);
  const long blocks = block_ct(in);
  // Where the search starts: rank 0's resumed position, or the first parent.
  level_mark start{order, 0, first_bound};
  if (lead && engine.resume && engine.resume->order == order) start = *engine.resume;
  share(t, start.next);
  share(t, start.bound);
  double bound = start.bound;   // the running bound, as rank 0 holds it
  double screen = start.bound;  // the bound this rank screens with
  const search_tuning& tuning = engine.tuning;
  // Bands of parents: about band_candidates sets per rank once grown (a parent has about
  // a third of the SNPs above it), never more parents than there are.
  const long full_band = std::min<long>(
      std::max(tuning.first_band_rows, 3 * tuning.band_candidates / std::max<long>(in.snp_ct, 1)) * t.size,
      std::max(parents, 1L));
  band_survivors kept(full_band);
  std::vector<int64_t> band_parents(static_cast<size_t>(full_band) * width);
  std::vector<double> sets_upto(static_cast<size_t>(full_band) + 1);  // sets of the band's first u parents
  const int threads = omp_get_max_threads();
  // Per thread: the combined cells, then room for the parent's slots.
  const size_t thread_words = static_cast<size_t>(cells + 9) * words;
  std::vector<uint64_t> combined(static_cast<size_t>(threads) * thread_words);
  std::vector<int32_t> cell_totals(static_cast<size_t>(threads) * cells * kClasses);
  block_job base{};
  base.nrows = cells;
  base.nlc = in.case_word_ct;
  base.nlt = in.ctrl_word_ct;
  base.T1 = in.T1;
  base.T2 = in.T2;
  base.T12 = engine.thresholds.data();
  base.ncase = in.case_ct;
  base.nctrl = in.ctrl_ct;
  base.inv_size = engine.inv_size.data();
  base.inv_case_ctrl = engine.inv_case_ctrl;
  int64_t next[3] = {0, 0, 0};  // the band's first parent
  if (start.next < parents) unrank_parent(start.next, width, m, next);
  level_progress progress(std::to_string(order) + "-locus sets", "sets", all_sets(in.snp_ct, order),
                          lead && engine.show_progress);
  double done = start.next < parents ? sets_before(next, width, in.snp_ct) : all_sets(in.snp_ct, order);
  long band = std::min(tuning.first_band_rows * t.size, full_band);
  for (long r0 = start.next; r0 < parents; r0 += band, band = std::min(full_band, band * 2)) {
    const long units = std::min(band, parents - r0);
    // Every rank walks the band's parents: its part, and rank 0 all of them to offer.
    sets_upto[0] = 0;
    for (long u = 0; u < units; ++u) {
      std::copy(next, next + width, band_parents.begin() + u * width);
      sets_upto[u + 1] = sets_upto[u] + static_cast<double>(sets_of_parent(in, next, width));
      if (r0 + u + 1 < parents) next_parent(next, width, m);
    }
    // Consecutive parts of about equal set count: rank r takes the parents whose sets
    // begin in its share.
    const auto part = [&](int r) {
      if (r == 0) return 0L;
      if (r == t.size) return units;
      const double share_start = sets_upto[units] * r / t.size;
      return static_cast<long>(std::lower_bound(sets_upto.begin(), sets_upto.begin() + units, share_start) -
                               sets_upto.begin());
    };
    const long u0 = part(t.rank), u1 = part(t.rank + 1);
    const bool threaded =
        (sets_upto[u1] - sets_upto[u0]) * 3 * cells * static_cast<double>(words) >= kParallelWork;
#pragma omp parallel for schedule(dynamic, 1) if (threaded)
    for (long u = u0; u < u1; ++u) {
      const int64_t* parent = band_parents.data() + u * width;
      std::vector<survivor>& out = kept[u];
      out.clear();
      const int me = omp_get_thread_num();
      uint64_t* mine = combined.data() + static_cast<size_t>(me) * thread_words;
      fill_cells(in, parent, width, mine + static_cast<size_t>(cells) * words, mine);
      const uint64_t* rows[27];
      for (int c = 0; c < cells; ++c) rows[c] = mine + static_cast<size_t>(c) * words;
      int32_t* totals = cell_totals.data() + static_cast<size_t>(me) * cells * kClasses;
      bool counted = false;  // the rows' sizes, needed only against blocks of complete SNPs
      block_job job = base;
      job.rows = rows;
      job.row_total = totals;
      job.level = std::max(screen, parent_floor(in, parent, width));
      const long last = parent[width - 1];
      block_result result;
      for (long b = (last + 1) / kLanes; b < blocks; ++b) {
        // Lanes at or below the parent's last SNP, and beyond the last SNP, hold no set.
        const long below = last + 1 - b * kLanes, valid = in.snp_ct - b * kLanes;
        unsigned excluded = below <= 0 ? 0u : below >= kLanes ? kAllLanes : (1u << below) - 1u;
        if (valid < kLanes) excluded |= kAllLanes & ~((1u << valid) - 1u);
        job.excluded = excluded;
        job.block = block_of(in, b);
        job.snp_floor = in.snp_statistic + b * kLanes;
        for (int k = 0; k < kClasses; ++k) job.lanes_complete[k] = (in.complete->complete_blocks[b] >> k & 1u) != 0;
        if (!counted && in.complete->complete_blocks[b] != 0) {
          count_rows(rows, cells, in.case_word_ct, in.ctrl_word_ct, totals);
          counted = true;
        }
        engine.kernel(job, result);
        for (unsigned mask = result.survivors; mask != 0; mask &= mask - 1) {
          const int l = __builtin_ctz(mask);
          int table[6];
          for (int c = 0; c < 6; ++c) table[c] = static_cast<int>(result.table[c][l]);
          out.push_back({b * kLanes + l, chi_square(table, 3, 2), static_cast<int>(result.nmajor[l])});
        }
      }
    }
    exchange_band(t, kept, u0, u1, units, bound, screen, engine.traffic);
    if (!lead) continue;
    int64_t loci[4];
    for (long u = 0; u < units; ++u) {
      const int64_t* parent = band_parents.data() + u * width;
      const double floor = parent_floor(in, parent, width);
      std::copy(parent, parent + width, loci);
      for (const survivor& s : kept[u]) {
        if (!admitted(s.chisq, bound, floor, in.snp_statistic[s.snp])) continue;
        loci[width] = s.snp;
        offer(into, bound, s.chisq, loci, s.nmajor);
      }
    }
    screen = bound;
    done += sets_upto[units];
    progress.advance(done);
    if (engine.after_band) engine.after_band({order, r0 + units, bound});
  }
}

}  // namespace velk
