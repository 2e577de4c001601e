// The individuals of the VCF and BCF files of a study: their samples matched to the
// classes of VELKphenotypes.txt.
//
// A sample matches a line of the phenotype file by its name as the line's IID, or as
// FID_IID (the name plink1.9 --recode vcf gives a sample). The individuals are the
// samples of the first VCF or BCF file that have a class (2 or 1), in that file's order;
// every other VCF or BCF file must have the same samples, in any order, and is read in
// the first one's. The phenotype file's lines for samples that no file has are ignored.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/status.h"
#include "data/load_notes.h"
#include "data/phenotype_file.h"
#include "data/vcf_file.h"

namespace velk {

// Per sample of a file, the index of the phenotype entry it matches, or -1. Refuses a
// sample that matches two entries, or two samples matching one entry.
status match_to_table(const std::string& listed, const std::vector<std::string>& samples, const phenotype_table& table,
                    std::vector<long>& entry_of);

// After the sizing pass, for the listed files (the VCF and BCF ones set): reads the
// phenotype file, sets every VCF and BCF file's individuals and notes the number of
// samples left out for standard output. A study without VCF or BCF file does not read
// the phenotype file; a warning note says so when there is one.
status match_vcf_samples(std::vector<std::optional<vcf_file>>& files, load_notes& notes);

}  // namespace velk
