// The files of a finished run, replaced together: VELKResult.txt and, after
// permutations, VELKpermutations.txt and VELKpermutation_maxima.txt.
//
// Every new file is written and synced under a temporary name before anything is
// replaced; only then are the new files renamed into place, the result first, and a
// run without permutations removes the permutation files, which would describe another
// result. A run that cannot write its files leaves the earlier ones as they were, and
// no permutation file of an earlier run stands beside a newer result (a run stopped
// during its permutations has written nothing yet).
#pragma once

#include <vector>

#include "base/status.h"
#include "search/top_k_list.h"

namespace velk {

// The failure of a run that cannot create its result file (status 255); a run with
// permutations finds it out before its search too.
status result_not_created();

// Writes `result` (`order` SNPs per set) and, when `maxima` is given (one per
// permutation), the permutation files; without `maxima` the permutation files are
// removed. Fails (status 255) saying which file could not be created or written.
status write_run_files(const top_k_list& result, int order, const std::vector<double>* maxima);

}  // namespace velk
