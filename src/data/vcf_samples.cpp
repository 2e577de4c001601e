#include "data/vcf_samples.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <unordered_map>

#include "base/console.h"
#include "data/text_rows.h"

namespace velk {

namespace {

constexpr size_t kShownBytes = 80;  // of a sample name in a message

std::string shown(const std::string& text) {
  return token_for_message(text.data(), std::min(text.size(), kShownBytes), text.size());
}

bool present(const char* name) {
  struct stat info;
  return lstat(name, &info) == 0;
}

// The entries a name can stand for: by IID and, in the FID IID STATUS form, by FID_IID.
using name_index = std::unordered_map<std::string, std::vector<long>>;

name_index index_names(const phenotype_table& table) {
  name_index index;
  for (size_t e = 0; e < table.entries.size(); ++e) {
    const phenotype_entry& entry = table.entries[e];
    index[entry.iid].push_back(static_cast<long>(e));
    // FID_IID may also be another entry's IID: a sample of that name then matches both.
    if (table.with_fid) index[entry.fid + "_" + entry.iid].push_back(static_cast<long>(e));
  }
  return index;
}

// The individuals of another file, whose samples must be the first file's.
status follow_first(const vcf_file& first, vcf_file& file) {
  if (file.samples.size() != first.samples.size()) {
    return failure(status_code::input_error, "File %s holds %zu samples, the first VCF or BCF file %s %zu.\n",
                   file.listed.c_str(), file.samples.size(), first.listed.c_str(), first.samples.size());
  }
  std::unordered_map<std::string, size_t> in_first;
  for (size_t s = 0; s < first.samples.size(); ++s) in_first.emplace(first.samples[s], s);
  file.individual_of.assign(file.samples.size(), -1);
  file.sample_of.assign(first.sample_of.size(), -1);
  file.classes = first.classes;
  for (size_t s = 0; s < file.samples.size(); ++s) {
    const auto found = in_first.find(file.samples[s]);
    if (found == in_first.end()) {
      return failure(status_code::input_error, "File %s: sample %s is not in the first VCF or BCF file %s.\n",
                     file.listed.c_str(), shown(file.samples[s]).c_str(), first.listed.c_str());
    }
    // htslib refuses a header that names a sample twice, so equal counts and every
    // sample found make the same samples.
    const int32_t d = first.individual_of[found->second];
    file.individual_of[s] = d;
    if (d >= 0) file.sample_of[static_cast<size_t>(d)] = static_cast<int32_t>(s);
  }
  return ok_status();
}

}  // namespace

status match_to_table(const std::string& listed, const std::vector<std::string>& samples, const phenotype_table& table,
                      std::vector<long>& entry_of) {
  const name_index index = index_names(table);
  entry_of.assign(samples.size(), -1);
  std::vector<long> sample_of_entry(table.entries.size(), -1);
  for (size_t s = 0; s < samples.size(); ++s) {
    const auto found = index.find(samples[s]);
    if (found == index.end()) continue;
    const std::vector<long>& entries = found->second;
    if (entries.size() > 1) {
      return failure(status_code::input_error, "File %s: sample %s matches line %ld and line %ld of %s.\n",
                     listed.c_str(), shown(samples[s]).c_str(), table.entries[static_cast<size_t>(entries[0])].line,
                     table.entries[static_cast<size_t>(entries[1])].line, kPhenotypeFileName);
    }
    const long e = entries[0];
    long& taken = sample_of_entry[static_cast<size_t>(e)];
    if (taken >= 0) {
      return failure(status_code::input_error, "File %s: samples %s and %s both match line %ld of %s.\n",
                     listed.c_str(), shown(samples[static_cast<size_t>(taken)]).c_str(), shown(samples[s]).c_str(),
                     table.entries[static_cast<size_t>(e)].line, kPhenotypeFileName);
    }
    taken = static_cast<long>(s);
    entry_of[s] = e;
  }
  return ok_status();
}

status match_vcf_samples(std::vector<std::optional<vcf_file>>& files, load_notes& notes) {
  const char* const phenotype_name = kPhenotypeFileName;
  const auto first = std::find_if(files.begin(), files.end(), [](const auto& f) { return f.has_value(); });
  if (first == files.end()) {
    // Kept out of the checked output: a warning line is advice, not a result.
    if (present(phenotype_name))
      notes.warn(std::string(phenotype_name) + " is not read: the study lists no VCF or BCF file.");
    return ok_status();
  }
  phenotype_table table;
  if (status read = read_phenotypes(phenotype_name, table); !read.ok()) return read;
  vcf_file& lead = **first;
  std::vector<long> entry_of;
  if (status matched = match_to_table(lead.listed, lead.samples, table, entry_of); !matched.ok()) return matched;
  lead.individual_of.assign(lead.samples.size(), -1);
  lead.sample_of.clear();
  lead.classes.clear();
  lead.left_out.clear();
  for (size_t s = 0; s < lead.samples.size(); ++s) {
    if (entry_of[s] < 0) {
      lead.left_out.push_back({"0", lead.samples[s], std::string("no line in ") + phenotype_name});
      continue;
    }
    const phenotype_entry& entry = table.entries[static_cast<size_t>(entry_of[s])];
    if (entry.klass == kNoClass) {
      lead.left_out.push_back({"0", lead.samples[s], printf_string("status %s on line %ld of %s",
                                                                  entry.status.c_str(), entry.line, phenotype_name)});
      continue;
    }
    const unsigned char klass = entry.klass;
    lead.individual_of[s] = static_cast<int32_t>(lead.classes.size());
    lead.sample_of.push_back(static_cast<int32_t>(s));
    lead.classes.push_back(klass);
  }
  if (lead.classes.empty()) {
    return failure(status_code::input_error,
                   "File %s: none of its %zu samples has a class in %s (a sample matches by its name as IID or as "
                   "FID_IID).\n",
                   lead.listed.c_str(), lead.samples.size(), phenotype_name);
  }
  // A file coded 1/0, as for R, reads as controls and samples without a class: a study
  // of one class would run, find nothing and replace the result with an empty one.
  const long cases = std::count(lead.classes.begin(), lead.classes.end(), kCase);
  if (cases == 0 || cases == static_cast<long>(lead.classes.size())) {
    return with_hint(
        failure(status_code::input_error, "File %s: none of the %zu samples of %s with a class is a %s.\n",
                phenotype_name, lead.classes.size(), lead.listed.c_str(),
                cases == 0 ? "case (status 2)" : "control (status 1)"),
        cases == 0 ? "VELKphenotypes.txt codes the status as a .fam does: 2 case, 1 control, 0 or -9 no class; a "
                     "file coded 1 for a case and 0 for a control (as for R) reads as controls only. Write 2 for a "
                     "case and 1 for a control."
                   : "VELKphenotypes.txt codes the status as a .fam does: 2 case, 1 control, 0 or -9 no class; a "
                     "study needs samples of both classes. Write 1 for a control.");
  }
  for (auto f = first + 1; f != files.end(); ++f) {
    if (!f->has_value()) continue;
    if (status followed = follow_first(lead, **f); !followed.ok()) return followed;
  }
  notes.say(printf_string("\t Samples left out (no class in %s): %zu of %zu.\n", phenotype_name,
                          lead.samples.size() - lead.classes.size(), lead.samples.size()));
  return ok_status();
}

}  // namespace velk
