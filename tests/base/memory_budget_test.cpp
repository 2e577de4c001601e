#include "base/memory_budget.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <functional>

#include "data/genotype_store.h"
#include "search/dis_model.h"
#include "stats/talpha.h"

namespace velk {
namespace {

// Each large block is claimed before it is made and given back with it: a claim that
// outlived its block would make later loads in the same process (the fuzz targets load
// millions of studies) refuse studies that fit.
TEST(MemoryBudget, ClaimsAreGivenBackWithTheirBlocks) {
  p = 100;
  ncase = 70;
  nctrl = 65;
  const size_t start = memory_claimed();
  const struct {
    const char* what;
    std::function<void()> use;  // makes the block, checks its claim, releases it
  } blocks[] = {
      {"store",
       [] {
         create_store();
         EXPECT_GE(memory_claimed(), store_bytes(p));
         release_store();
       }},
      {"threshold tables",
       [start] {
         Talpha t;
         t.init(1000, 0.5, 0.05);
         EXPECT_GE(memory_claimed() - start, 1001 * (3 * sizeof(double) + 2 * sizeof(int)));
         t.destroy();
       }},
      {"lists",
       [start] {
         disModel model;
         model.ndisloci = 4;
         model.mulfactr = 1000;
         model.init(100, p, ncase, nctrl, 2, 2);
         // Three node arrays: the final list's and two level lists' of 100 000 nodes.
         EXPECT_GE(memory_claimed() - start, 200100 * sizeof(multi_locus_node));
       }},
  };
  for (const auto& b : blocks) {
    SCOPED_TRACE(b.what);
    b.use();
    EXPECT_EQ(memory_claimed(), start);
  }
}

TEST(MemoryBudget, ClaimsBeyondTheMachineAreRefused) {
  const size_t physical = static_cast<size_t>(sysconf(_SC_PHYS_PAGES)) * static_cast<size_t>(sysconf(_SC_PAGE_SIZE));
  EXPECT_LE(memory_limit(), physical);
  const size_t start = memory_claimed();
  EXPECT_FALSE(try_claim_memory(physical + 1));
  EXPECT_FALSE(try_claim_memory(SIZE_MAX));
  EXPECT_EQ(memory_claimed(), start);
  // Claims add up: two halves of the room fit, a third does not.
  const size_t half = (memory_limit() - start) / 2;
  ASSERT_TRUE(try_claim_memory(half));
  ASSERT_TRUE(try_claim_memory(half));
  EXPECT_FALSE(try_claim_memory(half));
  release_memory(2 * half);
  EXPECT_EQ(memory_claimed(), start);
}

}  // namespace
}  // namespace velk
