// A study as loaded: its genotypes in the bitset store, whose shape holds the counts
// (SNPs, cases, controls, words per class), and who its individuals are.
#pragma once

#include <string>
#include <vector>

#include "data/genotype_store.h"

namespace velk {

// An individual of the first file whom the study leaves out, and why: a .fam line
// with a missing phenotype, a VCF sample without a class (FID "0" and the sample's
// name then).
struct left_out_individual {
  std::string fid, iid, reason;
};

// The study's individuals, in study order (the rows of the first file that have a
// class).
struct study_individuals {
  std::vector<unsigned char> classes;  // kCase or kControl
  // Family and individual IDs, when the first file names them (a fileset's .fam);
  // the sample names, when the first file is a VCF or BCF file.
  std::vector<std::string> fid, iid, sample;
  std::vector<left_out_individual> left_out;  // in the first file's order
};

struct study {
  genotype_store store;
  study_individuals individuals;

  const store_shape& shape() const { return store.shape; }
};

}  // namespace velk
