// velk_mpi_timing: times the pair search of one study folder on the ranks of an MPI
// job, inside the process (loading and start-up excluded), as velk-mpi runs it: rank 0
// loads the study and hands it to the others.
//   mpirun -n K velk_mpi_timing DIR [TOP_K]
// Prints on rank 0 "mpi_pairs RANKS THREADS PAIRS_PER_SECOND" and
// "mpi_band_bytes RANKS BANDS BYTES_PER_BAND" (what rank 0 received from the others).
#include <mpi.h>
#include <omp.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "base/mpi_team.h"
#include "data/genotype_input.h"
#include "data/study.h"
#include "run/run.h"
#include "search/fast_search.h"
#include "search/pair_search.h"
#include "search/search_input.h"
#include "stats/thresholds.h"

int main(int argc, char** argv) {
  using namespace velk;
  const team t = start_mpi(&argc, &argv);
  if (argc < 2 || chdir(argv[1]) != 0) {
    fprintf(stderr, "usage: mpirun -n K velk_mpi_timing DIR [TOP_K]\n");
    return 2;
  }
  const long top_k = argc > 2 ? atol(argv[2]) : 10;
  memory_budget budget(t.local_size);
  study loaded;
  search_model model;
  thresholds cells;
  if (leads(t)) {
    load_notes notes;  // not printed: the bench's lines are its measures
    if (!load_study(kListFileName, budget, loaded, notes).ok()) return 1;
    model.params.order = 3;  // the pair level, as a three-locus search starts
    model.params.level_factor = 30;
    if (!create_lists(model, top_k, loaded.shape().snp_ct, budget).ok()) return 1;
    const store_shape& shape = loaded.shape();
    cells = build_thresholds(shape.sample_ct(), static_cast<double>(shape.case_ct) / shape.sample_ct(), 0.05);
  }
  if (!share_run_inputs(t, loaded, model, cells, budget).ok()) return 1;
  const std::vector<double> single = single_snp_statistics(loaded.store, cells);
  const search_input in{&loaded, &loaded.store, single.data(), &cells, model.bounds, &budget};
  const long p = loaded.shape().snp_ct;
  search_engine engine;
  prepare_engine(engine, best_kernel_level(), in);
  band_traffic traffic;
  search_context context;
  context.processes = &t;
  context.show_progress = false;
  context.traffic = &traffic;
  MPI_Barrier(MPI_COMM_WORLD);
  const auto start = std::chrono::steady_clock::now();
  fast_pair_search(level_list(model, 2), false, in, context, engine);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (leads(t)) {
    const double pairs = static_cast<double>(p) * (p - 1) / 2;
    printf("mpi_pairs %d %d %.4g\n", t.size, omp_get_max_threads(), pairs / seconds);
    printf("mpi_band_bytes %d %ld %.4g\n", t.size, traffic.bands, traffic.bands ? traffic.bytes / traffic.bands : 0.0);
  }
  finish_mpi();
  return 0;
}
