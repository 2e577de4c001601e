#include "data/genotype_store.h"

#include <sys/mman.h>

#include <cmath>


namespace velk {

namespace {

constexpr size_t kHugePage = size_t{2} << 20;

// A zeroed block of `bytes` aligned to a huge page, or null. Mapped by hand and marked
// for huge pages: the kernel hands the block out zeroed, and loading then meets one
// page fault per 2 MB instead of one per 4 KB (a third of the time to load a fileset on
// the 2-core development machine, December 2026).
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

int word_count(int count) { return static_cast<int>(std::ceil(static_cast<double>(count) / kWordBits)); }

store_shape make_shape(int snp_ct, int case_ct, int ctrl_ct) {
  return {snp_ct, case_ct, ctrl_ct, word_count(case_ct), word_count(ctrl_ct)};
}

genotype_store& genotype_store::operator=(genotype_store&& other) noexcept {
  if (this != &other) {
    release();
    shape = other.shape;
    words = other.words;
    map = other.map;
    map_bytes = other.map_bytes;
    claim = std::move(other.claim);
    other.words = nullptr;
    other.map = nullptr;
    other.map_bytes = 0;
  }
  return *this;
}

void genotype_store::release() {
  if (map != nullptr) munmap(map, map_bytes);
  claim.drop();
  words = nullptr;
  map = nullptr;
  map_bytes = 0;
}

status new_store(const store_shape& shape, memory_budget& budget, genotype_store& out) {
  out.release();
  out.shape = shape;
  // Claimed first: the mapping would grant a store beyond the machine lazily, and the
  // run would be killed while loading it.
  const size_t bytes = shape.bytes();
  if (!out.claim.add(budget, bytes + kHugePage)) return out_of_memory();
  out.words = map_zeroed(bytes, out.map, out.map_bytes);
  if (out.words == nullptr) return out_of_memory();
  return ok_status();
}

void copy_snp_out(const genotype_store& store, long s, uint64_t* out) {
  const size_t words = store.shape.slot_words();
  const uint64_t* from = store_block(store, s / kLanes) + s % kLanes;
  for (size_t w = 0; w < 3 * words; ++w) out[w] = from[w * kLanes];
}

void copy_snp_in(const genotype_store& store, long s, const uint64_t* in) {
  const size_t words = store.shape.slot_words();
  uint64_t* to = const_cast<uint64_t*>(store_block(store, s / kLanes)) + s % kLanes;
  for (size_t w = 0; w < 3 * words; ++w) to[w * kLanes] = in[w];
}

}  // namespace velk
