// Loading a study: the list file, the genotype files it names, and the bitset store.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "data/plink_fileset.h"
#include "data/study.h"
#include "data/vcf_file.h"

namespace velk {

inline constexpr const char* kListFileName = "VELKinputfiles.txt";

// How a load ended. A study that cannot be loaded has been reported on standard error;
// `unopened` (a listed genotype file that cannot be opened) says no more than that,
// `refused` is followed by the driver's own line.
enum class load_status { loaded, refused, unopened };

// Loads the study named by the list file, with the loader's console lines.
load_status load_study(const char* list_name, study& out);

// The names listed in a list file's text, in order: tokens separated by white space,
// after a UTF-8 byte-order mark at the very start, if any.
std::vector<std::string> list_names(const std::string& text);

// Sizing pass over the named files: fills `sample_ct` (the individuals of the first
// file) and one SNP column count per file. A name that is a PLINK fileset's .bed gets
// its .bim and .fam read into `filesets`; a VCF or BCF file is read whole into `vcfs`,
// and its samples matched to their classes.
load_status size_study_files(const std::vector<std::string>& names, int& sample_ct, std::vector<int>& snp_cts,
                             std::vector<std::optional<plink_fileset>>& filesets,
                             std::vector<std::optional<vcf_file>>& vcfs);

// Sizing of one text genotype file: its rows (only when `count_rows`; else 1) and the
// SNP columns of its first row. False after reporting a file without individuals,
// without SNP column, or unreadable.
bool size_text_file(const std::string& name, bool count_rows, long& rows, long& snp_columns);

// The files a load of the study named by `list_name` reads: the list and every listed
// file, with a fileset's .bim and .fam, and the phenotype file of VCF studies (present
// or not). Only the list is read to find them.
std::vector<std::string> study_files(const char* list_name);

// Opens a listed genotype file for reading; null after reporting that it cannot be
// opened. Anything but a regular file is refused later as unreadable, so that a FIFO
// or a device can never block the run.
FILE* open_data_file(const std::string& name);

}  // namespace velk
