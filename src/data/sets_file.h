// The sets of SNPs a focused search is asked about: VELKsets.txt in the study folder,
// in PLINK's .set format. A set's name, its SNPs, then END; names and SNPs are tokens
// separated by white space (one a line, as PLINK writes them), blank lines ignored.
// SNPs are named as velk-names names them: a fileset's .bim ID, a VCF record's ID (or
// CHROM:POS), FILE:COLUMN for a text file's SNP. A SNP may be in several sets.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"

namespace velk {

inline constexpr const char* kSetsFileName = "VELKsets.txt";

struct snp_set {
  std::string name;
  std::vector<int> snps;  // ascending, each once
  long line = 0;          // of its name
};

// Parses the text of a sets file named `name` (for messages); `index_of` gives a SNP's
// index for its name, or -1. Refuses (status 1), naming the line: a SNP not in the
// study, a set without END, a set without SNP, a set named twice, a file without set.
status parse_sets_file(const std::string& text, const char* name,
                       const std::function<long(std::string_view)>& index_of, std::vector<snp_set>& sets);

}  // namespace velk
