// What the counting kernels share (search/block_kernel.cpp, search/exhaustive_kernel.cpp):
// the popcount flavours, the kLanes counts of a cell, and the classification of cells
// into each lane's major-cell table with the screen that ends a block, in a plain form
// and an AVX-512 form. Included by kernel sources only.
#pragma once

// g++ 12 warns about the deliberately undefined vectors inside its own AVX-512
// intrinsics headers; nothing of ours is uninitialized.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstdint>

#include "data/genotype_store.h"
#include "search/kernels/block_kernel.h"

namespace velk::lanes {

// ---- Plain kernels, compiled once per popcount flavour --------------------------------

// Set bits of every 16-bit value, for CPUs without a population count instruction:
// four lookups a word. Built by the compiler; nothing is filled at run time.
inline constexpr auto kBitsOf16 = [] {
  std::array<uint8_t, 65536> t{};
  for (int v = 1; v < 65536; ++v) t[v] = static_cast<uint8_t>(t[v >> 1] + (v & 1));
  return t;
}();

inline __attribute__((always_inline)) int pop_table(uint64_t x) {
  return kBitsOf16[x & 0xFFFF] + kBitsOf16[(x >> 16) & 0xFFFF] + kBitsOf16[(x >> 32) & 0xFFFF] + kBitsOf16[x >> 48];
}
inline __attribute__((always_inline)) int pop_builtin(uint64_t x) { return __builtin_popcountll(x); }

// The kLanes counts of one cell, with the subtraction that derive_cells takes.
struct lane_counts {
  int64_t v[kLanes];
};

inline __attribute__((always_inline)) lane_counts operator-(const lane_counts& a, const lane_counts& b) {
  lane_counts d;
  for (int l = 0; l < kLanes; ++l) d.v[l] = a.v[l] - b.v[l];
  return d;
}


// Words lo ... hi - 1 of class k: the case words, then the control words.
inline int class_begin(const block_job& job, int k) { return k == 0 ? 0 : job.case_word_ct; }
inline int class_end(const block_job& job, int k) { return k == 0 ? job.case_word_ct : job.case_word_ct + job.ctrl_word_ct; }

// Each lane's nine cells x (cases) and y (controls) into its major-cell table:
// tab[0], tab[1] the case-major cells, tab[4], tab[5] the control-major ones.
inline __attribute__((always_inline)) void classify_lanes(const block_job& job, const lane_counts* x,
                                                          const lane_counts* y, int64_t (*tab)[kLanes],
                                                          int64_t* case_major_ct) {
  for (int k = 0; k < 9; ++k) {
    for (int l = 0; l < kLanes; ++l) {
      const int64_t m = x[k].v[l] + y[k].v[l];
      if (x[k].v[l] >= job.case_min[m]) {
        tab[0][l] += x[k].v[l];
        tab[1][l] += y[k].v[l];
        ++case_major_ct[l];
      } else if (y[k].v[l] >= job.ctrl_min[m]) {
        tab[4][l] += x[k].v[l];
        tab[5][l] += y[k].v[l];
      }
    }
  }
}

inline __attribute__((always_inline)) void finish_lanes(const block_job& job, int64_t (*tab)[kLanes],
                                                        const int64_t* case_major_ct, block_result& out) {
  unsigned survivors = 0;
  for (int l = 0; l < kLanes; ++l) {
    tab[2][l] = job.case_ct - tab[0][l] - tab[4][l];
    tab[3][l] = job.ctrl_ct - tab[1][l] - tab[5][l];
    double approx = 0.0;
    for (int row = 0; row < 3; ++row) {
      const int64_t a = tab[2 * row][l];
      const int64_t b = tab[2 * row + 1][l];
      const double d = static_cast<double>(a * job.ctrl_ct - b * job.case_ct);
      approx = approx + (d * d) * job.inv_size[a + b];
    }
    approx = approx * job.inv_case_ctrl;
    const double cutoff = screen_cutoff(std::max(job.level, job.snp_floor[l]));
    if (!(approx < cutoff) && !(job.excluded >> l & 1u)) survivors |= 1u << l;
    for (int c = 0; c < 6; ++c) out.table[c][l] = tab[c][l];
    out.case_major_ct[l] = case_major_ct[l];
  }
  out.survivors = survivors;
}

// Whether no lane of a block's `Cells` cells (a SNP's three rows, or all of a set's
// cells) can pass its cutoff, from an upper bound of each lane's statistic that needs
// no thresholds (see below_everywhere, the AVX-512 twin, for why it bounds the
// statistic and why it is raised by 2^-12).
template <int Cells>
inline __attribute__((always_inline)) bool below_everywhere_lanes(const block_job& job, const lane_counts* x,
                                                                  const lane_counts* y) {
  unsigned may_pass = 0;
  for (int l = 0; l < kLanes; ++l) {
    int64_t in_cells_x = 0, in_cells_y = 0;
    double bound = 0.0;
    for (int k = 0; k <= Cells; ++k) {
      int64_t a, b;
      if (k < Cells) {
        a = x[k].v[l], b = y[k].v[l];
        in_cells_x += a;
        in_cells_y += b;
      } else {
        a = job.case_ct - in_cells_x, b = job.ctrl_ct - in_cells_y;
      }
      const double d = static_cast<double>(a * job.ctrl_ct - b * job.case_ct);
      bound = bound + (d * d) * job.inv_size[a + b];
    }
    bound = bound * (job.inv_case_ctrl * (1.0 + 0x1p-12));
    if (!(bound < screen_cutoff(std::max(job.level, job.snp_floor[l])))) may_pass |= 1u << l;
  }
  return (may_pass & ~job.excluded & 0xFFu) == 0;
}

// ---- AVX2: the same lanes in two 256-bit halves ---------------------------------------
//
// Without a vector population count, bytes are counted through a 16-entry nibble table
// (vpshufb) into byte accumulators, which are summed into the 64-bit lanes (vpsadbw)
// before they could overflow: a byte gains at most 8 per word, so every 31 words.

#define VELK_AVX2 __attribute__((target("avx2,popcnt")))

VELK_AVX2 inline __attribute__((always_inline)) __m256i nibble_count(__m256i v, __m256i table, __m256i low) {
  const __m256i lo = _mm256_shuffle_epi8(table, _mm256_and_si256(v, low));
  const __m256i hi = _mm256_shuffle_epi8(table, _mm256_and_si256(_mm256_srli_epi16(v, 4), low));
  return _mm256_add_epi8(lo, hi);
}

// Counts one row against the first `Genotypes` genotypes of the block over words lo ...
// hi - 1, into out[g].
template <int Genotypes>
VELK_AVX2 inline __attribute__((always_inline)) void count_row_avx2(const uint64_t* row, const uint64_t* block,
                                                                    int words, int lo, int hi, lane_counts* out) {
  const __m256i table = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4, 0, 1, 1, 2, 1, 2, 2, 3, 1, 2,
                                         2, 3, 2, 3, 3, 4);
  const __m256i low = _mm256_set1_epi8(0x0F);
  const __m256i zero = _mm256_setzero_si256();
  __m256i total[Genotypes][2];
  for (auto& g : total) g[0] = g[1] = zero;
  for (int w0 = lo; w0 < hi; w0 += 31) {
    const int w1 = std::min(hi, w0 + 31);
    __m256i bytes[Genotypes][2];
    for (auto& g : bytes) g[0] = g[1] = zero;
    for (int w = w0; w < w1; ++w) {
      const __m256i a = _mm256_set1_epi64x(static_cast<long long>(row[w]));
      for (int g = 0; g < Genotypes; ++g) {
        const uint64_t* b = block + (static_cast<size_t>(g) * words + w) * kLanes;
        for (int half = 0; half < 2; ++half) {
          const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + 4 * half));
          bytes[g][half] = _mm256_add_epi8(bytes[g][half], nibble_count(_mm256_and_si256(a, v), table, low));
        }
      }
    }
    for (int g = 0; g < Genotypes; ++g)
      for (int half = 0; half < 2; ++half)
        total[g][half] = _mm256_add_epi64(total[g][half], _mm256_sad_epu8(bytes[g][half], zero));
  }
  for (int g = 0; g < Genotypes; ++g)
    for (int half = 0; half < 2; ++half)
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out[g].v + 4 * half), total[g][half]);
}

