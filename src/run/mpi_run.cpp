#include "run/mpi_run.h"

#include <cstdio>
#include <cstdlib>

#include "base/fail.h"
#include "base/memory_budget.h"
#include "base/mpi_team.h"

namespace velk {

int run_under_mpi(int argc, char** argv, run_options options) {
  const team processes = start_mpi(&argc, &argv);
  // Every rank runs the same sequence; the others' standard output goes nowhere, so
  // that only rank 0's lines reach the console. Their standard error stays: a failure
  // of their own (memory) is reported by them.
  if (!leads(processes) && freopen("/dev/null", "w", stdout) == nullptr) fail_out_of_memory();
  // Ranks that share a machine share its memory.
  set_memory_share(processes.local_size);
  options.processes = &processes;
  options.program = "velk-mpi";
  const int status = run(argc, argv, options);
  if (status != 0) {
    // Without ending MPI: the launcher then ends the other ranks, which may be waiting
    // for rank 0, and reports this status.
    fflush(stdout);
    exit(status);
  }
  finish_mpi();
  return 0;
}

}  // namespace velk
