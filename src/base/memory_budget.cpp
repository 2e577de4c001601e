#include "base/memory_budget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

namespace velk {

namespace {

// Room kept under an address-space limit for what is never claimed: scan buffers, the
// per-row classes, the single-locus statistics, thread stacks and malloc arenas.
constexpr size_t kUnclaimedRoom = size_t{48} << 20;

size_t physical_memory(int sharing_processes) {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page_size <= 0) return SIZE_MAX;  // unknown: let the allocator decide
  return static_cast<size_t>(pages) * static_cast<size_t>(page_size) / static_cast<size_t>(sharing_processes);
}

// The process's mapped bytes, the measure RLIMIT_AS applies to.
size_t mapped_now() {
  FILE* statm = fopen("/proc/self/statm", "r");
  if (statm == nullptr) return 0;
  unsigned long pages = 0;
  const int got = fscanf(statm, "%lu", &pages);
  fclose(statm);
  return got == 1 ? pages * static_cast<size_t>(sysconf(_SC_PAGE_SIZE)) : 0;
}

// The address-space limit in force, or SIZE_MAX.
size_t address_space_limit() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
  return static_cast<size_t>(limit.rlim_cur);
}

// The limit with `mapped` bytes in use before the claims.
size_t limit_beside(size_t mapped, int sharing_processes) {
  size_t limit = physical_memory(sharing_processes);
  const size_t address_space = address_space_limit();
  if (address_space != SIZE_MAX) {
    const size_t used = mapped + kUnclaimedRoom;
    const size_t room = address_space > used ? address_space - used : 0;
    if (room < limit) limit = room;
  }
  return limit;
}

}  // namespace

memory_budget::memory_budget(int sharing_processes)
    : sharing_processes_(sharing_processes > 1 ? sharing_processes : 1) {}

// What the claims are measured against: the mapped bytes of the moment while nothing
// is claimed, the ones recorded at the first claim afterwards (the claimed blocks are
// mapped since, and must not be counted twice).
size_t memory_budget::mapped_beside_claims() const {
  if (claimed_ != 0) return mapped_before_claims_;
  return address_space_limit() == SIZE_MAX ? 0 : mapped_now();
}

size_t memory_budget::limit() const { return limit_beside(mapped_beside_claims(), sharing_processes_); }

bool memory_budget::try_claim(size_t bytes) {
  const size_t mapped = mapped_beside_claims();
  const size_t limit = limit_beside(mapped, sharing_processes_);
  if (claimed_ > limit || bytes > limit - claimed_) return false;
  if (claimed_ == 0) mapped_before_claims_ = mapped;
  claimed_ += bytes;
  return true;
}

void memory_budget::release(size_t bytes) { claimed_ = bytes < claimed_ ? claimed_ - bytes : 0; }

}  // namespace velk
