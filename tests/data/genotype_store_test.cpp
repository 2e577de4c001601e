#include "data/genotype_store.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

namespace velk {
namespace {

TEST(WordCount, RoundsUpToWholeWords) {
  const struct {
    int individuals, words;
  } cases[] = {{0, 0}, {1, 1}, {63, 1}, {64, 1}, {65, 2}, {128, 2}, {129, 3}};
  for (const auto& c : cases) EXPECT_EQ(word_count(c.individuals), c.words) << c.individuals;
}

// A store built in-process, written and counted through the slot views.
class StoreTest : public ::testing::Test {
 protected:
  void make(int snps, int cases, int ctrls) {
    ASSERT_TRUE(new_store(make_shape(snps, cases, ctrls), budget_, store_).ok());
  }
  const store_shape& shape() const { return store_.shape; }
  genotype_slot slot_of(int s, int g) const { return slot(store_, s, g); }
  // Sets individual d's genotype g at SNP s; g outside 0..2 is a missing genotype.
  void put(int s, bool is_case, int d, int g) {
    if (g < 0 || g > 2) return;
    set_individual(is_case ? slot_of(s, g).cases : slot_of(s, g).ctrls, d);
  }
  cell_count cell(const std::vector<std::pair<int, int>>& snp_genotypes) const {
    genotype_slot slots[4];
    int k = 0;
    for (auto [s, g] : snp_genotypes) slots[k++] = slot_of(s, g);
    return count_cell(slots, k, store_.shape);
  }

 private:
  memory_budget budget_;
  genotype_store store_;
};

TEST_F(StoreTest, BitLayoutAndSlotsDoNotOverlap) {
  make(2, 65, 64);
  EXPECT_EQ(shape().case_word_ct, 2);
  EXPECT_EQ(shape().ctrl_word_ct, 1);
  put(0, true, 64, 1);   // case 64: bit 0 of word 1
  put(0, false, 63, 1);  // control 63: bit 63 of word 0
  put(1, true, 0, 2);
  EXPECT_EQ(slot_of(0, 1).cases[0], 0u);
  EXPECT_EQ(slot_of(0, 1).cases[1], 1u);
  EXPECT_EQ(slot_of(0, 1).ctrls[0], uint64_t{1} << 63);
  EXPECT_EQ(slot_of(1, 2).cases[0], 1u);
  // The other slots start zeroed and nothing leaked into them.
  for (int s = 0; s < 2; ++s)
    for (int g = 0; g < 3; ++g)
      if ((s != 0 || g != 1) && (s != 1 || g != 2)) {
        EXPECT_EQ(slot_of(s, g).cases[0] | slot_of(s, g).cases[1] | slot_of(s, g).ctrls[0], 0u) << s << g;
      }
}

TEST_F(StoreTest, NoCasesMeansNoCaseWordsAndZeroCounts) {
  make(1, 0, 3);
  EXPECT_EQ(shape().case_word_ct, 0);
  put(0, false, 2, 0);
  const cell_count c = cell({{0, 0}});
  EXPECT_EQ(c.cases, 0);
  EXPECT_EQ(c.ctrls, 1);
}

// 66 cases (two words, the first one full) and 2 controls over four SNPs:
//   SNP 0: cases 0..63 genotype 0, case 64 genotype 2, case 65 missing; controls 1.
//   SNP 1: even cases 1, odd cases 0; control 0 genotype 1, control 1 missing.
//   SNP 2: cases 0..64 genotype 2, case 65 genotype 0; controls 0.
//   SNP 3: cases 32 and above genotype 1, the others missing; controls 2.
TEST_F(StoreTest, CellCounts) {
  make(4, 66, 2);
  for (int d = 0; d < 66; ++d) {
    put(0, true, d, d < 64 ? 0 : d == 64 ? 2 : 9);
    put(1, true, d, d % 2 == 0 ? 1 : 0);
    put(2, true, d, d < 65 ? 2 : 0);
    put(3, true, d, d >= 32 ? 1 : -1);
  }
  put(0, false, 0, 1);
  put(0, false, 1, 1);
  put(1, false, 0, 1);
  put(1, false, 1, 9);
  put(2, false, 0, 0);
  put(2, false, 1, 0);
  put(3, false, 0, 2);
  put(3, false, 1, 2);

  const struct {
    std::vector<std::pair<int, int>> cell;
    int cases, ctrls;
  } cases[] = {
      {{{0, 0}}, 64, 0},  // a full word
      {{{0, 1}}, 0, 2},
      {{{0, 2}}, 1, 0},
      {{{1, 0}}, 33, 0},
      {{{1, 1}}, 33, 1},
      {{{1, 2}}, 0, 0},
      {{{3, 1}}, 34, 0},
      {{{0, 0}, {1, 1}}, 32, 0},
      {{{0, 2}, {1, 1}}, 1, 0},
      {{{0, 1}, {1, 1}}, 0, 1},
      {{{0, 0}, {1, 1}, {2, 2}}, 32, 0},
      {{{0, 2}, {1, 1}, {2, 0}}, 0, 0},
      {{{1, 0}, {2, 0}}, 1, 0},  // case 65, in the second word
      {{{0, 0}, {1, 1}, {2, 2}, {3, 1}}, 16, 0},
      {{{0, 1}, {1, 1}, {2, 0}, {3, 2}}, 0, 1},
  };
  for (const auto& c : cases) {
    const cell_count got = cell(c.cell);
    EXPECT_EQ(got.cases, c.cases) << "cell #" << (&c - cases);
    EXPECT_EQ(got.ctrls, c.ctrls) << "cell #" << (&c - cases);
  }

  // A SNP's three genotypes hold every individual but the missing ones.
  const int missing_cases[] = {1, 0, 0, 32};
  const int missing_ctrls[] = {0, 1, 0, 0};
  for (int s = 0; s < 4; ++s) {
    int a = 0, b = 0;
    for (int g = 0; g < 3; ++g) {
      a += cell({{s, g}}).cases;
      b += cell({{s, g}}).ctrls;
    }
    EXPECT_EQ(a, shape().case_ct - missing_cases[s]) << s;
    EXPECT_EQ(b, shape().ctrl_ct - missing_ctrls[s]) << s;
  }

  // Adding a SNP to a cell can only narrow it.
  for (int g0 = 0; g0 < 3; ++g0)
    for (int g1 = 0; g1 < 3; ++g1)
      for (int g2 = 0; g2 < 3; ++g2) {
        const cell_count one = cell({{0, g0}}), two = cell({{0, g0}, {1, g1}}),
                         three = cell({{0, g0}, {1, g1}, {2, g2}});
        EXPECT_LE(two.cases, one.cases);
        EXPECT_LE(two.ctrls, one.ctrls);
        EXPECT_LE(three.cases, two.cases);
        EXPECT_LE(three.ctrls, two.ctrls);
        EXPECT_LE(three.cases, cell({{1, g1}, {2, g2}}).cases);
      }
}

}  // namespace
}  // namespace velk
