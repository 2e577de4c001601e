// A list exactly as held, as bytes: its order, its count and its nodes in array order.
// Ties between equal nodes are decided by array positions, so a list rebuilt from its
// image goes on exactly as the original would (checkpoints, and the level lists that
// rank 0 hands to the other ranks).
#pragma once

#include <vector>

#include "base/team.h"
#include "search/top_k_list.h"

namespace velk {

// Appends the image of `list` to `out`.
void append_list_image(const top_k_list& list, std::vector<unsigned char>& out);

// Empties `list` and fills it from the image at `at` (which moves past it). False, with
// the list left empty, when the image does not fit: bytes missing, another order, more
// nodes than the capacity, indices out of order or not below `snps`, a repeated set.
bool read_list_image(top_k_list& list, const unsigned char*& at, const unsigned char* end, long snps);

// Rank 0's `list` on every rank of the team. A rank whose list cannot take the nodes
// (memory) ends the run.
void share_list(const team& t, top_k_list& list);

}  // namespace velk
