#include "driver/run.h"

#include <libalglib/ap.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "base/atomic_file.h"
#include "base/fail.h"
#include "data/genotype_input.h"
#include "data/genotype_store.h"
#include "driver/command_line.h"
#include "ranking/result_writer.h"
#include "search/checkpoint.h"
#include "search/dis_model.h"
#include "search/dispatch.h"
#include "search/pair_search.h"
#include "search/parameter_advice.h"
#include "stats/talpha.h"

namespace velk {

namespace {

void print_banner() {
  printf("VELK: exhaustive and greedy search for one- to four-locus epistasis in case/control studies\n");
  printf("The VELK developers, December 2026\n");
  printf("Major-cell chi-square statistics over genotype bitsets\n");
}

// Every file whose change makes a checkpoint stale, present or not.
std::vector<std::string> run_input_files() {
  std::vector<std::string> files = study_files(kListFileName);
  files.push_back(kParameterFileName);
  return files;
}

// Where a resumed search goes on, for the console.
std::string describe_mark(const level_mark& mark, const disModel& model) {
  char text[128];
  if (mark.order == 2) {
    snprintf(text, sizeof text, "the pair search from row %ld of %d.", mark.next + 1, p);
  } else {
    const long parents = model.level_lists[mark.order % 2]->count;
    snprintf(text, sizeof text, "the %d-locus level from parent %ld of %ld.", mark.order, parents - mark.next, parents);
  }
  return text;
}

// Everything after loading: parameters, tables, search and the result file.
void detect(long top_k, const run_options& options) {
  const team& t = *options.processes;
  disModel model;
  if (leads(t)) {
    if (model.loadparameters(kParameterFileName) == 0) advise_parameter_file(kParameterFileName, model);
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
  // Checkpoints, on rank 0: resume from one that belongs to this run; save the search's
  // state every interval. Every rank learns where the search resumes.
  run_identity identity;
  search_state state;
  int resumed = 0;
  if (leads(t)) {
    identity = identify_run(top_k, run_input_files());
    resumed = load_checkpoint(identity, model, state);
    if (resumed) printf("Resuming from %s: %s\n", kCheckpointFileName, describe_mark(state.mark, model).c_str());
  }
  share(t, resumed);
  share(t, state.mark);
  if (resumed) context.resume = state.mark;
  checkpoint_clock clock;
  bool save_failed = false;
  if (leads(t) && clock.enabled()) {
    context.after_band = [&](const level_mark& mark) {
      if (!clock.due()) return;
      state.mark = mark;
      if (save_checkpoint(identity, model, state) || save_failed) return;
      save_failed = true;  // said once; the next interval tries again
      report("Warning: cannot write %s; the search goes on.\n", kCheckpointFileName);
    };
  }
  srDisLociV2(model, model.ndisloci, context);
  if (leads(t)) warn_if_no_set(model);

  if (leads(t)) {
    // Opened only now, and replaced whole, so that a failed run leaves an earlier
    // result file untouched.
    output_file out;
    if (!open_output(kResultFileName, out)) fail(kStatusFatal, "Cannot create a file to write the result!\n");
    print_top_k_list(model.result_list, out.stream, model.ndisloci);
    if (!commit_output(out)) fail(kStatusFatal, "Cannot write the result file!\n");
    remove_checkpoint();
  }

  free(X2table1);
  X2table1 = nullptr;
}

}  // namespace

int run(int argc, char** argv, const run_options& options) {
  const team& t = *options.processes;
  // Every rank reads the same command line, so that all of them end together after
  // the help.
  const command_line line = parse_command_line(argc, argv);
  if (line.kind == command_kind::help) {
    if (leads(t)) print_help();
    return 0;
  }
  long top_k = 0;
  fill_wordbits();
  if (leads(t)) {
    print_banner();
    if (line.kind == command_kind::usage_error) {
      report("Usage: VELK.exe top_k.\n");
      hint("velk TOP_K searches for the TOP_K best sets, e.g. velk 10; velk --help says what it reads and writes.");
      return kStatusFatal;
    }
    top_k = line.top_k;
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
    fail_with_hint(kStatusFatal, numerical_error_hint(e.msg).c_str(), "Numerical error: %s\n", e.msg.c_str());
  }
  const time_t ed = time(nullptr);
  if (leads(t)) printf("The time used in detecting multi-loci interactions is: %d seconds!\n", static_cast<int>(ed - st));
  release_store();
  return 0;
}

}  // namespace velk
