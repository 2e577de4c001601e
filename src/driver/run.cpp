#include "driver/run.h"

#include <libalglib/ap.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "base/atomic_file.h"
#include "base/fail.h"
#include "data/genotype_input.h"
#include "data/genotype_store.h"
#include "ranking/result_writer.h"
#include "search/dis_model.h"
#include "search/dispatch.h"
#include "search/pair_search.h"
#include "stats/talpha.h"

namespace velk {

namespace {

void print_banner() {
  printf("VELK: exhaustive and greedy search for one- to four-locus epistasis in case/control studies\n");
  printf("The VELK developers, December 2026\n");
  printf("Major-cell chi-square statistics over genotype bitsets\n");
}

// Everything after loading: parameters, tables, search and the result file.
void detect(long top_k, search_path path, const search_tuning& tuning) {
  disModel model;
  model.loadparameters(kParameterFileName);
  apply_bounds(model);
  model.init(top_k, p, ncase, nctrl, nlongintcase, nlongintctrl);

  Table_t.init(n, static_cast<double>(ncase) / static_cast<double>(ncase + nctrl), model.alpha_rf);
  Table_t.cul_T();  // the tables live until the process ends

  X2table1 = static_cast<double*>(malloc(sizeof(double) * static_cast<size_t>(p)));
  if (X2table1 == nullptr) fail_to(stdout, kStatusFatal, "Cannot allocate memory!\n");
  cal_single_loci(X2table1);

  srDisLociV2(model, model.ndisloci, path, tuning);

  // Opened only now, and replaced whole, so that a failed run leaves an earlier result
  // file untouched.
  output_file out;
  if (!open_output(kResultFileName, out)) fail(kStatusFatal, "Cannot create a file to write the result!\n");
  print_top_k_list(model.result_list, out.stream, model.ndisloci);
  if (!commit_output(out)) fail(kStatusFatal, "Cannot write the result file!\n");

  free(X2table1);
  X2table1 = nullptr;
}

}  // namespace

int run(int argc, char** argv, search_path path, const search_tuning& tuning) {
  print_banner();
  if (argc != 2) {
    report("Usage: VELK.exe top_k.\n");
    return kStatusFatal;
  }
  const long top_k = strtol(argv[1], nullptr, 10);
  fill_wordbits();
  if (inputData(kListFileName) != 0) {
    report("The data have not been input correctly!\n");
    return kStatusInputError;
  }

  printf("Begin Epistasis Detecting, please wait ...... \n");
  const time_t st = time(nullptr);
  try {
    detect(top_k, path, tuning);
  } catch (const alglib::ap_error& e) {
    // Degenerate studies or bounds ask the library for a value outside its domain.
    fail(kStatusFatal, "Numerical error: %s\n", e.msg.c_str());
  }
  const time_t ed = time(nullptr);
  printf("The time used in detecting multi-loci interactions is: %d seconds!\n", static_cast<int>(ed - st));
  release_store();
  return 0;
}

}  // namespace velk
