// VELKcells.tsv: the genotype cells of every reported set, one row per set and cell,
// for reading in R or a spreadsheet.
#pragma once

#include <cstdio>
#include <string>

#include "results/set_cells.h"

namespace velk {

inline constexpr const char* kCellsFileName = "VELKcells.tsv";

// The header line.
void write_cells_header(FILE* stream);

// The rows of the set ranked `rank` (1 for the result's first row): its 3^k cells in
// genotype order, then its individuals with a missing genotype. `snps` is the set's SNP
// identifiers joined by commas; `limits` the thresholds the cells were classified by.
void write_cells_rows(FILE* stream, long rank, const std::string& snps, const set_cells& cells,
                      const thresholds& limits);

}  // namespace velk
