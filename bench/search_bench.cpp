// Pair search and level extension: candidates per second of the straightforward and
// the fast paths, with one thread and with all of them.
#include <benchmark/benchmark.h>
#include <omp.h>

#include "search/extension.h"
#include "search/fast_search.h"
#include "search/pair_search.h"
#include "synthetic_study.h"

namespace {

using namespace velk;

void pair_search(benchmark::State& state, bool fast, int threads) {
  const int individuals = static_cast<int>(state.range(0));
  const int snps = static_cast<int>(state.range(1));
  bench::make_synthetic_study(individuals, snps, 7);
  omp_set_num_threads(threads);
  search_engine engine;
  if (fast) prepare_engine(engine, best_kernel_level(), {});
  for (auto _ : state) {
    disModel model;
    model.ndisloci = 3;
    model.mulfactr = 10;
    model.init(100, p, ncase, nctrl, nlongintcase, nlongintctrl);
    disModel view;
    view.mirror_low(model, 2);
    if (fast)
      fast_pair_search(view, 0, loaded_split(), engine);
    else
      cal_TList1_major(view, 0, loaded_split());
    view.mirror_low_pre_exit();
  }
  const double pairs = static_cast<double>(snps) * (snps - 1) / 2;
  state.counters["pairs/s"] = benchmark::Counter(pairs * state.iterations(), benchmark::Counter::kIsRate);
}

void BM_PairsStraightforward(benchmark::State& s) { pair_search(s, false, 1); }
void BM_PairsFast1Thread(benchmark::State& s) { pair_search(s, true, 1); }
void BM_PairsFastAllThreads(benchmark::State& s) { pair_search(s, true, omp_get_num_procs()); }
BENCHMARK(BM_PairsStraightforward)->Args({2000, 1000})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PairsFast1Thread)->Args({2000, 5000})->Args({10000, 2000})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PairsFastAllThreads)->Args({2000, 5000})->Args({10000, 2000})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
