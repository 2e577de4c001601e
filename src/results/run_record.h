// VELKrun.json: how a result was made, for pipelines to read: the program and where it
// ran, the parameters as read (those the file did not set marked as defaults), the
// study's files and counts, the permutations and the times. Written with the result
// (run_files.h), all or none; velk-report reads it back for the parameters it shows.
#pragma once

#include <array>
#include <ctime>
#include <string>
#include <vector>

#include "base/status.h"
#include "data/parameter_file.h"

namespace velk {

inline constexpr const char* kRunRecordFileName = "VELKrun.json";

// An input file as the run found it.
struct recorded_file {
  std::string name;
  long long bytes = 0;
  std::string modified;  // UTC, ISO 8601
};

struct run_record {
  std::string program;  // "velk" or "velk-mpi"
  std::string version;
  std::string kernel;   // the CPU kernel the search ran
  std::string path;     // "fast", or "straightforward" for the reference path
  int threads = 1;      // per rank
  int ranks = 1;
  long long top_k = 0;
  search_parameters params;
  std::array<bool, kParameterKeyCount> given{};  // per key, in kParameterKeys' order
  p_value_bounds bounds;
  std::vector<recorded_file> files;  // present ones only
  long individuals = 0, cases = 0, controls = 0, snps = 0, left_out = 0;
  double allowed_sets = -1;  // the sets a focused search allows; -1 when every set is searched
  int strata = 0;  // 0 without a strata file
  time_t start = 0, end = 0;
  double load_seconds = 0, search_seconds = 0, permutation_seconds = 0;
  int exit_status = 0;
};

// The input file `name` as it stands; false when it is not there.
bool record_file(const std::string& name, recorded_file& out);

// The record as JSON text (two-space indent, a final line feed).
std::string run_record_text(const run_record& record);

// Reads the parameters, their defaults and the strata back from a record's text;
// refuses, naming `name`, a text that is no run record.
status parse_run_record(const std::string& text, const char* name, run_record& record);

}  // namespace velk
