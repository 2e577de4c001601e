#include "search/kernels/exhaustive_kernel.h"

#include <algorithm>

#include "search/kernels/lane_kernels.h"

namespace velk {

namespace {

using namespace lanes;

// ---- Plain kernels, compiled once per popcount flavour --------------------------------

// The prefix's counts against the block, less its individuals missing at s:
// margin[k][q][c][lane].
template <class Margin>
inline __attribute__((always_inline)) void prefix_margins(const exhaustive_job& ej, Margin* margin) {
  const block_job& job = ej.block;
  const int words = job.case_word_ct + job.ctrl_word_ct;
  for (int k = 0; k < kClasses; ++k)
    for (int q = 0; q < ej.prefix_rows; ++q)
      for (int c = 0; c < 3; ++c)
        for (int l = 0; l < kLanes; ++l)
          margin[k][q][c][l] = ej.prefix_counts[((k * ej.prefix_rows + q) * 3 + c) * kLanes + l];
  for (const missing_in_prefix* e = ej.middle; e != ej.middle + ej.middle_ct; ++e)
    for (int c = 0; c < 3; ++c)
      for (int l = 0; l < kLanes; ++l)
        margin[e->k][e->q][c][l] -= (job.block[(static_cast<size_t>(c) * words + e->word) * kLanes + l] & e->bit) != 0;
}

// A complete class's prefix row q from its cells with s and t at 0 or 1: t at 2 from the
// counted rows' sizes, then s at 2 from the prefix's margins. x[9 q + 3 b + c].
template <class Margin>
inline __attribute__((always_inline)) void complete_prefix_row(const exhaustive_job& ej, int k, int q,
                                                               const Margin& margin, lane_counts* x) {
  for (int b = 0; b < 2; ++b) {
    const int64_t size = ej.row_sizes[(q + ej.prefix_rows * b) * kClasses + k];
    lane_counts* cell = x + 9 * q + 3 * b;
    for (int l = 0; l < kLanes; ++l) cell[2].v[l] = size - cell[0].v[l] - cell[1].v[l];
  }
  for (int c = 0; c < 3; ++c)
    for (int l = 0; l < kLanes; ++l) x[9 * q + 6 + c].v[l] = margin[q][c][l] - x[9 * q + c].v[l] - x[9 * q + 3 + c].v[l];
}

// The cells of prefix row q with s and t at 0 or 1, where a prefix SNP has genotype 2,
// from a lower-order table (exhaustive_job::tables) less prefix rows q0 and q1.
inline __attribute__((always_inline)) void cells_from_table(const float* table, int genotypes, int k, int g, int q, int q0, int q1,
                                                            lane_counts* x) {
  for (int b = 0; b < 2; ++b)
    for (int c = 0; c < 2; ++c)
      for (int l = 0; l < kLanes; ++l)
        x[9 * q + 3 * b + c].v[l] = static_cast<int64_t>(table[complete_table_at(genotypes, k, g, b, c) + l]) -
                                    x[9 * q0 + 3 * b + c].v[l] -
                                    x[9 * q1 + 3 * b + c].v[l];
}

// A complete class's cells of a triple (exhaustive_job::complete) from its 8 counted
// ones, the cells with genotypes 0 and 1 only: x[9 q + 3 b + c].
template <class Margin>
inline __attribute__((always_inline)) void derive_complete_class(const exhaustive_job& ej, int k, const Margin& margin,
                                                                 lane_counts* x) {
  complete_prefix_row(ej, k, 0, margin, x);
  complete_prefix_row(ej, k, 1, margin, x);
  cells_from_table(ej.tables[0], 1, k, 0, 2, 0, 1, x);
  complete_prefix_row(ej, k, 2, margin, x);
}

// Prefix rows of a quadruple whose SNPs both have genotype 0 or 1: q = g + 3 g'.
constexpr int kLowPrefixRows[4] = {0, 1, 3, 4};

// The same for a quadruple (prefix SNPs a, a'), from its 16 counted cells x[9 q + 3 b + c]
// (q in kLowPrefixRows, b, c < 2). The rows where a' has 2 come first: those where a
// has 2 then include q = 8, from rows 6 and 7.
template <class Margin>
inline __attribute__((always_inline)) void derive_complete_quadruples(const exhaustive_job& ej, int k,
                                                                      const Margin& margin, lane_counts* x) {
  for (int q : kLowPrefixRows) complete_prefix_row(ej, k, q, margin, x);
  for (int g = 0; g < 2; ++g) {  // a' at 2, a at g: q = g + 6
    cells_from_table(ej.tables[0], 3, k, g, g + 6, g, g + 3, x);
    complete_prefix_row(ej, k, g + 6, margin, x);
  }
  for (int g = 0; g < 3; ++g) {  // a at 2, a' at g: q = 2 + 3 g
    cells_from_table(ej.tables[1], 3, k, g, 2 + 3 * g, 3 * g, 3 * g + 1, x);
    complete_prefix_row(ej, k, 2 + 3 * g, margin, x);
  }
}

// A derived class's cells in lanes beyond the study's SNPs, cleared
// (exhaustive_job::empty_lanes).
inline void clear_empty_lanes(const exhaustive_job& ej, lane_counts* x) {
  if (ej.empty_lanes == 0) return;
  for (int i = 0; i < 9 * ej.prefix_rows; ++i)
    for (int l = 0; l < kLanes; ++l)
      if (ej.empty_lanes >> l & 1u) x[i].v[l] = 0;
}

// The bound before the thresholds over every cell of the set, then the major-cell tables
// of the lanes it leaves.
inline __attribute__((always_inline)) void classify_all(const block_job& job, int q_ct, const lane_counts* x,
                                                        const lane_counts* y, block_result& out) {
  if (q_ct == 3 ? below_everywhere_lanes<27>(job, x, y) : below_everywhere_lanes<81>(job, x, y)) {
    out.survivors = 0;
    return;
  }
  int64_t tab[6][kLanes] = {};
  int64_t case_major_ct[kLanes] = {};
  for (int q = 0; q < q_ct; ++q) classify_lanes(job, x + 9 * q, y + 9 * q, tab, case_major_ct);
  finish_lanes(job, tab, case_major_ct, out);
}

template <int (*Pop)(uint64_t)>
inline __attribute__((always_inline)) void plain_exhaustive(const exhaustive_job& ej, block_result& out) {
  const block_job& job = ej.block;
  const int q_ct = ej.prefix_rows;
  const int words = job.case_word_ct + job.ctrl_word_ct;
  int64_t margin[kClasses][kMaxPrefixRows][3][kLanes];
  prefix_margins(ej, margin);
  // Every cell of the set, 9 q + 3 b + c (genotype b of s, c of t): cases, controls.
  lane_counts cell[kClasses][9 * kMaxPrefixRows] = {};
  for (int k = 0; k < kClasses; ++k)
    if (ej.complete[k]) {
      for (int q : kLowPrefixRows) {
        if (q >= q_ct || (q_ct == 3 && q > 1)) continue;
        for (int b = 0; b < 2; ++b)
          for (int c = 0; c < 2; ++c) {
            const uint64_t* row = job.rows[q + q_ct * b];
            const uint64_t* col = job.block + static_cast<size_t>(c) * words * kLanes;
            int64_t* counts = cell[k][9 * q + 3 * b + c].v;
            for (int w = class_begin(job, k); w < class_end(job, k); ++w)
              for (int l = 0; l < kLanes; ++l) counts[l] += Pop(row[w] & col[w * kLanes + l]);
          }
      }
      if (q_ct == 3)
        derive_complete_class(ej, k, margin[k], cell[k]);
      else
        derive_complete_quadruples(ej, k, margin[k], cell[k]);
      clear_empty_lanes(ej, cell[k]);
    }
  for (int q = 0; q < q_ct; ++q)
    for (int k = 0; k < kClasses; ++k) {
      if (ej.complete[k]) continue;
      lane_counts* at = cell[k] + 9 * q;
      for (int b = 0; b < 2; ++b)
        for (int c = 0; c < 3; ++c) {
          const uint64_t* row = job.rows[q + q_ct * b];
          const uint64_t* col = job.block + static_cast<size_t>(c) * words * kLanes;
          int64_t* counts = at[3 * b + c].v;
          for (int w = class_begin(job, k); w < class_end(job, k); ++w)
            for (int l = 0; l < kLanes; ++l) counts[l] += Pop(row[w] & col[w * kLanes + l]);
        }
      for (int c = 0; c < 3; ++c)
        for (int l = 0; l < kLanes; ++l) at[6 + c].v[l] = margin[k][q][c][l] - at[c].v[l] - at[3 + c].v[l];
    }
  classify_all(job, q_ct, cell[0], cell[1], out);
}

template <int (*Pop)(uint64_t)>
inline __attribute__((always_inline)) void plain_count(const uint64_t* const* rows, int row_ct, const uint64_t* block,
                                                       int case_word_ct, int ctrl_word_ct, int32_t* out) {
  const int words = case_word_ct + ctrl_word_ct;
  for (int k = 0; k < kClasses; ++k) {
    const int lo = k == 0 ? 0 : case_word_ct, hi = k == 0 ? case_word_ct : words;
    for (int r = 0; r < row_ct; ++r)
      for (int c = 0; c < 3; ++c) {
        int32_t* counts = out + ((k * row_ct + r) * 3 + c) * kLanes;
        for (int l = 0; l < kLanes; ++l) counts[l] = 0;
        for (int w = lo; w < hi; ++w)
          for (int l = 0; l < kLanes; ++l)
            counts[l] += Pop(rows[r][w] & block[(static_cast<size_t>(c) * words + w) * kLanes + l]);
      }
  }
}

void exhaustive_table(const exhaustive_job& job, block_result& out) { plain_exhaustive<pop_table>(job, out); }
void count_table(const uint64_t* const* rows, int row_ct, const uint64_t* block, int case_word_ct, int ctrl_word_ct,
                 int32_t* out) {
  plain_count<pop_table>(rows, row_ct, block, case_word_ct, ctrl_word_ct, out);
}

__attribute__((target("popcnt"))) void exhaustive_popcnt(const exhaustive_job& job, block_result& out) {
  plain_exhaustive<pop_builtin>(job, out);
}
__attribute__((target("popcnt"))) void count_popcnt(const uint64_t* const* rows, int row_ct, const uint64_t* block,
                                                    int case_word_ct, int ctrl_word_ct, int32_t* out) {
  plain_count<pop_builtin>(rows, row_ct, block, case_word_ct, ctrl_word_ct, out);
}

// ---- AVX2 ---------------------------------------------------------------------------

// prefix_margins in two halves of four lanes, each run of one prefix row and class
// counted in registers: the scalar loop would cost as much as the counting.
VELK_AVX2 inline __attribute__((always_inline)) void prefix_margins_avx2(const exhaustive_job& ej,
                                                                          int64_t (*margin)[kMaxPrefixRows][3][kLanes]) {
  const block_job& job = ej.block;
  const int words = job.case_word_ct + job.ctrl_word_ct;
  for (int k = 0; k < kClasses; ++k)
    for (int q = 0; q < ej.prefix_rows; ++q)
      for (int c = 0; c < 3; ++c)
        for (int half = 0; half < 2; ++half)
          _mm256_storeu_si256(reinterpret_cast<__m256i*>(margin[k][q][c] + 4 * half),
                              _mm256_cvtepi32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(
                                  ej.prefix_counts + ((k * ej.prefix_rows + q) * 3 + c) * kLanes + 4 * half))));
  const __m256i zero = _mm256_setzero_si256();
  const missing_in_prefix* e = ej.middle;
  const missing_in_prefix* const end = ej.middle + ej.middle_ct;
  while (e != end) {
    const int k = e->k, q = e->q;
    // Minus the entries whose bit is clear, lane by lane; with the run's length, those set.
    __m256i clear[3][2];
    for (auto& c : clear) c[0] = c[1] = zero;
    long run = 0;
    for (; e != end && e->k == k && e->q == q; ++e, ++run) {
      const __m256i bit = _mm256_set1_epi64x(static_cast<long long>(e->bit));
      const uint64_t* at = job.block + static_cast<size_t>(e->word) * kLanes;
      for (int c = 0; c < 3; ++c)
        for (int half = 0; half < 2; ++half) {
          const __m256i v = _mm256_loadu_si256(
              reinterpret_cast<const __m256i*>(at + static_cast<size_t>(c) * words * kLanes + 4 * half));
          clear[c][half] = _mm256_add_epi64(clear[c][half], _mm256_cmpeq_epi64(_mm256_and_si256(v, bit), zero));
        }
    }
    const __m256i length = _mm256_set1_epi64x(run);
    for (int c = 0; c < 3; ++c)
      for (int half = 0; half < 2; ++half) {
        __m256i* m = reinterpret_cast<__m256i*>(margin[k][q][c] + 4 * half);
        _mm256_storeu_si256(m, _mm256_sub_epi64(_mm256_loadu_si256(m), _mm256_add_epi64(length, clear[c][half])));
      }
  }
}

