// SNP identifiers in place of SNP indices, for reading a result file: the .bim's ID
// of a fileset's SNP, and FILE:COLUMN (the name as listed, the 1-based SNP column) of
// a text file's SNP. Only the list, the .bim files, the first row of each text file and
// the first bytes of each .bed are read; the genotypes never are.
#pragma once

#include <string>
#include <vector>

namespace velk {

struct study_snp_names {
  struct listed_file {
    std::string name;              // as listed
    long first = 0;                // index of its first SNP
    long snps = 0;
    std::vector<std::string> ids;  // a fileset's .bim IDs; empty for a text file
  };
  std::vector<listed_file> files;
  long snps = 0;

  // The identifier of SNP `index` (0 <= index < snps).
  std::string name(long index) const;
};

// Reads the list file and the SNPs of every file it names. False after reporting.
bool read_snp_names(const char* list_name, study_snp_names& names);

// The result file's text with every SNP index replaced by its identifier, and every
// row's fields separated by tabs; the header stays as it is. False after reporting a
// line that is not of a result file or an index beyond the study's SNPs.
bool name_result(const std::string& result, const char* result_name, const char* list_name,
                 const study_snp_names& names, std::string& out);

}  // namespace velk
