#include "driver/run.h"

#include <libalglib/ap.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

#include "base/atomic_file.h"
#include "base/fail.h"
#include "data/genotype_input.h"
#include "data/genotype_store.h"
#include "data/strata_file.h"
#include "driver/command_line.h"
#include "ranking/permutation_files.h"
#include "ranking/result_writer.h"
#include "search/checkpoint.h"
#include "search/dis_model.h"
#include "search/dispatch.h"
#include "search/exhaustive_search.h"
#include "search/pair_search.h"
#include "search/parameter_advice.h"
#include "search/permutations.h"
#include "search/progress.h"
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
  files.push_back(kStrataFileName);
  return files;
}

// Where a resumed run goes on, for the console.
std::string describe_mark(const search_state& state, const disModel& model) {
  const level_mark& mark = state.mark;
  char text[160];
  if (mark.order == model.ndisloci + 1) {
    long done = 0;
    for (double m : state.permutation_maxima) done += !std::isnan(m);
    snprintf(text, sizeof text, "the permutations, %ld of %lld done.", done, model.permutes);
  } else if (model.ndisloci > 2 && model.exhaustv == 1) {
    snprintf(text, sizeof text, "the exhaustive %d-locus search from parent %ld of %ld.", mark.order, mark.next + 1,
             exhaustive_parent_count(p, mark.order));
  } else if (mark.order == 2) {
    snprintf(text, sizeof text, "the pair search from row %ld of %d.", mark.next + 1, p);
  } else {
    const long parents = model.level_lists[mark.order % 2]->count;
    snprintf(text, sizeof text, "the %d-locus level from parent %ld of %ld.", mark.order, parents - mark.next, parents);
  }
  return text;
}

// A run's checkpoints, on rank 0: where it resumes, and a save every interval.
struct checkpointing {
  bool enabled = false;  // the fast path only: the straightforward one is a reference
  run_identity identity;
  search_state state;
  checkpoint_clock clock;
  bool save_failed = false;

  void save(const disModel& model) {
    if (!enabled || !clock.due()) return;
    if (save_checkpoint(identity, model, state) || save_failed) return;
    save_failed = true;  // said once; the next interval tries again
    warn("cannot write %s; the run goes on.", kCheckpointFileName);
  }
};

// Parameters, tables, single-locus statistics, the search and the result file.
void detect(disModel& model, long top_k, checkpointing& saves, const run_options& options) {
  const team& t = *options.processes;
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
  // Resume from a checkpoint that belongs to this run; every rank learns where.
  int resumed = 0;
  if (leads(t) && saves.enabled) {
    saves.identity = identify_run(top_k, run_input_files());
    resumed = load_checkpoint(saves.identity, model, saves.state);
    if (resumed) printf("Resuming from %s: %s\n", kCheckpointFileName, describe_mark(saves.state, model).c_str());
  }
  share(t, resumed);
  share(t, saves.state.mark);
  if (resumed) context.resume = saves.state.mark;
  if (leads(t) && saves.enabled) {
    context.after_band = [&saves, &model](const level_mark& mark) {
      saves.state.mark = mark;
      saves.save(model);
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
  }
}

// The whole search repeated on permuted classes, and the files of family-wise p-values.
void permute(disModel& model, const study_individuals& study, checkpointing& saves, const run_options& options) {
  const team& t = *options.processes;
  permutation_setup setup;
  setup.count = model.permutes;
  setup.seed = static_cast<uint64_t>(model.permseed);
  int strata = 1;
  if (leads(t)) {
    setup.classes = study.classes;
    struct stat info;
    if (lstat(kStrataFileName, &info) == 0) {
      if (!read_strata(kStrataFileName, study, setup.stratum, strata)) end_run(kStatusInputError);
      printf("\t Permuting the classes within %d strata of %s.\n", strata, kStrataFileName);
    }
  }
  share_setup(t, setup);
  const time_t start = time(nullptr);
  std::vector<double>& maxima = saves.state.permutation_maxima;
  maxima.resize(static_cast<size_t>(setup.count), std::numeric_limits<double>::quiet_NaN());
  long done = 0;
  for (double m : maxima) done += !std::isnan(m);
  search_context context;
  context.path = options.path;
  context.tuning = options.tuning;
  context.processes = &t;
  level_progress progress("permutations", "searches", static_cast<double>(setup.count), leads(t));
  saves.state.mark = {model.ndisloci + 1, 0, 0.0};
  run_permutations(setup, model, context, maxima, [&] {
    done = 0;
    for (double m : maxima) done += !std::isnan(m);
    progress.advance(static_cast<double>(done));
    saves.save(model);
  });
  if (!leads(t)) return;
  if (!write_permutation_table(*model.result_list, model.ndisloci, maxima) || !write_permutation_maxima(maxima))
    fail(kStatusFatal, "Cannot write %s or %s!\n", kPermutationsFileName, kPermutationMaximaFileName);
  printf("Permutations: %lld searches on permuted classes in %d seconds; family-wise p-values in %s.\n",
         static_cast<long long>(setup.count), static_cast<int>(time(nullptr) - start), kPermutationsFileName);
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
  study_individuals study;
  fill_wordbits();
  if (leads(t)) {
    print_banner();
    if (line.kind == command_kind::usage_error) {
      report("Usage: VELK.exe top_k.\n");
      hint("velk TOP_K searches for the TOP_K best sets, e.g. velk 10; velk --help says what it reads and writes.");
      return kStatusFatal;
    }
    top_k = line.top_k;
    if (inputData(kListFileName, &study) != 0) {
      report("The data have not been input correctly!\n");
      return kStatusInputError;
    }
  }
  share_store(t);

  if (leads(t)) printf("Begin Epistasis Detecting, please wait ...... \n");
  const time_t st = time(nullptr);
  disModel model;
  checkpointing saves;
  saves.enabled = options.path != search_path::straightforward;
  try {
    detect(model, top_k, saves, options);
    const time_t ed = time(nullptr);
    if (leads(t))
      printf("The time used in detecting multi-loci interactions is: %d seconds!\n", static_cast<int>(ed - st));
    if (model.permutes > 0)
      permute(model, study, saves, options);
    else if (leads(t))
      remove_permutation_files();  // none may describe another result
  } catch (const alglib::ap_error& e) {
    // Degenerate studies or bounds ask the library for a value outside its domain.
    fail_with_hint(kStatusFatal, numerical_error_hint(e.msg).c_str(), "Numerical error: %s\n", e.msg.c_str());
  }
  if (leads(t)) remove_checkpoint();
  free(X2table1);
  X2table1 = nullptr;
  release_store();
  return 0;
}

}  // namespace velk