VELK_AVX2 void exhaustive_avx2(const exhaustive_job& ej, block_result& out) {
  const block_job& job = ej.block;
  const int q_ct = ej.prefix_rows;
  const int words = job.case_word_ct + job.ctrl_word_ct;
  int64_t margin[kClasses][kMaxPrefixRows][3][kLanes];
  prefix_margins_avx2(ej, margin);
  lane_counts cell[kClasses][9 * kMaxPrefixRows];
  for (int k = 0; k < kClasses; ++k)
    if (ej.complete[k]) {
      for (int q : kLowPrefixRows) {
        if (q >= q_ct || (q_ct == 3 && q > 1)) continue;
        for (int b = 0; b < 2; ++b)
          count_row_avx2<2>(job.rows[q + q_ct * b], job.block, words, class_begin(job, k), class_end(job, k),
                            cell[k] + 9 * q + 3 * b);
      }
      if (q_ct == 3)
        derive_complete_class(ej, k, margin[k], cell[k]);
      else
        derive_complete_quadruples(ej, k, margin[k], cell[k]);
      clear_empty_lanes(ej, cell[k]);
    }
  for (int q = 0; q < q_ct; ++q)
    for (int k = 0; k < kClasses; ++k) {
      if (ej.complete[k]) continue;
      lane_counts* at = cell[k] + 9 * q;
      for (int b = 0; b < 2; ++b)
        count_row_avx2<3>(job.rows[q + q_ct * b], job.block, words, class_begin(job, k), class_end(job, k), at + 3 * b);
      for (int c = 0; c < 3; ++c)
        for (int l = 0; l < kLanes; ++l) at[6 + c].v[l] = margin[k][q][c][l] - at[c].v[l] - at[3 + c].v[l];
    }
  classify_all(job, q_ct, cell[0], cell[1], out);
}

