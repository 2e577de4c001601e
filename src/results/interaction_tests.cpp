#include "results/interaction_tests.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "stats/logistic_model.h"

namespace velk {

namespace {

using Eigen::MatrixXd;

constexpr double kNormal975 = 1.959963984540054;  // qnorm(0.975)

// The genotype of SNP `snp` of a set of `width` in cell `cell`, the first SNP varying
// slowest, as VELKcells.tsv orders the cells.
int genotype_in_cell(int cell, int snp, int width) {
  for (int i = width - 1; i > snp; --i) cell /= 3;
  return cell % 3;
}

// The products of two or more SNPs of a set of `width`, as bit masks in R's order of
// g1 * g2 * ... terms: by number of SNPs, then by mask.
std::vector<unsigned> product_terms(int width) {
  std::vector<unsigned> terms;
  for (unsigned mask = 1; mask < (1u << width); ++mask)
    if (std::popcount(mask) >= 2) terms.push_back(mask);
  std::stable_sort(terms.begin(), terms.end(),
                   [](unsigned x, unsigned y) { return std::popcount(x) < std::popcount(y); });
  return terms;
}

interaction_test compare(const logistic_fit& null, const logistic_fit& full) {
  const lr_test t = likelihood_ratio(null, full);
  return {t.df, t.chisq, t.p, null.deviance, full.deviance};
}

void put_number(FILE* stream, double value) {
  if (std::isnan(value)) fputs("\tNA", stream);
  else fprintf(stream, "\t%g", value);
}

}  // namespace

interaction_result test_interaction(const std::vector<uint8_t>& is_case,
                                    const std::vector<std::vector<int8_t>>& genotypes,
                                    const std::vector<double>& covariates, int covariate_ct) {
  const int width = static_cast<int>(genotypes.size());
  const long individuals = static_cast<long>(is_case.size());
  int cells = 1;
  for (int s = 0; s < width; ++s) cells *= 3;

  // The individuals with every genotype and every covariate, ordered by cell: the fits
  // sum each cell's rows as one stretch of memory.
  std::vector<long> used;
  std::vector<int> code_of;
  for (long d = 0; d < individuals; ++d) {
    bool complete = true;
    for (int s = 0; s < width; ++s) complete = complete && genotypes[s][d] >= 0;
    for (int c = 0; c < covariate_ct; ++c) complete = complete && !std::isnan(covariates[d * covariate_ct + c]);
    if (!complete) continue;
    int code = 0;
    for (int s = 0; s < width; ++s) code = 3 * code + genotypes[s][d];
    used.push_back(d);
    code_of.push_back(code);
  }
  const long m = static_cast<long>(used.size());
  std::vector<long> in_cell(cells + 1, 0);
  for (int code : code_of) ++in_cell[code + 1];
  std::vector<long> next_row(cells + 1, 0);
  for (int c = 0; c < cells; ++c) next_row[c + 1] = next_row[c] + in_cell[c + 1];
  MatrixXd individual(m, 1 + covariate_ct);
  std::vector<int> cell(m);
  std::vector<uint8_t> y(m);
  for (long u = 0; u < m; ++u) {
    const long d = used[u], r = next_row[code_of[u]]++;
    individual(r, 0) = 1.0;
    for (int c = 0; c < covariate_ct; ++c) individual(r, 1 + c) = covariates[d * covariate_ct + c];
    cell[r] = code_of[u];
    y[r] = is_case[d];
  }
  in_cell.erase(in_cell.begin());  // individuals per cell

  // Additive: the allele counts, then their products.
  const std::vector<unsigned> products = product_terms(width);
  MatrixXd additive(cells, width + static_cast<long>(products.size()));
  for (int c = 0; c < cells; ++c) {
    for (int s = 0; s < width; ++s) additive(c, s) = genotype_in_cell(c, s, width);
    for (size_t t = 0; t < products.size(); ++t) {
      double product = 1.0;
      for (int s = 0; s < width; ++s)
        if (products[t] >> s & 1u) product *= additive(c, s);
      additive(c, width + static_cast<long>(t)) = product;
    }
  }
  // Genotypic: each SNP's genotypes present, the first the baseline (R's treatment
  // contrasts of a factor of the levels that occur); the non-empty cells likewise.
  std::vector<std::pair<int, int>> levels;  // (SNP, genotype) of each null column
  for (int s = 0; s < width; ++s) {
    bool present[3] = {false, false, false};
    for (int c = 0; c < cells; ++c)
      if (in_cell[c] > 0) present[genotype_in_cell(c, s, width)] = true;
    bool baseline = true;
    for (int g = 0; g < 3; ++g) {
      if (!present[g]) continue;
      if (!baseline) levels.emplace_back(s, g);
      baseline = false;
    }
  }
  MatrixXd factors = MatrixXd::Zero(cells, static_cast<long>(levels.size()));
  for (int c = 0; c < cells; ++c)
    for (size_t t = 0; t < levels.size(); ++t)
      factors(c, static_cast<long>(t)) = genotype_in_cell(c, levels[t].first, width) == levels[t].second;
  std::vector<int> occupied;
  for (int c = 0; c < cells; ++c)
    if (in_cell[c] > 0) occupied.push_back(c);
  MatrixXd combination = MatrixXd::Zero(cells, std::max<long>(0, static_cast<long>(occupied.size()) - 1));
  for (size_t t = 1; t < occupied.size(); ++t) combination(occupied[t], static_cast<long>(t) - 1) = 1.0;

  const logistic_fit fits[4] = {
      fit_logistic(individual, cell, MatrixXd(additive.leftCols(width)), y),
      fit_logistic(individual, cell, additive, y),
      fit_logistic(individual, cell, factors, y),
      fit_logistic(individual, cell, combination, y),
  };
  interaction_result result;
  result.used = m;
  result.additive = compare(fits[0], fits[1]);
  result.genotypic = compare(fits[2], fits[3]);
  for (const logistic_fit& f : fits) {
    result.separation = result.separation || f.separation;
    result.not_converged = result.not_converged || !f.converged;
  }
  const long product = individual.cols() + width;  // the pair's product term
  if (width == 2 && !fits[1].aliased[product]) {
    const double b = fits[1].coefficients[product], se = fits[1].std_errors[product];
    result.odds_ratio = std::exp(b);
    result.odds_ratio_low = std::exp(b - kNormal975 * se);
    result.odds_ratio_high = std::exp(b + kNormal975 * se);
  }
  return result;
}

std::string interaction_note(const interaction_result& result) {
  std::string note = result.separation ? "separation" : "";
  if (result.not_converged) note += note.empty() ? "not converged" : ", not converged";
  return note;
}

void write_interactions_header(FILE* stream, int width) {
  for (int s = 1; s <= width; ++s) fprintf(stream, "SNP%d\t", s);
  fputs("N\tADD_DF\tADD_CHISQ\tADD_P\tOR_INT\tOR_L95\tOR_U95\tGENO_DF\tGENO_CHISQ\tGENO_P\tNOTE\n", stream);
}

void write_interactions_row(FILE* stream, const std::vector<std::string>& snps, const interaction_result& result) {
  for (const std::string& snp : snps) fprintf(stream, "%s\t", snp.c_str());
  fprintf(stream, "%ld\t%d", result.used, result.additive.df);
  put_number(stream, result.additive.chisq);
  put_number(stream, result.additive.p);
  put_number(stream, result.odds_ratio);
  put_number(stream, result.odds_ratio_low);
  put_number(stream, result.odds_ratio_high);
  fprintf(stream, "\t%d", result.genotypic.df);
  put_number(stream, result.genotypic.chisq);
  put_number(stream, result.genotypic.p);
  fprintf(stream, "\t%s\n", interaction_note(result).c_str());
}

}  // namespace velk
