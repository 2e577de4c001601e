#include "search/kernels/complete_cells.h"

#include <bit>

namespace velk {

void find_completeness(const genotype_store& store, bool with_counts, memory_budget& budget, split_completeness& out) {
  const store_shape& shape = store.shape;
  const long blocks = shape.block_ct();
  const size_t count_bytes = static_cast<size_t>(blocks) * 3 * kClasses * kLanes * sizeof(int32_t);
  // The counts weigh about 1 / (words per slot) of the store. Without room for them the
  // searches only lose the row SNP's rule: a study that fits keeps fitting.
  out.claim.drop();
  out.complete_blocks.assign(static_cast<size_t>(blocks), 0);
  out.genotype_counts.clear();
  if (with_counts && out.claim.add(budget, count_bytes)) {
    out.genotype_counts.assign(count_bytes / sizeof(int32_t), 0);
  }
  out.class_size[0] = shape.case_ct;
  out.class_size[1] = shape.ctrl_ct;
  const int* class_size = out.class_size;
  // Small stores stay on one thread, where starting the others would cost more.
  const bool threaded = static_cast<double>(shape.snp_ct) * static_cast<double>(shape.slot_words()) >= 1 << 22;
#pragma omp parallel for schedule(static) if (threaded)
  for (long b = 0; b < blocks; ++b) {
    unsigned complete[kClasses] = {0, 0};
    for (int l = 0; l < kLanes && b * kLanes + l < shape.snp_ct; ++l) {
      const long s = b * kLanes + l;
      int total[kClasses] = {0, 0};
      for (int g = 0; g < 3; ++g) {
        const genotype_slot cell[1] = {slot(store, s, g)};
        const cell_count c = count_cell(cell, 1, shape);
        total[0] += c.cases;
        total[1] += c.ctrls;
        if (!out.genotype_counts.empty()) {
          int32_t* counts = out.genotype_counts.data() + static_cast<size_t>(b) * 3 * kClasses * kLanes;
          counts[(g * kClasses + 0) * kLanes + l] = c.cases;
          counts[(g * kClasses + 1) * kLanes + l] = c.ctrls;
        }
      }
      // The genotype bitsets of a SNP are disjoint: they split the class exactly when
      // their sizes add up to it.
      for (int k = 0; k < kClasses; ++k)
        if (total[k] == class_size[k]) complete[k] |= 1u << l;
    }
    constexpr unsigned kAll = (1u << kLanes) - 1u;
    for (int k = 0; k < kClasses; ++k)
      if (complete[k] == kAll) out.complete_blocks[b] |= static_cast<uint8_t>(1u << k);
  }
}

void count_rows(const uint64_t* const* rows, int row_ct, int case_word_ct, int ctrl_word_ct, int32_t* row_total) {
  for (int r = 0; r < row_ct; ++r) {
    int32_t cases = 0, ctrls = 0;
    for (int w = 0; w < case_word_ct; ++w) cases += std::popcount(rows[r][w]);
    for (int w = case_word_ct; w < case_word_ct + ctrl_word_ct; ++w) ctrls += std::popcount(rows[r][w]);
    row_total[r * kClasses + 0] = cases;
    row_total[r * kClasses + 1] = ctrls;
  }
}

}  // namespace velk
