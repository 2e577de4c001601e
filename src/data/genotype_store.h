// The genotype bitset store and the straightforward bit count.
//
// Every SNP has three genotype slots (genotype 0, 1, 2); each slot holds one bitset
// over the cases and one over the controls. Individual d of a class is bit d % 64 of
// word d / 64. A cell of one to four SNPs is then the word-by-word AND of its slots,
// and its case and control counts are population counts of those words.
//
// The store is one copy, laid out for the counting kernels: SNPs are grouped in blocks
// of kLanes, and within a block the words of the kLanes SNPs lie side by side. Word w
// (case words first, then control words) of genotype g of SNP s is
//   store[((block * 3 + g) * words + w) * kLanes + lane],  block = s / kLanes, lane = s % kLanes,
// where words = case_word_ct + ctrl_word_ct. One vector load then serves kLanes
// candidate SNPs, and a cell of one broadcast word against a block is counted for
// kLanes candidates at once. Lanes beyond the last SNP hold zero words.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "base/memory_budget.h"
#include "base/status.h"

namespace velk {

inline constexpr int kWordBits = 64;  // individuals per bitset word
inline constexpr int kLanes = 8;      // SNPs per block of the store

// The counts that fix a store's layout. Every split of a study's classes (a
// permutation's) has the same shape.
struct store_shape {
  int snp_ct = 0;
  int case_ct = 0;
  int ctrl_ct = 0;
  int case_word_ct = 0;  // words of a case bitset
  int ctrl_word_ct = 0;  // words of a control bitset

  int sample_ct() const { return case_ct + ctrl_ct; }
  // Words of one slot (both classes) and of one block of the store.
  size_t slot_words() const { return static_cast<size_t>(case_word_ct) + static_cast<size_t>(ctrl_word_ct); }
  size_t block_words() const { return 3 * slot_words() * kLanes; }
  long block_ct() const { return (static_cast<long>(snp_ct) + kLanes - 1) / kLanes; }
  // Bytes of the store, in whole blocks.
  size_t bytes() const { return static_cast<size_t>(block_ct()) * block_words() * sizeof(uint64_t); }
};

// Word count of a bitset over `count` individuals: the quotient rounded up in double
// precision (exact for every int count), the size checkpoints and kernels expect.
int word_count(int count);

// The shape of a study of `snp_ct` SNPs and the given classes.
store_shape make_shape(int snp_ct, int case_ct, int ctrl_ct);

// The bitset of one slot and one class, word w at first[w * kLanes].
struct class_bits {
  uint64_t* first;
  uint64_t& operator[](long w) const { return first[w * kLanes]; }
};

struct genotype_slot {
  class_bits cases;  // case_word_ct words
  class_bits ctrls;  // ctrl_word_ct words
};

// A store of genotype bitsets, zeroed when made, 64-byte aligned; it owns its memory
// and gives its claim on the memory budget back when destroyed.
struct genotype_store {
  store_shape shape;
  uint64_t* words = nullptr;
  void* map = nullptr;  // the mapping that holds the words, and its length
  size_t map_bytes = 0;
  budget_claim claim;

  genotype_store() = default;
  genotype_store(genotype_store&& other) noexcept { *this = static_cast<genotype_store&&>(other); }
  genotype_store& operator=(genotype_store&& other) noexcept;
  genotype_store(const genotype_store&) = delete;
  genotype_store& operator=(const genotype_store&) = delete;
  ~genotype_store() { release(); }
  void release();
};

// Makes `out` a zeroed store of `shape`, claimed from `budget`; the failure
// "Cannot allocate memory!" when memory is short.
status new_store(const store_shape& shape, memory_budget& budget, genotype_store& out);

// The first words of block b of a store.
inline const uint64_t* store_block(const genotype_store& store, long b) {
  return store.words + static_cast<size_t>(b) * store.shape.block_words();
}

// Slot (s, g) of a store. Readers and the loaders share the one view; only the loaders
// write through it.
inline genotype_slot slot(const genotype_store& store, long s, int g) {
  const store_shape& sh = store.shape;
  uint64_t* first = store.words + (static_cast<size_t>(s / kLanes) * 3 + g) * sh.slot_words() * kLanes +
                    static_cast<size_t>(s % kLanes);
  return {{first}, {first + static_cast<size_t>(sh.case_word_ct) * kLanes}};
}

// A SNP's three slots as one run of 3 * slot_words() words (slot g's case words, then
// its control words), the form the counting kernels take a row in; and back.
void copy_snp_out(const genotype_store& store, long s, uint64_t* out);
void copy_snp_in(const genotype_store& store, long s, const uint64_t* in);

// Sets the bit of individual `d` in a bitset.
inline void set_individual(class_bits bits, long d) { bits[d / kWordBits] |= uint64_t{1} << (d % kWordBits); }

// Set bits of the AND of `k` bitsets of `word_ct` words each.
inline int count_and(const class_bits* bits, int k, int word_ct) {
  int total = 0;
  for (int w = 0; w < word_ct; ++w) {
    uint64_t word = bits[0][w];
    for (int i = 1; i < k; ++i) word &= bits[i][w];
    total += std::popcount(word);
  }
  return total;
}

// The genotype cells of a set of `order` SNPs: 3^order.
constexpr int cell_total(int order) {
  int total = 1;
  for (int i = 0; i < order; ++i) total *= 3;
  return total;
}

struct cell_count {
  int cases;
  int ctrls;
};

// Cases and controls whose genotypes match the cell given by `k` slots (1 to 4).
inline cell_count count_cell(const genotype_slot* slots, int k, const store_shape& shape) {
  class_bits cases[4];
  class_bits ctrls[4];
  for (int i = 0; i < k; ++i) {
    cases[i] = slots[i].cases;
    ctrls[i] = slots[i].ctrls;
  }
  return {count_and(cases, k, shape.case_word_ct), count_and(ctrls, k, shape.ctrl_word_ct)};
}

}  // namespace velk
