#include "results/result_writer.h"

#include <vector>

#include "stats/major_cell_table.h"

namespace velk {

void print_top_k_list(const top_k_list* list, FILE* stream, int order) {
  std::vector<int> positions(list->count);
  sort_positions_asc(list, positions.data());
  if (stream == nullptr) stream = stdout;
  // The program never sets a locale, so printf writes a full stop as decimal point.
  fputs("Loci\tchi_SQ\tP_value\t#Major_cells\n", stream);
  for (int r = list->count - 1; r >= 0; --r) {
    const multi_locus_node& node = list->nodes[positions[r]];
    for (int i = 0; i < order; ++i) fprintf(stream, "%ld ", static_cast<long>(node.loci[i]));
    fprintf(stream, "%f %g ", node.chisq, p_value_chisq(2, node.chisq));
    fprintf(stream, "%d\n", node.case_major_ct);
  }
}

}  // namespace velk
