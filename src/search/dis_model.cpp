#include "search/dis_model.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/fail.h"
#include "base/memory_budget.h"
#include "search/parameter_advice.h"

namespace velk {

double Max_chi_pv_in = 0.08;
double MAX_Genome_PV = -1.0;

namespace {

constexpr int kKeyLength = 10;

// The value of a parameter line starts right after its key, past blanks and tabs.
const char* value_text(const char* line) {
  const char* v = line + kKeyLength;
  while (*v == ' ' || *v == '\t') ++v;
  return v;
}

// A capacity that cannot be held in an int is sized as -1, which the list refuses.
int list_capacity(long long requested) {
  return requested < INT_MIN || requested > INT_MAX ? -1 : static_cast<int>(requested);
}

[[noreturn]] void fail_lists(const std::string& hint_text) {
  fail_with_hint(kStatusFatal, hint_text.c_str(), "Cannot alloc memory for top_k_list!\n");
}

// The number of sets of `k` of `p` SNPs, in floating point: no list holds more.
double locus_sets(int64_t p, int k) {
  double sets = 1;
  for (int i = 0; i < k; ++i) sets = sets * static_cast<double>(p - i) / (i + 1);
  return sets > 0 ? sets : 0;
}

top_k_list* new_list(int capacity, int width) {
  auto* list = static_cast<top_k_list*>(calloc(1, sizeof(top_k_list)));
  if (list == nullptr) fail_lists("");
  init_top_k_list(list, capacity, width);
  return list;
}

void delete_list(top_k_list*& list) {
  if (list == nullptr) return;
  destroy_top_k_list(list);
  free(list);
  list = nullptr;
}

}  // namespace

int parameter_int(const char* line, const char** end) {
  const char* start = value_text(line);
  char* stop = nullptr;
  const long v = strtol(start, &stop, 10);
  if (end != nullptr) *end = stop;
  // Clamped to int, so that an absurdly large count is refused by the checks, not wrapped.
  return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
}

long long parameter_long(const char* line, const char** end) {
  const char* start = value_text(line);
  char* stop = nullptr;
  const long long v = strtoll(start, &stop, 10);
  if (end != nullptr) *end = stop;
  return v;
}

double parameter_real(const char* line, const char** end) {
  const char* start = value_text(line);
  char* stop = nullptr;
  const double v = strtod(start, &stop);
  if (end != nullptr) *end = stop;
  return v;
}

bool read_parameter_lines(const char* path, const std::function<void(long, const char*)>& visit) {
  FILE* file = fopen(path, "r");
  if (file == nullptr) return false;
  // Lines longer than 999 characters are read as several lines, as they always were.
  char line[1000];
  long number = 1;
  bool first = true;
  while (fgets(line, sizeof line, file) != nullptr) {
    // Editors on some systems start a UTF-8 file with a byte-order mark; it is no part
    // of the first key.
    const bool mark = first && strncmp(line, "\xEF\xBB\xBF", 3) == 0;
    first = false;
    visit(number, mark ? line + 3 : line);
    if (strchr(line, '\n') != nullptr) ++number;
  }
  fclose(file);
  return true;
}

disModel::~disModel() {
  delete_list(result_list);
  delete_list(level_lists[0]);
  delete_list(level_lists[1]);
  ndisloci = 0;
  release_memory(claimed);
}

int disModel::loadparameters(const char* path) {
  // search/parameter_advice.cpp knows the same keys, to warn about lines it cannot read.
  const bool read = read_parameter_lines(path, [this](long, const char* line) {
    if (strncmp(line, "[DISEASEN]", kKeyLength) == 0)
      ndisloci = parameter_int(line);
    else if (strncmp(line, "[MULFACTR]", kKeyLength) == 0)
      mulfactr = parameter_int(line);
    else if (strncmp(line, "[MAX_PVAL]", kKeyLength) == 0)
      max_pval = parameter_real(line);
    else if (strncmp(line, "[MAXGWPVL]", kKeyLength) == 0)
      maxgwpvl = parameter_real(line);
    else if (strncmp(line, "[ALPHA_RF]", kKeyLength) == 0)
      alpha_rf = parameter_real(line);
    else if (strncmp(line, "[PERMUTES]", kKeyLength) == 0)
      permutes = parameter_long(line);
    else if (strncmp(line, "[PERMSEED]", kKeyLength) == 0)
      permseed = parameter_long(line);
    else if (strncmp(line, "[EXHAUSTV]", kKeyLength) == 0)
      exhaustv = parameter_int(line);
  });
  if (!read) {
    report("Cannot open the parameter file \"%s\"\n", path);
    return -1;
  }
  return 0;
}

void apply_bounds(const disModel& model) {
  if (model.max_pval != 0) Max_chi_pv_in = model.max_pval;
  if (model.maxgwpvl != 0) MAX_Genome_PV = model.maxgwpvl;
}

void share_parameters(const team& t, disModel& model) {
  share(t, model.ndisloci);
  share(t, model.top_k);
  share(t, model.mulfactr);
  share(t, model.max_pval);
  share(t, model.maxgwpvl);
  share(t, model.alpha_rf);
  share(t, model.permutes);
  share(t, model.permseed);
  share(t, model.exhaustv);
  share(t, Max_chi_pv_in);
  share(t, MAX_Genome_PV);
}

void disModel::init(long top_k_in, int p_in, int ncase_in, int nctrl_in, int nlongintcase_in, int nlongintctrl_in) {
  const int final_capacity = list_capacity(top_k_in);
  top_k = final_capacity;
  p = p_in;
  ncase = ncase_in;
  nctrl = nctrl_in;
  nlongintcase = nlongintcase_in;
  nlongintctrl = nlongintctrl_in;
  if (ndisloci <= 0)
    fail_with_hint(kStatusFatal, disease_loci_hint(ndisloci).c_str(),
                   "Please Input the number of disease loci of the model before!\n");
  if (ndisloci > 4) fail(kStatusFatal, "The number of disease loci is at most 4!\n");
  if (exhaustv != 0 && exhaustv != 1) fail(kStatusFatal, "The value of [EXHAUSTV] must be 0 or 1!\n");
  if (permutes < 0) fail(kStatusFatal, "The number of permutations [PERMUTES] cannot be negative!\n");
  // An exhaustive search keeps its sets in one list of top_k, in the slot of the order.
  const bool exhaustive = ndisloci > 2 && exhaustv == 1;
  const int level_capacity =
      ndisloci > 2 ? (exhaustive ? final_capacity : list_capacity(static_cast<long long>(top_k) * mulfactr)) : 0;
  // Refused here, before anything is allocated, with the same message as the list would
  // give, so that the hint can say which count is wrong.
  if (final_capacity < 0 || level_capacity < 0) fail_lists(list_size_hint(top_k_in, ndisloci, mulfactr, 0));
  // All lists are weighed before any is made: calloc grants a node array beyond the
  // machine lazily, and the run would be killed halfway through the search. Level list
  // 0 holds triples; level list 1 pairs and, for four loci, quadruples.
  size_t bytes = top_k_list_bytes(final_capacity, locus_sets(p, ndisloci));
  if (exhaustive) {
    bytes += top_k_list_bytes(level_capacity, locus_sets(p, ndisloci));
  } else if (ndisloci > 2) {
    bytes += top_k_list_bytes(level_capacity, locus_sets(p, 3));
    bytes += top_k_list_bytes(level_capacity, std::max(locus_sets(p, 2), locus_sets(p, ndisloci)));
  }
  if (!try_claim_memory(bytes)) fail_lists(list_size_hint(top_k_in, ndisloci, mulfactr, bytes));
  claimed = bytes;
  result_list = new_list(final_capacity, ndisloci);
  if (exhaustive) {
    level_lists[(ndisloci - 1) % 2] = new_list(level_capacity, ndisloci);
  } else if (ndisloci > 2) {
    level_lists[0] = new_list(level_capacity, 1);
    level_lists[1] = new_list(level_capacity, 2);
  }
}

void disModel::mirror_low(disModel& model, int order) {
  ndisloci = order;
  mulfactr = model.mulfactr;
  top_k = model.mulfactr * model.top_k;  // fits: the level lists were sized with it
  p = model.p;
  ncase = model.ncase;
  nctrl = model.nctrl;
  nlongintcase = model.nlongintcase;
  nlongintctrl = model.nlongintctrl;
  result_list = model.level_lists[(order - 1) % 2];
  result_list->nloci = order;
  level_lists[0] = model.level_lists[0];
  level_lists[1] = model.level_lists[1];
}

void disModel::mirror_low_pre_exit() {
  result_list = nullptr;
  level_lists[0] = level_lists[1] = nullptr;
  ndisloci = 0;
  top_k = 0;
  p = 0;
}

}  // namespace velk
