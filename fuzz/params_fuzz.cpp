// Fuzz target: the parameter file, then what its values size and steer: the model's
// lists (create_lists) and the threshold tables with the file's tail level.
//
// Input: the parameter file's bytes. The order and multiplier that would end the run on
// purpose (no order, an order beyond 4, level lists that cannot be sized, an [EXHAUSTV]
// other than 0 and 1) are read but not given to create_lists.
#include <libalglib/ap.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "base/memory_budget.h"
#include "harness.h"
#include "search/search_model.h"
#include "stats/thresholds.h"

namespace {

using namespace velk::fuzz;

struct values {
  int order = 0, level_factor = 0, exhaustive = 0;  // "[DISEASEN]", "[MULFACTR]", "[EXHAUSTV]"
  double corrected_p_bound = 0, raw_p_bound = 0, tail_level = 0;
};

bool same(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

int clamped(long v) { return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int>(v); }

// The file read as lines of at most 999 bytes (a longer line is several), each a C
// string up to its first NUL, the first without a leading UTF-8 byte-order mark; a
// line starting with a key sets it, the last one wins.
values expected(const std::string& text) {
  values v;
  size_t i = 0;
  while (i < text.size()) {
    size_t end = i;
    while (end < text.size() && end - i < 999 && text[end] != '\n') ++end;
    if (end < text.size() && end - i < 999) ++end;  // the line feed belongs to the line
    const std::string whole = text.substr(i, end - i);
    const bool mark = i == 0 && std::string_view(whole.c_str()).starts_with("\xEF\xBB\xBF");
    const std::string line = mark ? whole.substr(3) : whole;
    i = end;
    const char* s = line.c_str();
    const char* value = s + std::min<size_t>(10, strlen(s));
    while (*value == ' ' || *value == '\t') ++value;
    if (strncmp(s, "[DISEASEN]", 10) == 0) v.order = clamped(strtol(value, nullptr, 10));
    else if (strncmp(s, "[MULFACTR]", 10) == 0) v.level_factor = clamped(strtol(value, nullptr, 10));
    else if (strncmp(s, "[MAX_PVAL]", 10) == 0) v.corrected_p_bound = strtod(value, nullptr);
    else if (strncmp(s, "[MAXGWPVL]", 10) == 0) v.raw_p_bound = strtod(value, nullptr);
    else if (strncmp(s, "[ALPHA_RF]", 10) == 0) v.tail_level = strtod(value, nullptr);
    else if (strncmp(s, "[EXHAUSTV]", 10) == 0) v.exhaustive = clamped(strtol(value, nullptr, 10));
  }
  return v;
}

void check_tables(int n, double a, double alpha) {
  velk::thresholds t;
  try {
    t = velk::build_thresholds(n, a, alpha);
  } catch (const alglib::ap_error&) {
    // The run reports these as a numerical error; the tables are then not used.
    return;
  }
  for (int m = 0; m <= n; ++m) {
    FUZZ_CHECK(t.case_min[m] >= 0 && t.case_min[m] <= m + 1, "case threshold out of range");
    FUZZ_CHECK(t.ctrl_min[m] >= 0 && t.ctrl_min[m] <= m + 1, "control threshold out of range");
  }
}

const work_dir& folder() {
  static const work_dir dir;
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const work_dir& dir = folder();
  dir.write("VELKparameters.txt", text);
  const values want = expected(text);
  velk::memory_budget budget;
  {
    velk::search_model model;
    const velk::search_parameters& got = model.params;
    FUZZ_CHECK(velk::read_parameters(dir.file("VELKparameters.txt").c_str(), model.params).ok(),
               "parameter file not read");
    FUZZ_CHECK(got.order == want.order && got.level_factor == want.level_factor && got.exhaustive == want.exhaustive,
               "integer parameters");
    FUZZ_CHECK(same(got.corrected_p_bound, want.corrected_p_bound) && same(got.raw_p_bound, want.raw_p_bound) &&
                   same(got.tail_level, want.tail_level),
               "real parameters");

    constexpr long kTopK = 5;
    const long level = kTopK * static_cast<long>(got.level_factor);
    const bool exhaustive = velk::is_exhaustive(got);
    const bool sizable = got.order <= 2 || exhaustive || (level >= 0 && level <= 100000);
    if (got.order >= 1 && got.order <= 4 && sizable && got.permutation_ct >= 0 &&
        (got.exhaustive == 0 || got.exhaustive == 1)) {
      FUZZ_CHECK(velk::create_lists(model, kTopK, 20, budget).ok(), "lists refused");
      FUZZ_CHECK(model.result_list->capacity == kTopK && model.result_list->order == got.order, "final list");
      // An exhaustive search has one list of TOP_K, in the slot of its order.
      const velk::top_k_list* own = model.level_lists[(got.order - 1) % 2];
      if (exhaustive)
        FUZZ_CHECK(own->capacity == kTopK && own->order == got.order && model.level_lists[got.order % 2] == nullptr,
                   "exhaustive list");
      else if (got.order > 2)
        FUZZ_CHECK(model.level_lists[0]->capacity == level && model.level_lists[1]->capacity == level,
                   "level lists");
      FUZZ_CHECK(budget.claimed() > 0, "lists not claimed");
    }
  }
  // Tables for a small study with the file's tail level; now and then one past the
  // largest summed cell, where the thresholds come from the library's binomial tail.
  const int n = size % 64 == 0 ? 1021 + static_cast<int>(size % 7) : 2 + static_cast<int>(size % 40);
  const int cases = 1 + static_cast<int>((size * 7) % static_cast<size_t>(n - 1));
  check_tables(n, static_cast<double>(cases) / n, want.tail_level);
  FUZZ_CHECK(budget.claimed() == 0, "a claim outlived its block");
  return 0;
}
