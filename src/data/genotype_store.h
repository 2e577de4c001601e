// The genotype bitset store and the straightforward bit count.
//
// Every SNP has three genotype slots (genotype 0, 1, 2); each slot holds one bitset
// over the cases and one over the controls. Individual d of a class is bit d % 64 of
// word d / 64. A cell of one to four SNPs is then the word-by-word AND of its slots,
// and its case and control counts are population counts of those words.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velk {

inline constexpr int LengthLongType = 64;  // bits per bitset word
inline constexpr int64_t mask1 = 1;        // shifted into place to set one individual

struct genotype_slot {
  uint64_t* pcase;  // nlongintcase words
  uint64_t* pctrl;  // nlongintctrl words
};

// Process-wide state, set once at start-up and during loading, then only read.
extern unsigned char wordbits[65536];  // wordbits[v] = set bits of v
extern int p;                          // SNPs
extern int n;                          // individuals
extern int ncase, nctrl;               // cases and controls
extern int nlongintcase, nlongintctrl; // words per case / control bitset
extern genotype_slot* pgeno;           // 3 * p slots; slot 3 * s + g

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

// Bytes the store of `snps` SNPs needs with the current word counts.
size_t store_bytes(long snps);

// Sizes `nlongintcase` and `nlongintctrl` from `ncase` and `nctrl` and allocates the
// 3 * `p` slots with zeroed bitsets, in one block. Ends the run when memory is short.
void create_store();

// Releases the bitsets and the slot array.
void release_store();

inline genotype_slot& slot(long snp, int genotype) { return pgeno[3 * snp + genotype]; }

// The store is one block of words: slot k's case words, then its control words, then
// slot k + 1. The fast paths rely on it: a slot is one run of slot_words() words, and
// slot k starts at slot(0, 0).pcase + k * slot_words().
inline size_t slot_words() { return static_cast<size_t>(nlongintcase) + static_cast<size_t>(nlongintctrl); }

// Sets the bit of individual `d` in a bitset.
inline void set_individual(uint64_t* bits, long d) {
  bits[d / LengthLongType] |= static_cast<uint64_t>(mask1) << (d % LengthLongType);
}

// Set bits of the AND of `k` bitsets of `nwords` words each.
inline int count_and(const uint64_t* const* bits, int k, int nwords) {
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
inline cell_count count_cell(const genotype_slot* const* slots, int k) {
  const uint64_t* cases[4];
  const uint64_t* ctrls[4];
  for (int i = 0; i < k; ++i) {
    cases[i] = slots[i]->pcase;
    ctrls[i] = slots[i]->pctrl;
  }
  return {count_and(cases, k, nlongintcase), count_and(ctrls, k, nlongintctrl)};
}

}  // namespace velk
