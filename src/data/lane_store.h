// A second, interleaved copy of the genotype bitsets for the fast searches.
//
// SNPs are grouped in blocks of kLanes; within a block the words of the kLanes SNPs lie
// side by side: word w of genotype g of the block's SNPs is the kLanes consecutive
// words at ((block * 3 + g) * words + w) * kLanes, where words = nlongintcase +
// nlongintctrl (case words first). One vector load then serves kLanes SNPs, and a cell
// of one broadcast word against the block is counted for kLanes candidates at once,
// with no horizontal sums. Lanes beyond the last SNP hold zero words.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velk {

inline constexpr int kLanes = 8;

struct lane_store {
  uint64_t* words = nullptr;  // 64-byte aligned
  long blocks = 0;
  int words_per_slot = 0;     // nlongintcase + nlongintctrl
  size_t claimed = 0;         // bytes claimed from the memory budget

  lane_store() = default;
  lane_store(const lane_store&) = delete;
  lane_store& operator=(const lane_store&) = delete;
  ~lane_store();

  // The 3 * words_per_slot * kLanes words of one block.
  const uint64_t* block(long b) const {
    return words + static_cast<size_t>(b) * 3 * words_per_slot * kLanes;
  }
};

// Bytes the interleaved copy of the loaded store needs.
size_t lane_store_bytes();

// Fills `lanes` from the loaded store; ends the run when memory is short.
void build_lane_store(lane_store& lanes);

}  // namespace velk
