#include "results/cells_table.h"


namespace velk {

namespace {

const char* class_name(cell_class c) {
  switch (c) {
    case cell_class::case_major:
      return "case-major";
    case cell_class::control_major:
      return "control-major";
    case cell_class::other:
      break;
  }
  return "other";
}

}  // namespace

void write_cells_header(FILE* stream) {
  fputs("rank\tsnps\tgenotypes\tcases\tcontrols\tcase_threshold\tcontrol_threshold\tclass\n", stream);
}

void write_cells_rows(FILE* stream, long rank, const std::string& snps, const set_cells& s, const thresholds& limits) {
  char genotypes[2 * kLargestSet];
  for (int c = 0; c < static_cast<int>(s.cells.size()); ++c) {
    for (int i = 0; i < s.order; ++i) {
      genotypes[2 * i] = static_cast<char>('0' + cell_genotype(c, i, s.order));
      genotypes[2 * i + 1] = i + 1 < s.order ? ',' : '\0';
    }
    const cell_count& count = s.cells[c];
    const int m = count.cases + count.ctrls;
    fprintf(stream, "%ld\t%s\t%s\t%d\t%d\t%d\t%d\t%s\n", rank, snps.c_str(), genotypes, count.cases, count.ctrls,
            limits.case_min[m], limits.ctrl_min[m], class_name(s.kinds[c]));
  }
  // The missing individuals form no cell: no thresholds (NA, as R reads a missing
  // value), and they stand in the major-cell table's middle row.
  fprintf(stream, "%ld\t%s\tmissing\t%d\t%d\tNA\tNA\tother\n", rank, snps.c_str(), s.missing.cases, s.missing.ctrls);
}

}  // namespace velk
