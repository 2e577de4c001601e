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
#include <utility>

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

// Bytes held on a budget by one owner, given back when dropped or destroyed.
class budget_claim {
 public:
  budget_claim() = default;
  budget_claim(budget_claim&& other) noexcept { *this = std::move(other); }
  budget_claim& operator=(budget_claim&& other) noexcept {
    if (this != &other) {
      drop();
      budget_ = std::exchange(other.budget_, nullptr);
      bytes_ = std::exchange(other.bytes_, 0);
    }
    return *this;
  }
  ~budget_claim() { drop(); }

  // Adds `bytes` to the claim when they fit on `budget`; false, and nothing added, when not.
  bool add(memory_budget& budget, size_t bytes) {
    if (!budget.try_claim(bytes)) return false;
    budget_ = &budget;
    bytes_ += bytes;
    return true;
  }
  void drop() {
    if (budget_ != nullptr) budget_->release(bytes_);
    bytes_ = 0;
  }

 private:
  memory_budget* budget_ = nullptr;
  size_t bytes_ = 0;
};

}  // namespace velk
