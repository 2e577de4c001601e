#include "results/permutation_files.h"

#include <cstdio>
#include <string>

#include "base/atomic_file.h"
#include "stats/major_cell_table.h"

namespace velk {

namespace {

void append(std::string& out, const char* format, auto... values) {
  char field[64];
  snprintf(field, sizeof field, format, values...);
  out += field;
}

}  // namespace

double family_wise_p(const std::vector<double>& maxima, double t, long& exceeding) {
  exceeding = 0;
  for (double m : maxima) exceeding += m >= t;
  return (1.0 + static_cast<double>(exceeding)) / (static_cast<double>(maxima.size()) + 1.0);
}

std::string permutation_table_text(const top_k_list& list, int order, const std::vector<double>& maxima) {
  std::string out;
  for (int i = 1; i <= order; ++i) append(out, "SNP%d\t", i);
  out += "chi_SQ\tP_value\tFW_P_value\tExceeding\n";
  std::vector<int> positions(list.count);
  sort_positions_asc(&list, positions.data());
  // Best first, as the result file stands.
  for (int r = list.count - 1; r >= 0; --r) {
    const multi_locus_node& node = list.nodes[positions[r]];
    for (int i = 0; i < order; ++i) append(out, "%ld\t", static_cast<long>(node.loci[i]));
    long exceeding = 0;
    const double fw = family_wise_p(maxima, node.chisq, exceeding);
    append(out, "%f\t%g\t", node.chisq, p_value_chisq(2, node.chisq));
    append(out, "%g\t%ld\n", fw, exceeding);
  }
  return out;
}

std::string permutation_maxima_text(const std::vector<double>& maxima) {
  std::string out;
  for (size_t b = 0; b < maxima.size(); ++b) append(out, "%zu\t%f\n", b + 1, maxima[b]);
  return out;
}

void remove_permutation_files() {
  remove_if_present(kPermutationsFileName);
  remove_if_present(kPermutationMaximaFileName);
}

}  // namespace velk
