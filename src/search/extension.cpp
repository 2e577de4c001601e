#include "search/extension.h"

#include <cstdio>
#include <vector>

#include "base/fail.h"
#include "data/genotype_store.h"
#include "search/candidate_rules.h"
#include "search/fast_search.h"
#include "search/pair_search.h"
#include "search/progress.h"
#include "ranking/list_image.h"
#include "stats/major_cell_table.h"

namespace velk {

namespace {

bool is_parent_locus(const int64_t* parent, int width, int64_t x) {
  for (int i = 0; i < width; ++i)
    if (parent[i] == x) return true;
  return false;
}

// Extends every parent of `from` (sorted worst first, walked best first) into `into`.
void extend_level(const top_k_list& from, top_k_list& into, int order, const class_split& split) {
  const int width = order - 1;
  int cells = 1;
  for (int i = 0; i < width; ++i) cells *= 3;
  const long words = static_cast<long>(slot_words());
  std::vector<uint64_t> combined(static_cast<size_t>(cells) * words);
  std::vector<int64_t> loci(order);
  double bound = 2.0;  // set once per level; it only rises
  const double per_parent = static_cast<double>(p - width);
  level_progress progress(order, from.count * per_parent);
  for (int j = from.count - 1; j >= 0; --j) {
    const multi_locus_node& parent = from.nodes[j];
    fill_combined_cells(split.store, parent.loci, width, combined.data());
    for (long x = 0; x < p; ++x) {
      if (is_parent_locus(parent.loci, width, x)) continue;
      major_cell_table t;
      for (int c = 0; c < cells; ++c) {
        const uint64_t* cell_cases = combined.data() + static_cast<size_t>(c) * words;
        const uint64_t* cell_ctrls = cell_cases + nlongintcase;
        for (int g = 0; g < 3; ++g) {
          const genotype_slot s = slot(split.store, x, g);
          int cases = 0, ctrls = 0;
          for (int w = 0; w < nlongintcase; ++w) cases += popcount(static_cast<int64_t>(cell_cases[w] & s.pcase[w]));
          for (int w = 0; w < nlongintctrl; ++w) ctrls += popcount(static_cast<int64_t>(cell_ctrls[w] & s.pctrl[w]));
          classify_cell(t, cases, ctrls);
        }
      }
      complete_table(t, ncase, nctrl);
      const double s = chi_square(t.cell, 3, 2);
      if (!admitted(s, bound, parent.chisq, split.X2table1[x])) continue;
      insert_sorted(parent.loci, width, x, loci.data());
      offer(into, bound, s, loci.data(), t.nmajor);
    }
    progress.advance((from.count - j) * per_parent);
  }
}

}  // namespace

void extend_level_straightforward(const top_k_list& from, top_k_list& into, int order, const class_split& split) {
  extend_level(from, into, order, split);
}

void Recur_srDisLoci_2(disModel& model, int order) { Recur_srDisLoci_2(model, order, loaded_split(), nullptr); }

void Recur_srDisLoci_2(disModel& model, int order, const class_split& split, const search_engine* engine) {
  if (order < 2) {
    report("Something Wrong!\n");
    return;
  }
  // A level below the one a run resumes was finished before: its list is restored.
  const bool done_before = engine != nullptr && engine->resume && engine->resume->order > order;
  disModel view;
  view.mirror_low(model, order);
  if (order == 2) {
    if (done_before) {
      // nothing to search
    } else if (engine != nullptr) {
      fast_pair_search(view, 0, split, *engine);
    } else {
      cal_TList1_major(view, 0, split);
    }
  } else {
    Recur_srDisLoci_2(model, order - 1, split, engine);
    if (engine == nullptr || engine->announce_levels) printf("\t %d loci interaction detecting completed!\n", order - 1);
    top_k_list& parents = *model.level_lists[order % 2];
    sort_top_k_list_asc(&parents);  // a restored list is sorted already and stays as it is
    // The lower levels' views reset the shared lists' widths for their own orders.
    view.result_list->nloci = order;
    const bool resumed_here = engine != nullptr && engine->resume && engine->resume->order == order;
    // The pairs are no longer needed; a level resumed here holds its own sets already.
    if (order == 4 && !done_before && !resumed_here) refresh_top_k_list(view.result_list, 4);
    if (done_before) {
      // nothing to search
    } else if (engine != nullptr) {
      share_list(*engine->processes, parents);
      fast_extend_level(parents, *view.result_list, order, split, *engine);
    } else {
      extend_level(parents, *view.result_list, order, split);
    }
  }
  view.mirror_low_pre_exit();
}

}  // namespace velk
