#include "search/exhaustive_search.h"

#include <omp.h>

#include <emmintrin.h>

#include <algorithm>
#include <bit>
#include <string>
#include <vector>

#include "search/band_walk.h"
#include "search/candidate_rules.h"
#include "search/kernels/exhaustive_kernel.h"
#include "search/progress.h"
#include "stats/major_cell_table.h"

namespace velk {

namespace {

// ---- The enumeration of parents ----------------------------------------------------------
//
// A parent is a set of parent_order = order - 1 SNPs below the last SNP; its sets are itself
// with each SNP above its last one. Parents in lexicographic order, each with its SNPs
// above in increasing order, give every set once, in lexicographic order.

// C(n, k) for k <= 3, 0 when n < k.
long choose(long n, int k) {
  if (n < k) return 0;
  long c = 1;
  for (int i = 0; i < k; ++i) c = c * (n - i) / (i + 1);  // exact: each step is C(n, i + 1) * (i + 1)! / (i + 1)!
  return c;
}

// The parent of lexicographic position `rank` among the parent_order-subsets of 0 ... m - 1.
void unrank_parent(long rank, int parent_order, long m, int64_t* parent) {
  long lo = 0;
  for (int pos = 0; pos < parent_order; ++pos) {
    const int after = parent_order - pos - 1;
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

// The next parent in lexicographic order among the parent_order-subsets of 0 ... m - 1.
void next_parent(int64_t* parent, int parent_order, long m) {
  int pos = parent_order - 1;
  while (pos > 0 && parent[pos] == m - parent_order + pos) --pos;
  ++parent[pos];
  for (int i = pos + 1; i < parent_order; ++i) parent[i] = parent[i - 1] + 1;
}

// Sets of `order` SNPs before the first set of a parent, in lexicographic order: the
// progress of a search that resumes there.
double sets_before(const int64_t* parent, int parent_order, long snp_ct) {
  const int order = parent_order + 1;
  double before = 0;
  long lo = 0;
  for (int pos = 0; pos < parent_order; ++pos) {
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

long sets_of_parent(long snp_ct, const int64_t* parent, int parent_order) {
  return snp_ct - 1 - parent[parent_order - 1];
}

// Admission against the parent's SNPs and the added one: beating the largest of the
// parent's statistics is beating each of them.
double parent_floor(const search_input& in, const int64_t* parent, int parent_order) {
  double floor = in.single[parent[0]];
  for (int i = 1; i < parent_order; ++i) floor = std::max(floor, in.single[parent[i]]);
  return floor;
}

}  // namespace

long exhaustive_parent_count(long snp_ct, int order) { return choose(snp_ct - 1, order - 1); }

namespace {

// Counts the prefix of `parent` against every block above its last SNP, unless the
// worker holds them already.
void take_prefix(exhaustive_worker& me, const search_input& in, const exhaustive_kernel& kernel, const int64_t* parent,
                 int parent_order) {
  const int prefix_width = parent_order - 1;
  if (std::equal(parent, parent + prefix_width, me.prefix)) return;
  const store_shape& shape = in.shape();
  const size_t words = shape.slot_words();
  const int q_ct = cell_total(prefix_width);
  me.prefix_rows.resize(static_cast<size_t>(q_ct + 3 * prefix_width) * words);
  fill_combined_cells(*in.store, parent, prefix_width, me.prefix_rows.data() + static_cast<size_t>(q_ct) * words,
                      me.prefix_rows.data());
  const uint64_t* rows[kMaxPrefixRows];
  for (int q = 0; q < q_ct; ++q) rows[q] = me.prefix_rows.data() + static_cast<size_t>(q) * words;
  me.prefix_block = (parent[prefix_width - 1] + 1) / kLanes;
  const size_t per_block = static_cast<size_t>(kClasses) * q_ct * 3 * kLanes;
  me.prefix_counts.resize(static_cast<size_t>(shape.block_ct() - me.prefix_block) * per_block);
  for (long b = me.prefix_block; b < shape.block_ct(); ++b)
    kernel.count(rows, q_ct, store_block(*in.store, b), shape.case_word_ct, shape.ctrl_word_ct,
                 me.prefix_counts.data() + static_cast<size_t>(b - me.prefix_block) * per_block);
  me.prefix_floats.assign(me.prefix_counts.begin(), me.prefix_counts.end());
  std::copy(parent, parent + prefix_width, me.prefix);
}

// out = a AND g over `words` words, two at a time (SSE2, which every x86-64 has): the
// release build's -O2 leaves such a loop scalar, and at n = 2,000 a quadruple's parent
// forms its rows in a tenth of the search's time.
void and_words(const uint64_t* a, const uint64_t* g, uint64_t* out, size_t words) {
  size_t w = 0;
  for (; w + 2 <= words; w += 2)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + w),
                     _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + w)),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(g + w))));
  for (; w < words; ++w) out[w] = a[w] & g[w];
}

