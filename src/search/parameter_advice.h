// Advice about the parameters of a run: warnings for a parameter file that says less
// than its writer meant, or for a run that found nothing, and the hints that follow the
// messages of unusable parameters. The reading and the checks that end a run stay in
// search_model.cpp; nothing here changes what a run does, only what it tells the user.
#pragma once

#include <string>

#include "search/search_model.h"

namespace velk {

// Warnings about the parameter file at `path`, just read into `params`: lines that start
// with "[" but with no key, a key after blanks or in other case ("did you mean"), values followed by characters the number did not take, a
// tail level outside (0, 1), and level lists that can hold nothing.
void advise_parameter_file(const char* path, const search_parameters& params);

// After the search: a warning, naming the bound to loosen, when the result holds no set.
void warn_if_no_set(const search_model& model, int snp_ct);

// The hints that follow the messages of unusable parameters (empty when there is
// nothing to add):
// "Please Input the number of disease loci ...": the file and the key, or that the
// file is missing.
std::string disease_loci_hint(int order);
// "Cannot alloc memory for top_k_list!": which of TOP_K and TOP_K x [MULFACTR] is
// negative or too large; `bytes` the lists' need when it is the memory that is short.
std::string list_size_hint(long top_k, int order, int mulfactr, size_t bytes);
// "Numerical error: ..." from the corrected bound of orders 1 and 2: which bound, its
// value and its valid range. `library_message` is the library's text.
std::string numerical_error_hint(const std::string& library_message, const p_value_bounds& bounds, int snp_ct);

}  // namespace velk