VELK_AVX2 void count_avx2(const uint64_t* const* rows, int row_ct, const uint64_t* block, int case_word_ct,
                          int ctrl_word_ct, int32_t* out) {
  const int words = case_word_ct + ctrl_word_ct;
  for (int k = 0; k < kClasses; ++k)
    for (int r = 0; r < row_ct; ++r) {
      lane_counts cell[3];
      count_row_avx2<3>(rows[r], block, words, k == 0 ? 0 : case_word_ct, k == 0 ? case_word_ct : words, cell);
      for (int c = 0; c < 3; ++c)
        for (int l = 0; l < kLanes; ++l)
          out[((k * row_ct + r) * 3 + c) * kLanes + l] = static_cast<int32_t>(cell[c].v[l]);
    }
}

// ---- AVX-512 ------------------------------------------------------------------------

// The derivation in registers, once for each of three kinds of lanes, the same
// identities in each (counts and their differences are exact integers in all three):
//   __m512i, 64-bit integers: a block with one complete class;
//   __m512d, doubles, and __m256, floats: a block complete in both classes, whose bound
//   then needs no conversions (exhaustive_avx512 chooses between them).
// lanes_minus subtracts; row_size broadcasts a counted row's size (exhaustive_job::
// row_sizes); take_counts converts the counted cells, take_table a lower-order table's
// eight lanes (exhaustive_job::tables); store_counts writes integers for the thresholds.
VELK_AVX512 inline __attribute__((always_inline)) __m512i lanes_minus(__m512i a, __m512i b) {
  return _mm512_sub_epi64(a, b);
}
VELK_AVX512 inline __attribute__((always_inline)) __m512d lanes_minus(__m512d a, __m512d b) { return _mm512_sub_pd(a, b); }
VELK_AVX512 inline __attribute__((always_inline)) __m256 lanes_minus(__m256 a, __m256 b) { return _mm256_sub_ps(a, b); }

