#include "results/result_rows.h"

#include <algorithm>

#include "base/status.h"
#include "base/text_file.h"
#include "data/text_rows.h"

namespace velk {

namespace {

constexpr size_t kStatisticFields = 3;  // statistic, p-value, case-major cells

// A count as the result writer writes it: decimal digits only; -1 otherwise.
long digits_value(const std::string& field, size_t most_digits) {
  if (field.empty() || field.size() > most_digits) return -1;
  long value = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

std::string result_row::loci_text() const {
  std::string text;
  for (int64_t locus : loci) {
    if (!text.empty()) text += ' ';
    text += std::to_string(locus);
  }
  return text;
}

std::vector<std::string> split_fields(const std::string& line) {
  std::vector<std::string> fields;
  size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && is_blank(line[at])) ++at;
    const size_t start = at;
    while (at < line.size() && !is_blank(line[at])) ++at;
    if (at > start) fields.push_back(line.substr(start, at - start));
  }
  return fields;
}

status read_result_rows(const std::string& text, const char* result_name, const char* list_name, long snps,
                        std::vector<result_row>& rows, row_checks checks) {
  const bool all = checks == row_checks::all;
  rows.clear();
  long line = 0;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string row_text = text.substr(at, end - at);
    at = end + 1;
    ++line;
    if (line == 1) {
      if (row_text != kResultHeader)
        return failure(status_code::input_error, "File %s, line 1: not the header of a VELK result file.\n",
                       result_name);
      continue;
    }
    const std::vector<std::string> fields = split_fields(row_text);
    const long case_major_ct = fields.size() > kStatisticFields ? digits_value(fields.back(), 9) : -1;
    if (fields.size() <= kStatisticFields ||
        (all && (case_major_ct < 0 || fields.size() > kStatisticFields + kLargestSet)))
      return failure(status_code::input_error, "File %s, line %ld: not a row of a VELK result file.\n", result_name,
                     line);
    result_row row;
    row.line = line;
    const size_t order = fields.size() - kStatisticFields;
    for (size_t i = 0; i < order; ++i) {
      const long index = digits_value(fields[i], 18);
      if (index < 0)
        return failure(
            status_code::input_error, "File %s, line %ld: \"%s\" is not a SNP index.\n", result_name, line,
            token_for_message(fields[i].data(), std::min<size_t>(fields[i].size(), 40), fields[i].size()).c_str());
      if (index >= snps)
        return failure(status_code::input_error,
                       "File %s, line %ld: SNP index %ld is beyond the %ld SNPs of the files listed in %s.\n",
                       result_name, line, index, snps, list_name);
      if (all && !row.loci.empty() && index <= row.loci.back())
        return failure(status_code::input_error, "File %s, line %ld: the SNP indices are not in ascending order.\n",
                       result_name, line);
      row.loci.push_back(index);
    }
    if (all && !rows.empty() && row.loci.size() != rows[0].loci.size())
      return failure(status_code::input_error, "File %s, line %ld: %zu SNP indices where line %ld has %zu.\n",
                     result_name, line, row.loci.size(), rows[0].line, rows[0].loci.size());
    row.chisq_text = fields[order];
    row.p_value_text = fields[order + 1];
    row.nmajor_text = fields[order + 2];
    row.case_major_ct = static_cast<int>(case_major_ct);
    rows.push_back(std::move(row));
  }
  if (line == 0)
    return failure(status_code::input_error, "File %s is empty; it is not a VELK result file.\n", result_name);
  return ok_status();
}

}  // namespace velk