// Whether prefix row q has a genotype 2 (q = g + 3 g' + ...): a complete class counts
// none of its rows, and derives their cells.
bool row_with_genotype_2(int q) {
  for (; q != 0; q /= 3)
    if (q % 3 == 2) return true;
  return false;
}

// Forms the parent's counted rows (each prefix row AND genotype 0 or 1 of s, the
// parent's last SNP, whose slots follow the rows) of the prefix rows with a genotype 2,
// or of those without.
void form_rows(exhaustive_worker& me, size_t words, bool with_genotype_2) {
  const int q_ct = me.prefix_row_ct;
  const uint64_t* const slots = me.rows.data() + static_cast<size_t>(2 * q_ct) * words;
  for (int b = 0; b < 2; ++b)
    for (int q = 0; q < q_ct; ++q)
      if (row_with_genotype_2(q) == with_genotype_2)
        and_words(me.prefix_rows.data() + static_cast<size_t>(q) * words, slots + static_cast<size_t>(b) * words,
                  me.rows.data() + static_cast<size_t>(q + q_ct * b) * words, words);
}

// The parent's counted rows and the individuals of its prefix rows that miss s: in none
// of s's slots. When the parent's SNPs miss no genotype (`complete_parent`), there are
// no such individuals, and only the rows that complete classes count are formed:
// take_all_rows forms the others when a block needs them.
void take_rows(exhaustive_worker& me, const search_input& in, const int64_t* parent, int parent_order,
               bool complete_parent) {
  const store_shape& shape = in.shape();
  const size_t words = shape.slot_words();
  const int q_ct = cell_total(parent_order - 1);
  me.prefix_row_ct = q_ct;
  me.rows.resize(static_cast<size_t>(2 * q_ct + 4) * words);
  uint64_t* const slots = me.rows.data() + static_cast<size_t>(2 * q_ct) * words;
  uint64_t* const missing = slots + 3 * words;  // the individuals s misses (and bits of nobody)
  copy_snp_out(*in.store, parent[parent_order - 1], slots);
  form_rows(me, words, false);
  if (!complete_parent) form_rows(me, words, true);
  me.rows_partial = complete_parent;
  me.middle.clear();
  if (complete_parent) return;
  for (size_t w = 0; w < words; ++w) missing[w] = ~(slots[w] | slots[words + w] | slots[2 * words + w]);
  // Prefix row by prefix row, so that the kernel meets them in runs of one row and class.
  for (int q = 0; q < q_ct; ++q) {
    const uint64_t* a = me.prefix_rows.data() + static_cast<size_t>(q) * words;
    for (size_t w = 0; w < words; ++w) {
      uint64_t m = a[w] & missing[w];
      if (m == 0) continue;
      const int16_t k = w < static_cast<size_t>(shape.case_word_ct) ? 0 : 1;
      for (; m != 0; m &= m - 1) me.middle.push_back({static_cast<int32_t>(w), k, static_cast<int16_t>(q), m & (~m + 1)});
    }
  }
}

// The rows take_rows left out, for a block with a class that is counted in full.
void take_all_rows(exhaustive_worker& me, const search_input& in) {
  if (!me.rows_partial) return;
  form_rows(me, in.shape().slot_words(), true);
  me.rows_partial = false;
}

// Under [SETSRULE] 2 every SNP of a set is listed: the listed SNPs, gathered side by
// side into blocks of their own. A parent meets these full blocks, not every block of
// the store that holds a listed SNP, most of whose lanes hold no allowed set: 200 SNPs
// of a pathway spread over the genome fill 25 blocks here and touch 200 there.
struct gathered_listed {
  genotype_store store;        // their slots, in SNP order; no words when not gathered
  std::vector<int64_t> snp;    // per SNP of the store, its index in the study
  std::vector<double> single;  // per lane of whole blocks, the SNP's own statistic
};

// Gathers the listed SNPs of the store being searched (a permutation's classes are its
// own); leaves `out` without words when the rules list none or the memory is short, and
// the store's own blocks then serve.
void gather_listed(const search_input& in, gathered_listed& out) {
  const set_rules* rules = in.rules;
  if (rules == nullptr || rules->rule != 2) return;
  for (long s = 0; s < in.snp_ct(); ++s)
    if (rules->listed[static_cast<size_t>(s)]) out.snp.push_back(s);
  if (out.snp.empty()) return;
  store_shape shape = in.shape();
  shape.snp_ct = static_cast<int>(out.snp.size());
  if (!new_store(shape, *in.budget, out.store).ok()) return;
  std::vector<uint64_t> slots(3 * shape.slot_words());
  out.single.assign(static_cast<size_t>(shape.block_ct()) * kLanes, 0);
  for (size_t i = 0; i < out.snp.size(); ++i) {
    copy_snp_out(*in.store, out.snp[i], slots.data());
    copy_snp_in(out.store, static_cast<long>(i), slots.data());
    out.single[i] = in.single[out.snp[i]];
  }
}

