#include "search/candidate_rules.h"

#include "data/genotype_store.h"

namespace velk {

void insert_sorted(const int64_t* parent, int width, int64_t x, int64_t* out) {
  int o = 0;
  int i = 0;
  while (i < width && parent[i] < x) out[o++] = parent[i++];
  out[o++] = x;
  while (i < width) out[o++] = parent[i++];
}

void fill_combined_cells(const genotype_store& store, const int64_t* parent, int width, uint64_t* out) {
  const int cells = cell_total(width);
  const long words = static_cast<long>(store.shape.slot_words());
  for (int c = 0; c < cells; ++c) {
    int code = c;
    class_bits bits[3];
    for (int i = 0; i < width; ++i) {
      bits[i] = slot(store, parent[i], code % 3).cases;  // the control words follow the case words
      code /= 3;
    }
    uint64_t* cell = out + static_cast<size_t>(c) * words;
    for (long w = 0; w < words; ++w) {
      uint64_t word = bits[0][w];
      for (int i = 1; i < width; ++i) word &= bits[i][w];
      cell[w] = word;
    }
  }
}

}  // namespace velk
