#include "results/run_files.h"

#include <string>

#include "base/atomic_file.h"
#include "results/permutation_files.h"
#include "results/result_writer.h"

namespace velk {

namespace {

bool open_with(const char* name, const std::string& text, output_file& out) {
  return open_output(name, out) && fwrite(text.data(), 1, text.size(), out.stream) == text.size();
}

// The messages keep the wording scripts compare.
status result_not_written() { return failure(status_code::fatal, "Cannot write the result file!\n"); }

status permutations_not_written() {
  return failure(status_code::fatal, "Cannot write %s or %s!\n", kPermutationsFileName, kPermutationMaximaFileName);
}

}  // namespace

status result_not_created() { return failure(status_code::fatal, "Cannot create a file to write the result!\n"); }

status write_run_files(const top_k_list& result, int order, const std::vector<double>* maxima) {
  output_file files[3];  // the result, then the permutation table and maxima
  const auto give_up = [&files](status why) {
    for (output_file& f : files) abandon_output(f);
    return why;
  };
  if (!open_output(kResultFileName, files[0])) return result_not_created();
  print_top_k_list(&result, files[0].stream, order);
  const int count = maxima != nullptr ? 3 : 1;
  if (maxima != nullptr &&
      (!open_with(kPermutationsFileName, permutation_table_text(result, order, *maxima), files[1]) ||
       !open_with(kPermutationMaximaFileName, permutation_maxima_text(*maxima), files[2])))
    return give_up(permutations_not_written());
  // What can fail (a full disk, a file-size limit) fails here, before anything is replaced.
  if (!seal_output(files[0])) return give_up(result_not_written());
  for (int f = 1; f < count; ++f)
    if (!seal_output(files[f])) return give_up(permutations_not_written());
  if (maxima == nullptr) remove_permutation_files();
  if (!place_output(files[0])) return give_up(result_not_written());
  // The new permutation files replace the old ones by their renames; should one fail,
  // none is left to stand beside the new result.
  for (int f = 1; f < count; ++f) {
    if (place_output(files[f])) continue;
    remove_permutation_files();
    return give_up(permutations_not_written());
  }
  return ok_status();
}

}  // namespace velk
