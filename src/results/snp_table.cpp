#include "results/snp_table.h"

#include <algorithm>
#include <cmath>

namespace velk {

std::vector<long> reported_snp_indices(const std::vector<result_row>& rows) {
  std::vector<long> indices;
  for (const result_row& row : rows) indices.insert(indices.end(), row.loci.begin(), row.loci.end());
  std::sort(indices.begin(), indices.end());
  indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
  return indices;
}

const reported_snp* find_snp(const std::vector<reported_snp>& snps, long index) {
  const auto at = std::lower_bound(snps.begin(), snps.end(), index,
                                   [](const reported_snp& s, long i) { return s.index < i; });
  return at != snps.end() && at->index == index ? &*at : nullptr;
}

void write_snps_table(FILE* stream, const std::vector<reported_snp>& snps) {
  fputs("SNP\tINDEX\tCHR\tPOS\tCHISQ\tP\tMAIN_P\tN\n", stream);
  for (const reported_snp& s : snps) {
    // The statistic and its p-value printed as the result file prints a set's; NA, as
    // R reads a missing value, for a text file's place.
    fprintf(stream, "%s\t%ld\t%s\t%s\t%f\t%g\t", s.name.c_str(), s.index,
            s.chromosome.empty() ? "NA" : s.chromosome.c_str(), s.chromosome.empty() ? "NA" : s.position.c_str(),
            s.chisq, s.p_value);
    if (std::isnan(s.main_effect.test.p)) fputs("NA", stream);
    else fprintf(stream, "%g", s.main_effect.test.p);
    fprintf(stream, "\t%ld\n", s.main_effect.used);
  }
}

}  // namespace velk
