// Loading a study: the list file, the genotype files it names, and the bitset store.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "data/plink_fileset.h"
#include "data/vcf_file.h"

namespace velk {

// Loads the study named by the list file into the store and sets the counts `n`, `p`,
// `ncase`, `nctrl`, `nlongintcase` and `nlongintctrl`. Returns 0 when the data are
// loaded and 1 when they are not (the reason has been reported on standard error).
// A genotype file that cannot be opened ends the run with status 1 at once.
int inputData(const char* list_name);

// The study's individuals, in study order (the rows of the first file).
struct study_individuals {
  std::vector<unsigned char> classes;  // kCase or kControl
  // Family and individual IDs, when the first file names them (a fileset's .fam);
  // the sample names, when the first file is a VCF or BCF file.
  std::vector<std::string> fid, iid, sample;
};

// The same, also telling who the individuals are.
int inputData(const char* list_name, study_individuals* individuals);

// The names listed in a list file's text, in order: tokens separated by white space,
// after a UTF-8 byte-order mark at the very start, if any.
std::vector<std::string> list_names(const std::string& text);

// Sizing pass over the named files: fills `sizes` with k entries n (the individuals of
// the first file) followed by k SNP column counts, and returns k. Returns -1 after
// reporting a file without individuals, without SNP column, or unreadable. A name
// that is a PLINK fileset's .bed gets its .bim and .fam read into `filesets`; a VCF or
// BCF file is read whole into `vcfs`, and its samples matched to their classes.
int GetDataSize(const std::vector<std::string>& names, std::vector<int>& sizes,
                std::vector<std::optional<plink_fileset>>& filesets, std::vector<std::optional<vcf_file>>& vcfs);

// Sizing of one text genotype file: its rows (only when `count_rows`; else 1) and the
// SNP columns of its first row. False after reporting a file without individuals,
// without SNP column, or unreadable.
bool size_text_file(const std::string& name, bool count_rows, long& rows, long& snp_columns);

// The files a load of the study named by `list_name` reads: the list and every listed
// file, with a fileset's .bim and .fam, and the phenotype file of VCF studies (present
// or not). Only the list is read to find them.
std::vector<std::string> study_files(const char* list_name);

// Opens a file for reading without ever blocking; null when it cannot be opened.
FILE* open_nonblocking(const char* name);

// Reads a whole file; false when it is not a regular file or a read fails.
bool read_whole(FILE* file, std::string& text);

// Opens and reads a whole file without blocking: text_read, or why not.
enum class text_file { read, cannot_open, cannot_read };
text_file read_text_file(const char* name, std::string& text);

// Opens a listed genotype file for reading; ends the run when it cannot be opened.
// Anything but a regular file is refused later as unreadable, so that a FIFO or a
// device can never block the run.
FILE* open_data_file(const std::string& name);

}  // namespace velk
