#include "stats/logistic_model.h"

#include <libalglib/specialfunctions.h>

#include <cfloat>
#include <cmath>

namespace velk {

namespace {

using Eigen::ArrayXd;
using Eigen::MatrixXd;
using Eigen::VectorXd;

// R's logit link guards (family.c): beyond |eta| = 30 the inverse link and its
// derivative are held at DBL_EPSILON from their limits.
constexpr double kEtaLimit = 30.0;
// glm.fit's rank tolerance: min(1e-7, epsilon / 1000).
constexpr double kRankTolerance = 1e-11;
// A column whose squared residual, after the columns kept before it, is above this
// share of its squared norm is kept at once; below it the decision is R's, made on a
// QR decomposition of the design (exactly collinear columns, nearly always).
constexpr double kClearlyKept = 1e-6;
// glm.fit's warning "fitted probabilities numerically 0 or 1 occurred".
constexpr double kBoundary = 10 * DBL_EPSILON;

struct weighted_sums {
  MatrixXd gram;  // X' W X over every column
  VectorXd rhs;   // X' W z
};

// Runs of consecutive rows of one group: the caller orders rows by group, so that a
// group's sums are sums over one stretch of memory.
struct group_run {
  int group;
  long first, count;
};

std::vector<group_run> runs_of(const std::vector<int>& group) {
  std::vector<group_run> runs;
  for (long r = 0; r < static_cast<long>(group.size()); ++r) {
    if (runs.empty() || runs.back().group != group[r]) runs.push_back({group[r], r, 0});
    ++runs.back().count;
  }
  return runs;
}

// X' W X and X' W z, the grouped columns summed per group first. Every entry is one
// dot product or sum (Eigen's blocked products choose their summation order by the
// machine's cache sizes, and the same study must give the same file everywhere).
weighted_sums weigh(const MatrixXd& individual, const std::vector<group_run>& runs, const MatrixXd& by_group,
                    const ArrayXd& w, const ArrayXd& z) {
  const long a = individual.cols(), b = by_group.cols(), groups = by_group.rows();
  const MatrixXd wi = individual.array().colwise() * w;
  const VectorXd wz = (w * z).matrix();
  MatrixXd per_group = MatrixXd::Zero(groups, a);  // sum of w x over each group's rows
  VectorXd w_sum = VectorXd::Zero(groups), wz_sum = VectorXd::Zero(groups);
  for (const group_run& run : runs) {
    per_group.row(run.group) += wi.middleRows(run.first, run.count).colwise().sum();
    w_sum[run.group] += w.segment(run.first, run.count).sum();
    wz_sum[run.group] += wz.segment(run.first, run.count).sum();
  }
  weighted_sums s;
  s.gram.resize(a + b, a + b);
  for (long i = 0; i < a; ++i)
    for (long j = 0; j <= i; ++j) s.gram(i, j) = s.gram(j, i) = wi.col(i).dot(individual.col(j));
  s.gram.topRightCorner(a, b).noalias() = per_group.transpose().lazyProduct(by_group);
  s.gram.bottomLeftCorner(b, a) = s.gram.topRightCorner(a, b).transpose();
  s.gram.bottomRightCorner(b, b).noalias() = by_group.transpose().lazyProduct(w_sum.asDiagonal() * by_group);
  s.rhs.resize(a + b);
  s.rhs.head(a).noalias() = individual.transpose().lazyProduct(wz);
  s.rhs.tail(b).noalias() = by_group.transpose().lazyProduct(wz_sum);
  return s;
}

// The design as one matrix: rows x (a + b).
MatrixXd whole_design(const MatrixXd& individual, const std::vector<int>& group, const MatrixXd& by_group) {
  const long n = individual.rows(), a = individual.cols(), p = a + by_group.cols();
  MatrixXd x(n, p);
  x.leftCols(a) = individual;
  for (long r = 0; r < n; ++r) x.row(r).tail(p - a) = by_group.row(group[r]);
  return x;
}

// R's decision (LINPACK dqrdc2 with limited pivoting): left to right, a column is
// aliased when its residual after the kept columns before it falls below the rank
// tolerance times its norm; at most as many columns as rows are kept. Each aliased
// column found is dropped and the decomposition redone without it.
std::vector<bool> aliased_by_qr(const MatrixXd& x) {
  const long n = x.rows(), p = x.cols();
  std::vector<bool> aliased(p, false);
  std::vector<int> kept;
  for (int j = 0; j < p; ++j) {
    if (x.col(j).norm() == 0.0) aliased[j] = true;
    else kept.push_back(j);
  }
  for (;;) {
    const Eigen::HouseholderQR<MatrixXd> qr(x(Eigen::all, kept));
    const long checked = std::min<long>(n, static_cast<long>(kept.size()));
    long dropped = -1;
    for (long t = 0; t < checked && dropped < 0; ++t)
      if (std::abs(qr.matrixQR()(t, t)) < kRankTolerance * x.col(kept[t]).norm()) dropped = t;
    if (dropped < 0) break;
    aliased[kept[dropped]] = true;
    kept.erase(kept.begin() + dropped);
  }
  for (size_t t = static_cast<size_t>(n); t < kept.size(); ++t) aliased[kept[t]] = true;
  return aliased;
}

// The aliased columns from the cross-product of the first iteration, whose weights are
// all equal (glm starts every case at 0.75, every control at 0.25): a column whose
// residual is far from negligible is kept as R would keep it. At the first doubt,
// false: the decision is then R's own, on the whole design.
bool clearly_kept(const MatrixXd& gram, std::vector<bool>& aliased) {
  const long p = gram.rows();
  aliased.assign(p, false);
  std::vector<int> kept;
  MatrixXd factor = MatrixXd::Zero(p, p);  // Cholesky factor of the kept columns' block
  for (int j = 0; j < p; ++j) {
    const double norm2 = gram(j, j);
    if (norm2 <= 0.0) {
      aliased[j] = true;  // a column of zeros (no individual in its level)
      continue;
    }
    const long k = static_cast<long>(kept.size());
    const VectorXd column = gram(kept, j);
    const VectorXd y = factor.topLeftCorner(k, k).triangularView<Eigen::Lower>().solve(column);
    const double residual2 = norm2 - y.squaredNorm();
    if (!(residual2 > kClearlyKept * norm2)) return false;
    factor.row(k).head(k) = y.transpose();
    factor(k, k) = std::sqrt(residual2);
    kept.push_back(j);
  }
  return true;
}

// R's binomial()$linkinv (mu) and $mu.eta (d) of the logit link at eta. Beyond |eta| =
// 30 R holds them at DBL_EPSILON from their limits; such eta are rare (a fit running
// into separation) and fixed up one by one.
void link_values(const ArrayXd& eta, ArrayXd& mu, ArrayXd& d) {
  const ArrayXd e = eta.exp();
  const ArrayXd opexp = 1.0 + e;
  mu = e / opexp;
  d = e / (opexp * opexp);
  if ((eta.abs() > kEtaLimit).any())
    for (long r = 0; r < eta.size(); ++r) {
      if (eta[r] < -kEtaLimit) mu[r] = DBL_EPSILON / (1.0 + DBL_EPSILON);
      else if (eta[r] > kEtaLimit) mu[r] = (1.0 / DBL_EPSILON) / (1.0 + 1.0 / DBL_EPSILON);
      else continue;
      d[r] = DBL_EPSILON;
    }
}

// The binomial deviance: 2 log(1 / mu) for a case, 2 log(1 / (1 - mu)) for a control,
// summed as the logs of products of kLogChunk probabilities: one log instead of 16
// (the log is most of an iteration's time). R's guards keep each probability above
// 2.2e-16, so a product stays far above the smallest double; its rounding (16 ulps at
// most) moves the deviance by about 1e-15 of itself.
constexpr long kLogChunk = 16;
double deviance(const ArrayXd& y, const ArrayXd& mu) {
  // y is 0 or 1, so the fitted probability of the observed class is exact.
  const ArrayXd fitted = y * mu + (1.0 - y) * (1.0 - mu);
  double sum = 0.0;
  for (long from = 0; from < fitted.size(); from += kLogChunk)
    sum -= std::log(fitted.segment(from, std::min(kLogChunk, fitted.size() - from)).prod());
  return 2.0 * sum;
}

}  // namespace

logistic_fit fit_logistic(const MatrixXd& individual, const std::vector<int>& group, const MatrixXd& by_group,
                          const std::vector<uint8_t>& is_case) {
  const long n = individual.rows(), a = individual.cols(), p = a + by_group.cols();
  ArrayXd y(n);
  for (long r = 0; r < n; ++r) y[r] = is_case[r] ? 1.0 : 0.0;
  // glm's start: mustart = (y + 0.5) / 2.
  ArrayXd eta = (2.0 * y - 1.0) * std::log(3.0);
  ArrayXd mu, d;
  link_values(eta, mu, d);
  double dev_old = deviance(y, mu);
  const std::vector<group_run> runs = runs_of(group);

  logistic_fit fit;
  std::vector<int> kept;
  // Each step solves the weighted least squares of the kept columns: by the Cholesky
  // factor of their cross-product, or, for a design with a column near the rank
  // tolerance (whose cross-product would lose it), by a QR decomposition as R does.
  bool by_qr = false;
  MatrixXd x_kept;
  Eigen::LLT<MatrixXd> by_cholesky;
  Eigen::HouseholderQR<MatrixXd> qr;
  VectorXd beta = VectorXd::Zero(p);
  for (int iteration = 1; iteration <= kGlmMaxIterations; ++iteration) {
    const ArrayXd z = eta + (y - mu) / d;
    const ArrayXd w = d * d / (mu * (1.0 - mu));
    beta.setZero();
    if (!by_qr) {
      const weighted_sums s = weigh(individual, runs, by_group, w, z);
      if (iteration == 1) {
        if (!clearly_kept(s.gram, fit.aliased)) {
          const MatrixXd x = whole_design(individual, group, by_group);
          fit.aliased = aliased_by_qr(x);
          for (int j = 0; j < p; ++j)
            if (!fit.aliased[j]) kept.push_back(j);
          // Exactly collinear columns dropped, the others are usually clear of the
          // tolerance: a collinear covariate does not slow every set down.
          std::vector<bool> unused;
          by_qr = !clearly_kept(s.gram(kept, kept), unused);
          if (by_qr) x_kept = x(Eigen::all, kept);
        } else {
          for (int j = 0; j < p; ++j)
            if (!fit.aliased[j]) kept.push_back(j);
        }
      }
      if (!by_qr) {
        by_cholesky.compute(s.gram(kept, kept));
        if (by_cholesky.info() == Eigen::Success) {
          const VectorXd rhs = s.rhs(kept);
          const VectorXd solved = by_cholesky.solve(rhs);
          beta(kept) = solved;
        } else {  // weights so uneven that the cross-product lost its rank
          by_qr = true;
          x_kept = whole_design(individual, group, by_group)(Eigen::all, kept);
        }
      }
    }
    if (by_qr) {
      const ArrayXd root_w = w.sqrt();
      qr.compute((x_kept.array().colwise() * root_w).matrix());
      const VectorXd solved = qr.solve((z * root_w).matrix());
      beta(kept) = solved;
    }
    const VectorXd from_groups = by_group.lazyProduct(beta.tail(p - a));
    eta = individual.lazyProduct(beta.head(a)).array();
    for (const group_run& run : runs) eta.segment(run.first, run.count) += from_groups[run.group];
    link_values(eta, mu, d);
    const double dev = deviance(y, mu);
    fit.iterations = iteration;
    const bool settled = std::abs(dev - dev_old) / (std::abs(dev) + 0.1) < kGlmEpsilon;
    dev_old = dev;
    if (settled) {
      fit.converged = true;
      break;
    }
  }
  fit.deviance = dev_old;
  fit.rank = static_cast<int>(kept.size());
  fit.separation = n > 0 && ((mu > 1.0 - kBoundary).any() || (mu < kBoundary).any());
  // Standard errors from the last iteration's decomposition, as summary.glm takes them.
  const long k = static_cast<long>(kept.size());
  MatrixXd inverse = MatrixXd::Identity(k, k);
  if (k > 0 && by_qr) {
    const auto r = qr.matrixQR().topLeftCorner(k, k).triangularView<Eigen::Upper>();
    r.transpose().solveInPlace(inverse);
    r.solveInPlace(inverse);
  } else if (k > 0) {
    inverse = by_cholesky.solve(inverse);
  }
  fit.coefficients = VectorXd::Constant(p, NAN);
  fit.std_errors = VectorXd::Constant(p, NAN);
  for (long t = 0; t < k; ++t) {
    fit.coefficients[kept[t]] = beta[kept[t]];
    fit.std_errors[kept[t]] = std::sqrt(inverse(t, t));
  }
  return fit;
}

lr_test likelihood_ratio(const logistic_fit& null, const logistic_fit& full) {
  lr_test test;
  test.df = full.rank - null.rank;
  if (test.df <= 0) return test;
  // A drop below zero is the rounding of two equal fits.
  test.chisq = std::max(0.0, null.deviance - full.deviance);
  test.p = alglib::chisquarecdistribution(test.df, test.chisq);
  return test;
}

}  // namespace velk
