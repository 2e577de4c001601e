#include "search/kernels/block_kernel.h"

#include <algorithm>

#include "data/genotype_store.h"
#include "search/kernels/lane_kernels.h"

namespace velk {

namespace {

using namespace lanes;

// ---- The plain kernel, compiled once per popcount flavour ----------------------------

// Derives the cells of class k of the row group at row c that were not counted.
inline __attribute__((always_inline)) void derive_lanes(const block_job& job, int c, int k, lane_counts* cell) {
  const bool lanes = job.lanes_complete[k], rows = job.rows_complete[k];
  if (!lanes && !rows) return;
  lane_counts row_total[3] = {}, genotype_total[3] = {};
  for (int l = 0; l < kLanes; ++l) {
    for (int r = 0; r < 3 && lanes; ++r) row_total[r].v[l] = job.row_total[(c + r) * kClasses + k];
    for (int g = 0; g < 3 && rows; ++g) genotype_total[g].v[l] = job.genotype_total[(g * kClasses + k) * kLanes + l];
  }
  derive_cells(cell, row_total, genotype_total, lanes, rows);
}

// Bound: whether a pair's block may end before its thresholds (not in the table
// kernel, which stays the plain reference of the others).
template <int (*Pop)(uint64_t), bool Bound>
inline __attribute__((always_inline)) void plain_block(const block_job& job, block_result& out) {
  const int words = job.case_word_ct + job.ctrl_word_ct;
  int64_t tab[6][kLanes] = {};
  int64_t case_major_ct[kLanes] = {};
  for (int c = 0; c < job.row_ct; c += 3) {
    lane_counts cell[kClasses][9] = {};
    for (int k = 0; k < kClasses; ++k) {
      for (int r = 0; r < counted_rows(job.rows_complete[k]); ++r) {
        const uint64_t* row = job.rows[c + r];
        for (int g = 0; g < counted_genotypes(job.lanes_complete[k]); ++g) {
          const uint64_t* col = job.block + static_cast<size_t>(g) * words * kLanes;
          int64_t* counts = cell[k][3 * r + g].v;
          for (int w = class_begin(job, k); w < class_end(job, k); ++w)
            for (int l = 0; l < kLanes; ++l) counts[l] += Pop(row[w] & col[w * kLanes + l]);
        }
      }
      derive_lanes(job, c, k, cell[k]);
    }
    if (Bound && job.row_ct == 3 && below_everywhere_lanes<9>(job, cell[0], cell[1])) {
      out.survivors = 0;
      return;
    }
    classify_lanes(job, cell[0], cell[1], tab, case_major_ct);
  }
  finish_lanes(job, tab, case_major_ct, out);
}

void block_table(const block_job& job, block_result& out) { plain_block<pop_table, false>(job, out); }

__attribute__((target("popcnt"))) void block_popcnt(const block_job& job, block_result& out) {
  plain_block<pop_builtin, true>(job, out);
}

// ---- AVX2: the same lanes in two 256-bit halves (count_row_avx2) ---------------------

VELK_AVX2 void block_avx2(const block_job& job, block_result& out) {
  const int words = job.case_word_ct + job.ctrl_word_ct;
  int64_t tab[6][kLanes] = {};
  int64_t case_major_ct[kLanes] = {};
  for (int c = 0; c < job.row_ct; c += 3) {
    lane_counts cell[kClasses][9];
    for (int k = 0; k < kClasses; ++k) {
      const int lo = class_begin(job, k), hi = class_end(job, k);
      for (int r = 0; r < counted_rows(job.rows_complete[k]); ++r) {
        if (job.lanes_complete[k])
          count_row_avx2<2>(job.rows[c + r], job.block, words, lo, hi, cell[k] + 3 * r);
        else
          count_row_avx2<3>(job.rows[c + r], job.block, words, lo, hi, cell[k] + 3 * r);
      }
      derive_lanes(job, c, k, cell[k]);
    }
    if (job.row_ct == 3 && below_everywhere_lanes<9>(job, cell[0], cell[1])) {
      out.survivors = 0;
      return;
    }
    classify_lanes(job, cell[0], cell[1], tab, case_major_ct);
  }
  finish_lanes(job, tab, case_major_ct, out);
}

// ---- AVX-512: one lane per candidate SNP ---------------------------------------------
//
// A row word is broadcast to all eight lanes and ANDed with the eight SNPs' words of a
// genotype: 9 cells (fewer with complete SNPs) of 8 candidates per word with vpopcntq
// and no horizontal sums.

// The nine cells of class k (words lo ... hi - 1) of the row group at row c, the cells
// of complete SNPs derived, the others counted; the completeness as template arguments,
// so that the derivation stays in registers.
template <bool Lanes, bool Rows>
VELK_AVX512 inline __attribute__((always_inline)) void class_cells(const block_job& job, int c, int k, int lo,
                                                                    int hi, __m512i* cell) {
  count_cells<counted_genotypes(Lanes), counted_rows(Rows)>(job.rows + c, job.block, job.case_word_ct + job.ctrl_word_ct, lo, hi,
                                                             cell);
  if constexpr (Lanes || Rows) {
    __m512i row_total[3], genotype_total[3];
#pragma GCC unroll 3
    for (int r = 0; r < 3 && Lanes; ++r) row_total[r] = _mm512_set1_epi64(job.row_total[(c + r) * kClasses + k]);
#pragma GCC unroll 3
    for (int g = 0; g < 3 && Rows; ++g)
      genotype_total[g] = _mm512_cvtepi32_epi64(
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(job.genotype_total + (g * kClasses + k) * kLanes)));
    derive_cells(cell, row_total, genotype_total, Lanes, Rows);
  }
}

VELK_AVX512 inline __attribute__((always_inline)) void class_cells(const block_job& job, int c, int k, int lo,
                                                                    int hi, __m512i* cell) {
  switch (static_cast<int>(job.lanes_complete[k]) | static_cast<int>(job.rows_complete[k]) << 1) {
    case 0:
      return class_cells<false, false>(job, c, k, lo, hi, cell);
    case 1:
      return class_cells<true, false>(job, c, k, lo, hi, cell);
    case 2:
      return class_cells<false, true>(job, c, k, lo, hi, cell);
    default:
      return class_cells<true, true>(job, c, k, lo, hi, cell);
  }
}

VELK_AVX512 void block_avx512(const block_job& job, block_result& out) {
  const int words = job.case_word_ct + job.ctrl_word_ct;
  tally t;
  clear(t);
  const __m512d cutoff = lane_cutoffs(job);
  for (int c = 0; c < job.row_ct; c += 3) {
    __m512i x[9], y[9];
    class_cells(job, c, 0, 0, job.case_word_ct, x);
    class_cells(job, c, 1, job.case_word_ct, words, y);
    // A parent's many cells would give a bound far above its statistic: pairs only.
    if (job.row_ct == 3 && below_everywhere<9>(job, x, y, cutoff)) {
      out.survivors = 0;
      return;
    }
    tally_cells(job, x, y, 9, t);
  }
  finish_tally(job, t, cutoff, out);
}

}  // namespace

