// velk_mpi_timing: times the pair search of one study folder on the ranks of an MPI
// job, inside the process (loading and start-up excluded), as velk-mpi runs it: rank 0
// loads the study and hands it to the others.
//   mpirun -n K velk_mpi_timing DIR [TOP_K]
// Prints on rank 0 "mpi_pairs RANKS THREADS PAIRS_PER_SECOND" and
// "mpi_band_bytes RANKS BANDS BYTES_PER_BAND" (what rank 0 received from the others).
#include <fcntl.h>
#include <mpi.h>
#include <omp.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "base/mpi_team.h"
#include "data/genotype_input.h"
#include "data/genotype_store.h"
#include "driver/run.h"
#include "search/fast_search.h"
#include "search/pair_search.h"
#include "stats/talpha.h"

int main(int argc, char** argv) {
  using namespace velk;
  const team t = start_mpi(&argc, &argv);
  if (argc < 2 || chdir(argv[1]) != 0) {
    fprintf(stderr, "usage: mpirun -n K velk_mpi_timing DIR [TOP_K]\n");
    return 2;
  }
  const long top_k = argc > 2 ? atol(argv[2]) : 10;
  fill_wordbits();
  if (leads(t)) {
    const int saved = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    if (inputData(kListFileName) != 0) return 1;
    fflush(stdout);
    dup2(saved, 1);
  }
  share_store(t);
  disModel model;
  model.ndisloci = 3;  // the pair level, as a three-locus search starts
  model.mulfactr = 30;
  model.init(top_k, p, ncase, nctrl, nlongintcase, nlongintctrl);
  Table_t.init(n, static_cast<double>(ncase) / static_cast<double>(ncase + nctrl), 0.05);
  Table_t.cul_T();
  X2table1 = new double[single_locus_entries()]();
  cal_single_loci(pgeno, X2table1);
  search_engine engine;
  prepare_engine(engine, best_kernel_level(), {});
  engine.processes = &t;
  engine.show_progress = false;
  band_traffic traffic;
  engine.traffic = &traffic;
  disModel view;
  view.mirror_low(model, 2);
  MPI_Barrier(MPI_COMM_WORLD);
  const auto start = std::chrono::steady_clock::now();
  fast_pair_search(view, 0, loaded_split(), engine);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  view.mirror_low_pre_exit();
  if (leads(t)) {
    const double pairs = static_cast<double>(p) * (p - 1) / 2;
    printf("mpi_pairs %d %d %.4g\n", t.size, omp_get_max_threads(), pairs / seconds);
    printf("mpi_band_bytes %d %ld %.4g\n", t.size, traffic.bands, traffic.bands ? traffic.bytes / traffic.bands : 0.0);
  }
  finish_mpi();
  return 0;
}
