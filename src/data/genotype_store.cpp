#include "data/genotype_store.h"

#include <sys/mman.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "base/fail.h"
#include "base/memory_budget.h"

namespace velk {

unsigned char wordbits[65536];
int p = 0;
int n = 0;
int ncase = 0;
int nctrl = 0;
int nlongintcase = 0;
int nlongintctrl = 0;
genotype_slot* pgeno = nullptr;

namespace {
uint64_t* store_words = nullptr;  // the one block behind every bitset
void* store_map = nullptr;        // its mapping, and the mapping's length
size_t store_map_bytes = 0;
constexpr size_t kHugePage = size_t{2} << 20;
size_t store_claim = 0;           // bytes claimed for the store, given back on release
}

int bitCount(int64_t x) {
  // The shifts are arithmetic on the signed value; the sums are formed in unsigned
  // arithmetic so that no step can overflow, which gives the same bits.
  uint64_t u = static_cast<uint64_t>(x) - (static_cast<uint64_t>(x >> 1) & 0x5555555555555555ULL);
  x = static_cast<int64_t>(u);
  u = (static_cast<uint64_t>(x) & 0x3333333333333333ULL) +
      (static_cast<uint64_t>(x >> 2) & 0x3333333333333333ULL);
  x = static_cast<int64_t>(u);
  u = (static_cast<uint64_t>(x) + static_cast<uint64_t>(x >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
  x = static_cast<int64_t>(u);
  x = static_cast<int64_t>(static_cast<uint64_t>(x) + static_cast<uint64_t>(x >> 8));
  x = static_cast<int64_t>(static_cast<uint64_t>(x) + static_cast<uint64_t>(x >> 16));
  x = static_cast<int64_t>(static_cast<uint64_t>(x) + static_cast<uint64_t>(x >> 32));
  return static_cast<int>(x & 0x7F);
}

void fill_wordbits() {
  for (int v = 0; v < 65536; ++v) wordbits[v] = static_cast<unsigned char>(bitCount(v));
}

int word_count(int count) {
  return static_cast<int>(std::ceil(static_cast<double>(count) / LengthLongType));
}

size_t store_bytes(long snps) {
  const size_t words_per_slot = static_cast<size_t>(nlongintcase) + static_cast<size_t>(nlongintctrl);
  return 3 * static_cast<size_t>(snps) * (sizeof(genotype_slot) + words_per_slot * sizeof(uint64_t));
}

void create_store() {
  nlongintcase = word_count(ncase);
  nlongintctrl = word_count(nctrl);
  const size_t nslots = 3 * static_cast<size_t>(p);
  const size_t words_per_slot = static_cast<size_t>(nlongintcase) + static_cast<size_t>(nlongintctrl);
  // Claimed first: calloc would grant a store beyond the machine lazily, and the run
  // would be killed while loading it.
  store_claim = store_bytes(p) + sizeof(uint64_t);
  claim_memory(store_claim);
  pgeno = static_cast<genotype_slot*>(calloc(nslots, sizeof(genotype_slot)));
  // One zeroed block for all bitsets: one allocation, and a SNP's six bitsets lie side
  // by side, which keeps a pair's words close in memory.
  // Mapped by hand, aligned to a huge page and marked for huge pages: the kernel hands
  // the block out zeroed, and loading then meets one page fault per 2 MB instead of
  // one per 4 KB (a third of the time to load a fileset).
  store_map_bytes = (nslots * words_per_slot + 1) * sizeof(uint64_t) + kHugePage;
  store_map = mmap(nullptr, store_map_bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (pgeno == nullptr || store_map == MAP_FAILED) fail_out_of_memory();
  const uintptr_t aligned = (reinterpret_cast<uintptr_t>(store_map) + kHugePage - 1) & ~(kHugePage - 1);
  store_words = reinterpret_cast<uint64_t*>(aligned);
  madvise(store_words, store_map_bytes - kHugePage, MADV_HUGEPAGE);
  for (size_t s = 0; s < nslots; ++s) {
    pgeno[s].pcase = store_words + s * words_per_slot;
    pgeno[s].pctrl = pgeno[s].pcase + nlongintcase;
  }
}

void release_store() {
  if (store_map != nullptr && store_map != MAP_FAILED) munmap(store_map, store_map_bytes);
  store_map = nullptr;
  free(pgeno);
  store_words = nullptr;
  pgeno = nullptr;
  release_memory(store_claim);
  store_claim = 0;
}

}  // namespace velk
