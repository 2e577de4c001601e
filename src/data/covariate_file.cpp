#include "data/covariate_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "base/text_file.h"
#include "data/individual_lookup.h"
#include "data/text_rows.h"

namespace velk {

namespace {

constexpr size_t kShownBytes = 80;  // of a field quoted in a message
constexpr double kMissingCode = -9.0;

std::string shown(std::string_view field) {
  return token_for_message(field.data(), std::min(field.size(), kShownBytes), field.size());
}

// A decimal number as people write one: optional sign, digits with an optional point
// (or a point and digits), an optional exponent. strtod alone would also take "inf",
// "nan" and hexadecimal, which no covariate file means.
bool is_decimal(std::string_view s) {
  size_t i = 0;
  const auto digits = [&] {
    const size_t from = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    return i - from;
  };
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  size_t mantissa = digits();
  if (i < s.size() && s[i] == '.') {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    if (digits() == 0) return false;
  }
  return i == s.size();
}

// The value of a field: NaN for a missing one; false for a field that is not a finite
// number.
bool value_of(std::string_view field, double& value) {
  if (field == "NA") {
    value = NAN;
    return true;
  }
  if (!is_decimal(field)) return false;
  const std::string text(field);
  value = strtod(text.c_str(), nullptr);  // the C locale: the point is '.'
  if (!std::isfinite(value)) return false;
  if (value == kMissingCode) value = NAN;
  return true;
}

}  // namespace

status parse_covariates(const std::string& text, const char* name, const study_individuals& study,
                        covariate_table& table) {
  table.names.clear();
  table.values.clear();
  const long individuals = static_cast<long>(study.classes.size());
  const individual_lookup ids = make_individual_lookup(study);
  const bool positional = !names_individuals(ids);

  // The header: the first line that is not blank.
  long number = 0;
  size_t at = 0;
  int width = 0;
  std::vector<std::string_view> fields;
  while (at < text.size() && width == 0) {
    ++number;
    const size_t end = split_fields(text, at, nullptr, 0, width);
    if (width > 0) {
      fields.resize(static_cast<size_t>(width));
      split_fields(text, at, fields.data(), width, width);
    }
    at = end + 1;
  }
  if (width < 3 || fields[0] != "FID" || fields[1] != "IID")
    return failure(status_code::input_error,
                   "File %s, line %ld: the header is not FID, IID and the names of the covariates.\n", name,
                   width == 0 ? 1L : number);
  for (int c = 2; c < width; ++c) table.names.emplace_back(fields[c]);
  const size_t covariate_ct = table.names.size();
  table.values.assign(static_cast<size_t>(individuals) * covariate_ct, NAN);

  std::vector<long> named_on(static_cast<size_t>(individuals), 0);
  long next = 0;  // the next individual of a text study
  while (at < text.size()) {
    ++number;
    int count;
    const size_t end = split_fields(text, at, fields.data(), width, count);
    at = end + 1;
    if (count == 0) continue;
    if (count != width)
      return failure(
          status_code::input_error,
          "File %s, line %ld: found %d fields, expected %d (FID, IID and the %zu covariates of the header).\n", name,
          number, count, width, covariate_ct);
    long d;
    if (positional) {
      if (next == individuals)
        return failure(status_code::input_error,
                       "File %s, line %ld: more individuals than the study's %ld (a study of text genotype files "
                       "takes one line per individual, in its order).\n",
                       name, number, individuals);
      d = next++;
    } else {
      d = find_individual(ids, fields[0], fields[1]);
      if (d < 0) continue;  // not in the study
      if (named_on[d] != 0)
        return failure(status_code::input_error,
                       "File %s, line %ld: FID %s, IID %s is named twice (first on line %ld).\n", name, number,
                       shown(fields[0]).c_str(), shown(fields[1]).c_str(), named_on[d]);
    }
    named_on[d] = number;
    for (size_t c = 0; c < covariate_ct; ++c) {
      const std::string_view field = fields[c + 2];
      if (!value_of(field, table.values[static_cast<size_t>(d) * covariate_ct + c]))
        return failure(status_code::input_error,
                       "File %s, line %ld: covariate %s is \"%s\", not a number (NA or -9 when missing).\n", name,
                       number, shown(table.names[c]).c_str(), shown(field).c_str());
    }
  }
  const long end_line = number + 1;
  if (positional && next < individuals)
    return failure(status_code::input_error,
                   "File %s, line %ld: the file ends after %ld individuals, the study has %ld (a study of text "
                   "genotype files takes one line per individual, in its order).\n",
                   name, end_line, next, individuals);
  for (long d = 0; d < individuals && !positional; ++d) {
    if (named_on[d] != 0) continue;
    if (ids.by_fam)
      return failure(status_code::input_error, "File %s, line %ld: the file ends; no line for FID %s, IID %s.\n", name,
                     end_line, shown(study.fid[d]).c_str(), shown(study.iid[d]).c_str());
    return failure(status_code::input_error, "File %s, line %ld: the file ends; no line for sample %s.\n", name,
                   end_line, shown(study.sample[d]).c_str());
  }
  // A constant covariate is aliased with the intercept of every model: it adjusts for
  // nothing, and is most likely a column of the wrong file.
  for (size_t c = 0; c < covariate_ct; ++c) {
    double first = NAN;
    bool varies = false;
    for (long d = 0; d < individuals && !varies; ++d) {
      const double v = table.values[static_cast<size_t>(d) * covariate_ct + c];
      if (std::isnan(v)) continue;
      if (std::isnan(first)) first = v;
      else varies = v != first;
    }
    if (!varies)
      return failure(status_code::input_error,
                     "File %s, column %zu: covariate %s is constant over the study's individuals; leave it out.\n",
                     name, c + 3, shown(table.names[c]).c_str());
  }
  return ok_status();
}

status read_covariates(const char* name, const study_individuals& study, covariate_table& table) {
  table = {};
  struct stat info;
  if (stat(name, &info) != 0 && errno == ENOENT) return ok_status();
  table.found = true;
  std::string text;
  if (read_text_file(name, text) != text_file::read)
    return failure(status_code::input_error, "Can't read the input file %s\n", name);
  return parse_covariates(text, name, study, table);
}

std::string covariate_use(const covariate_table& table, long individuals) {
  if (!table.found) return std::string("No ") + kCovariateFileName + ": the interaction models hold no covariates";
  const size_t covariate_ct = table.names.size();
  long complete = 0;
  for (long d = 0; d < individuals; ++d) {
    bool all = true;
    for (size_t c = 0; c < covariate_ct; ++c) all = all && !std::isnan(table.values[d * covariate_ct + c]);
    complete += all;
  }
  std::string listed;
  for (const std::string& name : table.names) listed += (listed.empty() ? "" : " ") + name;
  return std::string(kCovariateFileName) + ": " + std::to_string(covariate_ct) + " covariates (" + listed +
         "), all present for " + std::to_string(complete) + " of the " + std::to_string(individuals) + " individuals";
}

}  // namespace velk