// The worker's prefix (take_prefix's) counted against the gathered blocks from `first`
// on, unless it holds them already.
void take_listed_prefix(exhaustive_worker& me, const exhaustive_kernel& kernel,
                        const gathered_listed& listed, const int64_t* parent, int parent_order, long first) {
  const int prefix_width = parent_order - 1;
  if (std::equal(parent, parent + prefix_width, me.listed_prefix) && me.listed_block <= first) return;
  const store_shape& shape = listed.store.shape;
  const int q_ct = cell_total(prefix_width);
  const uint64_t* rows[kMaxPrefixRows];
  for (int q = 0; q < q_ct; ++q) rows[q] = me.prefix_rows.data() + static_cast<size_t>(q) * shape.slot_words();
  const size_t per_block = static_cast<size_t>(kClasses) * q_ct * 3 * kLanes;
  me.listed_counts.resize(static_cast<size_t>(shape.block_ct() - first) * per_block);
  for (long b = first; b < shape.block_ct(); ++b)
    kernel.count(rows, q_ct, store_block(listed.store, b), shape.case_word_ct, shape.ctrl_word_ct,
                 me.listed_counts.data() + static_cast<size_t>(b - first) * per_block);
  std::copy(parent, parent + prefix_width, me.listed_prefix);
  me.listed_block = first;
}

}  // namespace

void take_parent(exhaustive_worker& me, const search_input& in, const exhaustive_kernel& kernel, const int64_t* parent,
                 int parent_order, const complete_tables* complete) {
  take_prefix(me, in, kernel, parent, parent_order);
  const bool tables = complete != nullptr && complete->ready && complete->order == parent_order + 1;
  bool complete_parent = tables;
  for (int i = 0; i < parent_order && complete_parent; ++i)
    complete_parent = complete->snp_complete[static_cast<size_t>(parent[i])] == (1u << kClasses) - 1;
  take_rows(me, in, parent, parent_order, complete_parent);
  const size_t words = in.shape().slot_words();
  for (int r = 0; r < 2 * me.prefix_row_ct; ++r) me.row_ptrs[r] = me.rows.data() + static_cast<size_t>(r) * words;
  me.last = parent[parent_order - 1];
  me.parent_complete = 0;
  if (!tables) return;
  // The parent's share of each block's completeness, and its tables: for triples s's
  // pair tables, for quadruples the triple tables of each prefix SNP with s (a's for
  // the cells where a' has 2).
  const std::vector<uint8_t>& snp = complete->snp_complete;
  const long s = me.last;
  me.parent_complete = snp[static_cast<size_t>(s)];
  for (int t = 0; t < parent_order - 1; ++t) {
    me.parent_complete &= snp[static_cast<size_t>(parent[t])];
    const size_t unit = parent_order == 2 ? static_cast<size_t>(s) : pair_unit(*complete, parent[t], s);
    me.parent_tables[t] = complete->counts.data() + complete->first[unit];
  }
  // The counted rows' sizes, for the classes where their third genotypes follow:
  // row q + Q b is prefix row q AND genotype b of s, whose count the prefix's counts
  // against s's block hold already.
  const int q_ct = me.prefix_row_ct;
  const int32_t* at_s = me.prefix_counts.data() +
                        static_cast<size_t>(me.last / kLanes - me.prefix_block) * kClasses * q_ct * 3 * kLanes +
                        me.last % kLanes;
  for (int k = 0; k < kClasses; ++k)
    for (int q = 0; q < q_ct; ++q)
      for (int b = 0; b < 2; ++b) {
        const int32_t size = at_s[((k * q_ct + q) * 3 + b) * kLanes];
        me.row_sizes[(q + q_ct * b) * kClasses + k] = size;
        me.row_size_floats[(q + q_ct * b) * kClasses + k] = static_cast<float>(size);
      }
}

