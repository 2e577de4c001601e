#include "data/lane_store.h"

#include <cstdlib>
#include <cstring>

#include "base/fail.h"
#include "base/memory_budget.h"
#include "data/genotype_store.h"

namespace velk {

lane_store::~lane_store() {
  free(words);
  release_memory(claimed);
}

size_t lane_store_bytes() {
  const size_t blocks = (static_cast<size_t>(p) + kLanes - 1) / kLanes;
  return blocks * 3 * (static_cast<size_t>(nlongintcase) + nlongintctrl) * kLanes * sizeof(uint64_t);
}

void build_lane_store(lane_store& lanes) {
  lanes.blocks = (static_cast<long>(p) + kLanes - 1) / kLanes;
  lanes.words_per_slot = nlongintcase + nlongintctrl;
  const size_t bytes = lane_store_bytes();
  // aligned_alloc wants a multiple of the alignment; keep at least one line.
  const size_t rounded = (bytes + 63) / 64 * 64 + 64;
  // Claimed before the block is allocated: the copy doubles the store, and a study
  // whose store just fits would otherwise be killed while the copy is filled.
  claim_memory(rounded);
  lanes.claimed = rounded;
  lanes.words = static_cast<uint64_t*>(aligned_alloc(64, rounded));
  if (lanes.words == nullptr) fail_out_of_memory();
  memset(lanes.words, 0, rounded);
  const int words = lanes.words_per_slot;
  for (long s = 0; s < p; ++s) {
    const long b = s / kLanes;
    const int lane = static_cast<int>(s % kLanes);
    for (int g = 0; g < 3; ++g) {
      const genotype_slot& from = slot(s, g);
      uint64_t* to = lanes.words + ((static_cast<size_t>(b) * 3 + g) * words) * kLanes + lane;
      for (int w = 0; w < nlongintcase; ++w) to[static_cast<size_t>(w) * kLanes] = from.pcase[w];
      for (int w = 0; w < nlongintctrl; ++w) to[static_cast<size_t>(nlongintcase + w) * kLanes] = from.pctrl[w];
    }
  }
}

}  // namespace velk
