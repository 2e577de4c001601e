// Many small random studies through the real binary, each result file compared byte
// for byte with the plain reference search of reference_search.h.
#include <gtest/gtest.h>

#include <random>

#include "e2e.h"
#include "search/reference_search.h"

namespace velk::testing {
namespace {

using reference::searcher;
using reference::settings;
using reference::study;

struct random_case {
  study data;
  settings cfg;
  std::vector<int> split;
};

// Draws one study and one configuration from the generator. Orders 1 and 2 keep their
// bounds inside the library's domain; orders 3 and 4 get bounds from strict to open.
random_case draw(std::mt19937& rng, int order) {
  auto pick = [&rng](const auto& options) { return options[rng() % std::size(options)]; };
  random_case c;
  const int n = (order <= 2 ? 12 : 30) + static_cast<int>(rng() % (order <= 2 ? 37 : 19));  // at most 48
  const int p = 4 + static_cast<int>(rng() % 6);  // 4 ... 9 SNPs
  c.data = reference::random_study(rng, n, p, pick(std::vector<double>{0.0, 0.03, 0.1}));
  for (int left = p; left > 0;) {
    const int take = rng() % 3 == 0 ? left : 1 + static_cast<int>(rng() % left);
    c.split.push_back(take);
    left -= take;
  }
  c.cfg.order = order;
  if (order <= 2) {
    c.cfg.top_k = pick(std::vector<int>{0, 1, 1, 2, 3, 5, 8, 40});
    c.cfg.level_factor = pick(std::vector<int>{0, 7});  // no level lists: it must not matter
    c.cfg.alpha = pick(std::vector<double>{0.0, 0.05, 0.1, 0.2, 0.35});
    c.cfg.corrected_p_bound = pick(std::vector<double>{0, 0, 0.5, 1});
    c.cfg.raw_p_bound = pick(std::vector<double>{0, 0, 1e-3, 0.2, 0.6, 1});
  } else {
    // Quadruples rarely beat their triples in so few individuals: wider level lists.
    c.cfg.top_k = pick(std::vector<int>{0, 1, 1, 2, 3, 5, 8, 40});
    c.cfg.level_factor =
        order == 3 ? pick(std::vector<int>{0, 1, 1, 2, 3, 10}) : pick(std::vector<int>{0, 1, 3, 10, 10});
    c.cfg.alpha = pick(std::vector<double>{0.05, 0.1, 0.2, 0.35});
    c.cfg.corrected_p_bound = pick(std::vector<double>{0, 1, 30, 1000, 1e6});
    c.cfg.raw_p_bound = pick(std::vector<double>{0, 0, 1e-4, 0.05, 0.5, 1, 1});
  }
  return c;
}

TEST(BruteForce, RandomStudiesMatchTheReferenceSearch) {
  std::mt19937 rng(20261207);
  constexpr int kRunsPerOrder = 40;
  // Orders 1 to 4, then the exhaustive orders 3 and 4 (kinds 5 and 6).
  int nonempty[7] = {0, 0, 0, 0, 0, 0, 0};
  for (int run = 0; run < 6 * kRunsPerOrder; ++run) {
    const int kind = run < 4 * kRunsPerOrder ? 1 + run % 4 : 5 + run % 2;
    const int order = kind <= 4 ? kind : kind - 2;
    random_case c = draw(rng, order);
    c.cfg.exhaustive = kind > 4;
    searcher ref(c.data, c.cfg);
    ref.run();

    study_dir dir;
    reference::write_study(dir, c.data, c.split);
    dir.write("VELKparameters.txt", reference::parameter_file(c.cfg));
    const run_result r = dir.run({std::to_string(c.cfg.top_k)});
    SCOPED_TRACE("run " + std::to_string(run) + ", order " + std::to_string(order) +
                 (c.cfg.exhaustive ? " exhaustive" : "") + ", top_k " +
                 std::to_string(c.cfg.top_k) + "\n" + reference::parameter_file(c.cfg));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(without_advice(r.err), "");
    EXPECT_EQ(without_banner(r.out), ref.console());
    ASSERT_EQ(dir.read("VELKResult.txt"), ref.result_file());
    nonempty[kind] += ref.result.count() > 0;
  }
  // The draws must exercise the searches, not only produce empty tables.
  for (int kind = 1; kind <= 6; ++kind) EXPECT_GT(nonempty[kind], kRunsPerOrder / 3) << "kind " << kind;
}

}  // namespace
}  // namespace velk::testing
