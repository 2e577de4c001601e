// The rules that decide which candidates reach a list, in one place for every search
// path (straightforward and fast, pairs and the three- and four-locus levels): a path
// may compute statistics its own way, but it admits, offers and raises its bound only
// through these.
#pragma once

#include <cstdint>

#include "data/genotype_store.h"
#include "search/search_input.h"
#include "search/set_rules.h"
#include "search/top_k_list.h"
#include "stats/major_cell_table.h"

namespace velk {

// Whether a candidate with statistic `s` is offered: it reaches the running bound and
// strictly beats both floors (a pair: each of its SNPs alone; an extension: its parent
// and its added SNP alone). A statistic equal to the bound passes; one equal to a floor
// does not. Written as the negation of the refusals, the form of the reference search:
// the two forms differ only for a NaN statistic, which the chi-square of a table never
// gives, and even there every search path must decide alike.
inline bool admitted(double s, double bound, double floor_a, double floor_b) {
  return !(s < bound || s <= floor_a || s <= floor_b);
}

// Whether the rules of a focused search let the set of `k` SNPs at `loci` be offered
// (set_rules.h); without them, every set. Checked after `admitted`, before `offer`, on
// every path, so that a set the rules exclude never raises a bound.
inline bool may_offer(const search_input& in, const int64_t* loci, int k) {
  return in.rules == nullptr || set_allowed(*in.rules, loci, k);
}

// After each offer the running bound rises to the root of a full list; a list of
// capacity 0 has no root and leaves the bound where it started.
inline void raise_bound(const top_k_list& list, double& bound) {
  if (has_full_root(list) && list.nodes[0].chisq > bound) bound = list.nodes[0].chisq;
}

// Offers a candidate and raises the bound.
inline void offer(top_k_list& list, double& bound, double s, const int64_t* loci, int case_major_ct) {
  const multi_locus_node node{s, const_cast<int64_t*>(loci), case_major_ct};
  insert_top_k_list(&list, &node);
  raise_bound(list, bound);
}

// The parent's `order` ascending indices with x at its place among them, into `out`:
// every locus set is stored in ascending order, which makes the lists' duplicate test
// a test of sets.
void insert_sorted(const int64_t* parent, int order, int64_t x, int64_t* out);

// The genotype cells of a parent of `order` SNPs (3^order cells), each the AND of its
// slots: cell g0 + 3 g1 (+ 9 g2) is (a0, g0) AND (a1, g1) (AND (a2, g2)), the genotype
// of the smallest index varying fastest. Each cell is slot_words() words, its case
// words then its control words, at out + c * slot_words(). Built once per parent, so
// that each candidate SNP costs one AND per word and cell. `scratch` holds 3 * order
// slots: the parent's slots are copied out of the store's interleaved blocks first, so
// that every AND runs over contiguous words.
void fill_combined_cells(const genotype_store& store, const int64_t* parent, int order, uint64_t* scratch,
                         uint64_t* out);

// The major-cell table of a parent's `cells` combined cells (fill_combined_cells) and
// SNP x, counted one word at a time: the straightforward count of an extension.
major_cell_table cells_against_snp(const search_input& in, const uint64_t* combined, int cells, long x);

}  // namespace velk
