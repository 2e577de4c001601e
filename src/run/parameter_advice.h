// Advice about the parameters of a run: warnings for a parameter file that says less
// than its writer meant, or for a run that found nothing, and the hints that follow the
// messages of unusable parameters. The reading and the checks that end a run stay in
// search_model.cpp, with the hints of its refusals; nothing here changes what a run does, only what it tells the user.
#pragma once

#include <string>
#include <vector>

#include "search/search_input.h"
#include "search/search_model.h"

namespace velk {

// The warnings (texts without prefix) about the parameter file at `path`, just read into `params`: lines that start
// with "[" but with no key, a key after blanks or in other case ("did you mean"), values followed by characters the number did not take, a
// tail level outside (0, 1), and level lists that can hold nothing.
std::vector<std::string> parameter_file_warnings(const char* path, const search_parameters& params);

// After the search: a warning, naming the bound to loosen, when the result holds no set.
void warn_if_no_set(const search_model& model, const search_input& in);

// The hints that follow the messages of unusable parameters (empty when there is
// nothing to add):
// "Numerical error: ..." from the corrected bound of orders 1 and 2: which bound, its
// value and its valid range. `library_message` is the library's text.
// With `allowed_sets` 0 or more, the search is focused and divides by that many sets.
std::string numerical_error_hint(const std::string& library_message, const p_value_bounds& bounds, int snp_ct,
                                 double allowed_sets = -1);

}  // namespace velk
