// The search model: the parameters of a run and the lists the searches fill.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/memory_budget.h"
#include "base/status.h"
#include "data/parameter_file.h"
#include "search/top_k_list.h"

namespace velk {

struct search_model {
  search_parameters params;
  p_value_bounds bounds;
  int top_k = 0;
  top_k_list* result_list = nullptr;                // the final list
  // For three and four loci. An exhaustive search makes only the list of its order, of
  // capacity top_k, which the p-value filter reads as it reads a level.
  top_k_list* level_lists[2] = {nullptr, nullptr};
  budget_claim claim;                               // the lists' bytes

  search_model() = default;
  search_model(const search_model&) = delete;
  search_model& operator=(const search_model&) = delete;
  ~search_model();
};

// Checks the parameters and creates the lists for a study of `snp_ct` SNPs, claimed
// from `budget`; the failure (status 255) when the configuration cannot be used.
// `top_k` is taken as parsed, so that a value beyond the int range is refused here.
status create_lists(search_model& model, long top_k, int snp_ct, memory_budget& budget);

// The level list that holds the sets of `order` (2, 3 or 4) during a search of three
// or four loci: pairs and quadruples share one, triples have the other.
inline top_k_list& level_list(const search_model& model, int order) { return *model.level_lists[(order - 1) % 2]; }

// The number of sets of `k` of `snp_ct` SNPs, in floating point, as the p-value filter
// of the levels multiplies by it.
double locus_set_count(int snp_ct, int k);

}  // namespace velk
