// VCF and BCF files as genotype files of a study, read through htslib: plain or
// bgzip-compressed VCF text and BCF, recognised by their content as a .bed is.
//
// A record with one ALT allele, or none (ALT "."), is one SNP; a record with more ALT
// alleles is skipped. The genotype is the number of ALT alleles of the GT call
// (vcf_calls.h). The samples carry no class; VELKphenotypes.txt gives it
// (vcf_samples.h), and the samples without one are left out.
//
// Each file is read once, in the sizing pass: its calls are kept packed, two bits per
// sample, in blocks weighed in the memory budget, and placed into the store by the
// loading pass once the store is sized. Reading the file a second time instead would
// cost a second parse of text that takes longer than the whole placement.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/memory_budget.h"
#include "base/status.h"
#include "data/genotype_store.h"
#include "data/study.h"

namespace velk {

// Whether a listed file is a VCF or BCF file (plain, bgzip-compressed or BCF) by its
// first bytes, or any compressed file (which read_vcf refuses unless it is one). A file
// that cannot be opened, or anything but a regular file, is not one (the text reader
// then refuses it).
bool starts_as_vcf(const std::string& listed);

// The packed calls of the kept records of one file, in blocks of whole records claimed
// from the memory budget as they fill; the claims are given back by release().
class packed_calls {
 public:
  explicit packed_calls(long samples = 0, memory_budget* budget = nullptr);
  packed_calls(packed_calls&& other) noexcept;
  packed_calls& operator=(packed_calls&& other) noexcept;
  ~packed_calls() { release(); }

  // Room for the calls of one more record; null when the budget has no room for it.
  uint8_t* add_record();
  const uint8_t* record(long r) const {
    return blocks_[static_cast<size_t>(r / block_records_)].get() + static_cast<size_t>(r % block_records_) * bytes_;
  }
  long records() const { return records_; }
  void release();

 private:
  memory_budget* budget_ = nullptr;  // the claims' budget
  size_t bytes_ = 0;                 // per record
  long block_records_ = 1;
  long records_ = 0;
  std::vector<std::unique_ptr<uint8_t[]>> blocks_;
  budget_claim claim_;
};

struct vcf_file {
  std::string listed;
  const char* kind = "VCF";           // or "BCF"
  std::vector<std::string> samples;   // as the header names them
  long records = 0;                   // data records read
  long skipped = 0;                   // of them, records with more than one ALT allele
  long snps = 0;                      // records kept
  packed_calls calls;

  // Set by the matching of the samples (vcf_samples.h), the same individuals in the
  // same order for every VCF and BCF file of a study:
  std::vector<int32_t> individual_of;  // per sample: its individual, or -1 (left out)
  std::vector<int32_t> sample_of;      // per individual: its sample in this file
  std::vector<unsigned char> classes;  // per individual: kCase or kControl
  std::vector<left_out_individual> left_out;  // the samples without a class, in file order
};

// Sizing pass: reads the header and every record and keeps the calls of the SNPs,
// claimed from `budget`. `fast` allows the quick reading of simple calls
// (vcf_calls.h). The failure says why the file cannot be used.
status read_vcf(const std::string& listed, memory_budget& budget, vcf_file& file, bool fast = true);

// The file's line of counts for standard output, once it is read.
std::string vcf_counts_line(const vcf_file& file);

// Loading pass: checks the file's individuals against the first file's classes, sets
// the bits of its SNPs, which start at `snp_offset`, and releases its calls.
status load_vcf(vcf_file& file, long snp_offset, const std::vector<unsigned char>& classes,
                const genotype_store& store);

// A SNP of a VCF or BCF file, for naming it: its ID, or CHROM:POS where the ID is ".".
struct vcf_snp {
  std::string name;
  std::string chrom;
  long long pos = 0;  // 1-based, as in the file
  std::string alt;    // the allele the genotype counts; "." for a record without ALT
};

// The SNPs a VCF or BCF file contributes to a study (its kept records, in order),
// without reading the calls.
status read_vcf_snps(const std::string& listed, std::vector<vcf_snp>& snps);

}  // namespace velk