bool kernel_supported(kernel_level level) {
  switch (level) {
    case kernel_level::table:
      return true;
    case kernel_level::popcnt:
      return __builtin_cpu_supports("popcnt");
    case kernel_level::avx2:
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
    case kernel_level::avx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
             __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw") &&
             __builtin_cpu_supports("avx512vpopcntdq") && __builtin_cpu_supports("popcnt");
  }
  return false;
}

kernel_level best_kernel_level() {
  static const kernel_level best = kernel_supported(kernel_level::avx512)   ? kernel_level::avx512
                                   : kernel_supported(kernel_level::avx2)   ? kernel_level::avx2
                                   : kernel_supported(kernel_level::popcnt) ? kernel_level::popcnt
                                                                            : kernel_level::table;
  return best;
}

block_kernel kernel_for(kernel_level level) {
  switch (level) {
    case kernel_level::avx512:
      return block_avx512;
    case kernel_level::avx2:
      return block_avx2;
    case kernel_level::popcnt:
      return block_popcnt;
    case kernel_level::table:
      break;
  }
  return block_table;
}

const char* kernel_name(kernel_level level) {
  switch (level) {
    case kernel_level::avx512:
      return "avx512";
    case kernel_level::avx2:
      return "avx2";
    case kernel_level::popcnt:
      return "popcnt";
    case kernel_level::table:
      break;
  }
  return "table";
}

}  // namespace velk
