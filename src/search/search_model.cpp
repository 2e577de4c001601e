#include "search/search_model.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/console.h"
#include "data/parameter_file.h"

namespace velk {

namespace {

// A capacity that cannot be held in an int is sized as -1, which the list refuses.
int list_capacity(long long requested) {
  return requested < INT_MIN || requested > INT_MAX ? -1 : static_cast<int>(requested);
}

// The hint after "Please Input the number of disease loci ...": the file and the key, or
// that the file is missing.
std::string disease_loci_hint(int order) {
  FILE* file = fopen(kParameterFileName, "r");
  if (file == nullptr)
    return printf_string("velk reads its parameters from %s in the folder it runs in; write one there with a line "
                         "\"[DISEASEN] 2\" (the order of the sets sought, 1 to 4) and one \"[ALPHA_RF] 0.05\".",
                         kParameterFileName);
  fclose(file);
  if (order == 0)
    return printf_string("%s sets no order: it needs a line that starts, in its first column, with [DISEASEN] and "
                         "the order of the sets sought, 1 to 4, e.g. \"[DISEASEN] 2\".", kParameterFileName);
  return printf_string("[DISEASEN] in %s is %d; the order of the sets sought is 1 to 4.", kParameterFileName, order);
}

// The hint after "Cannot alloc memory for top_k_list!": which of TOP_K and TOP_K x
// [MULFACTR] is negative or too large; `bytes` the lists' need when it is the memory
// that is short.
std::string list_size_hint(long top_k, int order, int level_factor, size_t bytes, const memory_budget& budget) {
  if (top_k < 0) return printf_string("TOP_K, the number of sets to report, is %ld; give 1 or more, e.g. velk 10.", top_k);
  if (top_k > INT_MAX) return printf_string("TOP_K is %ld; velk reports at most %d sets.", top_k, INT_MAX);
  const long long level = static_cast<long long>(top_k) * level_factor;
  if (order > 2 && level_factor < 0)
    return printf_string(
        "[MULFACTR] in %s is %d; the level lists hold TOP_K x [MULFACTR] sets, so give 1 or more, "
        "e.g. 10.",
        kParameterFileName, level_factor);
  if (order > 2 && level > INT_MAX)
    return printf_string(
        "the level lists would hold TOP_K x [MULFACTR] = %ld x %d = %lld sets each, more than %d; "
        "lower TOP_K or [MULFACTR].",
        top_k, level_factor, level, INT_MAX);
  if (bytes == 0) return "";
  const size_t room = budget.limit() > budget.claimed() ? budget.limit() - budget.claimed() : 0;
  constexpr double kMB = 1 << 20;
  if (order > 2)
    return printf_string("the lists of TOP_K = %ld and TOP_K x [MULFACTR] = %lld sets need %.0f MB, more than the "
                         "%.0f MB left to this run; lower TOP_K or [MULFACTR].", top_k, level,
                         static_cast<double>(bytes) / kMB, static_cast<double>(room) / kMB);
  return printf_string("the list of TOP_K = %ld sets needs %.0f MB, more than the %.0f MB left to this run; "
                       "lower TOP_K.", top_k, static_cast<double>(bytes) / kMB, static_cast<double>(room) / kMB);
}

status list_refusal(const std::string& hint_text) {
  return with_hint(failure(status_code::fatal, "Cannot alloc memory for top_k_list!\n"), hint_text);
}

status configuration_refusal(const char* message, const std::string& hint_text = "") {
  return with_hint(failure(status_code::fatal, "%s", message), hint_text);
}

// No list holds more than the sets there are.
double possible_sets(int snp_ct, int k) { return std::max(0.0, locus_set_count(snp_ct, k)); }

// Makes `list`; its failure is the message create_lists refuses with.
status new_list(top_k_list*& list, int capacity, int order) {
  list = static_cast<top_k_list*>(calloc(1, sizeof(top_k_list)));
  if (list == nullptr) return failure(status_code::fatal, "Cannot alloc memory for top_k_list!\n");
  return init_top_k_list(list, capacity, order);
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
}

status create_lists(search_model& model, long top_k_in, int snp_ct, memory_budget& budget) {
  const search_parameters& params = model.params;
  const int order = params.order;
  const int final_capacity = list_capacity(top_k_in);
  model.top_k = final_capacity;
  if (order <= 0)
    return configuration_refusal("Please Input the number of disease loci of the model before!\n",
                                 disease_loci_hint(order));
  if (order > 4) return configuration_refusal("The number of disease loci is at most 4!\n");
  if (params.exhaustive != 0 && params.exhaustive != 1)
    return configuration_refusal("The value of [EXHAUSTV] must be 0 or 1!\n");
  if (params.sets_rule < 0 || params.sets_rule > 2)
    return configuration_refusal("The value of [SETSRULE] must be 0, 1 or 2!\n");
  if (params.min_distance < 0) return configuration_refusal("The value of [MINDISTB] must be 0 or more!\n");
  if (params.permutation_ct < 0)
    return configuration_refusal("The number of permutations [PERMUTES] cannot be negative!\n");
  const bool exhaustive = is_exhaustive(params);
  const int level_capacity =
      order > 2
          ? (exhaustive ? final_capacity : list_capacity(static_cast<long long>(model.top_k) * params.level_factor))
          : 0;
  // Refused here, before anything is allocated, with the same message as the list would
  // give, so that the hint can say which count is wrong.
  if (final_capacity < 0 || level_capacity < 0)
    return list_refusal(list_size_hint(top_k_in, order, params.level_factor, 0, budget));
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
  if (!model.claim.add(budget, bytes))
    return list_refusal(list_size_hint(top_k_in, order, params.level_factor, bytes, budget));
  status made = new_list(model.result_list, final_capacity, order);
  if (made.ok() && exhaustive) {
    made = new_list(model.level_lists[(order - 1) % 2], level_capacity, order);
  } else if (made.ok() && order > 2) {
    made = new_list(model.level_lists[0], level_capacity, 1);
    if (made.ok()) made = new_list(model.level_lists[1], level_capacity, 2);
  }
  return made;
}

}  // namespace velk
