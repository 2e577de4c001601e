// VELKReport.html: one self-contained page (inline CSS and SVG, no script, nothing
// fetched) that shows a result beside its study: the study, the SNPs that occur in the
// sets, and the sets in rank order, each of the first kPictureSets with a picture of
// its genotype cells.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "results/interaction_tests.h"
#include "results/permutation_p_values.h"
#include "results/result_rows.h"
#include "results/set_cells.h"
#include "results/set_ld.h"
#include "results/snp_table.h"

namespace velk {

inline constexpr const char* kReportFileName = "VELKReport.html";
inline constexpr int kPictureSets = 200;  // beyond them a set gets a row without a picture

// What the models of the tests hold: the covariates and, over the sets and over their
// SNPs alone, the least and most individuals.
struct report_models {
  std::vector<std::string> covariates;  // their names (VELKcovariates.txt names one or more)
  long set_least = 0, set_most = 0;
  long snp_least = 0, snp_most = 0;
};

struct report_study {
  int individuals = 0;
  int cases = 0;
  int controls = 0;
  long snps = 0;
  struct listed_file {
    std::string name;
    long first = 0;  // index of its first SNP
    long snps = 0;
    const char* kind = "text";  // "text", "fileset" or "VCF/BCF"
  };
  std::vector<listed_file> files;
  // The parameters as the search used them.
  int order = 0;
  int level_factor = 0;
  bool level_factor_given = true;  // the parameter file set [MULFACTR]
  bool level_lists = true;         // the search grows level lists, which [MULFACTR] sizes
  double corrected_p_bound = 0.0;  // the bound on the corrected p-value
  double raw_p_bound = 0.0;        // the bound on the raw p-value; negative for none
  double tail_level = 0.0;
  int sets_rule = 0;            // [SETSRULE]
  long long min_distance = 0;   // [MINDISTB]
  double allowed_sets = -1;     // the sets a focused search allowed (from the run's record); -1: unknown or all
  std::string result_name;   // where the sets come from
  // The permutations that gave the family-wise p-values (shown only with them).
  long long permutation_ct = 0;  // B
  long long permutation_seed = 0;
  int strata = 1;
  report_models models;
  // The title: where, when and by what the page was written.
  std::string folder;
  std::string written;       // the date
  std::string version;
};

struct report_set {
  const result_row* row = nullptr;
  std::vector<std::string> snps;      // the identifiers of row->loci
  std::vector<std::string> positions; // of the same SNPs, "CHROM:POS"; empty for a text file's
  std::vector<std::string> alleles;   // the counted alleles; empty for a text file's
  const set_cells* cells = nullptr;   // the counted cells; null for a set without picture
  const interaction_result* interaction = nullptr;  // its interaction tests; null for none
  const set_ld* ld = nullptr;                       // the LD among its SNPs; null for none
};

// Writes the page. `snps` holds the sets' SNPs alone, ascending; `family_wise` one
// family-wise p-value per set, or nothing for a page without that column.
void write_html_report(FILE* stream, const report_study& study, const std::vector<report_set>& sets,
                       const std::vector<reported_snp>& snps,
                       const std::optional<std::vector<family_wise_value>>& family_wise);

}  // namespace velk