void find_complete_tables(const search_input& in, const exhaustive_kernel& kernel, int order, complete_tables& out) {
  const store_shape& shape = in.shape();
  const long snp_ct = shape.snp_ct, blocks = shape.block_ct();
  out.ready = false;
  out.order = order;
  out.claim.drop();
  find_completeness(*in.store, true, *in.budget, out.split);
  // The tables hold counts as floats, exact while a class holds fewer than 2^24
  // individuals (and the single-precision kernel reads them as they are).
  constexpr int kMostExact = 1 << 24;
  if (out.split.genotype_counts.empty() || out.split.class_size[0] >= kMostExact ||
      out.split.class_size[1] >= kMostExact)
    return;
  out.snp_complete.assign(static_cast<size_t>(snp_ct), 0);
  bool any = false;
  for (long s = 0; s < snp_ct; ++s) {
    const int32_t* counts = block_genotype_counts(out.split, s / kLanes);
    for (int k = 0; k < kClasses; ++k) {
      int32_t total = 0;
      for (int g = 0; g < 3; ++g) total += counts[(g * kClasses + k) * kLanes + s % kLanes];
      if (total == out.split.class_size[k]) out.snp_complete[static_cast<size_t>(s)] |= 1u << k;
    }
    any = any || out.snp_complete[static_cast<size_t>(s)] != 0;
  }
  if (!any) return;
  // A block is complete in a class when its SNPs are: lanes beyond the last SNP count as
  // complete, so that the last block of a study of p no multiple of kLanes takes the
  // derivation too (at p = 60 its sets are a quarter of the quadruples).
  out.complete_blocks.assign(static_cast<size_t>(blocks), (1u << kClasses) - 1);
  for (long s = 0; s < snp_ct; ++s) out.complete_blocks[static_cast<size_t>(s / kLanes)] &= out.snp_complete[static_cast<size_t>(s)];
  // A triple's pair tables keep 4 cells of 9, a quadruple's triple tables 12 of 27, per
  // class and lane (complete_table_at): the kernel reads them for every block, so the
  // fewer bytes the better.
  const int genotypes = order == 3 ? 1 : 3;
  const size_t per_block = complete_table_size(genotypes);
  // The tables grow with p squared for triples (5.8 MB at p = 600) and p cubed for
  // quadruples (69 MB at p = 160, 1 GiB near p = 400); past this, or past the memory
  // budget, the counting path serves, as fast as before.
  constexpr double kMostTableBytes = 1 << 30;
  double bytes = 0;
  for (long s = 0; s < snp_ct; ++s)
    bytes += static_cast<double>(order == 3 ? 1 : s) * static_cast<double>(blocks - (s + 1) / kLanes) *
             static_cast<double>(per_block * sizeof(float));
  if (bytes > kMostTableBytes || !out.claim.add(*in.budget, static_cast<size_t>(bytes))) return;
  const long units = order == 3 ? snp_ct : snp_ct * (snp_ct - 1) / 2;
  out.first.assign(static_cast<size_t>(units) + 1, 0);
  out.snp_ct = snp_ct;
  for (long u = 0, x = 0; x < (order == 3 ? 1 : snp_ct); ++x)
    for (long s = order == 3 ? 0 : x + 1; s < snp_ct; ++s, ++u)
      out.first[static_cast<size_t>(u) + 1] =
          out.first[static_cast<size_t>(u)] + static_cast<size_t>(blocks - (s + 1) / kLanes) * per_block;
  out.counts.assign(out.first.back(), 0);
  const size_t words = shape.slot_words();
  const bool threaded = static_cast<double>(out.first.back()) * static_cast<double>(words) / kLanes >= kParallelWork;
#pragma omp parallel if (threaded)
  {
    std::vector<uint64_t> slots(6 * words), pairs(6 * words);
    std::vector<int32_t> counted(static_cast<size_t>(kClasses) * 6 * 3 * kLanes);
#pragma omp for schedule(dynamic, 1)
    for (long s = 0; s < snp_ct; ++s) {
      const unsigned at_s = out.snp_complete[static_cast<size_t>(s)];
      if (at_s == 0) continue;
      copy_snp_out(*in.store, s, slots.data());
      // Row g + genotypes b: genotype g of x (none for triples) and b of s; a triple
      // counts s's third genotype too, as the kernel counts rows in threes.
      const uint64_t* table_rows[6];
      const int row_ct = order == 3 ? 3 : 6;
      for (long x = 0; x < (order == 3 ? 1 : s); ++x) {
        if (order == 3) {
          for (int j = 0; j < 3; ++j) table_rows[j] = slots.data() + static_cast<size_t>(j) * words;
        } else {
          if ((out.snp_complete[static_cast<size_t>(x)] & at_s) == 0) continue;
          copy_snp_out(*in.store, x, slots.data() + 3 * words);
          for (int j = 0; j < 2; ++j)
            for (int i = 0; i < 3; ++i) {
              uint64_t* row = pairs.data() + static_cast<size_t>(i + 3 * j) * words;
              const uint64_t* gx = slots.data() + static_cast<size_t>(3 + i) * words;
              const uint64_t* gs = slots.data() + static_cast<size_t>(j) * words;
              for (size_t w = 0; w < words; ++w) row[w] = gx[w] & gs[w];
              table_rows[i + 3 * j] = row;
            }
        }
        const size_t unit = order == 3 ? static_cast<size_t>(s) : pair_unit(out, x, s);
        for (long b = (s + 1) / kLanes; b < blocks; ++b) {
          kernel.count(table_rows, row_ct, store_block(*in.store, b), shape.case_word_ct, shape.ctrl_word_ct,
                       counted.data());
          float* table = out.counts.data() + out.first[unit] + static_cast<size_t>(b - (s + 1) / kLanes) * per_block;
          for (int k = 0; k < kClasses; ++k)
            for (int g = 0; g < genotypes; ++g)
              for (int j = 0; j < 2; ++j)
                for (int c = 0; c < 2; ++c)
                  std::copy_n(counted.data() + ((k * row_ct + g + genotypes * j) * 3 + c) * kLanes, kLanes,
                              table + complete_table_at(genotypes, k, g, j, c));
        }
      }
    }
  }
  out.ready = true;
}

