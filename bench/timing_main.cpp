// velk_timing: times loading and the searches of one study folder, in one process, so
// that the straightforward and fast paths and the thread counts are measured alike.
//   velk_timing DIR load|pairs|levels|exhaustive [TOP_K [all|one [QUAD_SNPS]]]
// Prints "WHAT PATH THREADS RATE" lines: MB/s for load, pairs/s for pairs, candidates/s
// for the three- and four-locus levels (parents x candidate SNPs per second), sets/s
// for the exhaustive searches (every triple of the study, every quadruple of its first
// QUAD_SNPS SNPs, default 160). "all"
// adds the straightforward pair search on large studies too; "one" times the fast path
// on one thread only. Load also prints "load_seconds KIND 1 SECONDS"; KIND is text,
// fileset when the list names a PLINK .bed (its MB/s are then of the .bed), or vcf
// when it names a VCF or BCF file (MB/s of the file as it lies on the disk,
// compressed or not).
#include <omp.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/status.h"
#include "data/genotype_input.h"
#include "data/study.h"
#include "data/plink_fileset.h"
#include "data/vcf_file.h"
#include "run/run.h"
#include "search/exhaustive_search.h"
#include "search/extension.h"
#include "search/fast_search.h"
#include "search/pair_search.h"
#include "search/search_input.h"
#include "stats/thresholds.h"

namespace {

using namespace velk;
using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
  return std::chrono::duration<double>(clock_type::now() - start).count();
}

// Loads the study with its console lines silenced; returns the seconds it took.
double load_quietly(memory_budget& budget, study& loaded) {
  load_notes notes;  // not printed: the bench's lines are its measures
  const auto start = clock_type::now();
  const status read = load_study(kListFileName, budget, loaded, notes);
  const double took = seconds_since(start);
  if (!read.ok()) exit(report_failure(read));
  return took;
}

// Megabytes of the listed files; `kind` tells whether one of them is a PLINK .bed or
// a VCF or BCF file.
double study_megabytes(const char*& kind) {
  FILE* list = fopen(kListFileName, "r");
  char name[4096];
  double bytes = 0;
  kind = "text";
  while (fscanf(list, "%4095s", name) == 1) {
    bytes += static_cast<double>(std::filesystem::file_size(name));
    if (starts_as_bed(name)) kind = "fileset";
    else if (starts_as_vcf(name)) kind = "vcf";
  }
  fclose(list);
  return bytes / 1e6;
}

// The parameters, lists, thresholds and single-locus statistics of a run on the study.
struct prepared {
  search_model model;
  thresholds cells;
  std::vector<double> single;
};

void prepare_statistics(const study& loaded, long top_k, memory_budget& budget, prepared& out) {
  search_model& model = out.model;
  if (const status read = read_parameters(kParameterFileName, model.params); !read.ok()) report_failure(read);
  model.bounds = bounds_of(model.params);
  model.params.order = 4;  // both level lists, whatever the study's own order
  if (model.params.level_factor < 1) model.params.level_factor = 30;
  if (create_lists(model, top_k, loaded.shape().snp_ct, budget).code != status_code::ok) exit(1);
  const store_shape& shape = loaded.shape();
  if (!build_study_thresholds(shape.case_ct, shape.ctrl_ct, model.params.tail_level, budget, out.cells).ok()) exit(1);
  out.single = single_snp_statistics(loaded.store, out.cells);
}

// One pair level into the model's pair list; returns the seconds it took.
double time_pairs(const search_model& model, const search_input& in, const search_engine* engine) {
  top_k_list& pairs = level_list(model, 2);
  refresh_top_k_list(&pairs, 2);
  const auto start = clock_type::now();
  if (engine != nullptr)
    fast_pair_search(pairs, false, in, search_context{}, *engine);
  else
    pair_search(pairs, false, in);
  return seconds_since(start);
}

