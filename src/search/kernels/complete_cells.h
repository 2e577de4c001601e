// Complete SNPs and the cells that follow from them, in one place for every kernel.
//
// A SNP is complete in a class when no individual of that class misses its genotype:
// its three genotype bitsets then split the class. In a job of the counting kernels (a
// set of disjoint row bitsets against a block of SNPs) the third genotype's cell of a
// row then follows from the row's size, and when the rows are themselves the three
// genotypes of a SNP complete in the class, the third row's cells follow from the
// block SNPs' genotype counts:
//   cell(r, 2) = |row r| - cell(r, 0) - cell(r, 1)           the block's SNP complete
//   cell(2, g) = |genotype g| - cell(0, g) - cell(1, g)       the row SNP complete
// with cell(2, 2) from the second rule when both hold. Both are identities of exact
// integers: the derived cells are the counted ones, the tables and the bytes the same.
// A pair of complete SNPs is counted in 4 cells of 9, a pair with one complete SNP in
// 6; a parent's cells against a complete SNP in 2 of every 3.
//
// Completeness belongs to a class split, not to the files: a permutation of the classes
// changes it, so it is found on the store a search reads, by every search and rank.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/memory_budget.h"
#include "data/genotype_store.h"

namespace velk {

// Class k of a job: 0 the cases (the first case_word_ct words), 1 the controls.
inline constexpr int kClasses = 2;

// Cells counted in a group of three rows: genotypes 0 ... counted_genotypes - 1 of the
// block's SNPs in rows 0 ... counted_rows - 1; derive_cells supplies the others.
constexpr int counted_genotypes(bool lanes_complete) { return lanes_complete ? 2 : 3; }
constexpr int counted_rows(bool rows_complete) { return rows_complete ? 2 : 3; }

// The other cells of a group, cell[3 * r + g] (Lanes: the kLanes counts of one cell,
// with a subtraction). row_total[r] holds |row r| in every lane (read when
// lanes_complete), genotype_total[g] each lane's |genotype g| (read when rows_complete).
template <class Lanes>
inline __attribute__((always_inline)) void derive_cells(Lanes* cell, const Lanes* row_total,
                                                        const Lanes* genotype_total, bool lanes_complete,
                                                        bool rows_complete) {
  if (lanes_complete) {
    cell[2] = row_total[0] - cell[0] - cell[1];
    cell[5] = row_total[1] - cell[3] - cell[4];
    if (!rows_complete) cell[8] = row_total[2] - cell[6] - cell[7];
  }
  if (rows_complete) {
    cell[6] = genotype_total[0] - cell[0] - cell[3];
    cell[7] = genotype_total[1] - cell[1] - cell[4];
    cell[8] = genotype_total[2] - cell[2] - cell[5];
  }
}

// What the searches know of one split's store: which blocks hold only complete SNPs,
// per class, and every SNP's genotype counts per class (for the row SNP's rule).
struct split_completeness {
  // Per store block: bit k when all kLanes lanes hold SNPs complete in class k. The
  // last block, when p is no multiple of kLanes, holds empty lanes and never qualifies.
  std::vector<uint8_t> complete_blocks;
  // Per block, [(g * kClasses + k) * kLanes + lane]: set bits of genotype g in class k.
  // Empty when the memory budget had no room for it; rows then never count as complete.
  std::vector<int32_t> genotype_counts;
  int class_size[kClasses] = {0, 0};  // the cases and the controls of the split
  budget_claim claim;  // the genotype counts' bytes
};

// Finds the completeness of a store, with the genotype counts when `with_counts` (the pair search
// needs them; the extension, whose rows are no SNP, does not), the counts claimed from
// `budget`. Call on the main thread.
void find_completeness(const genotype_store& store, bool with_counts, memory_budget& budget, split_completeness& out);

// The block's genotype counts, or null when the split has none.
inline const int32_t* block_genotype_counts(const split_completeness& c, long b) {
  return c.genotype_counts.empty() ? nullptr : c.genotype_counts.data() + static_cast<size_t>(b) * 3 * kClasses * kLanes;
}

// Whether a SNP's three genotype rows, of sizes row_total[r * kClasses + k], take the
// row SNP's rule in class k: the SNP is complete in it and the split has the counts.
inline bool rows_take_rule(const split_completeness& c, const int32_t* row_total, int k) {
  const int32_t size = row_total[k] + row_total[kClasses + k] + row_total[2 * kClasses + k];
  return !c.genotype_counts.empty() && size == c.class_size[k];
}

// Set bits of each of `row_ct` row bitsets (case words, then control words) in
// each class, into row_total[r * kClasses + k].
void count_rows(const uint64_t* const* rows, int row_ct, int case_word_ct, int ctrl_word_ct, int32_t* row_total);

}  // namespace velk
