// The search model: the parameters of a run and the lists the searches fill.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "base/team.h"
#include "ranking/top_k_list.h"

namespace velk {

inline constexpr const char* kParameterFileName = "VELKparameters.txt";

// P-value bounds of the run, set from the parameter file when given there.
extern double Max_chi_pv_in;  // bound on the corrected p-value; default 0.08
extern double MAX_Genome_PV;  // bound on the raw p-value; default -1.0, never met

class disModel {
 public:
  int ndisloci = 0;       // order of the locus sets searched for, 1 to 4
  int nlongintcase = 0;   // copies of the data counts, for information
  int nlongintctrl = 0;
  int64_t p = 0;
  int64_t ncase = 0;
  int64_t nctrl = 0;
  top_k_list* result_list = nullptr;               // the final list
  // For three and four loci. With [EXHAUSTV] 1 only the list of the order is made, of
  // capacity top_k: the exhaustive search's list, which the p-value filter reads.
  top_k_list* level_lists[2] = {nullptr, nullptr};
  int top_k = 0;
  int mulfactr = 0;       // level lists hold top_k * mulfactr locus sets
  double max_pval = 0.0;  // "[MAX_PVAL]"
  double maxgwpvl = 0.0;  // "[MAXGWPVL]"
  double alpha_rf = 0.0;  // "[ALPHA_RF]"
  long long permutes = 0; // "[PERMUTES]": searches repeated on permuted classes
  long long permseed = 0; // "[PERMSEED]": the seed of the permutations
  int exhaustv = 0;       // "[EXHAUSTV]": 1 searches every set of order 3 or 4
  size_t claimed = 0;     // bytes claimed from the memory budget for the lists

  disModel() = default;
  disModel(const disModel&) = delete;
  disModel& operator=(const disModel&) = delete;
  ~disModel();

  // Reads the parameter file; 0 after reading it, -1 when it cannot be opened (the
  // model keeps its values and the run goes on).
  int loadparameters(const char* path);

  // Stores the counts and creates the lists; ends the run on an unusable configuration.
  // `top_k` is taken as parsed, so that a value beyond the int range is refused here.
  void init(long top_k, int p, int ncase, int nctrl, int nlongintcase, int nlongintctrl);

  // Makes this model the level view of `model` for one order of the recursive search:
  // its final list is the model's level list (order - 1) mod 2. Owns nothing.
  void mirror_low(disModel& model, int order);
  // Detaches a level view so that destroying it releases nothing shared.
  void mirror_low_pre_exit();
};

// Applies the non-zero bounds of the parameter file to the process-wide bounds.
void apply_bounds(const disModel& model);

// Rank 0's parameters (the model's and the process-wide bounds) on every rank.
void share_parameters(const team& t, disModel& model);

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
