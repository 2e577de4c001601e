#include "results/set_ld.h"

#include <cstdlib>

namespace velk {

double squared_correlation(const std::vector<int8_t>& a, const std::vector<int8_t>& b) {
  // n, the sums, and the sums of squares and products: at most 4 per individual, so
  // the centred cross products n Σxy − Σx Σy fit in 64 bits for any study.
  long long n = 0, sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
  for (size_t d = 0; d < a.size(); ++d) {
    if (a[d] < 0 || b[d] < 0) continue;
    ++n;
    sa += a[d];
    sb += b[d];
    saa += a[d] * a[d];
    sbb += b[d] * b[d];
    sab += a[d] * b[d];
  }
  const long long cov = n * sab - sa * sb, var_a = n * saa - sa * sa, var_b = n * sbb - sb * sb;
  if (var_a == 0 || var_b == 0) return NAN;
  const double c = static_cast<double>(cov);
  return c * c / (static_cast<double>(var_a) * static_cast<double>(var_b));
}

set_ld set_linkage(const std::vector<std::vector<int8_t>>& genotypes, const std::vector<snp_place>& places) {
  set_ld ld;
  const int order = static_cast<int>(genotypes.size());
  for (int i = 0; i < order; ++i)
    for (int j = i + 1; j < order; ++j) {
      snp_pair_ld pair{i, j, squared_correlation(genotypes[i], genotypes[j]), -1};
      if (!places[i].chromosome.empty() && places[i].chromosome == places[j].chromosome)
        pair.distance = std::llabs(places[i].position - places[j].position);
      if (!std::isnan(pair.r2) && (std::isnan(ld.max_r2) || pair.r2 > ld.max_r2)) ld.max_r2 = pair.r2;
      if (pair.distance >= 0 && (ld.min_distance < 0 || pair.distance < ld.min_distance))
        ld.min_distance = pair.distance;
      ld.pairs.push_back(pair);
    }
  ld.in_ld = ld.max_r2 >= kLdSquaredCorrelation || (ld.min_distance >= 0 && ld.min_distance < kLdDistance);
  return ld;
}

}  // namespace velk
