#include "base/memory_budget.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <functional>

#include "data/genotype_store.h"
#include "search/search_model.h"
#include "stats/thresholds.h"

namespace velk {
namespace {

// Each large block is claimed before it is made and given back with it: a claim that
// outlived its block would make later loads in the same process (the fuzz targets load
// millions of studies) refuse studies that fit.
TEST(MemoryBudget, ClaimsAreGivenBackWithTheirBlocks) {
  const store_shape shape = make_shape(100, 70, 65);
  const size_t start = memory_claimed();
  const struct {
    const char* what;
    std::function<void()> use;  // makes the block, checks its claim, releases it
  } blocks[] = {
      {"store",
       [&shape, start] {
         genotype_store store = new_store(shape);
         EXPECT_GE(memory_claimed() - start, shape.bytes());
       }},
      {"threshold tables",
       [] {
         // Claimed while they are built only.
         EXPECT_EQ(build_thresholds(1000, 0.5, 0.05).case_min.size(), 1001u);
       }},
      {"lists",
       [&shape, start] {
         search_model model;
         model.params.order = 4;
         model.params.mulfactr = 1000;
         ASSERT_FALSE(create_lists(model, 100, shape.snp_ct));
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
