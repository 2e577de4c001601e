#include "base/mpi_team.h"

#include <mpi.h>

#include <algorithm>
#include <climits>
#include <cstdint>

#include "base/status.h"

namespace velk {

namespace {

// A failed collective ends the job where it happens: the ranks are in the middle of an
// exchange that the others wait on, and no status could reach main on all of them.
[[noreturn]] void end_failed_collective() { end_run_with(failure(status_code::fatal, "MPI communication failed!\n")); }

// MPI counts are ints: larger blocks (a store beyond 2 GB) go in pieces.
constexpr size_t kPieceBytes = size_t{1} << 30;

void check(int code) {
  if (code != MPI_SUCCESS) end_failed_collective();
}

void mpi_broadcast(void* data, size_t bytes) {
  auto* at = static_cast<unsigned char*>(data);
  for (size_t done = 0; done < bytes; done += kPieceBytes) {
    const size_t piece = std::min(kPieceBytes, bytes - done);
    check(MPI_Bcast(at + done, static_cast<int>(piece), MPI_BYTE, 0, MPI_COMM_WORLD));
  }
}

void mpi_gather(const std::vector<unsigned char>& mine, std::vector<unsigned char>& all) {
  int rank, size;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  // A rank's survivors of one band are a few megabytes at most: one message each.
  if (mine.size() > INT_MAX) end_failed_collective();
  const int bytes = static_cast<int>(mine.size());
  std::vector<int> counts(rank == 0 ? size : 0), offsets(rank == 0 ? size : 0);
  check(MPI_Gather(&bytes, 1, MPI_INT, counts.data(), 1, MPI_INT, 0, MPI_COMM_WORLD));
  int64_t total = 0;
  for (int r = 0; r < static_cast<int>(counts.size()); ++r) {
    offsets[r] = static_cast<int>(total);
    total += counts[r];
    if (total > INT_MAX) end_failed_collective();
  }
  all.resize(static_cast<size_t>(total));
  check(MPI_Gatherv(mine.data(), bytes, MPI_BYTE, all.data(), counts.data(), offsets.data(), MPI_BYTE, 0,
                    MPI_COMM_WORLD));
}

}  // namespace

team start_mpi(int* argc, char*** argv) {
  MPI_Init(argc, argv);
  team t;
  MPI_Comm_rank(MPI_COMM_WORLD, &t.rank);
  MPI_Comm_size(MPI_COMM_WORLD, &t.size);
  MPI_Comm local;
  MPI_Comm_split_type(MPI_COMM_WORLD, MPI_COMM_TYPE_SHARED, t.rank, MPI_INFO_NULL, &local);
  MPI_Comm_size(local, &t.local_size);
  MPI_Comm_free(&local);
  t.broadcast = mpi_broadcast;
  t.gather = mpi_gather;
  return t;
}

void finish_mpi() { MPI_Finalize(); }

}  // namespace velk
