// The run sequence on the ranks of an MPI job (velk-mpi): MPI started and ended around
// run(), only rank 0's standard output kept, the memory shared by the ranks of a machine.
#pragma once

#include "run/run.h"

namespace velk {

// Returns 0 after a complete run; a failed run returns its status without ending MPI,
// for main to end this rank alone, and the launcher then ends every other rank.
int run_under_mpi(int argc, char** argv, run_options options);

}  // namespace velk
