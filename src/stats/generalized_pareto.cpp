#include "stats/generalized_pareto.h"

#include <cmath>
#include <limits>

namespace velk {

namespace {

constexpr double kMinusInfinity = -std::numeric_limits<double>::infinity();

// The likelihood is maximised over theta = xi / sigma alone (Grimshaw 1993): for a
// given theta the best shape is xi(theta) = mean(log(1 + theta y)), and sigma follows as
// xi / theta, so the profile log-likelihood is -n (log sigma + xi + 1). theta runs over
// (-1 / y_max, infinity), where 1 + theta y stays positive; it is reached as
// theta = expm1(v) / y_max, so that v runs over the whole line, a grid in v meets the
// exponential tail (v = 0) exactly, and expm1 and log1p keep the shape accurate near 0.
struct profile_point {
  double v = 0;
  double shape = 0;
  double scale = 0;
  double log_likelihood = kMinusInfinity;
};

// Below this v, expm1(v) is -1 within a few units of its last place: theta would sit on
// the end of the tail. Above the other, the shape is beyond any tail of maxima.
constexpr double kLowestV = -30.0;
constexpr double kHighestV = 20.0;
// Points of the grid over v on which the profile's local maxima are looked for; a
// profile peak is several tenths wide in v even for ten exceedances.
constexpr int kGridPoints = 1001;

profile_point profile_at(const std::vector<double>& y, double v) {
  const double n = static_cast<double>(y.size());
  const double y_max = y.back();
  const double s = std::expm1(v);
  profile_point p;
  p.v = v;
  double sum = 0;
  if (s == 0) {
    for (double x : y) sum += x;
    p.scale = sum / n;
  } else {
    for (double x : y) sum += std::log1p(s * (x / y_max));
    p.shape = sum / n;
    p.scale = p.shape / s * y_max;
  }
  // A shape of -infinity (theta on the end of the tail) or a scale of 0 has no likelihood.
  if (std::isfinite(p.shape) && p.scale > 0 && std::isfinite(p.scale))
    p.log_likelihood = -n * (std::log(p.scale) + p.shape + 1.0);
  return p;
}

// The lowest v of the search: where the shape reaches -1 (the shape grows with v), or
// kLowestV when it stays above -1 there.
double lowest_v(const std::vector<double>& y) {
  double below = kLowestV, above = 0.0;  // shape < -1 at `below`, >= -1 at `above`
  if (profile_at(y, below).shape >= -1.0) return below;
  for (int i = 0; i < 200; ++i) {
    const double middle = 0.5 * (below + above);
    if (middle <= below || middle >= above) break;
    (profile_at(y, middle).shape < -1.0 ? below : above) = middle;
  }
  return above;
}

bool higher(const profile_point& a, const profile_point& b) { return a.log_likelihood > b.log_likelihood; }

// The highest of the interior local maxima of a grid from `low` to kHighestV; nothing when the profile has none
// (it only climbs toward an end of the grid).
std::optional<profile_point> best_grid_peak(const std::vector<double>& y, double low) {
  std::vector<profile_point> grid(kGridPoints);
  for (int i = 0; i < kGridPoints; ++i)
    grid[i] = profile_at(y, low + (kHighestV - low) * (static_cast<double>(i) / (kGridPoints - 1)));
  std::optional<profile_point> best;
  for (int i = 1; i + 1 < kGridPoints; ++i) {
    const bool peak = !higher(grid[i - 1], grid[i]) && !higher(grid[i + 1], grid[i]) &&
                      std::isfinite(grid[i].log_likelihood);
    if (peak && (!best || higher(grid[i], *best))) best = grid[i];
  }
  return best;
}

// Golden-section search for the maximum of the profile between a and b, which bracket
// one peak; the best point seen.
profile_point refine_peak(const std::vector<double>& y, double a, double b, profile_point best) {
  const double ratio = 0.5 * (std::sqrt(5.0) - 1.0);
  profile_point c = profile_at(y, b - ratio * (b - a));
  profile_point d = profile_at(y, a + ratio * (b - a));
  for (int i = 0; i < 200 && c.v < d.v; ++i) {
    if (!higher(d, c)) {
      b = d.v;
      d = c;
      c = profile_at(y, b - ratio * (b - a));
    } else {
      a = c.v;
      c = d;
      d = profile_at(y, a + ratio * (b - a));
    }
  }
  for (const profile_point& p : {c, d})
    if (higher(p, best)) best = p;
  return best;
}

}  // namespace

double pareto_log_survival(double shape, double scale, double y) {
  const double z = y / scale;
  if (shape == 0) return -z;
  const double w = shape * z;
  if (w <= -1.0) return kMinusInfinity;
  return -std::log1p(w) / shape;
}

double pareto_log_likelihood(const std::vector<double>& y, double shape, double scale) {
  double sum = 0;
  for (double x : y) {
    if (shape == 0) {
      sum += -std::log(scale) - x / scale;
      continue;
    }
    const double w = shape * (x / scale);
    if (w <= -1.0) return kMinusInfinity;
    sum += -std::log(scale) - (1.0 / shape + 1.0) * std::log1p(w);
  }
  return sum;
}

std::optional<pareto_fit> fit_generalized_pareto(const std::vector<double>& ascending) {
  if (ascending.size() < 2 || !(ascending.front() < ascending.back())) return std::nullopt;
  const double low = lowest_v(ascending);
  const std::optional<profile_point> peak = best_grid_peak(ascending, low);
  if (!peak) return std::nullopt;
  // The grid's neighbours of the peak bracket it.
  const double step = (kHighestV - low) / (kGridPoints - 1);
  const profile_point best = refine_peak(ascending, peak->v - step, peak->v + step, *peak);
  pareto_fit fit;
  fit.shape = best.shape;
  fit.scale = best.scale;
  fit.log_likelihood = pareto_log_likelihood(ascending, fit.shape, fit.scale);
  if (!std::isfinite(fit.log_likelihood)) return std::nullopt;
  return fit;
}

}  // namespace velk
