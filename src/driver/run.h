// The run sequence: load the study, read the parameters, build the tables, search,
// write the result file. Returns the process's exit status (fatal errors end the
// process from where they are found, through base/fail.h).
#pragma once

#include "base/team.h"
#include "search/dispatch.h"

namespace velk {

inline constexpr const char* kListFileName = "VELKinputfiles.txt";

struct run_options {
  search_path path = search_path::fast;
  search_tuning tuning;
  // Under MPI every rank runs the sequence: rank 0 reads the inputs and hands them to
  // the others, every rank searches, rank 0 prints and writes.
  const team* processes = &single_process();
};

int run(int argc, char** argv, const run_options& options = {});

}  // namespace velk
