// Test support: one random study written both as text genotype files and as PLINK 1
// binary filesets, packed here genotype by genotype, independently of the loader.
#pragma once

#include <random>
#include <string>
#include <vector>

namespace velk::testing {

struct genotype_study {
  std::vector<bool> is_case;                // per individual
  std::vector<std::vector<int>> genotypes;  // [individual][snp]: 0, 1, 2, or -1 missing

  long individuals() const { return static_cast<long>(is_case.size()); }

  // Hardy-Weinberg genotypes with allele frequencies from 0.1 to 0.5, `missing` of them
  // missing, classes drawn at random; SNPs 1 and 2 together shift the case odds, so
  // that the searches have something to find.
  static genotype_study random(long individuals, long snps, unsigned seed, double missing = 0.05) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> frequency(snps);
    for (double& f : frequency) f = 0.1 + 0.4 * unit(rng);
    genotype_study s;
    for (long d = 0; d < individuals; ++d) {
      std::vector<int> row(snps);
      for (long k = 0; k < snps; ++k) row[k] = (unit(rng) < frequency[k]) + (unit(rng) < frequency[k]);
      const bool risk = snps > 2 && row[1] + row[2] >= 3;
      s.is_case.push_back(unit(rng) < (risk ? 0.8 : 0.4));
      for (int& g : row)
        if (unit(rng) < missing) g = -1;
      s.genotypes.push_back(row);
    }
    return s;
  }

  // Rows "STATUS G G ...", missing genotypes as 9, SNPs [first, first + count).
  std::string text(long first, long count) const {
    std::string out;
    for (long d = 0; d < individuals(); ++d) {
      out += is_case[d] ? "1" : "0";
      for (long k = first; k < first + count; ++k) {
        const int g = genotypes[d][k];
        out += ' ';
        out += g < 0 ? '9' : static_cast<char>('0' + g);
      }
      out += '\n';
    }
    return out;
  }

  // The SNP-major .bed of SNPs [first, first + count): genotype g is 2 - g copies of A2;
  // codes 00 (two A1), 10 (one), 11 (none), 01 (missing), individual 0 in the lowest
  // two bits of each SNP's first byte.
  std::string bed(long first, long count) const {
    std::string out = {'\x6C', '\x1B', '\x01'};
    const long bytes = (individuals() + 3) / 4;
    for (long k = first; k < first + count; ++k) {
      std::string snp(bytes, '\0');
      for (long d = 0; d < individuals(); ++d) {
        const int g = genotypes[d][k];
        const unsigned code = g < 0 ? 1u : g == 2 ? 0u : g == 1 ? 2u : 3u;
        snp[d / 4] = static_cast<char>(static_cast<unsigned char>(snp[d / 4]) | code << (2 * (d % 4)));
      }
      out += snp;
    }
    return out;
  }

  std::string bim(long first, long count) const {
    std::string out;
    for (long k = first; k < first + count; ++k)
      out += "1\trs" + std::to_string(1000 + k) + "\t0\t" + std::to_string(100 * (k + 1)) + "\tA\tG\n";
    return out;
  }

  std::string fam() const {
    std::string out;
    for (long d = 0; d < individuals(); ++d)
      out += "fam" + std::to_string(d) + " ind" + std::to_string(d) + " 0 0 1 " + (is_case[d] ? "2" : "1") + "\n";
    return out;
  }
};

}  // namespace velk::testing
