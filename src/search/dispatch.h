// The entry of the search: runs the search of the requested order and, for three and
// four loci, moves the locus sets that pass the p-value bounds into the final list.
#pragma once

#include "search/dis_model.h"
#include "search/fast_search.h"

namespace velk {

// Which implementation searches: both give the same bytes; the straightforward one is
// kept as the reference that the fast one is tested against.
enum class search_path { straightforward, fast_table, fast_popcnt, fast_avx2, fast_avx512, fast };

void srDisLociV2(disModel& model, int order);
void srDisLociV2(disModel& model, int order, search_path path, const search_tuning& tuning = {});

}  // namespace velk
