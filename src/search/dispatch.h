// The entry of the search: runs the search of the requested order and, for three and
// four loci, moves the locus sets that pass the p-value bounds into the final list.
#pragma once

#include "base/status.h"
#include "search/fast_search.h"  // search_stopped, which a stopped search throws
#include "search/search_context.h"
#include "search/search_input.h"
#include "search/search_model.h"

namespace velk {

// The kernel a path asks for, or the best one when this CPU cannot run it (the
// straightforward path: the best one).
kernel_level kernel_of(search_path path);

// Runs the search of the model's order on `in`, as `context` says. With a team of
// several ranks every rank calls it; only rank 0's lists fill.
void run_search(const search_model& model, const search_input& in, const search_context& context = {});

// The failure of the first of the model's lists that could not take a node for want of
// memory (top_k_list.h), or success: the run sequence checks it after the search.
status search_lists_status(const search_model& model);

}  // namespace velk
