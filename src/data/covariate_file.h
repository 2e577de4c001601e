// The covariates of a study (VELKcovariates.txt), in the layout PLINK users know from
// --covar: a header "FID IID NAME1 NAME2 ...", then one line per individual with its
// values, separated by blanks or tabs; NA or a value of -9 is missing.
//
// Lines are matched to the study's individuals as VELKstrata.txt's are: by FID and IID
// when the first listed file is a fileset, by sample name as IID or FID_IID for a VCF or
// BCF file, lines of others ignored. A study whose first file is a text genotype file
// names nobody: its lines after the header are its individuals, in study order.
// Blank lines are skipped.
#pragma once

#include <string>
#include <vector>

#include "base/status.h"
#include "data/study.h"

namespace velk {

inline constexpr const char* kCovariateFileName = "VELKcovariates.txt";

struct covariate_table {
  bool found = false;               // the file exists (without it, no covariate)
  std::vector<std::string> names;   // from the header
  // values[d * names.size() + c]: covariate c of study individual d, NaN when missing.
  std::vector<double> values;
};

// Parses the text of a covariate file named `name` (for messages) for the individuals
// of `study`. A refusal is one line, naming the file and the line (or the column).
// Refuses a header that is not FID IID and at least one name, a line of
// another number of fields than the header, a value that is not a number, an
// individual named twice or not at all (for a text study: another number of lines
// than individuals), and a covariate that takes fewer than two values over the study.
status parse_covariates(const std::string& text, const char* name, const study_individuals& study,
                        covariate_table& table);

// Reads the file `name` when it exists; without it, `table.found` is false and the
// status ok.
status read_covariates(const char* name, const study_individuals& study, covariate_table& table);

// The line that says what the models hold: "VELKcovariates.txt: 2 covariates (PC1
// age), all present for 990 of the 1000 individuals", or that there is no such file.
std::string covariate_use(const covariate_table& table, long individuals);

}  // namespace velk
