// The classes of the samples of VCF and BCF files, which carry none themselves: the
// file VELKphenotypes.txt in the study folder, one sample per line, as `IID STATUS` or
// PLINK's `FID IID STATUS`, with STATUS coded as in a .fam (2 case, 1 control, 0 or -9
// no class). An optional first line whose first field is FID, #FID or IID is a header.
#pragma once

#include <string>
#include <vector>

#include "base/status.h"
#include "data/classes.h"

namespace velk {

inline constexpr const char* kPhenotypeFileName = "VELKphenotypes.txt";

struct phenotype_entry {
  std::string fid;  // empty in the IID STATUS form
  std::string iid;
  unsigned char klass = kNoClass;  // kCase, kControl or kNoClass
  std::string status;              // as written
  long line = 0;                   // 1-based, for messages
};

struct phenotype_table {
  std::vector<phenotype_entry> entries;  // in file order
  bool with_fid = false;                 // the FID IID STATUS form
};

// Reads the text of a phenotype file named `name` (for messages). Refuses a line of another number of fields than the first sample line, of neither
// two nor three fields, a status other than 2, 1, 0 and -9, a sample listed twice
// (the same IID, or the same FID and IID), or a file without any sample.
status parse_phenotypes(const std::string& text, const char* name, phenotype_table& table);

// Opens, reads and parses the phenotype file `name`.
status read_phenotypes(const char* name, phenotype_table& table);

// "FID f IID i", or "IID i" in the two-field form, for messages.
std::string shown_sample(const phenotype_table& table, const phenotype_entry& entry);

}  // namespace velk
