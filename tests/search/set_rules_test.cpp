// The rules of a focused search: which sets they allow, at the reported order and
// below it, and the count of allowed sets against a plain enumeration.
#include "search/set_rules.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace velk::testing {
namespace {

// Six SNPs; file sets A = {0, 1, 2} and B = {2, 3}; SNPs 4 and 5 unlisted. On one
// chromosome at 0, 10, 20, 30, 40; SNP 5 on another at 5.
set_rules six_snps(int rule, long long distance, int order) {
  set_rules r;
  r.rule = rule;
  r.min_distance = distance;
  r.order = order;
  r.listed = {1, 1, 1, 1, 0, 0};
  r.sets_of = {{0}, {0}, {0, 1}, {1}, {}, {}};
  r.chromosome = {0, 0, 0, 0, 0, 1};
  r.position = {0, 10, 20, 30, 40, 5};
  return r;
}

TEST(SetRules, WhichSetsMayStand) {
  const struct {
    const char* name;
    int rule;
    long long distance;
    int order;
    std::vector<int64_t> set;
    bool allowed;
  } cases[] = {
      {"rule 1: a listed SNP", 1, 0, 2, {3, 4}, true},
      {"rule 1: no listed SNP", 1, 0, 2, {4, 5}, false},
      {"rule 1, order 1", 1, 0, 1, {4}, false},
      {"rule 2: across A and B", 2, 0, 2, {0, 3}, true},
      {"rule 2: within A", 2, 0, 2, {0, 1}, false},
      {"rule 2: the shared SNP with A's", 2, 0, 2, {1, 2}, false},
      {"rule 2: the shared SNP with B's", 2, 0, 2, {2, 3}, false},
      {"rule 2: an unlisted SNP", 2, 0, 2, {0, 4}, false},
      {"rule 2: a triple no set holds", 2, 0, 3, {0, 2, 3}, true},
      {"rule 2, order 1: listed SNPs only", 2, 0, 1, {2}, true},
      {"rule 2, below the order: listed", 2, 0, 3, {0, 1}, true},
      {"rule 2, below the order: unlisted", 2, 0, 3, {0, 4}, false},
      {"rule 1, below the order: unlisted", 1, 0, 3, {4, 5}, true},
      {"distance: too close", 0, 15, 2, {0, 1}, false},
      {"distance: far enough", 0, 15, 2, {0, 2}, true},
      {"distance: exactly apart", 0, 10, 2, {0, 1}, true},
      {"distance: other chromosomes", 0, 15, 2, {0, 5}, true},
      {"distance, below the order", 0, 15, 3, {1, 2}, false},
      {"distance and rule 2", 2, 15, 2, {1, 3}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(set_allowed(six_snps(c.rule, c.distance, c.order), c.set.data(), static_cast<int>(c.set.size())),
              c.allowed);
  }
}

TEST(SetRules, CountsEveryAllowedSet) {
  std::mt19937 rng(28);
  for (int round = 0; round < 200; ++round) {
    const int snps = 1 + static_cast<int>(rng() % 14);
    set_rules r;
    r.order = 1 + static_cast<int>(rng() % 4);
    r.rule = static_cast<int>(rng() % 3);
    r.min_distance = rng() % 2 ? static_cast<long long>(rng() % 40) : 0;
    const int set_ct = 1 + static_cast<int>(rng() % 3);
    r.listed.assign(snps, 0);
    r.sets_of.assign(snps, {});
    for (int s = 0; s < snps; ++s) {
      for (int k = 0; k < set_ct; ++k)
        if (rng() % 3 == 0) r.sets_of[s].push_back(k);
      r.listed[s] = !r.sets_of[s].empty();
      r.chromosome.push_back(static_cast<int>(rng() % 3) - 1);  // -1: no position
      r.position.push_back(static_cast<long long>(rng() % 100));
    }
    // Every set of the order, each checked.
    double expected = 0;
    int64_t set[4];
    const int k = r.order;
    for (set[0] = 0; set[0] < snps; ++set[0]) {
      if (k == 1) {
        expected += set_allowed(r, set, 1);
        continue;
      }
      for (set[1] = set[0] + 1; set[1] < snps; ++set[1]) {
        if (k == 2) {
          expected += set_allowed(r, set, 2);
          continue;
        }
        for (set[2] = set[1] + 1; set[2] < snps; ++set[2]) {
          if (k == 3) {
            expected += set_allowed(r, set, 3);
            continue;
          }
          for (set[3] = set[2] + 1; set[3] < snps; ++set[3]) expected += set_allowed(r, set, 4);
        }
      }
    }
    EXPECT_EQ(allowed_set_count(r, snps), expected) << "round " << round;
  }
}

}  // namespace
}  // namespace velk::testing