void report(const char* what, const char* path, int threads, double rate) {
  printf("%s %s %d %.4g\n", what, path, threads, rate);
  fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || chdir(argv[1]) != 0) {
    fprintf(stderr, "usage: velk_timing DIR load|pairs|levels|exhaustive [TOP_K [all|one [QUAD_SNPS]]]\n");
    return 2;
  }
  const std::string mode = argv[2];
  const long top_k = argc > 3 ? atol(argv[3]) : 10;
  const std::string which = argc > 4 ? argv[4] : "";
  const int all = omp_get_num_procs();
  memory_budget budget;
  if (mode == "load") {
    const char* kind;
    const double mb = study_megabytes(kind);
    double best = 0;
    for (int i = 0; i < 3; ++i) {
      study loaded;
      const double took = load_quietly(budget, loaded);
      best = i == 0 ? took : std::min(best, took);
    }
    report("load", kind, 1, mb / best);
    report("load_seconds", kind, 1, best);
    return 0;
  }
  study loaded;
  load_quietly(budget, loaded);
  prepared run;
  prepare_statistics(loaded, top_k, budget, run);
  const search_model& model = run.model;
  const search_input in{&loaded, &loaded.store, run.single.data(), &run.cells, model.bounds, &budget};
  const long p = loaded.shape().snp_ct;
  search_engine engine;
  prepare_engine(engine, best_kernel_level(), in);
  const search_context context;
  const double pairs = static_cast<double>(p) * (p - 1) / 2;
  if (mode == "pairs") {
    omp_set_num_threads(1);
    if (which != "one" && (p <= 3000 || which == "all"))
      report("pairs", "straightforward", 1, pairs / time_pairs(model, in, nullptr));
    report("pairs", kernel_name(best_kernel_level()), 1, pairs / time_pairs(model, in, &engine));
    if (which == "one") return 0;
    omp_set_num_threads(all);
    report("pairs", kernel_name(best_kernel_level()), all, pairs / time_pairs(model, in, &engine));
    return 0;
  }
  if (mode == "exhaustive") {
    // Every triple, and every quadruple of the first `quad_snps` SNPs (a study of p = 2000
    // holds 6.6 x 10^11 quadruples), into a list of TOP_K from a bound of 2.0.
    const long quad_snps = std::min<long>(p, argc > 5 ? atol(argv[5]) : 160);
    for (int order = 3; order <= 4; ++order) {
      const long snps = order == 3 ? p : quad_snps;
      double sets = 1;
      for (int i = 0; i < order; ++i) sets = sets * static_cast<double>(snps - i) / (i + 1);
      const auto time_sets = [&] {
        // The first SNPs of the store, through a view that owns nothing: the layout of its
        // blocks does not depend on the number of SNPs, and the statistics serve as they are.
        genotype_store first;
        first.shape = loaded.shape();
        first.shape.snp_ct = static_cast<int>(snps);
        first.words = loaded.store.words;
        search_input part = in;
        part.store = &first;
        top_k_list list{};
        if (const status made = init_top_k_list(&list, static_cast<int>(top_k), order); !made.ok())
          exit(report_failure(made));
        const auto start = clock_type::now();
        fast_exhaustive_search(part, order, 2.0, context, engine, list);
        const double took = seconds_since(start);
        destroy_top_k_list(&list);
        first.words = nullptr;
        return took;
      };
      const std::string what = "exhaustive" + std::to_string(order);
      omp_set_num_threads(1);
      report(what.c_str(), kernel_name(best_kernel_level()), 1, sets / time_sets());
      if (which == "one") continue;
      omp_set_num_threads(all);
      report(what.c_str(), kernel_name(best_kernel_level()), all, sets / time_sets());
    }
    return 0;
  }
  // Levels: the pairs as parents of the triples, the triples as parents of the
  // quadruples, each level timed on the same parents by every path.
  omp_set_num_threads(all);
  time_pairs(model, in, &engine);
  sort_top_k_list_asc(&level_list(model, 2));
  for (int order = 3; order <= 4; ++order) {
    top_k_list& parents = level_list(model, order - 1);
    top_k_list& into = level_list(model, order);
    const double candidates = static_cast<double>(parents.count) * static_cast<double>(p - (order - 1));
    auto time_level = [&](const search_engine* with) {
      refresh_top_k_list(&into, order);
      const auto start = clock_type::now();
      if (with != nullptr)
        fast_extend_level(parents, into, order, in, context, *with);
      else
        extend_level_straightforward(parents, into, order, in);
      return seconds_since(start);
    };
    const std::string what = "level" + std::to_string(order);
    omp_set_num_threads(1);
    if (which != "one") report(what.c_str(), "straightforward", 1, candidates / time_level(nullptr));
    report(what.c_str(), kernel_name(best_kernel_level()), 1, candidates / time_level(&engine));
    omp_set_num_threads(all);
    if (which != "one") report(what.c_str(), kernel_name(best_kernel_level()), all, candidates / time_level(&engine));
    if (order == 3) sort_top_k_list_asc(&into);
  }
  return 0;
}
