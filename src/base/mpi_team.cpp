#include "base/mpi_team.h"

#include <mpi.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <thread>

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

// Rank 0's word to stop, the one message the program sends outside a collective: the
// other ranks may be searching permutations of their own, which no collective reaches.
constexpr int kStopTag = 1;
const int32_t kStopWord = 1;  // sent as it stands; nothing waits for its delivery

void mpi_send_stop() {
  int size;
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  for (int r = 1; r < size; ++r) {
    MPI_Request request;
    check(MPI_Isend(&kStopWord, 1, MPI_INT32_T, r, kStopTag, MPI_COMM_WORLD, &request));
    // A rank that has finished its own work meets rank 0 at the collective that follows
    // and learns of the stop there, so the word may stay unread.
    check(MPI_Request_free(&request));
  }
}

bool mpi_stop_sent() {
  int arrived = 0;
  check(MPI_Iprobe(0, kStopTag, MPI_COMM_WORLD, &arrived, MPI_STATUS_IGNORE));
  if (arrived == 0) return false;
  int32_t word;
  check(MPI_Recv(&word, 1, MPI_INT32_T, 0, kStopTag, MPI_COMM_WORLD, MPI_STATUS_IGNORE));
  return true;
}

void mpi_meet(const std::function<void()>& waiting) {
  MPI_Request request;
  check(MPI_Ibarrier(MPI_COMM_WORLD, &request));
  for (int done = 0;;) {
    check(MPI_Test(&request, &done, MPI_STATUS_IGNORE));
    if (done != 0) return;
    if (waiting) waiting();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
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
  t.send_stop = mpi_send_stop;
  t.stop_sent = mpi_stop_sent;
  t.meet = mpi_meet;
  return t;
}

void finish_mpi() { MPI_Finalize(); }

}  // namespace velk
