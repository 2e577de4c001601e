// velk-mpi: velk on the ranks of an MPI job (mpirun -n K velk-mpi TOP_K). The same
// inputs, console, exit status and result file as velk; only rank 0 reads the study
// files, prints and writes.
#include <new>

#include "base/atomic_file.h"
#include "base/console.h"
#include "base/status.h"
#include "run/mpi_run.h"

int main(int argc, char** argv) {
  velk::flush_output_by_line();
  std::set_new_handler([] { velk::end_run_with(velk::out_of_memory()); });
  velk::ignore_file_size_signal();
  return velk::run_under_mpi(argc, argv, {});
}
