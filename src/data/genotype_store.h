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
// where words = nlongintcase + nlongintctrl. One vector load then serves kLanes
// candidate SNPs, and a cell of one broadcast word against a block is counted for
// kLanes candidates at once. Lanes beyond the last SNP hold zero words.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/team.h"

namespace velk {

inline constexpr int LengthLongType = 64;  // bits per bitset word
inline constexpr int64_t mask1 = 1;        // shifted into place to set one individual
inline constexpr int kLanes = 8;           // SNPs per block of the store

// The bitset of one slot and one class, word w at first[w * kLanes].
struct class_bits {
  uint64_t* first;
  uint64_t& operator[](long w) const { return first[w * kLanes]; }
};

struct genotype_slot {
  class_bits pcase;  // nlongintcase words
  class_bits pctrl;  // nlongintctrl words
};

// Process-wide state, set once at start-up and during loading, then only read.
extern unsigned char wordbits[65536];  // wordbits[v] = set bits of v
extern int p;                          // SNPs
extern int n;                          // individuals
extern int ncase, nctrl;               // cases and controls
extern int nlongintcase, nlongintctrl; // words per case / control bitset
extern uint64_t* pgeno;                // the store of the study as loaded, 64-byte aligned

// Parallel bit count of a 64-bit value; only used to fill `wordbits`.
int bitCount(int64_t x);

// Fills `wordbits`; must run before the first count.
void fill_wordbits();

// Set bits of a word through the 16-bit table: four lookups, the top chunk unsigned.
inline int popcount(int64_t x) {
  const uint64_t u = static_cast<uint64_t>(x);
  return wordbits[u & 0xFFFF] + wordbits[(u >> 16) & 0xFFFF] + wordbits[(u >> 32) & 0xFFFF] +
         wordbits[u >> 48];
}

// Word count of a bitset over `count` individuals: the quotient rounded up in double
// precision, as the store has always been sized.
int word_count(int count);

// Words of one slot (both classes) and of one block of the store.
inline size_t slot_words() { return static_cast<size_t>(nlongintcase) + static_cast<size_t>(nlongintctrl); }
inline size_t block_words() { return 3 * slot_words() * kLanes; }
inline long store_blocks() { return (static_cast<long>(p) + kLanes - 1) / kLanes; }

// Bytes of a store of `snps` SNPs with the current word counts, in whole blocks.
size_t store_bytes(long snps);

// Sizes `nlongintcase` and `nlongintctrl` from `ncase` and `nctrl` and allocates the
// zeroed store of `p` SNPs as `pgeno`. Ends the run when memory is short.
void create_store();

// Releases the store.
void release_store();

// A second zeroed store of the same shape (a permutation's split of the study); ends the
// run when memory is short. Release with free_store_copy.
struct store_copy {
  uint64_t* words = nullptr;
  void* map = nullptr;
  size_t map_bytes = 0;
  size_t claim = 0;
};
store_copy new_store_copy();
void free_store_copy(store_copy& copy);

// Rank 0's loaded study (the counts and the store) on every rank: the others create
// their store and receive its words.
void share_store(const team& t);

// The first words of block b of a store.
inline const uint64_t* store_block(const uint64_t* store, long b) {
  return store + static_cast<size_t>(b) * block_words();
}

// Slot (s, g) of a store. Readers and the loaders share the one view; only the loaders
// write through it.
inline genotype_slot slot(const uint64_t* store, long s, int g) {
  uint64_t* first = const_cast<uint64_t*>(store) + (static_cast<size_t>(s / kLanes) * 3 + g) * slot_words() * kLanes +
                    static_cast<size_t>(s % kLanes);
  return {{first}, {first + static_cast<size_t>(nlongintcase) * kLanes}};
}
inline genotype_slot slot(long snp, int genotype) { return slot(pgeno, snp, genotype); }

// A SNP's three slots as one run of 3 * slot_words() words (slot g's case words, then
// its control words), the form the counting kernels take a row in; and back.
void copy_snp_out(const uint64_t* store, long s, uint64_t* out);
void copy_snp_in(uint64_t* store, long s, const uint64_t* in);

// Sets the bit of individual `d` in a bitset.
inline void set_individual(class_bits bits, long d) {
  bits[d / LengthLongType] |= static_cast<uint64_t>(mask1) << (d % LengthLongType);
}

// Set bits of the AND of `k` bitsets of `nwords` words each.
inline int count_and(const class_bits* bits, int k, int nwords) {
  int total = 0;
  for (int w = 0; w < nwords; ++w) {
    uint64_t word = bits[0][w];
    for (int i = 1; i < k; ++i) word &= bits[i][w];
    total += popcount(static_cast<int64_t>(word));
  }
  return total;
}

struct cell_count {
  int cases;
  int ctrls;
};

// Cases and controls whose genotypes match the cell given by `k` slots (1 to 4).
inline cell_count count_cell(const genotype_slot* slots, int k) {
  class_bits cases[4];
  class_bits ctrls[4];
  for (int i = 0; i < k; ++i) {
    cases[i] = slots[i].pcase;
    ctrls[i] = slots[i].pctrl;
  }
  return {count_and(cases, k, nlongintcase), count_and(ctrls, k, nlongintctrl)};
}

}  // namespace velk
