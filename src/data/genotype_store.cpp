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
uint64_t* pgeno = nullptr;

namespace {
void* store_map = nullptr;  // the store's mapping, and the mapping's length
size_t store_map_bytes = 0;
constexpr size_t kHugePage = size_t{2} << 20;
size_t store_claim = 0;     // bytes claimed for the store, given back on release

// A zeroed block of `bytes` aligned to a huge page, or null. Mapped by hand and marked
// for huge pages: the kernel hands the block out zeroed, and loading then meets one
// page fault per 2 MB instead of one per 4 KB (a third of the time to load a fileset).
uint64_t* map_zeroed(size_t bytes, void*& map, size_t& map_bytes) {
  map_bytes = bytes + kHugePage;
  map = mmap(nullptr, map_bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (map == MAP_FAILED) {
    map = nullptr;
    return nullptr;
  }
  const uintptr_t aligned = (reinterpret_cast<uintptr_t>(map) + kHugePage - 1) & ~(kHugePage - 1);
  madvise(reinterpret_cast<void*>(aligned), bytes, MADV_HUGEPAGE);
  return reinterpret_cast<uint64_t*>(aligned);
}
}  // namespace

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
  const size_t blocks = (static_cast<size_t>(snps) + kLanes - 1) / kLanes;
  return blocks * 3 * kLanes * slot_words() * sizeof(uint64_t);
}

void create_store() {
  nlongintcase = word_count(ncase);
  nlongintctrl = word_count(nctrl);
  // Claimed first: the mapping would grant a store beyond the machine lazily, and the
  // run would be killed while loading it.
  const size_t bytes = store_bytes(p);
  store_claim = bytes + kHugePage;
  claim_memory(store_claim);
  pgeno = map_zeroed(bytes, store_map, store_map_bytes);
  if (pgeno == nullptr) fail_out_of_memory();
}

void release_store() {
  if (store_map != nullptr) munmap(store_map, store_map_bytes);
  store_map = nullptr;
  pgeno = nullptr;
  release_memory(store_claim);
  store_claim = 0;
}

store_copy new_store_copy() {
  const size_t bytes = store_bytes(p);
  store_copy copy;
  copy.claim = bytes + kHugePage;
  claim_memory(copy.claim);
  copy.words = map_zeroed(bytes, copy.map, copy.map_bytes);
  if (copy.words == nullptr) fail_out_of_memory();
  return copy;
}

void free_store_copy(store_copy& copy) {
  if (copy.map != nullptr) munmap(copy.map, copy.map_bytes);
  release_memory(copy.claim);
  copy = {};
}

void share_store(const team& t) {
  if (t.size == 1) return;
  int counts[4] = {n, p, ncase, nctrl};
  share(t, counts);
  if (!leads(t)) {
    n = counts[0];
    p = counts[1];
    ncase = counts[2];
    nctrl = counts[3];
    create_store();
  }
  share_bytes(t, pgeno, store_bytes(p));
}

void copy_snp_out(const uint64_t* store, long s, uint64_t* out) {
  const size_t words = slot_words();
  const uint64_t* from = store_block(store, s / kLanes) + s % kLanes;
  for (size_t w = 0; w < 3 * words; ++w) out[w] = from[w * kLanes];
}

void copy_snp_in(uint64_t* store, long s, const uint64_t* in) {
  const size_t words = slot_words();
  uint64_t* to = const_cast<uint64_t*>(store_block(store, s / kLanes)) + s % kLanes;
  for (size_t w = 0; w < 3 * words; ++w) to[w * kLanes] = in[w];
}

}  // namespace velk
