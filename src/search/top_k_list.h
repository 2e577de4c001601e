// A bounded list of the best candidate locus sets, kept as a heap whose root is the
// worst node held, so that a full list decides with one comparison whether a newcomer
// may enter. A locus set already held is never taken a second time.
//
// Rank order: a larger chisq ranks above; at equal chisq, a smaller case_major_ct ranks above;
// equal on both, two nodes are tied. The order of tied rows in the result file follows
// heap positions, so the sift rules below are part of the program's output.
//
// Memory. The node array is allocated at once by init_top_k_list, which returns its
// failure. A held node's index array (a malloc of at most 32 bytes) and the growth of
// the hash index are allocated as nodes enter, from inside every search: the offers of
// each band, the levels, the lists handed to other ranks, the permutations. Their
// memory was claimed from the run's memory budget when the lists were made, so their
// failure is practically unreachable, and threading a status through every search path
// for it would burden all of them. The list instead refuses the node, stays consistent
// (as if the node had not ranked) and records the failure; top_k_list_status gives it,
// and the run sequence checks it after a search, before anything is written from the
// lists, and ends the run with it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/status.h"

namespace velk {

struct multi_locus_node {
  double chisq;    // statistic of the set's major-cell table
  int64_t* loci;   // SNP indices, ascending, as many as the list's order
  int case_major_ct;  // case-major cells
};

// Hash set of the locus sets held by a list (pointers to the held nodes' index arrays),
// kept in step with the heap so that the duplicate test costs O(1) per offer.
struct locus_set_index {
  struct entry {
    const int64_t* loci;
    uint64_t hash;
  };
  entry* slots = nullptr;
  size_t mask = 0;  // slot count - 1 (a power of two), or 0 before the first use
  size_t used = 0;
};

struct top_k_list {
  multi_locus_node* nodes;  // held nodes at positions 0 ... count - 1
  int count;
  int capacity;
  int order;  // the list's order
  locus_set_index held;
  bool alloc_failed;        // a node was refused for want of memory (kept until init)
};

inline bool ranks_above(const multi_locus_node& a, const multi_locus_node& b) {
  return a.chisq > b.chisq || (a.chisq == b.chisq && a.case_major_ct < b.case_major_ct);
}

// A full list with a root: the running bounds of the searches rise to its root.
inline bool has_full_root(const top_k_list& list) { return list.capacity >= 1 && list.count == list.capacity; }

// Bytes a list of `capacity` nodes needs once it holds `held` of them: the node array
// allocated at once, and per held node its index array and its share of the hash index.
size_t top_k_list_bytes(int capacity, double held);

// Makes an empty list; on failure (no memory for the node array, or a negative
// capacity) the list holds no array and may only be destroyed.
status init_top_k_list(top_k_list* list, int capacity, int order);
// The failure a list recorded when it could not take a node (see the top of this file),
// or success.
status top_k_list_status(const top_k_list& list);
void insert_top_k_list(top_k_list* list, const multi_locus_node* node);
void refresh_top_k_list(top_k_list* list, int order);
// Puts a node at position `count`, as it is, without sifting: for rebuilding a list
// exactly as another process held it (its array order decides its ties). The list
// must have room and must not hold the node's locus set.
void append_top_k_list_node(top_k_list* list, const multi_locus_node* node);
// Whether the list holds the locus set `loci` (the list's order of indices).
bool top_k_list_holds(const top_k_list* list, const int64_t* loci);
void destroy_top_k_list(top_k_list* list);
// Stable sort of the held nodes into ascending rank order (worst first, best last).
void sort_top_k_list_asc(top_k_list* list);

// Positions 0 ... count - 1 stably sorted into ascending rank order of their nodes.
void sort_positions_asc(const top_k_list* list, int* positions);

}  // namespace velk
