#include "data/genotype_store.h"

#include <gtest/gtest.h>

namespace velk {
namespace {

TEST(BitCount, MatchesTheNumberOfSetBits) {
  const int64_t values[] = {0, 1, 3, 0xFFFF, -1, INT64_MIN, INT64_MAX, 0x5555555555555555LL, 0x0123456789ABCDEFLL};
  for (int64_t v : values) EXPECT_EQ(bitCount(v), __builtin_popcountll(static_cast<uint64_t>(v))) << v;
}

}  // namespace
}  // namespace velk
