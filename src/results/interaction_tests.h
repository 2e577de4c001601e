// Whether a reported set is interaction: two likelihood-ratio tests of logistic
// regressions of case status that hold the set's SNPs' main effects and the
// covariates, and the table of them, VELKinteractions.tsv.
//
// The statistic of the search scores how well a set's cells separate cases from
// controls, and a SNP with a strong effect of its own carries every set it joins. The
// tests ask what the set adds beyond its SNPs one by one:
//   additive   null: intercept, covariates, each SNP's allele count (0, 1, 2);
//              full: also every product of two or more of the counts (1 term for a
//              pair, 4 for a triple, 11 for a quadruple)
//   genotypic  null: intercept, covariates, each SNP as a factor of its genotypes;
//              full: intercept, covariates, the genotype combination as a factor (one
//              level per non-empty cell): the cells the statistic looks at
// on the individuals with every genotype of the set and every covariate present.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "results/set_ld.h"

namespace velk {

inline constexpr const char* kInteractionsFileName = "VELKinteractions.tsv";

// Sets whose additive interaction p-value is above this are marked on the page: their
// SNPs' main effects may explain them.
inline constexpr double kMainEffectsLevel = 0.05;

struct interaction_test {
  int df = 0;                  // estimated terms the full model adds
  double chisq = NAN;          // drop in deviance; NaN when df is 0
  double p = NAN;              // NaN when df is 0
  double null_deviance = NAN;
  double full_deviance = NAN;
};

struct interaction_result {
  long used = 0;  // individuals in the models
  interaction_test additive, genotypic;
  // For a pair: exp of the product term's coefficient and its Wald 95 % interval; NaN
  // for larger sets and when the term is aliased.
  double odds_ratio = NAN, odds_ratio_low = NAN, odds_ratio_high = NAN;
  bool separation = false;     // in any of the four fits
  bool not_converged = false;  // in any of the four fits
};

// The tests of one set. `is_case` holds every individual's class in study order;
// genotypes[s][d] the genotype of the set's SNP s for individual d (0, 1, 2, or -1 when
// missing); covariates[d * covariate_ct + c] covariate c of individual d (NaN when
// missing).
interaction_result test_interaction(const std::vector<uint8_t>& is_case,
                                    const std::vector<std::vector<int8_t>>& genotypes,
                                    const std::vector<double>& covariates, int covariate_ct);

// A SNP's main effect: the likelihood-ratio test of an additive model (its allele
// count and the covariates) against the covariates alone, as glm and anova give it, on
// the individuals with its genotype and every covariate present. The page and
// VELKsnps.tsv set it beside the sets: a SNP strong alone carries the sets it joins.
struct main_effect_result {
  long used = 0;  // individuals in the models
  interaction_test test;
  bool separation = false;
  bool not_converged = false;
};

main_effect_result test_main_effect(const std::vector<uint8_t>& is_case, const std::vector<int8_t>& genotypes,
                                    const std::vector<double>& covariates, int covariate_ct);

// "separation", "not converged", both joined by ", ", or empty.
std::string interaction_note(const interaction_result& result);

// The table's header for sets of `order` SNPs, and the row of one set (`snps`: its
// identifiers; `ld`: the LD among them, its largest r² and least distance last).
void write_interactions_header(FILE* stream, int order);
void write_interactions_row(FILE* stream, const std::vector<std::string>& snps, const interaction_result& result,
                            const set_ld& ld);

}  // namespace velk
