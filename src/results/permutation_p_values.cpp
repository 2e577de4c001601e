#include "results/permutation_p_values.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "base/console.h"
#include "base/text_file.h"
#include "data/genotype_input.h"
#include "data/parameter_file.h"
#include "results/permutation_tail.h"

namespace velk {

namespace {

// chi_SQ, P_value, FW_P_value, Exceeding, and FW_P_tail in files written since the tail
// approximation. Files without it are read still: folders of earlier runs hold them.
constexpr size_t kTrailingFields = 4;
constexpr const char* kTailColumn = "FW_P_tail";

std::optional<std::vector<family_wise_value>> left_out() { return std::nullopt; }

// The fields after the SNPs of a header, 4 or 5 (with FW_P_tail).
size_t trailing_fields(const std::vector<std::string>& header) {
  return !header.empty() && header.back() == kTailColumn ? kTrailingFields + 1 : kTrailingFields;
}

bool is_header(const std::vector<std::string>& fields, size_t order) {
  const size_t trailing = trailing_fields(fields);
  if (fields.size() != order + trailing) return false;
  for (size_t i = 0; i < order; ++i)
    if (fields[i] != "SNP" + std::to_string(i + 1)) return false;
  return fields[order] == "chi_SQ" && fields[order + 1] == "P_value" && fields[order + 2] == "FW_P_value" &&
         fields[order + 3] == "Exceeding";
}

// A probability written by "%g", and a count written by "%ld".
bool is_probability(const std::string& field) {
  char* end = nullptr;
  const double value = strtod(field.c_str(), &end);
  return !field.empty() && *end == '\0' && value >= 0.0 && value <= 1.0;
}

bool is_count(const std::string& field) {
  if (field.empty() || field.size() > 18) return false;
  for (char c : field)
    if (c < '0' || c > '9') return false;
  return true;
}

// The p-value as the permutation file of B permutations writes it, for `exceeding`.
std::string written_p_value(long exceeding, long long permutation_ct) {
  char text[32];
  snprintf(text, sizeof text, "%g",
           (1.0 + static_cast<double>(exceeding)) / (static_cast<double>(permutation_ct) + 1.0));
  return text;
}

// A tail p-value as the permutation file writes it: NA, or a p-value ("%g") of a set
// the tail applies to.
bool is_tail_value(const std::string& field, long exceeding, long long permutation_ct) {
  if (field == "NA") return true;
  char* end = nullptr;
  const double value = strtod(field.c_str(), &end);
  return !field.empty() && *end == '\0' && value > 0.0 && value <= 1.0 && tail_applies(exceeding, permutation_ct);
}

bool row_matches(const std::vector<std::string>& fields, const result_row& row, size_t trailing) {
  const size_t order = row.loci.size();
  if (fields.size() != order + trailing) return false;
  for (size_t i = 0; i < order; ++i)
    if (fields[i] != std::to_string(row.loci[i])) return false;
  return fields[order] == row.chisq_text;
}

}  // namespace

std::optional<std::vector<family_wise_value>> read_family_wise_p_values(const char* name, const char* result_name,
                                                                        const std::vector<result_row>& rows,
                                                                        long long permutation_ct) {
  std::string text;
  const text_file read = read_text_file(name, text);
  if (read == text_file::cannot_open && errno == ENOENT) return left_out();
  if (read != text_file::read) {
    warn("can't read %s; the family-wise p-values are left out.", name);
    return left_out();
  }
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  // The order of the result's sets; any order when the result holds no set.
  const std::vector<std::string> header = lines.empty() ? std::vector<std::string>() : split_fields(lines[0]);
  const size_t trailing = trailing_fields(header);
  const size_t order = rows.empty() ? header.size() - std::min(header.size(), trailing) : rows[0].loci.size();
  if (!is_header(header, order) || order < 1 || order > static_cast<size_t>(kLargestSet)) {
    warn("%s, line 1: not the header of a permutation file for the sets of %s; the family-wise p-values "
           "are left out.",
           name, result_name);
    return left_out();
  }
  if (lines.size() - 1 != rows.size()) {
    warn("%s holds %zu sets, %s %zu; the family-wise p-values are left out.", name, lines.size() - 1,
           result_name, rows.size());
    return left_out();
  }
  if (permutation_ct <= 0) {
    warn("%s sets no [PERMUTES] above 0, so %s is not of its run; the family-wise p-values are left out.",
         kParameterFileName, name);
    return left_out();
  }
  std::vector<family_wise_value> p_values;
  for (size_t r = 0; r < rows.size(); ++r) {
    const std::vector<std::string> fields = split_fields(lines[r + 1]);
    if (!row_matches(fields, rows[r], trailing)) {
      warn("%s, line %zu: not the SNPs and chi_SQ of %s, line %ld; the family-wise p-values are left "
             "out.",
             name, r + 2, result_name, rows[r].line);
      return left_out();
    }
    const size_t at = rows[r].loci.size() + 2;
    if (!is_probability(fields[at]) || !is_count(fields[at + 1])) {
      warn("%s, line %zu: not a family-wise p-value and a count; the family-wise p-values are left "
             "out.",
             name, r + 2);
      return left_out();
    }
    const long exceeding = strtol(fields[at + 1].c_str(), nullptr, 10);
    if (fields[at] != written_p_value(exceeding, permutation_ct)) {
      warn(
          "%s, line %zu: FW_P_value %s is not (1 + Exceeding) / (B + 1) for [PERMUTES] %lld of %s; the "
          "family-wise p-values are left out.",
          name, r + 2, fields[at].c_str(), permutation_ct, kParameterFileName);
      return left_out();
    }
    const std::string tail = trailing > kTrailingFields ? fields[at + 2] : "NA";
    if (!is_tail_value(tail, exceeding, permutation_ct)) {
      warn("%s, line %zu: FW_P_tail %s is neither NA nor a tail p-value, which needs [PERMUTES] %lld or more and "
           "Exceeding below %ld; the family-wise p-values are left out.",
           name, r + 2, tail.c_str(), kTailLeastPermutations, kTailExceedingLimit);
      return left_out();
    }
    p_values.push_back({fields[at], exceeding, tail});
  }
  return p_values;
}

}  // namespace velk