template <class V>
VELK_AVX512 inline __attribute__((always_inline)) V row_size(const exhaustive_job& ej, int at);
template <>
VELK_AVX512 inline __attribute__((always_inline)) __m512i row_size<__m512i>(const exhaustive_job& ej, int at) {
  return _mm512_set1_epi64(ej.row_sizes[at]);
}
template <>
VELK_AVX512 inline __attribute__((always_inline)) __m512d row_size<__m512d>(const exhaustive_job& ej, int at) {
  return _mm512_set1_pd(static_cast<double>(ej.row_sizes[at]));
}
template <>
VELK_AVX512 inline __attribute__((always_inline)) __m256 row_size<__m256>(const exhaustive_job& ej, int at) {
  return _mm256_broadcast_ss(ej.row_size_floats + at);
}

VELK_AVX512 inline __attribute__((always_inline)) void take_counts(__m512i counts, __m512i& out) { out = counts; }
VELK_AVX512 inline __attribute__((always_inline)) void take_counts(__m512i counts, __m512d& out) {
  out = _mm512_cvtepi64_pd(counts);
}
VELK_AVX512 inline __attribute__((always_inline)) void take_counts(__m512i counts, __m256& out) {
  out = _mm512_cvtepi64_ps(counts);
}

VELK_AVX512 inline __attribute__((always_inline)) void take_table(const float* at, __m512i& out) {
  out = _mm512_cvtps_epi64(_mm256_loadu_ps(at));
}
VELK_AVX512 inline __attribute__((always_inline)) void take_table(const float* at, __m512d& out) {
  out = _mm512_cvtps_pd(_mm256_loadu_ps(at));
}
VELK_AVX512 inline __attribute__((always_inline)) void take_table(const float* at, __m256& out) {
  out = _mm256_loadu_ps(at);
}

