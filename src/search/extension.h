// Three- and four-locus search: kept locus sets of one order, best first, each extended
// by every other SNP; an extension is kept when it beats its parent and its added SNP
// alone and reaches the level's running bound.
#pragma once

#include <cstdint>

#include "search/dis_model.h"

namespace velk {

struct search_engine;

// The parent's `width` ascending indices with x at its place among them, into `out`:
// every locus set is stored in ascending order, which makes the lists' duplicate test
// a test of sets.
void insert_sorted(const int64_t* parent, int width, int64_t x, int64_t* out);

// Completes the level list of `order` (2, 3 or 4), running the lower levels first,
// with the straightforward searches.
void Recur_srDisLoci_2(disModel& model, int order);

// Extends every parent of `from` (sorted worst first, walked best first) into `into`,
// one candidate at a time: the reference the fast extension is measured against.
void extend_level_straightforward(const top_k_list& from, top_k_list& into, int order);

// The same with the fast searches of `engine` (the straightforward ones when null).
void Recur_srDisLoci_2(disModel& model, int order, const search_engine* engine);

}  // namespace velk
