// The team of an MPI job (velk-mpi only; the rest of the program never links MPI).
#pragma once

#include "base/team.h"

namespace velk {

// Starts MPI and describes this process's place in the job.
team start_mpi(int* argc, char*** argv);

// Ends MPI after a complete run. A failed run ends without it: the process exits with
// its status, and the launcher then ends every other rank.
void finish_mpi();

}  // namespace velk