exhaustive_job parent_block_job(exhaustive_worker& me, const block_job& base, const search_input& in, long b,
                                const complete_tables* complete) {
  exhaustive_job job;
  job.block = base;
  job.block.rows = me.row_ptrs;
  job.block.row_ct = 2 * me.prefix_row_ct;
  job.block.block = store_block(*in.store, b);
  job.block.snp_floor = in.single + b * kLanes;
  job.prefix_rows = me.prefix_row_ct;
  const size_t per_block = static_cast<size_t>(kClasses) * me.prefix_row_ct * 3 * kLanes;
  job.prefix_counts = me.prefix_counts.data() + static_cast<size_t>(b - me.prefix_block) * per_block;
  job.middle = me.middle.data();
  job.middle_ct = static_cast<int>(me.middle.size());
  if (complete == nullptr || !complete->ready || me.prefix_row_ct != cell_total(complete->order - 2)) {
    take_all_rows(me, in);
    return job;
  }
  const unsigned all = me.parent_complete & complete->complete_blocks[static_cast<size_t>(b)];
  const int units = complete->order == 3 ? 1 : 2;
  const size_t table_size = complete_table_size(complete->order == 3 ? 1 : 3);
  const size_t from_block = static_cast<size_t>(b - (me.last + 1) / kLanes);
  for (int t = 0; t < units; ++t) job.tables[t] = me.parent_tables[t] + from_block * table_size;
  // The tables that follow, asked for now: they lie in the order the parents meet the
  // blocks (the next parent's first block after this one's last), and a block's
  // derivation would otherwise wait for them (measured: 5 % of the quadruples' time
  // at n = 2,000).
  for (int t = 0; t < units; ++t) {
    const size_t next = static_cast<size_t>(job.tables[t] - complete->counts.data()) + table_size;
    for (size_t i = 0; i < table_size && next + i < complete->counts.size(); i += 64 / sizeof(float))
      __builtin_prefetch(complete->counts.data() + next + i);
  }
  for (int k = 0; k < kClasses; ++k) job.complete[k] = (all >> k & 1u) != 0;
  if (!job.complete[0] || !job.complete[1]) take_all_rows(me, in);
  if (all != 0) job.empty_lanes = lanes_beyond_snps(b, in.snp_ct());
  job.row_sizes = me.row_sizes;
  job.row_size_floats = me.row_size_floats;
  job.prefix_floats = me.prefix_floats.data() + (job.prefix_counts - me.prefix_counts.data());
  return job;
}

void exhaustive_search_straightforward(const search_input& in, int order, double first_bound, top_k_list& into) {
  const store_shape& shape = in.shape();
  const long snp_ct = shape.snp_ct;
  const int parent_order = order - 1;
  const int cells = cell_total(parent_order);
  const size_t words = shape.slot_words();
  const long parents = exhaustive_parent_count(snp_ct, order);
  std::vector<uint64_t> combined(static_cast<size_t>(cells) * words),
      scratch(3 * static_cast<size_t>(parent_order) * words);
  int64_t loci[4];
  double bound = first_bound;
  double done = 0;
  level_progress progress(std::to_string(order) + "-locus sets", "sets", all_sets(snp_ct, order));
  if (parents > 0) unrank_parent(0, parent_order, snp_ct - 1, loci);
  for (long r = 0; r < parents; ++r, next_parent(loci, parent_order, snp_ct - 1)) {
    fill_combined_cells(*in.store, loci, parent_order, scratch.data(), combined.data());
    const double floor = parent_floor(in, loci, parent_order);
    for (long x = loci[parent_order - 1] + 1; x < snp_ct; ++x) {
      const major_cell_table t = cells_against_snp(in, combined.data(), cells, x);
      const double s = chi_square(t.cell, 3, 2);
      if (!admitted(s, bound, floor, in.single[x])) continue;
      loci[parent_order] = x;
      if (!may_offer(in, loci, parent_order + 1)) continue;
      offer(into, bound, s, loci, t.case_major_ct);
    }
    done += static_cast<double>(sets_of_parent(snp_ct, loci, parent_order));
    progress.advance(done);
  }
}

