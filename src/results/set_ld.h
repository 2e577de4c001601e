// The linkage disequilibrium inside a reported set: for every two of its SNPs, the
// squared correlation of their genotypes and, on one chromosome, the distance between
// them. Two SNPs in LD tag one signal, so a set of them says little about interaction:
// the page marks such sets, and [MINDISTB] leaves close ones out of a search.
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace velk {

// A set is marked "in LD" when two of its SNPs reach this r² or lie closer than this.
inline constexpr double kLdSquaredCorrelation = 0.2;
inline constexpr long long kLdDistance = 100000;

// A SNP's place: its chromosome code as written (compared as written, as [MINDISTB]
// compares them) and its base-pair position; no chromosome for a text file's SNP.
struct snp_place {
  std::string chromosome;  // empty: no position
  long long position = 0;
};

struct snp_pair_ld {
  int first = 0, second = 0;  // the SNPs' places in the set, first < second
  double r2 = NAN;            // NaN when either genotype is constant where both are present
  long long distance = -1;    // base pairs; -1 when not known to share a chromosome
};

struct set_ld {
  std::vector<snp_pair_ld> pairs;  // (0, 1), (0, 2), ..., (1, 2), ...
  double max_r2 = NAN;             // NaN when no pair has an r²
  long long min_distance = -1;     // -1 when no two SNPs share a chromosome
  bool in_ld = false;              // an r² or a distance reaches the marks above
};

// Pearson's r² of two genotype vectors (0, 1, 2; -1 missing) over the individuals with
// both present. Summed in integers, so that the value does not depend on the order.
double squared_correlation(const std::vector<int8_t>& a, const std::vector<int8_t>& b);

// The LD of a set whose SNPs have `genotypes` (one vector per SNP, in study order) and
// lie at `places`.
set_ld set_linkage(const std::vector<std::vector<int8_t>>& genotypes, const std::vector<snp_place>& places);

}  // namespace velk
