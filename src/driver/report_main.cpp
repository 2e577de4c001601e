// velk-report: the genotype cells of every set of a search's result, counted again from
// the study and checked against the result, as a table (VELKcells.tsv) and as a page
// of pictures (VELKReport.html).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "base/atomic_file.h"
#include "base/fail.h"
#include "data/genotype_input.h"
#include "data/study.h"
#include "driver/run.h"
#include "ranking/cells_table.h"
#include "ranking/html_report.h"
#include "ranking/permutation_p_values.h"
#include "ranking/result_names.h"
#include "ranking/result_rows.h"
#include "ranking/result_writer.h"
#include "ranking/set_cells.h"
#include "search/search_model.h"
#include "stats/thresholds.h"

namespace {


constexpr const char* kHelp =
    "Usage: velk-report [--help]\n"
    "\n"
    "Run in a study folder after velk: counts the genotype cells of every set of\n"
    "VELKResult.txt from the study, checks them against the result and writes\n"
    "  VELKcells.tsv    one row per set and cell (cells in genotype order, the first\n"
    "                   SNP's genotype varying slowest), then the set's individuals\n"
    "                   with a missing genotype; tab-separated, for R or a spreadsheet\n"
    "  VELKReport.html  the study, the SNPs that occur in the sets with their number\n"
    "                   of sets, and the sets in rank order with a picture of the cells\n"
    "                   of each of the first 200; one file, nothing fetched\n"
    "and prints their names. It reads VELKinputfiles.txt and the files it lists,\n"
    "VELKparameters.txt ([ALPHA_RF] sets the thresholds as in the search) and, when\n"
    "present, VELKpermutations.txt for family-wise p-values.\n"
    "\n"
    "A result that the study does not give (other genotype files, another [ALPHA_RF],\n"
    "an edited row) is refused: every set's cells must hold the study's cases and\n"
    "controls, its #Major_cells case-major cells, and give its chi_SQ and P_value.\n"
    "\n"
    "Exit status: 0 when both files were written; 1 when a file is missing, unreadable\n"
    "or cannot be written, or the result does not match the study; 2 for a wrong\n"
    "command line.\n";

// Loads the study without the loader's console lines: velk-report's standard output
// holds only the names of the files it writes. Problems still reach standard error.
bool load_study_quietly(velk::study& loaded) {
  fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int null_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (saved >= 0 && null_fd >= 0) dup2(null_fd, STDOUT_FILENO);
  if (null_fd >= 0) close(null_fd);
  const bool read = velk::load_study(velk::kListFileName, loaded) == velk::load_status::loaded;
  fflush(stdout);
  if (saved >= 0) {
    dup2(saved, STDOUT_FILENO);
    close(saved);
  }
  return read;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace velk;
  flush_output_by_line();
  std::set_new_handler([] { fail_out_of_memory(); });
  ignore_file_size_signal();
  if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
    fputs(kHelp, stdout);
    return 0;
  }
  if (argc != 1) {
    report("Usage: velk-report [--help]\n");
    return kStatusUsage;
  }
  // The result file first: a missing one means velk has not run in this folder.
  std::string result;
  if (!read_result_file(result)) return kStatusInputError;
  search_parameters params;
  if (!read_parameters(kParameterFileName, params)) return kStatusInputError;
  const p_value_bounds bounds = bounds_of(params);

  study loaded;
  if (!load_study_quietly(loaded)) return kStatusInputError;
  const store_shape& shape = loaded.shape();
  study_snp_names names;
  if (!read_snp_names(kListFileName, names)) return kStatusInputError;
  if (names.snps != shape.snp_ct) {
    report("The files listed in %s changed while they were read.\n", kListFileName);
    return kStatusInputError;
  }
  std::vector<result_row> rows;
  if (!read_result_rows(result, kResultFileName, kListFileName, shape.snp_ct, rows)) return kStatusInputError;

  // The thresholds exactly as the search builds them.
  const thresholds cells_thresholds = build_thresholds(
      shape.sample_ct(), static_cast<double>(shape.case_ct) / static_cast<double>(shape.case_ct + shape.ctrl_ct),
      params.alpha_rf);

  // Every set is checked before the table is committed: a refused result leaves none.
  output_file cells_file;
  if (!open_output(kCellsFileName, cells_file)) {
    report("Cannot create the file %s\n", kCellsFileName);
    return kStatusInputError;
  }
  write_cells_header(cells_file.stream);
  std::vector<report_set> sets(rows.size());
  std::vector<set_cells> drawn;
  for (size_t r = 0; r < rows.size(); ++r) {
    const result_row& row = rows[r];
    set_cells cells =
        count_set_cells(loaded.store, cells_thresholds, row.loci.data(), static_cast<int>(row.loci.size()));
    if (!cells_match_row(cells, row, kResultFileName, params.alpha_rf, shape)) {
      abandon_output(cells_file);
      return kStatusInputError;
    }
    std::string joined;
    for (int64_t locus : row.loci) {
      sets[r].snps.push_back(names.name(locus));
      joined += (joined.empty() ? "" : ",") + sets[r].snps.back();
    }
    sets[r].row = &row;
    write_cells_rows(cells_file.stream, static_cast<long>(r + 1), joined, cells, cells_thresholds);
    if (r < static_cast<size_t>(kPictureSets)) drawn.push_back(std::move(cells));
  }
  if (!commit_output(cells_file)) {
    report("Cannot write the file %s\n", kCellsFileName);
    return kStatusInputError;
  }
  printf("%s\n", kCellsFileName);
  for (size_t r = 0; r < drawn.size(); ++r) sets[r].cells = &drawn[r];

  report_study shown;
  shown.individuals = shape.sample_ct();
  shown.cases = shape.case_ct;
  shown.controls = shape.ctrl_ct;
  shown.snps = shape.snp_ct;
  for (const study_snp_names::listed_file& f : names.files)
    shown.files.push_back({f.name, f.first, f.snps, !f.ids.empty()});
  shown.disease_loci = params.order;
  shown.mulfactr = params.mulfactr;
  shown.max_pval = bounds.corrected;
  shown.max_raw_pval = bounds.raw;
  shown.alpha_rf = params.alpha_rf;
  shown.result_name = kResultFileName;
  const auto family_wise = read_family_wise_p_values(kPermutationsFileName, kResultFileName, rows);
  output_file page;
  if (!open_output(kReportFileName, page)) {
    report("Cannot create the file %s\n", kReportFileName);
    return kStatusInputError;
  }
  write_html_report(page.stream, shown, sets, family_wise);
  if (!commit_output(page)) {
    report("Cannot write the file %s\n", kReportFileName);
    return kStatusInputError;
  }
  printf("%s\n", kReportFileName);
  if (fflush(stdout) != 0) {
    report("Cannot write to standard output!\n");
    return kStatusInputError;
  }
  return 0;
}
