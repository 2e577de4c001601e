// velk-report: the genotype cells of every set of a search's result, counted again from
// the study and checked against the result, as a table (VELKcells.tsv) and as a page
// of pictures (VELKReport.html); each set's interaction tests and LD
// (VELKinteractions.tsv); and each of the sets' SNPs alone (VELKsnps.tsv).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "base/atomic_file.h"
#include "base/console.h"
#include "base/status.h"
#include "base/text_file.h"
#include "base/version.h"
#include "data/covariate_file.h"
#include "data/genotype_input.h"
#include "data/strata_file.h"
#include "data/study.h"
#include "results/cells_table.h"
#include "results/html_report.h"
#include "results/interaction_tests.h"
#include "results/permutation_p_values.h"
#include "results/result_names.h"
#include "results/result_rows.h"
#include "results/result_writer.h"
#include "results/run_record.h"
#include "results/set_cells.h"
#include "results/set_ld.h"
#include "results/snp_table.h"
#include "search/search_input.h"
#include "search/search_model.h"
#include "stats/major_cell_table.h"
#include "stats/thresholds.h"

namespace {

using namespace velk;

constexpr const char* kHelp =
    "Usage: velk-report [--help]\n"
    "\n"
    "Run in a study folder after velk: counts the genotype cells of every set of\n"
    "VELKResult.txt from the study, checks them against the result and writes\n"
    "  VELKcells.tsv    one row per set and cell (cells in genotype order, the first\n"
    "                   SNP's genotype varying slowest), then the set's individuals\n"
    "                   with a missing genotype; tab-separated, for R or a spreadsheet\n"
    "  VELKinteractions.tsv  per set, likelihood-ratio tests of logistic regressions\n"
    "                   for interaction beyond the SNPs' main effects: additive (the\n"
    "                   products of the allele counts) and genotypic (the cells); and\n"
    "                   the LD among its SNPs: MAX_R2, the largest squared genotype\n"
    "                   correlation, and MIN_DIST, the least distance on one chromosome\n"
    "  VELKsnps.tsv     per SNP of the sets: SNP INDEX CHR POS CHISQ P MAIN_P N, its\n"
    "                   statistic alone and the p-value of its main effect (its allele\n"
    "                   count beside the covariates)\n"
    "  VELKReport.html  the study, the SNPs that occur in the sets with their number\n"
    "                   of sets and their numbers alone, and the sets in rank order with\n"
    "                   their tests, their LD (\"in LD\": r2 >= 0.2 or under 100 kb) and\n"
    "                   a picture of the cells of each of the first 200; one file,\n"
    "                   nothing fetched\n"
    "and prints their names. It reads VELKinputfiles.txt and the files it lists,\n"
    "VELKparameters.txt ([ALPHA_RF] sets the thresholds as in the search) and, when\n"
    "present, VELKpermutations.txt for family-wise p-values and VELKcovariates.txt\n"
    "(FID IID NAME1 NAME2 ..., NA or -9 missing) for covariates of the models; two\n"
    "lines on standard output say what the models hold.\n"
    "\n"
    "The page names each SNP's position and counted allele (A1 of a fileset, ALT of a\n"
    "VCF), draws cells of fewer than 20 individuals paler, and is titled with the\n"
    "folder, the date and the version. Family-wise p-values are shown when the\n"
    "permutation file has the result's sets and chi_SQ and the p-values of B =\n"
    "[PERMUTES]; then B, [PERMSEED] and the strata of VELKstrata.txt stand beside\n"
    "them, and a p-value no permutation reached is written <= 1/(B + 1). P_value is\n"
    "the chi-square tail of chi_SQ, not family-wise.\n"
    "\n"
    "A result that the study does not give (other genotype files, another [ALPHA_RF],\n"
    "an edited row) is refused: every set's cells must hold the study's cases and\n"
    "controls, its #Major_cells case-major cells, and give its chi_SQ and P_value.\n"
    "\n"
    "Exit status: 0 when the four files were written; 1 when a file is missing,\n"
    "unreadable or cannot be written (VELKstrata.txt too, when the page shows\n"
    "permutations), VELKcovariates.txt is refused or the result does not match the\n"
    "study; 2 for a wrong command line.\n";

std::string current_folder() {
  char path[4096];
  return getcwd(path, sizeof path) != nullptr ? path : ".";
}

// The local date, for the page's title.
std::string today() {
  const time_t now = time(nullptr);
  struct tm local;
  char text[32];
  if (localtime_r(&now, &local) == nullptr || strftime(text, sizeof text, "%Y-%m-%d", &local) == 0) return "";
  return text;
}

// Loads the study without the loader's lines of counts: velk-report's standard output
// holds only the names of the files it writes. Its warnings still reach standard error.
velk::status load_study_quietly(velk::memory_budget& budget, velk::study& loaded) {
  velk::load_notes notes;
  const velk::status read = velk::load_study(velk::kListFileName, budget, loaded, notes);
  velk::print_console_notes(notes.lines, false);
  return read;
}

// A SNP's genotypes in study order (-1 when missing), read back from the store: the
// study's d-th case is bit d of the case words, its d-th control bit d of the control
// words.
std::vector<int8_t> study_genotypes(const velk::genotype_store& store, long snp, const std::vector<uint8_t>& is_case) {
  std::vector<int8_t> genotypes(is_case.size(), -1);
  const velk::genotype_slot slots[3] = {velk::slot(store, snp, 0), velk::slot(store, snp, 1),
                                        velk::slot(store, snp, 2)};
  long cases = 0, controls = 0;
  for (size_t d = 0; d < is_case.size(); ++d) {
    const long i = is_case[d] ? cases++ : controls++;
    for (int g = 0; g < 3; ++g) {
      const velk::class_bits bits = is_case[d] ? slots[g].cases : slots[g].ctrls;
      if (bits[i / velk::kWordBits] >> (i % velk::kWordBits) & 1) genotypes[d] = static_cast<int8_t>(g);
    }
  }
  return genotypes;
}

// What velk-report reads before it writes anything: the search's result and the
// parameters it ran with, the study, its SNPs' names and the covariates.
struct report_inputs {
  memory_budget budget;  // before the study, whose blocks give their claims back to it
  search_parameters params;
  std::array<bool, kParameterKeyCount> given{};  // the keys the run's parameter file set
  std::optional<run_record> record;              // VELKrun.json, when the run wrote one
  study loaded;
  study_snp_names names;
  std::vector<result_row> rows;
  covariate_table covariates;
};

// Whether the command line asks for the report, for the help, or is wrong.
enum class request { report, help, usage_error };

request read_command_line(int argc, char** argv) {
  if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) return request::help;
  return argc == 1 ? request::report : request::usage_error;
}

