#include "results/interaction_tests.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <utility>
#include <vector>

#include "stats/logistic_model.h"

namespace velk {

namespace {

using Eigen::MatrixXd;

constexpr double kNormal975 = 1.959963984540054;  // qnorm(0.975)

// The genotype of SNP `snp` of a set of `order` in cell `cell`, the first SNP varying
// slowest, as VELKcells.tsv orders the cells.
int genotype_in_cell(int cell, int snp, int order) {
  for (int i = order - 1; i > snp; --i) cell /= 3;
  return cell % 3;
}

// The products of two or more SNPs of a set of `order`, as bit masks in R's order of
// g1 * g2 * ... terms: by number of SNPs, then by mask.
std::vector<unsigned> product_terms(int order) {
  std::vector<unsigned> terms;
  for (unsigned mask = 1; mask < (1u << order); ++mask)
    if (std::popcount(mask) >= 2) terms.push_back(mask);
  std::stable_sort(terms.begin(), terms.end(),
                   [](unsigned x, unsigned y) { return std::popcount(x) < std::popcount(y); });
  return terms;
}

// The individuals of the models: those with every genotype of the set and every
// covariate, ordered by cell, so that the fits sum each cell's rows as one stretch of
// memory.
struct model_individuals {
  MatrixXd individual;        // per individual: the intercept (1), then the covariates
  std::vector<int> cell;      // per individual: its cell
  std::vector<uint8_t> y;     // per individual: 1 for a case
  std::vector<long> in_cell;  // individuals per cell
};

model_individuals complete_individuals(const std::vector<uint8_t>& is_case,
                                       const std::vector<std::vector<int8_t>>& genotypes,
                                       const std::vector<double>& covariates, int covariate_ct, int cells) {
  const int order = static_cast<int>(genotypes.size());
  const long individuals = static_cast<long>(is_case.size());
  std::vector<long> used;
  std::vector<int> code_of;
  for (long d = 0; d < individuals; ++d) {
    bool complete = true;
    for (int s = 0; s < order; ++s) complete = complete && genotypes[s][d] >= 0;
    for (int c = 0; c < covariate_ct; ++c) complete = complete && !std::isnan(covariates[d * covariate_ct + c]);
    if (!complete) continue;
    int code = 0;
    for (int s = 0; s < order; ++s) code = 3 * code + genotypes[s][d];
    used.push_back(d);
    code_of.push_back(code);
  }
  const long m = static_cast<long>(used.size());
  model_individuals out;
  out.in_cell.assign(cells + 1, 0);
  for (int code : code_of) ++out.in_cell[code + 1];
  std::vector<long> next_row(cells + 1, 0);
  for (int c = 0; c < cells; ++c) next_row[c + 1] = next_row[c] + out.in_cell[c + 1];
  out.individual.resize(m, 1 + covariate_ct);
  out.cell.resize(m);
  out.y.resize(m);
  for (long u = 0; u < m; ++u) {
    const long d = used[u], r = next_row[code_of[u]]++;
    out.individual(r, 0) = 1.0;
    for (int c = 0; c < covariate_ct; ++c) out.individual(r, 1 + c) = covariates[d * covariate_ct + c];
    out.cell[r] = code_of[u];
    out.y[r] = is_case[d];
  }
  out.in_cell.erase(out.in_cell.begin());  // individuals per cell
  return out;
}

// Additive, per cell: the allele counts, then their products.
MatrixXd additive_design(int order, int cells) {
  const std::vector<unsigned> products = product_terms(order);
  MatrixXd additive(cells, order + static_cast<long>(products.size()));
  for (int c = 0; c < cells; ++c) {
    for (int s = 0; s < order; ++s) additive(c, s) = genotype_in_cell(c, s, order);
    for (size_t t = 0; t < products.size(); ++t) {
      double product = 1.0;
      for (int s = 0; s < order; ++s)
        if (products[t] >> s & 1u) product *= additive(c, s);
      additive(c, order + static_cast<long>(t)) = product;
    }
  }
  return additive;
}

// Genotypic null, per cell: each SNP's genotypes present, the first the baseline (R's
// treatment contrasts of a factor of the levels that occur).
MatrixXd factor_design(int order, const std::vector<long>& in_cell) {
  const int cells = static_cast<int>(in_cell.size());
  std::vector<std::pair<int, int>> levels;  // (SNP, genotype) of each null column
  for (int s = 0; s < order; ++s) {
    bool present[3] = {false, false, false};
    for (int c = 0; c < cells; ++c)
      if (in_cell[c] > 0) present[genotype_in_cell(c, s, order)] = true;
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
      factors(c, static_cast<long>(t)) = genotype_in_cell(c, levels[t].first, order) == levels[t].second;
  return factors;
}

// Genotypic full, per cell: the non-empty cells as the levels of one factor, the first
// the baseline.
MatrixXd combination_design(const std::vector<long>& in_cell) {
  const int cells = static_cast<int>(in_cell.size());
  std::vector<int> occupied;
  for (int c = 0; c < cells; ++c)
    if (in_cell[c] > 0) occupied.push_back(c);
  MatrixXd combination = MatrixXd::Zero(cells, std::max<long>(0, static_cast<long>(occupied.size()) - 1));
  for (size_t t = 1; t < occupied.size(); ++t) combination(occupied[t], static_cast<long>(t) - 1) = 1.0;
  return combination;
}

// A pair's odds ratio of interaction: exp of the coefficient of column `product` (the
// product term) of the full additive fit and its Wald 95 % interval; left NaN when the
// term is aliased.
void put_odds_ratio(const logistic_fit& additive_full, long product, interaction_result& result) {
  if (additive_full.aliased[product]) return;
  const double b = additive_full.coefficients[product], se = additive_full.std_errors[product];
  result.odds_ratio = std::exp(b);
  result.odds_ratio_low = std::exp(b - kNormal975 * se);
  result.odds_ratio_high = std::exp(b + kNormal975 * se);
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
  const int order = static_cast<int>(genotypes.size());
  int cells = 1;
  for (int s = 0; s < order; ++s) cells *= 3;
  const model_individuals used = complete_individuals(is_case, genotypes, covariates, covariate_ct, cells);
  const MatrixXd additive = additive_design(order, cells);
  const logistic_fit fits[4] = {
      fit_logistic(used.individual, used.cell, MatrixXd(additive.leftCols(order)), used.y),
      fit_logistic(used.individual, used.cell, additive, used.y),
      fit_logistic(used.individual, used.cell, factor_design(order, used.in_cell), used.y),
      fit_logistic(used.individual, used.cell, combination_design(used.in_cell), used.y),
  };
  interaction_result result;
  result.used = static_cast<long>(used.y.size());
  result.additive = compare(fits[0], fits[1]);
  result.genotypic = compare(fits[2], fits[3]);
  for (const logistic_fit& f : fits) {
    result.separation = result.separation || f.separation;
    result.not_converged = result.not_converged || !f.converged;
  }
  if (order == 2) put_odds_ratio(fits[1], used.individual.cols() + order, result);  // the pair's product term
  return result;
}

main_effect_result test_main_effect(const std::vector<uint8_t>& is_case, const std::vector<int8_t>& genotypes,
                                    const std::vector<double>& covariates, int covariate_ct) {
  const model_individuals used = complete_individuals(is_case, {genotypes}, covariates, covariate_ct, 3);
  const logistic_fit null = fit_logistic(used.individual, used.cell, MatrixXd(3, 0), used.y);
  const logistic_fit full = fit_logistic(used.individual, used.cell, additive_design(1, 3), used.y);
  main_effect_result result;
  result.used = static_cast<long>(used.y.size());
  result.test = compare(null, full);
  result.separation = null.separation || full.separation;
  result.not_converged = !null.converged || !full.converged;
  return result;
}

std::string interaction_note(const interaction_result& result) {
  std::string note = result.separation ? "separation" : "";
  if (result.not_converged) note += note.empty() ? "not converged" : ", not converged";
  return note;
}

void write_interactions_header(FILE* stream, int order) {
  for (int s = 1; s <= order; ++s) fprintf(stream, "SNP%d\t", s);
  // MAX_R2 and MIN_DIST came last: scripts that read the columns before them by
  // position read them as before.
  fputs("N\tADD_DF\tADD_CHISQ\tADD_P\tOR_INT\tOR_L95\tOR_U95\tGENO_DF\tGENO_CHISQ\tGENO_P\tNOTE\tMAX_R2\tMIN_DIST\n",
        stream);
}

void write_interactions_row(FILE* stream, const std::vector<std::string>& snps, const interaction_result& result,
                            const set_ld& ld) {
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
  fprintf(stream, "\t%s", interaction_note(result).c_str());
  put_number(stream, ld.max_r2);
  if (ld.min_distance < 0) fputs("\tNA\n", stream);
  else fprintf(stream, "\t%lld\n", ld.min_distance);
}

}  // namespace velk
