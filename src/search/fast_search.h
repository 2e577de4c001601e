// The fast pair search and level extension: the same candidates, statistics, tests and
// order of offers as the straightforward searches, computed kLanes candidates at a
// time, on every core.
//
// Candidates are screened in bands: the workers of a band compute every candidate's
// exact table and keep those whose statistic may reach the running bound as it stood
// when the band began (the bound only rises, so a lagging bound keeps a superset).
// The kept candidates are then offered one by one in the order of the straightforward
// search, under the same tests with the real bound, so the lists end up identical.
#pragma once

#include <cstddef>
#include <vector>

#include "data/lane_store.h"
#include "search/block_kernel.h"
#include "search/dis_model.h"

namespace velk {

// Sizes of the units of work; they change the speed, never the result.
struct search_tuning {
  long band_candidates = 1L << 20;  // candidates screened per band, once bands are grown
  long first_band_rows = 8;         // rows (pair search) or parents in the first band;
                                    // bands double from there, so the bound lags little
  size_t tile_bytes = 256 * 1024;   // lane-store blocks met by a band's rows while cached
};

struct search_engine {
  lane_store lanes;
  block_kernel kernel = nullptr;
  search_tuning tuning;
  std::vector<double> inv_size;      // 1.0 / r by row size r
  std::vector<uint64_t> thresholds;  // T1 | T2 << 32 by cell size
  std::vector<double> snp_floor;     // single-locus statistics, padded to whole blocks
  double inv_case_ctrl = 0.0;
};

// Builds the interleaved store, picks the kernel and derives the lookup tables; needs
// the loaded store, the threshold tables and the single-locus statistics.
void prepare_engine(search_engine& engine, kernel_level level, const search_tuning& tuning);

// Same contract as cal_TList1_major.
void fast_pair_search(disModel& model, int final_mode, const search_engine& engine);

// Extends every parent of `from` (sorted worst first, walked best first) into `into`.
void fast_extend_level(const top_k_list& from, top_k_list& into, int order, const search_engine& engine);

}  // namespace velk
