// PLINK 1 binary filesets as genotype files of a study: a SNP-major .bed (the packed
// genotypes) with its .bim (one line per SNP) and .fam (one line per individual)
// beside it, named by the .bed's stem.
//
// The .bed's genotypes go straight into the bitset store, SNP by SNP, without a text
// round trip (bed_decoder below); a fileset loads more than ten times faster than the
// same study as text (bench/run measures both; 12x on the 2-core development machine,
// December 2026).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/status.h"
#include "data/classes.h"
#include "data/genotype_store.h"
#include "data/study.h"

namespace velk {

// Whether a listed file starts with the .bed magic bytes 0x6C 0x1B; a file that cannot
// be opened, or anything but a regular file, is not a .bed (the text reader then
// refuses it).
bool starts_as_bed(const std::string& listed);

// A companion of a listed .bed: its name less a ".bed" suffix, plus `extension`.
std::string companion_name(const std::string& listed, const char* extension);

struct plink_fileset {
  std::string bed;  // as listed
  std::string bim;
  std::string fam;
  long snps = 0;
  std::vector<unsigned char> classes;  // per .fam individual: kCase (2), kControl (1) or kNoClass (0, -9)
  std::string fam_text;                // kept to name an individual in a later message
  std::vector<size_t> fam_rows;        // where each individual's line starts in fam_text
};

// Sizing pass: reads the .bim and the .fam and checks the .bed's mode byte and size;
// the failure says why the fileset cannot be used.
status read_fileset(const std::string& listed, plink_fileset& set);

// Where a .bim puts a SNP: its chromosome and base-pair position (first and fourth
// fields), as written; and its A1 (fifth field), the allele whose copies the genotype
// counts, which a report names beside the position.
struct bim_place {
  std::string chromosome;
  std::string position;
  std::string allele;
};

// The SNP identifiers of a .bim, in order (its second field), and their places when
// `places` is given.
status read_bim_ids(const std::string& bim, const std::string& listed, std::vector<std::string>& ids,
                    std::vector<bim_place>* places = nullptr);

// The family and individual IDs of the .fam's individuals, in order, into `individuals`:
// those with a phenotype as the study's, the others as left out.
void fam_ids(const plink_fileset& set, study_individuals& individuals);

// The .fam's individuals without a phenotype (0 or -9), whom the study leaves out.
long left_out_count(const plink_fileset& set);

// Loading pass: checks the fileset's individuals against the first file's classes and
// sets the bits of its SNPs, which start at `snp_offset`.
status load_fileset(const plink_fileset& set, long snp_offset, const std::vector<unsigned char>& classes,
                    const genotype_store& store);

// Moves the packed genotypes of .bed SNPs into bitsets laid out as in the store: a
// SNP's three slots in a row, each its case words then its control words.
//
// 32 individuals at a time (a chunk, one 64-bit word of .bed bytes): the low and the
// high bits of their 2-bit codes are extracted for the cases and for the controls,
// which packs each class's bits in class order, and the three genotypes follow from
// them by logic. The extraction is the PEXT instruction where the CPU has a quick
// one, else four lookups in a table of byte extractions.
class bed_decoder {
 public:
  // `classes` are the individuals' classes in .bed order (kNoClass for one left out);
  // `fast` allows PEXT.
  bed_decoder(const std::vector<unsigned char>& classes, size_t case_words, size_t ctrl_words, bool fast = true);

  size_t snp_bytes() const { return snp_bytes_; }
  bool uses_pext() const { return pext_; }

  // Writes the six bitsets of one SNP, every word of them, from its snp_bytes() bytes.
  void decode(const unsigned char* bytes, uint64_t* snp_words) const;

  // The individuals of one class in one chunk.
  struct class_part {
    uint64_t lanes = 0;      // on the low bit of each 2-bit code
    uint32_t members = 0;    // one bit per individual
    uint8_t before[4] = {};  // members in the bytes of `members` below each
    unsigned count = 0;
    uint64_t all = 0;        // `count` low bits
  };
  struct chunk {
    class_part cases;
    class_part ctrls;
  };

 private:
  std::vector<chunk> chunks_;
  size_t snp_bytes_;
  size_t case_words_;
  size_t ctrl_words_;
  bool pext_;
};

}  // namespace velk
