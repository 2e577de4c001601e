#include "data/strata_file.h"

#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "base/text_file.h"
#include "data/individual_lookup.h"
#include "data/text_rows.h"

namespace velk {

namespace {

struct strata_line {
  long number;
  int count;                       // fields on the line
  std::string_view fields[4];      // the first four
};

// The non-blank lines of the text, with their numbers and fields.
std::vector<strata_line> lines_of(const std::string& text) {
  std::vector<strata_line> lines;
  long number = 0;
  for (size_t at = 0; at < text.size();) {
    strata_line line{++number, 0, {}};
    at = split_fields(text, at, line.fields, 4, line.count) + 1;
    if (line.count > 0) lines.push_back(line);
  }
  return lines;
}

std::string shown(std::string_view field) {
  return token_for_message(field.data(), std::min(field.size(), kTokenPreview), field.size());
}

// The forms of a line, by its number of fields; messages about a line's form name them.
const char* form_name(int width) { return width == 1 ? "a label" : width == 2 ? "IID and label" : "FID, IID and label"; }
constexpr const char* kForms = "a label (one per individual, in the study's order), IID and label, or FID, IID and label";

}  // namespace

status read_strata(const char* name, const study_individuals& study, std::vector<int>& stratum, int& strata) {
  std::string text;
  if (read_text_file(name, text) != text_file::read) {
    return failure(status_code::input_error, "Can't read the input file %s\n", name);
  }
  const std::vector<strata_line> lines = lines_of(text);
  const long individuals = static_cast<long>(study.classes.size());
  const int width = lines.empty() ? 1 : lines[0].count;
  std::vector<std::string_view> label(individuals);
  std::vector<long> named_on(individuals, 0);
  if (width > 3) {
    return failure(status_code::input_error, "File %s, line %ld: found %d fields; a line holds %s.\n", name,
                   lines[0].number, width, kForms);
  }
  if (width > 1 && study.iid.empty() && study.sample.empty()) {
    return failure(status_code::input_error,
                   "File %s, line %ld: lines of %s need a first listed file that names its individuals "
                   "(a PLINK fileset, a VCF or BCF file); list one label per individual instead.\n",
                   name, lines[0].number, form_name(width));
  }
  const individual_lookup ids = make_individual_lookup(study);
  const auto individual = [&](const strata_line& line) -> long {
    return width == 3 ? find_individual(ids, line.fields[0], line.fields[1]) : find_individual_by_iid(ids, line.fields[0]);
  };
  const auto shown_id = [&](const strata_line& line) {
    return width == 3 ? "FID " + shown(line.fields[0]) + ", IID " + shown(line.fields[1]) : "IID " + shown(line.fields[0]);
  };
  long next = 0;
  for (const strata_line& line : lines) {
    if (line.count != width) {
      return failure(status_code::input_error, "File %s, line %ld: found %d fields, expected %d (%s).\n", name,
                     line.number, line.count, width, form_name(width));
    }
    long d;
    if (width == 1) {
      if (next == individuals) {
        return failure(status_code::input_error, "File %s, line %ld: more labels than the study's %ld individuals.\n",
                       name, line.number, individuals);
      }
      d = next++;
    } else {
      d = individual(line);
      if (d == kNamedTwice) {
        return failure(
            status_code::input_error,
            "File %s, line %ld: IID %s names more than one individual of the study; give lines of FID, IID and "
            "label.\n",
            name, line.number, shown(line.fields[0]).c_str());
      }
      if (d < 0) continue;  // not in the study
      if (named_on[d] != 0) {
        return failure(status_code::input_error, "File %s, line %ld: %s is named twice (first on line %ld).\n", name,
                       line.number, shown_id(line).c_str(), named_on[d]);
      }
    }
    named_on[d] = line.number;
    label[d] = line.fields[width - 1];
  }
  const long end_line = lines.empty() ? 1 : lines.back().number + 1;
  for (long d = 0; d < individuals; ++d) {
    if (named_on[d] != 0) continue;
    if (width == 1)
      return failure(status_code::input_error,
                     "File %s, line %ld: the file ends; no label for individual %ld of the study's %ld.\n", name,
                     end_line, d + 1, individuals);
    if (!study.iid.empty())
      return failure(status_code::input_error, "File %s, line %ld: the file ends; no label for FID %s, IID %s.\n", name,
                     end_line, shown(study.fid[d]).c_str(), shown(study.iid[d]).c_str());
    return failure(status_code::input_error, "File %s, line %ld: the file ends; no label for sample %s.\n", name,
                   end_line, shown(study.sample[d]).c_str());
  }
  std::map<std::string_view, int> index;
  stratum.assign(individuals, 0);
  for (long d = 0; d < individuals; ++d) {
    const auto [at, added] = index.try_emplace(label[d], static_cast<int>(index.size()));
    stratum[d] = at->second;
  }
  strata = static_cast<int>(index.size());
  return ok_status();
}

}  // namespace velk
