// The files of a finished run, replaced together: VELKResult.txt; after permutations,
// VELKpermutations.txt and VELKpermutation_maxima.txt; and the companions the run
// passes (its record VELKrun.json, the individuals it left out in VELKexcluded.txt, the
// fit of the permutations' tail in VELKpermutation_tail.txt).
//
// Every new file is written and synced under a temporary name before anything is
// replaced; only then are the new files renamed into place, the result first. A run
// without permutations removes the permutation files, and a companion the run has
// no text for is removed: they would describe another result. A run that cannot write
// its files leaves the earlier ones as they were, and no file of an earlier run stands
// beside a newer result (a run stopped during its permutations has written nothing
// yet).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/status.h"
#include "results/permutation_files.h"
#include "search/top_k_list.h"

namespace velk {

// A file written with the result, or removed with it when `text` is absent.
struct companion_file {
  const char* name;
  std::optional<std::string> text;
};

// The failure of a run that cannot create its result file (status 255).
status result_not_created();

// Whether every file in `names` can be created now (a probe opens and gives up each):
// the failure says which could not, and why, in its hint. Run before a search, so that
// an unwritable folder costs seconds, not the search.
status check_run_files_creatable(const std::vector<const char*>& names);

// Writes `result` (`order` SNPs per set), with `permutations` given the permutation
// table and maxima, and the companions; without `permutations` the permutation files
// (VELKpermutation_tail.txt too) are removed. Fails (status 255) saying which file
// could not be created or written.
status write_run_files(const top_k_list& result, int order, const permutation_outcome* permutations,
                       const std::vector<companion_file>& companions = {});

}  // namespace velk