// ---- AVX-512: one lane per candidate SNP ---------------------------------------------

#define VELK_AVX512 __attribute__((target("avx512f,avx512dq,avx512vl,avx512bw,avx512vpopcntdq,popcnt")))

// The first `Rows` rows against the first `Genotypes` genotypes over words lo ... hi - 1,
// into cell[3 * r + g].
template <int Genotypes, int Rows>
VELK_AVX512 inline __attribute__((always_inline)) void count_cells(const uint64_t* const* rows,
                                                                    const uint64_t* block, int words, int lo,
                                                                    int hi, __m512i* cell) {
  // Unrolled in full, so that every accumulator, block word and row lives in a register.
  const uint64_t* row[Rows];
  const uint64_t* col[Genotypes];
  __m512i acc[Rows][Genotypes];
#pragma GCC unroll 8
  for (int r = 0; r < Rows; ++r) row[r] = rows[r];
#pragma GCC unroll 8
  for (int g = 0; g < Genotypes; ++g) col[g] = block + static_cast<size_t>(g) * words * kLanes;
#pragma GCC unroll 8
  for (int r = 0; r < Rows; ++r)
#pragma GCC unroll 8
    for (int g = 0; g < Genotypes; ++g) acc[r][g] = _mm512_setzero_si512();
  // Two words a turn: the loop's own instructions weigh on a loop of 4 to 9 cells.
#pragma GCC unroll 2
  for (int w = lo; w < hi; ++w) {
    __m512i b[Genotypes];
    // Unaligned loads: a store's blocks are 64-byte aligned, and these cost nothing more
    // there; other callers' blocks need not be.
#pragma GCC unroll 8
    for (int g = 0; g < Genotypes; ++g) b[g] = _mm512_loadu_si512(col[g] + w * kLanes);
#pragma GCC unroll 8
    for (int r = 0; r < Rows; ++r) {
      const __m512i a = _mm512_set1_epi64(static_cast<long long>(row[r][w]));
#pragma GCC unroll 8
      for (int g = 0; g < Genotypes; ++g)
        acc[r][g] = _mm512_add_epi64(acc[r][g], _mm512_popcnt_epi64(_mm512_and_si512(a, b[g])));
    }
  }
#pragma GCC unroll 8
  for (int r = 0; r < Rows; ++r)
#pragma GCC unroll 8
    for (int g = 0; g < Genotypes; ++g) cell[3 * r + g] = acc[r][g];
}