VELK_AVX512 inline __attribute__((always_inline)) void store_counts(__m512d v, int64_t* out) {
  _mm512_store_si512(out, _mm512_cvtpd_epi64(v));
}
VELK_AVX512 inline __attribute__((always_inline)) void store_counts(__m256 v, int64_t* out) {
  _mm512_store_si512(out, _mm512_cvtps_epi64(v));
}

// A class's prefix margins (exhaustive_job): corrected for the individuals missing at s
// in an array, or, where s misses nobody, read from the prefix's counts.
struct held_margins {
  const int64_t (*at_qc)[3][kLanes];
  VELK_AVX512 __m512i at(int q, int c) const { return _mm512_load_si512(at_qc[q][c]); }
};
struct counted_margins {
  const int32_t* prefix_counts;  // the class's first, [(q * 3 + c) * kLanes + lane]
  VELK_AVX512 __m512d at(int q, int c) const {
    return _mm512_cvtepi32_pd(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(prefix_counts + (q * 3 + c) * kLanes)));
  }
};
struct float_margins {
  const float* prefix_floats;  // as counted_margins
  VELK_AVX512 __m256 at(int q, int c) const { return _mm256_loadu_ps(prefix_floats + (q * 3 + c) * kLanes); }
};
// The prefix's margins of class k for a block complete in both classes.
VELK_AVX512 inline counted_margins margins_of(const exhaustive_job& ej, int k, const __m512d*) {
  return {ej.prefix_counts + k * ej.prefix_rows * 3 * kLanes};
}
VELK_AVX512 inline float_margins margins_of(const exhaustive_job& ej, int k, const __m256*) {
  return {ej.prefix_floats + k * ej.prefix_rows * 3 * kLanes};
}

// complete_prefix_row and cells_from_table in registers.
template <class V, class Margins>
VELK_AVX512 inline __attribute__((always_inline)) void complete_prefix_row_avx512(const exhaustive_job& ej, int k,
                                                                                 int q, const Margins& margin, V* x) {
  for (int b = 0; b < 2; ++b) {
    V* cell = x + 9 * q + 3 * b;
    const V size = row_size<V>(ej, (q + ej.prefix_rows * b) * kClasses + k);
    cell[2] = lanes_minus(lanes_minus(size, cell[0]), cell[1]);
  }
  for (int c = 0; c < 3; ++c)
    x[9 * q + 6 + c] = lanes_minus(lanes_minus(margin.at(q, c), x[9 * q + c]), x[9 * q + 3 + c]);
}

template <class V>
VELK_AVX512 inline __attribute__((always_inline)) void cells_from_table_avx512(const float* table, int genotypes,
                                                                              int k, int g, int q, int q0, int q1,
                                                                              V* x) {
  for (int b = 0; b < 2; ++b)
    for (int c = 0; c < 2; ++c) {
      V t;
      take_table(table + complete_table_at(genotypes, k, g, b, c), t);
      x[9 * q + 3 * b + c] = lanes_minus(lanes_minus(t, x[9 * q0 + 3 * b + c]), x[9 * q1 + 3 * b + c]);
    }
}

// derive_complete_class in registers, from the counted cells in x.
template <class V, class Margins>
VELK_AVX512 inline __attribute__((always_inline)) void derive_complete_class_avx512(const exhaustive_job& ej, int k,
                                                                                   const Margins& margin, V* x) {
  complete_prefix_row_avx512(ej, k, 0, margin, x);
  complete_prefix_row_avx512(ej, k, 1, margin, x);
  cells_from_table_avx512(ej.tables[0], 1, k, 0, 2, 0, 1, x);
  complete_prefix_row_avx512(ej, k, 2, margin, x);
}

// derive_complete_quadruples in registers, from the counted cells in x.
template <class V, class Margins>
VELK_AVX512 inline __attribute__((always_inline)) void derive_complete_quadruples_avx512(const exhaustive_job& ej,
                                                                                        int k, const Margins& margin,
                                                                                        V* x) {
  for (int q : kLowPrefixRows) complete_prefix_row_avx512(ej, k, q, margin, x);
  for (int g = 0; g < 2; ++g) {
    cells_from_table_avx512(ej.tables[0], 3, k, g, g + 6, g, g + 3, x);
    complete_prefix_row_avx512(ej, k, g + 6, margin, x);
  }
  for (int g = 0; g < 3; ++g) {
    cells_from_table_avx512(ej.tables[1], 3, k, g, 2 + 3 * g, 3 * g, 3 * g + 1, x);
    complete_prefix_row_avx512(ej, k, 2 + 3 * g, margin, x);
  }
}

