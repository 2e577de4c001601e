// The interaction tests against R: every set's four models fitted by glm(family =
// binomial) and compared by anova(test = "LRT"), and each SNP's main effect, on sets
// made to meet the hard cases (missing values, an empty cell, separation, a collinear
// covariate, a SNP that does not vary, a covariate on another scale).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"
#include "rscript.h"
#include "results/interaction_tests.h"

namespace velk::testing {
namespace {

struct made_set {
  std::string name;
  std::vector<uint8_t> is_case;
  std::vector<std::vector<int8_t>> genotypes;
  std::vector<double> covariates;  // individual-major
  int covariate_ct = 0;
};

struct recipe {
  const char* name;
  int order;
  long individuals;
  int covariate_ct;
  double missing;        // share of missing genotypes and covariates
  double interaction;    // log odds ratio of the product of the first two SNPs
  bool empty_cell;       // no individual with genotype 2 at both of the first two SNPs
  bool separated;        // the last covariate is 0 but in some cases: a dose only cases had
  bool collinear;        // the last covariate is a sum of the others
  bool constant_snp;     // the first SNP is 1 for everyone
};

made_set make(const recipe& r, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::normal_distribution<double> normal(0.0, 1.0);
  made_set s;
  s.name = r.name;
  s.covariate_ct = r.covariate_ct;
  s.genotypes.assign(r.order, std::vector<int8_t>(r.individuals));
  for (long d = 0; d < r.individuals; ++d) {
    int g[4];
    for (int k = 0; k < r.order; ++k) {
      const double f = 0.25 + 0.1 * k;
      g[k] = (unit(rng) < f) + (unit(rng) < f);
    }
    if (r.empty_cell && g[0] == 2 && g[1] == 2) g[1] = 1;
    if (r.constant_snp) g[0] = 1;
    std::vector<double> c(r.covariate_ct);
    for (int k = 0; k < r.covariate_ct; ++k) c[k] = k == 1 ? 50 + 10 * normal(rng) : normal(rng);  // an age
    if (r.collinear && r.covariate_ct >= 3) c[r.covariate_ct - 1] = c[0] + 0.5 * c[1];
    double eta = -0.4 + 0.3 * g[0] + 0.2 * (r.order > 1 ? g[1] : 0) + r.interaction * g[0] * g[1];
    if (r.covariate_ct > 0) eta += 0.5 * c[0];
    if (r.covariate_ct > 1) eta -= 0.02 * (c[1] - 50);
    bool is_case = unit(rng) < 1 / (1 + std::exp(-eta));
    if (r.separated) c[r.covariate_ct - 1] = is_case && unit(rng) < 0.3 ? 0.05 + 5 * unit(rng) : 0.0;
    s.is_case.push_back(is_case);
    for (int k = 0; k < r.order; ++k) s.genotypes[k][d] = static_cast<int8_t>(unit(rng) < r.missing ? -1 : g[k]);
    for (int k = 0; k < r.covariate_ct; ++k) s.covariates.push_back(unit(rng) < r.missing ? NAN : c[k]);
  }
  return s;
}

// y, g1 ... gk, c1 ... cq as a table R reads.
std::string as_table(const made_set& s) {
  const int order = static_cast<int>(s.genotypes.size());
  std::string out = "y";
  for (int k = 1; k <= order; ++k) out += " g" + std::to_string(k);
  for (int k = 1; k <= s.covariate_ct; ++k) out += " c" + std::to_string(k);
  out += "\n";
  char value[40];
  for (size_t d = 0; d < s.is_case.size(); ++d) {
    out += s.is_case[d] ? "1" : "0";
    for (int k = 0; k < order; ++k) out += s.genotypes[k][d] < 0 ? " NA" : " " + std::to_string(s.genotypes[k][d]);
    for (int k = 0; k < s.covariate_ct; ++k) {
      const double v = s.covariates[d * s.covariate_ct + k];
      snprintf(value, sizeof value, " %.17g", v);
      out += std::isnan(v) ? " NA" : value;
    }
    out += "\n";
  }
  return out;
}

// One line per table: n, the four deviances, both tests' df and p, the odds ratio and
// its interval (the pair's product term), whether a fit separated, whether one failed
// to converge; then per SNP its main effect, n and p, on the rows with its genotype and
// every covariate.
constexpr const char* kScript = R"R(
flags <- function(m) c(any(m$fitted.values > 1 - 10 * .Machine$double.eps |
                           m$fitted.values < 10 * .Machine$double.eps), !m$converged)
for (file in commandArgs(trailingOnly = TRUE)) {
  raw <- read.table(file, header = TRUE)
  d <- na.omit(raw)
  g <- grep("^g", names(d), value = TRUE)
  covs <- grep("^c", names(d), value = TRUE)
  rhs <- function(terms) { t <- c(covs, terms); if (length(t) == 0) "1" else paste(t, collapse = " + ") }
  d$cell <- factor(do.call(paste, c(d[g], sep = ",")))
  for (v in g) d[[paste0("f", v)]] <- factor(d[[v]])
  # A factor of one level has no contrast; it adds nothing to the model.
  varying <- paste0("f", g)[sapply(g, function(v) length(unique(d[[v]])) > 1)]
  fit <- function(terms) suppressWarnings(glm(as.formula(paste("y ~", rhs(terms))), family = binomial, data = d))
  a0 <- fit(g); a1 <- fit(paste(g, collapse = " * "))
  g0 <- fit(varying); g1 <- fit("cell")
  la <- anova(a0, a1, test = "LRT"); lg <- anova(g0, g1, test = "LRT")
  or <- c(NA, NA, NA)
  if (length(g) == 2 && !is.na(coef(a1)["g1:g2"]))
    or <- exp(c(coef(a1)["g1:g2"], confint.default(a1)["g1:g2", ]))
  f <- rbind(flags(a0), flags(a1), flags(g0), flags(g1))
  v <- c(nrow(d), deviance(a0), deviance(a1), la$Df[2], la[["Pr(>Chi)"]][2],
         deviance(g0), deviance(g1), lg$Df[2], lg[["Pr(>Chi)"]][2], or, any(f[, 1]), any(f[, 2]))
  for (v1 in g) {
    m <- na.omit(raw[c("y", v1, covs)])
    fit1 <- function(terms) suppressWarnings(glm(as.formula(paste("y ~", rhs(terms))), family = binomial, data = m))
    v <- c(v, nrow(m), anova(fit1(NULL), fit1(v1), test = "Chisq")[["Pr(>Chi)"]][2])
  }
  cat(sprintf("%.17g", as.numeric(v)), "\n")
}
)R";

// Relative difference, NaN and NA alike.
void expect_close(double got, double want, const std::string& what) {
  if (std::isnan(want)) {
    EXPECT_TRUE(std::isnan(got)) << what << ": " << got << ", R NA";
    return;
  }
  EXPECT_LE(std::abs(got - want), 1e-6 * std::abs(want)) << what << ": " << got << ", R " << want;
}

TEST(InteractionTests, AgreeWithR) {
  const std::string rscript = find_rscript();
  if (rscript.empty()) GTEST_SKIP() << "Rscript is not installed (scripts/install-deps installs r-base-core)";
  const recipe recipes[] = {
      // name                         k   n   q  missing inter  empty  separ  collin const
      {"pair", 2, 400, 0, 0.0, 0.0, false, false, false, false},
      {"pair, covariates", 2, 500, 2, 0.0, 0.4, false, false, false, false},
      {"pair, missing values", 2, 600, 3, 0.05, 0.3, false, false, false, false},
      {"pair, strong interaction", 2, 800, 1, 0.02, 1.2, false, false, false, false},
      {"pair, empty cell", 2, 500, 2, 0.0, 0.0, true, false, false, false},
      {"pair, separation", 2, 500, 2, 0.0, 0.2, false, true, false, false},
      {"pair, collinear covariate", 2, 500, 3, 0.03, 0.5, false, false, true, false},
      {"pair, SNP without variation", 2, 300, 1, 0.0, 0.0, false, false, false, true},
      {"triple", 3, 600, 0, 0.0, 0.5, false, false, false, false},
      {"triple, covariates, missing", 3, 700, 2, 0.04, 0.3, false, false, false, false},
      {"triple, empty cells", 3, 150, 1, 0.0, 0.0, true, false, false, false},
      {"quadruple", 4, 900, 2, 0.01, 0.3, false, false, false, false},
  };
  study_dir dir;
  std::vector<made_set> sets;
  std::string command = rscript + " --vanilla " + (dir.path() / "compare.R").string();
  dir.write("compare.R", kScript);
  for (size_t i = 0; i < std::size(recipes); ++i) {
    sets.push_back(make(recipes[i], 100 + static_cast<unsigned>(i)));
    const std::string name = "set" + std::to_string(i) + ".txt";
    dir.write(name, as_table(sets.back()));
    command += " " + (dir.path() / name).string();
  }
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, got);
  ASSERT_EQ(pclose(pipe), 0) << output;
  std::istringstream lines(output);
  for (const made_set& s : sets) {
    SCOPED_TRACE(s.name);
    std::string line;
    ASSERT_TRUE(std::getline(lines, line)) << output;
    std::istringstream fields(line);
    std::vector<double> r;
    for (std::string f; fields >> f;) r.push_back(f == "NA" ? NAN : std::stod(f));
    ASSERT_EQ(r.size(), 14u + 2 * s.genotypes.size()) << line;
    const interaction_result got = test_interaction(s.is_case, s.genotypes, s.covariates, s.covariate_ct);
    EXPECT_EQ(got.used, static_cast<long>(r[0]));
    expect_close(got.additive.null_deviance, r[1], "additive null deviance");
    expect_close(got.additive.full_deviance, r[2], "additive full deviance");
    EXPECT_EQ(got.additive.df, static_cast<int>(r[3]));
    expect_close(got.additive.p, r[4], "additive p");
    expect_close(got.genotypic.null_deviance, r[5], "genotypic null deviance");
    expect_close(got.genotypic.full_deviance, r[6], "genotypic full deviance");
    EXPECT_EQ(got.genotypic.df, static_cast<int>(r[7]));
    expect_close(got.genotypic.p, r[8], "genotypic p");
    expect_close(got.odds_ratio, r[9], "odds ratio");
    expect_close(got.odds_ratio_low, r[10], "odds ratio, lower bound");
    expect_close(got.odds_ratio_high, r[11], "odds ratio, upper bound");
    EXPECT_EQ(got.separation, r[12] != 0);
    EXPECT_EQ(got.not_converged, r[13] != 0);
    for (size_t k = 0; k < s.genotypes.size(); ++k) {
      const main_effect_result main = test_main_effect(s.is_case, s.genotypes[k], s.covariates, s.covariate_ct);
      EXPECT_EQ(main.used, static_cast<long>(r[14 + 2 * k])) << "SNP " << k + 1;
      expect_close(main.test.p, r[15 + 2 * k], "main effect p, SNP " + std::to_string(k + 1));
    }
  }
}

}  // namespace
}  // namespace velk::testing
