#include "results/set_cells.h"

#include <algorithm>
#include <bit>
#include <cstdio>

#include "base/status.h"
#include "data/text_rows.h"
#include "stats/major_cell_table.h"

namespace velk {

namespace {

// Individuals with a genotype at every SNP of the set: the AND over the SNPs of the OR
// of each SNP's three slots. Counted without the cells, so that the check that the
// cells hold exactly these individuals means something.
cell_count count_present(const genotype_store& store, const int64_t* loci, int order) {
  genotype_slot slots[kLargestSet][3];
  for (int i = 0; i < order; ++i)
    for (int g = 0; g < 3; ++g) slots[i][g] = slot(store, loci[i], g);
  cell_count present{0, 0};
  for (int w = 0; w < store.shape.case_word_ct; ++w) {
    uint64_t word = ~uint64_t{0};
    for (int i = 0; i < order; ++i) word &= slots[i][0].cases[w] | slots[i][1].cases[w] | slots[i][2].cases[w];
    present.cases += std::popcount(word);
  }
  for (int w = 0; w < store.shape.ctrl_word_ct; ++w) {
    uint64_t word = ~uint64_t{0};
    for (int i = 0; i < order; ++i) word &= slots[i][0].ctrls[w] | slots[i][1].ctrls[w] | slots[i][2].ctrls[w];
    present.ctrls += std::popcount(word);
  }
  return present;
}

std::string printed(const char* format, double value) {
  char text[64];
  snprintf(text, sizeof text, format, value);
  return text;
}

// A field of the result file as it appears in messages.
std::string shown(const std::string& field) {
  return token_for_message(field.data(), std::min<size_t>(field.size(), 40), field.size());
}

}  // namespace

int cell_genotype(int cell, int snp, int order) { return cell / cell_total(order - 1 - snp) % 3; }

cell_class classify(const thresholds& limits, const cell_count& c) {
  // The tests of classify_cell, in its order: a cell reaching both is case-major.
  const int m = c.cases + c.ctrls;
  if (c.cases >= limits.case_min[m]) return cell_class::case_major;
  if (c.ctrls >= limits.ctrl_min[m]) return cell_class::control_major;
  return cell_class::other;
}

set_cells count_set_cells(const genotype_store& store, const thresholds& limits, const int64_t* loci, int order) {
  const store_shape& shape = store.shape;
  set_cells s;
  s.order = order;
  s.cells.resize(static_cast<size_t>(cell_total(order)));
  s.kinds.resize(s.cells.size());
  major_cell_table table;
  cell_count sum{0, 0};
  for (int c = 0; c < static_cast<int>(s.cells.size()); ++c) {
    genotype_slot slots[kLargestSet];
    for (int i = 0; i < order; ++i) slots[i] = slot(store, loci[i], cell_genotype(c, i, order));
    const cell_count count = count_cell(slots, order, shape);
    s.cells[c] = count;
    s.kinds[c] = classify(limits, count);
    classify_cell(table, limits, count.cases, count.ctrls);
    sum.cases += count.cases;
    sum.ctrls += count.ctrls;
  }
  complete_table(table, shape.case_ct, shape.ctrl_ct);
  s.chisq = chi_square(table.cell, 3, 2);
  s.case_major_ct = table.case_major_ct;
  s.missing = {shape.case_ct - sum.cases, shape.ctrl_ct - sum.ctrls};
  s.present = count_present(store, loci, order);
  return s;
}

status cells_match_row(const set_cells& s, const result_row& row, const char* result_name, double tail_level,
                       const store_shape& shape) {
  const int case_ct = shape.case_ct;
  const int ctrl_ct = shape.ctrl_ct;
  const std::string loci = row.loci_text();
  if (s.present.cases != case_ct - s.missing.cases || s.present.ctrls != ctrl_ct - s.missing.ctrls)
    return failure(status_code::input_error,
                   "File %s, line %ld: the cells of SNPs %s hold %d cases and %d controls, but %d cases and %d "
                   "controls have all their genotypes.\n",
                   result_name, row.line, loci.c_str(), case_ct - s.missing.cases, ctrl_ct - s.missing.ctrls,
                   s.present.cases, s.present.ctrls);
  // The result's own columns: a difference means other genotypes or other thresholds.
  const std::string chisq = printed("%f", s.chisq);
  if (s.case_major_ct != row.case_major_ct || chisq != row.chisq_text)
    return failure(status_code::input_error,
                   "File %s, line %ld: SNPs %s have chi_SQ %s and %d case-major cells here, the result %s and %d; it "
                   "was not computed from these genotype files with [ALPHA_RF] %g.\n",
                   result_name, row.line, loci.c_str(), chisq.c_str(), s.case_major_ct, shown(row.chisq_text).c_str(),
                   row.case_major_ct, tail_level);
  const std::string p_value = printed("%g", p_value_chisq(2, s.chisq));
  if (p_value != row.p_value_text)
    return failure(status_code::input_error, "File %s, line %ld: chi_SQ %s has the P_value %s, not %s.\n", result_name,
                   row.line, chisq.c_str(), p_value.c_str(), shown(row.p_value_text).c_str());
  return ok_status();
}

}  // namespace velk
