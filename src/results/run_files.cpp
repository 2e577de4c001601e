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

status companion_not_written(const char* name) { return failure(status_code::fatal, "Cannot write %s!\n", name); }

}  // namespace

status result_not_created() { return failure(status_code::fatal, "Cannot create a file to write the result!\n"); }

status check_run_files_creatable(const std::vector<const char*>& names) {
  for (const char* name : names) {
    std::string why;
    // Every file's failure says the result's message: scripts compare it; the hint names
    // the file.
    if (!probe_output(name, why)) return with_hint(result_not_created(), why + ".");
  }
  return ok_status();
}

status write_run_files(const top_k_list& result, int order, const permutation_outcome* permutations,
                       const std::vector<companion_file>& companions) {
  // The result, then the permutation table and maxima, then the companions.
  std::vector<output_file> files(3 + companions.size());
  std::vector<status> not_written(files.size(), permutations_not_written());
  not_written[0] = result_not_written();
  for (size_t c = 0; c < companions.size(); ++c) not_written[3 + c] = companion_not_written(companions[c].name);
  const auto give_up = [&files](status why) {
    for (output_file& f : files) abandon_output(f);
    return why;
  };
  if (!open_output(kResultFileName, files[0])) return result_not_created();
  print_top_k_list(&result, files[0].stream, order);
  std::vector<bool> written(files.size(), false);
  written[0] = true;
  if (permutations != nullptr) {
    if (!open_with(kPermutationsFileName, permutation_table_text(result, order, *permutations), files[1]) ||
        !open_with(kPermutationMaximaFileName, permutation_maxima_text(permutations->maxima), files[2]))
      return give_up(permutations_not_written());
    written[1] = written[2] = true;
  }
  for (size_t c = 0; c < companions.size(); ++c) {
    if (!companions[c].text) continue;
    if (!open_with(companions[c].name, *companions[c].text, files[3 + c]))
      return give_up(companion_not_written(companions[c].name));
    written[3 + c] = true;
  }
  // What can fail (a full disk, a file-size limit) fails here, before anything is replaced.
  for (size_t f = 0; f < files.size(); ++f)
    if (written[f] && !seal_output(files[f])) return give_up(not_written[f]);
  if (permutations == nullptr) remove_permutation_files();
  for (const companion_file& c : companions)
    if (!c.text) remove_if_present(c.name);
  if (!place_output(files[0])) return give_up(result_not_written());
  // The other files replace the old ones by their renames; should one fail, none of its
  // kind is left to stand beside the new result.
  for (size_t f = 1; f < files.size(); ++f) {
    if (!written[f] || place_output(files[f])) continue;
    if (f < 3)
      remove_permutation_files();
    else
      remove_if_present(companions[f - 3].name);
    return give_up(not_written[f]);
  }
  return ok_status();
}

}  // namespace velk
