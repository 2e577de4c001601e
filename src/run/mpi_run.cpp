#include "run/mpi_run.h"

#include <cstdio>

#include "base/mpi_team.h"
#include "base/status.h"

namespace velk {

int run_under_mpi(int argc, char** argv, run_options options) {
  const team processes = start_mpi(&argc, &argv);
  // Every rank runs the same sequence; the others' standard output goes nowhere, so
  // that only rank 0's lines reach the console. Their standard error stays: a failure
  // of their own (memory) is reported by them. Ranks that share a machine share its
  // memory: run() sizes each rank's budget by the team's ranks on its machine.
  if (!leads(processes) && freopen("/dev/null", "w", stdout) == nullptr) return report_failure(out_of_memory());
  options.processes = &processes;
  options.program = "velk-mpi";
  const int status = run(argc, argv, options);
  // A failed run returns without ending MPI: once main has returned, the launcher
  // ends the other ranks, which may be waiting for this one, and reports this status.
  if (status != 0) return status;
  finish_mpi();
  return 0;
}

}  // namespace velk