// T[index] lane by lane, from a table of 64-bit entries. The indices are moved to
// scalar registers and the entries loaded one by one: on the development machine (AMD
// EPYC, 2 cores, December 2026) this took a quarter of the time of the gather
// instruction, which had cost about a third of a block at n = 500 (vpgatherqq is slow on AMD cores, and on Intel
// cores under the microcode that mitigates Gather Data Sampling).
VELK_AVX512 inline __attribute__((always_inline)) __m128i lookup_pair(const uint64_t* table, __m128i index) {
  const __m128i low = _mm_cvtsi64_si128(static_cast<long long>(table[_mm_cvtsi128_si64(index)]));
  return _mm_insert_epi64(low, static_cast<long long>(table[_mm_extract_epi64(index, 1)]), 1);
}

VELK_AVX512 inline __attribute__((always_inline)) __m512i lookup(const uint64_t* table, __m512i index) {
  const __m256i low = _mm512_castsi512_si256(index), high = _mm512_extracti64x4_epi64(index, 1);
  const __m128i a = lookup_pair(table, _mm256_castsi256_si128(low));
  const __m128i b = lookup_pair(table, _mm256_extracti128_si256(low, 1));
  const __m128i c = lookup_pair(table, _mm256_castsi256_si128(high));
  const __m128i d = lookup_pair(table, _mm256_extracti128_si256(high, 1));
  const __m256i ab = _mm256_inserti128_si256(_mm256_castsi128_si256(a), b, 1);
  const __m256i cd = _mm256_inserti128_si256(_mm256_castsi128_si256(c), d, 1);
  return _mm512_inserti64x4(_mm512_castsi256_si512(ab), cd, 1);
}

