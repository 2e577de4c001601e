#include "base/memory_budget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

#include "base/fail.h"

namespace velk {

namespace {

// Room kept under an address-space limit for what is never claimed: scan buffers, the
// per-row classes, the single-locus statistics, thread stacks and malloc arenas.
constexpr size_t kUnclaimedRoom = size_t{48} << 20;

size_t claimed = 0;
int sharing_processes = 1;  // processes that divide the physical memory
// Bytes mapped when the first of the current claims was made; an address-space limit
// counts them too.
size_t mapped_before_claims = 0;

size_t physical_memory() {
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
size_t limit_beside(size_t mapped) {
  size_t limit = physical_memory();
  const size_t address_space = address_space_limit();
  if (address_space != SIZE_MAX) {
    const size_t used = mapped + kUnclaimedRoom;
    const size_t room = address_space > used ? address_space - used : 0;
    if (room < limit) limit = room;
  }
  return limit;
}

// What the claims are measured against: the mapped bytes of the moment while nothing
// is claimed, the ones recorded at the first claim afterwards (the claimed blocks are
// mapped since, and must not be counted twice).
size_t mapped_beside_claims() {
  if (claimed != 0) return mapped_before_claims;
  return address_space_limit() == SIZE_MAX ? 0 : mapped_now();
}

bool fits(size_t bytes, size_t limit) { return claimed <= limit && bytes <= limit - claimed; }

}  // namespace

size_t memory_limit() { return limit_beside(mapped_beside_claims()); }

bool try_claim_memory(size_t bytes) {
  const size_t mapped = mapped_beside_claims();
  if (!fits(bytes, limit_beside(mapped))) return false;
  if (claimed == 0) mapped_before_claims = mapped;
  claimed += bytes;
  return true;
}

void claim_memory(size_t bytes) {
  if (!try_claim_memory(bytes)) fail_out_of_memory();
}

void release_memory(size_t bytes) { claimed = bytes < claimed ? claimed - bytes : 0; }

size_t memory_claimed() { return claimed; }

void set_memory_share(int processes) { sharing_processes = processes > 1 ? processes : 1; }

}  // namespace velk