// The parameters the search ran with: its record's, when it wrote one (the parameter
// file may have changed since); else the parameter file's.
status read_run_parameters(report_inputs& in) {
  struct stat info;
  if (lstat(kRunRecordFileName, &info) != 0) {
    in.given = given_keys(kParameterFileName);
    return read_parameters(kParameterFileName, in.params);
  }
  std::string text;
  if (read_text_file(kRunRecordFileName, text) != text_file::read)
    return failure(status_code::input_error, "Can't read the file %s\n", kRunRecordFileName);
  run_record record;
  if (status parsed = parse_run_record(text, kRunRecordFileName, record); !parsed.ok()) return parsed;
  in.params = record.params;
  in.given = record.given;
  in.record = std::move(record);
  return ok_status();
}

// Reads everything the three files are made from, before any of them is written.
status read_inputs(report_inputs& in) {
  // The result file first: a missing one means velk has not run in this folder.
  std::string result;
  if (status read = read_result_file(result); !read.ok()) return read;
  if (status read = read_run_parameters(in); !read.ok()) return read;
  if (status read = load_study_quietly(in.budget, in.loaded); !read.ok()) return read;
  const store_shape& shape = in.loaded.shape();
  if (status read = read_snp_names(kListFileName, in.names, true); !read.ok()) return read;
  if (in.names.snps != shape.snp_ct)
    return failure(status_code::input_error, "The files listed in %s changed while they were read.\n", kListFileName);
  if (status read = read_result_rows(result, kResultFileName, kListFileName, shape.snp_ct, in.rows); !read.ok())
    return read;
  return read_covariates(kCovariateFileName, in.loaded.individuals, in.covariates);
}

