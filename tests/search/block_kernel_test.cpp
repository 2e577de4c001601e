// Every counting kernel the CPU can run against the portable table kernel, over every
// word count up to a few words past a vector, random bits, exclusions and floors.
#include "search/block_kernel.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "data/genotype_store.h"
#include "stats/talpha.h"

namespace velk {
namespace {

struct kernel_fixture {
  std::vector<uint64_t> rows;   // nrows row bitsets
  std::vector<const uint64_t*> row_ptrs;
  std::vector<uint64_t> block;  // 3 genotypes x words x lanes
  std::vector<uint64_t> packed;
  std::vector<double> inv;
  std::vector<double> floors;
  block_job job{};
};

// A random job shaped like real data: every individual lies in at most one row (the
// rows are one SNP's genotypes, or a parent's disjoint combined cells) and has at most
// one genotype in each lane; a few are missing, so that cells of every size occur.
void make_job(kernel_fixture& f, std::mt19937_64& rng, int nlc, int nlt, int nrows, const Talpha& table) {
  const int words = nlc + nlt;
  const double missing = std::uniform_real_distribution<double>(0.0, 0.5)(rng);
  auto pick = [&](int choices) {  // -1 for missing
    return std::uniform_real_distribution<double>(0, 1)(rng) < missing ? -1 : static_cast<int>(rng() % choices);
  };
  f.rows.assign(static_cast<size_t>(nrows) * words, 0);
  f.block.assign(static_cast<size_t>(3) * words * kLanes + 8, 0);
  for (int w = 0; w < words; ++w) {
    for (int bit = 0; bit < 64; ++bit) {
      const int r = pick(nrows);
      if (r >= 0) f.rows[static_cast<size_t>(r) * words + w] |= 1ULL << bit;
      for (int l = 0; l < kLanes; ++l) {
        const int g = pick(3);
        if (g >= 0) f.block[(static_cast<size_t>(g) * words + w) * kLanes + l] |= 1ULL << bit;
      }
    }
  }
  f.row_ptrs.clear();
  for (int r = 0; r < nrows; ++r) f.row_ptrs.push_back(f.rows.data() + static_cast<size_t>(r) * words);
  const int n_all = table.size - 1;
  f.packed.resize(table.size);
  f.inv.assign(table.size, 0.0);
  for (int m = 0; m <= n_all; ++m) {
    f.packed[m] = static_cast<uint32_t>(table.T1[m]) | static_cast<uint64_t>(static_cast<uint32_t>(table.T2[m])) << 32;
    if (m > 0) f.inv[m] = 1.0 / m;
  }
  f.floors.resize(kLanes);
  for (double& x : f.floors) x = std::uniform_real_distribution<double>(0, 30)(rng);
  block_job& job = f.job;
  job = block_job{};
  job.rows = f.row_ptrs.data();
  job.nrows = nrows;
  job.block = f.block.data();
  job.nlc = nlc;
  job.nlt = nlt;
  job.T1 = table.T1;
  job.T2 = table.T2;
  job.T12 = f.packed.data();
  job.ncase = 64 * nlc;
  job.nctrl = 64 * nlt;
  job.inv_size = f.inv.data();
  job.inv_case_ctrl = (nlc > 0 && nlt > 0) ? 1.0 / (double(job.ncase) * double(job.nctrl)) : 0.0;
  job.snp_floor = f.floors.data();
  job.level = std::uniform_real_distribution<double>(0, 20)(rng);
  job.excluded = static_cast<unsigned>(rng() & 0xFF);
}

TEST(BlockKernel, EveryLevelMatchesTheTableKernel) {
  fill_wordbits();
  constexpr int kMaxWords = 11;
  // Thresholds over every cell size the largest job can produce.
  Talpha table;
  table.init(64 * 2 * kMaxWords, 0.5, 0.05);
  table.cul_T();
  std::mt19937_64 rng(12345);
  kernel_fixture f;
  for (kernel_level level : {kernel_level::popcnt, kernel_level::avx2, kernel_level::avx512}) {
    if (!kernel_supported(level)) continue;
    for (int nlc = 0; nlc <= kMaxWords; ++nlc) {
      for (int nlt : {0, 1, nlc, kMaxWords - nlc}) {
        for (int nrows : {3, 9, 27}) {
          make_job(f, rng, nlc, nlt, nrows, table);
          block_result want{}, got{};
          kernel_for(kernel_level::table)(f.job, want);
          kernel_for(level)(f.job, got);
          SCOPED_TRACE(std::string(kernel_name(level)) + " nlc=" + std::to_string(nlc) + " nlt=" +
                       std::to_string(nlt) + " rows=" + std::to_string(nrows));
          EXPECT_EQ(got.survivors, want.survivors);
          for (int l = 0; l < kLanes; ++l) {
            EXPECT_EQ(got.nmajor[l], want.nmajor[l]);
            for (int c = 0; c < 6; ++c) EXPECT_EQ(got.table[c][l], want.table[c][l]) << "lane " << l;
          }
        }
      }
    }
  }
  table.destroy();
}

}  // namespace
}  // namespace velk
