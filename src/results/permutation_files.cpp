#include "results/permutation_files.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>

#include "base/atomic_file.h"
#include "stats/major_cell_table.h"

namespace velk {

namespace {

void append(std::string& out, const char* format, auto... values) {
  char field[160];
  snprintf(field, sizeof field, format, values...);
  out += field;
}

// The best-first positions of the final list.
std::vector<int> best_first(const top_k_list& list) {
  std::vector<int> positions(list.count);
  sort_positions_asc(&list, positions.data());
  std::reverse(positions.begin(), positions.end());
  return positions;
}

// A set's tail p-value, where the tail applies to it and reaches its statistic.
std::optional<double> set_tail_p(const permutation_outcome& outcome, double t, long exceeding) {
  if (!tail_applies(exceeding, outcome.tail.permutation_ct)) return std::nullopt;
  return tail_p_value(outcome.tail, t);
}

}  // namespace

double family_wise_p(const std::vector<double>& maxima, double t, long& exceeding) {
  exceeding = 0;
  for (double m : maxima) exceeding += m >= t;
  return (1.0 + static_cast<double>(exceeding)) / (static_cast<double>(maxima.size()) + 1.0);
}

std::string permutation_table_text(const top_k_list& list, int order, const permutation_outcome& outcome) {
  std::string out;
  for (int i = 1; i <= order; ++i) append(out, "SNP%d\t", i);
  // FW_P_tail last, so that scripts that read the columns before it read them as before.
  out += "chi_SQ\tP_value\tFW_P_value\tExceeding\tFW_P_tail\n";
  // Best first, as the result file stands.
  for (int position : best_first(list)) {
    const multi_locus_node& node = list.nodes[position];
    for (int i = 0; i < order; ++i) append(out, "%ld\t", static_cast<long>(node.loci[i]));
    long exceeding = 0;
    const double fw = family_wise_p(outcome.maxima, node.chisq, exceeding);
    append(out, "%f\t%g\t", node.chisq, p_value_chisq(2, node.chisq));
    append(out, "%g\t%ld\t", fw, exceeding);
    const std::optional<double> tail = set_tail_p(outcome, node.chisq, exceeding);
    if (tail)
      append(out, "%g\n", *tail);
    else
      out += "NA\n";
  }
  return out;
}

std::string permutation_tail_note(const top_k_list& list, const permutation_outcome& outcome) {
  const permutation_tail& tail = outcome.tail;
  if (tail.permutation_ct < kTailLeastPermutations) return "";
  if (!tail.no_fit.empty()) return "Tail approximation: no fit (" + tail.no_fit + "); FW_P_tail is NA.\n";
  long given = 0, beyond = 0;
  for (int i = 0; i < list.count; ++i) {
    long exceeding = 0;
    const double t = list.nodes[i].chisq;
    family_wise_p(outcome.maxima, t, exceeding);
    if (!tail_applies(exceeding, tail.permutation_ct)) continue;
    (set_tail_p(outcome, t, exceeding) ? given : beyond) += 1;
  }
  std::string out;
  append(out, "Tail approximation: a generalized Pareto fit to the %ld largest maxima (shape %.3g, ",
         tail.exceedance_ct, tail.fit.shape);
  append(out, "Anderson-Darling p %.3g); FW_P_tail for %ld of %d sets", tail.ad_p, given, list.count);
  if (beyond > 0) append(out, ", %ld beyond the fitted tail (NA)", beyond);
  return out + ".\n";
}

std::string permutation_maxima_text(const std::vector<double>& maxima) {
  std::string out;
  for (size_t b = 0; b < maxima.size(); ++b) append(out, "%zu\t%f\n", b + 1, maxima[b]);
  return out;
}

void remove_permutation_files() {
  remove_if_present(kPermutationsFileName);
  remove_if_present(kPermutationMaximaFileName);
  remove_if_present(kPermutationTailFileName);
}

}  // namespace velk