// A complete class's counted cells, those with genotypes 0 and 1 only, each into its
// place in x, then all its cells.
template <class V, class Margins>
VELK_AVX512 inline __attribute__((always_inline)) void complete_class_avx512(const exhaustive_job& ej, int k,
                                                                            const Margins& margin, V* x) {
  const block_job& job = ej.block;
  const int words = job.case_word_ct + job.ctrl_word_ct;
  __m512i low[24];  // the counted cell of row r against genotype c at 3 r + c
  if (ej.prefix_rows == 3) {
    const uint64_t* rows[4] = {job.rows[0], job.rows[1], job.rows[3], job.rows[4]};  // r = q + 2 b for q, b < 2
    count_cells<2, 4>(rows, job.block, words, class_begin(job, k), class_end(job, k), low);
    for (int q = 0; q < 2; ++q)
      for (int b = 0; b < 2; ++b)
        for (int c = 0; c < 2; ++c) take_counts(low[3 * (q + 2 * b) + c], x[9 * q + 3 * b + c]);
    derive_complete_class_avx512(ej, k, margin, x);
  } else {
    const uint64_t* rows[8];  // r = i + 4 b, prefix row kLowPrefixRows[i]
    for (int b = 0; b < 2; ++b)
      for (int i = 0; i < 4; ++i) rows[i + 4 * b] = job.rows[kLowPrefixRows[i] + 9 * b];
    count_cells<2, 8>(rows, job.block, words, class_begin(job, k), class_end(job, k), low);
    for (int i = 0; i < 4; ++i)
      for (int b = 0; b < 2; ++b)
        for (int c = 0; c < 2; ++c) take_counts(low[3 * (i + 4 * b) + c], x[9 * kLowPrefixRows[i] + 3 * b + c]);
    derive_complete_quadruples_avx512(ej, k, margin, x);
  }
}

// The prefix's margins less its individuals missing at s, whose genotypes in the eight
// lanes are three bit tests: margin[k][q][c][lane].
VELK_AVX512 inline __attribute__((always_inline)) void margins_avx512(const exhaustive_job& ej,
                                                                      int64_t (*margin)[kMaxPrefixRows][3][kLanes]) {
  const block_job& job = ej.block;
  const int q_ct = ej.prefix_rows;
  const int words = job.case_word_ct + job.ctrl_word_ct;
  const __m512i one = _mm512_set1_epi64(1);
  for (int k = 0; k < kClasses; ++k)
    for (int q = 0; q < q_ct; ++q)
      for (int c = 0; c < 3; ++c)
        _mm512_store_si512(margin[k][q][c], _mm512_cvtepi32_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(
                                                ej.prefix_counts + ((k * q_ct + q) * 3 + c) * kLanes))));
  // The entries come in runs of one prefix row and class: each run is counted in
  // registers and subtracted once.
  const missing_in_prefix* e = ej.middle;
  const missing_in_prefix* const end = ej.middle + ej.middle_ct;
  while (e != end) {
    const int k = e->k, q = e->q;
    __m512i seen[3] = {_mm512_setzero_si512(), _mm512_setzero_si512(), _mm512_setzero_si512()};
    for (; e != end && e->k == k && e->q == q; ++e) {
      const __m512i bit = _mm512_set1_epi64(static_cast<long long>(e->bit));
      const uint64_t* at = job.block + static_cast<size_t>(e->word) * kLanes;
#pragma GCC unroll 3
      for (int c = 0; c < 3; ++c) {
        const __mmask8 has = _mm512_test_epi64_mask(_mm512_loadu_si512(at + static_cast<size_t>(c) * words * kLanes), bit);
        seen[c] = _mm512_mask_add_epi64(seen[c], has, seen[c], one);
      }
    }
    for (int c = 0; c < 3; ++c)
      _mm512_store_si512(margin[k][q][c], _mm512_sub_epi64(_mm512_load_si512(margin[k][q][c]), seen[c]));
  }
}

// The major-cell tables of the lanes that may pass, screened against `cutoff`. A derived
// class's empty lanes are cleared first (exhaustive_job::empty_lanes): the thresholds
// are read at each cell's count.
VELK_AVX512 inline __attribute__((always_inline)) void tally_avx512(const block_job& job, int q_ct, __m512i* x,
                                                                    __m512i* y, __m512d cutoff, block_result& out,
                                                                    unsigned empty_lanes) {
  if (empty_lanes != 0)
    for (int i = 0; i < 9 * q_ct; ++i) {
      x[i] = _mm512_maskz_mov_epi64(static_cast<__mmask8>(~empty_lanes), x[i]);
      y[i] = _mm512_maskz_mov_epi64(static_cast<__mmask8>(~empty_lanes), y[i]);
    }
  tally t;
  clear(t);
  tally_cells(job, x, y, 9 * q_ct, t);
  finish_tally(job, t, cutoff, out);
}

