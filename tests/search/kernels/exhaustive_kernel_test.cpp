// The exhaustive kernel of every level this CPU runs against the straightforward count
// of each set's table: random stores with missing genotypes (none in some, or in one
// class or one SNP only, so that SNPs, blocks and classes are complete and a triple's
// cells are derived there), class sizes that end inside a word, every word count of a class
// past two flushes of an AVX2 accumulator, parents of three and four SNPs that share a
// prefix (the worker keeps the prefix's counts between them), and every lane of every
// block above the parent, including lanes at or below its last SNP, whose tables follow
// from the same identities; and, with cutoffs (which choose the single-precision path
// of blocks complete in both classes), that no lane reaching its cutoff is lost to the
// bound before the thresholds and that every surviving lane's table is exact.
#include "search/kernels/exhaustive_kernel.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "search/band_walk.h"
#include "search/candidate_rules.h"
#include "search/exhaustive_search.h"
#include "stats/major_cell_table.h"
#include "stats/thresholds.h"

namespace velk {
namespace {

// A class of `words` words whose last word is partly empty (when it has any).
int class_size(std::mt19937_64& rng, int words) { return words == 0 ? 0 : 64 * words - static_cast<int>(rng() % 64); }

genotype_store random_store(std::mt19937_64& rng, int snp_ct, int case_ct, int ctrl_ct, memory_budget& budget) {
  genotype_store store;
  EXPECT_TRUE(new_store(make_shape(snp_ct, case_ct, ctrl_ct), budget, store).ok());
  // Missing genotypes: none, a few, many; in both classes or in one only; in every SNP
  // or in one SNP of the first block (which makes it, and its block, incomplete).
  const double missing = std::array<double, 3>{0.0, 0.01, 0.2}[rng() % 3];
  const int missing_class = static_cast<int>(rng() % 3);  // 2: both
  const int missing_snp = rng() % 2 ? static_cast<int>(rng() % kLanes) : -1;
  std::uniform_real_distribution<double> unit(0, 1);
  for (int s = 0; s < snp_ct; ++s)
    for (int k = 0; k < 2; ++k)
      for (int d = 0; d < (k == 0 ? case_ct : ctrl_ct); ++d) {
        const bool may_miss = (missing_class == 2 || missing_class == k) && (missing_snp < 0 || missing_snp == s);
        if (may_miss && unit(rng) < missing) continue;
        const genotype_slot g = slot(store, s, static_cast<int>(rng() % 3));
        set_individual(k == 0 ? g.cases : g.ctrls, d);
      }
  return store;
}

TEST(ExhaustiveKernel, EveryLevelGivesTheTablesOfTheStraightforwardCount) {
  constexpr int kMaxWords = 65;
  constexpr int kSnps = 13;  // a second block, partly empty
  std::mt19937_64 rng(20261209);
  memory_budget budget;
  const std::vector<std::vector<int64_t>> parents = {{0, 1}, {0, 6}, {3, 8}, {0, 1, 2}, {0, 1, 9}, {2, 4, 5}};
  int compared = 0, derived = 0;
  for (int case_words = 0; case_words <= kMaxWords; ++case_words) {
    for (int ctrl_words : {0, 1, case_words, kMaxWords - case_words}) {
      const int case_ct = class_size(rng, case_words), ctrl_ct = class_size(rng, ctrl_words);
      if (case_ct + ctrl_ct == 0) continue;
      const genotype_store store = random_store(rng, kSnps, case_ct, ctrl_ct, budget);
      const thresholds cells = build_thresholds(case_ct + ctrl_ct, double(case_ct) / (case_ct + ctrl_ct), 0.05);
      const std::vector<double> single(static_cast<size_t>(store.shape.block_ct()) * kLanes, 0.0);
      search_input in;
      in.store = &store;
      in.single = single.data();
      in.cells = &cells;
      in.budget = &budget;
      const size_t words = store.shape.slot_words();
      for (kernel_level level :
           {kernel_level::table, kernel_level::popcnt, kernel_level::avx2, kernel_level::avx512}) {
        if (!kernel_supported(level)) continue;
        search_engine engine;
        prepare_engine(engine, level, in);
        const block_job base = base_job(engine, in);
        complete_tables complete[2];  // a set's cells derived in its complete classes
        find_complete_tables(in, engine.exhaustive, 3, complete[0]);
        find_complete_tables(in, engine.exhaustive, 4, complete[1]);
        exhaustive_worker worker;  // one for all parents, as a thread keeps it
        for (const std::vector<int64_t>& parent : parents) {
          const int parent_order = static_cast<int>(parent.size());
          take_parent(worker, in, engine.exhaustive, parent.data(), parent_order, &complete[parent_order - 2]);
          const int total = cell_total(parent_order);
          std::vector<uint64_t> combined(static_cast<size_t>(total + 3 * parent_order) * words);
          fill_combined_cells(store, parent.data(), parent_order, combined.data() + static_cast<size_t>(total) * words,
                              combined.data());
          for (long b = (parent.back() + 1) / kLanes; b < store.shape.block_ct(); ++b) {
            exhaustive_job job = parent_block_job(worker, base, in, b, &complete[parent_order - 2]);
            derived += job.complete[0] + job.complete[1];
            block_result got{};
            // First with no cutoff, so that every lane survives and every table is
            // compared; then with the cutoff at one lane's statistic (or a random
            // one), which the bound before the thresholds must not cut.
            job.block.level = 0;
            job.block.excluded = 0;
            engine.exhaustive.block(job, got);
            double stat[kLanes] = {};
            major_cell_table want_of[kLanes] = {};
            for (int l = 0; l < kLanes && b * kLanes + l < kSnps; ++l) {
              const major_cell_table want = cells_against_snp(in, combined.data(), total, b * kLanes + l);
              want_of[l] = want;
              stat[l] = chi_square(want.cell, 3, 2);
              SCOPED_TRACE(std::string(kernel_name(level)) + " case_words=" + std::to_string(case_words) +
                           " ctrl_words=" + std::to_string(ctrl_words) + " parent order " +
                           std::to_string(parent_order) + " SNP " + std::to_string(b * kLanes + l));
              ASSERT_TRUE(got.survivors >> l & 1u);
              EXPECT_EQ(got.case_major_ct[l], want.case_major_ct);
              for (int c = 0; c < 6; ++c) EXPECT_EQ(got.table[c][l], want.cell[c]) << "cell " << c;
              ++compared;
            }
            job.block.level = rng() % 2 ? stat[rng() % kLanes] : std::uniform_real_distribution<double>(0, 40)(rng);
            job.block.excluded = static_cast<unsigned>(rng() & 0xFF);
            engine.exhaustive.block(job, got);
            for (int l = 0; l < kLanes && b * kLanes + l < kSnps; ++l) {
              if (!(job.block.excluded >> l & 1u) && stat[l] >= job.block.level) {
                EXPECT_TRUE(got.survivors >> l & 1u) << kernel_name(level) << " lane " << l << " statistic " << stat[l]
                                                     << " level " << job.block.level;
              }
              // A survivor's table is exact whatever path the cutoff chose (at 1 or
              // more, a block complete in both classes runs in single precision).
              if (got.survivors >> l & 1u) {
                EXPECT_EQ(got.case_major_ct[l], want_of[l].case_major_ct) << kernel_name(level) << " lane " << l;
                for (int c = 0; c < 6; ++c) EXPECT_EQ(got.table[c][l], want_of[l].cell[c]) << "cell " << c;
              }
            }
          }
        }
      }
    }
  }
  EXPECT_GT(compared, 0);
  EXPECT_GT(derived, 0);
}

}  // namespace
}  // namespace velk
