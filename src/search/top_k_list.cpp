#include "search/top_k_list.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace velk {

namespace {

// The two messages differ by the "!": making a list, and taking a node. Both stay as
// they are, to the character: files and scripts compare them.
status list_init_failure() { return failure(status_code::fatal, "Cannot alloc memory for top_k_list!\n"); }
status list_node_failure() { return failure(status_code::fatal, "Cannot alloc memory for top_k_list\n"); }

uint64_t hash_loci(const int64_t* loci, int order) {
  uint64_t h = 0x9E3779B97F4A7C15ULL;
  for (int i = 0; i < order; ++i) {
    h ^= static_cast<uint64_t>(loci[i]);
    h *= 0xBF58476D1CE4E5B9ULL;
    h ^= h >> 31;
  }
  return h;
}

bool same_loci(const int64_t* a, const int64_t* b, int order) {
  for (int i = 0; i < order; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

bool index_contains(const locus_set_index& index, const int64_t* loci, int order) {
  if (index.used == 0) return false;
  const uint64_t h = hash_loci(loci, order);
  for (size_t i = h & index.mask;; i = (i + 1) & index.mask) {
    const locus_set_index::entry& e = index.slots[i];
    if (e.loci == nullptr) return false;
    if (e.hash == h && same_loci(e.loci, loci, order)) return true;
  }
}

void index_place(locus_set_index& index, const int64_t* loci, uint64_t h) {
  size_t i = h & index.mask;
  while (index.slots[i].loci != nullptr) i = (i + 1) & index.mask;
  index.slots[i] = {loci, h};
}

// Room in the index for one more entry, growing it if need be: the load stays at most
// one half, so probes stay short. False, the index unchanged, when it cannot grow.
// After any insert 2 * used <= slot count, and erasing lowers used: an entry that
// replaces an erased one always has room.
bool index_make_room(locus_set_index& index) {
  if (index.slots != nullptr && 2 * (index.used + 1) <= index.mask + 1) return true;
  const size_t old_size = index.slots == nullptr ? 0 : index.mask + 1;
  const size_t new_size = old_size == 0 ? 16 : 2 * old_size;
  auto* grown = static_cast<locus_set_index::entry*>(calloc(new_size, sizeof(locus_set_index::entry)));
  if (grown == nullptr) return false;
  locus_set_index::entry* old = index.slots;
  index.slots = grown;
  index.mask = new_size - 1;
  for (size_t i = 0; i < old_size; ++i)
    if (old[i].loci != nullptr) index_place(index, old[i].loci, old[i].hash);
  free(old);
  return true;
}

// Enters a held index array; the index has room (index_make_room).
void index_insert(locus_set_index& index, const int64_t* loci, int order) {
  index_place(index, loci, hash_loci(loci, order));
  ++index.used;
}

// A new node's index array, copied from `loci`, with room for it in the index; null,
// the failure recorded and the list unchanged, when memory is short.
int64_t* take_loci(top_k_list* list, const int64_t* loci) {
  const int order = list->order;
  auto* held =
      index_make_room(list->held) ? static_cast<int64_t*>(malloc(sizeof(int64_t) * (order > 0 ? order : 1))) : nullptr;
  if (held == nullptr) {
    list->alloc_failed = true;
    return nullptr;
  }
  memcpy(held, loci, sizeof(int64_t) * order);
  return held;
}

// Removes the entry of one held index array (found by identity), closing the gap by
// shifting later entries of the probe run back (linear probing without tombstones).
void index_erase(locus_set_index& index, const int64_t* loci, int order) {
  size_t i = hash_loci(loci, order) & index.mask;
  while (index.slots[i].loci != loci) i = (i + 1) & index.mask;
  for (size_t j = (i + 1) & index.mask; index.slots[j].loci != nullptr; j = (j + 1) & index.mask) {
    const size_t home = index.slots[j].hash & index.mask;
    // Move entry j into the hole at i when its home does not lie in (i, j].
    const bool home_in_gap = i <= j ? (home > i && home <= j) : (home > i || home <= j);
    if (!home_in_gap) {
      index.slots[i] = index.slots[j];
      i = j;
    }
  }
  index.slots[i] = {nullptr, 0};
  --index.used;
}

void index_clear(locus_set_index& index) {
  if (index.slots != nullptr) memset(index.slots, 0, (index.mask + 1) * sizeof(locus_set_index::entry));
  index.used = 0;
}

void index_release(locus_set_index& index) {
  free(index.slots);
  index = locus_set_index{};
}

void release_held_loci(top_k_list* list) {
  for (int i = 0; i < list->count; ++i) free(list->nodes[i].loci);
}

}  // namespace

size_t top_k_list_bytes(int capacity, double held) {
  if (capacity <= 0) return sizeof(multi_locus_node);
  // A held node's index array is a malloc of up to four indices (a 48-byte chunk); the
  // hash index keeps a load of one quarter to one half, at most four 16-byte entries per
  // node, and for a moment the old table beside the grown one: 48 + 96 bytes.
  constexpr size_t kHeldNodeBytes = 144;
  const double nodes = held < capacity ? held : capacity;
  return static_cast<size_t>(capacity) * sizeof(multi_locus_node) + static_cast<size_t>(nodes) * kHeldNodeBytes;
}

status init_top_k_list(top_k_list* list, int capacity, int order) {
  list->count = 0;
  list->nodes = capacity < 0 ? nullptr
                             : static_cast<multi_locus_node*>(calloc(capacity == 0 ? 1 : capacity, sizeof(multi_locus_node)));
  list->capacity = list->nodes == nullptr ? 0 : capacity;
  list->order = order;
  list->held = locus_set_index{};
  list->alloc_failed = false;
  return list->nodes == nullptr ? list_init_failure() : ok_status();
}

status top_k_list_status(const top_k_list& list) { return list.alloc_failed ? list_node_failure() : ok_status(); }

void insert_top_k_list(top_k_list* list, const multi_locus_node* node) {
  const int order = list->order;
  if (index_contains(list->held, node->loci, order)) return;
  multi_locus_node* nodes = list->nodes;

  if (list->count < list->capacity) {
    int64_t* loci = take_loci(list, node->loci);  // before the sift: a refusal leaves the heap as it is
    if (loci == nullptr) return;
    int hole = list->count;
    while (hole > 0) {
      const int parent = (hole - 1) / 2;
      if (!ranks_above(nodes[parent], *node)) break;  // a tied newcomer stops below
      nodes[hole] = nodes[parent];
      hole = parent;
    }
    nodes[hole] = {node->chisq, loci, node->case_major_ct};
    index_insert(list->held, loci, order);
    ++list->count;
    return;
  }

  if (list->capacity == 0) return;
  if (!ranks_above(*node, nodes[0])) return;  // a node tied with the root is refused
  // The root's index array is reused for the newcomer, whose entry takes the place of
  // the root's in the index: nothing is allocated.
  int64_t* loci = nodes[0].loci;
  index_erase(list->held, loci, order);
  memcpy(loci, node->loci, sizeof(int64_t) * order);
  int hole = 0;
  for (;;) {
    const int left = 2 * hole + 1;
    if (left >= list->count) break;
    int child = left;
    if (left + 1 < list->count && ranks_above(nodes[left], nodes[left + 1])) child = left + 1;
    if (!ranks_above(*node, nodes[child])) break;  // a tied child stays where it is
    nodes[hole] = nodes[child];
    hole = child;
  }
  nodes[hole] = {node->chisq, loci, node->case_major_ct};
  index_insert(list->held, loci, order);
}

void append_top_k_list_node(top_k_list* list, const multi_locus_node* node) {
  int64_t* loci = take_loci(list, node->loci);
  if (loci == nullptr) return;
  list->nodes[list->count++] = {node->chisq, loci, node->case_major_ct};
  index_insert(list->held, loci, list->order);
}

bool top_k_list_holds(const top_k_list* list, const int64_t* loci) {
  return index_contains(list->held, loci, list->order);
}

void refresh_top_k_list(top_k_list* list, int order) {
  if (list->nodes != nullptr) release_held_loci(list);
  index_clear(list->held);
  list->order = order;
  list->count = 0;
}

void destroy_top_k_list(top_k_list* list) {
  if (list->nodes == nullptr) return;
  release_held_loci(list);
  free(list->nodes);
  index_release(list->held);
}

void sort_top_k_list_asc(top_k_list* list) {
  // A stable sort has exactly one result, so this matches an insertion sort's order
  // (ties keep their relative order) at n log n instead of n^2 for long level lists.
  std::stable_sort(list->nodes, list->nodes + list->count,
                   [](const multi_locus_node& a, const multi_locus_node& b) { return ranks_above(b, a); });
}

void sort_positions_asc(const top_k_list* list, int* positions) {
  for (int i = 0; i < list->count; ++i) positions[i] = i;
  const multi_locus_node* nodes = list->nodes;
  std::stable_sort(positions, positions + list->count,
                   [nodes](int a, int b) { return ranks_above(nodes[b], nodes[a]); });
}

}  // namespace velk
