// The rows of a result file read back: each set's SNP indices, and its statistic,
// p-value and case-major cell count as the file holds them, for the programs that
// look at a search's result again beside its study.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"

namespace velk {

inline constexpr int kLargestSet = 4;  // SNPs in a set of the searches

struct result_row {
  long line = 0;                 // line number in the result file
  std::vector<int64_t> loci;     // ascending SNP indices, 1 to kLargestSet of them
  std::string chisq_text;        // the fields as written: "%f", "%g"
  std::string p_value_text;
  std::string nmajor_text;
  int case_major_ct = 0;  // the #Major_cells column (-1 when it is no count)

  // The indices as the result file writes them: "5 17 31".
  std::string loci_text() const;
};

// How much of a row is checked: all of it (velk-report, which recounts each set), or
// only its SNP indices (velk-names, which prints the other fields as they stand).
enum class row_checks { all, indices };

// Reads the result file's text: the header, then one row per set. A row has 1 to
// kLargestSet ascending SNP indices below `snps` (as many as every other row), a
// statistic, a p-value and a non-negative count; with row_checks::indices, one or more
// indices below `snps` and three fields after them. Fails on the first line that is
// not so, naming `result_name` and, for an index beyond the study, `list_name`.
status read_result_rows(const std::string& text, const char* result_name, const char* list_name, long snps,
                        std::vector<result_row>& rows, row_checks checks = row_checks::all);

// The header line of a result file, as the result writer writes it.
inline constexpr const char* kResultHeader = "Loci\tchi_SQ\tP_value\t#Major_cells";

// The fields of a line: runs of characters other than blanks and tabs.
std::vector<std::string> split_fields(const std::string& line);

}  // namespace velk
