#include "data/parameter_file.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/status.h"
#include "base/text_file.h"

namespace velk {

namespace {

// The value of a parameter line starts right after its key, past blanks and tabs.
const char* value_text(const char* line) {
  const char* v = line + kKeyLength;
  while (is_blank(*v)) ++v;
  return v;
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
  // Lines longer than 999 characters are read as several lines: parameter files written
  // for that reading (a key after 999 characters of padding) must keep their meaning.
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

status read_parameters(const char* path, search_parameters& params) {
  // The keys of kParameterKeys; the advice warns about lines that name none of them.
  const bool read = read_parameter_lines(path, [&params](long, const char* line) {
    search_parameters& p = params;
    if (strncmp(line, "[DISEASEN]", kKeyLength) == 0)
      p.order = parameter_int(line);
    else if (strncmp(line, "[MULFACTR]", kKeyLength) == 0)
      p.level_factor = parameter_int(line);
    else if (strncmp(line, "[MAX_PVAL]", kKeyLength) == 0)
      p.corrected_p_bound = parameter_real(line);
    else if (strncmp(line, "[MAXGWPVL]", kKeyLength) == 0)
      p.raw_p_bound = parameter_real(line);
    else if (strncmp(line, "[ALPHA_RF]", kKeyLength) == 0)
      p.tail_level = parameter_real(line);
    else if (strncmp(line, "[PERMUTES]", kKeyLength) == 0)
      p.permutation_ct = parameter_long(line);
    else if (strncmp(line, "[PERMSEED]", kKeyLength) == 0)
      p.permutation_seed = parameter_long(line);
    else if (strncmp(line, "[EXHAUSTV]", kKeyLength) == 0)
      p.exhaustive = parameter_int(line);
    else if (strncmp(line, "[SETSRULE]", kKeyLength) == 0)
      p.sets_rule = parameter_int(line);
    else if (strncmp(line, "[MINDISTB]", kKeyLength) == 0)
      p.min_distance = parameter_int(line);
  });
  if (!read) return failure(status_code::input_error, "Cannot open the parameter file \"%s\"\n", path);
  return ok_status();
}

p_value_bounds bounds_of(const search_parameters& params) {
  p_value_bounds bounds;
  if (params.corrected_p_bound != 0) bounds.corrected = params.corrected_p_bound;
  if (params.raw_p_bound != 0) bounds.raw = params.raw_p_bound;
  return bounds;
}

std::array<bool, kParameterKeyCount> given_keys(const char* path) {
  std::array<bool, kParameterKeyCount> given{};
  read_parameter_lines(path, [&given](long, const char* line) {
    for (size_t k = 0; k < kParameterKeyCount; ++k)
      if (strncmp(line, kParameterKeys[k].name, kKeyLength) == 0) given[k] = true;
  });
  return given;
}

}  // namespace velk
