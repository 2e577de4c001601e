#include "search/search_model.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/fail.h"
#include "base/memory_budget.h"
#include "search/parameter_advice.h"

namespace velk {

namespace {

// A capacity that cannot be held in an int is sized as -1, which the list refuses.
int list_capacity(long long requested) {
  return requested < INT_MIN || requested > INT_MAX ? -1 : static_cast<int>(requested);
}

refusal list_refusal(const std::string& hint_text) { return {"Cannot alloc memory for top_k_list!\n", hint_text}; }

// No list holds more than the sets there are.
double possible_sets(int snp_ct, int k) { return std::max(0.0, locus_set_count(snp_ct, k)); }

top_k_list* new_list(int capacity, int width) {
  auto* list = static_cast<top_k_list*>(calloc(1, sizeof(top_k_list)));
  if (list == nullptr) fail(kStatusFatal, "Cannot alloc memory for top_k_list!\n");
  init_top_k_list(list, capacity, width);
  return list;
}

void delete_list(top_k_list*& list) {
  if (list == nullptr) return;
  destroy_top_k_list(list);
  free(list);
  list = nullptr;
}

}  // namespace

double locus_set_count(int snp_ct, int k) {
  double sets = 1;
  for (int i = 0; i < k; ++i) {
    sets = sets * (snp_ct - i);
    sets = sets / (k - i);
  }
  return sets;
}

search_model::~search_model() {
  delete_list(result_list);
  delete_list(level_lists[0]);
  delete_list(level_lists[1]);
  release_memory(claimed);
}

std::optional<refusal> create_lists(search_model& model, long top_k_in, int snp_ct) {
  const search_parameters& params = model.params;
  const int order = params.order;
  const int final_capacity = list_capacity(top_k_in);
  model.top_k = final_capacity;
  if (order <= 0) return refusal{"Please Input the number of disease loci of the model before!\n", disease_loci_hint(order)};
  if (order > 4) return refusal{"The number of disease loci is at most 4!\n", ""};
  if (params.exhaustv != 0 && params.exhaustv != 1) return refusal{"The value of [EXHAUSTV] must be 0 or 1!\n", ""};
  if (params.permutes < 0) return refusal{"The number of permutations [PERMUTES] cannot be negative!\n", ""};
  const bool exhaustive = is_exhaustive(params);
  const int level_capacity =
      order > 2 ? (exhaustive ? final_capacity : list_capacity(static_cast<long long>(model.top_k) * params.mulfactr))
                : 0;
  // Refused here, before anything is allocated, with the same message as the list would
  // give, so that the hint can say which count is wrong.
  if (final_capacity < 0 || level_capacity < 0)
    return list_refusal(list_size_hint(top_k_in, order, params.mulfactr, 0));
  // All lists are weighed before any is made: calloc grants a node array beyond the
  // machine lazily, and the run would be killed halfway through the search. Level list
  // 0 holds triples; level list 1 pairs and, for four loci, quadruples.
  size_t bytes = top_k_list_bytes(final_capacity, possible_sets(snp_ct, order));
  if (exhaustive) {
    bytes += top_k_list_bytes(level_capacity, possible_sets(snp_ct, order));
  } else if (order > 2) {
    bytes += top_k_list_bytes(level_capacity, possible_sets(snp_ct, 3));
    bytes += top_k_list_bytes(level_capacity, std::max(possible_sets(snp_ct, 2), possible_sets(snp_ct, order)));
  }
  if (!try_claim_memory(bytes)) return list_refusal(list_size_hint(top_k_in, order, params.mulfactr, bytes));
  model.claimed = bytes;
  model.result_list = new_list(final_capacity, order);
  if (exhaustive) {
    model.level_lists[(order - 1) % 2] = new_list(level_capacity, order);
  } else if (order > 2) {
    model.level_lists[0] = new_list(level_capacity, 1);
    model.level_lists[1] = new_list(level_capacity, 2);
  }
  return std::nullopt;
}

}  // namespace velk
