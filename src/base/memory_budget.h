// The memory a run may hold, checked before its large blocks are allocated.
//
// The store (and a permutation's copy), the lists and the threshold tables are claimed here
// before they are allocated. The kernel hands out zeroed memory lazily: a calloc far
// beyond the machine's memory may succeed, and the run would then be killed halfway,
// when the pages are first touched. Comparing each claim with what the machine has
// first ends a study that cannot fit at once, with the program's own message.
//
// Claims are made and released on the main thread only.
#pragma once

#include <cstddef>

namespace velk {

// Bytes the claims of a run may add up to: the physical memory, or less when an
// address-space limit (RLIMIT_AS) leaves less room beside what the process had mapped
// before its first claim.
size_t memory_limit();

// Claims `bytes` when they fit; false, and nothing claimed, when they do not.
bool try_claim_memory(size_t bytes);

// Claims `bytes`; ends the run with "Cannot allocate memory!\n" and status 255 when they
// do not fit.
void claim_memory(size_t bytes);

// Gives a claim back once its block has been released.
void release_memory(size_t bytes);

// Bytes claimed and not yet given back.
size_t memory_claimed();

// This process's share of the machine: `processes` processes (ranks of an MPI job on
// one machine) divide its physical memory. Set once at start-up.
void set_memory_share(int processes);

}  // namespace velk
