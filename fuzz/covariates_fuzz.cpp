// Fuzz target: the covariate file VELKcovariates.txt and its matching to a study's
// individuals, compared with an independent reading.
//
// Input: parts cut at "@@@@\n": the covariate file's text, then (when there is a second
// part) the study: a first line "F" (a fileset; then one "FID IID" per line), "S" (a
// VCF file; then one sample name per line) or "T N" (text files of N individuals).
// Without it the study is a fileset of three individuals.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "data/covariate_file.h"
#include "harness.h"

namespace {

using namespace velk::fuzz;

const char* const kName = "VELKcovariates.txt";

struct ref_result {
  bool ok = false;
  std::string err;
  std::vector<std::string> names;
  std::vector<double> values;
};

std::vector<std::string> ref_fields(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  for (size_t i = 0; i <= line.size(); ++i) {
    const char c = i < line.size() ? line[i] : ' ';
    if (c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f') {
      if (!field.empty()) fields.push_back(field);
      field.clear();
    } else {
      field.push_back(c);
    }
  }
  return fields;
}

std::string at_line(long line) { return std::string("File ") + kName + ", line " + std::to_string(line) + ": "; }

// A number is what strtod reads whole from the characters of decimal numbers alone
// (which leaves out "inf", "nan" and hexadecimal).
bool ref_value(const std::string& field, double& value) {
  if (field == "NA") {
    value = NAN;
    return true;
  }
  if (field.empty() || field.find_first_not_of("0123456789+-.eE") != std::string::npos) return false;
  char* end = nullptr;
  value = strtod(field.c_str(), &end);
  if (end != field.c_str() + field.size() || !std::isfinite(value)) return false;
  if (value == -9.0) value = NAN;
  return true;
}

// The study's index of the individual a line names, or -1.
long ref_find(const velk::study_individuals& study, const std::string& fid, const std::string& iid) {
  const long n = static_cast<long>(study.classes.size());
  if (!study.iid.empty()) {
    for (long d = 0; d < n; ++d)
      if (study.fid[d] == fid && study.iid[d] == iid) return d;
    return -1;
  }
  for (long d = 0; d < n; ++d)
    if (study.sample[d] == iid) return d;
  for (long d = 0; d < n; ++d)
    if (study.sample[d] == fid + "_" + iid) return d;
  return -1;
}

ref_result ref_parse(const std::string& text, const velk::study_individuals& study) {
  ref_result t;
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  size_t first = 0;
  while (first < lines.size() && ref_fields(lines[first]).empty()) ++first;
  const std::vector<std::string> header = first < lines.size() ? ref_fields(lines[first]) : std::vector<std::string>();
  if (header.size() < 3 || header[0] != "FID" || header[1] != "IID") {
    t.err = at_line(header.empty() ? 1 : static_cast<long>(first) + 1) +
            "the header is not FID, IID and the names of the covariates.\n";
    return t;
  }
  t.names.assign(header.begin() + 2, header.end());
  const size_t q = t.names.size();
  const long n = static_cast<long>(study.classes.size());
  const bool by_order = study.iid.empty() && study.sample.empty();
  t.values.assign(static_cast<size_t>(n) * q, NAN);
  std::vector<long> named_on(n, 0);
  long next = 0;
  for (size_t i = first + 1; i < lines.size(); ++i) {
    const long line = static_cast<long>(i) + 1;
    const std::vector<std::string> f = ref_fields(lines[i]);
    if (f.empty()) continue;
    if (f.size() != header.size()) {
      t.err = at_line(line) + "found " + std::to_string(f.size()) + " fields, expected " +
              std::to_string(header.size()) + " (FID, IID and the " + std::to_string(q) + " covariates of the header).\n";
      return t;
    }
    long d;
    if (by_order) {
      if (next == n) {
        t.err = at_line(line) + "more individuals than the study's " + std::to_string(n) +
                " (a study of text genotype files takes one line per individual, in its order).\n";
        return t;
      }
      d = next++;
    } else {
      d = ref_find(study, f[0], f[1]);
      if (d < 0) continue;
      if (named_on[d] != 0) {
        t.err = at_line(line) + "FID " + ref_shown(f[0]) + ", IID " + ref_shown(f[1]) + " is named twice (first on line " +
                std::to_string(named_on[d]) + ").\n";
        return t;
      }
    }
    named_on[d] = line;
    for (size_t c = 0; c < q; ++c)
      if (!ref_value(f[c + 2], t.values[d * q + c])) {
        t.err = at_line(line) + "covariate " + ref_shown(t.names[c]) + " is \"" + ref_shown(f[c + 2]) +
                "\", not a number (NA or -9 when missing).\n";
        return t;
      }
  }
  const long end_line = static_cast<long>(lines.size()) + 1;
  if (by_order && next < n) {
    t.err = at_line(end_line) + "the file ends after " + std::to_string(next) + " individuals, the study has " +
            std::to_string(n) + " (a study of text genotype files takes one line per individual, in its order).\n";
    return t;
  }
  for (long d = 0; d < n && !by_order; ++d) {
    if (named_on[d] != 0) continue;
    t.err = at_line(end_line) + "the file ends; no line for " +
            (study.iid.empty() ? "sample " + ref_shown(study.sample[d])
                               : "FID " + ref_shown(study.fid[d]) + ", IID " + ref_shown(study.iid[d])) +
            ".\n";
    return t;
  }
  for (size_t c = 0; c < q; ++c) {
    std::vector<double> present;
    for (long d = 0; d < n; ++d)
      if (!std::isnan(t.values[d * q + c])) present.push_back(t.values[d * q + c]);
    bool varies = false;
    for (double v : present) varies = varies || v != present[0];
    if (!varies) {
      t.err = std::string("File ") + kName + ", column " + std::to_string(c + 3) + ": covariate " +
              ref_shown(t.names[c]) + " is constant over the study's individuals; leave it out.\n";
      return t;
    }
  }
  t.ok = true;
  return t;
}

// The study a second part describes; IDs that repeat are left out (a study's IDs are
// its own to check).
velk::study_individuals make_study(const std::vector<std::string>& parts) {
  velk::study_individuals study;
  std::vector<std::string> lines;
  if (parts.size() > 1)
    for (size_t at = 0; at < parts[1].size();) {
      size_t end = parts[1].find('\n', at);
      if (end == std::string::npos) end = parts[1].size();
      lines.push_back(parts[1].substr(at, end - at));
      at = end + 1;
    }
  const std::string kind = lines.empty() ? "F" : lines[0];
  if (lines.empty()) lines = {"F", "f1 i1", "f1 i2", "f2 i1"};
  if (kind.rfind("T ", 0) == 0) {
    const long n = std::min(atol(kind.c_str() + 2), 1000L);
    study.classes.assign(std::max(n, 0L), 0);
    return study;
  }
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string> f = ref_fields(lines[i]);
    if (kind == "S" && f.size() == 1 && std::find(study.sample.begin(), study.sample.end(), f[0]) == study.sample.end()) {
      study.sample.push_back(f[0]);
      study.classes.push_back(0);
    }
    if (kind != "S" && f.size() == 2 && ref_find(study, f[0], f[1]) < 0) {
      study.fid.push_back(f[0]);
      study.iid.push_back(f[1]);
      study.classes.push_back(0);
    }
  }
  return study;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> parts = split_parts(data, size);
  const velk::study_individuals study = make_study(parts);
  const ref_result want = ref_parse(parts[0], study);
  velk::covariate_table got;
  const velk::status status = velk::parse_covariates(parts[0], kName, study, got);
  FUZZ_CHECK(status.ok() == want.ok, status.message + " / expected: " + want.err);
  FUZZ_CHECK(status.message == want.err, status.message + " / expected: " + want.err);
  if (!status.ok()) {
    check_one_message(status.message);
    return 0;
  }
  FUZZ_CHECK(got.names == want.names, "names");
  FUZZ_CHECK(got.values.size() == want.values.size(), "value count");
  for (size_t i = 0; i < got.values.size(); ++i)
    FUZZ_CHECK(got.values[i] == want.values[i] || (std::isnan(got.values[i]) && std::isnan(want.values[i])),
               "value " + std::to_string(i));
  return 0;
}