// Whether no lane of a block's `Cells` cells (a SNP's three rows, or every cell of a
// set) can pass `cutoff`, judged before the thresholds, from an upper bound of each
// lane's statistic: the sum of D^2 / r over its cells and its individuals in no cell
// (missing at a SNP of the set). The major-cell table merges these groups into three
// rows, and merging rows never raises the statistic (Cauchy-Schwarz: (sum D_i)^2 /
// sum r_i <= sum D_i^2 / r_i). The reciprocals are approximate (relative error below
// 2^-14); the bound is raised by 2^-12 to cover them and the rounding of the screen
// itself, so a lane below its cutoff here is below it in the screen. Most blocks of a
// pair search end here once the bound has climbed, without their 72 threshold
// lookups; so do most blocks of an exhaustive search, whose running bound climbs high
// (the major-cell statistic of the best of many sets) although its many cells make the
// bound looser.
template <int Cells>
VELK_AVX512 inline __attribute__((always_inline)) bool below_everywhere(const block_job& job, const __m512i* x,
                                                                         const __m512i* y, __m512d cutoff) {
  const __m512i one = _mm512_set1_epi64(1);
  const __m512i cases = _mm512_set1_epi64(job.case_ct);
  const __m512i ctrls = _mm512_set1_epi64(job.ctrl_ct);
  __m512i in_cells_x = _mm512_setzero_si512(), in_cells_y = in_cells_x;
  __m512d bound = _mm512_setzero_pd();
  for (int k = 0; k <= Cells; ++k) {
    __m512i a, b;
    if (k < Cells) {
      a = x[k], b = y[k];
      in_cells_x = _mm512_add_epi64(in_cells_x, a);
      in_cells_y = _mm512_add_epi64(in_cells_y, b);
    } else {
      a = _mm512_sub_epi64(cases, in_cells_x), b = _mm512_sub_epi64(ctrls, in_cells_y);
    }
    const __m512i d = _mm512_sub_epi64(_mm512_mul_epi32(a, ctrls), _mm512_mul_epi32(b, cases));
    const __m512d dd = _mm512_cvtepi64_pd(d);
    // An empty group has D = 0; its size counts as 1, so that it adds 0.
    const __m512d r = _mm512_cvtepi64_pd(_mm512_max_epi64(_mm512_add_epi64(a, b), one));
    bound = _mm512_add_pd(bound, _mm512_mul_pd(_mm512_mul_pd(dd, dd), _mm512_rcp14_pd(r)));
  }
  bound = _mm512_mul_pd(bound, _mm512_set1_pd(job.inv_case_ctrl * (1.0 + 0x1p-12)));
  return (_mm512_cmp_pd_mask(bound, cutoff, _CMP_NLT_UQ) & ~job.excluded & 0xFFu) == 0;
}