// The bound before the thresholds over every cell (x cases, y controls), then the
// tables of the lanes it leaves.
VELK_AVX512 inline __attribute__((always_inline)) void finish_avx512(const block_job& job, int q_ct, __m512i* x,
                                                                     __m512i* y, block_result& out,
                                                                     unsigned empty_lanes = 0) {
  const __m512d cutoff = lane_cutoffs(job);
  if (q_ct == 3 ? below_everywhere<27>(job, x, y, cutoff) : below_everywhere<81>(job, x, y, cutoff)) {
    out.survivors = 0;
    return;
  }
  tally_avx512(job, q_ct, x, y, cutoff, out, empty_lanes);
}

// Every cell counted but the third genotype of s: the path of blocks with no complete class.
VELK_AVX512 void exhaustive_avx512_counted(const exhaustive_job& ej, block_result& out) {
  const block_job& job = ej.block;
  const int q_ct = ej.prefix_rows;
  const int words = job.case_word_ct + job.ctrl_word_ct;
  alignas(64) int64_t margin[kClasses][kMaxPrefixRows][3][kLanes];
  margins_avx512(ej, margin);
  // The counted rows three at a time, as the block kernel counts a SNP's rows: nine
  // accumulators, each block word loaded once for three rows.
  __m512i counted[kClasses][2 * kMaxPrefixRows * 3];
  for (int k = 0; k < kClasses; ++k)
    for (int r = 0; r < 2 * q_ct; r += 3)
      count_cells<3, 3>(job.rows + r, job.block, words, class_begin(job, k), class_end(job, k), counted[k] + 3 * r);
  // Every cell of the set, 9 q + 3 b + c: cases in x, controls in y.
  __m512i x[9 * kMaxPrefixRows], y[9 * kMaxPrefixRows];
  for (int q = 0; q < q_ct; ++q)
    for (int k = 0; k < kClasses; ++k) {
      __m512i* cell = (k == 0 ? x : y) + 9 * q;
      for (int c = 0; c < 3; ++c) {
        cell[c] = counted[k][3 * q + c];
        cell[3 + c] = counted[k][3 * (q + q_ct) + c];
        cell[6 + c] = _mm512_sub_epi64(_mm512_sub_epi64(_mm512_load_si512(margin[k][q][c]), cell[c]), cell[3 + c]);
      }
    }
  finish_avx512(job, q_ct, x, y, out);
}

// A block with a complete class: that class's cells derived, the other's counted.
VELK_AVX512 void exhaustive_avx512_derived(const exhaustive_job& ej, block_result& out) {
  const block_job& job = ej.block;
  const int q_ct = ej.prefix_rows;
  const int words = job.case_word_ct + job.ctrl_word_ct;
  alignas(64) int64_t margin[kClasses][kMaxPrefixRows][3][kLanes];
  margins_avx512(ej, margin);
  // The complete class's cells derived; the other's counted rows three at a time, as
  // exhaustive_avx512_counted counts them.
  __m512i counted[kClasses][2 * kMaxPrefixRows * 3];
  __m512i x[9 * kMaxPrefixRows], y[9 * kMaxPrefixRows];
  for (int k = 0; k < kClasses; ++k) {
    if (ej.complete[k]) {
      complete_class_avx512(ej, k, held_margins{margin[k]}, k == 0 ? x : y);
      continue;
    }
    for (int r = 0; r < 2 * q_ct; r += 3)
      count_cells<3, 3>(job.rows + r, job.block, words, class_begin(job, k), class_end(job, k), counted[k] + 3 * r);
  }
  // Every cell of the set, 9 q + 3 b + c: cases in x, controls in y.
  for (int q = 0; q < q_ct; ++q)
    for (int k = 0; k < kClasses; ++k) {
      if (ej.complete[k]) continue;
      __m512i* cell = (k == 0 ? x : y) + 9 * q;
      for (int c = 0; c < 3; ++c) {
        cell[c] = counted[k][3 * q + c];
        cell[3 + c] = counted[k][3 * (q + q_ct) + c];
        cell[6 + c] = _mm512_sub_epi64(_mm512_sub_epi64(_mm512_load_si512(margin[k][q][c]), cell[c]), cell[3 + c]);
      }
    }
  finish_avx512(job, q_ct, x, y, out, ej.empty_lanes);
}

