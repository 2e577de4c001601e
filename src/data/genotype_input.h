// Loading a study: the list file, the genotype files it names, and the bitset store.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "base/memory_budget.h"
#include "base/status.h"
#include "data/load_notes.h"
#include "data/plink_fileset.h"
#include "data/study.h"
#include "data/vcf_file.h"

namespace velk {

inline constexpr const char* kListFileName = "VELKinputfiles.txt";

// Loads the study named by the list file into `out`, its store claimed from `budget`.
// `notes` gets the lines the console shows of the load, the failure's included: the
// driver prints them, then the failure, and ends the run with it.
status load_study(const char* list_name, memory_budget& budget, study& out, load_notes& notes);

// The most SNPs a study can hold: the store indexes them with an int.
inline constexpr long kMostSnps = 2147483647L;

// The names listed in a list file's text, in order: tokens separated by white space,
// after a UTF-8 byte-order mark at the very start, if any.
std::vector<std::string> list_names(const std::string& text);

// Sizing pass over the named files: fills `sample_ct` (the individuals of the first
// file) and one SNP column count per file. A name that is a PLINK fileset's .bed gets
// its .bim and .fam read into `filesets`; a VCF or BCF file is read whole into `vcfs`,
// and its samples matched to their classes.
status size_study_files(const std::vector<std::string>& names, memory_budget& budget, int& sample_ct,
                        std::vector<int>& snp_cts, std::vector<std::optional<plink_fileset>>& filesets,
                        std::vector<std::optional<vcf_file>>& vcfs, load_notes& notes);

// The SNPs of a study whose listed files hold `snp_cts` each, into `snp_ct`; the failure
// "The study has more SNPs than velk can index" (status 255) beyond kMostSnps.
status study_snp_count(const std::vector<int>& snp_cts, int& snp_ct);

// Sizing of one text genotype file: its rows (only when `count_rows`; else 1) and the
// SNP columns of its first row. Refuses a file without individuals, without SNP
// column, or unreadable.
status size_text_file(const std::string& name, bool count_rows, long& rows, long& snp_columns);

// A study of one class has nothing to separate: refused (status 1) with the class rule
// of its first file, a text file's status column or a fileset's .fam, and a hint for
// the usual mistake, a coding of the other convention. A VCF study never gets here: its
// phenotypes are refused before the load with their own hint.
status require_both_classes(const study& loaded);

// The files a load of the study named by `list_name` reads: the list and every listed
// file, with a fileset's .bim and .fam, and the phenotype file of VCF studies (present
// or not). Only the list is read to find them.
std::vector<std::string> study_files(const char* list_name);

// Opens a listed genotype file for reading into `file`; "Can't open the input file NAME"
// when it cannot be opened (`file` then null). Anything but a regular file is refused
// later as unreadable, so that a FIFO or a device can never block the run.
status open_data_file(const std::string& name, FILE*& file);

}  // namespace velk
