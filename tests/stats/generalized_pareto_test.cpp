// The maximum-likelihood fit of the generalized Pareto distribution against R's evd
// package (fpot over the same threshold), on samples of heavy, exponential, light and
// bounded tails; and the samples that have no fit.
#include "stats/generalized_pareto.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"
#include "rscript.h"

namespace velk::testing {
namespace {

// `n` exceedances of the distribution by its inverse, sorted from the smallest up.
std::vector<double> draw(double shape, double scale, int n, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<double> y(n);
  for (double& v : y) {
    const double tail = 1.0 - unit(rng);
    v = shape == 0 ? -scale * std::log(tail) : scale / shape * (std::pow(tail, -shape) - 1.0);
  }
  std::sort(y.begin(), y.end());
  return y;
}

// Per file of values over the threshold 10: scale, shape and log-likelihood of the fit;
// "no evd" when the package is missing.
constexpr const char* kScript = R"R(
if (!requireNamespace("evd", quietly = TRUE)) { cat("no evd\n"); quit(status = 0) }
for (file in commandArgs(trailingOnly = TRUE)) {
  x <- scan(file, quiet = TRUE)
  f <- evd::fpot(x, threshold = 10, std.err = FALSE, control = list(reltol = 1e-15, maxit = 10000))
  cat(sprintf("%.17g", c(f$estimate[["scale"]], f$estimate[["shape"]], -f$deviance / 2)), "\n")
}
)R";

TEST(GeneralizedPareto, FitsAgreeWithR) {
  const std::string rscript = find_rscript();
  if (rscript.empty()) GTEST_SKIP() << "Rscript is not installed (scripts/install-deps installs r-base-core)";
  const struct {
    const char* what;
    double shape, scale;
    int n;
  } samples[] = {
      {"heavy", 0.3, 1.5, 200},   {"exponential", 0.0, 2.0, 250}, {"light", -0.15, 2.6, 120},
      {"bounded", -0.4, 1.0, 80}, {"few", 0.1, 1.0, 12},
  };
  study_dir dir;
  dir.write("fit.R", kScript);
  std::string command = rscript + " --vanilla " + (dir.path() / "fit.R").string();
  std::vector<std::vector<double>> drawn;
  for (size_t i = 0; i < std::size(samples); ++i) {
    drawn.push_back(draw(samples[i].shape, samples[i].scale, samples[i].n, 40 + static_cast<unsigned>(i)));
    // R reads the values as printed and subtracts the threshold; the fit here takes the
    // same exceedances.
    std::string text;
    char value[40];
    for (double& y : drawn.back()) {
      snprintf(value, sizeof value, "%.17g", 10.0 + y);
      y = std::strtod(value, nullptr) - 10.0;
      text.append(value).append("\n");
    }
    dir.write("sample" + std::to_string(i) + ".txt", text);
    command += " " + (dir.path() / ("sample" + std::to_string(i) + ".txt")).string();
  }
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, got);
  ASSERT_EQ(pclose(pipe), 0) << output;
  if (output == "no evd\n") GTEST_SKIP() << "R's evd package is not installed (scripts/install-deps installs r-cran-evd)";
  std::istringstream lines(output);
  for (size_t i = 0; i < std::size(samples); ++i) {
    SCOPED_TRACE(samples[i].what);
    double scale = 0, shape = 0, log_likelihood = 0;
    ASSERT_TRUE(lines >> scale >> shape >> log_likelihood) << output;
    const std::optional<pareto_fit> fit = fit_generalized_pareto(drawn[i]);
    ASSERT_TRUE(fit.has_value());
    // Ours is the maximum: never below R's, and within what R's optimiser reaches. Near
    // the maximum the likelihood is flat, and R's optimiser stops up to 1e-4 away in the
    // parameters (the bounded sample, whose shape is near -0.5); ours are higher there.
    EXPECT_GE(fit->log_likelihood, log_likelihood - 1e-9);
    EXPECT_NEAR(fit->log_likelihood, log_likelihood, 1e-6);
    EXPECT_NEAR(fit->shape, shape, 1e-3 * std::max(0.1, std::abs(shape)));
    EXPECT_NEAR(fit->scale, scale, 1e-3 * scale);
  }
}

TEST(GeneralizedPareto, SamplesWithoutAFit) {
  EXPECT_FALSE(fit_generalized_pareto({}).has_value());
  EXPECT_FALSE(fit_generalized_pareto({1.0}).has_value());
  EXPECT_FALSE(fit_generalized_pareto({2.0, 2.0, 2.0}).has_value());
  // Ever denser toward a sharp end (a density that grows as y^2): the likelihood only
  // grows toward shape -1 and beyond.
  std::vector<double> even;
  for (int i = 1; i <= 40; ++i) even.push_back(10.0 * std::cbrt(i / 40.0));
  EXPECT_FALSE(fit_generalized_pareto(even).has_value());
}

}  // namespace
}  // namespace velk::testing
