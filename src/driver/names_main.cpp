// velk-names: prints the result file of a search with SNP identifiers in place of the
// SNP indices, for reading it next to the study's annotation or in a spreadsheet.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/status.h"
#include "data/genotype_input.h"
#include "data/parameter_file.h"
#include "results/permutation_files.h"
#include "results/permutation_p_values.h"
#include "results/result_names.h"
#include "results/result_rows.h"
#include "results/result_writer.h"

namespace {


constexpr const char* kHelp =
    "Usage: velk-names [--positions] [--help]\n"
    "\n"
    "Run in a study folder after velk: prints VELKResult.txt to standard output with\n"
    "each SNP index replaced by the SNP's identifier, and every field separated by a\n"
    "tab, for spreadsheets and R. The header names one column per SNP, SNP1 ... SNPk,\n"
    "then chi_SQ, P_value and #Major_cells as the result has them, and FW_P_value\n"
    "and FW_P_tail when the family-wise p-values are known (below).\n"
    "In R: read.delim(pipe(\"velk-names\")).\n"
    "\n"
    "The identifiers come from the files listed in VELKinputfiles.txt, in list order:\n"
    "  PLINK fileset (a .bed)  the SNP's ID in the .bim beside it, e.g. rs1042522\n"
    "  VCF or BCF file         the record's ID, or CHROM:POS where the ID is \".\"\n"
    "  text genotype file      NAME:COLUMN, the name as listed and the 1-based SNP\n"
    "                          column, e.g. chr17.txt:12\n"
    "--positions adds two columns after each SNP, CHRk and POSk: its chromosome and\n"
    "base-pair position from the .bim or the VCF record (NA for a SNP of a text file).\n"
    "No genotype of a text file or a .bed is read: only the list, the .bim files,\n"
    "the first row of each text file, the first bytes of each file (to tell its\n"
    "kind), the records of each VCF or BCF file, and for the last column\n"
    "VELKparameters.txt and VELKpermutations.txt.\n"
    "\n"
    "Two p-values: P_value is the chi-square tail of the statistic with 2 degrees of\n"
    "freedom, as VELKResult.txt gives it. It does not hold as a p-value: the\n"
    "major cells are chosen from the same data, and the three- and four-locus levels\n"
    "select again, so searches on shuffled case/control labels still report sets. With\n"
    "[PERMUTES] B in VELKparameters.txt, velk repeats the search B times on permuted\n"
    "classes and writes each set's family-wise p-value, (1 + #{b : max_b >= chi_SQ}) /\n"
    "(B + 1), to VELKpermutations.txt: that is the p-value to report. When that file\n"
    "belongs to the result (the same sets and chi_SQ, and p-values of the B that\n"
    "[PERMUTES] sets now), it is added as two last columns, FW_P_value and\n"
    "FW_P_tail; otherwise a Warning: line says why not. The smallest FW_P_value,\n"
    "1/(B + 1), means at most 1/(B + 1). FW_P_tail, for B of 99 or more, is the\n"
    "p-value of a generalized Pareto fit to the largest maxima, for sets that fewer\n"
    "than 10 permutations reached; NA elsewhere, where there is no fit, and for a\n"
    "file of a version without the column.\n"
    "\n"
    "Exit status: 0 when the table was printed; 1 when a file is missing or unreadable,\n"
    "or the result file does not match the list (a SNP index beyond the study's SNPs,\n"
    "a line that is not of a result file); 2 for a wrong command line.\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace velk;
  flush_output_by_line();
  std::set_new_handler([] { end_run_with(out_of_memory()); });
  bool with_places = false;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
      fputs(kHelp, stdout);
      return 0;
    }
    if (strcmp(argv[i], "--positions") == 0) {
      with_places = true;
      continue;
    }
    // Kept in this wording, which names no --positions, because scripts read it.
    return report_failure(with_hint(failure(status_code::usage_error, "Usage: velk-names [--help]\n"),
                                    "velk-names --help says more; --positions adds each SNP's chromosome and "
                                    "position."));
  }
  // The result file first: a missing one means velk has not run in this folder.
  std::string result;
  if (status read = read_result_file(result); !read.ok()) return report_failure(read);
  study_snp_names names;
  if (status read = read_snp_names(kListFileName, names, with_places); !read.ok()) return report_failure(read);
  std::vector<result_row> rows;
  if (status read = read_result_rows(result, kResultFileName, kListFileName, names.snps, rows, row_checks::indices);
      !read.ok())
    return report_failure(read);
  // The family-wise p-values exactly when velk-report shows them. [PERMUTES] ties the
  // permutation file to its run; a folder without a parameter file has none to check.
  search_parameters params;
  // One that cannot be opened all the same is said, and the table goes on without it.
  if (access(kParameterFileName, R_OK) == 0) {
    if (const status read = read_parameters(kParameterFileName, params); !read.ok()) report_failure(read);
  }
  const std::optional<std::vector<family_wise_value>> family_wise =
      read_family_wise_p_values(kPermutationsFileName, kResultFileName, rows, params.permutation_ct);
  const std::string named = name_rows(rows, names, with_places, family_wise ? &*family_wise : nullptr);
  // Printed only once whole, so that a refused file prints nothing.
  if (fwrite(named.data(), 1, named.size(), stdout) != named.size() || fflush(stdout) != 0) {
    return report_failure(failure(status_code::input_error, "Cannot write to standard output!\n"));
  }
  return 0;
}