namespace {

// The fast search's walk of the parents, on one rank, in bands: what its steps share.
// Every rank forms every band's parents from `next` (its part to screen, and rank 0
// all of them to offer); only rank 0's bound, list and count of sets done move.
struct exhaustive_walk {
  const search_input& in;
  const search_engine& engine;
  top_k_list& into;
  const int order;
  const int parent_order;   // a parent's SNPs: order - 1
  const long parents;       // of the whole enumeration
  const level_mark start;   // where this run's walk begins
  const block_job base;     // the fields every kernel job shares
  const complete_tables* complete;  // where a set's cells may be derived
  double bound;             // the running bound, as rank 0 holds it
  double done = 0;          // sets before the next band, for the progress line
  int64_t next[3] = {0, 0, 0};        // the next band's first parent
  long band_first = 0;                // the walk position of the band's first parent
  std::vector<int64_t> band_parents;  // the band's parents, parent_order SNPs each
  std::vector<double> sets_upto;      // sets of the band's first u parents
};

// Forms the band of `units` parents that begins at walk position w0, and the running
// count of their sets; `next` moves on to the following band's first parent.
void form_band(exhaustive_walk& walk, long w0, long units) {
  const long snp_ct = walk.in.snp_ct();
  const int parent_order = walk.parent_order;
  walk.band_first = w0;
  walk.sets_upto[0] = 0;
  for (long u = 0; u < units; ++u) {
    std::copy(walk.next, walk.next + parent_order, walk.band_parents.begin() + u * parent_order);
    walk.sets_upto[u + 1] = walk.sets_upto[u] + static_cast<double>(sets_of_parent(snp_ct, walk.next, parent_order));
    if (walk.start.next + w0 + u + 1 < walk.parents) next_parent(walk.next, parent_order, snp_ct - 1);
  }
}

// The first parent of rank r's part of a band of `units` parents: the ranks take
// consecutive parts of about equal set count, rank r the parents whose sets begin in
// its share.
long first_of_part(const exhaustive_walk& walk, long units, int r, int parts) {
  if (r == 0) return 0;
  if (r == parts) return units;
  const double share_start = walk.sets_upto[units] * r / parts;
  return static_cast<long>(std::lower_bound(walk.sets_upto.begin(), walk.sets_upto.begin() + units, share_start) -
                           walk.sets_upto.begin());
}

// The survivors of the worker's parent against the gathered listed SNPs above `last`,
// from the first of them, `first`, on: into `out` as the store's blocks give them.
void screen_listed(exhaustive_worker& me, const exhaustive_walk& walk, const gathered_listed& listed,
                   const int64_t* parent, double level, long first, std::vector<survivor>& out) {
  const search_input& in = walk.in;
  const set_rules& rules = *in.rules;
  const long listed_ct = listed.store.shape.snp_ct;
  take_listed_prefix(me, walk.engine.exhaustive, listed, parent, walk.parent_order, first / kLanes);
  const size_t per_block = static_cast<size_t>(kClasses) * me.prefix_row_ct * 3 * kLanes;
  for (long b = first / kLanes; b < listed.store.shape.block_ct(); ++b) {
    const long below = first - b * kLanes;  // lanes of SNPs at or below the parent's last
    exhaustive_job job = parent_block_job(me, walk.base, in, me.prefix_block);
    job.block.block = store_block(listed.store, b);
    job.block.snp_floor = listed.single.data() + b * kLanes;
    job.prefix_counts = me.listed_counts.data() + static_cast<size_t>(b - me.listed_block) * per_block;
    job.block.level = level;
    const int lane_ct = static_cast<int>(std::min<long>(kLanes, listed_ct - b * kLanes));
    job.block.excluded = (below <= 0 ? 0u : (1u << below) - 1u) | lanes_beyond_snps(b, listed_ct) |
                         too_close_lanes(rules, parent, walk.parent_order, listed.snp.data() + b * kLanes, lane_ct);
    if (job.block.excluded == kAllLanes) continue;
    block_result result;
    walk.engine.exhaustive.block(job, result);
    const size_t from = out.size();
    append_survivors(result, b, out);
    for (size_t i = from; i < out.size(); ++i) out[i].snp = listed.snp[static_cast<size_t>(out[i].snp)];
  }
}

// Under [SETSRULE] 1 a parent without a listed SNP grows only with the few listed SNPs
// above it. Screened one by one, each such parent would form its rows for a handful of
// sets. Instead the parents that share a prefix are screened together, roles swapped:
// each listed SNP x stands as the parent's last SNP, and the parents' last SNPs fill the
// store's blocks as its lanes. A set's cells are the same counts in another order, and
// its major-cell table and statistic sums of them, so the survivors are the same; each
// goes to its own parent's list, in increasing x.
bool screened_swapped(const set_rules* rules, const int64_t* parent, int parent_order) {
  return rules != nullptr && rules->rule == 1 && grows_only_with_listed(*rules, parent, parent_order);
}

// The parents [u, u + last - first] of a band: one prefix, last SNPs first ... last.
struct parent_run {
  long u;
  int64_t first, last;
};

// The runs of this rank's parents [u0, u1) that screened_swapped takes.
std::vector<parent_run> swapped_runs(const exhaustive_walk& walk, long u0, long u1) {
  const int parent_order = walk.parent_order;
  const int64_t* parents = walk.band_parents.data();
  std::vector<parent_run> runs;
  for (long u = u0; u < u1; ++u) {
    const int64_t* parent = parents + u * parent_order;
    if (!screened_swapped(walk.in.rules, parent, parent_order)) continue;
    const int64_t last = parent[parent_order - 1];
    if (!runs.empty()) {
      parent_run& run = runs.back();
      const int64_t* before = parents + (run.u + run.last - run.first) * parent_order;
      if (run.u + (run.last - run.first) + 1 == u && run.last + 1 == last &&
          std::equal(parent, parent + parent_order - 1, before)) {
        run.last = last;
        continue;
      }
    }
    runs.push_back({u, last, last});
  }
  return runs;
}

// Screens a run of parents with each listed SNP above its first as the last SNP.
void screen_swapped(exhaustive_worker& me, const exhaustive_walk& walk, const parent_run& run, double screen,
                    band_survivors& kept) {
  const search_input& in = walk.in;
  const set_rules& rules = *in.rules;
  const int parent_order = walk.parent_order;
  const int64_t* prefix = walk.band_parents.data() + run.u * parent_order;  // the run's first parent
  int64_t swapped[3];
  std::copy(prefix, prefix + parent_order - 1, swapped);
  for (long x = run.first + 1; x < in.snp_ct(); ++x) {
    if (!rules.listed[static_cast<size_t>(x)]) continue;
    swapped[parent_order - 1] = x;
    if (!set_allowed(rules, swapped, parent_order)) continue;  // x too close to the prefix
    take_parent(me, in, walk.engine.exhaustive, swapped, parent_order);
    const double level = std::max(screen, parent_floor(in, swapped, parent_order));
    const long top = std::min<long>(run.last, x - 1);
    for (long b = run.first / kLanes; b <= top / kLanes; ++b) {
      // Lanes outside the run or at x and beyond; listed ones, whose parents are listed;
      // and those too close to the prefix or to x.
      const long from = run.first - b * kLanes, to = top - b * kLanes;
      unsigned excluded = (from <= 0 ? 0u : (1u << from) - 1u) | (to >= kLanes - 1 ? 0u : kAllLanes & ~((2u << to) - 1u));
      excluded |= rules.listed_lanes[static_cast<size_t>(b)] | excluded_lanes(rules, swapped, parent_order, b);
      if ((excluded & kAllLanes) == kAllLanes) continue;
      exhaustive_job job = parent_block_job(me, walk.base, in, b);
      job.block.level = level;
      job.block.excluded = excluded & kAllLanes;
      block_result result;
      walk.engine.exhaustive.block(job, result);
      for (unsigned mask = result.survivors; mask != 0; mask &= mask - 1) {
        const int l = __builtin_ctz(mask);
        int table[6];
        for (int c = 0; c < 6; ++c) table[c] = static_cast<int>(result.table[c][l]);
        kept[run.u + b * kLanes + l - run.first].push_back(
            {x, chi_square(table, 3, 2), static_cast<int>(result.case_major_ct[l])});
      }
    }
  }
}

// Screens this rank's parents [u0, u1) of the band against every block above each
// one's last SNP, on the threads, each with its worker; their survivors into `kept`.
void screen_parents(const exhaustive_walk& walk, long u0, long u1, double screen, const gathered_listed& listed,
                    std::vector<exhaustive_worker>& workers, band_survivors& kept) {
  const search_input& in = walk.in;
  const exhaustive_kernel& kernel = walk.engine.exhaustive;
  const store_shape& shape = in.shape();
  const long snp_ct = shape.snp_ct;
  const long blocks = shape.block_ct();
  const int parent_order = walk.parent_order;
  const bool threaded = (walk.sets_upto[u1] - walk.sets_upto[u0]) * 3 * cell_total(parent_order) *
                            static_cast<double>(shape.slot_words()) >=
                        kParallelWork;
#pragma omp parallel for schedule(dynamic, 1) if (threaded)
  for (long u = u0; u < u1; ++u) {
    const int64_t* parent = walk.band_parents.data() + u * parent_order;
    std::vector<survivor>& out = kept[u];
    out.clear();
    // A focused search skips a parent from which no allowed set grows, and meets only
    // the blocks of SNPs that may complete one.
    const set_rules* rules = in.rules;
    if (rules != nullptr && !set_allowed(*rules, parent, parent_order)) continue;
    if (screened_swapped(rules, parent, parent_order)) continue;
    const long last = parent[parent_order - 1];
    const bool only_listed = rules != nullptr && grows_only_with_listed(*rules, parent, parent_order);
    const bool gathered = only_listed && listed.store.words != nullptr;
    const long first_listed =
        gathered ? std::upper_bound(listed.snp.begin(), listed.snp.end(), last) - listed.snp.begin() : 0;
    if (gathered && first_listed == listed.store.shape.snp_ct) continue;  // no listed SNP above the parent
    exhaustive_worker& me = workers[static_cast<size_t>(omp_get_thread_num())];
    take_parent(me, in, kernel, parent, parent_order, walk.complete);
    const double level = std::max(screen, parent_floor(in, parent, parent_order));
    if (gathered) {
      screen_listed(me, walk, listed, parent, level, first_listed, out);
      continue;
    }
    const long first_block = (last + 1) / kLanes;
    const auto screen_block = [&](long b) {
      // Lanes at or below the parent's last SNP, and beyond the last SNP, hold no set.
      const long below = last + 1 - b * kLanes;
      exhaustive_job job = parent_block_job(me, walk.base, in, b, walk.complete);
      job.block.level = level;
      job.block.excluded =
          (below <= 0 ? 0u : below >= kLanes ? kAllLanes : (1u << below) - 1u) | lanes_beyond_snps(b, snp_ct);
      if (rules != nullptr) {
        job.block.excluded |= excluded_lanes(*rules, parent, parent_order, b);
        if (job.block.excluded == kAllLanes) return;
      }
      block_result result;
      kernel.block(job, result);
      append_survivors(result, b, out);
    };
    if (only_listed) {
      const std::vector<long>& blocks_with = rules->listed_blocks;
      for (auto b = std::lower_bound(blocks_with.begin(), blocks_with.end(), first_block); b != blocks_with.end(); ++b)
        screen_block(*b);
    } else {
      for (long b = first_block; b < blocks; ++b) screen_block(b);
    }
  }
  if (in.rules == nullptr || in.rules->rule != 1) return;
  const std::vector<parent_run> runs = swapped_runs(walk, u0, u1);
#pragma omp parallel for schedule(dynamic, 1) if (threaded)
  for (size_t i = 0; i < runs.size(); ++i)
    screen_swapped(workers[static_cast<size_t>(omp_get_thread_num())], walk, runs[i], screen, kept);
}

// Rank 0: offers the survivors of the parent at walk position w, in SNP order, under
// the tests of the straightforward search with the running bound.
void offer_parent(exhaustive_walk& walk, long w, const std::vector<survivor>& kept) {
  const int parent_order = walk.parent_order;
  const int64_t* parent = walk.band_parents.data() + (w - walk.band_first) * parent_order;
  const double floor = parent_floor(walk.in, parent, parent_order);
  int64_t loci[4];
  std::copy(parent, parent + parent_order, loci);
  for (const survivor& s : kept) {
    if (!admitted(s.chisq, walk.bound, floor, walk.in.single[s.snp])) continue;
    loci[parent_order] = s.snp;
    if (!may_offer(walk.in, loci, parent_order + 1)) continue;
    offer(walk.into, walk.bound, s.chisq, loci, s.case_major_ct);
  }
}

// Rank 0, once the band's parents up to walk position w are offered: the progress
// line, and where the level stands for the context's checkpoints.
void end_band(exhaustive_walk& walk, long w, level_progress& progress, const search_context& context) {
  walk.done += walk.sets_upto[w - walk.band_first];
  progress.advance(walk.done);
  if (context.after_band) context.after_band({walk.order, walk.start.next + w, walk.bound});
}

}  // namespace