// A block complete in both classes: every cell in lanes of V (__m256 of floats or
// __m512d of doubles; counts and their differences are exact integers in both), the
// bound on them (no individual lies outside the cells), and for the lanes that may pass
// the major-cell tables, lane by lane: few lanes pass (at n = 2,000 one block of
// quadruples in seven reaches the thresholds, mostly for one or two lanes), and reading
// the thresholds for those alone costs a fraction of the eight-lane tally.
template <class V>
VELK_AVX512 void exhaustive_avx512_complete(const exhaustive_job& ej, block_result& out) {
  const block_job& job = ej.block;
  const int q_ct = ej.prefix_rows;
  const int cells = 9 * q_ct;
  V x[9 * kMaxPrefixRows], y[9 * kMaxPrefixRows];
  for (int k = 0; k < kClasses; ++k)
    complete_class_avx512(ej, k, margins_of(ej, k, x), k == 0 ? x : y);
  const __m512d cutoff = lane_cutoffs(job);
  // Lanes beyond the study's SNPs hold meaningless cells (exhaustive_job::empty_lanes).
  const unsigned may =
      (q_ct == 3 ? may_pass_complete<27>(job, x, y, cutoff) : may_pass_complete<81>(job, x, y, cutoff)) &
      ~ej.empty_lanes;
  out.survivors = 0;
  if (may == 0) return;
  alignas(64) int64_t xi[9 * kMaxPrefixRows][kLanes], yi[9 * kMaxPrefixRows][kLanes];
  for (int i = 0; i < cells; ++i) {
    store_counts(x[i], xi[i]);
    store_counts(y[i], yi[i]);
  }
  int64_t tab[6][kLanes] = {};
  int64_t case_major_ct[kLanes] = {};
  for (int l = 0; l < kLanes; ++l) {
    if (!(may >> l & 1u)) continue;
    // Without branches: which row a cell joins follows no pattern a predictor learns.
    int64_t case_major = 0, ctrl_major = 0, major_ct = 0;  // cases low, controls high, as tally
    for (int i = 0; i < cells; ++i) {
      const int64_t a = xi[i][l], b = yi[i][l];
      const uint64_t both = job.packed_min[a + b];
      const int64_t is_case = a >= static_cast<int64_t>(both & 0xFFFFFFFFu);
      const int64_t is_ctrl = (1 - is_case) & (b >= static_cast<int64_t>(both >> 32));
      const int64_t ab = a + (b << 32);
      case_major += ab & -is_case;
      ctrl_major += ab & -is_ctrl;
      major_ct += is_case;
    }
    tab[0][l] = case_major & 0xFFFFFFFF;
    tab[1][l] = case_major >> 32;
    tab[4][l] = ctrl_major & 0xFFFFFFFF;
    tab[5][l] = ctrl_major >> 32;
    case_major_ct[l] = major_ct;
  }
  finish_lanes(job, tab, case_major_ct, out);
  out.survivors &= may;
}

VELK_AVX512 void exhaustive_avx512(const exhaustive_job& ej, block_result& out) {
  // Separate functions, so that blocks of incomplete studies run the code they ran
  // before. A block complete in both classes runs in single-precision lanes where
  // may_pass_complete's error bound holds (fewer than 2^20 individuals, cutoffs of 1 or
  // more), else in double lanes, whose bound needs D = a (N + M) - (a + b) N exact: both
  // products stay below 2^53 for studies of fewer than 2^26 individuals.
  const int64_t individuals = int64_t{ej.block.case_ct} + ej.block.ctrl_ct;
  if (ej.complete[0] && ej.complete[1] && individuals < (int64_t{1} << 20) && ej.block.level >= 1.0)
    exhaustive_avx512_complete<__m256>(ej, out);
  else if (ej.complete[0] && ej.complete[1] && individuals < (int64_t{1} << 26))
    exhaustive_avx512_complete<__m512d>(ej, out);
  else if (ej.complete[0] || ej.complete[1])
    exhaustive_avx512_derived(ej, out);
  else
    exhaustive_avx512_counted(ej, out);
}

VELK_AVX512 void count_avx512(const uint64_t* const* rows, int row_ct, const uint64_t* block, int case_word_ct,
                              int ctrl_word_ct, int32_t* out) {
  const int words = case_word_ct + ctrl_word_ct;
  for (int k = 0; k < kClasses; ++k) {
    const int lo = k == 0 ? 0 : case_word_ct, hi = k == 0 ? case_word_ct : words;
    for (int r = 0; r < row_ct; r += 3) {
      __m512i cell[9];
      count_cells<3, 3>(rows + r, block, words, lo, hi, cell);
      for (int i = 0; i < 3; ++i)
        for (int c = 0; c < 3; ++c)
          _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + ((k * row_ct + r + i) * 3 + c) * kLanes),
                              _mm512_cvtepi64_epi32(cell[3 * i + c]));
    }
  }
}

}  // namespace

exhaustive_kernel exhaustive_kernel_for(kernel_level level) {
  switch (level) {
    case kernel_level::avx512:
      return {exhaustive_avx512, count_avx512};
    case kernel_level::avx2:
      return {exhaustive_avx2, count_avx2};
    case kernel_level::popcnt:
      return {exhaustive_popcnt, count_popcnt};
    case kernel_level::table:
      break;
  }
  return {exhaustive_table, count_table};
}

}  // namespace velk
