#include <new>

#include "base/atomic_file.h"
#include "base/console.h"
#include "base/launcher.h"
#include "base/status.h"
#include "run/run.h"

int main(int argc, char** argv) {
  velk::flush_output_by_line();
  // Several copies under an MPI launcher would each run the whole search and race to
  // replace the same files: ended before anything is read.
  if (const std::optional<velk::launched_copies> copies = velk::launched_as_copies())
    return velk::report_failure(velk::failure(
        velk::status_code::fatal,
        "velk is one process, and %s says %ld copies of it were started: each would run the whole search "
        "and write the same files. Under an MPI launcher run velk-mpi, e.g. mpirun -n %ld velk-mpi TOP_K.\n",
        copies->variable, copies->count, copies->count));
  // A failed allocation anywhere ends the run with the program's own message.
  std::set_new_handler([] { velk::end_run_with(velk::out_of_memory()); });
  velk::ignore_file_size_signal();
  return velk::run(argc, argv);
}
