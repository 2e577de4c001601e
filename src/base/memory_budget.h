// The memory a run may hold, checked before its large blocks are allocated.
//
// The store (and a permutation's copy), the lists and the threshold tables are claimed here
// before they are allocated. The kernel hands out zeroed memory lazily: a calloc far
// beyond the machine's memory may succeed, and the run would then be killed halfway,
// when the pages are first touched. Comparing each claim with what the machine has
// first ends a study that cannot fit at once, with the program's own message.
//
// The driver owns one budget per run and hands it to what claims; claims are made and
// released on the main thread only.
#pragma once

#include <cstddef>

namespace velk {

class memory_budget {
 public:
  // The budget of a process that shares the machine's physical memory with
  // `sharing_processes` processes in all (ranks of an MPI job on one machine).
  explicit memory_budget(int sharing_processes = 1);
  memory_budget(const memory_budget&) = delete;
  memory_budget& operator=(const memory_budget&) = delete;

  // Bytes the claims may add up to: this process's share of the physical memory, or
  // less when an address-space limit (RLIMIT_AS) leaves less room beside what the
  // process had mapped before its first claim.
  size_t limit() const;

  // Claims `bytes` when they fit; false, and nothing claimed, when they do not.
  bool try_claim(size_t bytes);

  // Gives a claim back once its block has been released.
  void release(size_t bytes);

  // Bytes claimed and not yet given back.
  size_t claimed() const { return claimed_; }

 private:
  size_t mapped_beside_claims() const;

  int sharing_processes_ = 1;
  size_t claimed_ = 0;
  // Bytes mapped when the first of the current claims was made; an address-space limit
  // counts them too.
  size_t mapped_before_claims_ = 0;
};

}  // namespace velk
