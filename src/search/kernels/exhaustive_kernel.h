// The kernel of the exhaustive searches: a parent's sets against one block of kLanes
// SNPs above it, with two cells of every three counted and the third derived (and in a
// class where no SNP of the sets misses a genotype, 8 cells of a triple's 27 and 16 of a
// quadruple's 81: exhaustive_job::complete).
//
// A set is the parent's prefix (its SNPs but the last), the parent's last SNP s and the
// lane's SNP t. Prefix row q (q < Q = 3^(order - 1)) holds the individuals with prefix
// genotypes q, and the parent's row q + Q b is prefix row q AND genotype b of s (the
// order of fill_combined_cells). The cells (q, b, c) = |row q + Q b AND genotype c of t|
// with b below 2 are counted; the others follow from a margin,
//   (q, 2, c) = |prefix row q AND genotype c of t| - (q, 0, c) - (q, 1, c)
//               - |prefix row q AND missing at s AND genotype c of t|
// The prefix's counts against the block are the same for every parent of the prefix,
// so the search counts them once while it walks those parents; the correction runs
// over the few individuals of the prefix rows that miss s, whose genotypes at the eight
// lanes are three bit tests. These are identities of exact integers: the tables are
// those of a full count. (Deriving the third genotype of t instead would need a
// correction for the individuals missing at each lane's SNP, one lookup each, which
// costs what it saves.) All the cells of a block then meet the bound before the
// thresholds, which ends most blocks once the running bound has climbed; the others
// are classified and screened as in the block kernels.
#pragma once

#include <cstdint>

#include "search/kernels/block_kernel.h"
#include "search/kernels/complete_cells.h"

namespace velk {

inline constexpr int kMaxPrefixRows = 9;  // a quadruple's prefix is a pair

// An individual missing at the parent's last SNP, in prefix row q and class k, at `bit`
// of word `word` (among a slot's words: case words, then control words).
struct missing_in_prefix {
  int32_t word;
  int16_t k;
  int16_t q;
  uint64_t bit;
};

struct exhaustive_job {
  // rows: the parent's rows 0 ... 2Q - 1, the counted ones (row_ct 2Q); the other fields
  // as for any block of a search (row sizes and completeness are not read).
  block_job block;
  int prefix_rows = 0;                        // Q: 3 for triples, 9 for quadruples
  const int32_t* prefix_counts = nullptr;     // this block's [((k * Q + q) * 3 + c) * kLanes + lane]
  const missing_in_prefix* middle = nullptr;  // the prefix rows' individuals missing at s
  int middle_ct = 0;
  // Classes in which every SNP of the sets (the prefix's, s and each lane's t) misses no
  // genotype. There only the cells where all of them have genotype 0 or 1 are counted
  // (8 of a triple's 27, 16 of a quadruple's 81), and the others follow from margins
  // that the search holds anyway, each an identity of exact integers as above:
  //   (q, b, 2) = |row q + Q b| - (q, b, 0) - (q, b, 1)                 t complete
  //   (q, 2, c) = |prefix row q AND t_c| - (q, 0, c) - (q, 1, c)          s complete
  // and, for b, c < 2, where a prefix SNP has genotype 2, the table of the other SNPs
  // less the rest:
  //   triple (a; s, t):       (2, b, c) = |s_b AND t_c| - (0, b, c) - (1, b, c)
  //   quadruple (a, a'; s, t): (g, 2, b, c) = |a_g AND s_b AND t_c| - (g, 0, b, c) - (g, 1, b, c)
  //                            (2, g, b, c) = |a'_g AND s_b AND t_c| - (0, g, b, c) - (1, g, b, c)
  // The first two rules then complete those prefix rows too.
  bool complete[kClasses] = {false, false};
  // Lanes beyond the study's last SNP, which count as complete: no genotype lies under
  // them, so a derivation leaves their cells meaningless, and the kernel clears them
  // before any of its tables is read at a count.
  unsigned empty_lanes = 0;
  const int32_t* row_sizes = nullptr;  // [r * kClasses + k]: |row r| in class k, r < 2Q
  // The same sizes and this block's prefix counts as floats (exact: counts below 2^24),
  // which the single-precision path loads as they are.
  const float* row_size_floats = nullptr;
  const float* prefix_floats = nullptr;
  // A triple's |s_b AND t_c| in [0]; a quadruple's |a_g AND s_b AND t_c| in [0] and
  // |a'_g AND s_b AND t_c| in [1]; each at complete_table_at.
  const float* tables[2] = {nullptr, nullptr};  // counts as floats, exact below 2^24
};

// Where a lower-order table of a complete class (exhaustive_job::tables) holds the lanes
// of |x_g AND s_b AND t_c| for b, c < 2 and g < `genotypes`: 1 for a triple's pair tables
// (no x), 3 for a quadruple's triple tables. The cells with b or c at 2 follow from the
// other margins, so a block's table holds these alone: complete_table_size values, 4
// cells of 9 or 12 of 27 in each class and lane.
constexpr int complete_table_at(int genotypes, int k, int g, int b, int c) {
  return (((k * 2 + b) * genotypes + g) * 2 + c) * kLanes;
}
constexpr int complete_table_size(int genotypes) { return kClasses * 2 * genotypes * 2 * kLanes; }

struct exhaustive_kernel {
  // The block's survivors and tables, as a block kernel gives them.
  void (*block)(const exhaustive_job& job, block_result& out);
  // Rows 0 ... row_ct - 1 (row_ct a multiple of 3) against the three genotypes of a block,
  // into out[((k * row_ct + r) * 3 + c) * kLanes + lane].
  void (*count)(const uint64_t* const* rows, int row_ct, const uint64_t* block, int case_word_ct, int ctrl_word_ct,
                int32_t* out);
};

exhaustive_kernel exhaustive_kernel_for(kernel_level level);

}  // namespace velk
