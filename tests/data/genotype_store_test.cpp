#include "data/genotype_store.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

namespace velk {
namespace {

// The shifts of the parallel count are arithmetic, so negative values are where a
// missing mask would smear the sign bit into the sums.
TEST(BitCount, MatchesTheNumberOfSetBits) {
  const int64_t values[] = {0, 1, 3, 0xFFFF, -1, -2, INT64_MIN, INT64_MAX, 0x5555555555555555LL,
                            0x0123456789ABCDEFLL, static_cast<int64_t>(0xFFFF000000000000ULL),
                            static_cast<int64_t>(0x8000000000000001ULL)};
  for (int64_t v : values) EXPECT_EQ(bitCount(v), __builtin_popcountll(static_cast<uint64_t>(v))) << v;
}

TEST(Popcount, TableAndWordEdgeValues) {
  fill_wordbits();
  EXPECT_EQ(wordbits[0], 0);
  EXPECT_EQ(wordbits[1], 1);
  EXPECT_EQ(wordbits[3], 2);
  EXPECT_EQ(wordbits[0x8000], 1);
  EXPECT_EQ(wordbits[65535], 16);

  const struct {
    int64_t value;
    int bits;
  } cases[] = {{0, 0},
               {-1, 64},
               {INT64_MIN, 1},  // the top chunk is taken unsigned
               {0xFFFF, 16},
               {static_cast<int64_t>(0xFFFF000000000000ULL), 16},
               {0x0000FFFF00000000LL, 16},
               {0x0001000100010001LL, 4},
               {INT64_MAX, 63}};
  for (const auto& c : cases) EXPECT_EQ(popcount(c.value), c.bits) << c.value;
}

TEST(WordCount, RoundsUpToWholeWords) {
  const struct {
    int individuals, words;
  } cases[] = {{0, 0}, {1, 1}, {63, 1}, {64, 1}, {65, 2}, {128, 2}, {129, 3}};
  for (const auto& c : cases) EXPECT_EQ(word_count(c.individuals), c.words) << c.individuals;
}

// Builds a store in-process and puts the globals back afterwards, since other tests
// share them.
class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = {p, n, ncase, nctrl, nlongintcase, nlongintctrl};
    fill_wordbits();
  }
  void TearDown() override {
    release_store();
    p = saved_[0];
    n = saved_[1];
    ncase = saved_[2];
    nctrl = saved_[3];
    nlongintcase = saved_[4];
    nlongintctrl = saved_[5];
  }
  void make(int snps, int cases, int ctrls) {
    p = snps;
    ncase = cases;
    nctrl = ctrls;
    n = cases + ctrls;
    create_store();
  }
  // Sets individual d's genotype g at SNP s; g outside 0..2 is a missing genotype.
  static void put(int s, bool is_case, int d, int g) {
    if (g < 0 || g > 2) return;
    set_individual(is_case ? slot(s, g).pcase : slot(s, g).pctrl, d);
  }
  static cell_count cell(const std::vector<std::pair<int, int>>& snp_genotypes) {
    genotype_slot slots[4];
    int k = 0;
    for (auto [s, g] : snp_genotypes) slots[k++] = slot(s, g);
    return count_cell(slots, k);
  }

 private:
  std::array<int, 6> saved_{};
};

TEST_F(StoreTest, BitLayoutAndSlotsDoNotOverlap) {
  make(2, 65, 64);
  EXPECT_EQ(nlongintcase, 2);
  EXPECT_EQ(nlongintctrl, 1);
  put(0, true, 64, 1);   // case 64: bit 0 of word 1
  put(0, false, 63, 1);  // control 63: bit 63 of word 0
  put(1, true, 0, 2);
  EXPECT_EQ(slot(0, 1).pcase[0], 0u);
  EXPECT_EQ(slot(0, 1).pcase[1], 1u);
  EXPECT_EQ(slot(0, 1).pctrl[0], uint64_t{1} << 63);
  EXPECT_EQ(slot(1, 2).pcase[0], 1u);
  // The other slots start zeroed and nothing leaked into them.
  for (int s = 0; s < 2; ++s)
    for (int g = 0; g < 3; ++g)
      if ((s != 0 || g != 1) && (s != 1 || g != 2)) {
        EXPECT_EQ(slot(s, g).pcase[0] | slot(s, g).pcase[1] | slot(s, g).pctrl[0], 0u) << s << g;
      }
}

TEST_F(StoreTest, NoCasesMeansNoCaseWordsAndZeroCounts) {
  make(1, 0, 3);
  EXPECT_EQ(nlongintcase, 0);
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
    EXPECT_EQ(a, ncase - missing_cases[s]) << s;
    EXPECT_EQ(b, nctrl - missing_ctrls[s]) << s;
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
