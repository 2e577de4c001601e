#include "driver/run.h"

#include <libalglib/ap.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "base/atomic_file.h"
#include "base/fail.h"
#include "data/genotype_input.h"
#include "data/study.h"
#include "data/strata_file.h"
#include "driver/command_line.h"
#include "ranking/permutation_files.h"
#include "ranking/result_writer.h"
#include "search/checkpoint.h"
#include "search/search_model.h"
#include "search/dispatch.h"
#include "search/exhaustive_search.h"
#include "search/exhaustive_search.h"
#include "search/pair_search.h"
#include "search/search_input.h"
#include "search/parameter_advice.h"
#include "search/permutations.h"
#include "search/progress.h"
#include "stats/thresholds.h"

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
std::string describe_mark(const search_state& state, const search_model& model, int snp_ct) {
  const level_mark& mark = state.mark;
  char text[160];
  if (mark.order == model.params.order + 1) {
    long done = 0;
    for (double m : state.permutation_maxima) done += !std::isnan(m);
    snprintf(text, sizeof text, "the permutations, %ld of %lld done.", done, model.params.permutes);
  } else if (is_exhaustive(model.params)) {
    snprintf(text, sizeof text, "the exhaustive %d-locus search from parent %ld of %ld.", mark.order, mark.next + 1,
             exhaustive_parent_count(snp_ct, mark.order));
  } else if (mark.order == 2) {
    snprintf(text, sizeof text, "the pair search from row %ld of %d.", mark.next + 1, snp_ct);
  } else {
    const long parents = level_list(model, mark.order - 1).count;
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

  void save(const search_model& model) {
    if (!enabled || !clock.due()) return;
    if (save_checkpoint(identity, model, state) || save_failed) return;
    save_failed = true;  // said once; the next interval tries again
    warn("cannot write %s; the run goes on.", kCheckpointFileName);
  }
};

// The search and the result file.
void detect(search_model& model, const search_input& in, checkpointing& saves, const run_options& options) {
  const team& t = *options.processes;
  search_context context;
  context.path = options.path;
  context.tuning = options.tuning;
  context.processes = &t;
  // Resume from a checkpoint that belongs to this run; every rank learns where.
  int resumed = 0;
  if (leads(t) && saves.enabled) {
    saves.identity = identify_run(model.top_k, run_input_files());
    resumed = load_checkpoint(saves.identity, in.snp_ct(), model, saves.state);
    if (resumed)
      printf("Resuming from %s: %s\n", kCheckpointFileName, describe_mark(saves.state, model, in.snp_ct()).c_str());
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
  run_search(model, in, context);
  if (!leads(t)) return;
  warn_if_no_set(model, in.snp_ct());
  // Opened only now, and replaced whole, so that a failed run leaves an earlier
  // result file untouched.
  output_file out;
  if (!open_output(kResultFileName, out)) fail(kStatusFatal, "Cannot create a file to write the result!\n");
  print_top_k_list(model.result_list, out.stream, model.params.order);
  if (!commit_output(out)) fail(kStatusFatal, "Cannot write the result file!\n");
}

// The whole search repeated on permuted classes, and the files of family-wise p-values.
void permute(const search_model& model, const search_input& in, checkpointing& saves, const run_options& options) {
  const team& t = *options.processes;
  permutation_setup setup;
  setup.count = model.params.permutes;
  setup.seed = static_cast<uint64_t>(model.params.permseed);
  int strata = 1;
  if (leads(t)) {
    setup.classes = in.loaded->individuals.classes;
    struct stat info;
    if (lstat(kStrataFileName, &info) == 0) {
      if (!read_strata(kStrataFileName, in.loaded->individuals, setup.stratum, strata)) end_run(kStatusInputError);
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
  saves.state.mark = {model.params.order + 1, 0, 0.0};
  run_permutations(setup, model, in, context, maxima, [&] {
    done = 0;
    for (double m : maxima) done += !std::isnan(m);
    progress.advance(static_cast<double>(done));
    saves.save(model);
  });
  if (!leads(t)) return;
  if (!write_permutation_table(*model.result_list, model.params.order, maxima) || !write_permutation_maxima(maxima))
    fail(kStatusFatal, "Cannot write %s or %s!\n", kPermutationsFileName, kPermutationMaximaFileName);
  printf("Permutations: %lld searches on permuted classes in %d seconds; family-wise p-values in %s.\n",
         static_cast<long long>(setup.count), static_cast<int>(time(nullptr) - start), kPermutationsFileName);
}

}  // namespace

// Under MPI, rank 0's inputs on every rank, in one place: the study's counts, store and
// classes, the parameters with TOP_K and the bounds, and the thresholds. The others
// make their store and lists as rank 0 made its own (it has checked them).
void share_run_inputs(const team& t, study& loaded, search_model& model, thresholds& cells) {
  if (t.size == 1) return;
  store_shape shape = loaded.shape();
  share(t, shape);
  share(t, model.params);
  share(t, model.bounds);
  share(t, model.top_k);
  if (!leads(t)) {
    loaded.store = new_store(shape);
    loaded.individuals.classes.resize(static_cast<size_t>(shape.sample_ct()));
    cells.case_min.resize(static_cast<size_t>(shape.sample_ct()) + 1);
    cells.ctrl_min.resize(cells.case_min.size());
    if (const std::optional<refusal> refused = create_lists(model, model.top_k, shape.snp_ct))
      fail_with_hint(kStatusFatal, refused->hint.c_str(), "%s", refused->message.c_str());
  }
  share_bytes(t, loaded.store.words, shape.bytes());
  share_bytes(t, loaded.individuals.classes.data(), loaded.individuals.classes.size());
  share_bytes(t, cells.case_min.data(), cells.case_min.size() * sizeof(int));
  share_bytes(t, cells.ctrl_min.data(), cells.ctrl_min.size() * sizeof(int));
}

int run(int argc, char** argv, const run_options& options) {
  const team& t = *options.processes;
  // Every rank reads the same command line, so that all of them end together after
  // the help.
  const command_line line = parse_command_line(argc, argv);
  if (line.kind == command_kind::help) {
    if (leads(t)) print_help(options.program);
    return 0;
  }
  study loaded;
  search_model model;
  thresholds cells;
  if (leads(t)) {
    print_banner();
    if (line.kind == command_kind::usage_error) {
      report("Usage: VELK.exe top_k.\n");
      const std::string name = options.program;
      hint((name + " TOP_K searches for the TOP_K best sets, e.g. " + name + " 10; " + name +
            " --help says what it reads and writes.")
               .c_str());
      return kStatusFatal;
    }
    const load_status status = load_study(kListFileName, loaded);
    if (status == load_status::refused) report("The data have not been input correctly!\n");
    if (status != load_status::loaded) return kStatusInputError;
  }
  if (leads(t)) printf("Begin Epistasis Detecting, please wait ...... \n");
  const time_t st = time(nullptr);
  checkpointing saves;
  saves.enabled = options.path != search_path::straightforward;
  try {
    // Only rank 0 reads the parameter file and checks the configuration.
    if (leads(t)) {
      if (read_parameters(kParameterFileName, model.params)) advise_parameter_file(kParameterFileName, model.params);
      model.bounds = bounds_of(model.params);
      if (const std::optional<refusal> refused = create_lists(model, line.top_k, loaded.shape().snp_ct))
        fail_with_hint(kStatusFatal, refused->hint.c_str(), "%s", refused->message.c_str());
      const store_shape& shape = loaded.shape();
      cells = build_thresholds(shape.sample_ct(),
                               static_cast<double>(shape.case_ct) / static_cast<double>(shape.case_ct + shape.ctrl_ct),
                               model.params.alpha_rf);
    }
    share_run_inputs(t, loaded, model, cells);
    const std::vector<double> single = single_snp_statistics(loaded.store, cells);
    const search_input in{&loaded, &loaded.store, single.data(), &cells, model.bounds};
    detect(model, in, saves, options);
    const time_t ed = time(nullptr);
    if (leads(t))
      printf("The time used in detecting multi-loci interactions is: %d seconds!\n", static_cast<int>(ed - st));
    if (model.params.permutes > 0)
      permute(model, in, saves, options);
    else if (leads(t))
      remove_permutation_files();  // none may describe another result
  } catch (const alglib::ap_error& e) {
    // Degenerate studies or bounds ask the library for a value outside its domain.
    fail_with_hint(kStatusFatal, numerical_error_hint(e.msg, model.bounds, loaded.shape().snp_ct).c_str(),
                   "Numerical error: %s\n", e.msg.c_str());
  }
  if (leads(t)) remove_checkpoint();
  return 0;
}

}  // namespace velk
