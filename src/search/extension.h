// Three- and four-locus search: kept locus sets of one order, best first, each extended
// by every other SNP; an extension is kept when it beats its parent and its added SNP
// alone and reaches the level's running bound.
#pragma once

#include "search/search_input.h"
#include "search/search_model.h"

namespace velk {

struct search_context;
struct search_engine;

// Extends every parent of `from` (sorted worst first, walked best first) into `into`,
// one candidate at a time: the reference the fast extension is measured against.
void extend_level_straightforward(const top_k_list& from, top_k_list& into, int order, const search_input& in);

// Completes the level list of `order` (2, 3 or 4), running the lower levels first,
// as `context` says, with the fast searches of `engine` (the straightforward ones when
// null, which neither resume nor share). With a team of several ranks every rank calls
// it; each level's parents go from rank 0 to every rank before the level starts.
void search_levels(const search_model& model, int order, const search_input& in, const search_context& context,
                   const search_engine* engine);

}  // namespace velk
