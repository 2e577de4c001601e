// Building the major-cell threshold tables for large studies: the summed binomial rows
// up to cell size 1020, then one binomial tail evaluation per size and class.
#include <benchmark/benchmark.h>

#include "stats/thresholds.h"

namespace {

void BM_BuildThresholds(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const double a = static_cast<double>(state.range(1)) / 100.0;
  for (auto _ : state) {
    const velk::thresholds t = velk::build_thresholds(n, a, 0.05);
    benchmark::DoNotOptimize(t.case_min[n]);
  }
  state.SetLabel("n=" + std::to_string(n) + " a=" + std::to_string(a));
}
BENCHMARK(BM_BuildThresholds)->Args({2000, 50})->Args({100000, 50})->Args({100000, 30})->Unit(benchmark::kMillisecond);

}  // namespace