// Writes the file `name` whole or not at all, then prints its name. `write` fills the
// stream and may refuse, which leaves nothing of the new file. The messages keep the
// wording scripts compare.
template <typename Write>
status write_output_file(const char* name, const Write& write) {
  output_file file;
  if (!open_output(name, file)) return failure(status_code::input_error, "Cannot create the file %s\n", name);
  if (const status written = write(file.stream); !written.ok()) {
    abandon_output(file);
    return written;
  }
  if (!commit_output(file)) return failure(status_code::input_error, "Cannot write the file %s\n", name);
  printf("%s\n", name);
  return ok_status();
}

// The sets in rank order with their SNPs' identifiers, positions and counted alleles.
std::vector<report_set> named_sets(const std::vector<result_row>& rows, const study_snp_names& names) {
  std::vector<report_set> sets(rows.size());
  for (size_t r = 0; r < rows.size(); ++r) {
    for (int64_t locus : rows[r].loci) {
      sets[r].snps.push_back(names.name(locus));
      sets[r].positions.push_back(names.position(locus));
      sets[r].alleles.push_back(names.counted_allele(locus));
    }
    sets[r].row = &rows[r];
  }
  return sets;
}

// Counts every set's cells again from the study, checks them against the set's row and
// writes VELKcells.tsv; `drawn` gets the cells of the sets the page draws, and the sets
// point to them. Every set is checked before the table is committed: a refused result
// leaves none.
status check_and_write_cells(const report_inputs& in, const thresholds& cells_thresholds,
                             std::vector<report_set>& sets, std::vector<set_cells>& drawn) {
  const store_shape& shape = in.loaded.shape();
  const status written = write_output_file(kCellsFileName, [&](FILE* stream) {
    write_cells_header(stream);
    for (size_t r = 0; r < in.rows.size(); ++r) {
      const result_row& row = in.rows[r];
      set_cells cells =
          count_set_cells(in.loaded.store, cells_thresholds, row.loci.data(), static_cast<int>(row.loci.size()));
      if (status matched = cells_match_row(cells, row, kResultFileName, in.params.tail_level, shape); !matched.ok())
        return matched;
      std::string joined;
      for (const std::string& snp : sets[r].snps) joined += (joined.empty() ? "" : ",") + snp;
      write_cells_rows(stream, static_cast<long>(r + 1), joined, cells, cells_thresholds);
      if (r < static_cast<size_t>(kPictureSets)) drawn.push_back(std::move(cells));
    }
    return ok_status();
  });
  if (!written.ok()) return written;
  for (size_t r = 0; r < drawn.size(); ++r) sets[r].cells = &drawn[r];
  return ok_status();
}

// What the tests of the sets and of their SNPs give, before their files are written.
struct report_tests {
  std::vector<interaction_result> interactions;  // one per set
  std::vector<set_ld> ld;                        // one per set
  std::vector<reported_snp> snps;                // the sets' SNPs, ascending
};

// A SNP's chromosome and position, for the distances within a set.
snp_place place_in_study(const study_snp_names& names, long snp) {
  const bim_place* at = names.place_of(snp);
  if (at == nullptr) return {};
  return {at->chromosome, strtoll(at->position.c_str(), nullptr, 10)};
}

