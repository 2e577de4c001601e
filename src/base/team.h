// The processes of one run: one process, or the ranks of an MPI job.
//
// Rank 0 reads the inputs, offers every candidate to the lists, prints and writes the
// result; every rank screens its share of the candidates. The operations are plain
// function pointers, so that the program itself never links the MPI library: velk-mpi
// fills them in (base/mpi_team.cpp), velk runs as a team of one and never calls them.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace velk {

struct team {
  int rank = 0;
  int size = 1;
  // Ranks that share this rank's machine (and its memory), this one included.
  int local_size = 1;
  // Sends `bytes` at `data` from rank 0 to every other rank; every rank calls it.
  void (*broadcast)(void* data, size_t bytes) = nullptr;
  // Rank 0 receives every rank's bytes in rank order, its own first; every rank calls it.
  void (*gather)(const std::vector<unsigned char>& mine, std::vector<unsigned char>& all) = nullptr;
  // For work that each rank does alone (a permutation), where no collective reaches the
  // others until it ends. Rank 0 tells every other rank, without waiting for them, that
  // the run stops (once a run).
  void (*send_stop)() = nullptr;
  // A rank other than 0: whether rank 0's word to stop has come. Never waits; true once.
  bool (*stop_sent)() = nullptr;
  // Every rank calls it; it returns once all have. While this rank waits it calls
  // `waiting` every millisecond or so, so that rank 0 can still send its word to stop.
  void (*meet)(const std::function<void()>& waiting) = nullptr;
};

// The team of a run without MPI.
const team& single_process();

inline bool leads(const team& t) { return t.rank == 0; }

// Rank 0's value of `value` on every rank (nothing to do in a team of one).
template <class T>
void share(const team& t, T& value) {
  if (t.size > 1) t.broadcast(&value, sizeof value);
}

inline void share_bytes(const team& t, void* data, size_t bytes) {
  if (t.size > 1 && bytes > 0) t.broadcast(data, bytes);
}

// Splits `total` units of work into t.size consecutive parts; part r is
// [first(r), first(r + 1)). Used where each unit costs the same.
inline long part_start(long total, int part, int parts) {
  return static_cast<long>(static_cast<__int128>(total) * part / parts);
}

}  // namespace velk
