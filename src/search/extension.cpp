#include "search/extension.h"

#include <cstdio>
#include <vector>

#include "base/fail.h"
#include "data/genotype_store.h"
#include "search/fast_search.h"
#include "search/pair_search.h"
#include "search/progress.h"
#include "stats/major_cell_table.h"

namespace velk {

namespace {

// The genotype cells of a parent, as bitsets: cell g0 + 3 g1 (+ 9 g2) is the AND of the
// slots (a0, g0), (a1, g1) (and (a2, g2)); the genotype of the smallest index varies
// fastest. Built once per parent, so that each candidate SNP costs one AND per word.
struct combined_cells {
  int cells = 0;
  int words = 0;  // nlongintcase + nlongintctrl per cell
  std::vector<uint64_t> bits;

  explicit combined_cells(int parent_width) {
    cells = 1;
    for (int i = 0; i < parent_width; ++i) cells *= 3;
    words = nlongintcase + nlongintctrl;
    bits.assign(static_cast<size_t>(cells) * words, 0);
  }
  uint64_t* cases(int c) { return bits.data() + static_cast<size_t>(c) * words; }
  uint64_t* ctrls(int c) { return cases(c) + nlongintcase; }

  void fill(const int64_t* parent, int width) {
    for (int c = 0; c < cells; ++c) {
      int code = c;
      const uint64_t* case_bits[3];
      const uint64_t* ctrl_bits[3];
      for (int i = 0; i < width; ++i) {
        const genotype_slot& s = slot(parent[i], code % 3);
        code /= 3;
        case_bits[i] = s.pcase;
        ctrl_bits[i] = s.pctrl;
      }
      for (int w = 0; w < nlongintcase; ++w) {
        uint64_t word = case_bits[0][w];
        for (int i = 1; i < width; ++i) word &= case_bits[i][w];
        cases(c)[w] = word;
      }
      for (int w = 0; w < nlongintctrl; ++w) {
        uint64_t word = ctrl_bits[0][w];
        for (int i = 1; i < width; ++i) word &= ctrl_bits[i][w];
        ctrls(c)[w] = word;
      }
    }
  }
};

bool is_parent_locus(const int64_t* parent, int width, int64_t x) {
  for (int i = 0; i < width; ++i)
    if (parent[i] == x) return true;
  return false;
}

// Extends every parent of `from` (sorted worst first, walked best first) into `into`.
void extend_level(const top_k_list& from, top_k_list& into, int order) {
  const int width = order - 1;
  combined_cells cells(width);
  std::vector<int64_t> loci(order);
  double bound = 2.0;  // set once per level; it only rises
  const double per_parent = static_cast<double>(p - width);
  level_progress progress(order, from.count * per_parent);
  for (int j = from.count - 1; j >= 0; --j) {
    const multi_locus_node& parent = from.nodes[j];
    cells.fill(parent.loci, width);
    for (long x = 0; x < p; ++x) {
      if (is_parent_locus(parent.loci, width, x)) continue;
      major_cell_table t;
      for (int c = 0; c < cells.cells; ++c) {
        for (int g = 0; g < 3; ++g) {
          const genotype_slot& s = slot(x, g);
          const uint64_t* case_bits[2] = {cells.cases(c), s.pcase};
          const uint64_t* ctrl_bits[2] = {cells.ctrls(c), s.pctrl};
          classify_cell(t, count_and(case_bits, 2, nlongintcase), count_and(ctrl_bits, 2, nlongintctrl));
        }
      }
      complete_table(t, ncase, nctrl);
      const double s = chi_square(t.cell, 3, 2);
      // Equal to the bound passes; equal to the parent or to the SNP alone does not.
      if (s < bound || s <= parent.chisq || s <= X2table1[x]) continue;
      insert_sorted(parent.loci, width, x, loci.data());
      const multi_locus_node node{s, loci.data(), t.nmajor};
      insert_top_k_list(&into, &node);
      if (has_full_root(into) && into.nodes[0].chisq > bound) bound = into.nodes[0].chisq;
    }
    progress.advance((from.count - j) * per_parent);
  }
}

}  // namespace

void insert_sorted(const int64_t* parent, int width, int64_t x, int64_t* out) {
  int o = 0;
  int i = 0;
  while (i < width && parent[i] < x) out[o++] = parent[i++];
  out[o++] = x;
  while (i < width) out[o++] = parent[i++];
}

void extend_level_straightforward(const top_k_list& from, top_k_list& into, int order) {
  extend_level(from, into, order);
}

void Recur_srDisLoci_2(disModel& model, int order) { Recur_srDisLoci_2(model, order, nullptr); }

void Recur_srDisLoci_2(disModel& model, int order, const search_engine* engine) {
  if (order < 2) {
    report("Something Wrong!\n");
    return;
  }
  disModel view;
  view.mirror_low(model, order);
  if (order == 2) {
    if (engine != nullptr)
      fast_pair_search(view, 0, *engine);
    else
      cal_TList1_major(view, 0);
  } else {
    Recur_srDisLoci_2(model, order - 1, engine);
    printf("\t %d loci interaction detecting completed!\n", order - 1);
    top_k_list& parents = *model.level_lists[order % 2];
    sort_top_k_list_asc(&parents);
    // The lower levels' views reset the shared lists' widths for their own orders.
    view.result_list->nloci = order;
    if (order == 4) refresh_top_k_list(view.result_list, 4);  // the pairs are no longer needed
    if (engine != nullptr)
      fast_extend_level(parents, *view.result_list, order, *engine);
    else
      extend_level(parents, *view.result_list, order);
  }
  view.mirror_low_pre_exit();
}

}  // namespace velk
