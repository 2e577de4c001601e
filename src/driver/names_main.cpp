// velk-names: prints the result file of a search with SNP identifiers in place of the
// SNP indices, for reading it next to the study's annotation or in a spreadsheet.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "base/fail.h"
#include "data/genotype_input.h"
#include "driver/run.h"
#include "ranking/result_names.h"
#include "ranking/result_writer.h"

namespace {

constexpr int kStatusUsage = 2;

constexpr const char* kHelp =
    "Usage: velk-names [--help]\n"
    "\n"
    "Run in a study folder after velk: prints VELKResult.txt to standard output with\n"
    "each SNP index replaced by the SNP's identifier, and every row's fields separated\n"
    "by tabs, for spreadsheets and R. The header line and the statistic, p-value and\n"
    "case-major cell columns are unchanged.\n"
    "\n"
    "The identifiers come from the files listed in VELKinputfiles.txt, in list order:\n"
    "  PLINK fileset (a .bed)  the SNP's ID in the .bim beside it, e.g. rs1042522\n"
    "  text genotype file      NAME:COLUMN, the name as listed and the 1-based SNP\n"
    "                          column, e.g. chr17.txt:12\n"
    "The genotypes are never read: only the list, the .bim files, the first row of\n"
    "each text file and the first bytes of each .bed (to tell it from text).\n"
    "\n"
    "Exit status: 0 when the table was printed; 1 when a file is missing or unreadable,\n"
    "or the result file does not match the list (a SNP index beyond the study's SNPs,\n"
    "a line that is not of a result file); 2 for a wrong command line.\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace velk;
  std::set_new_handler([] { fail_out_of_memory(); });
  if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
    fputs(kHelp, stdout);
    return 0;
  }
  if (argc != 1) {
    report("Usage: velk-names [--help]\n");
    return kStatusUsage;
  }
  // The result file first: a missing one means velk has not run in this folder.
  FILE* result_file = open_nonblocking(kResultFileName);
  if (result_file == nullptr) {
    report("Can't open the result file %s; run velk in this folder first.\n", kResultFileName);
    return kStatusInputError;
  }
  std::string result;
  const bool result_read = read_whole(result_file, result);
  fclose(result_file);
  if (!result_read) {
    report("Can't read the result file %s\n", kResultFileName);
    return kStatusInputError;
  }
  study_snp_names names;
  if (!read_snp_names(kListFileName, names)) return kStatusInputError;
  std::string named;
  if (!name_result(result, kResultFileName, kListFileName, names, named)) return kStatusInputError;
  // Printed only once whole, so that a refused file prints nothing.
  if (fwrite(named.data(), 1, named.size(), stdout) != named.size() || fflush(stdout) != 0) {
    report("Cannot write to standard output!\n");
    return kStatusInputError;
  }
  return 0;
}