void fast_exhaustive_search(const search_input& in, int order, double first_bound, const search_context& context,
                            const search_engine& engine, top_k_list& into) {
  const team& t = *context.processes;
  const long snp_ct = in.snp_ct();
  const int parent_order = order - 1;
  const long parents = exhaustive_parent_count(snp_ct, order);
  const level_mark start = level_start(context, order, 0, first_bound);
  // Bands of parents: about band_candidates sets per rank once grown (a parent has about
  // a third of the SNPs above it), never more parents than there are.
  const search_tuning& tuning = context.tuning;
  const long full_band = std::min<long>(
      std::max(tuning.first_band_rows, 3 * tuning.band_candidates / std::max<long>(snp_ct, 1)) * t.size,
      std::max(parents, 1L));
  exhaustive_walk walk{.in = in,
                       .engine = engine,
                       .into = into,
                       .order = order,
                       .parent_order = parent_order,
                       .parents = parents,
                       .start = start,
                       .base = base_job(engine, in),
                       .complete = nullptr,
                       .bound = start.bound,
                       .band_parents = std::vector<int64_t>(static_cast<size_t>(full_band) * parent_order),
                       .sets_upto = std::vector<double>(static_cast<size_t>(full_band) + 1)};
  std::vector<exhaustive_worker> workers(static_cast<size_t>(omp_get_max_threads()));
  complete_tables complete;
  find_complete_tables(in, engine.exhaustive, order, complete);
  walk.complete = &complete;
  gathered_listed listed;
  gather_listed(in, listed);
  if (start.next < parents)
    unrank_parent(start.next, parent_order, snp_ct - 1, walk.next);  // parents lie below the last SNP
  walk.done = start.next < parents ? sets_before(walk.next, parent_order, snp_ct) : all_sets(snp_ct, order);
  level_progress progress(std::to_string(order) + "-locus sets", "sets", all_sets(snp_ct, order),
                          leads(t) && context.show_progress, walk.done);
  walk_in_bands(
      context, parents - start.next, full_band, walk.bound,
      [&walk](long w0, long units, int rank, int parts, long& u0, long& u1) {
        form_band(walk, w0, units);
        u0 = first_of_part(walk, units, rank, parts);
        u1 = first_of_part(walk, units, rank + 1, parts);
      },
      [&walk, &listed, &workers](long, long u0, long u1, double screen, band_survivors& kept) {
        screen_parents(walk, u0, u1, screen, listed, workers, kept);
      },
      [&walk](long w, const std::vector<survivor>& kept) { offer_parent(walk, w, kept); },
      [&](long w) { end_band(walk, w, progress, context); });
}

}  // namespace velk
