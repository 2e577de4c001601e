// Whether this process is one of several that an MPI launcher started. velk is one
// process: started as several copies (mpirun -n 2 velk 10), each would run the whole
// search and all would race to replace the same files, so the driver ends at once and
// names velk-mpi instead. Launchers say how many copies they started in the
// environment of each.
#pragma once

#include <optional>

namespace velk {

struct launched_copies {
  const char* variable;  // the variable that says so, for the message
  long count;
};

// The copies an MPI launcher started, when more than one: Open MPI's
// OMPI_COMM_WORLD_SIZE, MPICH's (Hydra's) PMI_SIZE, or Slurm's SLURM_NTASKS within a
// step that srun started (SLURM_STEP_ID set, or a task other than the first). A batch
// script of several tasks that runs velk itself has SLURM_NTASKS but is one process.
std::optional<launched_copies> launched_as_copies();

}  // namespace velk
