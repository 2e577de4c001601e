// Every counting kernel the CPU can run against the portable table kernel, over every
// word count past two accumulator flushes of the AVX2 kernel, random bits, exclusions
// and floors (some blocks then end before their thresholds), and every way of deriving
// the cells of complete SNPs.
#include "search/kernels/block_kernel.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "data/genotype_store.h"
#include "search/kernels/complete_cells.h"
#include "stats/thresholds.h"

namespace velk {
namespace {

struct kernel_fixture {
  std::vector<uint64_t> rows;  // row_ct row bitsets
  std::vector<const uint64_t*> row_ptrs;
  std::vector<uint64_t> block;  // 3 genotypes x words x lanes
  std::vector<uint64_t> packed;
  std::vector<double> inv;
  std::vector<double> floors;
  std::vector<int32_t> row_total;
  std::vector<int32_t> genotype_total;
  block_job job{};
};

// Which SNPs of a job are complete, per class (0 cases, 1 controls).
struct completeness {
  bool lanes[kClasses];
  bool rows[kClasses];
};

// A random job shaped like real data: every individual lies in at most one row (the
// rows are one SNP's genotypes, or a parent's disjoint combined cells) and has at most
// one genotype in each lane; a few are missing, so that cells of every size occur,
// except where `complete` says that the lanes, or the three rows, miss nobody of a
// class (the job tells the kernel so). Some jobs put (nearly) everyone in row 0 and
// genotype 0, so that the AVX2 kernel's byte counts reach their limit between flushes.
void make_job(kernel_fixture& f, std::mt19937_64& rng, int case_word_ct, int ctrl_word_ct, int row_ct,
              const thresholds& table, const completeness& complete) {
  const int words = case_word_ct + ctrl_word_ct;
  const double missing = std::uniform_real_distribution<double>(0.0, 0.5)(rng);
  const double skew = std::array<double, 3>{0.0, 0.9, 1.0}[rng() % 3];
  auto unit = [&] { return std::uniform_real_distribution<double>(0, 1)(rng); };
  auto pick = [&](int choices, bool whole) {  // -1 for missing
    if (!whole && unit() < missing) return -1;
    return unit() < skew ? 0 : static_cast<int>(rng() % choices);
  };
  f.rows.assign(static_cast<size_t>(row_ct) * words, 0);
  f.block.assign(static_cast<size_t>(3) * words * kLanes + 8, 0);
  for (int w = 0; w < words; ++w) {
    const int k = w < case_word_ct ? 0 : 1;
    for (int bit = 0; bit < 64; ++bit) {
      const int r = pick(row_ct, complete.rows[k]);
      if (r >= 0) f.rows[static_cast<size_t>(r) * words + w] |= 1ULL << bit;
      for (int l = 0; l < kLanes; ++l) {
        const int g = pick(3, complete.lanes[k]);
        if (g >= 0) f.block[(static_cast<size_t>(g) * words + w) * kLanes + l] |= 1ULL << bit;
      }
    }
  }
  f.row_ptrs.clear();
  for (int r = 0; r < row_ct; ++r) f.row_ptrs.push_back(f.rows.data() + static_cast<size_t>(r) * words);
  f.row_total.assign(static_cast<size_t>(row_ct) * kClasses, 0);
  count_rows(f.row_ptrs.data(), row_ct, case_word_ct, ctrl_word_ct, f.row_total.data());
  f.genotype_total.assign(3 * kClasses * kLanes, 0);
  for (int g = 0; g < 3; ++g)
    for (int w = 0; w < words; ++w)
      for (int l = 0; l < kLanes; ++l)
        f.genotype_total[(g * kClasses + (w < case_word_ct ? 0 : 1)) * kLanes + l] +=
            __builtin_popcountll(f.block[(static_cast<size_t>(g) * words + w) * kLanes + l]);
  const int n_all = static_cast<int>(table.case_min.size()) - 1;
  f.packed.resize(table.case_min.size());
  f.inv.assign(table.case_min.size(), 0.0);
  for (int m = 0; m <= n_all; ++m) {
    f.packed[m] = static_cast<uint32_t>(table.case_min[m]) | static_cast<uint64_t>(static_cast<uint32_t>(table.ctrl_min[m])) << 32;
    if (m > 0) f.inv[m] = 1.0 / m;
  }
  f.floors.resize(kLanes);
  for (double& x : f.floors) x = std::uniform_real_distribution<double>(0, 30)(rng);
  block_job& job = f.job;
  job = block_job{};
  job.rows = f.row_ptrs.data();
  job.row_ct = row_ct;
  job.block = f.block.data();
  job.case_word_ct = case_word_ct;
  job.ctrl_word_ct = ctrl_word_ct;
  job.case_min = table.case_min.data();
  job.ctrl_min = table.ctrl_min.data();
  job.packed_min = f.packed.data();
  job.case_ct = 64 * case_word_ct;
  job.ctrl_ct = 64 * ctrl_word_ct;
  job.inv_size = f.inv.data();
  job.inv_case_ctrl = (case_word_ct > 0 && ctrl_word_ct > 0) ? 1.0 / (double(job.case_ct) * double(job.ctrl_ct)) : 0.0;
  job.snp_floor = f.floors.data();
  job.level = std::uniform_real_distribution<double>(0, 20)(rng);
  job.excluded = static_cast<unsigned>(rng() & 0xFF);
  for (int k = 0; k < kClasses; ++k) {
    job.lanes_complete[k] = complete.lanes[k];
    job.rows_complete[k] = complete.rows[k];
  }
  job.row_total = f.row_total.data();
  job.genotype_total = f.genotype_total.data();
}

TEST(BlockKernel, EveryLevelMatchesTheTableKernel) {
  // Two flushes of the AVX2 byte accumulators (every 31 words) and a few words past.
  constexpr int kMaxWords = 65;
  // Thresholds over every cell size the largest job can produce.
  const thresholds table = build_thresholds(64 * 2 * kMaxWords, 0.5, 0.05);
  std::mt19937_64 rng(12345);
  kernel_fixture f;
  int compared = 0;
  for (int case_word_ct = 0; case_word_ct <= kMaxWords; ++case_word_ct) {
    for (int ctrl_word_ct : {0, 1, case_word_ct, kMaxWords - case_word_ct}) {
      for (int row_ct : {3, 9, 27}) {
        // Each class meets every way at every word count: the cases way `way`, the
        // controls the next one. Only a SNP's three rows can be complete rows.
        const int ways = row_ct == 3 ? 4 : 2;
        for (int way = 0; way < ways; ++way) {
          completeness complete{};
          for (int k = 0; k < kClasses; ++k) {
            const int w = (way + k) % ways;
            complete.lanes[k] = (w & 1) != 0;
            complete.rows[k] = (w & 2) != 0;
          }
          make_job(f, rng, case_word_ct, ctrl_word_ct, row_ct, table, complete);
          // The reference counts every cell. A kernel gives the survivors and their
          // tables; with no cutoff and no exclusion every lane survives, so that every
          // lane's table is compared too.
          for (bool everyone : {false, true}) {
            if (everyone) {
              f.job.level = 0;
              f.job.excluded = 0;
              for (double& x : f.floors) x = 0;
            }
            block_job counted = f.job;
            for (int k = 0; k < kClasses; ++k) counted.lanes_complete[k] = counted.rows_complete[k] = false;
            block_result want{};
            kernel_for(kernel_level::table)(counted, want);
            if (everyone) {
              EXPECT_EQ(want.survivors, (1u << kLanes) - 1);
            }
            for (kernel_level level : {kernel_level::table, kernel_level::popcnt, kernel_level::avx2,
                                       kernel_level::avx512}) {
              if (!kernel_supported(level)) continue;
              block_result got{};
              kernel_for(level)(f.job, got);
              SCOPED_TRACE(std::string(kernel_name(level)) + " case_word_ct=" + std::to_string(case_word_ct) +
                           " ctrl_word_ct=" + std::to_string(ctrl_word_ct) + " rows=" + std::to_string(row_ct) +
                           " way=" + std::to_string(way) + (everyone ? " everyone" : ""));
              EXPECT_EQ(got.survivors, want.survivors);
              for (unsigned mask = want.survivors; mask != 0; mask &= mask - 1) {
                const int l = __builtin_ctz(mask);
                EXPECT_EQ(got.case_major_ct[l], want.case_major_ct[l]);
                for (int c = 0; c < 6; ++c) EXPECT_EQ(got.table[c][l], want.table[c][l]) << "lane " << l;
              }
              ++compared;
            }
          }
        }
      }
    }
  }
  EXPECT_GT(compared, 0);
}

}  // namespace
}  // namespace velk
