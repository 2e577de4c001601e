// Test support: a study written into a test's folder, the list file, the genotype
// files it names and the parameter file, as the end-to-end tests of the programs set
// it up.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "data/genotype_input.h"
#include "data/parameter_file.h"
#include "e2e.h"
#include "plink_study.h"

namespace velk::testing {

// Files of a study folder, by name and text, written in this order. A name that ends
// in '/' stands for an empty folder of that name.
using study_files = std::vector<std::pair<std::string, std::string>>;

inline study_files operator+(study_files a, const study_files& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline void write_files(const std::filesystem::path& folder, const study_files& files) {
  for (const auto& [name, text] : files) {
    if (name.ends_with('/')) std::filesystem::create_directories(folder / name);
    else write_file(folder / name, text);
  }
}

// The PLINK fileset `stem`.bed, .bim and .fam of SNPs [first, first + count) of `s`;
// the .bed named `listed` instead when given.
inline study_files fileset(const genotype_study& s, const std::string& stem, long first, long count,
                           const std::string& listed = "") {
  return {{listed.empty() ? stem + ".bed" : listed, s.bed(first, count)},
          {stem + ".bim", s.bim(first, count)},
          {stem + ".fam", s.fam()}};
}

// A study in `folder`: the list file with the text `list`, the genotype files (and
// whatever files they come with), and the parameter file.
inline void set_up_study(const std::filesystem::path& folder, const std::string& list,
                         const study_files& genotype_files, const std::string& parameters) {
  write_file(folder / kListFileName, list);
  write_files(folder, genotype_files);
  write_file(folder / kParameterFileName, parameters);
}

}  // namespace velk::testing
