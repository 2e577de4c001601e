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

void time_pairs(benchmark::State& state, bool fast, int threads) {
  const int individuals = static_cast<int>(state.range(0));
  const int snps = static_cast<int>(state.range(1));
  bench::synthetic_study study;
  bench::make_synthetic_study(study, individuals, snps, 7);
  const search_input in = study.input();
  omp_set_num_threads(threads);
  search_engine engine;
  if (fast) prepare_engine(engine, best_kernel_level(), in);
  for (auto _ : state) {
    search_model model;
    model.params.order = 3;
    model.params.level_factor = 10;
    if (!create_lists(model, 100, snps, study.budget).ok()) state.SkipWithError("lists refused");
    if (fast)
      fast_pair_search(level_list(model, 2), false, in, search_context{}, engine);
    else
      pair_search(level_list(model, 2), false, in);
  }
  const double pairs = static_cast<double>(snps) * (snps - 1) / 2;
  state.counters["pairs/s"] = benchmark::Counter(pairs * state.iterations(), benchmark::Counter::kIsRate);
}

void BM_PairsStraightforward(benchmark::State& s) { time_pairs(s, false, 1); }
void BM_PairsFast1Thread(benchmark::State& s) { time_pairs(s, true, 1); }
void BM_PairsFastAllThreads(benchmark::State& s) { time_pairs(s, true, omp_get_num_procs()); }
BENCHMARK(BM_PairsStraightforward)->Args({2000, 1000})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PairsFast1Thread)->Args({2000, 5000})->Args({10000, 2000})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PairsFastAllThreads)->Args({2000, 5000})->Args({10000, 2000})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
