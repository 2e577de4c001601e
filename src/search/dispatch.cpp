#include "search/dispatch.h"

#include <libalglib/specialfunctions.h>

#include <cstdio>
#include <initializer_list>

#include "search/exhaustive_search.h"
#include "search/extension.h"
#include "search/pair_search.h"

namespace velk {

kernel_level kernel_of(search_path path) {
  kernel_level wanted = best_kernel_level();
  switch (path) {
    case search_path::fast_table:
      wanted = kernel_level::table;
      break;
    case search_path::fast_popcnt:
      wanted = kernel_level::popcnt;
      break;
    case search_path::fast_avx2:
      wanted = kernel_level::avx2;
      break;
    case search_path::fast_avx512:
      wanted = kernel_level::avx512;
      break;
    default:
      break;
  }
  return kernel_supported(wanted) ? wanted : best_kernel_level();
}

void run_search(const search_model& model, const search_input& in, const search_context& context) {
  const int order = model.params.order;
  // A run that resumes after its search (its permutations stood unfinished) has its
  // lists back as the search left them; the lower levels still announce themselves.
  const bool searched_before = context.resume && context.resume->order > order;
  if (order == 1) {
    if (leads(*context.processes) && !searched_before) single_snp_search(*model.result_list, in);
    return;
  }
  search_engine engine;
  const bool fast = context.path != search_path::straightforward;
  if (fast) prepare_engine(engine, kernel_of(context.path), in);
  if (order == 2) {
    if (searched_before)
      return;
    else if (fast)
      fast_pair_search(*model.result_list, true, in, context, engine);
    else
      pair_search(*model.result_list, true, in);
    return;
  }
  if (is_exhaustive(model.params)) {
    if (!searched_before) {
      top_k_list& list = level_list(model, order);
      if (fast)
        fast_exhaustive_search(in, order, 2.0, context, engine, list);
      else
        exhaustive_search_straightforward(in, order, 2.0, list);
    }
    printf("\t All %d-locus sets searched!\n", order);
  } else {
    search_levels(model, order, in, context, fast ? &engine : nullptr);
  }
  if (searched_before) return;
  const double sets = in.rules != nullptr ? in.allowed_sets : locus_set_count(in.snp_ct(), order);
  const top_k_list& level = level_list(model, order);
  // In the level list's own array order: ties in the final list depend on it.
  for (int i = 0; i < level.count; ++i) {
    const multi_locus_node& node = level.nodes[i];
    const double raw = alglib::chisquarecdistribution(2, node.chisq);
    if (raw <= in.bounds.raw || raw * sets <= in.bounds.corrected) insert_top_k_list(model.result_list, &node);
  }
}

status search_lists_status(const search_model& model) {
  for (const top_k_list* list : {model.result_list, model.level_lists[0], model.level_lists[1]})
    if (list != nullptr && !top_k_list_status(*list).ok()) return top_k_list_status(*list);
  return ok_status();
}

}  // namespace velk