// below_everywhere for a block whose sets miss no genotype in either class, its cells
// in double lanes (exact integers): every individual lies in a cell, so there is no
// group of individuals in none. With r = a + b, D = a M - b N = a (M + N) - r N; both
// products are exact integers below 2^53 while the study has fewer than 2^26
// individuals (the caller's condition), so the fused multiply-subtract gives D
// exactly, as the integer form does. Seven operations a cell instead of thirteen. It
// screens only; the fused add rounds once where the integer form rounds twice, and the
// raise by 2^-12 covers it.
VELK_AVX512 inline __attribute__((always_inline)) __m512d add_complete_cell(__m512d a, __m512d b, __m512d total,
                                                                           __m512d cases, __m512d one, __m512d sum) {
  const __m512d r = _mm512_add_pd(a, b);
  const __m512d d = _mm512_fmsub_pd(a, total, _mm512_mul_pd(r, cases));
  // An empty cell has D = 0; its size counts as 1, so that it adds 0.
  return _mm512_fmadd_pd(_mm512_mul_pd(d, d), _mm512_rcp14_pd(_mm512_max_pd(r, one)), sum);
}

// The lanes that may pass (none: the block ends).
template <int Cells>
VELK_AVX512 inline __attribute__((always_inline)) unsigned may_pass_complete(const block_job& job, const __m512d* x,
                                                                              const __m512d* y, __m512d cutoff) {
  const __m512d total = _mm512_set1_pd(static_cast<double>(job.case_ct) + static_cast<double>(job.ctrl_ct));
  const __m512d cases = _mm512_set1_pd(static_cast<double>(job.case_ct));
  const __m512d one = _mm512_set1_pd(1.0);
  // Two sums, each cell's addition waiting on the one two cells before.
  __m512d even = _mm512_setzero_pd(), odd = _mm512_setzero_pd();
  for (int k = 0; k + 1 < Cells; k += 2) {
    even = add_complete_cell(x[k], y[k], total, cases, one, even);
    odd = add_complete_cell(x[k + 1], y[k + 1], total, cases, one, odd);
  }
  if (Cells % 2 != 0) even = add_complete_cell(x[Cells - 1], y[Cells - 1], total, cases, one, even);
  const __m512d bound = _mm512_mul_pd(_mm512_add_pd(even, odd), _mm512_set1_pd(job.inv_case_ctrl * (1.0 + 0x1p-12)));
  return _mm512_cmp_pd_mask(bound, cutoff, _CMP_NLT_UQ) & ~job.excluded & 0xFFu;
}

// The same bound in single precision, for studies of fewer than 2^20 individuals and
// cutoffs of 1 or more (the caller's conditions), two cells to a 512-bit register: half
// the operations of the double form (measured: the quadruples of n = 2,000 a fifth
// faster). The counts and r are exact; r N is rounded, which leaves D off by at most
// 2^-24 (r N + |D|). Summed over the cells, by Cauchy-Schwarz, that lowers the bound by
// at most a share 2^-23 sqrt(n / S) of a statistic S, 2^-13 at n = 2^20 and S = 1; with
// the reciprocals (2^-14) and the roundings of the squares, products and sum (under
// 2^-17 for 81 cells), the shortfall stays below 2^-12, and the bound is raised by
// 2^-10.
VELK_AVX512 inline __attribute__((always_inline)) __m256 add_complete_cell(__m256 a, __m256 b, __m256 total,
                                                                          __m256 cases, __m256 one, __m256 sum) {
  const __m256 r = _mm256_add_ps(a, b);
  // The masked forms need AVX-512 alone; the plain ones would also need the FMA flag.
  const __m256 d = _mm256_mask3_fmsub_ps(a, total, _mm256_mul_ps(r, cases), 0xFF);
  return _mm256_mask3_fmadd_ps(_mm256_mul_ps(d, d), _mm256_rcp14_ps(_mm256_max_ps(r, one)), sum, 0xFF);
}