// Each set's interaction tests and LD, and each of its SNPs' statistic alone and main
// effect; the sets, then the SNPs, spread over the threads.
report_tests run_tests(const report_inputs& in, const thresholds& cells_thresholds) {
  const std::vector<unsigned char>& classes = in.loaded.individuals.classes;
  std::vector<uint8_t> is_case(classes.size());
  for (size_t d = 0; d < is_case.size(); ++d) is_case[d] = classes[d] == kCase;
  const int covariate_ct = static_cast<int>(in.covariates.names.size());
  const std::vector<result_row>& rows = in.rows;
  report_tests tests;
  tests.interactions.resize(rows.size());
  tests.ld.resize(rows.size());
#pragma omp parallel for schedule(dynamic)
  for (size_t r = 0; r < rows.size(); ++r) {
    std::vector<std::vector<int8_t>> genotypes;
    std::vector<snp_place> places;
    for (int64_t locus : rows[r].loci) {
      genotypes.push_back(study_genotypes(in.loaded.store, locus, is_case));
      places.push_back(place_in_study(in.names, locus));
    }
    tests.interactions[r] = test_interaction(is_case, genotypes, in.covariates.values, covariate_ct);
    tests.ld[r] = set_linkage(genotypes, places);
  }
  // The statistic alone as the searches compute it, for every SNP (a pass over the
  // store, short beside the fits).
  const std::vector<double> single = single_snp_statistics(in.loaded.store, cells_thresholds);
  const std::vector<long> indices = reported_snp_indices(rows);
  tests.snps.resize(indices.size());
#pragma omp parallel for schedule(dynamic)
  for (size_t i = 0; i < indices.size(); ++i) {
    reported_snp& snp = tests.snps[i];
    snp.index = indices[i];
    snp.name = in.names.name(snp.index);
    if (const bim_place* at = in.names.place_of(snp.index)) {
      snp.chromosome = at->chromosome;
      snp.position = at->position;
    }
    snp.chisq = single[static_cast<size_t>(snp.index)];
    snp.p_value = p_value_chisq(2, snp.chisq);
    snp.main_effect =
        test_main_effect(is_case, study_genotypes(in.loaded.store, snp.index, is_case), in.covariates.values,
                         covariate_ct);
  }
  return tests;
}

// The least and most individuals of the models, for the console and the page.
report_models models_of(const report_inputs& in, const report_tests& tests) {
  report_models m;
  m.covariates = in.covariates.names;
  for (size_t r = 0; r < tests.interactions.size(); ++r) {
    const long used = tests.interactions[r].used;
    m.set_least = r == 0 ? used : std::min(m.set_least, used);
    m.set_most = std::max(m.set_most, used);
  }
  for (size_t i = 0; i < tests.snps.size(); ++i) {
    const long used = tests.snps[i].main_effect.used;
    m.snp_least = i == 0 ? used : std::min(m.snp_least, used);
    m.snp_most = std::max(m.snp_most, used);
  }
  return m;
}

// "195 to 200", or "200" when every model holds as many.
std::string individuals_range(long least, long most) {
  return least == most ? std::to_string(most) : std::to_string(least) + " to " + std::to_string(most);
}

// Writes VELKinteractions.tsv and VELKsnps.tsv, after the lines that say what their
// models hold; the sets point to their tests.
status write_tests(const report_inputs& in, const report_models& models, report_tests& tests,
                   std::vector<report_set>& sets) {
  // The covariates' line keeps its words, which scripts compare; the models' line follows it.
  printf("%s\n", covariate_use(in.covariates, static_cast<long>(in.loaded.individuals.classes.size())).c_str());
  if (!in.rows.empty())
    printf("Individuals in the models: %s for a set, %s for a SNP alone\n",
           individuals_range(models.set_least, models.set_most).c_str(),
           individuals_range(models.snp_least, models.snp_most).c_str());
  const std::vector<result_row>& rows = in.rows;
  if (status written = write_output_file(kInteractionsFileName, [&](FILE* stream) {
        write_interactions_header(stream, rows.empty() ? 0 : static_cast<int>(rows[0].loci.size()));
        for (size_t r = 0; r < rows.size(); ++r) {
          write_interactions_row(stream, sets[r].snps, tests.interactions[r], tests.ld[r]);
          sets[r].interaction = &tests.interactions[r];
          sets[r].ld = &tests.ld[r];
        }
        return ok_status();
      });
      !written.ok())
    return written;
  return write_output_file(kSnpsFileName, [&](FILE* stream) {
    write_snps_table(stream, tests.snps);
    return ok_status();
  });
}

