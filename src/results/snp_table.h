// Every SNP of the reported sets on its own, and the table of them, VELKsnps.tsv: its
// major-cell statistic alone (the one each set must beat in the searches) and its main
// effect. A SNP strong alone carries every set it joins; beside the sets, the table
// shows which ones.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "results/interaction_tests.h"
#include "results/result_rows.h"

namespace velk {

inline constexpr const char* kSnpsFileName = "VELKsnps.tsv";

struct reported_snp {
  long index = 0;
  std::string name;
  std::string chromosome, position;  // as its file gives them; empty for a text file's SNP
  double chisq = 0.0;                // the statistic of its three cells
  double p_value = 0.0;              // its chi-square tail, 2 degrees of freedom, as the result's P_value
  main_effect_result main_effect;
};

// The SNPs of the rows, each once, ascending.
std::vector<long> reported_snp_indices(const std::vector<result_row>& rows);

// The SNP of `snps` (ascending by index) with index `index`, or null.
const reported_snp* find_snp(const std::vector<reported_snp>& snps, long index);

// The header "SNP INDEX CHR POS CHISQ P MAIN_P N" and one row per SNP, tab-separated,
// NA for a place or a p-value that does not exist.
void write_snps_table(FILE* stream, const std::vector<reported_snp>& snps);

}  // namespace velk
