#include "search/candidate_rules.h"

#include <algorithm>
#include <bit>

#include "data/genotype_store.h"

namespace velk {

void insert_sorted(const int64_t* parent, int order, int64_t x, int64_t* out) {
  int o = 0;
  int i = 0;
  while (i < order && parent[i] < x) out[o++] = parent[i++];
  out[o++] = x;
  while (i < order) out[o++] = parent[i++];
}

void fill_combined_cells(const genotype_store& store, const int64_t* parent, int order, uint64_t* scratch,
                         uint64_t* out) {
  const size_t words = store.shape.slot_words();
  const auto slot_copy = [&](int i, int g) { return scratch + static_cast<size_t>(3 * i + g) * words; };
  for (int i = 0; i < order; ++i)
    for (int g = 0; g < 3; ++g) {
      const class_bits from = slot(store, parent[i], g).cases;  // the control words follow the case words
      uint64_t* to = slot_copy(i, g);
      for (size_t w = 0; w < words; ++w) to[w] = from[static_cast<long>(w)];
    }
  for (int g = 0; g < 3; ++g) std::copy(slot_copy(0, g), slot_copy(0, g) + words, out + g * words);
  // SNP i multiplies the cells so far by its three genotypes: cell 3^i g + c is cell c
  // AND (a_i, g), written for g = 2 and 1 before genotype 0 overwrites cell c itself.
  int cells = 3;
  for (int i = 1; i < order; ++i, cells *= 3) {
    for (int g = 2; g >= 0; --g) {
      const uint64_t* b = slot_copy(i, g);
      for (int c = 0; c < cells; ++c) {
        const uint64_t* a = out + static_cast<size_t>(c) * words;
        uint64_t* cell = out + static_cast<size_t>(cells * g + c) * words;
        for (size_t w = 0; w < words; ++w) cell[w] = a[w] & b[w];
      }
    }
  }
}

major_cell_table cells_against_snp(const search_input& in, const uint64_t* combined, int cells, long x) {
  const store_shape& shape = in.shape();
  const size_t words = shape.slot_words();
  major_cell_table t;
  for (int c = 0; c < cells; ++c) {
    const uint64_t* cell_cases = combined + static_cast<size_t>(c) * words;
    const uint64_t* cell_ctrls = cell_cases + shape.case_word_ct;
    for (int g = 0; g < 3; ++g) {
      const genotype_slot s = slot(*in.store, x, g);
      int cases = 0, ctrls = 0;
      for (int w = 0; w < shape.case_word_ct; ++w) cases += std::popcount(cell_cases[w] & s.cases[w]);
      for (int w = 0; w < shape.ctrl_word_ct; ++w) ctrls += std::popcount(cell_ctrls[w] & s.ctrls[w]);
      classify_cell(t, *in.cells, cases, ctrls);
    }
  }
  complete_table(t, shape.case_ct, shape.ctrl_ct);
  return t;
}

}  // namespace velk