// The study, the search's parameters and the page's title as the page shows them.
report_study shown_study(const report_inputs& in) {
  const store_shape& shape = in.loaded.shape();
  const p_value_bounds bounds = bounds_of(in.params);
  report_study shown;
  shown.individuals = shape.sample_ct();
  shown.cases = shape.case_ct;
  shown.controls = shape.ctrl_ct;
  shown.snps = shape.snp_ct;
  for (const study_snp_names::listed_file& f : in.names.files)
    shown.files.push_back({f.name, f.first, f.snps,
                           f.kind == genotype_file_kind::fileset ? "fileset"
                           : f.kind == genotype_file_kind::vcf   ? "VCF/BCF"
                                                                 : "text"});
  shown.order = in.params.order;
  shown.level_factor = in.params.level_factor;
  shown.level_factor_given = in.given[1];
  shown.level_lists = in.params.order > 2 && !is_exhaustive(in.params);
  shown.corrected_p_bound = bounds.corrected;
  shown.raw_p_bound = bounds.raw;
  shown.tail_level = in.params.tail_level;
  shown.sets_rule = in.params.sets_rule;
  shown.min_distance = in.params.min_distance;
  if (in.record) shown.allowed_sets = in.record->allowed_sets;
  shown.result_name = kResultFileName;
  shown.folder = current_folder();
  shown.written = today();
  shown.version = kVersion;
  return shown;
}

// Writes VELKReport.html, with the family-wise p-values when the permutation file
// gives them for these sets.
status write_page(const report_inputs& in, const report_models& models, const std::vector<report_set>& sets,
                  const std::vector<reported_snp>& snps) {
  report_study shown = shown_study(in);
  shown.models = models;
  const auto family_wise =
      read_family_wise_p_values(kPermutationsFileName, kResultFileName, in.rows, in.params.permutation_ct);
  if (family_wise) {
    // B and the seed as the run read them, B checked against the p-values themselves;
    // the strata as velk counted them (its record says; else the file, read again).
    shown.permutation_ct = in.params.permutation_ct;
    shown.permutation_seed = in.params.permutation_seed;
    struct stat info;
    std::vector<int> stratum;
    if (in.record) {
      shown.strata = std::max(1, in.record->strata);
    } else if (lstat(kStrataFileName, &info) == 0) {
      if (status read = read_strata(kStrataFileName, in.loaded.individuals, stratum, shown.strata); !read.ok())
        return read;
    }
  }
  return write_output_file(kReportFileName, [&](FILE* stream) {
    write_html_report(stream, shown, sets, snps, family_wise);
    return ok_status();
  });
}

}  // namespace

int main(int argc, char** argv) {
  flush_output_by_line();
  std::set_new_handler([] { end_run_with(out_of_memory()); });
  ignore_file_size_signal();
  const request asked = read_command_line(argc, argv);
  if (asked == request::help) {
    fputs(kHelp, stdout);
    return 0;
  }
  if (asked == request::usage_error)
    return report_failure(failure(status_code::usage_error, "Usage: velk-report [--help]\n"));

  report_inputs in;
  if (const status read = read_inputs(in); !read.ok()) return report_failure(read);
  std::vector<report_set> sets = named_sets(in.rows, in.names);
  const store_shape& shape = in.loaded.shape();
  thresholds cells_thresholds;
  if (const status s =
          build_study_thresholds(shape.case_ct, shape.ctrl_ct, in.params.tail_level, in.budget, cells_thresholds);
      !s.ok())
    return report_failure(s);
  std::vector<set_cells> drawn;  // the cells of the sets the page draws
  if (const status s = check_and_write_cells(in, cells_thresholds, sets, drawn); !s.ok()) return report_failure(s);
  report_tests tests = run_tests(in, cells_thresholds);
  const report_models models = models_of(in, tests);
  if (const status s = write_tests(in, models, tests, sets); !s.ok()) return report_failure(s);
  if (const status s = write_page(in, models, sets, tests.snps); !s.ok()) return report_failure(s);
  if (fflush(stdout) != 0)
    return report_failure(failure(status_code::input_error, "Cannot write to standard output!\n"));
  return 0;
}