template <int Cells>
VELK_AVX512 inline __attribute__((always_inline)) unsigned may_pass_complete(const block_job& job, const __m256* x,
                                                                              const __m256* y, __m512d cutoff) {
  const __m256 total = _mm256_set1_ps(static_cast<float>(job.case_ct + job.ctrl_ct));
  const __m256 cases = _mm256_set1_ps(static_cast<float>(job.case_ct));
  const __m256 one = _mm256_set1_ps(1.0f);
  const __m512 total16 = _mm512_set1_ps(static_cast<float>(job.case_ct + job.ctrl_ct));
  const __m512 cases16 = _mm512_set1_ps(static_cast<float>(job.case_ct));
  const __m512 one16 = _mm512_set1_ps(1.0f);
  // Cells k and k + 1 side by side; four sums, each addition waiting on the one four
  // pairs before.
  __m512 s[4];
  for (auto& v : s) v = _mm512_setzero_ps();
#pragma GCC unroll 81
  for (int k = 0; k + 1 < Cells; k += 2) {
    const __m512 a = _mm512_insertf32x8(_mm512_castps256_ps512(x[k]), x[k + 1], 1);
    const __m512 b = _mm512_insertf32x8(_mm512_castps256_ps512(y[k]), y[k + 1], 1);
    const __m512 r = _mm512_add_ps(a, b);
    const __m512 d = _mm512_fmsub_ps(a, total16, _mm512_mul_ps(r, cases16));
    s[(k / 2) % 4] = _mm512_fmadd_ps(_mm512_mul_ps(d, d), _mm512_rcp14_ps(_mm512_max_ps(r, one16)), s[(k / 2) % 4]);
  }
  __m256 rest = _mm256_setzero_ps();
  if (Cells % 2 != 0) rest = add_complete_cell(x[Cells - 1], y[Cells - 1], total, cases, one, rest);
  const __m512 s16 = _mm512_add_ps(_mm512_add_ps(s[0], s[1]), _mm512_add_ps(s[2], s[3]));
  const __m256 sum8 = _mm256_add_ps(_mm256_add_ps(_mm512_castps512_ps256(s16), _mm512_extractf32x8_ps(s16, 1)), rest);
  const __m512d bound = _mm512_mul_pd(_mm512_cvtps_pd(sum8), _mm512_set1_pd(job.inv_case_ctrl * (1.0 + 0x1p-10)));
  return _mm512_cmp_pd_mask(bound, cutoff, _CMP_NLT_UQ) & ~job.excluded & 0xFFu;
}

// The major-cell table of every lane, built up cell by cell: cases in the low and
// controls in the high half of each lane, so that one 64-bit add serves both columns
// of a table row (the counts and their sums stay below 2^31).
struct tally {
  __m512i case_major;  // table cells 0 and 1
  __m512i ctrl_major;  // table cells 4 and 5
  __m512i case_major_ct;
};

VELK_AVX512 inline __attribute__((always_inline)) void clear(tally& t) {
  t.case_major = t.ctrl_major = t.case_major_ct = _mm512_setzero_si512();
}

// Adds `n` cells, x the cases and y the controls of each lane.
VELK_AVX512 inline __attribute__((always_inline)) void tally_cells(const block_job& job, const __m512i* x,
                                                                    const __m512i* y, int n, tally& t) {
  const __m512i one = _mm512_set1_epi64(1);
  const __m512i sign_low = _mm512_set1_epi64(0x80000000LL);
  const __m512i sign_high = _mm512_set1_epi64(static_cast<long long>(0x8000000000000000ULL));
  for (int k = 0; k < n; ++k) {
    const __m512i m = _mm512_add_epi64(x[k], y[k]);
    // case_min in the low half, ctrl_min in the high half: one lookup for both thresholds, and
    // one 32-bit subtraction whose sign bits say x < case_min[m] and y < ctrl_min[m].
    const __m512i both = lookup(job.packed_min, m);
    const __m512i xy = _mm512_add_epi64(x[k], _mm512_slli_epi64(y[k], 32));
    const __m512i diff = _mm512_sub_epi32(xy, both);
    const __mmask8 below_t1 = _mm512_test_epi64_mask(diff, sign_low);
    const __mmask8 case_major = static_cast<__mmask8>(~below_t1);
    const __mmask8 ctrl_major = below_t1 & _mm512_testn_epi64_mask(diff, sign_high);
    t.case_major = _mm512_mask_add_epi64(t.case_major, case_major, t.case_major, xy);
    t.ctrl_major = _mm512_mask_add_epi64(t.ctrl_major, ctrl_major, t.ctrl_major, xy);
    t.case_major_ct = _mm512_mask_add_epi64(t.case_major_ct, case_major, t.case_major_ct, one);
  }
}

