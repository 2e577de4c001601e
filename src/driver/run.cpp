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
void detect(long top_k, const run_options& options) {
  const team& t = *options.processes;
  disModel model;
  if (leads(t)) {
    model.loadparameters(kParameterFileName);
    apply_bounds(model);
    model.init(top_k, p, ncase, nctrl, nlongintcase, nlongintctrl);
  }
  // Only rank 0 reads the parameter file; the others get the model's parameters, and
  // size their lists as rank 0 did (it has checked them).
  share_parameters(t, model);
  if (!leads(t)) model.init(model.top_k, p, ncase, nctrl, nlongintcase, nlongintctrl);

  Table_t.init(n, static_cast<double>(ncase) / static_cast<double>(ncase + nctrl), model.alpha_rf);
  if (leads(t)) Table_t.cul_T();  // the tables live until the process ends
  share_thresholds(t, Table_t);

  X2table1 = static_cast<double*>(calloc(single_locus_entries(), sizeof(double)));
  if (X2table1 == nullptr) fail_to(stdout, kStatusFatal, "Cannot allocate memory!\n");
  cal_single_loci(pgeno, X2table1);

  search_context context;
  context.path = options.path;
  context.tuning = options.tuning;
  context.processes = &t;
  srDisLociV2(model, model.ndisloci, context);

  if (leads(t)) {
    // Opened only now, and replaced whole, so that a failed run leaves an earlier
    // result file untouched.
    output_file out;
    if (!open_output(kResultFileName, out)) fail(kStatusFatal, "Cannot create a file to write the result!\n");
    print_top_k_list(model.result_list, out.stream, model.ndisloci);
    if (!commit_output(out)) fail(kStatusFatal, "Cannot write the result file!\n");
  }

  free(X2table1);
  X2table1 = nullptr;
}

}  // namespace

int run(int argc, char** argv, const run_options& options) {
  const team& t = *options.processes;
  long top_k = 0;
  fill_wordbits();
  if (leads(t)) {
    print_banner();
    if (argc != 2) {
      report("Usage: VELK.exe top_k.\n");
      return kStatusFatal;
    }
    top_k = strtol(argv[1], nullptr, 10);
    if (inputData(kListFileName) != 0) {
      report("The data have not been input correctly!\n");
      return kStatusInputError;
    }
  }
  share_store(t);

  if (leads(t)) printf("Begin Epistasis Detecting, please wait ...... \n");
  const time_t st = time(nullptr);
  try {
    detect(top_k, options);
  } catch (const alglib::ap_error& e) {
    // Degenerate studies or bounds ask the library for a value outside its domain.
    fail(kStatusFatal, "Numerical error: %s\n", e.msg.c_str());
  }
  const time_t ed = time(nullptr);
  if (leads(t)) printf("The time used in detecting multi-loci interactions is: %d seconds!\n", static_cast<int>(ed - st));
  release_store();
  return 0;
}

}  // namespace velk
