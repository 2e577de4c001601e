// What a search reads of the study: the genotypes as split into cases and controls
// (as loaded, or by a permutation of the classes) and each SNP's statistic alone for
// that split. The counts, the thresholds and the bounds are the same for every split.
#pragma once

#include <cstdint>

namespace velk {

struct class_split {
  const uint64_t* store = nullptr;     // data/genotype_store.h layout
  const double* X2table1 = nullptr;    // one entry per SNP, zero up to whole store blocks
};

// The study as loaded: pgeno and X2table1.
class_split loaded_split();

}  // namespace velk