// screen_cutoff(max(level, snp_floor)), lane by lane.
VELK_AVX512 inline __attribute__((always_inline)) __m512d lane_cutoffs(const block_job& job) {
  const __m512d level = _mm512_max_pd(_mm512_set1_pd(job.level), _mm512_loadu_pd(job.snp_floor));
  return _mm512_sub_pd(_mm512_mul_pd(level, _mm512_set1_pd(1.0 - 1e-9)), _mm512_set1_pd(1e-9));
}

// Completes each lane's table, screens its statistic against `cutoff` and writes the
// result.
VELK_AVX512 inline __attribute__((always_inline)) void finish_tally(const block_job& job, const tally& t,
                                                                     __m512d cutoff, block_result& out) {
  const __m512i low32 = _mm512_set1_epi64(0xFFFFFFFFLL);
  const __m512i t0 = _mm512_and_si512(t.case_major, low32), t1 = _mm512_srli_epi64(t.case_major, 32);
  const __m512i t4 = _mm512_and_si512(t.ctrl_major, low32), t5 = _mm512_srli_epi64(t.ctrl_major, 32);
  const __m512i cases = _mm512_set1_epi64(job.case_ct);
  const __m512i ctrls = _mm512_set1_epi64(job.ctrl_ct);
  const __m512i t2 = _mm512_sub_epi64(_mm512_sub_epi64(cases, t0), t4);
  const __m512i t3 = _mm512_sub_epi64(_mm512_sub_epi64(ctrls, t1), t5);
  const __m512i rows[6] = {t0, t1, t2, t3, t4, t5};
  __m512d approx = _mm512_setzero_pd();
  for (int row = 0; row < 3; ++row) {
    const __m512i a = rows[2 * row], b = rows[2 * row + 1];
    // Counts and class sizes are below 2^31: 32 x 32 -> 64-bit products are exact.
    const __m512i d = _mm512_sub_epi64(_mm512_mul_epi32(a, ctrls), _mm512_mul_epi32(b, cases));
    const __m512d dd = _mm512_cvtepi64_pd(d);
    // 1.0 / r divided here is the table's inv_size[r], bit for bit, at a fraction of the
    // cost of a lookup; a row of size 0 takes the table's 0.
    const __m512i r = _mm512_add_epi64(a, b);
    const __m512d inv = _mm512_maskz_div_pd(_mm512_test_epi64_mask(r, r), _mm512_set1_pd(1.0), _mm512_cvtepi64_pd(r));
    approx = _mm512_add_pd(approx, _mm512_mul_pd(_mm512_mul_pd(dd, dd), inv));
  }
  approx = _mm512_mul_pd(approx, _mm512_set1_pd(job.inv_case_ctrl));
  out.survivors = _mm512_cmp_pd_mask(approx, cutoff, _CMP_NLT_UQ) & ~job.excluded & 0xFFu;
  // Survivors are rare: store the lanes as they are and let the caller narrow them.
  for (int cell = 0; cell < 6; ++cell) _mm512_storeu_si512(out.table[cell], rows[cell]);
  _mm512_storeu_si512(out.case_major_ct, t.case_major_ct);
}

}  // namespace velk::lanes
