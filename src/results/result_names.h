// SNP identifiers in place of SNP indices, for reading a result file: the .bim's ID
// of a fileset's SNP, a VCF record's ID (or CHROM:POS), and FILE:COLUMN (the name as
// listed, the 1-based SNP column) of a text file's SNP; on request a SNP's chromosome,
// position and counted allele too. Only the list, the .bim files, the first row of
// each text file, the first bytes of each .bed and the records of each VCF are read;
// the genotypes never are.
#pragma once

#include <string>
#include <vector>

#include "base/status.h"
#include "data/plink_fileset.h"
#include "results/permutation_p_values.h"
#include "results/result_rows.h"

namespace velk {

enum class genotype_file_kind { text, fileset, vcf };

struct study_snp_names {
  struct listed_file {
    std::string name;              // as listed
    long first = 0;                // index of its first SNP
    long snps = 0;
    genotype_file_kind kind = genotype_file_kind::text;
    std::vector<std::string> ids;  // a fileset's .bim IDs or a VCF's IDs; empty for a text file
    std::vector<bim_place> places; // their chromosomes, positions and counted alleles, when asked for
  };
  std::vector<listed_file> files;
  long snps = 0;

  // The identifier of SNP `index` (0 <= index < snps).
  std::string name(long index) const;
  // Its chromosome and position, separated by a tab: "NA\tNA" for a text file's SNP, or
  // when the places were not read.
  std::string place(long index) const;
  // Its place for reading, "CHROM:POS", and the allele whose copies its genotype counts
  // (a fileset's A1, a VCF's ALT); both empty for a text file's SNP, or when the places
  // were not read.
  std::string position(long index) const;
  std::string counted_allele(long index) const;
  // Its place as read (chromosome, position, counted allele); null for a text file's
  // SNP, or when the places were not read.
  const bim_place* place_of(long index) const;
};

// Reads VELKResult.txt whole; the failure of a missing one says that velk has not run
// in the folder.
status read_result_file(std::string& text);

// Reads the list file and the SNPs of every file it names, with the filesets' SNP
// places when `with_places`.
status read_snp_names(const char* list_name, study_snp_names& names, bool with_places = false);

// The rows of a result file (read_result_rows) with every SNP index replaced by its
// identifier (followed by its chromosome and position when `with_places`), and every
// field separated by tabs. The header names one column per SNP, SNP1 ... SNPk (with
// CHR1, POS1 after SNP1 and so on), then chi_SQ, P_value and #Major_cells, and
// FW_P_value and FW_P_tail when `family_wise` holds the sets' family-wise p-values.
std::string name_rows(const std::vector<result_row>& rows, const study_snp_names& names, bool with_places,
                      const std::vector<family_wise_value>* family_wise);

}  // namespace velk
