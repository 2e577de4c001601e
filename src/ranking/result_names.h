// SNP identifiers in place of SNP indices, for reading a result file: the .bim's ID
// of a fileset's SNP, and FILE:COLUMN (the name as listed, the 1-based SNP column) of
// a text file's SNP; on request a fileset SNP's chromosome and position too. Only the
// list, the .bim files, the first row of each text file and the first bytes of each
// .bed are read; the genotypes never are.
#pragma once

#include <string>
#include <vector>

#include "data/plink_fileset.h"

namespace velk {

struct study_snp_names {
  struct listed_file {
    std::string name;              // as listed
    long first = 0;                // index of its first SNP
    long snps = 0;
    std::vector<std::string> ids;  // a fileset's .bim IDs; empty for a text file
    std::vector<bim_place> places; // a fileset's chromosomes and positions, when asked for
  };
  std::vector<listed_file> files;
  long snps = 0;

  // The identifier of SNP `index` (0 <= index < snps).
  std::string name(long index) const;
  // Its chromosome and position, separated by a tab: "NA\tNA" for a text file's SNP, or
  // when the places were not read.
  std::string place(long index) const;
};

// Reads VELKResult.txt whole; false after reporting (a missing one means velk has not
// run in the folder).
bool read_result_file(std::string& text);

// Reads the list file and the SNPs of every file it names, with the filesets' SNP
// places when `with_places`. False after reporting.
bool read_snp_names(const char* list_name, study_snp_names& names, bool with_places = false);

// The result file's text with every SNP index replaced by its identifier (followed by
// its chromosome and position when `with_places`), and every field separated by tabs.
// The header names one column per SNP, SNP1 ... SNPk (with CHR1, POS1 after SNP1 and
// so on), then chi_SQ, P_value and #Major_cells. False after reporting a line that is
// not of a result file or an index beyond the study's SNPs.
bool name_result(const std::string& result, const char* result_name, const char* list_name,
                 const study_snp_names& names, std::string& out, bool with_places = false);

}  // namespace velk
