#include "search/extension.h"

#include <bit>
#include <cstdio>
#include <vector>

#include "search/candidate_rules.h"
#include "search/fast_search.h"
#include "search/pair_search.h"
#include "search/progress.h"
#include "search/list_image.h"
#include "stats/major_cell_table.h"

namespace velk {

namespace {

bool is_parent_locus(const int64_t* parent, int parent_order, int64_t x) {
  for (int i = 0; i < parent_order; ++i)
    if (parent[i] == x) return true;
  return false;
}

}  // namespace

void extend_level_straightforward(const top_k_list& from, top_k_list& into, int order, const search_input& in) {
  const store_shape& shape = in.shape();
  const long snp_ct = shape.snp_ct;
  const int parent_order = order - 1;
  const int cells = cell_total(parent_order);
  const long words = static_cast<long>(shape.slot_words());
  std::vector<uint64_t> combined(static_cast<size_t>(cells) * words),
      scratch(3 * static_cast<size_t>(parent_order) * words);
  std::vector<int64_t> loci(order);
  double bound = 2.0;  // set once per level; it only rises
  const double per_parent = static_cast<double>(snp_ct - parent_order);
  level_progress progress(order, from.count * per_parent);
  for (int j = from.count - 1; j >= 0; --j) {
    const multi_locus_node& parent = from.nodes[j];
    fill_combined_cells(*in.store, parent.loci, parent_order, scratch.data(), combined.data());
    for (long x = 0; x < snp_ct; ++x) {
      if (is_parent_locus(parent.loci, parent_order, x)) continue;
      const major_cell_table t = cells_against_snp(in, combined.data(), cells, x);
      const double s = chi_square(t.cell, 3, 2);
      if (!admitted(s, bound, parent.chisq, in.single[x])) continue;
      insert_sorted(parent.loci, parent_order, x, loci.data());
      if (!may_offer(in, loci.data(), parent_order + 1)) continue;
      offer(into, bound, s, loci.data(), t.case_major_ct);
    }
    progress.advance((from.count - j) * per_parent);
  }
}

void search_levels(const search_model& model, int order, const search_input& in, const search_context& context,
                   const search_engine* engine) {
  // A level below the one a run resumes was finished before: its list is restored.
  const bool done_before = engine != nullptr && context.resume && context.resume->order > order;
  top_k_list& into = level_list(model, order);
  into.order = order;
  if (order == 2) {
    if (done_before) {
      // nothing to search
    } else if (engine != nullptr) {
      fast_pair_search(into, false, in, context, *engine);
    } else {
      pair_search(into, false, in);
    }
    return;
  }
  search_levels(model, order - 1, in, context, engine);
  if (engine == nullptr || context.announce_levels) printf("\t %d loci interaction detecting completed!\n", order - 1);
  top_k_list& parents = level_list(model, order - 1);
  sort_top_k_list_asc(&parents);  // a restored list is sorted already and stays as it is
  // The lower levels reset the shared lists' widths for their own orders.
  into.order = order;
  const bool resumed_here = engine != nullptr && context.resume && context.resume->order == order;
  // The pairs are no longer needed; a level resumed here holds its own sets already.
  if (order == 4 && !done_before && !resumed_here) refresh_top_k_list(&into, 4);
  if (done_before) return;
  if (engine != nullptr) {
    share_list(*context.processes, parents);
    fast_extend_level(parents, into, order, in, context, *engine);
  } else {
    extend_level_straightforward(parents, into, order, in);
  }
}

}  // namespace velk
