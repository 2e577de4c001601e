// velk-mpi: velk on the ranks of an MPI job (mpirun -n K velk-mpi TOP_K). The same
// inputs, console, exit status and result file as velk; only rank 0 reads the study
// files, prints and writes.
#include <cstdio>
#include <cstdlib>
#include <new>

#include "base/atomic_file.h"
#include "base/fail.h"
#include "base/memory_budget.h"
#include "base/mpi_team.h"
#include "driver/run.h"

int main(int argc, char** argv) {
  using namespace velk;
  std::set_new_handler([] { fail_out_of_memory(); });
  ignore_file_size_signal();
  const team processes = start_mpi(&argc, &argv);
  // Every rank runs the same sequence; the others' standard output goes nowhere, so
  // that only rank 0's lines reach the console. Their standard error stays: a failure
  // of their own (memory) is reported by them.
  if (!leads(processes) && freopen("/dev/null", "w", stdout) == nullptr) fail_out_of_memory();
  // Ranks that share a machine share its memory.
  set_memory_share(processes.local_size);
  run_options options;
  options.processes = &processes;
  const int status = run(argc, argv, options);
  if (status != 0) {
    // Without finalizing: the launcher then ends the other ranks, which may be waiting
    // for rank 0, and reports this status.
    fflush(stdout);
    exit(status);
  }
  finish_mpi();
  return 0;
}
