// The parameter file VELKparameters.txt: its keys, what it sets, and its reading.
#pragma once

#include <array>
#include <functional>
#include <iterator>

#include "base/status.h"

namespace velk {

inline constexpr const char* kParameterFileName = "VELKparameters.txt";

// The keys of the parameter file, each read from the first column of a line; `count`
// says whether its value is read as an integer.
struct parameter_key {
  const char* name;
  bool count;
};
inline constexpr parameter_key kParameterKeys[] = {
    {"[DISEASEN]", true},  {"[MULFACTR]", true}, {"[MAX_PVAL]", false}, {"[MAXGWPVL]", false},
    {"[ALPHA_RF]", false}, {"[PERMUTES]", true}, {"[PERMSEED]", true}, {"[EXHAUSTV]", true},
    {"[SETSRULE]", true},  {"[MINDISTB]", true},
};
inline constexpr int kKeyLength = 10;
inline constexpr size_t kParameterKeyCount = std::size(kParameterKeys);

// What the parameter file sets; a key that is absent leaves its zero.
struct search_parameters {
  int order = 0;                   // "[DISEASEN]": the number of SNPs of a set, 1 to 4
  int level_factor = 0;            // "[MULFACTR]": level lists hold TOP_K x level_factor sets
  double corrected_p_bound = 0.0;  // "[MAX_PVAL]": on the raw p-value times the sets of the order
  double raw_p_bound = 0.0;        // "[MAXGWPVL]": on the raw p-value
  double tail_level = 0.0;         // "[ALPHA_RF]": the tail level of the thresholds
  long long permutation_ct = 0;    // "[PERMUTES]": searches repeated on permuted classes
  long long permutation_seed = 0;  // "[PERMSEED]": the seed of the permutations
  int exhaustive = 0;              // "[EXHAUSTV]": 1 searches every set of order 3 or 4
  int sets_rule = 0;               // "[SETSRULE]": 1 sets with a SNP of VELKsets.txt, 2 sets across its sets
  int min_distance = 0;            // "[MINDISTB]": no two SNPs of a set on one chromosome closer (base pairs)
};

// Whether the parameters restrict the sets searched (VELKsets.txt, distances).
inline bool restricts_sets(const search_parameters& params) {
  return params.sets_rule != 0 || params.min_distance > 0;
}

// Whether the search of these parameters scores every set of its order (3 or 4) rather
// than growing them level by level.
inline bool is_exhaustive(const search_parameters& params) { return params.order > 2 && params.exhaustive == 1; }

// The p-value bounds of a run: the defaults, or the parameter file's non-zero values.
struct p_value_bounds {
  double corrected = 0.08;  // on the raw p-value times the number of sets of the order
  double raw = -1.0;        // on the raw p-value; the default is never met
};
p_value_bounds bounds_of(const search_parameters& params);

// Reads the parameter file into `params`; "Cannot open the parameter file" when it
// cannot be opened (the values then stay as they are: velk says so and goes on).
status read_parameters(const char* path, search_parameters& params);

// Which keys the parameter file sets (a line that starts with the key), in the order of
// kParameterKeys; none when it cannot be opened.
std::array<bool, kParameterKeyCount> given_keys(const char* path);

// The parameter file's lines as the reader takes them: `visit(number, text)` for each,
// `number` counting line feeds from 1 (a line longer than 999 characters comes as
// several texts under one number), a UTF-8 byte-order mark at the very start left out.
// False when the file cannot be opened.
bool read_parameter_lines(const char* path, const std::function<void(long, const char*)>& visit);

// The value of a key's line as the reader takes it; `end`, when given, is set past the
// characters the number took (to the value's start when it took none).
int parameter_int(const char* line, const char** end = nullptr);
double parameter_real(const char* line, const char** end = nullptr);
long long parameter_long(const char* line, const char** end = nullptr);

}  // namespace velk
