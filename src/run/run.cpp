#include "run/run.h"

#include <libalglib/ap.h>
#include <sys/stat.h>

#include <omp.h>

#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "base/atomic_file.h"
#include "base/console.h"
#include "base/memory_budget.h"
#include "base/status.h"
#include "base/stop_signal.h"
#include "data/genotype_input.h"
#include "data/study.h"
#include "data/sets_file.h"
#include "data/strata_file.h"
#include "run/command_line.h"
#include "results/left_out_file.h"
#include "results/permutation_files.h"
#include "results/permutation_tail.h"
#include "results/result_writer.h"
#include "results/run_files.h"
#include "results/run_record.h"
#include "run/checkpoint.h"
#include "run/focused_search.h"
#include "base/version.h"
#include "search/search_model.h"
#include "search/dispatch.h"
#include "search/exhaustive_search.h"
#include "search/pair_search.h"
#include "search/search_input.h"
#include "run/parameter_advice.h"
#include "run/permutations.h"
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
  files.push_back(kSetsFileName);
  return files;
}

// Where a resumed run goes on, for the console.
std::string describe_mark(const search_state& state, const search_model& model, int snp_ct) {
  const level_mark& mark = state.mark;
  char text[160];
  if (mark.order == model.params.order + 1) {
    long done = 0;
    for (double m : state.permutation_maxima) done += !std::isnan(m);
    snprintf(text, sizeof text, "the permutations, %ld of %lld done.", done, model.params.permutation_ct);
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

// A run's checkpoints, on rank 0: where it resumes, and a save every interval. A first
// save that fails ends the run (the search is asked to stop; `first_failure` says why):
// a long search that can keep nothing should not go on. A later one is warned about
// once, and the next interval tries again.
struct checkpointing {
  bool enabled = false;  // the fast path only: the straightforward one is a reference
  run_identity identity;
  search_state state;
  checkpoint_clock clock;
  bool saved = false;
  bool save_failed = false;
  std::optional<status> first_failure;

  void save(const search_model& model) {
    if (!enabled || first_failure || !clock.due()) return;
    if (save_checkpoint(identity, model, state)) {
      saved = true;
      return;
    }
    const int error = errno;
    if (!saved) {
      std::string why;
      if (probe_output(kCheckpointFileName, why)) why = full_path(kCheckpointFileName) + ": " + strerror(error);
      first_failure = with_hint(result_not_created(), why + ".");
      return;
    }
    if (save_failed) return;
    save_failed = true;
    warn("cannot write %s; the run goes on.", kCheckpointFileName);
  }
};

// What the run writes beside its result, gathered as it goes: its record, and the
// individuals the study left out.
struct run_account {
  run_record record;
  std::optional<std::string> left_out;
  std::chrono::steady_clock::time_point search_start, permutation_start;
};

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A run's search context: its path and team, and, on the fast path (whose bands and
// rounds may stop where a checkpoint resumes), the stop that SIGTERM and SIGINT ask for.
search_context context_of(const run_options& options, const checkpointing* saves) {
  search_context context;
  context.path = options.path;
  context.tuning = options.tuning;
  context.processes = options.processes;
  if (saves != nullptr)
    context.stop_requested = [saves] { return stop_signal() != 0 || saves->first_failure.has_value(); };
  return context;
}

// Writes the result file (and, given `permutations`, the permutation files and the fit
// of their tail) with the run's record and its list of individuals left out; the
// failure says what could not be written.
status write_files(const search_model& model, const permutation_outcome* permutations, run_account& account) {
  run_record& record = account.record;
  record.end = time(nullptr);
  if (permutations != nullptr) record.permutation_seconds = seconds_since(account.permutation_start);
  std::optional<std::string> tail;
  if (permutations != nullptr) tail = permutation_tail_text(permutations->tail);
  return write_run_files(*model.result_list, model.params.order, permutations,
                         {{kLeftOutFileName, account.left_out},
                          {kRunRecordFileName, run_record_text(record)},
                          {kPermutationTailFileName, tail}});
}

// The search, and the result file of a run without permutations (a run with them
// writes it with theirs, at the end). Fails when a list could not take a set (memory).
status detect(search_model& model, const search_input& in, checkpointing& saves, search_context context,
              run_account& account) {
  const team& t = *context.processes;
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
  if (!leads(t)) return ok_status();
  if (status listed = search_lists_status(model); !listed.ok()) return listed;
  warn_if_no_set(model, in);
  account.record.search_seconds = seconds_since(account.search_start);
  if (model.params.permutation_ct == 0) return write_files(model, nullptr, account);
  return ok_status();
}

// The inputs of the permutations, on rank 0, read and checked before the search so
// that a mistake in them costs seconds and changes no file. `strata` is 0 without a
// strata file.
status prepare_permutations(const search_model& model, const study& loaded, permutation_setup& setup, int& strata) {
  setup.count = model.params.permutation_ct;
  setup.seed = static_cast<uint64_t>(model.params.permutation_seed);
  setup.classes = loaded.individuals.classes;
  strata = 0;
  struct stat info;
  if (lstat(kStrataFileName, &info) != 0) return ok_status();
  return read_strata(kStrataFileName, loaded.individuals, setup.stratum, strata);
}

// The whole search repeated on permuted classes, then the fit of the tail of their
// maxima, and the result file with the files of family-wise p-values.
status permute(const search_model& model, const search_input& in, checkpointing& saves, const search_context& context,
               permutation_setup& setup, int strata, run_account& account) {
  const team& t = *context.processes;
  if (leads(t) && strata > 0) printf("\t Permuting the classes within %d strata of %s.\n", strata, kStrataFileName);
  share_setup(t, setup);
  const time_t start = time(nullptr);
  account.permutation_start = std::chrono::steady_clock::now();
  std::vector<double>& maxima = saves.state.permutation_maxima;
  maxima.resize(static_cast<size_t>(setup.count), std::numeric_limits<double>::quiet_NaN());
  const auto count_done = [&maxima] {
    long done = 0;
    for (double m : maxima) done += !std::isnan(m);
    return done;
  };
  // A resumed run counts and times what it does itself.
  const long done_before = count_done();
  level_progress progress("permutations", "searches", static_cast<double>(setup.count), leads(t),
                          static_cast<double>(done_before));
  saves.state.mark = {model.params.order + 1, 0, 0.0};
  const status permuted = run_permutations(setup, model, in, context, maxima, [&] {
    progress.advance(static_cast<double>(count_done()));
    saves.save(model);
  });
  if (!permuted.ok()) return permuted;
  if (!leads(t)) return ok_status();
  const permutation_outcome outcome{maxima, fit_permutation_tail(maxima)};
  if (status written = write_files(model, &outcome, account); !written.ok()) return written;
  const int seconds = static_cast<int>(time(nullptr) - start);
  if (done_before == 0)
    printf("Permutations: %lld searches on permuted classes in %d seconds; family-wise p-values in %s.\n",
           static_cast<long long>(setup.count), seconds, kPermutationsFileName);
  else
    printf("Permutations: %ld of %lld searches on permuted classes in this run, %d seconds; family-wise p-values "
           "in %s.\n", static_cast<long>(setup.count) - done_before, static_cast<long long>(setup.count), seconds,
           kPermutationsFileName);
  printf("%s", permutation_tail_note(*model.result_list, outcome).c_str());
  return ok_status();
}

// A run stopped by SIGTERM or SIGINT at the end of a band or of a permutation
// round: rank 0 writes the last checkpoint and says so; every rank ends with the
// signal's status once it has (the others wait for its word, so that a launcher does
// not end rank 0 halfway through the write).
int end_stopped(const team& t, const checkpointing& saves, const search_model& model) {
  int status = 0;
  if (leads(t) && saves.first_failure) {
    status = report_failure(*saves.first_failure);
  } else if (leads(t)) {
    const int signal = stop_signal();
    status = stopped_status(signal);
    if (save_checkpoint(saves.identity, model, saves.state))
      report("Stopped by %s: a checkpoint was written to %s; the same command in this folder goes on from there.\n",
             stop_signal_name(signal), kCheckpointFileName);
    else
      report("Stopped by %s: %s could not be written.\n", stop_signal_name(signal), kCheckpointFileName);
  }
  share(t, status);
  return status;
}

// Whether VELK_STRICT asks that parameter-file warnings refuse the run (a batch script
// would not notice them): any value but empty or 0.
bool strict_run() {
  const char* value = getenv("VELK_STRICT");
  return value != nullptr && *value != '\0' && strcmp(value, "0") != 0;
}

// Under VELK_STRICT, before the study is read: the parameter file's warnings, then the
// refusal, when it draws any or cannot be read (status 1).
status check_parameters_strictly() {
  search_parameters params;
  if (const status read = read_parameters(kParameterFileName, params); !read.ok())
    return with_hint(failure(status_code::input_error, "%s", read.message.c_str()), read.hint);
  const std::vector<std::string> warnings = parameter_file_warnings(kParameterFileName, params);
  if (warnings.empty()) return ok_status();
  for (const std::string& w : warnings) warn("%s", w.c_str());
  return with_hint(failure(status_code::input_error, "VELK_STRICT is set: %s drew %zu warning%s; the run is refused.\n",
                           kParameterFileName, warnings.size(), warnings.size() == 1 ? "" : "s"),
                   std::string("mend ") + kParameterFileName + " as the warnings say, or unset VELK_STRICT to run "
                   "with them.");
}

// The files the run will create in the folder, which are probed before its search.
std::vector<const char*> run_file_names(const search_model& model, const run_account& account,
                                        const checkpointing& saves) {
  std::vector<const char*> names = {kResultFileName, kRunRecordFileName};
  if (model.params.permutation_ct > 0) {
    names.push_back(kPermutationsFileName);
    names.push_back(kPermutationMaximaFileName);
    names.push_back(kPermutationTailFileName);
  }
  if (account.left_out) names.push_back(kLeftOutFileName);
  if (saves.enabled && saves.clock.enabled()) names.push_back(kCheckpointFileName);
  return names;
}

// The run's record as far as it is known before the search.
void start_record(run_record& r, const run_options& options, const study& loaded, const search_model& model,
                  int strata) {
  const team& t = *options.processes;
  r.program = options.program;
  r.version = kVersion;
  const bool reference = options.path == search_path::straightforward;
  r.kernel = reference ? "none" : kernel_name(kernel_of(options.path));  // the reference path counts bit by bit
  r.path = reference ? "straightforward" : "fast";
  r.threads = omp_get_max_threads();
  r.ranks = t.size;
  r.top_k = model.top_k;
  r.params = model.params;
  r.given = given_keys(kParameterFileName);
  r.bounds = model.bounds;
  for (const std::string& name : run_input_files()) {
    recorded_file file;
    if (record_file(name, file)) r.files.push_back(file);
  }
  const store_shape& shape = loaded.shape();
  r.individuals = shape.sample_ct();
  r.cases = shape.case_ct;
  r.controls = shape.ctrl_ct;
  r.snps = shape.snp_ct;
  r.left_out = static_cast<long>(loaded.individuals.left_out.size());
  r.strata = strata;
}

// The failure of a load, then the driver's own line after it. A listed file that
// cannot be opened ends with its message alone, and a study beyond memory with the
// memory's: scripts read those as they stand.
int refuse_load(const status& failed, const load_notes& notes) {
  const int code = report_failure(failed);
  if (failed.code == status_code::input_error && !notes.unopened_file)
    report_failure(failure(status_code::input_error, "The data have not been input correctly!\n"));
  return code;
}

}  // namespace

// Under MPI, rank 0's inputs on every rank, in one place: the study's counts, store and
// classes, the parameters with TOP_K and the bounds, and the thresholds. The others
// make their store and lists as rank 0 made its own (it has checked them).
status share_run_inputs(const team& t, study& loaded, search_model& model, thresholds& cells, memory_budget& budget) {
  if (t.size == 1) return ok_status();
  store_shape shape = loaded.shape();
  share(t, shape);
  share(t, model.params);
  share(t, model.bounds);
  share(t, model.top_k);
  if (!leads(t)) {
    if (status made = new_store(shape, budget, loaded.store); !made.ok()) return made;
    loaded.individuals.classes.resize(static_cast<size_t>(shape.sample_ct()));
    cells.case_min.resize(static_cast<size_t>(shape.sample_ct()) + 1);
    cells.ctrl_min.resize(cells.case_min.size());
    if (status made = create_lists(model, model.top_k, shape.snp_ct, budget); !made.ok()) return made;
  }
  share_bytes(t, loaded.store.words, shape.bytes());
  share_bytes(t, loaded.individuals.classes.data(), loaded.individuals.classes.size());
  share_bytes(t, cells.case_min.data(), cells.case_min.size() * sizeof(int));
  share_bytes(t, cells.ctrl_min.data(), cells.ctrl_min.size() * sizeof(int));
  return ok_status();
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
  // Ranks that share a machine share its memory.
  memory_budget budget(t.local_size);
  study loaded;
  search_model model;
  thresholds cells;
  run_account account;
  account.record.start = time(nullptr);
  if (leads(t)) {
    print_banner();
    if (line.kind == command_kind::usage_error) {
      const std::string name = options.program;
      return report_failure(with_hint(failure(status_code::fatal, "Usage: VELK.exe top_k.\n"),
                                      name + " TOP_K searches for the TOP_K best sets, e.g. " + name + " 10; " + name +
                                          " --help says what it reads and writes."));
    }
    if (strict_run()) {
      if (status strict = check_parameters_strictly(); !strict.ok()) return report_failure(strict);
    }
    load_notes notes;
    notes.on_note = [](const console_note& note) { print_console_notes({note}, true); };
    const auto load_start = std::chrono::steady_clock::now();
    const status read = load_study(kListFileName, budget, loaded, notes);
    if (!read.ok()) return refuse_load(read, notes);
    account.record.load_seconds = seconds_since(load_start);
    if (status both = require_both_classes(loaded); !both.ok()) return report_failure(both);
  }
  if (leads(t)) printf("Begin Epistasis Detecting, please wait ...... \n");
  const time_t search_start = time(nullptr);
  checkpointing saves;
  saves.enabled = options.path != search_path::straightforward;
  permutation_setup setup;
  int strata = 0;
  set_rules rules;  // of a focused search
  double allowed_sets = 0;
  std::string rules_line;
  try {
    // Only rank 0 reads the parameter file and checks the configuration.
    if (leads(t)) {
      // A parameter file that cannot be opened is said, and the run goes on: the lists
      // then refuse the missing order with a hint about the file.
      if (const status read = read_parameters(kParameterFileName, model.params); read.ok()) {
        for (const std::string& w : parameter_file_warnings(kParameterFileName, model.params)) warn("%s", w.c_str());
      } else {
        report_failure(read);
      }
      model.bounds = bounds_of(model.params);
      if (status made = create_lists(model, line.top_k, loaded.shape().snp_ct, budget); !made.ok())
        return report_failure(made);
      const store_shape& shape = loaded.shape();
      if (status built = build_study_thresholds(shape.case_ct, shape.ctrl_ct, model.params.tail_level, budget, cells);
          !built.ok())
        return report_failure(built);
      // What the steps after the search read or write is checked now: a mistake in it
      // then costs seconds, not the search.
      if (model.params.permutation_ct > 0) {
        if (status prepared = prepare_permutations(model, loaded, setup, strata); !prepared.ok())
          return report_failure(prepared);
      }
      account.left_out = left_out_text(loaded.individuals);
      if (status creatable = check_run_files_creatable(run_file_names(model, account, saves)); !creatable.ok())
        return report_failure(creatable);
      if (status built = build_set_rules(model.params, kListFileName, loaded.shape().snp_ct, rules, allowed_sets,
                                         rules_line);
          !built.ok())
        return report_failure(built);
      start_record(account.record, options, loaded, model, strata);
      if (rules_active(rules)) account.record.allowed_sets = allowed_sets;
      printf("%s", rules_line.c_str());
    }
    if (status shared = share_run_inputs(t, loaded, model, cells, budget); !shared.ok()) return report_failure(shared);
    share_set_rules(t, rules, allowed_sets);
    if (rules_active(rules)) index_set_rules(rules);
    const std::vector<double> single = single_snp_statistics(loaded.store, cells);
    search_input in{&loaded, &loaded.store, single.data(), &cells, model.bounds, &budget};
    if (rules_active(rules)) {
      in.rules = &rules;
      in.allowed_sets = allowed_sets;
    }
    // From here a signal stops the run where a checkpoint resumes it; before, there was
    // nothing to keep. Every rank catches it: a launcher passes it to all of them.
    if (saves.enabled) catch_stop_signals();
    const search_context context = context_of(options, saves.enabled ? &saves : nullptr);
    account.search_start = std::chrono::steady_clock::now();
    if (status found = detect(model, in, saves, context, account); !found.ok()) return report_failure(found);
    const time_t search_end = time(nullptr);
    if (leads(t))
      printf("The time used in detecting multi-loci interactions is: %d seconds!\n",
             static_cast<int>(search_end - search_start));
    if (model.params.permutation_ct > 0) {
      if (status permuted = permute(model, in, saves, context, setup, strata, account); !permuted.ok())
        return report_failure(permuted);
    }
  } catch (const search_stopped&) {
    return end_stopped(t, saves, model);
  } catch (const alglib::ap_error& e) {
    // Degenerate studies or bounds ask the library for a value outside its domain.
    return report_failure(with_hint(failure(status_code::fatal, "Numerical error: %s\n", e.msg.c_str()),
                                    numerical_error_hint(e.msg, model.bounds, loaded.shape().snp_ct,
                                                         rules_active(rules) ? allowed_sets : -1.0)));
  }
  if (leads(t)) remove_checkpoint();
  return 0;
}

}  // namespace velk
