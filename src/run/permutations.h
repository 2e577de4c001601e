// Family-wise p-values by permutation: the whole search repeated on permuted classes.
//
// The statistic of a reported set comes from a table whose major cells were chosen from
// the same data, and the three- and four-locus levels select once more: its nominal
// p-value is far too small, and on shuffled labels the search still reports sets. A
// permutation keeps the numbers of cases and controls (within each stratum), so the
// thresholds stay, and repeats the search of the same order with the same parameters;
// its maximum is the largest statistic the search finds before the p-value bounds. A
// set with statistic t then has the family-wise p-value (1 + #{b : max_b >= t}) / (B + 1).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "base/status.h"
#include "base/team.h"
#include "search/dispatch.h"
#include "search/search_input.h"
#include "search/search_model.h"

namespace velk {

struct permutation_setup {
  long count = 0;                     // B
  uint64_t seed = 0;                  // S
  std::vector<unsigned char> classes;  // each individual's class as loaded, in study order
  std::vector<int> stratum;           // each individual's stratum (all 0 without strata)
};

// The classes of permutation b (1 ... B): the loaded classes shuffled within each
// stratum. They depend on the seed and b alone: the generator's sequence is fixed by the
// C++ standard, and the bounded draws and the shuffle are our own, not the library's.
std::vector<unsigned char> permuted_classes(const permutation_setup& setup, long b);

// Writes into `to` (a zeroed store of the loaded store's shape) the study as split by
// `classes` instead of the loaded classes.
void split_store(const std::vector<unsigned char>& loaded, const std::vector<unsigned char>& classes,
                 const genotype_store& from, const genotype_store& to);

// The largest statistic the search of `model`'s order finds on `in`, before the
// p-value bounds (0 when it finds no set): the best SNP alone; the best pair that beats
// both its SNPs (a list of one, so the bound climbs at once); or the best set in the
// level list of the order, whose lists keep their sizes (their selection is part of
// what is calibrated), into `best`. The search runs whole on the calling rank,
// silently, from its start, with the path and work sizes of `context`; it calls
// context.stop_requested (when set) after each band, and throws search_stopped, with
// `best` unset, when that says so. Fails when its lists cannot be made or cannot take
// a set (memory).
status search_maximum(const search_model& model, const search_input& in, const search_context& context,
                      double& best);

// Runs the permutations of the input `loaded` (the study as loaded) whose maximum is
// still NaN in `maxima` (B entries), each rank
// of the team taking whole permutations, with all of its threads. After each round of
// one permutation per rank, rank 0 holds the round's maxima and calls `after_round`.
// When context.stop_requested (polled on rank 0 after each band of its search, and
// while it waits for the others) asks to stop, rank 0 tells the other ranks, every rank
// abandons the permutation under way, and every rank throws search_stopped at the end
// of that round: `maxima` then holds the permutations finished, never an abandoned
// one's. Fails when the rank's store of permuted classes finds no room in the budget;
// a search that fails (memory) is not counted: on rank 0 it is returned, another rank
// ends the run with it.
status run_permutations(const permutation_setup& setup, const search_model& model, const search_input& loaded,
                        const search_context& context, std::vector<double>& maxima,
                        const std::function<void()>& after_round);

// Rank 0's setup on every rank.
void share_setup(const team& t, permutation_setup& setup);

}  // namespace velk
