#include "search/dispatch.h"

#include <libalglib/specialfunctions.h>

#include <cstdio>

#include "data/genotype_store.h"
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

void srDisLociV2(disModel& model, int order) { srDisLociV2(model, order, search_context{}); }

void srDisLociV2(disModel& model, int order, const search_context& context) {
  const class_split split = context.split.store != nullptr ? context.split : loaded_split();
  // A run that resumes after its search (its permutations stood unfinished) has its
  // lists back as the search left them; the lower levels still announce themselves.
  const bool searched_before = context.resume && context.resume->order > order;
  if (order == 1) {
    if (leads(*context.processes) && !searched_before) find_top_k_single_loci_2(model, split);
    return;
  }
  search_engine engine;
  const bool fast = context.path != search_path::straightforward;
  if (fast) {
    prepare_engine(engine, kernel_of(context.path), context.tuning);
    engine.processes = context.processes;
    engine.show_progress = leads(*context.processes);
    engine.after_band = context.after_band;
    engine.resume = context.resume;
  }
  if (order == 2) {
    if (searched_before)
      return;
    else if (fast)
      fast_pair_search(model, 1, split, engine);
    else
      cal_TList1_major(model, 1, split);
    return;
  }
  if (model.exhaustv == 1) {
    if (!searched_before) {
      split_completeness complete;
      const exhaustive_input in = exhaustive_input_of(split, complete);
      top_k_list& list = *model.level_lists[(order - 1) % 2];
      if (fast)
        fast_exhaustive_search(in, order, 2.0, engine, list);
      else
        exhaustive_search_straightforward(in, order, 2.0, list);
    }
    printf("\t All %d-locus sets searched!\n", order);
  } else {
    Recur_srDisLoci_2(model, order, split, fast ? &engine : nullptr);
  }
  if (searched_before) return;
  // The number of locus sets of the order, in floating point, for the corrected bound.
  double sets = 1;
  for (int i = 0; i < order; ++i) {
    sets = sets * (p - i);
    sets = sets / (order - i);
  }
  const top_k_list& level = *model.level_lists[(order - 1) % 2];
  // In the level list's own array order: ties in the final list depend on it.
  for (int i = 0; i < level.count; ++i) {
    const multi_locus_node& node = level.nodes[i];
    const double raw = alglib::chisquarecdistribution(2, node.chisq);
    if (raw <= MAX_Genome_PV || raw * sets <= Max_chi_pv_in) insert_top_k_list(model.result_list, &node);
  }
}

}  // namespace velk
