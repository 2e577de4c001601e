// velk_reference: the program with a chosen search implementation and work sizes, for
// tests that compare implementations byte for byte (velk_mpi_reference: the same on the
// ranks of an MPI job). Not installed; not part of the program's interface.
//   velk_reference IMPLEMENTATION[:BAND:FIRST_ROWS:TILE_BYTES] TOP_K
// IMPLEMENTATION is straightforward, table, popcnt, avx2, avx512 or fast (the best kernel).
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "base/atomic_file.h"
#include "base/console.h"
#include "base/status.h"
#include "run/run.h"
#ifdef VELK_WITH_MPI
#include "run/mpi_run.h"
#endif

int main(int argc, char** argv) {
  velk::flush_output_by_line();
  std::set_new_handler([] { velk::end_run_with(velk::out_of_memory()); });
  velk::ignore_file_size_signal();
  if (argc < 2) return 2;
  std::string choice = argv[1];
  velk::run_options options;
  velk::search_tuning& tuning = options.tuning;
  const size_t colon = choice.find(':');
  if (colon != std::string::npos) {
    char* rest = choice.data() + colon + 1;
    tuning.band_candidates = strtol(rest, &rest, 10);
    tuning.first_band_rows = strtol(rest + 1, &rest, 10);
    tuning.tile_bytes = strtoul(rest + 1, &rest, 10);
    choice.resize(colon);
  }
  velk::search_path& path = options.path;
  if (choice == "straightforward") path = velk::search_path::straightforward;
  else if (choice == "table") path = velk::search_path::fast_table;
  else if (choice == "popcnt") path = velk::search_path::fast_popcnt;
  else if (choice == "avx2") path = velk::search_path::fast_avx2;
  else if (choice == "avx512") path = velk::search_path::fast_avx512;
  argv[1] = argv[0];
#ifdef VELK_WITH_MPI
  return velk::run_under_mpi(argc - 1, argv + 1, options);
#else
  return velk::run(argc - 1, argv + 1, options);
#endif
}
