// The counting kernels of the fast searches: the cells of a row set (a SNP's three
// genotypes, or a parent's combined cells) against one block of kLanes candidate SNPs,
// classified into each lane's major-cell table, with a cheap screen of the statistic.
//
// Every kernel gives exactly the same survivors and tables; only the speed differs.
// Where the job says that the block's SNPs or the row SNP are complete in a class, a
// kernel counts fewer cells and derives the others (search/complete_cells.h). The
// screen is a filter: a lane is dropped only when its statistic is certainly below the
// lane's cutoff; surviving lanes get the exact statistic from their exact tables
// afterwards.
#pragma once

#include <cstdint>

#include "data/genotype_store.h"
#include "search/kernels/complete_cells.h"

namespace velk {

struct block_job {
  const uint64_t* const* rows;  // row_ct bitsets of case_word_ct case words then ctrl_word_ct control words
  int row_ct;                   // a multiple of 3
  const uint64_t* block;        // a lane-store block
  int case_word_ct, ctrl_word_ct;
  const int* case_min;  // thresholds by cell size
  const int* ctrl_min;
  const uint64_t* packed_min;  // case_min | ctrl_min << 32 by cell size: one gather for both
  int case_ct, ctrl_ct;
  const double* inv_size;       // 1.0 / r for r = 1 ... n; entry 0 is 0
  double inv_case_ctrl;         // 1 / (case_ct * ctrl_ct), or 0 when a class is empty
  const double* snp_floor;      // kLanes entries: each candidate SNP's own statistic
  double level;                 // the larger of the running bound and the row set's statistic
  unsigned excluded;            // lanes that hold no candidate
  // Complete SNPs, per class k (0 cases, 1 controls); all false counts every cell.
  bool lanes_complete[kClasses];  // every lane of the block holds a SNP complete in class k
  bool rows_complete[kClasses];   // row_ct is 3: the rows are the genotypes of a SNP complete in k
  const int32_t* row_total;       // [r * kClasses + k]: set bits of row r in class k
  const int32_t* genotype_total;  // the block's counts, [(g * kClasses + k) * kLanes + lane]
};

struct block_result {
  unsigned survivors;         // bit l: lane l may pass its tests
  // The major-cell table (row-major cells) and case-major count of each surviving lane;
  // a kernel may leave the other lanes' entries unset.
  int64_t table[6][kLanes];
  int64_t case_major_ct[kLanes];
};

using block_kernel = void (*)(const block_job&, block_result&);

enum class kernel_level { table, popcnt, avx2, avx512 };

// Whether this CPU can run a level, and the best level it can run (read once).
bool kernel_supported(kernel_level level);
kernel_level best_kernel_level();
block_kernel kernel_for(kernel_level level);
const char* kernel_name(kernel_level level);

// A lane survives unless its statistic is certainly below max(level, snp_floor): a
// candidate below that would fail the search's tests anyway. The screen computes
// chi = sum over rows of D^2 / (r * case_ct * ctrl_ct), with D = cases * ctrl_ct - controls *
// case_ct and r the row's size: Pearson's statistic of a table with these column totals,
// in a form without a division per cell. Its rounding error, and that of the exact
// statistic, are far inside this margin, so a lane below cutoff(L) is below L.
inline double screen_cutoff(double level) { return level * (1.0 - 1e-9) - 1e-9; }

}  // namespace velk
