// Checkpoints of a long search, so that a run stopped by a time limit or a node failure
// goes on from where it stood instead of from nothing.
//
// A checkpoint holds what the search's future depends on, exactly: every list as held
// (the heap arrays in order, which decide ties), the level and the position reached in
// the search's own order (a row of the pair search or a parent of a level, never a band,
// so that a run may resume with other threads or ranks), the running bound, and the
// maxima of the permutations done. It belongs to one run: the program version, TOP_K
// and a fingerprint of every input file, present or absent. A run resumes only from a
// checkpoint that is whole (a checksum over all of it) and belongs to it; anything else
// is ignored with a warning and never partly trusted.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "base/file_fingerprint.h"
#include "search/search_model.h"
#include "search/search_context.h"

namespace velk {

inline constexpr const char* kCheckpointFileName = "VELKcheckpoint";

// What a checkpoint belongs to.
struct run_identity {
  long top_k = 0;
  std::vector<file_fingerprint> inputs;
};

// The identity of this run: TOP_K and the fingerprints of `input_files`.
run_identity identify_run(long top_k, const std::vector<std::string>& input_files);

// The state a checkpoint holds beside the model's lists.
struct search_state {
  level_mark mark;
  std::vector<double> permutation_maxima;  // one per permutation b (NaN: not done yet)
};

// Writes the checkpoint (a new file renamed into place). False when it cannot be written,
// or when a list recorded a failure to take a node (top_k_list.h).
bool save_checkpoint(const run_identity& identity, const search_model& model, const search_state& state);

// Reads a checkpoint of a search over `snp_ct` SNPs into `model`'s lists and `state`. True when the run resumes from
// it. False when there is none, or after a "Warning: " line when it is stale, damaged
// or unreadable; the lists are then empty, as the search would find them.
bool load_checkpoint(const run_identity& identity, int snp_ct, search_model& model, search_state& state);

// Removes the checkpoint once the result file is written.
void remove_checkpoint();

// When checkpoints are due: every VELK_CHECKPOINT_SECONDS seconds of searching
// (default 600; 0 writes none).
class checkpoint_clock {
 public:
  checkpoint_clock();
  // True once per interval; the next interval starts now.
  bool due();
  // Whether checkpoints are written at all (VELK_CHECKPOINT_SECONDS=0 asks for none).
  bool enabled() const { return interval_ > 0; }

 private:
  using clock = std::chrono::steady_clock;
  double interval_;
  clock::time_point last_;
};

}  // namespace velk
