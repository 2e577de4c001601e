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
  memory_budget budget;
  const struct {
    const char* what;
    std::function<void()> use;  // makes the block, checks its claim, releases it
  } blocks[] = {
      {"store",
       [&shape, &budget] {
         genotype_store store;
         ASSERT_TRUE(new_store(shape, budget, store).ok());
         EXPECT_GE(budget.claimed(), shape.bytes());
       }},
      {"threshold tables",
       [&budget] {
         // Claimed while they are built only.
         thresholds built;
         ASSERT_TRUE(build_study_thresholds(500, 500, 0.05, budget, built).ok());
         EXPECT_EQ(built.case_min.size(), 1001u);
       }},
      {"lists",
       [&shape, &budget] {
         search_model model;
         model.params.order = 4;
         model.params.level_factor = 1000;
         ASSERT_TRUE(create_lists(model, 100, shape.snp_ct, budget).ok());
         // Three node arrays: the final list's and two level lists' of 100 000 nodes.
         EXPECT_GE(budget.claimed(), 200100 * sizeof(multi_locus_node));
       }},
  };
  for (const auto& b : blocks) {
    SCOPED_TRACE(b.what);
    b.use();
    EXPECT_EQ(budget.claimed(), 0u);
  }
}

TEST(MemoryBudget, ClaimsBeyondTheMachineAreRefused) {
  const size_t physical = static_cast<size_t>(sysconf(_SC_PHYS_PAGES)) * static_cast<size_t>(sysconf(_SC_PAGE_SIZE));
  memory_budget budget;
  EXPECT_LE(budget.limit(), physical);
  EXPECT_FALSE(budget.try_claim(physical + 1));
  EXPECT_FALSE(budget.try_claim(SIZE_MAX));
  EXPECT_EQ(budget.claimed(), 0u);
  // Claims add up: two halves of the room fit, a third does not.
  const size_t half = budget.limit() / 2;
  ASSERT_TRUE(budget.try_claim(half));
  ASSERT_TRUE(budget.try_claim(half));
  EXPECT_FALSE(budget.try_claim(half));
  budget.release(2 * half);
  EXPECT_EQ(budget.claimed(), 0u);
  // Ranks that share the machine share its memory.
  EXPECT_LE(memory_budget(4).limit(), physical / 4);
}

}  // namespace
}  // namespace velk
